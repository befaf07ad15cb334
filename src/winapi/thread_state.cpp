#include "thread_state.h"

namespace standin {
namespace detail {

constinit thread_local ThreadState threadState{};

bool CountDownFailure(Resource kind) {
    int& countdown = threadState.failCountdown[Index(kind)];
    if (countdown == 0) return false;
    if (--countdown != 0) return false;
    --threadState.pendingFailures;
    return true;
}

}  // namespace detail

using detail::Index;
using detail::threadState;

int LiveObjects(Resource kind) { return threadState.live[Index(kind)]; }

int LiveObjects() {
    int total = 0;
    for (int count : threadState.live) total += count;
    return total;
}

void FailNth(Resource kind, int n) {
    int& countdown = threadState.failCountdown[Index(kind)];
    threadState.pendingFailures -= countdown != 0;
    countdown = n > 0 ? n : 0;
    threadState.pendingFailures += countdown != 0;
}

bool FailurePending(Resource kind) { return threadState.failCountdown[Index(kind)] > 0; }

void ClearFailures() {
    threadState.failCountdown.fill(0);
    threadState.pendingFailures = 0;
}

}  // namespace standin
