// The size-class block cache behind operator new in the self-contained build.
#include "allocation_cache.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>

namespace {

bool Aligned(void* block) { return reinterpret_cast<uintptr_t>(block) % 16 == 0; }

TEST(AllocationCache, BlocksOfAClassAreReusedAndOthersAreNot) {
    for (size_t size : {size_t{1}, size_t{16}, size_t{17}, allocation_cache::kLargestCached,
                        allocation_cache::kLargestCached + 1, size_t{100000}}) {
        void* block = allocation_cache::Allocate(size);
        ASSERT_NE(block, nullptr) << size;
        EXPECT_TRUE(Aligned(block)) << size;
        std::memset(block, 0xA5, size);  // the whole size is the caller's
        allocation_cache::Release(block);
    }
    // 17 to 32 bytes are one class: the block freed last comes back first.
    void* first = allocation_cache::Allocate(20);
    void* second = allocation_cache::Allocate(30);
    allocation_cache::Release(first);
    allocation_cache::Release(second);
    EXPECT_EQ(allocation_cache::Allocate(32), second);
    EXPECT_EQ(allocation_cache::Allocate(17), first);
    // A freed 32-byte block never serves a 33-byte request.
    allocation_cache::Release(first);
    void* larger = allocation_cache::Allocate(33);
    EXPECT_NE(larger, first);
    allocation_cache::Release(larger);
    allocation_cache::Release(second);
    allocation_cache::Release(nullptr);
}

TEST(AllocationCache, ABlockMayBeFreedByAnotherThread) {
    void* made = nullptr;
    std::thread([&] { made = allocation_cache::Allocate(64); }).join();
    ASSERT_NE(made, nullptr);
    allocation_cache::Release(made);
    EXPECT_EQ(allocation_cache::Allocate(60), made);
    allocation_cache::Release(made);
}

}  // namespace
