// The vectors kept for reuse: a list per element type behind a lock, the
// smallest fitting vector handed out first.
#include "tessaline/recycled_vectors.hpp"

#include <mutex>
#include <utility>

#if !defined(_WIN32)
#include <pthread.h>
#endif

#include "large_buffer.hpp"

namespace tessaline {
namespace {

// A list of kept items (vectors, or scratch blocks of ended threads) and the
// bytes they hold.
template <typename Item>
struct Kept {
    std::mutex lock;
    std::vector<Item> items;
    std::size_t bytes = 0;
};

template <typename Item>
Kept<Item>& kept();

#if !defined(_WIN32)
// A process forked while another thread holds a list's lock would leave the
// child's copy locked forever, with no thread to unlock it: the lock is
// taken before the fork and let go on both sides, so the child's list is
// whole and free.
template <typename Item>
void lock_for_fork() {
    kept<Item>().lock.lock();
}
template <typename Item>
void unlock_after_fork() {
    kept<Item>().lock.unlock();
}
#endif

template <typename Item>
Kept<Item>* new_kept() {
    auto* pool = new Kept<Item>();
#if !defined(_WIN32)
    pthread_atfork(lock_for_fork<Item>, unlock_after_fork<Item>, unlock_after_fork<Item>);
#endif
    return pool;
}

// Never destroyed: arrays freed (and threads ended) while the process exits
// may still give their room back after static destructors would have run.
template <typename Item>
Kept<Item>& kept() {
    static Kept<Item>* const pool = new_kept<Item>();
    return *pool;
}

// A kept vector of at least n and at most 2n elements moved into v, as it
// was; false when none is kept.
template <typename T>
bool take_kept(std::vector<T>& v, std::size_t n) {
    if (n * sizeof(T) < kRecycledMinBytes) return false;
    Kept<std::vector<T>>& pool = kept<std::vector<T>>();
    std::lock_guard<std::mutex> hold(pool.lock);
    auto fit = pool.items.end();
    for (auto it = pool.items.begin(); it != pool.items.end(); ++it) {
        const std::size_t room = it->capacity();
        if (room >= n && room / 2 <= n && (fit == pool.items.end() || room < fit->capacity()))
            fit = it;
    }
    if (fit == pool.items.end()) return false;
    pool.bytes -= fit->capacity() * sizeof(T);
    v = std::move(*fit);
    pool.items.erase(fit);
    return true;
}

template <typename T>
void reserve_from(std::vector<T>& v, std::size_t n) {
    if (take_kept(v, n)) {
        v.clear();
        return;
    }
    reserve_large(v, n);
}

template <typename T>
void size_from(std::vector<T>& v, std::size_t n) {
    if (!take_kept(v, n)) reserve_large(v, n);
    v.resize(n);
}

// Keeps v's room; left in v (for the caller to free) when too small or
// when the pool is full.
template <typename T>
void give_back(std::vector<T>&& v) {
    const std::size_t bytes = v.capacity() * sizeof(T);
    if (bytes < kRecycledMinBytes) return;
    Kept<std::vector<T>>& pool = kept<std::vector<T>>();
    std::lock_guard<std::mutex> hold(pool.lock);
    if (pool.bytes + bytes > kRecycledBytes) return;
    pool.bytes += bytes;
    pool.items.push_back(std::move(v));
}

template <typename T>
std::size_t kept_bytes() {
    Kept<std::vector<T>>& pool = kept<std::vector<T>>();
    std::lock_guard<std::mutex> hold(pool.lock);
    return pool.bytes;
}

// Both lists made when the library is loaded: a child forked while another
// thread was first making one would wait forever on its static.
[[maybe_unused]] const bool lists_made =
    (kept<std::vector<double>>(), kept<std::vector<int64_t>>(), kept<ScratchBlock>(), true);

}  // namespace

void reserve_recycled(std::vector<double>& v, std::size_t n) {
    reserve_from(v, n);
}
void reserve_recycled(std::vector<int64_t>& v, std::size_t n) {
    reserve_from(v, n);
}
void size_recycled(std::vector<double>& v, std::size_t n) {
    size_from(v, n);
}
void size_recycled(std::vector<int64_t>& v, std::size_t n) {
    size_from(v, n);
}
void recycle(std::vector<double>&& v) {
    give_back(std::move(v));
}
void recycle(std::vector<int64_t>&& v) {
    give_back(std::move(v));
}

std::size_t recycled_bytes() {
    return kept_bytes<double>() + kept_bytes<int64_t>();
}

bool take_shared_scratch(std::size_t bytes, ScratchBlock& block) {
    Kept<ScratchBlock>& shared = kept<ScratchBlock>();
    std::lock_guard<std::mutex> hold(shared.lock);
    if (!take_smallest_block(shared.items, bytes, block)) return false;
    shared.bytes -= block.bytes;
    return true;
}

void share_scratch(const std::vector<ScratchBlock>& blocks) {
    Kept<ScratchBlock>& shared = kept<ScratchBlock>();
    std::vector<unsigned char*> freed;
    {
        std::lock_guard<std::mutex> hold(shared.lock);
        for (const ScratchBlock& block : blocks) {
            if (block.bytes >= kSharedScratchMinBytes &&
                shared.bytes + block.bytes <= kSharedScratchBytes) {
                shared.items.push_back(block);
                shared.bytes += block.bytes;
            } else {
                freed.push_back(block.data);
            }
        }
    }
    for (unsigned char* data : freed) delete[] data;
}

}  // namespace tessaline
