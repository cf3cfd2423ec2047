// The process-wide work-stealing pool (oneTBB's) as the backend uses it: a parallel loop over
// positions whose iterations each block on a round trip to an application.
#pragma once

#include <fmt/format.h>
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "vemor/error.hpp"

namespace vemor::macos {

#if defined(__SANITIZE_THREAD__)

// ThreadSanitizer cannot see oneTBB's synchronisation (it lives in an uninstrumented library)
// and reports the pool's own task bookkeeping as races. Sanitizer builds therefore drive the
// same loop with plain threads, bounded in number, so that what gets checked is our work under
// real concurrency. As with the pool, the first exception of an iteration is rethrown here once
// every iteration has ended.
inline std::atomic<int> g_sanitizer_helpers{0};

template <class Body>
void parallel_each(std::size_t count, Body&& body) {
    constexpr int kMaxHelpers = 256;
    std::mutex failure_mutex;
    std::exception_ptr failure;
    auto guarded = [&](std::size_t i) {
        try {
            body(i);
        } catch (...) {
            std::lock_guard lock(failure_mutex);
            if (!failure) failure = std::current_exception();
        }
    };
    {
        std::vector<std::jthread> helpers;
        for (std::size_t i = 1; i < count; ++i) {
            if (g_sanitizer_helpers.fetch_add(1) < kMaxHelpers) {
                try {
                    helpers.emplace_back([&guarded, i] {
                        guarded(i);
                        g_sanitizer_helpers.fetch_sub(1);
                    });
                    continue;
                } catch (...) {
                    // No thread to be had: run the iteration here.
                }
            }
            g_sanitizer_helpers.fetch_sub(1);
            guarded(i);
        }
        if (count > 0) guarded(std::size_t{0});
    }
    if (failure) std::rethrow_exception(failure);
}

#else

// Runs body(i) for every i below count and returns when all have run. Each iteration is its
// own task: the work is waiting, not computing, so no batching pays off. An exception thrown by
// an iteration (or by the pool) is rethrown here.
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

// The loop at the edge of an operation that returns a `Result`: an exception thrown inside it
// (an allocation failure, the pool failing to start a task) becomes a `Platform` error naming
// the operation, and never leaves the backend.
template <class Body>
Result<void> try_parallel_each(std::string_view operation, std::size_t count, Body&& body) {
    try {
        parallel_each(count, std::forward<Body>(body));
        return {};
    } catch (const std::exception& e) {
        return fail(Error::Platform{-1, fmt::format("{}: {}", operation, e.what())});
    } catch (...) {
        return fail(Error::Platform{-1, fmt::format("{}: unknown failure", operation)});
    }
}

}  // namespace vemor::macos
