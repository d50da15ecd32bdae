// Allocation wrappers with optional accounting (KZ_CHECK_ALLOC), and the
// process memory set-up done after each world reset.
#include "files/memory.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <sys/sysinfo.h>

#include "core/messages.h"
#include "platform/log.h"

namespace {

enum { ALLOC_TABLE_MAX = 1 << 20 };
enum check_mode { CHECK_UNDECIDED, CHECK_ON, CHECK_OFF };

struct alloc_record {
    void* pointer;
    int serial;
    size_t size;
};

struct alloc_checker {
    std::atomic<int> mode{CHECK_UNDECIDED};
    std::mutex lock;             // guards everything below while checking
    alloc_record* table = nullptr;  // ALLOC_TABLE_MAX entries, oldest first
    int count = 0;
    unsigned serial = 0;         // never reused
};
alloc_checker g_check;

// Decides on the first call whether checking is on. The table itself is
// taken from the system allocator: it is the accounting, not game data.
bool checking()
{
    int mode = g_check.mode.load(std::memory_order_acquire);
    if (mode != CHECK_UNDECIDED)
        return mode == CHECK_ON;
    std::lock_guard<std::mutex> guard(g_check.lock);
    mode = g_check.mode.load(std::memory_order_relaxed);
    if (mode == CHECK_UNDECIDED) {
        const char* env = getenv("KZ_CHECK_ALLOC");
        mode = env && atoi(env) > 0 ? CHECK_ON : CHECK_OFF;
        if (mode == CHECK_ON && !g_check.table) {
            g_check.table = static_cast<alloc_record*>(malloc(sizeof(alloc_record) * ALLOC_TABLE_MAX));
            if (!g_check.table)
                mode = CHECK_OFF;
        }
        g_check.mode.store(mode, std::memory_order_release);
    }
    return mode == CHECK_ON;
}

// Under the lock, checking on.
void record(void* pointer, size_t size)
{
    if (g_check.count >= ALLOC_TABLE_MAX) {
        fprintf(stderr, "Too many allocations to check!\n");
        g_check.mode.store(CHECK_OFF, std::memory_order_release);
        return;
    }
    g_check.table[g_check.count++] = {pointer, (int)(g_check.serial++ & 0x7fffffffu), size};
}

// Under the lock: the newest entry of pointer, or -1.
int find(void* pointer)
{
    for (int i = g_check.count - 1; i >= 0; i--)
        if (g_check.table[i].pointer == pointer)
            return i;
    return -1;
}

void remove_at(int i)
{
    memmove(&g_check.table[i], &g_check.table[i + 1], sizeof(alloc_record) * (size_t)(g_check.count - i - 1));
    g_check.count--;
}

bool still_on()
{
    return g_check.mode.load(std::memory_order_relaxed) == CHECK_ON;
}

}  // namespace

void* mem_alloc(size_t size)
{
    if (size == 0)
        size = 1;
    void* p = malloc(size);
    if (p && checking()) {
        std::lock_guard<std::mutex> guard(g_check.lock);
        if (still_on())
            record(p, size);
    }
    return p;
}

void* mem_calloc(size_t count, size_t size)
{
    if (count == 0 || size == 0)
        count = size = 1;
    void* p = calloc(count, size);
    if (p && checking()) {
        std::lock_guard<std::mutex> guard(g_check.lock);
        if (still_on())
            record(p, count * size);  // calloc succeeded, so no overflow
    }
    return p;
}

void* mem_realloc(void* pointer, size_t size)
{
    if (!pointer)
        return mem_alloc(size);
    if (size == 0)
        size = 1;
    if (!checking())
        return realloc(pointer, size);
    std::lock_guard<std::mutex> guard(g_check.lock);
    if (!still_on())
        return realloc(pointer, size);
    int i = find(pointer);
    if (i < 0)
        fprintf(stderr, "Allocation not found for %p!\n", pointer);
    void* p = realloc(pointer, size);
    // On failure the old block lives on, so its entry stays.
    if (p) {
        if (i >= 0)
            remove_at(i);
        record(p, size);
    }
    return p;
}

void mem_free(void* pointer)
{
    if (!pointer)
        return;
    if (checking()) {
        std::lock_guard<std::mutex> guard(g_check.lock);
        if (still_on()) {
            int i = find(pointer);
            if (i < 0) {
                fprintf(stderr, "Allocation not found for %p!\n", pointer);
                return;
            }
            // Zeros make a use after free show up as wrong data at once.
            memset(pointer, 0, g_check.table[i].size);
            remove_at(i);
            free(pointer);
            return;
        }
    }
    free(pointer);
}

char* mem_strdup(const char* text)
{
    size_t n = strlen(text) + 1;
    char* copy = static_cast<char*>(mem_alloc(n));
    if (copy)
        memcpy(copy, text, n);
    return copy;
}

void* mem_alloc_or_die(size_t size)
{
    void* p = mem_alloc(size);
    if (!p)
        fatal_out_of_memory();
    return p;
}

void* mem_calloc_or_die(size_t count, size_t size)
{
    void* p = mem_calloc(count, size);
    if (!p)
        fatal_out_of_memory();
    return p;
}

void mem_report()
{
    if (!checking())
        return;
    std::lock_guard<std::mutex> guard(g_check.lock);
    for (int i = 0; i < g_check.count; i++)
        fprintf(stderr, "%p:%d\n", g_check.table[i].pointer, g_check.table[i].serial);
}

void mem_reset_for_tests()
{
    std::lock_guard<std::mutex> guard(g_check.lock);
    g_check.count = 0;
    g_check.serial = 0;
    g_check.mode.store(CHECK_UNDECIDED, std::memory_order_release);
}

bool working_set_range(uint64_t total, uint64_t* minimum, uint64_t* maximum)
{
    const uint64_t mib = 1024 * 1024;
    if (total < 64 * mib)
        return false;
    uint64_t capped = total < 2048 * mib ? total : 2048 * mib;
    *maximum = capped - 32 * mib;
    *minimum = *maximum < 1024 * mib ? *maximum : 1024 * mib;
    return true;
}

void set_working_set()
{
    struct sysinfo info;
    uint64_t total = 0;
    if (sysinfo(&info) == 0)
        total = (uint64_t)info.totalram * (uint64_t)(info.mem_unit ? info.mem_unit : 1);
    uint64_t minimum, maximum;
    if (!working_set_range(total, &minimum, &maximum)) {
        log_printf("Working set left alone - less than 64 MB physical memory\n");
        return;
    }
    log_printf("Setting working set range to %u - %u\n", (unsigned)minimum, (unsigned)maximum);
    // Linux has no working-set request: the range is only reported, and
    // nothing failed.
}
