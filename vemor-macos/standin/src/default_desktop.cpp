// The element builder and the default desktop: one 1440 x 900 display (2 pixels per point), a
// menu bar, status items, the Dock, Finder with its desktop, and TextEdit (frontmost), Settings
// and Notes. Every element a test is likely to reach has an AXIdentifier ("app.thing").
#include <string_view>
#include <utility>

#include "vemor/standin/control.hpp"

namespace vemor::standin {

// --- Builder ---------------------------------------------------------------------------------

ElementSpec::ElementSpec(std::string role) { attributes["AXRole"] = Value(std::move(role)); }

ElementSpec&& ElementSpec::attr(std::string name, Value value) && {
    attributes[std::move(name)] = std::move(value);
    return std::move(*this);
}
ElementSpec&& ElementSpec::settable_attr(std::string name, Value value) && {
    settable.insert(name);
    attributes[std::move(name)] = std::move(value);
    return std::move(*this);
}
ElementSpec&& ElementSpec::subrole(std::string s) && {
    return std::move(*this).attr("AXSubrole", std::move(s));
}
ElementSpec&& ElementSpec::title(std::string s) && {
    return std::move(*this).attr("AXTitle", std::move(s));
}
ElementSpec&& ElementSpec::description(std::string s) && {
    return std::move(*this).attr("AXDescription", std::move(s));
}
ElementSpec&& ElementSpec::help(std::string s) && {
    return std::move(*this).attr("AXHelp", std::move(s));
}
ElementSpec&& ElementSpec::identifier(std::string s) && {
    return std::move(*this).attr("AXIdentifier", std::move(s));
}
ElementSpec&& ElementSpec::value(Value v) && {
    return std::move(*this).attr("AXValue", std::move(v));
}
ElementSpec&& ElementSpec::frame(double x, double y, double width, double height) && {
    attributes["AXPosition"] = Value(CGPoint{x, y});
    attributes["AXSize"] = Value(CGSize{width, height});
    return std::move(*this);
}
ElementSpec&& ElementSpec::enabled(bool on) && { return std::move(*this).attr("AXEnabled", on); }
ElementSpec&& ElementSpec::focusable() && {
    return std::move(*this).settable_attr("AXFocused", false);
}
ElementSpec&& ElementSpec::action(std::string name, Effect effect) && {
    actions.push_back(ActionSpec{std::move(name), std::move(effect)});
    return std::move(*this);
}
ElementSpec&& ElementSpec::child(ElementSpec c) && {
    children.push_back(std::move(c));
    return std::move(*this);
}
ElementSpec&& ElementSpec::unlisted() && {
    listed = false;
    return std::move(*this);
}

namespace {

using E = ElementSpec;

// --- Kinds of elements, as the applications below use them --------------------------------------

E control(std::string role, double x, double y, double w, double h) {
    return E(std::move(role)).frame(x, y, w, h).enabled(true);
}

E button(std::string title, std::string id, double x, double y, double w, double h,
         Effect press = Effect::none()) {
    return control("AXButton", x, y, w, h)
        .title(std::move(title))
        .identifier(std::move(id))
        .focusable()
        .action("AXPress", std::move(press));
}

E check_box(std::string title, std::string id, bool on, double x, double y) {
    return control("AXCheckBox", x, y, 180, 20)
        .title(std::move(title))
        .identifier(std::move(id))
        .settable_attr("AXValue", std::int64_t{on ? 1 : 0})
        .focusable()
        .action("AXPress", Effect::toggle());
}

E radio(std::string title, std::string id, bool on, double x, double y) {
    return control("AXRadioButton", x, y, 90, 20)
        .title(std::move(title))
        .identifier(std::move(id))
        .attr("AXValue", std::int64_t{on ? 1 : 0})
        .focusable()
        .action("AXPress", Effect::choose());
}

E text_field(std::string description, std::string id, std::string value, double x, double y,
             double w) {
    return control("AXTextField", x, y, w, 22)
        .description(std::move(description))
        .identifier(std::move(id))
        .settable_attr("AXValue", std::move(value))
        .settable_attr("AXSelectedText", std::string())
        .settable_attr("AXSelectedTextRange", CFRange{0, 0})
        .focusable()
        .action("AXConfirm");
}

E search_field(std::string id, double x, double y) {
    return text_field("Search", std::move(id), "", x, y, 180).subrole("AXSearchField");
}

E label(std::string text, std::string id, double x, double y, double w) {
    E l = E("AXStaticText").frame(x, y, w, 18).value(std::move(text));
    if (!id.empty()) return std::move(l).identifier(std::move(id));
    return l;
}

E menu(std::string id, std::vector<std::string> items, double x, double y) {
    E m = E("AXMenu")
              .identifier(std::move(id))
              .frame(x, y, 220, 22.0 * items.size())
              .attr("AXHidden", true);
    double iy = y;
    for (auto& t : items) {
        std::move(m).child(control("AXMenuItem", x, iy, 220, 22)
                               .title(t)
                               .action("AXPress", Effect::cancel_menu())
                               .action("AXCancel", Effect::cancel_menu()));
        iy += 22;
    }
    return m;
}

E menu_bar_item(std::string title, std::string id, double x, double w,
                std::vector<std::string> items) {
    return control("AXMenuBarItem", x, 0, w, 24)
        .title(title)
        .identifier(id)
        .action("AXPress", Effect::show_menu())
        .action("AXCancel")
        .child(menu(id + ".menu", std::move(items), x, 24));
}

E menu_bar(std::string app_name, std::string prefix, std::vector<std::string> extra_menus) {
    E bar = control("AXMenuBar", 0, 0, 1440, 24).identifier(prefix + ".menubar");
    std::move(bar).child(menu_bar_item("Apple", prefix + ".menu.apple", 8, 30,
                                       {"About This Mac", "System Settings…", "Sleep"}));
    std::move(bar).child(menu_bar_item(app_name, prefix + ".menu.app", 40, 90,
                                       {"About " + app_name, "Settings…", "Quit " + app_name}));
    double x = 130;
    for (auto& m : extra_menus) {
        double w = 14.0 + 8.0 * static_cast<double>(m.size());
        std::move(bar).child(menu_bar_item(m, prefix + ".menu." + m, x, w, {"Undo", "Redo"}));
        x += w;
    }
    return bar;
}

// A standard window with its title-bar buttons and a title label that repeats its name.
E make_window(std::string title, std::string id, double x, double y, double w, double h) {
    E win = E("AXWindow")
                .subrole("AXStandardWindow")
                .title(title)
                .identifier(id)
                .frame(x, y, w, h)
                .settable_attr("AXMinimized", false)
                .settable_attr("AXFullScreen", false)
                .settable_attr("AXMain", false)
                .attr("AXModal", false)
                .action("AXRaise", Effect::raise());
    win.settable.insert("AXPosition");
    win.settable.insert("AXSize");
    return std::move(win)
        .child(button("", id + ".close", x + 8, y + 6, 14, 14, Effect::close_window())
                   .subrole("AXCloseButton"))
        .child(button("", id + ".minimize", x + 28, y + 6, 14, 14, Effect::minimize_window())
                   .subrole("AXMinimizeButton"))
        .child(button("", id + ".zoom", x + 48, y + 6, 14, 14, Effect::zoom_window())
                   .subrole("AXFullScreenButton"))
        .child(label(title, id + ".title", x + w / 2 - 60, y + 4, 120));
}

E toolbar(double x, double y, double w) { return control("AXToolbar", x, y, w, 38); }

// --- The applications ----------------------------------------------------------------------

AppSpec dock() {
    E list = E("AXList").description("Dock").frame(320, 830, 800, 66);
    double x = 330;
    for (const char* name : {"Finder", "TextEdit", "Settings", "Notes", "Trash"}) {
        std::string id = std::string("dock.") + name;
        std::move(list).child(control("AXDockItem", x, 836, 56, 56)
                                  .title(name)
                                  .identifier(id)
                                  .action("AXPress")
                                  .action("AXShowMenu"));
        x += 64;
    }
    return AppSpec{.pid = default_pids::kDock,
                   .name = "Dock",
                   .element = E().child(std::move(list)),
                   .window_entries = false};
}

AppSpec system_ui_server() {
    auto extra = [](std::string title, std::string id, double x, std::vector<std::string> items) {
        return control("AXMenuBarItem", x, 0, 30, 24)
            .subrole("AXMenuExtra")
            .description(title)
            .identifier(id)
            .action("AXPress", Effect::show_menu())
            .child(menu(id + ".menu", std::move(items), x - 180, 24));
    };
    E extras =
        control("AXMenuBar", 1200, 0, 240, 24)
            .identifier("status.bar")
            .unlisted()
            .child(extra("Wi-Fi", "status.wifi", 1210, {"Turn Wi-Fi Off", "Network Settings…"}))
            .child(extra("Battery", "status.battery", 1250, {"Battery Settings…"}))
            .child(extra("Clock", "status.clock", 1290, {"Open Date & Time Settings…"}));
    return AppSpec{
        .pid = default_pids::kSystemUIServer,
        .name = "SystemUIServer",
        .element = E().attr("AXExtrasMenuBar", Link{"status.bar"}).child(std::move(extras)),
        .window_entries = false};
}

AppSpec finder() {
    E desktop = E("AXScrollArea")
                    .description("desktop")
                    .identifier("finder.desktop")
                    .frame(0, 0, 1440, 900)
                    .child(E("AXGroup")
                               .frame(1320, 40, 100, 200)
                               .child(control("AXImage", 1340, 40, 64, 64)
                                          .title("Macintosh HD")
                                          .identifier("finder.desktop.disk")
                                          .action("AXOpen"))
                               .child(control("AXImage", 1340, 130, 64, 64)
                                          .title("Projects")
                                          .identifier("finder.desktop.projects")
                                          .action("AXOpen")));
    E rows = E("AXOutline").identifier("finder.files").frame(100, 200, 600, 320);
    double y = 204;
    for (const char* name : {"Invoices", "Photos", "Readme.txt"}) {
        E row = control("AXRow", 100, y, 600, 22)
                    .subrole("AXOutlineRow")
                    .identifier(std::string("finder.files.") + name)
                    .settable_attr("AXSelected", false)
                    .child(label(name, {}, 130, y + 2, 200));
        // Folders open and close in place.
        if (std::string_view(name) != "Readme.txt") {
            row.attributes["AXExpanded"] = Value(false);
            row.settable.insert("AXExpanded");
        }
        std::move(rows).child(std::move(row));
        y += 22;
    }
    E win =
        make_window("Documents", "finder.window", 80, 120, 640, 420)
            .child(toolbar(80, 148, 640)
                       .child(button("Back", "finder.back", 90, 154, 30, 24).description("Back"))
                       .child(button("Forward", "finder.forward", 124, 154, 30, 24))
                       .child(search_field("finder.search", 520, 156)))
            .child(E("AXScrollArea").frame(80, 190, 640, 350).child(std::move(rows)));
    return AppSpec{
        .pid = default_pids::kFinder,
        .name = "Finder",
        .element = E().child(menu_bar("Finder", "finder", {"File", "Edit", "View", "Go"}))
                       .child(std::move(desktop))
                       .child(std::move(win))};
}

AppSpec text_edit() {
    E text = control("AXTextArea", 310, 170, 740, 440)
                 .identifier("textedit.text")
                 .settable_attr("AXValue", "Hello, world.")
                 .settable_attr("AXSelectedText", "")
                 .settable_attr("AXSelectedTextRange", CFRange{13, 0})
                 .attr("AXNumberOfCharacters", std::int64_t{13})
                 .focusable();
    E size_menu = control("AXPopUpButton", 520, 134, 60, 22)
                      .identifier("textedit.size")
                      .value("12")
                      .action("AXPress", Effect::show_menu())
                      .action("AXShowMenu", Effect::show_menu())
                      .child(menu("textedit.size.menu", {"10", "12", "14", "18"}, 520, 156));
    E win = make_window("Untitled", "textedit.window", 300, 100, 760, 560)
                .child(toolbar(300, 128, 760)
                           .child(check_box("Bold", "textedit.bold", false, 310, 134))
                           .child(check_box("Italic", "textedit.italic", false, 400, 134))
                           .child(std::move(size_menu))
                           .child(button("Clear", "textedit.clear", 600, 132, 60, 24,
                                         Effect::set("textedit.text", "AXValue", "")))
                           .child(button("Save", "textedit.save", 670, 132, 60, 24,
                                         Effect::set("textedit.status", "AXValue", "Saved"))))
                .child(std::move(text))
                .child(label("Edited", "textedit.status", 310, 630, 200));
    return AppSpec{
        .pid = default_pids::kTextEdit,
        .name = "TextEdit",
        .element = E().child(menu_bar("TextEdit", "textedit", {"File", "Edit", "Format"}))
                       .child(std::move(win)),
        .focused_element = "textedit.text"};
}

AppSpec settings() {
    E sidebar = E("AXOutline").identifier("settings.sidebar").frame(210, 200, 160, 420);
    double y = 204;
    for (const char* name : {"General", "Appearance", "Sound", "Network"}) {
        std::move(sidebar).child(control("AXRow", 210, y, 160, 24)
                                     .subrole("AXOutlineRow")
                                     .identifier(std::string("settings.sidebar.") + name)
                                     .settable_attr("AXSelected", y == 204)
                                     .child(label(name, {}, 230, y + 3, 120)));
        y += 24;
    }
    E volume = control("AXSlider", 400, 330, 240, 22)
                   .title("Volume")
                   .identifier("settings.volume")
                   .settable_attr("AXValue", 50.0)
                   .attr("AXMinValue", 0.0)
                   .attr("AXMaxValue", 100.0)
                   .attr("AXOrientation", "AXHorizontalOrientation")
                   .focusable()
                   .action("AXIncrement", Effect::increment(10))
                   .action("AXDecrement", Effect::decrement(10));
    E language =
        control("AXPopUpButton", 400, 410, 160, 22)
            .title("Language")
            .identifier("settings.language")
            .value("English")
            .action("AXPress", Effect::show_menu())
            .child(menu("settings.language.menu", {"English", "Deutsch", "Français"}, 400, 432));
    E win =
        make_window("Settings", "settings.window", 200, 160, 680, 480)
            .child(std::move(sidebar))
            .child(
                E("AXGroup")
                    .identifier("settings.content")
                    .frame(390, 200, 480, 420)
                    .child(check_box("Show scroll bars", "settings.scrollbars", true, 400, 210))
                    .child(check_box("Automatically hide the menu bar", "settings.hidemenu", false,
                                     400, 236))
                    .child(check_box("Wi-Fi", "settings.wifi", true, 400, 262).subrole("AXSwitch"))
                    .child(E("AXRadioGroup")
                               .frame(400, 290, 300, 22)
                               .identifier("settings.appearance")
                               .child(radio("Light", "settings.light", true, 400, 290))
                               .child(radio("Dark", "settings.dark", false, 500, 290))
                               .child(radio("Auto", "settings.auto", false, 600, 290)))
                    .child(std::move(volume))
                    .child(text_field("Computer name", "settings.name", "Studio", 400, 370, 200))
                    .child(std::move(language))
                    .child(button("Apply", "settings.apply", 700, 580, 70, 24,
                                  Effect::set("settings.status", "AXValue", "Applied")))
                    .child(button("Reset", "settings.reset", 620, 580, 70, 24).enabled(false))
                    .child(label("", "settings.status", 400, 584, 200)));
    return AppSpec{
        .pid = default_pids::kSettings,
        .name = "Settings",
        .element =
            E().child(menu_bar("Settings", "settings", {"Edit", "View"})).child(std::move(win))};
}

AppSpec notes() {
    E table = E("AXTable").identifier("notes.list").frame(710, 270, 580, 340);
    double y = 274;
    for (const char* name : {"Groceries", "Ideas", "Travel"}) {
        std::move(table).child(
            control("AXRow", 710, y, 580, 24)
                .identifier(std::string("notes.list.") + name)
                .settable_attr("AXSelected", false)
                .child(E("AXCell").frame(710, y, 580, 24).child(label(name, {}, 720, y + 3, 300))));
        y += 24;
    }
    E main = make_window("Notes", "notes.window", 700, 200, 600, 420)
                 .child(toolbar(700, 228, 600)
                            .child(button("New Note", "notes.new", 710, 234, 80, 24,
                                          Effect::set("notes.count", "AXValue", "4 notes")))
                            .child(search_field("notes.search", 1100, 236)))
                 .child(std::move(table))
                 .child(label("3 notes", "notes.count", 710, 596, 200));
    E archive =
        make_window("Archive", "notes.archive", 740, 240, 500, 360).attr("AXMinimized", true);
    return AppSpec{.pid = default_pids::kNotes,
                   .name = "Notes",
                   .element = E().child(menu_bar("Notes", "notes", {"File", "Edit"}))
                                  .child(std::move(main))
                                  .child(std::move(archive))};
}

WindowEntrySpec entry(pid_t pid, std::string owner, int layer, std::optional<std::string> window,
                      CGRect bounds = {}) {
    return WindowEntrySpec{.pid = Value(static_cast<std::int64_t>(pid)),
                           .owner_name = Value(std::move(owner)),
                           .layer = Value(layer),
                           .bounds = bounds,
                           .window = std::move(window)};
}

}  // namespace

DesktopSpec default_desktop() {
    using namespace default_pids;
    DesktopSpec d;
    // Moved in one by one: a braced list would deep-copy every element tree.
    for (AppSpec (*make)() : {dock, system_ui_server, finder, text_edit, settings, notes})
        d.apps.push_back(make());
    d.displays = {DisplaySpec{.frame = {{0, 0}, {1440, 900}}, .scale = 2.0}};
    d.focused_app = kTextEdit;
    // Front to back, as the window server lists them.
    d.window_list = {
        entry(kSystemUIServer, "SystemUIServer", 25, std::nullopt, {{1200, 0}, {240, 24}}),
        entry(kWindowServer, "Window Server", 24, std::nullopt, {{0, 0}, {1440, 24}}),
        entry(kDock, "Dock", 20, std::nullopt, {{320, 830}, {800, 66}}),
        entry(kTextEdit, "TextEdit", 0, "textedit.window"),
        entry(kSettings, "Settings", 0, "settings.window"),
        entry(kNotes, "Notes", 0, "notes.window"),
        entry(kNotes, "Notes", 0, "notes.archive"),
        entry(kFinder, "Finder", 0, "finder.window"),
        entry(kFinder, "Finder", -2147483603, std::nullopt, {{0, 0}, {1440, 900}}),
    };
    return d;
}

}  // namespace vemor::standin
