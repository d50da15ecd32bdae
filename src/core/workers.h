// A pool of worker threads that run one loop at a time over an index range,
// the calling thread taking part. What each index computes must not depend
// on which thread runs it or when: the pool spreads the work, it never
// decides a result.
#pragma once

struct worker_pool;

// A pool of `threads` threads in all, the caller counted (so threads - 1
// are started). Each started thread first runs thread_start (may be null).
// Fewer than two threads make no pool: null, and worker_pool_run runs
// everything on the caller.
worker_pool* worker_pool_create(int threads, void (*thread_start)());
// Stops and joins the threads. Null is ignored.
void worker_pool_destroy(worker_pool* pool);
// The pool's thread count, the caller counted (1 for null).
int worker_pool_threads(const worker_pool* pool);

// Calls fn(context, i) once for every i in [0, count), spread over the
// pool's threads and the caller, and returns when all have returned.
void worker_pool_run(worker_pool* pool, int count, void (*fn)(void* context, int index), void* context);
