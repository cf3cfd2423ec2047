// The process-wide work-stealing pool (oneTBB's) as the backend uses it: a parallel loop over
// positions whose iterations each block on a round trip to an application.
#pragma once

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace vemor::macos {

#if defined(__SANITIZE_THREAD__)

// ThreadSanitizer cannot see oneTBB's synchronisation (it lives in an uninstrumented library)
// and reports the pool's own task bookkeeping as races. Sanitizer builds therefore drive the
// same loop with plain threads, bounded in number, so that what gets checked is our work under
// real concurrency.
inline std::atomic<int> g_sanitizer_helpers{0};

template <class Body>
void parallel_each(std::size_t count, Body&& body) {
    constexpr int kMaxHelpers = 256;
    std::vector<std::jthread> helpers;
    for (std::size_t i = 1; i < count; ++i) {
        if (g_sanitizer_helpers.fetch_add(1) < kMaxHelpers) {
            helpers.emplace_back([&body, i] {
                body(i);
                g_sanitizer_helpers.fetch_sub(1);
            });
        } else {
            g_sanitizer_helpers.fetch_sub(1);
            body(i);
        }
    }
    if (count > 0) body(std::size_t{0});
}

#else

// Runs body(i) for every i below count and returns when all have run. Each iteration is its
// own task: the work is waiting, not computing, so no batching pays off.
template <class Body>
void parallel_each(std::size_t count, Body&& body) {
    if (count == 0) return;
    if (count == 1) {
        body(std::size_t{0});
        return;
    }
    tbb::parallel_for(
        tbb::blocked_range<std::size_t>(0, count, 1),
        [&](const tbb::blocked_range<std::size_t>& range) {
            for (std::size_t i = range.begin(); i != range.end(); ++i) body(i);
        },
        tbb::simple_partitioner());
}

#endif

}  // namespace vemor::macos
