// Per-thread bookkeeping shared by the stand-in's resource kinds: live counts and injected faults.
// It sits on every pen and brush's path, so it is plain data the compiler reaches directly.
#pragma once

#include <array>
#include <cstddef>

#include "standin/resources.h"

namespace standin::detail {

constexpr auto kResourceKinds = static_cast<std::size_t>(Resource::Count);

struct ThreadState {
    std::array<int, kResourceKinds> live;
    // 0: no failure pending; n: the n-th next request fails.
    std::array<int, kResourceKinds> failCountdown;
    int pendingFailures;  // how many countdowns are running
};

extern constinit thread_local ThreadState threadState;

constexpr std::size_t Index(Resource kind) { return static_cast<std::size_t>(kind); }

bool CountDownFailure(Resource kind);

// True when an injected failure is due for this request; consumes the countdown.
inline bool ShouldFail(Resource kind) {
    return threadState.pendingFailures != 0 && CountDownFailure(kind);
}
inline void Created(Resource kind) { ++threadState.live[Index(kind)]; }
inline void Released(Resource kind) { --threadState.live[Index(kind)]; }

}  // namespace standin::detail
