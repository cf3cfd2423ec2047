#include "vemor/shell.hpp"

#include <gtest/gtest.h>

#include "support/stub_provider.hpp"

#include "vemor/locator.hpp"
#include "vemor/mock.hpp"

namespace vemor {
namespace {

using namespace std::chrono_literals;

// A provider that lists the surfaces a test sets (or fails with its error); the rest fail.
class SurfaceProvider : public testing::StubProvider {
public:
    std::vector<std::pair<ShellSurfaceKind, ElementData>> surfaces;
    std::optional<Error> error;
    mutable int listings = 0;

    Result<std::vector<std::pair<ShellSurfaceKind, ElementData>>> list_shell_surfaces()
        const override {
        ++listings;
        if (error) return fail(*error);
        return surfaces;
    }
    Result<ElementList> app_roots(const ElementData&) const override { return ElementList{}; }
    Result<ElementList> find_elements_group(const ElementData*, const SelectorGroup&,
                                            std::optional<std::size_t>,
                                            std::optional<std::uint32_t>) const override {
        return ElementList{};
    }
};

std::pair<ShellSurfaceKind, ElementData> surface(ShellSurfaceKind kind,
                                                 std::optional<std::string> name,
                                                 std::optional<std::uint32_t> pid) {
    ElementData d;
    d.role = Role::Group;
    d.name = std::move(name);
    d.pid = pid;
    return {kind, d};
}

TEST(ShellSurface, ListsTheMockSurfacesWithTheirKind) {
    auto mock = mock::build_provider();
    auto list = ShellSurface::list_with(mock);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 2u);
    const auto& taskbar = (*list)[0];
    EXPECT_EQ(taskbar.kind(), ShellSurfaceKind::Taskbar);
    EXPECT_EQ(taskbar.name(), "Taskbar");
    EXPECT_EQ(taskbar.pid(), 4242u);
    EXPECT_EQ(taskbar.data().raw.at("shell_kind"), Json("taskbar"));
    EXPECT_EQ((*list)[1].kind(), ShellSurfaceKind::Desktop);
    EXPECT_EQ(shell::surface_candidates(*list),
              (std::vector<std::string>{"taskbar \"Taskbar\" (pid=4242)",
                                        "desktop \"Desktop\" (pid=4242)"}));
}

TEST(ShellSurface, SearchesAndActsUnderASurface) {
    auto mock = mock::build_provider();
    auto taskbar = ShellSurface::by_kind_with(mock, ShellSurfaceKind::Taskbar, 0s);
    ASSERT_TRUE(taskbar);
    EXPECT_EQ(taskbar->as_element()->handle, 13u);
    auto children = taskbar->children();
    ASSERT_TRUE(children);
    ASSERT_EQ(children->size(), 2u);
    EXPECT_EQ((*children)[1]->name, "Volume");

    auto buttons = taskbar->locator("button");
    EXPECT_EQ(buttons.count(), std::size_t{2});
    ASSERT_TRUE(taskbar->locator("button[name=\"Volume\"]").press());
    EXPECT_EQ(mock->actions(), (std::vector<MockAction>{{15, "press", {}}}));
    // The application's slider of the same name is outside this scope.
    EXPECT_EQ(taskbar->locator("slider").count(), std::size_t{0});
}

TEST(ShellSurface, MissingKindListsTheOthers) {
    auto mock = mock::build_provider();
    auto r = ShellSurface::by_kind_with(mock, ShellSurfaceKind::Dock, 0s);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(),
              "No element matched selector: shell_surface[kind=dock]; waiting for: a dock shell "
              "surface; last observed: no dock surface present; 2 other shell surface(s) "
              "enumerated; candidates: taskbar \"Taskbar\" (pid=4242), desktop \"Desktop\" "
              "(pid=4242)");
    EXPECT_EQ(r.error().diagnosis()->selector, std::nullopt);

    auto empty = std::make_shared<SurfaceProvider>();
    r = ShellSurface::by_kind_with(empty, ShellSurfaceKind::Dock, 0s);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(),
              "No element matched selector: shell_surface[kind=dock]; waiting for: a dock shell "
              "surface; last observed: no dock surface present; 0 other shell surface(s) "
              "enumerated");
    EXPECT_EQ(empty->listings, 1);
}

TEST(ShellSurface, SeveralOfOneKindFailAtOnce) {
    auto p = std::make_shared<SurfaceProvider>();
    p->surfaces = {surface(ShellSurfaceKind::StatusItems, "Wi-Fi", 300),
                   surface(ShellSurfaceKind::Dock, "Dock", 1),
                   surface(ShellSurfaceKind::StatusItems, "", 301)};
    // An hour-long time-out: waiting cannot help, so the call answers at once.
    auto r = ShellSurface::by_kind_with(p, ShellSurfaceKind::StatusItems, 3600s);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(),
              "No element matched selector: shell_surface[kind=status_items]; waiting for: "
              "exactly one status_items shell surface; last observed: 2 status_items surfaces "
              "are present; disambiguate with ShellSurface::list() and pick by pid; "
              "candidates: status_items \"Wi-Fi\" (pid=300), status_items \"status_items\" "
              "(pid=301)");
    EXPECT_EQ(p->listings, 1);
}

TEST(ShellSurface, ProviderErrorsEndTheWait) {
    auto p = std::make_shared<SurfaceProvider>();
    p->error = Error::Platform{-25204, "no answer"};
    auto r = ShellSurface::by_kind_with(p, ShellSurfaceKind::Dock, 3600s);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), Error(Error::Platform{-25204, "no answer"}));
    EXPECT_FALSE(ShellSurface::list_with(p));
}

TEST(ShellSurface, NamesAndKindAttribute) {
    auto p = std::make_shared<SurfaceProvider>();
    auto unnamed = surface(ShellSurfaceKind::MenuBar, "", std::nullopt);
    unnamed.second.raw["shell_kind"] = Json("bogus");
    p->surfaces = {unnamed, surface(ShellSurfaceKind::Flyout, std::nullopt, 7)};
    auto list = ShellSurface::list_with(p).value();
    EXPECT_EQ(list[0].name(), "menu_bar");
    EXPECT_EQ(list[0].data().raw.at("shell_kind"), Json("menu_bar"));
    EXPECT_EQ(list[1].name(), "flyout");
    EXPECT_EQ(shell::surface_candidates(list),
              (std::vector<std::string>{"menu_bar \"menu_bar\"", "flyout \"flyout\" (pid=7)"}));
}

TEST(ShellSurface, CandidateListIsBounded) {
    auto p = std::make_shared<SurfaceProvider>();
    for (std::uint32_t i = 0; i < 23; ++i)
        p->surfaces.push_back(surface(ShellSurfaceKind::Panel, fmt::format("P{}", i), i));
    auto lines = shell::surface_candidates(ShellSurface::list_with(p).value());
    ASSERT_EQ(lines.size(), 21u);
    EXPECT_EQ(lines[19], "panel \"P19\" (pid=19)");
    EXPECT_EQ(lines[20], "… (+3 more)");
}

}  // namespace
}  // namespace vemor
