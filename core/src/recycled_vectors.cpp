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

template <typename T>
struct Kept {
    std::mutex lock;
    std::vector<std::vector<T>> vectors;
    std::size_t bytes = 0;
};

template <typename T>
Kept<T>& kept();

#if !defined(_WIN32)
// A process forked while another thread holds a list's lock would leave the
// child's copy locked forever, with no thread to unlock it: the lock is
// taken before the fork and let go on both sides, so the child's list is
// whole and free.
template <typename T>
void lock_for_fork() {
    kept<T>().lock.lock();
}
template <typename T>
void unlock_after_fork() {
    kept<T>().lock.unlock();
}
#endif

template <typename T>
Kept<T>* new_kept() {
    auto* pool = new Kept<T>();
#if !defined(_WIN32)
    pthread_atfork(lock_for_fork<T>, unlock_after_fork<T>, unlock_after_fork<T>);
#endif
    return pool;
}

// Never destroyed: arrays freed while the process exits may still give
// their vectors back after static destructors would have run.
template <typename T>
Kept<T>& kept() {
    static Kept<T>* const pool = new_kept<T>();
    return *pool;
}

template <typename T>
void reserve_from(std::vector<T>& v, std::size_t n) {
    if (n * sizeof(T) >= kRecycledMinBytes) {
        Kept<T>& pool = kept<T>();
        std::lock_guard<std::mutex> hold(pool.lock);
        auto fit = pool.vectors.end();
        for (auto it = pool.vectors.begin(); it != pool.vectors.end(); ++it) {
            const std::size_t room = it->capacity();
            if (room >= n && room / 2 <= n && (fit == pool.vectors.end() || room < fit->capacity()))
                fit = it;
        }
        if (fit != pool.vectors.end()) {
            pool.bytes -= fit->capacity() * sizeof(T);
            v = std::move(*fit);
            pool.vectors.erase(fit);
            v.clear();
            return;
        }
    }
    reserve_large(v, n);
}

// Keeps v's room; left in v (for the caller to free) when too small or
// when the pool is full.
template <typename T>
void give_back(std::vector<T>&& v) {
    const std::size_t bytes = v.capacity() * sizeof(T);
    if (bytes < kRecycledMinBytes) return;
    Kept<T>& pool = kept<T>();
    std::lock_guard<std::mutex> hold(pool.lock);
    if (pool.bytes + bytes > kRecycledBytes) return;
    pool.bytes += bytes;
    pool.vectors.push_back(std::move(v));
}

template <typename T>
std::size_t kept_bytes() {
    Kept<T>& pool = kept<T>();
    std::lock_guard<std::mutex> hold(pool.lock);
    return pool.bytes;
}

// The blocks of ended threads' scratch pools, behind a lock taken across a
// fork as the lists' are.
struct SharedScratch {
    std::mutex lock;
    std::vector<ScratchBlock> blocks;
    std::size_t bytes = 0;
};

SharedScratch& shared_scratch();

#if !defined(_WIN32)
void lock_scratch_for_fork() {
    shared_scratch().lock.lock();
}
void unlock_scratch_after_fork() {
    shared_scratch().lock.unlock();
}
#endif

SharedScratch* new_shared_scratch() {
    auto* shared = new SharedScratch();
#if !defined(_WIN32)
    pthread_atfork(lock_scratch_for_fork, unlock_scratch_after_fork, unlock_scratch_after_fork);
#endif
    return shared;
}

// Never destroyed: threads may still end while the process exits.
SharedScratch& shared_scratch() {
    static SharedScratch* const shared = new_shared_scratch();
    return *shared;
}

// Both lists made when the library is loaded: a child forked while another
// thread was first making one would wait forever on its static.
[[maybe_unused]] const bool lists_made = (kept<double>(), kept<int64_t>(), shared_scratch(), true);

}  // namespace

void reserve_recycled(std::vector<double>& v, std::size_t n) {
    reserve_from(v, n);
}
void reserve_recycled(std::vector<int64_t>& v, std::size_t n) {
    reserve_from(v, n);
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
    SharedScratch& shared = shared_scratch();
    std::lock_guard<std::mutex> hold(shared.lock);
    auto fit = shared.blocks.end();
    for (auto it = shared.blocks.begin(); it != shared.blocks.end(); ++it) {
        if (it->bytes >= bytes && (fit == shared.blocks.end() || it->bytes < fit->bytes)) fit = it;
    }
    if (fit == shared.blocks.end()) return false;
    block = *fit;
    shared.bytes -= fit->bytes;
    shared.blocks.erase(fit);
    return true;
}

void share_scratch(const std::vector<ScratchBlock>& blocks) {
    SharedScratch& shared = shared_scratch();
    std::vector<unsigned char*> freed;
    {
        std::lock_guard<std::mutex> hold(shared.lock);
        for (const ScratchBlock& block : blocks) {
            if (block.bytes >= kSharedScratchMinBytes &&
                shared.bytes + block.bytes <= kSharedScratchBytes) {
                shared.blocks.push_back(block);
                shared.bytes += block.bytes;
            } else {
                freed.push_back(block.data);
            }
        }
    }
    for (unsigned char* data : freed) delete[] data;
}

}  // namespace tessaline
