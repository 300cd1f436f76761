// Size-class cache of small blocks; in the self-contained build it serves
// every C++ allocation (operator new and delete).
#include "allocation_cache.h"

#include <cstdlib>
#include <new>

namespace allocation_cache {
namespace {

constexpr size_t kHeader = 16;  // keeps the block 16-byte aligned
constexpr size_t kClasses = kLargestCached / 16 + 1;

struct FreeBlock {
    FreeBlock* next;
};

// One set of lists a thread: no locks. A block freed by another thread than
// the one that made it simply joins the freeing thread's list.
thread_local FreeBlock* freeLists[kClasses];

}  // namespace

void* Allocate(size_t size) {
    const size_t sizeClass = size <= kLargestCached ? (size + 15) / 16 : 0;
    unsigned char* base = nullptr;
    if (sizeClass != 0 && freeLists[sizeClass] != nullptr) {
        FreeBlock* block = freeLists[sizeClass];
        freeLists[sizeClass] = block->next;
        base = reinterpret_cast<unsigned char*>(block) - kHeader;
    } else {
        const size_t bytes = sizeClass != 0 ? sizeClass * 16 : size;
        if (bytes > static_cast<size_t>(-1) - kHeader) return nullptr;
        base = static_cast<unsigned char*>(std::malloc(bytes + kHeader));
        if (base == nullptr) return nullptr;
        *reinterpret_cast<size_t*>(base) = sizeClass;
    }
    return base + kHeader;
}

void Release(void* block) {
    if (block == nullptr) return;
    unsigned char* base = static_cast<unsigned char*>(block) - kHeader;
    const size_t sizeClass = *reinterpret_cast<size_t*>(base);
    if (sizeClass == 0) {
        std::free(base);
        return;
    }
    FreeBlock* freed = static_cast<FreeBlock*>(block);
    freed->next = freeLists[sizeClass];
    freeLists[sizeClass] = freed;
}

}  // namespace allocation_cache

#ifdef QUELLIX_STATIC
// The other forms of new and delete (arrays, sized, nothrow) forward to
// these two in the C++ runtime.
void* operator new(size_t size) {
    for (;;) {
        if (void* block = allocation_cache::Allocate(size == 0 ? 1 : size)) return block;
        std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) throw std::bad_alloc();
        handler();
    }
}

void operator delete(void* block) noexcept { allocation_cache::Release(block); }
void operator delete(void* block, size_t) noexcept { allocation_cache::Release(block); }
#endif
