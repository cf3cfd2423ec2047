// The macOS search against the core search on the same tree: random simulated desktops and
// random selectors must select the same elements in the same order. The core side runs over a
// snapshot of the desktop taken through get_children. On every other desktop the applications
// take a transfer time per request, so that the walk's requests finish in no particular order
// while their results must still come out in document order. A bounded number of cases runs by
// default; VEMOR_SEARCH_DIFF_CASES=N runs N. Also: a chain far deeper than any stack allows.
#include <cstdlib>
#include <map>
#include <random>

#include <fmt/format.h>

#include "ax_test_support.hpp"

namespace vemor::axtest {
namespace {

constexpr pid_t kFirstPid = 4100;

// Titles and static texts come from disjoint word sets: a static text that repeats its parent's
// title is hidden by a rule the two searches read differently (raw title against snapshot name),
// a difference that is left as the platform model has it.
constexpr const char* kTitles[] = {"Open", "Save", "open file", "Close", "Saved", "OK", ""};
constexpr const char* kTexts[] = {"alpha", "Beta", "alphabet", "gamma 2"};
constexpr const char* kRoles[] = {"AXGroup", "AXButton", "AXStaticText", "AXTextField",
                                  "AXLink", "AXCheckBox", "AXList"};

class RandomDesktop {
public:
    explicit RandomDesktop(std::uint64_t seed) : rng_(seed) {}

    sd::DesktopSpec make(sd::AppLatency latency) {
        std::vector<sd::AppSpec> apps;
        const int app_count = 1 + below(3);
        for (int a = 0; a < app_count; ++a) {
            std::vector<ElementSpec> windows;
            const int window_count = 1 + below(2);
            for (int w = 0; w < window_count; ++w) {
                auto spec = window(pick(kTitles)).identifier(next_id());
                fill(spec, 2 + below(4));
                windows.push_back(std::move(spec));
            }
            apps.push_back(app(kFirstPid + a, fmt::format("App{}", a), std::move(windows)));
            apps.back().latency = latency;
        }
        return desktop(std::move(apps));
    }

private:
    int below(int n) { return static_cast<int>(rng_() % static_cast<std::uint64_t>(n)); }
    template <std::size_t N>
    const char* pick(const char* const (&words)[N]) {
        return words[below(static_cast<int>(N))];
    }
    std::string next_id() { return fmt::format("e{}", id_++); }

    void fill(ElementSpec& parent, int levels) {
        const int count = 1 + below(6);
        for (int i = 0; i < count; ++i) {
            const std::string role = pick(kRoles);
            auto child = ElementSpec(role).identifier(next_id());
            if (role == "AXStaticText") {
                child = std::move(child).value(std::string(pick(kTexts)));
            } else {
                if (below(4) != 0) child = std::move(child).title(pick(kTitles));
                if (below(3) == 0) child = std::move(child).description(pick(kTexts));
                if (role == "AXTextField" && below(2) == 0)
                    child = std::move(child).value(std::string(pick(kTexts)));
                if (below(5) == 0) child = std::move(child).enabled(false);
            }
            if (levels > 1 && (role == "AXGroup" || role == "AXList" || below(3) == 0))
                fill(child, levels - 1);
            parent.children.push_back(std::move(child));
        }
    }

    std::mt19937_64 rng_;
    int id_ = 0;
};

class RandomSelector {
public:
    explicit RandomSelector(std::uint64_t seed) : rng_(seed) {}

    std::string make() {
        std::string out;
        const int clauses = 1 + (below(3) == 0);
        for (int c = 0; c < clauses; ++c) {
            if (c > 0) out += ", ";
            const int segments = 1 + below(2) + (below(4) == 0);
            for (int s = 0; s < segments; ++s) {
                if (s > 0) out += below(2) == 0 ? " > " : " ";
                out += simple(c == 0 && s == 0);
            }
        }
        return out;
    }

private:
    int below(int n) { return static_cast<int>(rng_() % static_cast<std::uint64_t>(n)); }

    std::string simple(bool first) {
        static constexpr const char* kWords[] = {
            "button", "group",  "static_text", "text_field", "link",   "window",
            "*",      "check_box", "list",     "AXButton",   "button", "group",
            "*",      "group",  "button",      "text_field"};
        std::string out = first && below(8) == 0 ? "application" : kWords[below(16)];
        if (below(4) == 0) {
            static constexpr const char* kAttrs[] = {"name", "value", "description", "enabled"};
            static constexpr const char* kOps[] = {"=", "*=", "^=", "$="};
            static constexpr const char* kValues[] = {"open", "Save", "alpha", "true", "OK", ""};
            out += fmt::format("[{}{}\"{}\"]", kAttrs[below(4)], kOps[below(4)], kValues[below(6)]);
        }
        if (below(4) == 0) out += fmt::format(":nth({})", 1 + below(3));
        return out;
    }

    std::mt19937_64 rng_;
};

// Snapshot of the desktop through get_children, searched by the core over its own lists.
class SnapshotTree {
public:
    explicit SnapshotTree(const MacOSProvider& provider) {
        std::vector<const ElementData*> stack;
        top_ = value_of(provider.get_children(nullptr));
        for (const auto& e : top_) stack.push_back(&e);
        while (!stack.empty()) {
            const ElementData* parent = stack.back();
            stack.pop_back();
            auto& kids = children_[parent->handle];
            kids = value_of(provider.get_children(parent));
            all_.push_back(parent);
            for (const auto& k : kids) stack.push_back(&k);
        }
    }

    Result<ElementList> search(const ElementData* root, const SelectorGroup& group,
                               std::optional<std::size_t> limit) const {
        auto children = [this](const ElementData* parent) -> Result<ElementList> {
            if (!parent) return top_;
            auto it = children_.find(parent->handle);
            return it == children_.end() ? ElementList{} : it->second;
        };
        return selector::find_elements_in_tree_group(children, root, group, limit, std::nullopt);
    }

    // Elements that can be a search root: applications and windows.
    std::vector<const ElementData*> roots() const {
        std::vector<const ElementData*> out;
        for (const ElementData* e : all_)
            if (e->role == Role::Application || e->role == Role::Window) out.push_back(e);
        return out;
    }

private:
    ElementList top_;
    std::map<std::uint64_t, ElementList> children_;  // lists never move once filled
    std::vector<const ElementData*> all_;
};

std::vector<std::string> keys(const ElementList& list) {
    std::vector<std::string> out;
    for (const auto& e : list)
        out.push_back(fmt::format("{}:{}:{}", role::to_snake_case(e.role), e.name.value_or("-"),
                                  e.stable_id.value_or("-")));
    return out;
}

class SearchDifferentialTest : public DesktopTest {};

TEST_F(SearchDifferentialTest, SameElementsInTheSameOrderAsTheCoreSearch) {
    int cases = 240;
    if (const char* v = std::getenv("VEMOR_SEARCH_DIFF_CASES")) cases = std::max(1, std::atoi(v));
    constexpr int kSelectorsPerDesktop = 12;
    for (int d = 0; d < (cases + kSelectorsPerDesktop - 1) / kSelectorsPerDesktop; ++d) {
        const sd::AppLatency latency{.transfer = std::chrono::microseconds(d % 2 == 1 ? 20 : 0)};
        install(RandomDesktop(1000 + d).make(latency));
        const SnapshotTree tree(provider());
        const auto roots = tree.roots();
        RandomSelector selectors(5000 + d);
        for (int s = 0; s < kSelectorsPerDesktop; ++s) {
            const std::string text = selectors.make();
            const auto group = SelectorGroup::parse(text);
            ASSERT_TRUE(group) << text;
            const ElementData* root = (s % 3 == 0 || roots.empty()) ? nullptr
                                                                    : roots[s % roots.size()];
            const std::optional<std::size_t> limit =
                s % 4 == 1 ? std::optional<std::size_t>(1 + s % 3) : std::nullopt;
            SCOPED_TRACE(fmt::format("desktop {} selector '{}' root {} limit {}", d, text,
                                     root ? keys({*root})[0] : "desktop",
                                     limit ? std::to_string(*limit) : "none"));
            const auto expected = tree.search(root, *group, limit);
            ASSERT_TRUE(expected) << error_text(expected);
            EXPECT_EQ(keys(value_of(provider().find_elements_group(root, *group, limit,
                                                                   std::nullopt))),
                      keys(*expected));
        }
        check_released();
    }
}

// 100,000 nested groups under a window, a button at the bottom: found with a max depth that
// reaches it, not found with the default one, and no stack is exhausted either way.
TEST_F(SearchDifferentialTest, ChainFarDeeperThanAnyStack) {
    constexpr std::uint32_t kDepth = 100'000;
    install(desktop({app(kFirstPid, "Deep", {window("Top").identifier("top")})}));
    sd::ElementId parent = find(kFirstPid, "top");
    for (std::uint32_t d = 0; d < kDepth; ++d) parent = sd::add_element(parent, ElementSpec("AXGroup"));
    sd::add_element(parent, button("Bottom"));

    const auto apps = value_of(provider().list_apps());
    ASSERT_EQ(apps.size(), 1u);
    const auto group = *SelectorGroup::parse("button");
    EXPECT_EQ(keys(value_of(provider().find_elements_group(&apps[0], group, std::nullopt,
                                                           kDepth + 10))),
              std::vector<std::string>{"button:Bottom:-"});
    EXPECT_TRUE(value_of(provider().find_elements_group(&apps[0], group, std::nullopt,
                                                        std::nullopt))
                    .empty());
}

}  // namespace
}  // namespace vemor::axtest
