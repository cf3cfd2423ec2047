// The macOS selector search over simulated desktops whose applications take a latency for each
// request, as on the platform: a transfer time that requests in flight spend side by side and a
// service time the application spends on one request at a time. Each desktop (one application,
// or eight sharing the elements) is searched under three latencies: transfer only, service only,
// and both. Variants: the parallel walk with the pool at one thread and at every core, and the
// core's tree walk over get_children at every core. Every variant runs several iterations; the
// medians and the speed-ups are printed after the runs. The variants must select the same
// elements in the same order: any difference is reported and makes the exit status 1.
//
//   macos_search_bench [--benchmark_filter=...]
//   VEMOR_BENCH_ITERATIONS (1 to 1000, default 5), VEMOR_BENCH_LATENCY_US (the latency per
//   request in microseconds, split between transfer and service in the mixed case; 0 to
//   1000000, default 50)
#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <tbb/global_control.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "vemor/macos/provider.hpp"
#include "vemor/selector.hpp"
#include "vemor/standin/control.hpp"

namespace {

namespace sd = vemor::standin;
using sd::ElementSpec;
using std::chrono::microseconds;

constexpr pid_t kFirstPid = 9001;

enum Variant : int { kPoolOne = 0, kPoolAll = 1, kCoreWalk = 2 };
enum Mode : int { kTransfer = 0, kService = 1, kMixed = 2 };
constexpr const char* kModeNames[] = {"transfer", "service", "mixed"};

// The whole number from `least` to `most` that the variable `name` holds, or `fallback` when it
// is unset. Anything else ends the program before any run, with one line and exit status 2.
long long env_setting(const char* name, long long fallback, long long least, long long most) {
    const char* text = std::getenv(name);
    if (!text) return fallback;
    const char* end = text + std::strlen(text);
    long long value = 0;
    const auto [stop, ec] = std::from_chars(text, end, value);
    if (ec != std::errc() || stop != end || stop == text || value < least || value > most) {
        std::fprintf(stderr,
                     "macos_search_bench: %s must be a whole number from %lld to %lld, "
                     "not \"%s\"\n",
                     name, least, most, text);
        std::exit(2);
    }
    return value;
}

// The defaults, replaced by main from the environment before the benchmark is registered.
int g_iterations = 5;
microseconds g_per_request{50};

// Mixed: four fifths of the time in transfer, one fifth in service.
sd::AppLatency latency_of(Mode mode) {
    const microseconds total = g_per_request;
    switch (mode) {
        case kTransfer: return {.transfer = total};
        case kService: return {.service = total};
        default: return {.transfer = total - total / 5, .service = total / 5};
    }
}

std::size_t all_cores() { return std::max(1u, std::thread::hardware_concurrency()); }

// One application of about `elements` elements: a window of groups, each holding eight groups
// of nine leaves (buttons, texts and text fields). One button per application is named "OK".
sd::AppSpec make_app(pid_t pid, int elements, sd::AppLatency latency) {
    auto w = ElementSpec("AXWindow").title(fmt::format("Main {}", pid)).frame(0, 0, 800, 600);
    const int top_groups = std::max(1, elements / 81);
    int serial = 0;
    for (int g = 0; g < top_groups; ++g) {
        auto top = ElementSpec("AXGroup").title(fmt::format("Section {}", g));
        for (int h = 0; h < 8; ++h) {
            auto mid = ElementSpec("AXGroup");
            for (int l = 0; l < 9; ++l, ++serial) {
                const std::string name = fmt::format("Item {}", serial);
                switch (l % 3) {
                    case 0:
                        mid.children.push_back(ElementSpec("AXButton").title(name));
                        break;
                    case 1:
                        mid.children.push_back(ElementSpec("AXStaticText").value(name));
                        break;
                    default:
                        mid.children.push_back(ElementSpec("AXTextField").description(name));
                }
            }
            top.children.push_back(std::move(mid));
        }
        w.children.push_back(std::move(top));
    }
    w.children.back().children.back().children.push_back(ElementSpec("AXButton").title("OK"));
    sd::AppSpec app;
    app.pid = pid;
    app.name = fmt::format("App{}", pid);
    app.element = ElementSpec("AXApplication");
    app.element.children.push_back(std::move(w));
    app.latency = latency;
    return app;
}

// The elements make_app builds: the application, its window, the groups and leaves, and "OK".
int app_elements(int elements) { return 3 + std::max(1, elements / 81) * 81; }

void install(int total_elements, int apps, Mode mode) {
    sd::DesktopSpec d;
    for (int a = 0; a < apps; ++a)
        d.apps.push_back(make_app(kFirstPid + a, total_elements / apps, latency_of(mode)));
    d.focused_app = kFirstPid;
    sd::install_desktop(d);
}

// Requests that reach an application (and so wait its latency) in the call log.
std::size_t requests_logged() {
    std::size_t n = 0;
    for (const auto& c : sd::call_log())
        if (c.pid != 0 && c.call.starts_with("AXUIElement") &&
            !c.call.starts_with("AXUIElementCreate"))
            ++n;
    return n;
}

struct Key {
    int elements;
    int apps;
    int mode;
    auto operator<=>(const Key&) const = default;
};

struct Runs {
    std::vector<double> seconds;
    std::size_t requests = 0;  // per search
    std::optional<std::vector<std::string>> found;  // the first iteration's selection
    bool varied = false;                            // a later iteration selected otherwise
};

std::map<Key, std::map<int, Runs>> g_runs;

std::vector<std::string> keys_of(const vemor::ElementList& list) {
    std::vector<std::string> out;
    out.reserve(list.size());
    for (const auto& e : list)
        out.push_back(fmt::format("{}:{}:{}", vemor::role::to_snake_case(e.role),
                                  e.name.value_or("-"), e.pid.value_or(0)));
    return out;
}

void BM_DesktopSearch(benchmark::State& state) {
    const Key key{static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                  static_cast<int>(state.range(2))};
    const auto variant = static_cast<Variant>(state.range(3));
    install(key.elements, key.apps, static_cast<Mode>(key.mode));
    auto provider = vemor::MacOSProvider::create();
    if (!provider) {
        state.SkipWithError(provider.error().message().c_str());
        return;
    }
    const auto group = *vemor::SelectorGroup::parse("button[name=\"OK\"], text_field[name$=\"7\"]");
    const std::size_t threads = variant == kPoolOne ? 1 : all_cores();
    tbb::global_control pool(tbb::global_control::max_allowed_parallelism, threads);

    Runs& runs = g_runs[key][variant];
    for (auto _ : state) {
        sd::clear_call_log();
        const auto start = std::chrono::steady_clock::now();
        vemor::Result<vemor::ElementList> r;
        if (variant == kCoreWalk) {
            const vemor::MacOSProvider& p = **provider;
            r = vemor::selector::find_elements_in_tree_group(
                [&](const vemor::ElementData* parent) { return p.get_children(parent); }, nullptr,
                group, std::nullopt, std::nullopt);
        } else {
            r = (*provider)->find_elements_group(nullptr, group, std::nullopt, std::nullopt);
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!r) {
            state.SkipWithError(r.error().message().c_str());
            return;
        }
        state.SetIterationTime(seconds);
        runs.seconds.push_back(seconds);
        runs.requests = requests_logged();
        auto found = keys_of(*r);
        if (!runs.found) runs.found = std::move(found);
        else if (found != *runs.found) runs.varied = true;
    }
    state.counters["requests/element"] = static_cast<double>(runs.requests) /
                                         (key.apps * app_elements(key.elements / key.apps));
    state.counters["found"] = static_cast<double>(runs.found ? runs.found->size() : 0);
    state.counters["threads"] = static_cast<double>(threads);
}

void Args(benchmark::internal::Benchmark* b) {
    for (auto [elements, apps] : {std::pair{10000, 1}, std::pair{10000, 8}})
        for (int mode : {kTransfer, kService, kMixed})
            for (int v : {kPoolOne, kPoolAll, kCoreWalk}) b->Args({elements, apps, mode, v});
}

double median_ms(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return (n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2) * 1000;
}

// Prints the medians and speed-ups; returns false when two variants selected different elements.
bool print_summary() {
    const auto total = g_per_request;
    std::printf(
        "\n%d iterations per variant, median shown; %u cores; %lld us per request: transfer only, "
        "service only, or mixed (%lld us transfer + %lld us service)\n",
        g_iterations, std::thread::hardware_concurrency(), static_cast<long long>(total.count()),
        static_cast<long long>(latency_of(kMixed).transfer.count()),
        static_cast<long long>(latency_of(kMixed).service.count()));
    std::printf("%8s %4s %8s %10s %10s %10s %10s %9s %11s\n", "elements", "apps", "latency",
                "1 thr (ms)", "all (ms)", "core (ms)", "us/request", "all vs 1", "all vs core");
    bool same = true;
    for (const auto& [key, variants] : g_runs) {
        auto at = [&](int v) {
            auto it = variants.find(v);
            return it == variants.end() ? 0.0 : median_ms(it->second.seconds);
        };
        auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
        const auto one = variants.find(kPoolOne);
        const double us_per_request =
            one != variants.end() && one->second.requests > 0
                ? at(kPoolOne) * 1000 / static_cast<double>(one->second.requests)
                : 0.0;
        std::printf("%8d %4d %8s %10.1f %10.1f %10.1f %10.1f %8.2fx %10.2fx\n", key.elements,
                    key.apps, kModeNames[key.mode], at(kPoolOne), at(kPoolAll), at(kCoreWalk),
                    us_per_request, ratio(at(kPoolOne), at(kPoolAll)),
                    ratio(at(kCoreWalk), at(kPoolAll)));
        const auto& [first_variant, first_runs] = *variants.begin();
        for (const auto& [v, runs] : variants) {
            if (runs.varied) {
                std::printf("  error: variant %d selected other elements from one iteration to "
                            "the next\n", v);
                same = false;
            }
            if (runs.found != first_runs.found) {
                std::printf("  error: variant %d selected %zu elements, variant %d %zu, or in "
                            "another order\n",
                            first_variant, first_runs.found ? first_runs.found->size() : 0, v,
                            runs.found ? runs.found->size() : 0);
                same = false;
            }
        }
    }
    return same;
}

}  // namespace

int main(int argc, char** argv) {
    g_iterations = static_cast<int>(env_setting("VEMOR_BENCH_ITERATIONS", g_iterations, 1, 1000));
    g_per_request =
        microseconds(env_setting("VEMOR_BENCH_LATENCY_US", g_per_request.count(), 0, 1'000'000));
    benchmark::RegisterBenchmark("BM_DesktopSearch", BM_DesktopSearch)
        ->Apply(Args)
        ->ArgNames({"elements", "apps", "latency", "variant"})
        ->Iterations(g_iterations)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const bool same = print_summary();
    sd::reset_to_default_desktop();
    return same ? 0 : 1;
}
