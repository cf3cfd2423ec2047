// PNG encoding and annotation of screenshot-like frames.
//
//   png_bench [benchmark flags]      time our encoder, libspng at the same settings, annotation
//   png_bench --dump DIR             write the frames and boxes for bench/screenshot_vs_pillow.py
//
// Frames are seeded and look like a desktop: flat panels, a gradient title bar, rows of
// text-like strokes, and one noisy patch standing in for a photo.
#include <benchmark/benchmark.h>
#include <spng.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "vemor/annotate.hpp"
#include "vemor/json.hpp"
#include "vemor/screenshot.hpp"

namespace {

struct FrameShape {
    std::uint32_t width;
    std::uint32_t height;
    float scale;
};

constexpr FrameShape kFrames[] = {{1920, 1080, 1.0f}, {2880, 1800, 2.0f}};

class Painter {
  public:
    Painter(std::vector<std::uint8_t>& px, std::uint32_t w, std::uint32_t h)
        : px_(px), w_(w), h_(h) {}

    void fill(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1, std::uint8_t r,
              std::uint8_t g, std::uint8_t b) {
        for (std::int64_t y = std::max<std::int64_t>(y0, 0); y < std::min<std::int64_t>(y1, h_);
             ++y)
            for (std::int64_t x = std::max<std::int64_t>(x0, 0); x < std::min<std::int64_t>(x1, w_);
                 ++x)
                put(x, y, r, g, b);
    }
    void put(std::int64_t x, std::int64_t y, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        std::uint8_t* p = px_.data() + (static_cast<std::size_t>(y) * w_ + x) * 4;
        p[0] = r;
        p[1] = g;
        p[2] = b;
        p[3] = 255;
    }

  private:
    std::vector<std::uint8_t>& px_;
    std::uint32_t w_;
    std::uint32_t h_;
};

vemor::Screenshot make_frame(const FrameShape& shape, std::uint32_t seed) {
    std::mt19937 rng(seed);
    auto rand_in = [&](std::uint32_t lo, std::uint32_t hi) { return lo + rng() % (hi - lo); };
    const std::uint32_t w = shape.width, h = shape.height;
    const std::uint32_t u = shape.scale >= 2.0f ? 2 : 1;
    std::vector<std::uint8_t> px(std::size_t{w} * h * 4);
    Painter p(px, w, h);
    p.fill(0, 0, w, h, 236, 236, 240);  // desktop background
    // Menu bar with a vertical gradient.
    for (std::uint32_t y = 0; y < 24 * u; ++y) {
        auto v = static_cast<std::uint8_t>(250 - y * 20 / (24 * u));
        p.fill(0, y, w, y + 1, v, v, static_cast<std::uint8_t>(v - 4));
    }
    // Windows: title bar gradient, sidebar, content with text lines and buttons.
    for (int win = 0; win < 4; ++win) {
        std::int64_t x0 = rand_in(0, w / 2), y0 = rand_in(30 * u, h / 2);
        std::int64_t x1 = x0 + rand_in(w / 3, w / 2), y1 = y0 + rand_in(h / 3, h / 2);
        p.fill(x0 - u, y0 - u, x1 + u, y1 + u, 180, 180, 186);
        p.fill(x0, y0, x1, y1, 255, 255, 255);
        for (std::int64_t y = y0; y < y0 + 28 * u; ++y) {
            auto v = static_cast<std::uint8_t>(232 - (y - y0) * 24 / (28 * u));
            p.fill(x0, y, x1, y + 1, v, v, static_cast<std::uint8_t>(v + 6 > 255 ? 255 : v + 6));
        }
        p.fill(x0, y0 + 28 * u, x0 + 180 * u, y1, 242, 242, 247);
        // Text-like strokes: short glyph-sized runs in lines.
        for (std::int64_t ly = y0 + 40 * u; ly + 12 * u < y1; ly += 18 * u) {
            std::int64_t lx = x0 + 190 * u;
            std::int64_t line_end = std::min<std::int64_t>(x1 - 10 * u, lx + rand_in(100, 600) * u);
            while (lx < line_end) {
                std::int64_t word = rand_in(3, 9);
                for (std::int64_t c = 0; c < word && lx < line_end; ++c) {
                    std::uint32_t shape = rng();
                    for (std::uint32_t gy = 0; gy < 9 * u; ++gy)
                        for (std::uint32_t gx = 0; gx < 5 * u; ++gx)
                            if ((shape >> ((gy / u * 5 + gx / u) % 32)) & 1u)
                                p.put(lx + gx, ly + gy, 30, 30, 36);
                    lx += 6 * u;
                }
                lx += 5 * u;
            }
        }
        // A couple of buttons.
        for (int b = 0; b < 3; ++b) {
            std::int64_t bx = x1 - (b + 1) * 90 * u, by = y1 - 36 * u;
            p.fill(bx, by, bx + 80 * u, by + 24 * u, 0, 122, 255);
        }
    }
    // The "photo": smooth colour field plus noise.
    std::int64_t nx = rand_in(0, w - 400 * u), ny = rand_in(0, h - 300 * u);
    for (std::int64_t y = ny; y < ny + 300 * u; ++y)
        for (std::int64_t x = nx; x < nx + 400 * u; ++x) {
            std::uint32_t n = rng();
            p.put(x, y, static_cast<std::uint8_t>((x - nx) * 255 / (400 * u) + (n & 15)),
                  static_cast<std::uint8_t>((y - ny) * 255 / (300 * u) + ((n >> 4) & 15)),
                  static_cast<std::uint8_t>(128 + ((n >> 8) & 31)));
        }
    vemor::Screenshot s{.pixels = std::move(px), .width = w, .height = h, .scale = shape.scale};
    return vemor::Screenshot::with_mapping(std::move(s),
                                           vemor::CaptureMapping::single(0, 0, w, h, shape.scale));
}

// 100 boxes in desktop points, five groups of twenty.
std::vector<vemor::Annotation> make_boxes(const FrameShape& shape, std::uint32_t seed) {
    std::mt19937 rng(seed);
    const auto dw = static_cast<std::uint32_t>(shape.width / shape.scale);
    const auto dh = static_cast<std::uint32_t>(shape.height / shape.scale);
    std::vector<vemor::Annotation> out;
    for (std::uint64_t i = 0; i < 100; ++i) {
        std::uint64_t group = i / 20 + 1;
        std::uint32_t bw = 30 + rng() % 300, bh = 16 + rng() % 100;
        auto x = static_cast<std::int32_t>(rng() % (dw - bw));
        auto y = static_cast<std::int32_t>(rng() % (dh - bh));
        out.push_back(vemor::Annotation{vemor::annotate::tag_for(group, i % 20 + 1),
                                        vemor::Rect{x, y, bw, bh},
                                        vemor::annotate::group_color(group)});
    }
    return out;
}

const vemor::Screenshot& frame(int which) {
    static const vemor::Screenshot frames[] = {make_frame(kFrames[0], 7),
                                               make_frame(kFrames[1], 7)};
    return frames[which];
}

const std::vector<vemor::Annotation>& boxes(int which) {
    static const std::vector<vemor::Annotation> all[] = {make_boxes(kFrames[0], 11),
                                                         make_boxes(kFrames[1], 11)};
    return all[which];
}

void BM_ToPng(benchmark::State& state) {
    const vemor::Screenshot& s = frame(static_cast<int>(state.range(0)));
    std::size_t size = 0;
    for (auto _ : state) {
        auto png = s.to_png();
        if (!png) {
            state.SkipWithError(png.error().message().c_str());
            break;
        }
        size = png->size();
        benchmark::DoNotOptimize(png->data());
    }
    state.counters["png_bytes"] = static_cast<double>(size);
    state.SetLabel(fmt::format("{}x{}", s.width, s.height));
}
BENCHMARK(BM_ToPng)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// libspng (zlib inside) at the same level and filter choice: the alternative we measured.
void BM_SpngEncode(benchmark::State& state) {
    const vemor::Screenshot& s = frame(static_cast<int>(state.range(0)));
    std::size_t size = 0;
    for (auto _ : state) {
        spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
        spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
        spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, 6);
        spng_set_option(ctx, SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_ALL);
        spng_ihdr ihdr{};
        ihdr.width = s.width;
        ihdr.height = s.height;
        ihdr.bit_depth = 8;
        ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
        spng_set_ihdr(ctx, &ihdr);
        int rc = spng_encode_image(ctx, s.pixels.data(), s.pixels.size(), SPNG_FMT_PNG,
                                   SPNG_ENCODE_FINALIZE);
        if (rc != 0) state.SkipWithError(spng_strerror(rc));
        int err = 0;
        void* buf = spng_get_png_buffer(ctx, &size, &err);
        benchmark::DoNotOptimize(buf);
        std::free(buf);
        spng_ctx_free(ctx);
    }
    state.counters["png_bytes"] = static_cast<double>(size);
    state.SetLabel(fmt::format("{}x{}", s.width, s.height));
}
BENCHMARK(BM_SpngEncode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Annotate100(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    const vemor::Screenshot& s = frame(which);
    const auto& anns = boxes(which);
    for (auto _ : state) {
        auto out = s.annotate(anns, 0, 0);
        if (!out) {
            state.SkipWithError(out.error().message().c_str());
            break;
        }
        benchmark::DoNotOptimize(out->image.pixels.data());
    }
    state.SetLabel(fmt::format("{}x{}", s.width, s.height));
}
BENCHMARK(BM_Annotate100)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The annotated capture owns its capture and draws in place: no copy of the image.
void BM_Annotate100InPlace(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    const vemor::Screenshot& s = frame(which);
    const auto& anns = boxes(which);
    for (auto _ : state) {
        state.PauseTiming();
        vemor::Screenshot mine = s;
        state.ResumeTiming();
        auto out = std::move(mine).annotate(anns, 0, 0);
        if (!out) {
            state.SkipWithError(out.error().message().c_str());
            break;
        }
        benchmark::DoNotOptimize(out->image.pixels.data());
    }
    state.SetLabel(fmt::format("{}x{}", s.width, s.height));
}
BENCHMARK(BM_Annotate100InPlace)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Writes frame_WxH.rgba, frame_WxH.png (ours) and boxes_WxH.json (image pixels, tags, colours
// and drawing unit) for the Pillow side of the comparison.
int dump(const std::string& dir) {
    for (int which = 0; which < 2; ++which) {
        const vemor::Screenshot& s = frame(which);
        std::string stem = fmt::format("{}/{{}}_{}x{}", dir, s.width, s.height);
        std::ofstream(fmt::format(fmt::runtime(stem), "frame") + ".rgba", std::ios::binary)
            .write(reinterpret_cast<const char*>(s.pixels.data()),
                   static_cast<std::streamsize>(s.pixels.size()));
        if (auto r = s.save_png(fmt::format(fmt::runtime(stem), "frame") + ".png"); !r) {
            std::fprintf(stderr, "%s\n", r.error().message().c_str());
            return 1;
        }
        vemor::Json list = vemor::Json::array();
        for (const vemor::Annotation& a : boxes(which)) {
            auto rects = s.desktop_rect_to_image(a.rect);
            if (!rects || rects->empty()) continue;
            const vemor::Rect& r = rects->front();
            list.push_back({{"tag", a.tag},
                            {"rect", {r.x, r.y, r.width, r.height}},
                            {"color", {a.color[0], a.color[1], a.color[2]}}});
        }
        vemor::Json doc = {{"width", s.width},
                           {"height", s.height},
                           {"unit", vemor::annotate::drawing_unit(s.scale)},
                           {"boxes", list}};
        std::ofstream(fmt::format(fmt::runtime(stem), "boxes") + ".json") << vemor::json::dump(doc);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--dump") == 0) return dump(argv[2]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
