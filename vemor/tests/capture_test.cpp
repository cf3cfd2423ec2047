#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "facade_test_support.hpp"
#include "vemor/app.hpp"
#include "vemor/facade/capture.hpp"
#include "vemor/standin/control.hpp"

namespace vemor::facade {
namespace {

using facade_test::BlankScreens;
using facade_test::build_tree;
using facade_test::Widget;

struct Scene {
    std::shared_ptr<MockProvider> mock;
    App app;
    std::shared_ptr<BlankScreens> screens;
    int fetches = 0;

    explicit Scene(const std::vector<Widget>& widgets, bool mapped = true, float scale = 1.0f)
        : mock(build_tree(widgets)),
          app(App::from_data(mock, mock->list_apps().value().front())),
          screens(std::make_shared<BlankScreens>(800, 600, scale, mapped)) {}

    Result<Annotated> capture(std::optional<Rect> region, const std::vector<Locator>& groups) {
        return screenshot_annotated_with(region, groups, [this]() -> Result<ScreenshotProviderHandle> {
            ++fetches;
            return ScreenshotProviderHandle(screens);
        });
    }
};

std::vector<std::string> tags(const Annotated& a) {
    std::vector<std::string> out;
    for (const auto& e : a.legend) out.push_back(e.tag);
    return out;
}

std::vector<Widget> many(Role role, std::size_t n, std::int32_t y) {
    std::vector<Widget> out;
    for (std::size_t i = 0; i < n; ++i)
        out.push_back({role, "w" + std::to_string(i),
                       Rect{static_cast<std::int32_t>(5 + (i % 60) * 12), y, 10, 10}});
    return out;
}

TEST(ScreenshotAnnotated, LegendOrderSelectorsAndOmissions) {
    Scene scene({
        {Role::Button, "A", Rect{10, 10, 20, 20}},
        {Role::Button, "B", std::nullopt},
        {Role::Button, "C", Rect{40, 10, 0, 20}},
        {Role::Button, "D", Rect{500, 500, 10, 10}},
        {Role::Button, "E", Rect{50, 50, 10, 10}},
        {Role::CheckBox, "X", Rect{100, 100, 10, 10}},
        {Role::CheckBox, "Y", Rect{120, 100, 10, 10}},
    });
    const std::vector<std::string> selectors{"  button\u3000", "check_box:nth(2)"};
    auto result = scene.capture(Rect{0, 0, 400, 300},
                                cli::annotation_locators(selectors, cli::Target(scene.app)));
    ASSERT_TRUE(result) << result.error().message();
    EXPECT_EQ(tags(*result), (std::vector<std::string>{"A1", "A5", "B2"}));
    const auto& legend = result->legend;
    EXPECT_EQ(legend[0].selector, "button:nth(1)");
    EXPECT_EQ(legend[0].role, "button");
    EXPECT_EQ(legend[0].name, "A");
    EXPECT_EQ(legend[0].bounds, (Rect{10, 10, 20, 20}));
    EXPECT_EQ(legend[0].color, (Rgb{0xE6, 0x9F, 0x00}));
    EXPECT_EQ(legend[1].selector, "button:nth(5)");
    EXPECT_EQ(legend[2].selector, "check_box:nth(2)");
    EXPECT_EQ(legend[2].index, 2u);
    EXPECT_EQ(legend[2].group, 2u);
    EXPECT_EQ(legend[2].color, (Rgb{0x56, 0xB4, 0xE9}));
    EXPECT_EQ(result->omitted,
              (std::vector<Omission>{
                  {"button:nth(2)", "button", "B", OmissionReason::NoBounds},
                  {"button:nth(3)", "button", "C", OmissionReason::ZeroArea},
                  {"button:nth(4)", "button", "D", OmissionReason::OutsideCapture},
              }));
    EXPECT_EQ(result->truncated, 0u);
    EXPECT_EQ(result->image.width, 400u);
    EXPECT_EQ(scene.screens->captures.load(), 1);
}

TEST(ScreenshotAnnotated, UndrawnEntriesLeaveTheLegendInDescendingOrder) {
    std::vector<Widget> widgets = many(Role::Button, 8, 20);
    widgets[2].bounds = Rect{2000, 10, 10, 10};
    widgets[6].bounds = Rect{-50, -50, 10, 10};
    Scene scene(widgets);
    auto result = scene.capture(std::nullopt, {scene.app.locator("button")});
    ASSERT_TRUE(result) << result.error().message();
    EXPECT_EQ(tags(*result), (std::vector<std::string>{"A1", "A2", "A4", "A5", "A6", "A8"}));
    ASSERT_EQ(result->omitted.size(), 2u);
    EXPECT_EQ(result->omitted[0].selector, "button:nth(7)");
    EXPECT_EQ(result->omitted[1].selector, "button:nth(3)");
    EXPECT_EQ(result->omitted[1].reason, OmissionReason::OutsideCapture);
}

TEST(ScreenshotAnnotated, TheCapCountsTheRestIntoTruncated) {
    std::vector<Widget> widgets = many(Role::Button, 60, 20);
    for (auto& w : many(Role::CheckBox, 60, 200)) widgets.push_back(w);
    for (auto& w : many(Role::RadioButton, 10, 400)) widgets.push_back(w);
    widgets[5].bounds.reset();  // an omission still takes one of the places
    Scene scene(widgets);
    auto result = scene.capture(std::nullopt, {scene.app.locator("button"),
                                              scene.app.locator("check_box"),
                                              scene.app.locator("radio_button")});
    ASSERT_TRUE(result) << result.error().message();
    EXPECT_EQ(result->legend.size() + result->omitted.size(), ANNOTATION_CAP);
    EXPECT_EQ(result->omitted.size(), 1u);
    EXPECT_EQ(result->truncated, 30u);
    EXPECT_EQ(result->legend.back().tag, "B40");

    // Reaching the cap exactly at a group's last match counts nothing.
    auto exact = scene.capture(std::nullopt, {scene.app.locator("button"),
                                             scene.app.locator("check_box").nth(40).value(),
                                             scene.app.locator("radio_button").nth(11).value()});
    ASSERT_TRUE(exact);
    EXPECT_EQ(exact->legend.size() + exact->omitted.size(), 61u);
    EXPECT_EQ(exact->truncated, 0u);
}

TEST(ScreenshotAnnotated, LocatorIndexDescribesOneMatchOrNone) {
    Scene scene({{Role::Button, "A", Rect{10, 10, 20, 20}}, {Role::Button, "B", Rect{40, 10, 20, 20}}});
    auto second = scene.capture(std::nullopt, {scene.app.locator("button").nth(2).value()});
    ASSERT_TRUE(second);
    EXPECT_EQ(tags(*second), (std::vector<std::string>{"A2"}));
    EXPECT_EQ(second->legend[0].name, "B");
    auto third = scene.capture(std::nullopt, {scene.app.locator("button").nth(3).value()});
    ASSERT_TRUE(third);
    EXPECT_TRUE(third->legend.empty());
    EXPECT_TRUE(third->omitted.empty());
    EXPECT_EQ(third->truncated, 0u);
}

TEST(ScreenshotAnnotated, NoGroupsIsAPlainCapture) {
    Scene scene({});
    auto result = scene.capture(std::nullopt, {});
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->legend.empty());
    EXPECT_TRUE(result->omitted.empty());
    EXPECT_EQ(result->truncated, 0u);
    EXPECT_EQ(scene.fetches, 1);
}

TEST(ScreenshotAnnotated, UnusableGroupsFailBeforeAnyCapture) {
    Scene scene({{Role::Button, "A", Rect{10, 10, 20, 20}}});
    struct Case {
        Locator locator;
        Error error;
    };
    const Case cases[] = {
        {Locator(scene.mock, std::nullopt, " [[\"x "),
         Error::InvalidSelector{
             "[[\"x",
             "annotation groups must be scoped to an application: a rootless locator is resolved "
             "once per application and the results concatenated, so the `:nth(n)` every legend "
             "entry carries would count within one application while the legend counts across "
             "all of them — and `[[\"x:nth(n)` would then name a different element than the box "
             "beside it. Scope the group, e.g. `app.locator(\"[[\\\"x\")`"}},
        // The hint's literal escapes only backslash and double quote: a combining accent and a
        // tab come back as written.
        {Locator(scene.mock, std::nullopt, "text[name=\"Cafe\u0301\tx\\\\\"]"),
         Error::InvalidSelector{
             "text[name=\"Cafe\u0301\tx\\\\\"]",
             "annotation groups must be scoped to an application: a rootless locator is resolved "
             "once per application and the results concatenated, so the `:nth(n)` every legend "
             "entry carries would count within one application while the legend counts across "
             "all of them — and `text[name=\"Cafe\u0301\tx\\\\\"]:nth(n)` would then name a "
             "different element than the box beside it. Scope the group, e.g. "
             "`app.locator(\"text[name=\\\"Cafe\u0301\tx\\\\\\\\\\\"]\")`"}},
        {scene.app.locator("button, check_box"),
         Error::InvalidSelector{
             "button, check_box",
             "annotation selectors cannot be comma-separated alternations: every legend entry "
             "names one element as `<selector>:nth(n)`, and `button, check_box:nth(n)` would "
             "bind to the last clause alone. Pass one annotation group per clause — each then "
             "also gets its own colour"}},
    };
    for (const auto& c : cases) {
        // A later group's failure fails the whole call, the earlier good group notwithstanding.
        auto result = scene.capture(std::nullopt, {scene.app.locator("button"), c.locator});
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error(), c.error);
    }
    auto unparsable = scene.capture(std::nullopt, {scene.app.locator("button[")});
    ASSERT_FALSE(unparsable);
    EXPECT_EQ(unparsable.error(), SelectorGroup::parse("button[").error());
    EXPECT_EQ(scene.fetches, 0);
    EXPECT_EQ(scene.screens->captures.load(), 0);
}

TEST(ScreenshotAnnotated, WithoutMappingTheScaledSizeDecidesTheReason) {
    Scene scene({{Role::Button, "tiny", Rect{3000, 3000, 1, 1}},
                 {Role::Button, "far", Rect{3000, 3000, 10, 10}}},
                /*mapped=*/false, /*scale=*/0.25f);
    auto result = scene.capture(std::nullopt, {scene.app.locator("button")});
    ASSERT_TRUE(result) << result.error().message();
    ASSERT_EQ(result->omitted.size(), 2u);
    EXPECT_EQ(result->omitted[0].name, "far");
    EXPECT_EQ(result->omitted[0].reason, OmissionReason::OutsideCapture);
    EXPECT_EQ(result->omitted[1].name, "tiny");
    EXPECT_EQ(result->omitted[1].reason, OmissionReason::ZeroArea);
}

TEST(ScreenshotElement, AnElementWithoutBoundsNeverReachesTheBackend) {
    auto mock = build_tree({{Role::Button, "B", std::nullopt}});
    auto buttons = App::from_data(mock, mock->list_apps().value().front()).locator("button").elements();
    ASSERT_TRUE(buttons);
    standin::clear_call_log();
    auto shot = screenshot_element(buttons->front());
    ASSERT_FALSE(shot);
    EXPECT_EQ(shot.error(), Error(Error::NoElementBounds{}));
    EXPECT_TRUE(standin::call_log().empty());
}

}  // namespace
}  // namespace vemor::facade
