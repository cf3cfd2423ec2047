#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <set>

#include "vemor/selector.hpp"

namespace vemor {
namespace {

ElementData element(Role role, std::optional<std::string> name = std::nullopt) {
    ElementData e;
    e.role = role;
    e.name = std::move(name);
    return e;
}

SimpleSelector parse_simple(std::string_view text) {
    auto parsed = Selector::parse(text);
    EXPECT_TRUE(parsed.has_value()) << text;
    return parsed->segments.at(0).simple;
}

TEST(SelectorAttr, ResolvedTexts) {
    ElementData e = element(Role::CheckBox, "Wrap");
    e.value = "";
    e.stable_id = "wrap-1";
    e.states.enabled = true;
    e.states.modal = true;
    e.states.expanded = false;
    e.states.checked = CheckedState::Mixed;
    e.bounds = Rect{.x = 10, .y = -5, .width = 100, .height = 20};
    e.numeric_value = 50.0;
    e.min_value = 1e16;
    e.max_value = std::numeric_limits<double>::quiet_NaN();
    e.raw = {{"ax_role", "AXCheckBox"},
             {"count", 7},
             {"neg", -3},
             {"ratio", 0.5},
             {"big", 2.5e-7},
             {"flag", true},
             {"none", nullptr},
             {"list", {1, "a\"b"}},
             {"obj", {{"z", 1}, {"a", 2.0}}}};

    struct Case {
        std::string_view attr;
        std::optional<std::string> text;
    };
    const Case cases[] = {
        {"role", "check_box"},
        {"name", "Wrap"},
        {"value", ""},
        {"description", std::nullopt},
        {"stable_id", "wrap-1"},
        {"enabled", "true"},
        {"visible", "false"},
        {"focused", "false"},
        {"active", "false"},
        {"selected", "false"},
        {"editable", "false"},
        {"focusable", "false"},
        {"modal", "true"},
        {"required", "false"},
        {"busy", "false"},
        {"minimized", std::nullopt},
        {"maximized", std::nullopt},
        {"fullscreen", std::nullopt},
        {"expanded", "false"},
        {"checked", "mixed"},
        {"bounds", R"({"height":20,"width":100,"x":10,"y":-5})"},
        {"numeric_value", "50.0"},
        {"min_value", "1e+16"},
        {"max_value", std::nullopt},
        {"ax_role", "AXCheckBox"},
        {"count", "7"},
        {"neg", "-3"},
        {"ratio", "0.5"},
        {"big", "2.5e-7"},
        {"flag", "true"},
        {"none", std::nullopt},
        {"missing", std::nullopt},
        {"list", R"([1,"a\"b"])"},
        {"obj", R"({"a":2.0,"z":1})"},
        {"Name", std::nullopt},  // names are case-sensitive: a raw key, not the name
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.attr);
        EXPECT_EQ(selector::resolve_attr(e, c.attr), c.text);
    }
}

TEST(SelectorAttr, MatchOp) {
    using enum MatchOp;
    struct Case {
        MatchOp op;
        std::string_view value;
        std::optional<std::string_view> text;
        bool expected;
    };
    const Case cases[] = {
        {Exact, "OK", "OK", true},
        {Exact, "ok", "OK", false},
        {Exact, "", "", true},
        {Exact, "", std::nullopt, false},
        {Contains, "", std::nullopt, false},
        {Contains, "", "", true},
        {StartsWith, "", "x", true},
        {EndsWith, "", "x", true},
        {Contains, "ok", "Press OK now", true},
        {Contains, "OK", "ok", true},
        {Contains, "kn", "Press OK now", false},
        {StartsWith, "O", "OK", true},
        {StartsWith, "k", "OK", false},
        {EndsWith, "k", "OK", true},
        {EndsWith, "longer", "er", false},
        // Full Unicode lowercasing on both sides.
        {Contains, "GRÖSSE", "die größe", false},  // no case folding of ß
        {Contains, "GRÖ", "die größe", true},
        // Final sigma: the capital word lowercases with a final U+03C2.
        {EndsWith, "\u039f\u0394\u039f\u03a3", "\u03bf\u03b4\u03bf\u03c2", true},
        {EndsWith, "\u039f\u0394\u039f\u03a3", "\u03bf\u03b4\u03bf\u03c3", false},
        {EndsWith, "\u039f\u0394\u039f\u03a3", "\u0391\u039f\u0394\u039f\u03a3", true},
        {StartsWith, "i", "\u0130stanbul", true},  // İ lowercases to i + U+0307
        {Contains, "k", "\u212a", true},           // the Kelvin sign lowercases to k
        {Contains, "\u212a", "K", true},
        {Contains, "é", "CAFÉ", true},
        {Contains, "é", "CAFE", false},
        // Invalid bytes compare as U+FFFD and never crash.
        {Contains, "a",
         "\xff"
         "A",
         true},
        {Exact, "\xff", "\xef\xbf\xbd", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.op) << " " << c.value);
        EXPECT_EQ(selector::match_op(c.op, c.value, c.text), c.expected);
    }
}

TEST(SelectorAttr, MatchesSimple) {
    ElementData ok = element(Role::Button, "OK");
    ok.states.enabled = true;
    ok.raw = {{"ax_role", "AXButton"}, {"ax_subrole", "AXCloseButton"}, {"class_name", 3}};
    ElementData slider = element(Role::Slider);
    slider.numeric_value = 50;
    slider.states.enabled = false;
    ElementData big = element(Role::Slider);
    big.numeric_value = 1e16;
    ElementData unnamed = element(Role::Button);
    ElementData empty_name = element(Role::Button, "");
    ElementData link_ax = element(Role::Link, "Go");  // a raw role that disagrees with `role`
    link_ax.raw = {{"ax_role", "AXButton"}};
    ElementData other_platform = element(Role::Unknown);
    other_platform.raw = {{"atspi_role", "push_button"}, {"class_name", "Button"}};
    ElementData window = element(Role::Window, "Doc");
    window.states.minimized = false;
    window.states.checked = CheckedState::On;
    window.bounds = Rect{.x = 10, .y = -5, .width = 100, .height = 20};

    struct Case {
        std::string_view selector;
        const ElementData* e;
        bool expected;
    };
    const Case cases[] = {
        {"*", &unnamed, true},
        {"button", &ok, true},
        {"button", &slider, false},
        {"AXButton", &ok, true},
        {"AXCloseButton", &ok, true},
        {"AXButton", &unnamed, false},
        {"axbutton", &ok, false},
        {"3", &ok, false},  // a number in the raw map is not a role name
        {"AXButton", &link_ax, true},
        {"button", &link_ax, false},
        {"link", &link_ax, true},
        {"push_button", &other_platform, true},
        {"Button", &other_platform, true},
        {"button", &other_platform, false},
        {"AXButton[name='Go']", &link_ax, true},
        {"button[name=\"OK\"]", &ok, true},
        {"button[name=\"ok\"]", &ok, false},
        {"button[name*=\"ok\"]", &ok, true},
        {"button[name^=\"O\"]", &ok, true},
        {"button[name$=\"k\"]", &ok, true},
        {"[Name=\"OK\"]", &ok, false},
        {"[name='']", &empty_name, true},
        {"[name='']", &unnamed, false},
        {"[name*='']", &empty_name, true},
        {"[name^='']", &ok, true},
        {"[name$='']", &unnamed, false},
        {"slider[numeric_value='50.0']", &slider, true},
        {"slider[numeric_value='50']", &slider, false},
        {"slider[numeric_value='1e+16']", &big, true},
        {"[enabled=\"false\"]", &slider, true},
        {"[enabled=\"false\"]", &ok, false},
        {"[checked=\"on\"]", &ok, false},
        {"[checked=\"on\"]", &window, true},
        {"[minimized=\"false\"]", &ok, false},
        {"[minimized=\"false\"]", &window, true},
        {"[bounds*='\"x\":10,']", &window, true},
        {"[bounds='{\"height\":20,\"width\":100,\"x\":10,\"y\":-5}']", &window, true},
        {"button[name='OK'][role='button'][visible='false']", &ok, true},
        {"button[name='OK'][role='link']", &ok, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.selector);
        EXPECT_EQ(selector::matches_simple(*c.e, parse_simple(c.selector)), c.expected);
    }
}

TEST(SelectorAttr, ApplyNth) {
    struct Case {
        std::optional<std::uint64_t> nth;
        std::vector<std::string> out;
    };
    const Case cases[] = {
        {std::nullopt, {"a", "b", "c"}},
        {1, {"a"}},
        {3, {"c"}},
        {4, {}},
        {std::numeric_limits<std::uint64_t>::max(), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nth.value_or(0));
        std::vector<ElementData> list{element(Role::Button, "a"), element(Role::Button, "b"),
                                      element(Role::Button, "c")};
        selector::apply_nth(list, c.nth);
        std::vector<selector::PathMatch> pairs;
        for (std::uint32_t i = 0; i < 3; ++i)
            pairs.emplace_back(selector::ChildIndexPath{i},
                               element(Role::Button, std::string(1, char('a' + i))));
        selector::apply_nth_paths(pairs, c.nth);
        std::vector<std::string> names, pair_names;
        for (const auto& e : list) names.push_back(*e.name);
        for (const auto& p : pairs) pair_names.push_back(*p.second.name);
        EXPECT_EQ(names, c.out);
        EXPECT_EQ(pair_names, c.out);
    }
}

// An in-memory tree written as indented lines "role name"; handles are 1-based line numbers.
class Tree {
  public:
    explicit Tree(std::string_view text) {
        std::vector<std::size_t> open;  // the last node at each depth
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string_view::npos) end = text.size();
            std::string_view line = text.substr(start, end - start);
            start = end + 1;
            const std::size_t indent = line.find_first_not_of(' ');
            if (indent == std::string_view::npos) continue;
            line.remove_prefix(indent);
            const std::size_t depth = indent / 2;
            const std::size_t space = line.find(' ');
            ElementData e;
            e.role = role::from_snake_case(line.substr(0, space)).value();
            if (space != std::string_view::npos) e.name = std::string(line.substr(space + 1));
            e.handle = nodes_.size() + 1;
            nodes_.push_back(e);
            kids_.emplace_back();
            open.resize(depth);
            (depth == 0 ? top_ : kids_[open.back()]).push_back(nodes_.size() - 1);
            open.push_back(nodes_.size() - 1);
        }
    }

    selector::ChildrenFn children() {
        return [this](const ElementData* parent) -> Result<std::vector<ElementData>> {
            const std::uint64_t key = parent ? parent->handle : 0;
            ++calls[key];
            if (parent && fail_on && parent->name == fail_on)
                return fail(Error::Platform{.code = -25202, .message = "gone"});
            std::vector<ElementData> out;
            for (std::size_t i : parent ? kids_.at(parent->handle - 1) : top_)
                out.push_back(nodes_[i]);
            return out;
        };
    }

    Result<std::vector<std::string>> find(std::string_view text,
                                          std::optional<std::size_t> limit = std::nullopt,
                                          std::optional<std::uint32_t> max_depth = std::nullopt,
                                          const ElementData* root = nullptr) {
        auto group = SelectorGroup::parse(text);
        EXPECT_TRUE(group.has_value()) << text;
        auto found =
            selector::find_elements_in_tree_group(children(), root, *group, limit, max_depth);
        if (!found) return fail(found.error());
        std::vector<std::string> names;
        for (const auto& e : *found) names.push_back(e.name.value_or("?"));
        return names;
    }

    const ElementData& node(std::size_t handle) const { return nodes_.at(handle - 1); }

    std::map<std::uint64_t, int> calls;
    std::optional<std::string> fail_on;

  private:
    std::vector<ElementData> nodes_;
    std::vector<std::vector<std::size_t>> kids_;
    std::vector<std::size_t> top_;
};

constexpr std::string_view kDesktop = R"(
application Mail
  window Inbox
    group g1
      button b1
      text_field search
      button b2
    group g2
      link l1
      button b3
  window Compose
    button send
    link l2
application Notes
  window Notes
    button b4
    group g3
      group g4
        button b5
)";

using Names = std::vector<std::string>;

TEST(SelectorSearch, Results) {
    struct Case {
        std::string_view selector;
        Names found;
        std::optional<std::size_t> limit = std::nullopt;
        std::optional<std::uint32_t> max_depth = std::nullopt;
    };
    const Case cases[] = {
        {"button", {"b1", "b2", "b3", "send", "b4", "b5"}},
        {"application", {"Mail", "Notes"}},
        {"application button", {"b1", "b2", "b3", "send", "b4", "b5"}},
        {"application > window", {"Inbox", "Compose", "Notes"}},
        {"window > button", {"send", "b4"}},
        {"group button", {"b1", "b2", "b3", "b5"}},
        {"group > button:nth(2)", {"b2"}},
        {"button:nth(2)", {"b2"}},
        {"window:nth(3)", {"Notes"}},
        {"window:nth(4)", {}},
        {"[name^='b']", {"b1", "b2", "b3", "b4", "b5"}},
        {"button, link", {"b1", "b2", "l1", "b3", "send", "l2", "b4", "b5"}},
        {"link, button", {"b1", "b2", "l1", "b3", "send", "l2", "b4", "b5"}},
        {"button, button", {"b1", "b2", "b3", "send", "b4", "b5"}},
        {"button:nth(2), link", {"b2", "l1", "l2"}},
        {"button, link", {"b1", "b2", "l1"}, 3},
        {"button", {}, 0},
        {"button", {"b1", "b2"}, 2},
        {"button:nth(2)", {"b2"}, 1},
        {"button:nth(5)", {"b4"}, 1},
        {"button", {}, std::nullopt, 1},
        {"window", {"Inbox", "Compose", "Notes"}, std::nullopt, 1},
        {"*", {"Mail", "Notes"}, std::nullopt, 0},
        {"slider", {}},
    };
    Tree tree(kDesktop);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.selector);
        const auto found = tree.find(c.selector, c.limit, c.max_depth);
        ASSERT_TRUE(found.has_value()) << found.error().message();
        EXPECT_EQ(*found, c.found);
    }
}

TEST(SelectorSearch, UnderRoot) {
    Tree tree(kDesktop);
    const ElementData& mail = tree.node(1);
    EXPECT_EQ(tree.find("button", std::nullopt, std::nullopt, &mail),
              Names({"b1", "b2", "b3", "send"}));
    // With a root, `application` is no longer limited to the top level.
    EXPECT_EQ(tree.find("application", std::nullopt, std::nullopt, &mail), Names{});
    // Child steps are not bounded by the depth; only walks are.
    EXPECT_EQ(tree.find("window > button, group > link", std::nullopt, 0, &mail), Names{"send"});
    EXPECT_EQ(tree.find("window > button, window > group", std::nullopt, 1, &mail),
              Names({"g1", "g2", "send"}));
}

TEST(SelectorSearch, ApplicationReadsOnlyTheTopLevel) {
    Tree tree(kDesktop);
    ASSERT_TRUE(tree.find("application").has_value());
    EXPECT_EQ(tree.calls, (std::map<std::uint64_t, int>{{0, 1}}));
}

TEST(SelectorSearch, LimitStopsTheWalk) {
    Tree tree(kDesktop);
    ASSERT_EQ(tree.find("button", 1), Names{"b1"});
    // Mail, Inbox, g1 and b1 were opened; nothing after the first match.
    EXPECT_EQ(tree.calls, (std::map<std::uint64_t, int>{{0, 1}, {1, 1}, {2, 1}, {3, 1}}));
}

TEST(SelectorSearch, SeveralClausesAskEachParentOnce) {
    Tree tree(kDesktop);
    ASSERT_TRUE(tree.find("group button, window group > link, *").has_value());
    for (const auto& [parent, n] : tree.calls) {
        SCOPED_TRACE(parent);
        EXPECT_EQ(n, 1);
    }
}

TEST(SelectorSearch, DocumentOrderWhateverTheSteps) {
    // The first step matches g and its descendant h; h's button comes first in the tree.
    Tree tree(R"(
window w
  group g
    group h
      button inner
    button outer
)");
    EXPECT_EQ(tree.find("group > button"), Names({"inner", "outer"}));
    EXPECT_EQ(tree.find("group > button:nth(1)"), Names({"inner"}));
    EXPECT_EQ(tree.find("group > button, slider"), Names({"inner", "outer"}));
    // Duplicates reached through g and h appear once.
    EXPECT_EQ(tree.find("group button"), Names({"inner", "outer"}));
    EXPECT_EQ(tree.find("group button, slider"), Names({"inner", "outer"}));
}

TEST(SelectorSearch, DepthBound) {
    // A chain of groups 52 levels below the desktop, each named by its depth.
    std::string text;
    for (int d = 0; d < 53; ++d)
        text +=
            std::string(static_cast<std::size_t>(2 * d), ' ') + "group " + std::to_string(d) + "\n";
    Tree tree(text);
    const ElementData& root = tree.node(1);
    const auto found = tree.find("group", std::nullopt, std::nullopt, &root);
    ASSERT_TRUE(found.has_value());
    ASSERT_EQ(found->size(), 51u);  // depths 1..51: 51 levels below the root, not 52
    EXPECT_EQ(found->back(), "51");
    EXPECT_EQ(tree.calls.count(52), 0u);  // children at the bound are never asked for
    EXPECT_EQ(tree.find("group", std::nullopt, 0, &root), Names{"1"});
}

TEST(SelectorSearch, VeryDeepTreeIsWalkedWithoutRecursion) {
    // One chain of 100000 groups ending in a button; handles are the depths.
    constexpr std::uint64_t kDepth = 100000;
    const selector::ChildrenFn chain =
        [](const ElementData* parent) -> Result<std::vector<ElementData>> {
        const std::uint64_t next = parent ? parent->handle + 1 : 1;
        if (next > kDepth) return std::vector<ElementData>{};
        ElementData e = element(next == kDepth ? Role::Button : Role::Group);
        e.handle = next;
        return std::vector<ElementData>{e};
    };
    const auto group = SelectorGroup::parse("group:nth(3) button");
    const auto found = selector::find_elements_in_tree_group(
        chain, nullptr, *group, std::nullopt, std::numeric_limits<std::uint32_t>::max());
    ASSERT_TRUE(found.has_value());
    ASSERT_EQ(found->size(), 1u);
    EXPECT_EQ(found->front().handle, kDepth);
}

TEST(SelectorSearch, ChildrenErrorEndsTheSearch) {
    const Error gone = Error::Platform{.code = -25202, .message = "gone"};
    for (std::string_view selector :
         {"button", "button, link", "window > group", "window slider"}) {
        SCOPED_TRACE(selector);
        Tree tree(kDesktop);
        tree.fail_on = "Notes";  // fails when asked for the Notes application's children
        const auto found = tree.find(selector);
        ASSERT_FALSE(found.has_value());
        EXPECT_EQ(found.error(), gone);
    }
}

TEST(SelectorSearch, HandleZeroIsNoIdentity) {
    // Without handles, neither the children cache nor duplicate removal may merge elements.
    Tree tree(kDesktop);
    auto inner = tree.children();
    const selector::ChildrenFn anonymous =
        [&](const ElementData* parent) -> Result<std::vector<ElementData>> {
        auto kids = VEMOR_TRY(inner(parent));
        for (auto& k : kids) k.stable_id = std::to_string(k.handle);
        for (auto& k : kids) k.handle = 0;
        return kids;
    };
    // Children are asked by the hidden identity kept in stable_id.
    const selector::ChildrenFn by_id = [&](const ElementData* parent) {
        if (parent == nullptr) return anonymous(nullptr);
        ElementData real = *parent;
        real.handle = std::stoull(*parent->stable_id);
        return anonymous(&real);
    };
    for (std::string_view text :
         {"window > button", "window > button, link", "application button"}) {
        SCOPED_TRACE(text);
        const auto group = SelectorGroup::parse(text);
        const auto plain = selector::find_elements_in_tree_group(tree.children(), nullptr, *group,
                                                                 std::nullopt, std::nullopt);
        const auto anon = selector::find_elements_in_tree_group(by_id, nullptr, *group,
                                                                std::nullopt, std::nullopt);
        ASSERT_TRUE(plain.has_value() && anon.has_value());
        ASSERT_EQ(plain->size(), anon->size());
        for (std::size_t i = 0; i < plain->size(); ++i)
            EXPECT_EQ((*plain)[i].name, (*anon)[i].name);
    }
}

TEST(SelectorSearch, ViewVariantAgrees) {
    Tree tree(kDesktop);
    auto owned = tree.children();
    std::vector<std::vector<ElementData>> kept;  // keeps lent lists alive for the search
    const selector::ChildrenLookup lent =
        [&](const ElementData* parent) -> Result<std::span<const ElementData>> {
        kept.push_back(VEMOR_TRY(owned(parent)));
        return std::span<const ElementData>(kept.back());
    };
    kept.reserve(10000);
    for (std::string_view text : {"button", "group button", "window > button, link", "*:nth(4)"}) {
        SCOPED_TRACE(text);
        const auto group = SelectorGroup::parse(text);
        const auto a = selector::find_elements_in_tree_group(owned, nullptr, *group, std::nullopt,
                                                             std::nullopt);
        const auto b = selector::find_elements_in_tree_group_view(lent, nullptr, *group,
                                                                  std::nullopt, std::nullopt);
        EXPECT_EQ(a, b);
    }
}

TEST(SelectorSearch, WithPaths) {
    Tree tree(kDesktop);
    auto owned = tree.children();
    std::vector<std::vector<ElementData>> kept;
    kept.reserve(10000);
    const selector::ChildrenLookup lent =
        [&](const ElementData* parent) -> Result<std::span<const ElementData>> {
        kept.push_back(VEMOR_TRY(owned(parent)));
        return std::span<const ElementData>(kept.back());
    };
    const auto clause = Selector::parse("window > group button");
    const auto found =
        selector::find_elements_in_tree_with_paths(lent, nullptr, *clause, std::nullopt);
    ASSERT_TRUE(found.has_value());
    std::vector<std::pair<selector::ChildIndexPath, std::string>> got;
    for (const auto& [p, e] : *found) got.emplace_back(p, *e.name);
    EXPECT_EQ(got, (std::vector<std::pair<selector::ChildIndexPath, std::string>>{
                       {{0, 0, 0, 0}, "b1"},
                       {{0, 0, 0, 2}, "b2"},
                       {{0, 0, 1, 1}, "b3"},
                       {{1, 0, 1, 0, 0}, "b5"}}));
}

// The search as plainly written (recursive walk, children cache and path map as ordered maps),
// against which the stack-based walk with its lent lists and handle index is checked on random
// trees and selectors.
namespace plain {

using selector::ChildIndexPath;
using selector::ChildrenFn;

struct Walk {
    const ChildrenFn& children;
    const SimpleSelector& simple;
    std::uint32_t max_depth;
    std::optional<std::size_t> limit;
    bool full = false;

    Result<void> run(const ElementData* parent, std::uint32_t depth, ChildIndexPath& path,
                     std::vector<std::pair<ChildIndexPath, ElementData>>& out) {
        if (depth > max_depth || full) return {};
        if (limit && out.size() >= *limit) return {};
        const auto kids = VEMOR_TRY(children(parent));
        for (std::uint32_t i = 0; i < kids.size(); ++i) {
            path.push_back(i);
            if (selector::matches_simple(kids[i], simple)) {
                out.emplace_back(path, kids[i]);
                if (limit && out.size() == *limit) full = true;
            }
            if (!full) VEMOR_TRY_VOID(run(&kids[i], depth + 1, path, out));
            path.pop_back();
            if (full) return {};
        }
        return {};
    }
};

template <class T>
void nth(std::vector<T>& list, std::optional<std::uint64_t> n) {
    if (!n) return;
    if (list.size() < *n) {
        list.clear();
    } else {
        T keep = list[*n - 1];
        list = {keep};
    }
}

std::uint32_t first_bound(const ElementData* root, const SimpleSelector& s, std::uint32_t m) {
    return root == nullptr && s.role == RoleConstraint(Role::Application) ? 0 : m;
}

Result<std::vector<ElementData>> one_clause(const ChildrenFn& children, const ElementData* root,
                                            const Selector& clause,
                                            std::optional<std::size_t> limit, std::uint32_t m) {
    const SimpleSelector& first = clause.segments[0].simple;
    std::optional<std::size_t> walk_limit;
    if (clause.segments.size() == 1 && limit)
        walk_limit = first.nth ? std::max<std::size_t>(*limit, *first.nth) : *limit;
    else if (first.nth)
        walk_limit = *first.nth;
    std::vector<std::pair<ChildIndexPath, ElementData>> found;
    ChildIndexPath path;
    VEMOR_TRY_VOID(
        (Walk{children, first, first_bound(root, first, m), walk_limit}.run(root, 0, path, found)));
    std::vector<ElementData> current;
    for (auto& [p, e] : found) current.push_back(e);
    nth(current, first.nth);
    for (std::size_t s = 1; s < clause.segments.size(); ++s) {
        const SelectorSegment& seg = clause.segments[s];
        std::vector<ElementData> next;
        for (const ElementData& e : current) {
            if (seg.combinator == Combinator::Child) {
                for (const auto& k : VEMOR_TRY(children(&e)))
                    if (selector::matches_simple(k, seg.simple)) next.push_back(k);
            } else {
                std::vector<std::pair<ChildIndexPath, ElementData>> below;
                ChildIndexPath p;
                VEMOR_TRY_VOID((Walk{children, seg.simple, m, std::nullopt}.run(&e, 0, p, below)));
                for (auto& [q, f] : below) next.push_back(f);
            }
        }
        std::vector<ElementData> unique;
        std::set<std::uint64_t> seen;
        for (auto& e : next)
            if (seen.insert(e.handle).second) unique.push_back(e);
        nth(unique, seg.simple.nth);
        current = unique;
    }
    if (limit && current.size() > *limit) current.resize(*limit);
    return current;
}

Result<std::vector<ElementData>> group(const ChildrenFn& fetch, const ElementData* root,
                                       const SelectorGroup& g, std::optional<std::size_t> limit,
                                       std::optional<std::uint32_t> max_depth) {
    const std::uint32_t m = max_depth.value_or(50);
    if (g.selectors.size() == 1) return one_clause(fetch, root, g.selectors[0], limit, m);
    std::map<std::optional<std::uint64_t>, std::vector<ElementData>> cache;
    const ChildrenFn cached = [&](const ElementData* parent) -> Result<std::vector<ElementData>> {
        const auto key = parent ? std::optional(parent->handle) : std::nullopt;
        if (auto it = cache.find(key); it != cache.end()) return it->second;
        auto kids = VEMOR_TRY(fetch(parent));
        cache[key] = kids;
        return kids;
    };
    std::map<ChildIndexPath, ElementData> merged;
    for (const Selector& clause : g.selectors) {
        const SimpleSelector& first = clause.segments[0].simple;
        std::vector<std::pair<ChildIndexPath, ElementData>> current;
        ChildIndexPath path;
        VEMOR_TRY_VOID((Walk{cached, first, first_bound(root, first, m), std::nullopt}.run(
            root, 0, path, current)));
        nth(current, first.nth);
        for (std::size_t s = 1; s < clause.segments.size(); ++s) {
            const SelectorSegment& seg = clause.segments[s];
            std::vector<std::pair<ChildIndexPath, ElementData>> next;
            for (const auto& [p, e] : current) {
                if (seg.combinator == Combinator::Child) {
                    const auto kids = VEMOR_TRY(cached(&e));
                    for (std::uint32_t i = 0; i < kids.size(); ++i) {
                        if (!selector::matches_simple(kids[i], seg.simple)) continue;
                        auto q = p;
                        q.push_back(i);
                        next.emplace_back(q, kids[i]);
                    }
                } else {
                    auto q = p;
                    VEMOR_TRY_VOID((Walk{cached, seg.simple, m, std::nullopt}.run(&e, 0, q, next)));
                }
            }
            std::vector<std::pair<ChildIndexPath, ElementData>> unique;
            std::set<ChildIndexPath> seen;
            for (auto& pe : next)
                if (seen.insert(pe.first).second) unique.push_back(pe);
            nth(unique, seg.simple.nth);
            current = unique;
        }
        for (auto& [p, e] : current) merged.emplace(p, e);
    }
    std::vector<ElementData> out;
    for (auto& [p, e] : merged) out.push_back(e);
    if (limit && out.size() > *limit) out.resize(*limit);
    return out;
}

}  // namespace plain

TEST(SelectorSearch, AgreesWithThePlainSearchOnRandomTrees) {
    std::mt19937 rng(11);
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    // `application` only leads a clause: below the top level it would match nothing.
    const std::string_view heads[] = {"group",  "group", "button", "link",
                                      "window", "*",     "",       "application"};
    const std::string_view filters[] = {"", "", "", "[name='a']", "[name^='B']", "[name*='']"};
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE(round);
        // A random desktop: applications on top, then random roles and names a, b or none.
        std::string text;
        const std::size_t size = 1 + pick(80);
        std::size_t depth = 0;
        const std::string_view roles[] = {"window", "group", "button", "link"};
        for (std::size_t i = 0; i < size; ++i) {
            // Mostly one level deeper or a sibling, sometimes back up towards the top.
            const std::size_t step = pick(4);
            depth = i == 0 ? 0 : step < 2 ? depth + 1 : step == 2 ? depth : pick(depth + 1);
            text += std::string(2 * depth, ' ');
            text += depth == 0 ? "application" : roles[pick(4)];
            const std::size_t name = pick(3);
            if (name != 2) text += name == 0 ? " a" : " b";
            text += '\n';
        }
        Tree tree(text);

        std::string sel;
        for (std::size_t c = 0, clauses = 1 + pick(3); c < clauses; ++c) {
            if (c > 0) sel += ", ";
            for (std::size_t s = 0, segments = 1 + pick(3); s < segments; ++s) {
                if (s > 0) sel += pick(2) == 0 ? " " : " > ";
                std::string simple = std::string(heads[pick(std::size(heads) - (s > 0))]) +
                                     std::string(filters[pick(std::size(filters))]);
                if (pick(4) == 0) simple += ":nth(" + std::to_string(1 + pick(3)) + ")";
                sel += simple.empty() ? "*" : simple;
            }
        }
        SCOPED_TRACE(sel);
        const auto group = SelectorGroup::parse(sel);
        ASSERT_TRUE(group.has_value()) << group.error().message();
        const std::optional<std::size_t> limit =
            pick(3) == 0 ? std::optional<std::size_t>(pick(5)) : std::nullopt;
        const std::optional<std::uint32_t> max_depth =
            pick(3) == 0 ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(pick(4)))
                         : std::nullopt;
        const ElementData* root =
            pick(3) == 0 ? &tree.node(1 + pick(std::min<std::size_t>(size, 8))) : nullptr;

        const auto fetch = tree.children();
        const auto want = plain::group(fetch, root, *group, limit, max_depth);
        const auto got =
            selector::find_elements_in_tree_group(fetch, root, *group, limit, max_depth);
        ASSERT_TRUE(want.has_value() && got.has_value());
        EXPECT_EQ(*got, *want);
    }
}

}  // namespace
}  // namespace vemor
