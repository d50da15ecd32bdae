// The worker pool: threads wait for a loop, take indexes from a shared
// counter until none is left, and the last one out wakes the caller.
#include "core/workers.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

struct worker_pool {
    std::vector<std::thread> threads;
    std::mutex lock;
    std::condition_variable wake;     // a loop began, or the pool stops
    std::condition_variable done;     // every worker left the loop
    long generation = 0;              // loops begun
    bool stopping = false;
    int busy = 0;                     // workers still in the loop
    // The loop in progress.
    void (*fn)(void*, int) = nullptr;
    void* context = nullptr;
    int count = 0;
    std::atomic<int> next{0};
};

namespace {

void take_indexes(worker_pool* p)
{
    for (;;) {
        const int i = p->next.fetch_add(1, std::memory_order_relaxed);
        if (i >= p->count)
            return;
        p->fn(p->context, i);
    }
}

void worker(worker_pool* p, void (*thread_start)())
{
    if (thread_start)
        thread_start();
    long seen = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(p->lock);
            p->wake.wait(guard, [&] { return p->stopping || p->generation != seen; });
            if (p->stopping)
                return;
            seen = p->generation;
        }
        take_indexes(p);
        std::lock_guard<std::mutex> guard(p->lock);
        if (--p->busy == 0)
            p->done.notify_one();
    }
}

}  // namespace

worker_pool* worker_pool_create(int threads, void (*thread_start)())
{
    if (threads < 2)
        return nullptr;
    worker_pool* p = new worker_pool();
    for (int i = 1; i < threads; i++)
        p->threads.emplace_back(worker, p, thread_start);
    return p;
}

void worker_pool_destroy(worker_pool* p)
{
    if (!p)
        return;
    {
        std::lock_guard<std::mutex> guard(p->lock);
        p->stopping = true;
    }
    p->wake.notify_all();
    for (std::thread& t : p->threads)
        t.join();
    delete p;
}

int worker_pool_threads(const worker_pool* p)
{
    return p ? (int)p->threads.size() + 1 : 1;
}

void worker_pool_run(worker_pool* p, int count, void (*fn)(void*, int), void* context)
{
    if (!p || count < 2) {
        for (int i = 0; i < count; i++)
            fn(context, i);
        return;
    }
    {
        std::lock_guard<std::mutex> guard(p->lock);
        p->fn = fn;
        p->context = context;
        p->count = count;
        p->next.store(0, std::memory_order_relaxed);
        p->busy = (int)p->threads.size();
        p->generation++;
    }
    p->wake.notify_all();
    take_indexes(p);
    std::unique_lock<std::mutex> guard(p->lock);
    p->done.wait(guard, [&] { return p->busy == 0; });
}
