// Large result lists are filled on huge pages where the system offers them: the kernel then
// maps them 2 MiB at a time, where 4 KiB page faults would cost more than filling them.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace vemor::memory {

// Asks for huge pages over the whole 2 MiB pages inside [data, data + bytes); a block smaller
// than two of them is left alone.
inline void advise_huge_pages([[maybe_unused]] const void* data,
                              [[maybe_unused]] std::size_t bytes) {
#if defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    if (bytes < 2 * kHuge) return;
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t begin = (start + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t end = (start + bytes) & ~(kHuge - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

}  // namespace vemor::memory
