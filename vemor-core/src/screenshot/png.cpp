// The PNG writer behind `Screenshot::to_png`: 8-bit RGBA, no ancillary chunks, row filters
// chosen per row by the minimum-sum-of-absolute-differences rule, zlib stream from libdeflate
// at level 6. libdeflate compresses at level 6 markedly faster than zlib and a little smaller,
// and screenshots sit on the critical path of every agent request.
#include <libdeflate.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <span>
#include <system_error>
#include <thread>
#include <vector>

#include "parallel.hpp"
#include "vemor/screenshot.hpp"

namespace vemor::png {
namespace {

constexpr int kLevel = 6;
constexpr std::size_t kBpp = 4;
// PNG chunk lengths are limited to 2^31 - 1; keep IDAT chunks well below.
constexpr std::size_t kMaxIdat = std::size_t{1} << 30;
constexpr std::uint32_t kMaxDimension = 0x7FFFFFFFu;
constexpr std::size_t kMaxBands = 8;

Error encode_error(std::string_view what) {
    return Error::Platform{-1, fmt::format("png encode: {}", what)};
}

struct CompressorDeleter {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// One compressor per thread: allocating it costs more than compressing a small image. A failed
// allocation is tried again on the next call.
libdeflate_compressor* thread_compressor() {
    thread_local std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor;
    if (!compressor) compressor.reset(libdeflate_alloc_compressor(kLevel));
    return compressor.get();
}

void put_u32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

// Fills in the length of the chunk that starts at `chunk_start` and appends its CRC.
void finish_chunk(std::vector<std::uint8_t>& out, std::size_t chunk_start, std::size_t len) {
    put_u32(out.data() + chunk_start, static_cast<std::uint32_t>(len));
    std::uint32_t crc = libdeflate_crc32(0, out.data() + chunk_start + 4, len + 4);
    std::uint8_t tail[4];
    put_u32(tail, crc);
    out.insert(out.end(), tail, tail + 4);
}

void put_chunk(std::vector<std::uint8_t>& out, const char (&type)[5], const std::uint8_t* data,
               std::size_t len) {
    std::size_t start = out.size();
    out.resize(start + 8);
    std::memcpy(out.data() + start + 4, type, 4);
    out.insert(out.end(), data, data + len);
    finish_chunk(out, start, len);
}

// Cost of a filtered byte under the minimum-sum rule: its distance from 0 read as signed.
inline unsigned cost(std::uint8_t b) {
    std::uint8_t neg = static_cast<std::uint8_t>(0u - b);
    return b < neg ? b : neg;
}

// Branch-free so that the row loop vectorises: pa = |b - c|, pb = |a - c|, pc = |a + b - 2c|.
inline std::uint8_t paeth(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    std::int16_t pa = static_cast<std::int16_t>(b - c);
    std::int16_t pb = static_cast<std::int16_t>(a - c);
    std::int16_t pc = static_cast<std::int16_t>(pa + pb);
    pa = pa < 0 ? static_cast<std::int16_t>(-pa) : pa;
    pb = pb < 0 ? static_cast<std::int16_t>(-pb) : pb;
    pc = pc < 0 ? static_cast<std::int16_t>(-pc) : pc;
    std::uint8_t bc = pb <= pc ? b : c;
    return (pa <= pb && pa <= pc) ? a : bc;
}

// Filter types 1 to 4: the predictor of a byte from its left (a), upper (b) and upper-left (c)
// neighbours.
template <int Kind>
inline std::uint8_t predict(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    if constexpr (Kind == 1) return a;
    if constexpr (Kind == 2) return b;
    if constexpr (Kind == 3) return static_cast<std::uint8_t>((unsigned{a} + unsigned{b}) >> 1);
    if constexpr (Kind == 4) return paeth(a, b, c);
}

#if defined(__SSE2__)
// Sixteen bytes at a time; SSE2 is part of every x86-64 target.
template <int Kind>
inline __m128i predict16(__m128i a, __m128i b, __m128i c) {
    if constexpr (Kind == 1) return a;
    if constexpr (Kind == 2) return b;
    if constexpr (Kind == 3) {
        // _mm_avg_epu8 rounds up; the filter rounds down.
        const __m128i odd = _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1));
        return _mm_sub_epi8(_mm_avg_epu8(a, b), odd);
    }
    if constexpr (Kind == 4) {
        const __m128i zero = _mm_setzero_si128();
        auto half = [&](__m128i a16, __m128i b16, __m128i c16) {
            __m128i pa = _mm_sub_epi16(b16, c16);
            __m128i pb = _mm_sub_epi16(a16, c16);
            __m128i pc = _mm_add_epi16(pa, pb);
            pa = _mm_max_epi16(pa, _mm_sub_epi16(zero, pa));
            pb = _mm_max_epi16(pb, _mm_sub_epi16(zero, pb));
            pc = _mm_max_epi16(pc, _mm_sub_epi16(zero, pc));
            const __m128i not_a = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
            const __m128i use_c = _mm_cmpgt_epi16(pb, pc);
            const __m128i bc =
                _mm_or_si128(_mm_and_si128(use_c, c16), _mm_andnot_si128(use_c, b16));
            return _mm_or_si128(_mm_and_si128(not_a, bc), _mm_andnot_si128(not_a, a16));
        };
        const __m128i lo = half(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero),
                                _mm_unpacklo_epi8(c, zero));
        const __m128i hi = half(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero),
                                _mm_unpackhi_epi8(c, zero));
        return _mm_packus_epi16(lo, hi);
    }
}

// Sum of the costs of sixteen bytes, added to the two 64-bit lanes of `acc`.
inline __m128i add_cost16(__m128i acc, __m128i v) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i c = _mm_min_epu8(v, _mm_sub_epi8(zero, v));
    return _mm_add_epi64(acc, _mm_sad_epu8(c, zero));
}

inline std::uint64_t lanes_sum(__m128i acc) {
    std::uint64_t lanes[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), acc);
    return lanes[0] + lanes[1];
}
#endif

std::uint64_t unfiltered_cost(const std::uint8_t* cur, std::size_t n) {
    std::uint64_t sum = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    __m128i acc = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16)
        acc = add_cost16(acc, _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + i)));
    sum = lanes_sum(acc);
#endif
    for (; i < n; ++i) sum += cost(cur[i]);
    return sum;
}

// Writes the row filtered with filter `Kind` and returns its cost.
template <int Kind>
std::uint64_t filter_into(const std::uint8_t* cur, const std::uint8_t* prev, std::size_t n,
                          std::uint8_t* out) {
    std::uint64_t sum = 0;
    const std::size_t head = std::min(kBpp, n);
    for (std::size_t i = 0; i < head; ++i) {
        out[i] = static_cast<std::uint8_t>(cur[i] - predict<Kind>(0, prev[i], 0));
        sum += cost(out[i]);
    }
    std::size_t i = head;
#if defined(__SSE2__)
    __m128i acc = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        auto load = [](const std::uint8_t* p) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        };
        const __m128i x = load(cur + i);
        const __m128i v = _mm_sub_epi8(
            x, predict16<Kind>(load(cur + i - kBpp), load(prev + i), load(prev + i - kBpp)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), v);
        acc = add_cost16(acc, v);
    }
    sum += lanes_sum(acc);
#endif
    for (; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(cur[i] -
                                           predict<Kind>(cur[i - kBpp], prev[i], prev[i - kBpp]));
        sum += cost(out[i]);
    }
    return sum;
}

// Picks the filter with the smallest sum of absolute filtered bytes (read as signed), the
// earlier filter winning a tie, as the adaptive mode of common encoders does. Sums are never
// negative, so once one is 0 the later (costlier) filters cannot win and are skipped: flat UI
// rows repeat the row above and stop after Up. Returns the filter and its bytes.
std::pair<unsigned, const std::uint8_t*> filter_row(const std::uint8_t* cur,
                                                    const std::uint8_t* prev, std::size_t n,
                                                    std::array<std::uint8_t*, 5> cand) {
    std::uint64_t best_sum = unfiltered_cost(cur, n);
    unsigned best = 0;
    auto consider = [&](unsigned k, std::uint64_t sum) {
        if (sum < best_sum) {
            best_sum = sum;
            best = k;
        }
    };
    if (best_sum > 0) consider(1, filter_into<1>(cur, prev, n, cand[1]));
    if (best_sum > 0) consider(2, filter_into<2>(cur, prev, n, cand[2]));
    if (best_sum > 0) consider(3, filter_into<3>(cur, prev, n, cand[3]));
    if (best_sum > 0) consider(4, filter_into<4>(cur, prev, n, cand[4]));
    return {best, best == 0 ? cur : cand[best]};
}

// Filters rows [first, last) into `out` (one filter byte, then the row). `scratch` holds five
// rows; `zero_row` (the row above the first) is read only when `first` is 0. Allocates nothing,
// so that it can run on a worker thread.
void filter_band(const std::uint8_t* rgba, std::uint8_t* out, std::size_t stride, std::size_t first,
                 std::size_t last, std::uint8_t* scratch, const std::uint8_t* zero_row) {
    std::array<std::uint8_t*, 5> cand{};
    for (std::size_t k = 0; k < 5; ++k) cand[k] = scratch + k * stride;
    for (std::size_t y = first; y < last; ++y) {
        const std::uint8_t* cur = rgba + y * stride;
        const std::uint8_t* prev = y == 0 ? zero_row : cur - stride;
        std::uint8_t* row = out + y * (stride + 1);
        const auto [filter, bytes] = filter_row(cur, prev, stride, cand);
        row[0] = static_cast<std::uint8_t>(filter);
        std::memcpy(row + 1, bytes, stride);
    }
}

// Rows filter independently of each other (each reads only raw rows), so large images are
// split into bands filtered side by side on the shared pool; compression stays one stream.
// Throws bad_alloc (scratch) or the pool's exceptions, rethrown on the calling thread.
void filter_rows(const std::uint8_t* rgba, std::uint8_t* out, std::size_t stride,
                 std::size_t height) {
    constexpr std::size_t kMinBandBytes = std::size_t{1} << 20;
    const std::size_t bands =
        std::min<std::size_t>({std::max(1u, std::thread::hardware_concurrency()), kMaxBands,
                               std::max<std::size_t>(1, stride * height / kMinBandBytes), height});
    const std::size_t per = (height + bands - 1) / bands;
    const std::vector<std::uint8_t> zero_row(stride, 0);
    auto scratch = std::make_unique_for_overwrite<std::uint8_t[]>(bands * 5 * stride);
    parallel::for_ranges(bands, 1, [&](std::size_t first_band, std::size_t end_band) {
        for (std::size_t b = first_band; b < end_band; ++b) {
            const std::size_t first = std::min(height, b * per);
            const std::size_t last = std::min(height, first + per);
            if (first < last)
                filter_band(rgba, out, stride, first, last, scratch.get() + b * 5 * stride,
                            zero_row.data());
        }
    });
}

}  // namespace

Result<std::vector<std::uint8_t>> encode_rgba(std::span<const std::uint8_t> rgba,
                                              std::uint32_t width, std::uint32_t height) {
    if (width == 0 || width > kMaxDimension) return fail(encode_error("invalid image width"));
    if (height == 0 || height > kMaxDimension) return fail(encode_error("invalid image height"));
    const std::size_t stride = std::size_t{width} * kBpp;
    std::size_t filtered_len = 0;
    if (__builtin_mul_overflow(stride + 1, std::size_t{height}, &filtered_len) ||
        rgba.size() / stride < height)
        return fail(encode_error("image too large"));

    libdeflate_compressor* compressor = thread_compressor();
    if (compressor == nullptr) return fail(encode_error("out of memory"));

    try {
        // Every byte is written before it is read: no need to zero these.
        auto filtered = std::make_unique_for_overwrite<std::uint8_t[]>(filtered_len);
        filter_rows(rgba.data(), filtered.get(), stride, height);

        const std::size_t bound = libdeflate_zlib_compress_bound(compressor, filtered_len);
        auto zdata = std::make_unique_for_overwrite<std::uint8_t[]>(bound);
        const std::size_t zlen =
            libdeflate_zlib_compress(compressor, filtered.get(), filtered_len, zdata.get(), bound);
        if (zlen == 0) return fail(encode_error("compression failed"));
        filtered.reset();

        std::vector<std::uint8_t> out;
        out.reserve(8 + 25 + zlen + 12 * (zlen / kMaxIdat + 1) + 12);
        static constexpr std::uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
        out.insert(out.end(), kSignature, kSignature + 8);

        std::uint8_t ihdr[13];
        put_u32(ihdr, width);
        put_u32(ihdr + 4, height);
        ihdr[8] = 8;   // bit depth
        ihdr[9] = 6;   // RGB with alpha
        ihdr[10] = 0;  // deflate
        ihdr[11] = 0;  // the five-filter method
        ihdr[12] = 0;  // not interlaced
        put_chunk(out, "IHDR", ihdr, sizeof ihdr);
        for (std::size_t at = 0; at < zlen; at += kMaxIdat)
            put_chunk(out, "IDAT", zdata.get() + at, std::min(kMaxIdat, zlen - at));
        put_chunk(out, "IEND", nullptr, 0);
        return out;
    } catch (const std::bad_alloc&) {
        return fail(encode_error("out of memory"));
    } catch (const std::length_error&) {
        return fail(encode_error("out of memory"));
    } catch (const std::exception&) {
        // The pool could not run the filtering.
        return fail(encode_error("out of resources"));
    }
}

}  // namespace vemor::png
