// The workers wait on one queue of offered tasks; a task stays offered until
// as many workers as it welcomes have taken it, or its caller has finished
// its share, and its caller then waits only for the workers still at it.
#include "worker_pool.hpp"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <pthread.h>
#endif
#if defined(__linux__)
#include <sched.h>
#endif

namespace tessaline {
namespace {

struct Task {
    void (*work)(void*);
    void* context;
    std::size_t welcome;     // workers that may still take it
    std::size_t active = 0;  // workers at it now
};

struct Pool {
    std::mutex lock;
    std::condition_variable wake;  // a task offered, or the workers told to stop
    std::condition_variable left;  // a worker done with a task
    std::deque<Task*> offered;
    std::vector<std::thread> workers;
    bool stopping = false, failed = false;
};

// Replaced in a forked child, whose copy of the pool has no threads behind
// it; never destroyed, so that a thread calling in while the process exits
// finds it still there.
//
// Made when the library is loaded, like every other state a fork must find
// whole: a child forked while another thread was first making a function's
// static would wait forever on that static.
Pool* the_pool = new Pool;

Pool*& current_pool() {
    return the_pool;
}

void serve(Pool* pool) {
    std::unique_lock<std::mutex> hold(pool->lock);
    for (;;) {
        pool->wake.wait(hold, [pool] { return pool->stopping || !pool->offered.empty(); });
        if (pool->stopping) return;
        Task* task = pool->offered.front();
        if (--task->welcome == 0) pool->offered.pop_front();
        ++task->active;
        hold.unlock();
        task->work(task->context);
        hold.lock();
        // The caller may return, and its task go, once this is seen.
        if (--task->active == 0) pool->left.notify_all();
    }
}

// At exit the workers finish the task they are at and end, and are joined;
// later calls work alone.
void stop_workers() {
    Pool* pool = current_pool();
    std::vector<std::thread> workers;
    {
        const std::lock_guard<std::mutex> hold(pool->lock);
        pool->stopping = true;
        workers.swap(pool->workers);
    }
    pool->wake.notify_all();
    for (std::thread& worker : workers) worker.join();
}

#if !defined(_WIN32)
// A fork copies the pool's memory but none of its workers: the child gets a
// pool of its own, started at its first call. The lock is held across the
// fork so that the child's copy of the queue is never half changed, and the
// old pool is left as it is (destroying threads that are not there is not
// allowed).
void before_fork() {
    current_pool()->lock.lock();
}
void after_fork_in_parent() {
    current_pool()->lock.unlock();
}
void after_fork_in_child() {
    current_pool() = new Pool;
}
#endif

// The processors this process may run on (those its affinity allows, where
// the system tells), read once.
std::size_t read_processors() {
#if defined(__linux__)
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof(allowed), &allowed) == 0) {
        return static_cast<std::size_t>(std::max(1, CPU_COUNT(&allowed)));
    }
#endif
    return static_cast<std::size_t>(std::max(1U, std::thread::hardware_concurrency()));
}

const std::size_t processors = read_processors();

#if !defined(_WIN32)
[[maybe_unused]] const int fork_handlers =
    pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child);
#endif

// Whether stop_workers is registered to run at exit; read and set under the
// pool's lock, which a fork holds, so a child never sees it half set (and
// inherits the registration with the parent's memory).
bool stops_at_exit = false;

// At least `wanted` workers (at most the processors less one), started now
// where fewer are; called with the pool's lock held.
void start_workers(Pool* pool, std::size_t wanted) {
    if (!stops_at_exit) {
        std::atexit(stop_workers);
        stops_at_exit = true;
    }
    const std::size_t most = std::min(wanted, processors - 1);
    if (pool->stopping || pool->failed || pool->workers.size() >= most) return;
    try {
        while (pool->workers.size() < most) pool->workers.emplace_back(serve, pool);
    } catch (const std::system_error&) {
        // No thread to spare: those started serve, and no more are tried.
        pool->failed = true;
    }
}

}  // namespace

void run_shared(void (*work)(void*), void* context, std::size_t helpers) {
    Pool* pool = helpers > 0 ? current_pool() : nullptr;
    Task task{work, context, 0};
    std::size_t offered = 0;  // read here: workers change task.welcome once it is offered
    if (pool != nullptr) {
        const std::lock_guard<std::mutex> hold(pool->lock);
        start_workers(pool, helpers);
        offered = pool->stopping ? 0 : std::min(helpers, pool->workers.size());
        task.welcome = offered;
        if (offered > 0) pool->offered.push_back(&task);
    }
    if (offered == 0) {
        work(context);
        return;
    }
    if (offered == 1) {
        pool->wake.notify_one();
    } else {
        pool->wake.notify_all();
    }
    work(context);
    std::unique_lock<std::mutex> hold(pool->lock);
    if (task.welcome > 0) {
        pool->offered.erase(std::find(pool->offered.begin(), pool->offered.end(), &task));
    }
    pool->left.wait(hold, [&task] { return task.active == 0; });
}

std::size_t pool_workers() {
    Pool* pool = current_pool();
    const std::lock_guard<std::mutex> hold(pool->lock);
    return pool->workers.size();
}

}  // namespace tessaline
