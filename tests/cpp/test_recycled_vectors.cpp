// The room of freed counts is handed to the next count it fits, and a count
// made in that room (whatever the earlier counts left in it) is the count made
// in fresh memory.
#include <thread>

#include "large_buffer.hpp"
#include "reference.hpp"
#include "tessaline/recycled_vectors.hpp"

namespace {

using namespace ref;

ValueCounts counted(std::size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> normal;
    Values x(n);
    std::vector<int32_t> y(n);
    for (std::size_t i = 0; i < n; ++i) {
        x[i] = i % 17 == 0 ? kNaN : std::round(normal(rng) * 1e3) / 1e3;
        y[i] = static_cast<int32_t>(rng() % 5 == 0);
    }
    return count_values(x.data(), y.data(), n);
}

void give_back(ValueCounts&& counts) {
    recycle(std::move(counts.value));
    recycle(std::move(counts.c0));
    recycle(std::move(counts.c1));
}

TEST(RecycledVectors, FreedRoomIsReusedAndCountsAsFreshMemory) {
    const std::size_t n = 40000;
    const ValueCounts fresh = counted(n, 2);
    ValueCounts first = counted(n, 1);
    const double* room = first.value.data();
    give_back(std::move(first));
    const ValueCounts again = counted(n, 2);
    EXPECT_EQ(again.value.data(), room);
    EXPECT_EQ(again.value, fresh.value);
    EXPECT_EQ(again.c0, fresh.c0);
    EXPECT_EQ(again.c1, fresh.c1);
}

TEST(RecycledVectors, KeepsNeitherSmallRoomNorMoreThanItsBound) {
    std::vector<double> small;
    small.reserve(kRecycledMinBytes / sizeof(double) - 1);
    const std::size_t before = recycled_bytes();
    recycle(std::move(small));
    EXPECT_EQ(recycled_bytes(), before);
    // Room far larger than asked for is not handed out.
    std::vector<int64_t> large;
    large.reserve(4 * kRecycledMinBytes / sizeof(int64_t));
    const int64_t* held = large.data();
    recycle(std::move(large));
    std::vector<int64_t> asked;
    reserve_recycled(asked, kRecycledMinBytes / sizeof(int64_t));
    EXPECT_NE(asked.data(), held);
    for (int i = 0; i < 64; ++i) {
        std::vector<double> v;
        v.reserve(kRecycledBytes / 16 / sizeof(double));
        recycle(std::move(v));
        EXPECT_LE(recycled_bytes(), 2 * kRecycledBytes);
    }
}

// A thread's scratch blocks outlive it: a later thread (a pool made for the
// next call) is handed the block of one that ended, not fresh pages; blocks
// past the shared bound are freed with their thread.
TEST(SharedScratch, AnEndedThreadsBlockGoesToTheNextThread) {
    // Blocks the threads of earlier tests (and steps) left are freed first.
    const auto free_shared = [] {
        for (ScratchBlock left{nullptr, 0}; take_shared_scratch(0, left);) delete[] left.data;
    };
    free_shared();
    const std::size_t n = kSharedScratchMinBytes;  // doubles: 8 times the least shared size
    const void* freed = nullptr;
    std::thread([&] { freed = large_scratch<double>(n).get(); }).join();
    ScratchBlock kept{nullptr, 0};
    ASSERT_TRUE(take_shared_scratch(n * sizeof(double), kept));
    EXPECT_EQ(kept.data, freed);
    share_scratch({kept});
    const void* taken = nullptr;
    std::thread([&] { taken = large_scratch<double>(n).get(); }).join();
    EXPECT_EQ(taken, freed);
    // Blocks beyond what the shared list holds are not kept.
    const std::size_t too_large = kSharedScratchBytes / sizeof(double) + 1;
    std::thread([&] { freed = large_scratch<double>(too_large).get(); }).join();
    ScratchBlock block{nullptr, 0};
    EXPECT_FALSE(take_shared_scratch(too_large * sizeof(double), block));
    // Nor blocks below the least shared size, 64 KiB; a block of that size is.
    constexpr std::size_t least = std::size_t{64} << 10;
    for (const std::size_t bytes : {least - 1, least}) {
        free_shared();
        std::thread([&] { freed = large_scratch<unsigned char>(bytes).get(); }).join();
        block = {nullptr, 0};
        const bool shared = take_shared_scratch(bytes, block);
        EXPECT_EQ(shared, bytes == least);
        if (shared) {
            EXPECT_EQ(block.data, freed);
            delete[] block.data;
        }
    }
}

}  // namespace
