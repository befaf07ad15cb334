#include "render/run_memory.h"

#include <algorithm>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

void* AllocateRunMemory(std::size_t bytes) {
#if defined(__linux__)
    constexpr std::size_t kHuge = std::size_t{2} << 20;
    if (bytes >= kHuge) {
        const std::size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
        if (rounded < bytes) throw std::bad_alloc();
        void* memory = std::aligned_alloc(kHuge, rounded);
        if (memory == nullptr) throw std::bad_alloc();
        madvise(memory, rounded, MADV_HUGEPAGE);  // a hint: without huge pages, small ones
        return memory;
    }
#endif
    void* memory = std::malloc(std::max<std::size_t>(bytes, 1));
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}

void FreeRunMemory(void* memory) noexcept { std::free(memory); }
