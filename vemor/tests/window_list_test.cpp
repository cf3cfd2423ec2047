#include <gtest/gtest.h>

#include "vemor/facade/window_list.hpp"
#include "vemor/mock.hpp"

namespace vemor::cli {
namespace {

ElementData window(std::optional<std::uint32_t> pid, std::uint64_t handle, Json bus,
                   std::optional<std::string> id) {
    ElementData d;
    d.role = Role::Window;
    d.pid = pid;
    d.handle = handle;
    if (!bus.is_null()) d.raw["bus_name"] = std::move(bus);
    d.stable_id = std::move(id);
    return d;
}

TEST(WindowKey, BusNameAndIdElseTheHandle) {
    EXPECT_EQ(window_key(window(7, 3, ":1.5", "w1")), "7::1.5:w1");
    EXPECT_EQ(window_key(window(7, 3, ":1.5", std::nullopt)), "7:h3");
    EXPECT_EQ(window_key(window(7, 3, 15, "w1")), "7:h3");
    EXPECT_EQ(window_key(window(std::nullopt, 9, nullptr, "w1")), "0:h9");
}

TEST(DedupWindows, KeepsTheFirstOfEachKeyInOrder) {
    auto provider = mock::build_provider();
    std::vector<Element> windows;
    for (auto [pid, handle, name] : {std::tuple{1u, 10u, "a"}, {2u, 10u, "b"}, {1u, 10u, "c"},
                                     {1u, 11u, "d"}}) {
        ElementData d = window(pid, handle, nullptr, std::nullopt);
        d.name = name;
        windows.emplace_back(d, provider);
    }
    std::vector<std::string> kept;
    for (const auto& w : dedup_windows(std::move(windows))) kept.push_back(*w.data().name);
    EXPECT_EQ(kept, (std::vector<std::string>{"a", "b", "d"}));
}

}  // namespace
}  // namespace vemor::cli
