#pragma once
// Small blocks kept for reuse instead of going back to the C library's
// allocator: a sample builds and drops thousands of JSON nodes and strings
// of a few sizes, and the allocator's own per-size cache holds only seven
// blocks of each. Blocks up to kLargestCached bytes are grouped in 16-byte
// size classes; a freed block goes onto its class's list and is handed out
// again, never returned. Each block carries a 16-byte header with its
// class, so a block can be freed without its size and from any thread.
#include <cstddef>

namespace allocation_cache {

constexpr size_t kLargestCached = 512;

// The block for `size` bytes, 16-byte aligned; nullptr when the C library
// has no memory left.
void* Allocate(size_t size);
// Takes back a block of Allocate (nullptr is ignored).
void Release(void* block);

}  // namespace allocation_cache
