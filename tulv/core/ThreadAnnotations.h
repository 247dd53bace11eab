#ifndef TULV_CORE_THREADANNOTATIONS_H
#define TULV_CORE_THREADANNOTATIONS_H

// The OpenMP runtime that ships with the system is not built for the thread
// sanitizer, which therefore cannot see that a parallel region starts after
// the code before it and ends before the code after it. In a sanitizer build
// these marks tell it; elsewhere they are empty. A race between two workers
// of one region is still reported.
//
// TULV_PARALLEL_ENTER() opens the body of a parallel region, before anything
// shared is read; TULV_PARALLEL_LEAVE() closes it; TULV_PARALLEL_JOINED()
// follows the region.
#if defined(__SANITIZE_THREAD__)
#include <omp.h>
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
namespace tulv_detail {
// Fixed addresses: the region's own variables are handed to the workers in
// a block the master fills just before the region starts.
inline char sParallelFork;
inline char sParallelJoin;
} // namespace tulv_detail
#define TULV_PARALLEL_ENTER()                                                                                   \
    do {                                                                                                        \
        if (omp_get_thread_num() == 0)                                                                          \
            __tsan_release(&tulv_detail::sParallelFork);                                                        \
        _Pragma("omp barrier") __tsan_acquire(&tulv_detail::sParallelFork);                                     \
    } while (0)
#define TULV_PARALLEL_LEAVE() __tsan_release(&tulv_detail::sParallelJoin)
#define TULV_PARALLEL_JOINED() __tsan_acquire(&tulv_detail::sParallelJoin)
#else
#define TULV_PARALLEL_ENTER() ((void)0)
#define TULV_PARALLEL_LEAVE() ((void)0)
#define TULV_PARALLEL_JOINED() ((void)0)
#endif

#endif
