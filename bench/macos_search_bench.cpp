// The macOS selector search over a simulated desktop whose applications answer one request at
// a time with a fixed latency per call, as real applications do: the parallel walk with the
// pool at one thread and at every core, against the core's tree walk over get_children.
// Prints the speed-ups after the runs. The counter calls/element is the attribute requests per
// element of the desktop (from the platform's call log, which keeps the latest 200,000 calls).
//
//   macos_search_bench [--benchmark_filter=...]   (latency: VEMOR_BENCH_LATENCY_US, default 50)
#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <tbb/global_control.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <tuple>

#include "vemor/macos/provider.hpp"
#include "vemor/selector.hpp"
#include "vemor/standin/control.hpp"

namespace {

namespace sd = vemor::standin;
using sd::ElementSpec;

constexpr pid_t kFirstPid = 9001;

enum Variant : int { kPoolOne = 0, kPoolAll = 1, kCoreWalk = 2 };

std::chrono::microseconds latency() {
    const char* v = std::getenv("VEMOR_BENCH_LATENCY_US");
    return std::chrono::microseconds(v ? std::max(0, std::atoi(v)) : 50);
}

// One application of about `elements` elements: a window of groups, each holding eight groups
// of nine leaves (buttons, texts and text fields). One button per application is named "OK".
sd::AppSpec make_app(pid_t pid, int elements) {
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
    return app;
}

// The elements make_app builds: the application, its window, the groups and leaves, and "OK".
int app_elements(int elements) { return 3 + std::max(1, elements / 81) * 81; }

void install(int total_elements, int apps) {
    sd::DesktopSpec d;
    for (int a = 0; a < apps; ++a) d.apps.push_back(make_app(kFirstPid + a, total_elements / apps));
    d.focused_app = kFirstPid;
    sd::install_desktop(d);
    for (int a = 0; a < apps; ++a) sd::set_latency(kFirstPid + a, latency());
}

// (total elements, applications) -> seconds per variant.
std::map<std::pair<int, int>, std::map<int, double>> g_seconds;
std::map<std::pair<int, int>, std::map<int, std::size_t>> g_found;

void BM_DesktopSearch(benchmark::State& state) {
    const int total = static_cast<int>(state.range(0));
    const int apps = static_cast<int>(state.range(1));
    const auto variant = static_cast<Variant>(state.range(2));
    install(total, apps);
    auto provider = vemor::MacOSProvider::create();
    if (!provider) {
        state.SkipWithError(provider.error().message().c_str());
        return;
    }
    const auto group = *vemor::SelectorGroup::parse("button[name=\"OK\"], text_field[name$=\"7\"]");
    const std::size_t threads =
        variant == kPoolOne ? 1 : std::max(1u, std::thread::hardware_concurrency());
    tbb::global_control pool(tbb::global_control::max_allowed_parallelism, threads);

    std::size_t found = 0;
    sd::clear_call_log();
    for (auto _ : state) {
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
        found = r->size();
        state.SetIterationTime(seconds);
        g_seconds[{total, apps}][variant] = seconds;
    }
    g_found[{total, apps}][variant] = found;
    // Requests to the applications per element of the desktop, over all iterations.
    const std::size_t calls = sd::call_count("AXUIElementCopyAttributeValue") +
                              sd::call_count("AXUIElementCopyMultipleAttributeValues");
    state.counters["calls/element"] = static_cast<double>(calls) /
                                      static_cast<double>(state.iterations()) /
                                      (apps * app_elements(total / apps));
    state.counters["found"] = static_cast<double>(found);
    state.counters["threads"] = static_cast<double>(threads);
}

void Args(benchmark::internal::Benchmark* b) {
    for (auto [total, apps] :
         {std::pair{1000, 8}, std::pair{10000, 8}, std::pair{50000, 8}, std::pair{5000, 1}})
        for (int v : {kPoolOne, kPoolAll, kCoreWalk}) b->Args({total, apps, v});
}

BENCHMARK(BM_DesktopSearch)
    ->Apply(Args)
    ->ArgNames({"elements", "apps", "variant"})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void print_speedups() {
    std::printf("\nlatency %lld us per call, one request at a time per application; %u cores\n",
                static_cast<long long>(latency().count()), std::thread::hardware_concurrency());
    std::printf("%9s %5s %12s %12s %12s %14s %14s\n", "elements", "apps", "pool 1 (ms)",
                "pool all (ms)", "core walk (ms)", "all vs 1", "all vs core");
    for (const auto& [key, times] : g_seconds) {
        auto at = [&](int v) { return times.count(v) ? times.at(v) * 1000 : 0.0; };
        auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
        std::printf("%9d %5d %12.1f %12.1f %12.1f %13.2fx %13.2fx\n", key.first, key.second,
                    at(kPoolOne), at(kPoolAll), at(kCoreWalk), ratio(at(kPoolOne), at(kPoolAll)),
                    ratio(at(kCoreWalk), at(kPoolAll)));
        const auto& found = g_found[key];
        if (found.size() > 1 && std::any_of(found.begin(), found.end(), [&](const auto& f) {
                return f.second != found.begin()->second;
            }))
            std::printf("          warning: the variants found different numbers of matches\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    print_speedups();
    sd::reset_to_default_desktop();
    return 0;
}
