#include "interrupts.h"

#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <stdexcept>

namespace {

// As many as --jobs can write at once.
constexpr int kSlots = 1024;

struct Slot {
    std::atomic<bool> taken{false};  // claimed by a writer
    std::atomic<bool> live{false};   // path is complete and may be removed
    char path[PATH_MAX] = {};
};
// Constant-initialised, so it stays in untouched zero pages until a file is registered: set up at
// start it cost every run a thousand page faults.
constinit Slot slots[kSlots];
static_assert(std::atomic<bool>::is_always_lock_free, "the handler reads these flags");

void OnInterrupt(int signal) {
    for (Slot& slot : slots) {
        if (slot.live.load()) unlink(slot.path);  // unlink is async-signal-safe
    }
    // The default action ends the process by this signal, as if no handler had been there.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    // Blocked while its handler runs: let it through, so it ends the process here and now.
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
    _exit(128 + signal);  // only if the signal was blocked somehow
}

}  // namespace

void RemoveTemporariesOnInterrupt() {
    struct sigaction action {};
    action.sa_handler = &OnInterrupt;
    sigemptyset(&action.sa_mask);
    // One signal handled at a time: a second Ctrl-C must not cut the cleanup short.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, signal);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        sigaction(signal, nullptr, &old);
        // A signal the parent ignores (nohup, a background job's SIGINT) stays ignored.
        if (old.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
    }
}

TemporaryFileGuard::TemporaryFileGuard(const std::string& path) : slot_(-1) {
    if (path.size() >= PATH_MAX) throw std::length_error("path too long");
    for (int i = 0; i < kSlots; ++i) {
        bool expected = false;
        if (slots[i].taken.compare_exchange_strong(expected, true)) {
            std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
            slots[i].live.store(true);
            slot_ = i;
            return;
        }
    }
    throw std::length_error("too many files open for writing");
}

void TemporaryFileGuard::Release() {
    if (slot_ < 0) return;
    slots[slot_].live.store(false);
    slots[slot_].taken.store(false);
    slot_ = -1;
}
