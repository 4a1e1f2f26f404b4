// Working buffers of millions of elements. Their cost is dominated not by the
// work done in them but by the first touch of every fresh page, which the
// kernel must fault in and zero; backed by 2 MiB pages (as NumPy backs its own
// large arrays) a buffer takes one fault per 2 MiB instead of one per 4 KiB.
#ifndef TESSALINE_LARGE_BUFFER_HPP
#define TESSALINE_LARGE_BUFFER_HPP

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace tessaline {

// Asks for huge pages over the whole 2 MiB pages inside [data, data + bytes).
// Only a hint: where the system has none to give, nothing changes.
inline void advise_huge_pages(const void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr uintptr_t kHuge = uintptr_t{2} << 20;
    if (bytes < 2 * kHuge) return;
    const uintptr_t start = reinterpret_cast<uintptr_t>(data);
    const uintptr_t begin = (start + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t end = (start + bytes) & ~(kHuge - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

// Room for n elements in v (empty), advised before any page is touched.
template <typename T>
void reserve_large(std::vector<T>& v, std::size_t n) {
    v.reserve(n);
    advise_huge_pages(v.data(), n * sizeof(T));
}

// A vector of n value-initialised elements on advised pages.
template <typename T>
std::vector<T> large_vector(std::size_t n) {
    std::vector<T> v;
    reserve_large(v, n);
    v.resize(n);
    return v;
}

// Scratch blocks go back to the thread that used them, which hands them out
// again: the columns of a table need the same room one after the other (the
// two buffers of a sort, the states of a search over pre-bins), and a
// fresh block costs a page fault and a zeroed page on first touch of every
// page, often more than the work done in it. A thread keeps its
// kKeptScratchBlocks largest blocks (up to kKeptScratchBytes each), and
// frees them when it ends.
constexpr std::size_t kKeptScratchBlocks = 4;
constexpr std::size_t kKeptScratchBytes = std::size_t{1} << 28;

struct ScratchBlock {
    unsigned char* data;
    std::size_t bytes;
};

// The blocks of threads that have ended, kept for the threads that come
// after them: a call that counts columns on threads of its own would
// otherwise free their blocks with them, and the next call's threads would
// fault in fresh pages again. Blocks of at least kSharedScratchMinBytes, and
// kSharedScratchBytes in all (the rest are freed).
constexpr std::size_t kSharedScratchMinBytes = std::size_t{64} << 10;
constexpr std::size_t kSharedScratchBytes = std::size_t{64} << 20;

// Takes out of `blocks` the smallest of at least `bytes` into `block`;
// false when none is that large.
inline bool take_smallest_block(std::vector<ScratchBlock>& blocks, std::size_t bytes,
                                ScratchBlock& block) {
    auto fit = blocks.end();
    for (auto it = blocks.begin(); it != blocks.end(); ++it) {
        if (it->bytes >= bytes && (fit == blocks.end() || it->bytes < fit->bytes)) fit = it;
    }
    if (fit == blocks.end()) return false;
    block = *fit;
    blocks.erase(fit);
    return true;
}

// Takes the smallest shared block of at least `bytes` into `block`; false
// when none is that large.
bool take_shared_scratch(std::size_t bytes, ScratchBlock& block);
// Keeps what room allows of an ending thread's blocks, and frees the others.
void share_scratch(const std::vector<ScratchBlock>& blocks);

struct ScratchPool {
    std::vector<ScratchBlock> kept;
    ScratchPool() = default;
    ScratchPool(const ScratchPool&) = delete;
    ScratchPool& operator=(const ScratchPool&) = delete;
    ~ScratchPool() { share_scratch(kept); }
};

inline ScratchPool& scratch_pool() {
    thread_local ScratchPool pool;
    return pool;
}

// Returns a block to this thread's pool, or frees it when the pool keeps
// larger ones (or it is too large to keep).
struct ScratchReturn {
    std::size_t bytes = 0;
    void operator()(void* data) const {
        auto* block = static_cast<unsigned char*>(data);
        std::vector<ScratchBlock>& kept = scratch_pool().kept;
        if (bytes <= kKeptScratchBytes) {
            kept.push_back(ScratchBlock{block, bytes});
            if (kept.size() <= kKeptScratchBlocks) return;
            // The smallest block goes.
            auto smallest = std::min_element(
                kept.begin(), kept.end(),
                [](const ScratchBlock& a, const ScratchBlock& b) { return a.bytes < b.bytes; });
            block = smallest->data;
            kept.erase(smallest);
        }
        delete[] block;
    }
};

template <typename T>
using Scratch = std::unique_ptr<T[], ScratchReturn>;

// Room for n elements, left uninitialised: for buffers whose every element is
// written before it is read, which need no zeroing. The smallest kept block
// that is large enough, or a fresh one on advised pages.
template <typename T>
Scratch<T> large_scratch(std::size_t n) {
    static_assert(std::is_trivially_destructible<T>::value, "scratch holds plain values");
    const std::size_t bytes = n * sizeof(T);
    ScratchBlock block{nullptr, 0};
    if (take_smallest_block(scratch_pool().kept, bytes, block) ||
        (bytes >= kSharedScratchMinBytes && take_shared_scratch(bytes, block))) {
        return Scratch<T>(reinterpret_cast<T*>(block.data), ScratchReturn{block.bytes});
    }
    // Aligned for any element type, as new of the element type itself is.
    auto* data = new unsigned char[bytes == 0 ? 1 : bytes];
    advise_huge_pages(data, bytes);
    return Scratch<T>(reinterpret_cast<T*>(data), ScratchReturn{bytes});
}

}  // namespace tessaline

#endif  // TESSALINE_LARGE_BUFFER_HPP
