// Memory for a run's large working arrays: the shape list, its index by band, the band buffers.
#pragma once

#include <cstddef>
#include <limits>
#include <new>
#include <utility>
#include <vector>

// At least `bytes`, or std::bad_alloc; freed with FreeRunMemory. A large block is asked for in
// huge pages where the system has them: on a virtual machine a page fault can cost ten
// microseconds, and a run's lists on 12 megapixels took thousands.
void* AllocateRunMemory(std::size_t bytes);
void FreeRunMemory(void* memory) noexcept;

// Leaves the elements of a vector it allocates unset: an array that is filled at once on every
// thread should not first be cleared on one.
template <typename T>
struct RunAllocator {
    using value_type = T;

    RunAllocator() = default;
    template <typename U>
    RunAllocator(const RunAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
        return static_cast<T*>(AllocateRunMemory(count * sizeof(T)));
    }
    void deallocate(T* memory, std::size_t) noexcept { FreeRunMemory(memory); }

    template <typename U>
    void construct(U* place) noexcept {
        ::new (static_cast<void*>(place)) U;
    }
    template <typename U, typename... Args>
    void construct(U* place, Args&&... args) {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }

    friend bool operator==(const RunAllocator&, const RunAllocator&) { return true; }
};

template <typename T>
using RunArray = std::vector<T, RunAllocator<T>>;
