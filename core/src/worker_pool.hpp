// The process's worker threads, started once and kept: a call that shares
// its work among threads would otherwise start and join threads each time,
// and each new thread starts with none of the scratch room its last columns
// left behind (see large_buffer.hpp), paying a page fault per page again.
//
// The calling thread always works on its own task, and a worker only helps
// with a task whose caller is still at it, so a task finishes whatever the
// workers do: callers on several threads at once, or a task that shares
// work again from inside, never wait on a worker that waits on them.
#ifndef TESSALINE_WORKER_POOL_HPP
#define TESSALINE_WORKER_POOL_HPP

#include <cstddef>

namespace tessaline {

// Runs `work` on the calling thread and on up to `helpers` idle workers at
// once, and returns when every one of them has returned from it: `work`
// must share what is to be done among however many threads run it (each
// taking the next part not taken), and must not throw. Workers are started
// as calls first ask for them, up to the processors less one, and kept; a
// process forked from one that had them starts its own.
void run_shared(void (*work)(void*), void* context, std::size_t helpers);

// The workers started in this process so far (for tests).
std::size_t pool_workers();

}  // namespace tessaline

#endif  // TESSALINE_WORKER_POOL_HPP
