// GlobalAlloc and friends. A fixed block's handle is its memory address; a moveable block's handle
// is its header, and GlobalLock hands out the memory behind it. The header sits just before the
// memory in one allocation, so GlobalHandle can find it from either.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

#include "thread_state.h"

namespace {

struct alignas(16) GlobalBlock {
    UINT flags;
    SIZE_T size;
    int locks;
};

std::mutex blocksMutex;
std::unordered_set<const GlobalBlock*> liveBlocks;

std::byte* Memory(GlobalBlock* block) { return reinterpret_cast<std::byte*>(block + 1); }

bool IsLive(const GlobalBlock* block) {
    std::lock_guard lock(blocksMutex);
    return liveBlocks.contains(block);
}

bool IsFixed(const GlobalBlock* block) { return (block->flags & GMEM_MOVEABLE) == 0; }

// The block behind a handle of either kind, or null for anything else.
GlobalBlock* BlockFromHandle(HGLOBAL handle) {
    if (handle == nullptr) return nullptr;
    auto* asHeader = static_cast<GlobalBlock*>(handle);
    if (IsLive(asHeader) && !IsFixed(asHeader)) return asHeader;
    auto* asMemory = reinterpret_cast<GlobalBlock*>(static_cast<std::byte*>(handle)) - 1;
    if (IsLive(asMemory) && IsFixed(asMemory)) return asMemory;
    return nullptr;
}

HGLOBAL HandleOf(GlobalBlock* block) {
    return IsFixed(block) ? static_cast<HGLOBAL>(Memory(block)) : static_cast<HGLOBAL>(block);
}

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
    using standin::Resource;
    if (standin::detail::ShouldFail(Resource::GlobalMemory)) return nullptr;
    if (bytes > SIZE_MAX - sizeof(GlobalBlock)) return nullptr;
    void* raw = (flags & GMEM_ZEROINIT) ? std::calloc(1, sizeof(GlobalBlock) + bytes)
                                        : std::malloc(sizeof(GlobalBlock) + bytes);
    if (raw == nullptr) return nullptr;
    auto* block = new (raw) GlobalBlock{flags, bytes, 0};
    {
        std::lock_guard lock(blocksMutex);
        liveBlocks.insert(block);
    }
    standin::detail::Created(Resource::GlobalMemory);
    return HandleOf(block);
}

LPVOID GlobalLock(HGLOBAL memory) {
    GlobalBlock* block = BlockFromHandle(memory);
    if (block == nullptr) return nullptr;
    if (standin::detail::ShouldFail(standin::Resource::GlobalLock)) return nullptr;
    if (!IsFixed(block)) ++block->locks;
    return Memory(block);
}

HGLOBAL GlobalHandle(const void* pointer) {
    if (pointer == nullptr) return nullptr;
    auto* block = reinterpret_cast<GlobalBlock*>(const_cast<void*>(pointer)) - 1;
    return IsLive(block) ? HandleOf(block) : nullptr;
}

BOOL GlobalUnlock(HGLOBAL memory) {
    GlobalBlock* block = BlockFromHandle(memory);
    if (block == nullptr || IsFixed(block) || block->locks == 0) return FALSE;
    return --block->locks > 0;
}

HGLOBAL GlobalFree(HGLOBAL memory) {
    GlobalBlock* block = BlockFromHandle(memory);
    if (block == nullptr) return memory;  // failure: the handle comes back
    {
        std::lock_guard lock(blocksMutex);
        liveBlocks.erase(block);
    }
    std::free(block);
    standin::detail::Released(standin::Resource::GlobalMemory);
    return nullptr;
}
