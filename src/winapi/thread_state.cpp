#include "thread_state.h"

#include <array>

namespace standin {
namespace {

constexpr auto kKinds = static_cast<std::size_t>(Resource::Count);

struct ThreadState {
    std::array<int, kKinds> live{};
    // 0: no failure pending; n: the n-th next request fails.
    std::array<int, kKinds> failCountdown{};
};

ThreadState& State() {
    thread_local ThreadState state;
    return state;
}

std::size_t Index(Resource kind) { return static_cast<std::size_t>(kind); }

}  // namespace

int LiveObjects(Resource kind) { return State().live[Index(kind)]; }

int LiveObjects() {
    int total = 0;
    for (int count : State().live) total += count;
    return total;
}

void FailNth(Resource kind, int n) { State().failCountdown[Index(kind)] = n > 0 ? n : 0; }

void ClearFailures() { State().failCountdown.fill(0); }

namespace detail {

bool ShouldFail(Resource kind) {
    int& countdown = State().failCountdown[Index(kind)];
    if (countdown == 0) return false;
    return --countdown == 0;
}

void Created(Resource kind) { ++State().live[Index(kind)]; }
void Released(Resource kind) { --State().live[Index(kind)]; }

}  // namespace detail
}  // namespace standin
