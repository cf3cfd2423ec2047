// The parallel search from several caller threads at once, over applications that answer one
// request at a time: results keep document order and every platform object is released.
#include <chrono>
#include <new>
#include <thread>

#include "../../src/pool.hpp"
#include "ax_test_support.hpp"

namespace vemor::axtest {
namespace {

using namespace std::chrono_literals;

constexpr pid_t kFirst = 801;
constexpr int kApps = 3;

// A window of `rows` groups, each holding a button and a text field; every third group nests
// another group with a link.
ElementSpec form(const std::string& title, int rows) {
    auto w = window(title);
    for (int r = 0; r < rows; ++r) {
        auto g = ElementSpec("AXGroup").title(fmt::format("{}-{}", title, r));
        g.children = {button(fmt::format("{}-b{}", title, r)),
                      ElementSpec("AXTextField").description(fmt::format("{}-t{}", title, r))};
        if (r % 3 == 0) {
            auto inner = ElementSpec("AXGroup");
            inner.children = {ElementSpec("AXLink").title(fmt::format("{}-l{}", title, r))};
            g.children.push_back(std::move(inner));
        }
        w.children.push_back(std::move(g));
    }
    return w;
}

class ParallelSearchTest : public DesktopTest {
protected:
    void SetUp() override {
        std::vector<sd::AppSpec> apps;
        for (int a = 0; a < kApps; ++a)
            apps.push_back(app(kFirst + a, fmt::format("App{}", a),
                               {form(fmt::format("W{}a", a), 8), form(fmt::format("W{}b", a), 5)}));
        install(desktop(std::move(apps)));
        for (int a = 0; a < kApps; ++a) sd::set_latency(kFirst + a, 20us);
    }

    std::vector<std::string> names(Result<ElementList> found) {
        std::vector<std::string> out;
        for (const auto& e : value_of(std::move(found))) out.push_back(e.name.value_or(""));
        return out;
    }

    // The same search through the core's sequential tree walk over get_children.
    std::vector<std::string> core_walk(const ElementData* root, const SelectorGroup& group) {
        auto children = [&](const ElementData* parent) { return provider().get_children(parent); };
        return names(selector::find_elements_in_tree_group(children, root, group, std::nullopt,
                                                           std::nullopt));
    }
};

TEST_F(ParallelSearchTest, ConcurrentSearchesAgreeWithTheCoreWalk) {
    const SelectorGroup groups[] = {*SelectorGroup::parse("link, button"),
                                    *SelectorGroup::parse("group text_field")};
    const auto apps = value_of(provider().list_apps());
    ASSERT_EQ(apps.size(), static_cast<std::size_t>(kApps));

    // Per group: the results under each application, then over the whole desktop.
    std::vector<std::vector<std::string>> expected;
    for (const auto& group : groups) {
        for (const auto& a : apps) expected.push_back(core_walk(&a, group));
        expected.push_back(core_walk(nullptr, group));
    }
    ASSERT_EQ(expected[0].size(), 8u + 5u + 3u + 2u);

    constexpr int kThreads = 6;
    std::vector<std::vector<std::vector<std::string>>> per_thread(kThreads);
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (const auto& group : groups) {
                    for (const auto& a : apps)
                        per_thread[t].push_back(names(
                            provider().find_elements_group(&a, group, std::nullopt, std::nullopt)));
                    per_thread[t].push_back(names(provider().find_elements_group(
                        nullptr, group, std::nullopt, std::nullopt)));
                }
            });
        }
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(per_thread[t], expected) << "thread " << t;
}

TEST_F(ParallelSearchTest, ChildrenAndLimitsUnderConcurrency) {
    const auto apps = value_of(provider().list_apps());
    const auto windows = value_of(provider().app_windows(apps[1]));
    ASSERT_EQ(windows.size(), 2u);
    const auto first_children = names(provider().get_children(&windows[0]));
    ASSERT_EQ(first_children.size(), 8u);

    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(names(provider().get_children(&windows[0])), first_children);
                EXPECT_EQ(names(provider().find_elements_group(
                              &apps[1], *SelectorGroup::parse("button:nth(3)"), 1, std::nullopt)),
                          std::vector<std::string>{"W1a-b2"});
                EXPECT_EQ(names(provider().find_elements_group(
                              nullptr, *SelectorGroup::parse("link"), 2, std::nullopt)),
                          (std::vector<std::string>{"W0a-l0", "W0a-l3"}));
            }
        });
    }
}

// An exception inside a pool loop (allocation failure) ends the loop as a Platform error of the
// operation; every other iteration still ran to its end.
TEST(PoolBoundary, ExceptionsBecomePlatformErrors) {
    std::atomic<int> ran = 0;
    auto r = macos::try_parallel_each("selector search", 16, [&](std::size_t i) {
        ++ran;
        if (i == 5) throw std::bad_alloc();
    });
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), Error(Error::Platform{-1, "selector search: std::bad_alloc"}));
    EXPECT_GE(ran.load(), 1);
    EXPECT_TRUE(macos::try_parallel_each("get_children", 3, [](std::size_t) {}));
}

}  // namespace
}  // namespace vemor::axtest
