// The process-wide work-stealing pool (oneTBB's) as the core uses it: a loop over positions in
// chunks, for work that only computes. Exceptions of the body are rethrown in the caller.
#pragma once

#include <cstddef>

#if !defined(__SANITIZE_THREAD__)
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#endif

namespace vemor::parallel {

// Calls body(begin, end) on disjoint ranges that cover [0, count), each at least `grain` long
// (the last one may be shorter), and returns when all have run.
template <class Body>
void for_ranges(std::size_t count, std::size_t grain, Body&& body) {
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer cannot see oneTBB's synchronisation (an uninstrumented library) and
    // would report the pool's own bookkeeping; such builds run the ranges in order.
    (void)grain;
    if (count > 0) body(std::size_t{0}, count);
#else
    if (count == 0) return;
    if (count <= grain) {
        body(std::size_t{0}, count);
        return;
    }
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, count, grain),
                      [&](const tbb::blocked_range<std::size_t>& r) { body(r.begin(), r.end()); });
#endif
}

}  // namespace vemor::parallel
