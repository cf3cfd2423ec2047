#include "vemor/app.hpp"

#include <gtest/gtest.h>

#include "support/stub_provider.hpp"

#include "vemor/mock.hpp"

namespace vemor {
namespace {

using namespace std::chrono_literals;

// A provider whose tree and application operations are set by each test; the rest fail.
class ScriptedProvider : public testing::StubProvider {
public:
    ElementList apps;
    std::optional<ElementData> focused;
    Error focused_error = Error::SelectorNotMatched{"focused", std::nullopt};
    std::map<std::uint64_t, ElementList> children;  // by parent handle; also the windows
    std::map<std::uint64_t, ElementList> roots;     // by application handle
    bool splits = false;

    Result<ElementList> get_children(const ElementData* parent) const override {
        if (!parent) return apps;
        auto it = children.find(parent->handle);
        return it == children.end() ? ElementList{} : it->second;
    }
    Result<ElementList> list_apps() const override { return apps; }
    bool splits_app_across_entries() const override { return splits; }
    Result<ElementList> app_roots(const ElementData& a) const override {
        auto it = roots.find(a.handle);
        return it == roots.end() ? ElementList{a} : it->second;
    }
    Result<ElementData> focused_app() const override {
        if (focused) return *focused;
        return fail(focused_error);
    }
};

ElementData entry(Role role, std::optional<std::string> name, std::uint64_t handle,
                  std::optional<std::uint32_t> pid = std::nullopt,
                  std::optional<std::string> stable_id = std::nullopt) {
    ElementData d;
    d.role = role;
    d.name = std::move(name);
    d.handle = handle;
    d.pid = pid;
    d.stable_id = std::move(stable_id);
    return d;
}

std::vector<std::string> names(const std::vector<Element>& list) {
    std::vector<std::string> out;
    for (const auto& e : list) out.push_back(e->name.value_or("?"));
    return out;
}

TEST(App, ListsTheMockApplicationAsForeground) {
    auto mock = mock::build_provider();
    auto apps = App::list_with(mock);
    ASSERT_TRUE(apps);
    ASSERT_EQ(apps->size(), 1u);
    const App& app = apps->front();
    EXPECT_EQ(app.name(), "TestApp");
    EXPECT_EQ(app.pid(), 1234u);
    EXPECT_TRUE(app.data().states.focused);
    EXPECT_EQ(app.data().handle, 0u);

    // The split variant lists the same process twice; one entry is kept.
    auto split = mock::build_split_provider();
    EXPECT_EQ(App::list_with(split).value().size(), 1u);
    // The finders are offered the first entry only.
    std::vector<std::uint64_t> offered;
    auto none = App::find_with(
        split,
        [&](const App& a) {
            offered.push_back(a.data().handle);
            return false;
        },
        0s);
    EXPECT_FALSE(none);
    EXPECT_EQ(offered, std::vector<std::uint64_t>{split->list_apps().value().front().handle});
}

TEST(App, FromDataNeverFails) {
    auto mock = mock::build_provider();
    auto app = App::from_data(mock, entry(Role::Application, std::nullopt, 7));
    EXPECT_EQ(app.name(), "");
    EXPECT_EQ(app.pid(), std::nullopt);
    EXPECT_EQ(app.provider(), ProviderHandle(mock));
}

TEST(App, LookupsFindTheApplication) {
    auto mock = mock::build_provider();
    auto by_pid = App::by_pid_with(mock, 1234, 0s);
    ASSERT_TRUE(by_pid);
    EXPECT_EQ(by_pid->name(), "TestApp");
    // Only the foreground lookup sets the tag; the mock does not report it.
    EXPECT_FALSE(by_pid->data().states.focused);

    auto fg = App::foreground_with(mock, 0s);
    ASSERT_TRUE(fg);
    EXPECT_TRUE(fg->data().states.focused);

    auto by_name = App::by_name_with(mock, "TestApp", 0s);
    ASSERT_TRUE(by_name);
    EXPECT_EQ(by_name->pid(), 1234u);

    auto found = App::find_with(
        mock, [](const App& a) { return a.name() == "TestApp" && a.data().states.focused; }, 0s);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->data().handle, 0u);
}

TEST(App, MissesCarryTheRunningApplications) {
    auto mock = mock::build_provider();
    struct Case {
        std::string label;
        Result<App> result;
        std::string message;
    } cases[] = {
        {"pid", App::by_pid_with(mock, 4242, 0s),
         "No element matched selector: application[pid=4242]; waiting for: application "
         "discovery; last observed: enumerated 1 running apps, 0 without a resolvable pid; "
         "candidates: \"TestApp\" (pid=1234)"},
        {"case", App::by_name_with(mock, "testapp", 0s),
         "No element matched selector: application[name=\"testapp\"]; waiting for: "
         "application discovery; candidates: \"TestApp\" (pid=1234)"},
        {"space", App::by_name_with(mock, "TestApp ", 0s),
         "No element matched selector: application[name=\"TestApp \"]; waiting for: "
         "application discovery; candidates: \"TestApp\" (pid=1234)"},
        {"predicate",
         App::find_with(
             mock, [](const App&) { return false; }, 0s),
         "No element matched selector: application matching predicate; waiting for: "
         "application discovery; candidates: \"TestApp\" (pid=1234)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_FALSE(c.result);
        EXPECT_EQ(c.result.error().message(), c.message);
    }
}

TEST(App, NameWithAQuoteIsRefusedAtOnce) {
    auto mock = mock::build_provider();
    // An hour-long time-out: only an immediate refusal lets this test finish.
    auto r = App::by_name_with(mock, "Say \"hi\"", 3600s);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(),
              "Invalid selector 'Say \"hi\"': app name contains a double quote, which cannot be "
              "escaped in the selector grammar; use App::find_with with a name predicate "
              "instead");
}

TEST(App, PredicateErrorsEndTheSearch) {
    auto mock = mock::build_provider();
    int calls = 0;
    // Even a miss from the predicate is its own error, not an absent application.
    auto r = App::try_find_with(
        mock,
        [&](const App&) -> Result<bool> {
            ++calls;
            return fail(Error::SelectorNotMatched{"inner", std::nullopt});
        },
        250ms);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), Error(Error::SelectorNotMatched{"inner", std::nullopt}));
    EXPECT_EQ(calls, 1);

    r = App::try_find_with(
        mock,
        [](const App&) -> Result<bool> {
            return fail(Error::Platform{-1, "find() predicate raised"});
        },
        0s);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(), "Platform error (-1): find() predicate raised");
}

TEST(App, DuplicateProcessesKeepTheFirstEntry) {
    ElementList list{entry(Role::Application, "A", 1, 10), entry(Role::Application, "B", 2),
                     entry(Role::Application, "C", 3, 10), entry(Role::Application, "D", 4),
                     entry(Role::Application, "E", 5, 11)};
    app::dedup_processes(list);
    std::vector<std::uint64_t> handles;
    for (const auto& d : list) handles.push_back(d.handle);
    EXPECT_EQ(handles, (std::vector<std::uint64_t>{1, 2, 4, 5}));
}

TEST(App, ForegroundTagging) {
    auto p = std::make_shared<ScriptedProvider>();
    p->apps = {entry(Role::Application, "A", 1, 10, "a"), entry(Role::Application, "B", 2, 20),
               entry(Role::Application, "C", 3, std::nullopt, "c")};
    struct Case {
        const char* label;
        std::optional<ElementData> focused;
        std::vector<bool> tags;
    } cases[] = {
        {"same identity",
         entry(Role::Application, "x", 99, std::nullopt, "c"),
         {false, false, true}},
        {"same pid", entry(Role::Application, "x", 98, 20), {false, true, false}},
        {"nothing focused", std::nullopt, {false, false, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        p->focused = c.focused;
        ElementList list = p->apps;
        for (auto& d : list) d.states.focused = true;
        ASSERT_TRUE(app::tag_focused(*p, list));
        std::vector<bool> tags;
        for (const auto& d : list) tags.push_back(d.states.focused);
        EXPECT_EQ(tags, c.tags);
    }
    // Nothing focused still lists; any other failure fails the listing.
    EXPECT_EQ(App::list_with(p).value().size(), 3u);
    p->focused_error = Error::Platform{-25204, "no answer"};
    auto listed = App::list_with(p);
    ASSERT_FALSE(listed);
    EXPECT_EQ(listed.error(), Error(Error::Platform{-25204, "no answer"}));
    EXPECT_FALSE(App::find_with(
        p, [](const App&) { return true; }, 0s));
}

TEST(App, RunningApplicationsDiagnosisIsBounded) {
    auto p = std::make_shared<ScriptedProvider>();
    for (std::uint32_t i = 0; i < 21; ++i)
        p->apps.push_back(entry(Role::Application,
                                i == 1 ? std::nullopt : std::optional(fmt::format("A{}", i)), i,
                                i == 2 ? std::nullopt : std::optional(100 + i)));
    auto d = app::running_apps_diagnosis(*p);
    EXPECT_EQ(d.condition, "application discovery");
    ASSERT_EQ(d.candidates.size(), 21u);
    EXPECT_EQ(d.candidates[0], "\"A0\" (pid=100)");
    EXPECT_EQ(d.candidates[1], "\"\" (pid=101)");
    EXPECT_EQ(d.candidates[2], "\"A2\"");
    EXPECT_EQ(d.candidates[20], "… (+1 more)");
    EXPECT_EQ(d.selector, std::nullopt);
    EXPECT_EQ(d.last_observed, std::nullopt);
    EXPECT_EQ(d.scope, std::nullopt);

    class Failing : public ScriptedProvider {
        Result<ElementList> list_apps() const override { return fail(Error::Platform{-1, "down"}); }
    };
    EXPECT_EQ(
        app::running_apps_diagnosis(Failing{}).candidates,
        std::vector<std::string>{"(application enumeration failed: Platform error (-1): down)"});
}

TEST(App, MergeFillsOnlyEmptyFields) {
    Diagnosis extra = Diagnosis{}
                          .with_condition("c2")
                          .with_selector("s2")
                          .with_last_observed("l2")
                          .with_candidates({"x"});
    extra.scope = "scope2";

    auto bare = app::merge_diagnosis(Error::SelectorNotMatched{"sel", std::nullopt}, extra);
    ASSERT_NE(bare.diagnosis(), nullptr);
    Diagnosis want =
        Diagnosis{}.with_condition("c2").with_last_observed("l2").with_candidates({"x"});
    want.scope = "scope2";
    EXPECT_EQ(*bare.diagnosis(), want);

    Diagnosis own = Diagnosis{}.with_condition("c1").with_selector("s1").with_candidates({"y"});
    auto timeout = app::merge_diagnosis(Error::Timeout{1s, own}, extra);
    Diagnosis merged = Diagnosis{}
                           .with_condition("c1")
                           .with_selector("s1")
                           .with_last_observed("l2")
                           .with_candidates({"y"});
    merged.scope = "scope2";
    EXPECT_EQ(*timeout.diagnosis(), merged);

    Error other = Error::Platform{-1, "x"};
    EXPECT_EQ(app::merge_diagnosis(other, extra), other);
}

TEST(App, WindowsChildrenAndTreeOfTheMock) {
    auto mock = mock::build_provider();
    auto app = App::by_pid_with(mock, 1234, 0s).value();
    EXPECT_EQ(names(app.windows().value()), std::vector<std::string>{"Main Window"});
    EXPECT_EQ(names(app.children().value()), std::vector<std::string>{"Main Window"});
    EXPECT_EQ(app.dump(1).value(), "application \"TestApp\"\n  window \"Main Window\"\n");
    EXPECT_EQ(app.dump(0).value(), "application \"TestApp\"\n");
    auto full = app.dump(std::nullopt).value();
    EXPECT_TRUE(
        full.ends_with("      list \"Items\"\n        list_item \"Item 1\"\n"
                       "        list_item \"Item 2\"\n"));
    EXPECT_EQ(app.locator("button").count(), std::size_t{2});
    EXPECT_TRUE(app.locator("button").for_app());

    auto sub = app.subscribe();
    ASSERT_FALSE(sub);
    EXPECT_EQ(sub.error().message(),
              "Platform error (-1): MockProvider does not support subscribe");

    auto window = app.windows().value().front();
    auto r = App::windows_with(mock, window.data());
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), Error(Error::ActionNotSupported{"windows", Role::Window}));

    // Two entries of one process: the windows of both roots.
    auto split = mock::build_split_provider();
    auto both = App::by_name_with(split, "TestApp", 0s).value();
    EXPECT_EQ(names(both.windows().value()),
              (std::vector<std::string>{"Main Window", "Second Window"}));
}

TEST(App, WindowsOfAProcessSplitAcrossEntries) {
    auto p = std::make_shared<ScriptedProvider>();
    p->splits = true;
    ElementData first = entry(Role::Application, "Mail", 1, 50, "mail-1");
    ElementData second = entry(Role::Application, "Mail", 2, 50, "mail-2");
    p->apps = {first, second, entry(Role::Application, "Other", 3, 60)};
    p->children[1] = {entry(Role::Window, "Inbox", 10, 50, "w-inbox"),
                      entry(Role::Group, "Toolbar", 11, 50)};
    p->children[2] = {entry(Role::Window, "Inbox again", 12, 50, "w-inbox"),
                      entry(Role::Dialog, "Compose", 13, 50)};
    p->children[3] = {entry(Role::Window, "Elsewhere", 14, 60)};

    auto app = App::from_data(p, first);
    EXPECT_EQ(names(app.windows().value()), (std::vector<std::string>{"Inbox", "Compose"}));
    // Children are not filtered by role, and come from the app's own roots only.
    EXPECT_EQ(names(app.children().value()), (std::vector<std::string>{"Inbox", "Toolbar"}));

    // A provider that does not split never looks at other entries.
    p->splits = false;
    EXPECT_EQ(names(app.windows().value()), std::vector<std::string>{"Inbox"});

    // Several roots: each root's children, each window once.
    p->roots[1] = {first, second};
    EXPECT_EQ(names(app.children().value()),
              (std::vector<std::string>{"Inbox", "Toolbar", "Compose"}));
    auto tree = app.tree(1).value();
    ASSERT_EQ(tree.children.size(), 3u);
    EXPECT_TRUE(tree.children[0].children.empty());
    auto found = app.locator("window").elements().value();
    EXPECT_EQ(names(found), std::vector<std::string>{"Inbox"});
}

}  // namespace
}  // namespace vemor
