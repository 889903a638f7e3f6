// What the soak watches of its own process (Linux, glibc): resident memory,
// threads and descriptors from /proc, and the allocator's own count; and
// the allocator settings it runs with.
#ifndef VOICECONTROL_BENCH_SOAK_PROCESS_STATS_H_
#define VOICECONTROL_BENCH_SOAK_PROCESS_STATS_H_

namespace voicecontrol {
namespace soak {

// Resident memory in KB (VmRSS of /proc/self/status); -1 when unreadable.
long ResidentKb();
// Of that, the anonymous part (RssAnon): heaps and stacks, no file pages.
long ResidentAnonKb();

// Bytes the allocator has handed out and not had back, in KB (glibc's
// mallinfo2: uordblks + hblkhd); -1 where that is not available.
long HeapInUseKb();

// glibc's malloc caches by rules of its own that let resident memory (and
// its own count of memory in use) climb for many minutes while nothing
// leaks: every thread keeps freed blocks for itself (the tcache, up to 7 of
// each of 64 sizes), filled as each of the ~80 threads here happens to free
// blocks of new sizes; arenas are opened (up to 8 per core) as threads come
// and go, each keeping its own free memory; once a large block (the text of
// a 90 KB answer) has been freed, the mmap threshold rises to its size, after
// which such blocks come from the arenas and up to twice that stays
// untrimmed in each; and up to 128 KB free at the top of a heap is kept
// anyway. Likewise the threads library keeps the stacks of ended threads
// (up to 40 MB) for threads to come, with every page their deepest call
// touched still resident. The soak runs with these settings instead: no
// tcache, one arena, a fixed mmap threshold of 128 KB, the heap's free top
// given back at once and no stack cache, so that what stays resident
// follows what is in use. Tunables are read at start-up only.
extern const char kSteadyMallocTunables[];

// True when this process runs with kSteadyMallocTunables.
bool MallocIsSteady();

// Starts this program over (the same arguments) with GLIBC_TUNABLES set to
// kSteadyMallocTunables; returns only when that failed.
void RestartWithSteadyMalloc(char** argv);

// Threads of this process (Threads of /proc/self/status); -1 when unreadable.
int ThreadCount();

// Descriptors open in this process (the entries of /proc/self/fd, without
// the one that listing them takes); -1 when unreadable.
int OpenDescriptors();

}  // namespace soak
}  // namespace voicecontrol

#endif  // VOICECONTROL_BENCH_SOAK_PROCESS_STATS_H_
