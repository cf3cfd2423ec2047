// The native shim over the simulated platform: sentinels after platform exceptions, cleared
// out-parameters, NULL rules, number conversions, stale references, settling writes, capture.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "standin_fixture.hpp"

namespace vemor::standin_test {
namespace {

using sd::Fault;
namespace pids = sd::default_pids;

class ShimTest : public StandinTest {
protected:
    void raise_in(const std::string& call) {
        sd::add_fault(Fault{.call = call, .kind = Fault::Kind::Raise});
    }
};

const auto* const kSentinelPtr = reinterpret_cast<const void*>(0x1);

// --- Exceptions turn into sentinels ----------------------------------------------------------

TEST_F(ShimTest, AXErrorWrappersReturnMinus9999AndClearTheirOutValue) {
    auto button = element(pids::kTextEdit, "textedit.save");
    auto app = own(safe_ax_create_application(pids::kTextEdit));
    auto role = str("AXRole");
    auto attrs = own(safe_cf_array_create(reinterpret_cast<const CFTypeRef*>(&role), 1));
    AXObserverRef observer = nullptr;
    ASSERT_EQ(safe_ax_observer_create(
                  pids::kTextEdit, [](auto, auto, auto, auto) {}, &observer),
              0);
    auto observer_owner = own(observer);

    struct Case {
        const char* call;
        // Runs the wrapper; reports whether its out-parameter was cleared (true when it has
        // none).
        std::function<AXError(bool& cleared)> run;
    };
    const std::vector<Case> cases = {
        {"AXUIElementCopyAttributeValue",
         [&](bool& cleared) {
             CFTypeRef v = kSentinelPtr;
             AXError e = safe_ax_copy_attribute_value(button.get(), role.get(), &v);
             cleared = v == nullptr;
             return e;
         }},
        {"AXUIElementCopyMultipleAttributeValues",
         [&](bool& cleared) {
             CFArrayRef v = static_cast<CFArrayRef>(kSentinelPtr);
             AXError e = safe_ax_copy_multiple_attribute_values(button.get(), attrs.get(), &v);
             cleared = v == nullptr;
             return e;
         }},
        {"AXUIElementCopyActionNames",
         [&](bool& cleared) {
             CFArrayRef v = static_cast<CFArrayRef>(kSentinelPtr);
             AXError e = safe_ax_copy_action_names(button.get(), &v);
             cleared = v == nullptr;
             return e;
         }},
        {"AXUIElementCopyAttributeNames",
         [&](bool& cleared) {
             CFArrayRef v = static_cast<CFArrayRef>(kSentinelPtr);
             AXError e = safe_ax_copy_attribute_names(button.get(), &v);
             cleared = v == nullptr;
             return e;
         }},
        {"AXUIElementCopyElementAtPosition",
         [&](bool& cleared) {
             AXUIElementRef v = static_cast<AXUIElementRef>(kSentinelPtr);
             AXError e = safe_ax_copy_element_at_position(app.get(), 500, 300, &v);
             cleared = v == nullptr;
             return e;
         }},
        {"AXUIElementPerformAction",
         [&](bool& cleared) {
             cleared = true;
             return safe_ax_perform_action(button.get(), str("AXPress").get());
         }},
        {"AXUIElementSetAttributeValue",
         [&](bool& cleared) {
             cleared = true;
             return safe_ax_set_attribute_value(button.get(), str("AXFocused").get(),
                                                kCFBooleanTrue);
         }},
        {"AXUIElementIsAttributeSettable",
         [&](bool& cleared) {
             bool flag = true;
             AXError e = safe_ax_is_attribute_settable(button.get(), role.get(), &flag);
             cleared = !flag;
             return e;
         }},
        {"AXUIElementGetPid",
         [&](bool& cleared) {
             pid_t pid = 77;
             AXError e = safe_ax_get_pid(button.get(), &pid);
             cleared = pid == 0;
             return e;
         }},
        {"AXUIElementSetMessagingTimeout",
         [&](bool& cleared) {
             cleared = true;
             return safe_ax_set_messaging_timeout(button.get(), 0.25f);
         }},
        {"AXObserverCreate",
         [&](bool& cleared) {
             AXObserverRef v = reinterpret_cast<AXObserverRef>(0x1);
             AXError e = safe_ax_observer_create(
                 pids::kTextEdit, [](auto, auto, auto, auto) {}, &v);
             cleared = v == nullptr;
             return e;
         }},
        {"AXObserverAddNotification",
         [&](bool& cleared) {
             cleared = true;
             return safe_ax_observer_add_notification(observer, app.get(),
                                                      str("AXValueChanged").get(), nullptr);
         }},
        {"AXObserverRemoveNotification",
         [&](bool& cleared) {
             cleared = true;
             return safe_ax_observer_remove_notification(observer, app.get(),
                                                         str("AXValueChanged").get());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        raise_in(c.call);
        bool cleared = false;
        EXPECT_EQ(c.run(cleared), -9999);
        EXPECT_TRUE(cleared);
        sd::clear_faults();
    }
}

TEST_F(ShimTest, ObjectWrappersReturnNullOnException) {
    auto button = element(pids::kTextEdit, "textedit.save");
    auto dict_key = str("k");
    auto list = own(safe_cf_array_create(reinterpret_cast<const CFTypeRef*>(&dict_key), 1));
    const CFTypeRef keys[] = {dict_key.get()};
    const CFTypeRef values[] = {kCFBooleanTrue};
    auto dict = own(safe_cf_dict_create(keys, values, 1));
    AXObserverRef observer = nullptr;
    ASSERT_EQ(safe_ax_observer_create(
                  pids::kTextEdit, [](auto, auto, auto, auto) {}, &observer),
              0);
    auto observer_owner = own(observer);

    struct Case {
        const char* call;
        std::function<const void*()> run;  // returns what the wrapper returned (owned or not)
        bool owned;
    };
    const std::vector<Case> cases = {
        {"AXUIElementCreateApplication", [] { return safe_ax_create_application(1); }, true},
        {"AXUIElementCreateSystemWide", [] { return safe_ax_create_system_wide(); }, true},
        {"AXObserverGetRunLoopSource",
         [&] { return safe_ax_observer_get_run_loop_source(observer); }, false},
        {"AXValueCreate", [] { return safe_ax_value_create_cg_point(1, 2); }, true},
        {"AXValueCreate", [] { return safe_ax_value_create_cg_size(1, 2); }, true},
        {"AXValueCreate", [] { return safe_ax_value_create_cf_range(1, 2); }, true},
        {"AXValueCreate", [] { return safe_ax_value_create_cg_rect(1, 2, 3, 4); }, true},
        {"CFRetain", [&] { return safe_cf_retain(button.get()); }, true},
        {"CFArrayCreate", [&] { return safe_cf_array_create(values, 1); }, true},
        {"CFArrayGetValueAtIndex", [&] { return safe_cf_array_get_value(list.get(), 0); }, false},
        {"CFDictionaryGetValue", [&] { return safe_cf_dict_get_value(dict.get(), dict_key.get()); },
         false},
        {"CFDictionaryCreate", [&] { return safe_cf_dict_create(keys, values, 1); }, true},
        {"CGWindowListCopyWindowInfo",
         [] { return safe_cg_window_list_copy(kCGWindowListOptionAll, kCGNullWindowID); }, true},
        {"CFStringCreateWithCString", [] { return safe_cf_string_create("x"); }, true},
        {"CFStringCreateWithBytes", [] { return safe_cf_string_create_with_bytes("x", 1); }, true},
        {"CFNumberCreate", [] { return safe_cf_number_create_f64(1.5); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        raise_in(c.call);
        EXPECT_EQ(c.run(), nullptr);
        sd::clear_faults();
        // Without the fault the same call answers.
        const void* r = c.run();
        EXPECT_NE(r, nullptr);
        if (c.owned) safe_cf_release(r);
    }
}

TEST_F(ShimTest, BooleanWrappersReturnFalseAndClearTheirBuffer) {
    auto number = own(safe_cf_number_create_f64(2.5));
    auto point = own(safe_ax_value_create_cg_point(3, 4));
    auto a = str("a");

    raise_in("AXIsProcessTrusted");
    EXPECT_FALSE(safe_ax_is_process_trusted());
    sd::clear_faults();
    EXPECT_TRUE(safe_ax_is_process_trusted());

    raise_in("CFBooleanGetValue");
    EXPECT_FALSE(safe_cf_boolean_get_value(kCFBooleanTrue));
    sd::clear_faults();
    EXPECT_TRUE(safe_cf_boolean_get_value(kCFBooleanTrue));

    raise_in("CFEqual");
    EXPECT_FALSE(safe_cf_equal(a.get(), a.get()));
    sd::clear_faults();
    EXPECT_TRUE(safe_cf_equal(a.get(), a.get()));

    raise_in("CFNumberGetValue");
    double d = 99;
    EXPECT_FALSE(safe_cf_number_get_value(number.get(), kCFNumberFloat64Type, &d));
    EXPECT_EQ(d, 0.0);
    sd::clear_faults();

    raise_in("AXValueGetValue");
    CGPoint p{9, 9};
    EXPECT_FALSE(safe_ax_value_get_value(point.get(), kAXValueCGPointType, &p));
    EXPECT_EQ(p.x, 0.0);
    EXPECT_EQ(p.y, 0.0);
    sd::clear_faults();
    EXPECT_TRUE(safe_ax_value_get_value(point.get(), kAXValueCGPointType, &p));
    EXPECT_EQ(p.x, 3.0);
    EXPECT_EQ(p.y, 4.0);
}

TEST_F(ShimTest, TypeIdsAndCountsAreZeroOnException) {
    auto a = str("a");
    auto list = own(safe_cf_array_create(reinterpret_cast<const CFTypeRef*>(&a), 1));
    const CFTypeRef keys[] = {a.get()};
    const CFTypeRef values[] = {kCFBooleanTrue};
    auto dict = own(safe_cf_dict_create(keys, values, 1));
    auto number = own(safe_cf_number_create_i64(7));
    auto point = own(safe_ax_value_create_cg_point(1, 2));
    struct Case {
        const char* call;
        std::function<unsigned long()> run;
    };
    const std::vector<Case> cases = {
        {"CFGetTypeID", [&] { return safe_cf_get_type_id(a.get()); }},
        {"CFStringGetTypeID", [] { return safe_cf_string_get_type_id(); }},
        {"CFNumberGetTypeID", [] { return safe_cf_number_get_type_id(); }},
        {"CFBooleanGetTypeID", [] { return safe_cf_boolean_get_type_id(); }},
        {"CFArrayGetTypeID", [] { return safe_cf_array_get_type_id(); }},
        {"AXUIElementGetTypeID", [] { return safe_ax_ui_element_get_type_id(); }},
        {"AXValueGetTypeID", [] { return safe_ax_value_get_type_id(); }},
        {"CFArrayGetCount",
         [&] { return static_cast<unsigned long>(safe_cf_array_get_count(list.get())); }},
        {"CFHash", [&] { return safe_cf_hash(a.get()); }},
        {"CFStringGetLength",
         [&] { return static_cast<unsigned long>(safe_cf_string_get_length(a.get())); }},
        {"CFDictionaryGetTypeID", [] { return safe_cf_dictionary_get_type_id(); }},
        {"CFDictionaryGetCount",
         [&] { return static_cast<unsigned long>(safe_cf_dict_get_count(dict.get())); }},
        {"AXObserverGetTypeID", [] { return safe_ax_observer_get_type_id(); }},
        {"CFNumberGetType",
         [&] { return static_cast<unsigned long>(safe_cf_number_get_type(number.get())); }},
        {"AXValueGetType",
         [&] { return static_cast<unsigned long>(safe_ax_value_get_type(point.get())); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        raise_in(c.call);
        EXPECT_EQ(c.run(), 0u);
        sd::clear_faults();
        EXPECT_NE(c.run(), 0u);
    }
}

TEST_F(ShimTest, FunctionsWithoutResultReturnNormallyOnException) {
    auto a = str("a");
    raise_in("CFRelease");
    safe_cf_release(a.get());  // swallowed: the reference is still held
    sd::clear_faults();
    EXPECT_EQ(CFGetRetainCount(a.get()), 1);

    AXObserverRef observer = nullptr;
    ASSERT_EQ(safe_ax_observer_create(
                  pids::kTextEdit, [](auto, auto, auto, auto) {}, &observer),
              0);
    auto observer_owner = own(observer);
    raise_in("CFRunLoopAddSource");
    safe_cf_run_loop_add_source(safe_ax_observer_get_run_loop_source(observer));
    sd::clear_faults();
    EXPECT_FALSE(CFRunLoopContainsSource(safe_cf_run_loop_get_current(),
                                         safe_ax_observer_get_run_loop_source(observer),
                                         kCFRunLoopDefaultMode));

    raise_in("CFRunLoopStop");
    safe_cf_run_loop_stop(safe_cf_run_loop_get_current());
    sd::clear_faults();
}

// --- NULL rules ------------------------------------------------------------------------------

// The simulated CoreFoundation aborts on NULL like the real one, so these pass only when the
// shim does not call it.
TEST_F(ShimTest, CoreFoundationWrappersAnswerNullWithoutCallingThePlatform) {
    auto a = str("a");
    double d = 5;
    EXPECT_EQ(safe_cf_retain(nullptr), nullptr);
    safe_cf_release(nullptr);
    EXPECT_EQ(safe_cf_get_type_id(nullptr), 0u);
    EXPECT_EQ(safe_cf_array_get_count(nullptr), 0);
    EXPECT_EQ(safe_cf_array_get_value(nullptr, 0), nullptr);
    EXPECT_FALSE(safe_cf_boolean_get_value(nullptr));
    EXPECT_FALSE(safe_cf_number_get_value(nullptr, kCFNumberFloat64Type, &d));
    EXPECT_FALSE(safe_cf_equal(nullptr, a.get()));
    EXPECT_FALSE(safe_cf_equal(a.get(), nullptr));
    EXPECT_EQ(safe_cf_dict_get_value(nullptr, a.get()), nullptr);
    EXPECT_EQ(safe_cf_hash(nullptr), 0u);
    EXPECT_EQ(safe_cf_string_get_length(nullptr), 0);
    EXPECT_EQ(safe_cf_string_create(nullptr), nullptr);
    EXPECT_EQ(safe_cf_number_get_type(nullptr), 0);
    safe_cf_run_loop_stop(nullptr);
}

TEST_F(ShimTest, AccessibilityWrappersPassNullOn) {
    sd::clear_call_log();
    CFTypeRef v = kSentinelPtr;
    EXPECT_EQ(safe_ax_copy_attribute_value(nullptr, str("AXRole").get(), &v),
              kAXErrorIllegalArgument);
    EXPECT_EQ(v, nullptr);
    EXPECT_EQ(safe_ax_perform_action(nullptr, str("AXPress").get()), kAXErrorIllegalArgument);
    EXPECT_EQ(sd::call_count("AXUIElementCopyAttributeValue", "AXRole"), 1u);
    EXPECT_EQ(sd::call_count("AXUIElementPerformAction", "AXPress"), 1u);
}

TEST_F(ShimTest, ArrayIndexOutOfRangeIsNull) {
    auto a = str("a");
    auto list = own(safe_cf_array_create(reinterpret_cast<const CFTypeRef*>(&a), 1));
    EXPECT_EQ(safe_cf_array_get_value(list.get(), 0), a.get());
    EXPECT_EQ(safe_cf_array_get_value(list.get(), 1), nullptr);
    EXPECT_EQ(safe_cf_array_get_value(list.get(), -1), nullptr);
}

// --- Numbers and strings -----------------------------------------------------------------------

TEST_F(ShimTest, NumberConversionsReportLoss) {
    struct Case {
        const char* name;
        Owned<CFNumberRef> number;
        CFNumberType type;
        bool exact;
        double written;
    };
    std::vector<Case> cases;
    cases.push_back(
        {"0.7 to SInt32", own(safe_cf_number_create_f64(0.7)), kCFNumberSInt32Type, false, 0});
    cases.push_back(
        {"0.7 to Float64", own(safe_cf_number_create_f64(0.7)), kCFNumberFloat64Type, true, 0.7});
    cases.push_back(
        {"1.0 to SInt32", own(safe_cf_number_create_f64(1.0)), kCFNumberSInt32Type, true, 1});
    cases.push_back(
        {"-2.5 to SInt64", own(safe_cf_number_create_f64(-2.5)), kCFNumberSInt64Type, false, -2});
    cases.push_back({"1e10 to SInt32", own(safe_cf_number_create_f64(1e10)), kCFNumberSInt32Type,
                     false, 2147483647.0});
    cases.push_back(
        {"NaN to SInt32", own(safe_cf_number_create_f64(NAN)), kCFNumberSInt32Type, false, 0});
    cases.push_back({"2^40 to SInt32", own(safe_cf_number_create_i64(int64_t{1} << 40)),
                     kCFNumberSInt32Type, false, 2147483647.0});
    cases.push_back(
        {"42 to Float64", own(safe_cf_number_create_i64(42)), kCFNumberFloat64Type, true, 42});
    cases.push_back({"2^53+1 to Float64", own(safe_cf_number_create_i64((int64_t{1} << 53) + 1)),
                     kCFNumberFloat64Type, false, 9007199254740992.0});
    cases.push_back({"INT64_MIN to Float64", own(safe_cf_number_create_i64(INT64_MIN)),
                     kCFNumberFloat64Type, true, -9223372036854775808.0});
    cases.push_back({"INT64_MAX to Float64", own(safe_cf_number_create_i64(INT64_MAX)),
                     kCFNumberFloat64Type, false, 9223372036854775808.0});
    cases.push_back({"1e300 to SInt64", own(safe_cf_number_create_f64(1e300)), kCFNumberSInt64Type,
                     false, 9223372036854775807.0});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        double written = -1;
        if (c.type == kCFNumberSInt32Type) {
            int32_t v = -1;
            EXPECT_EQ(safe_cf_number_get_value(c.number.get(), c.type, &v), c.exact);
            written = v;
        } else if (c.type == kCFNumberSInt64Type) {
            int64_t v = -1;
            EXPECT_EQ(safe_cf_number_get_value(c.number.get(), c.type, &v), c.exact);
            written = static_cast<double>(v);
        } else {
            double v = -1;
            EXPECT_EQ(safe_cf_number_get_value(c.number.get(), c.type, &v), c.exact);
            written = v;
        }
        EXPECT_EQ(written, c.written);
    }
}

TEST_F(ShimTest, NumbersOutsideTheIntegerRangeHashLikeTheirEquals) {
    auto huge = own(safe_cf_number_create_f64(1e300));
    auto same = own(safe_cf_number_create_f64(1e300));
    auto minimum = own(safe_cf_number_create_i64(INT64_MIN));
    auto minimum_real = own(safe_cf_number_create_f64(-9223372036854775808.0));
    EXPECT_TRUE(safe_cf_equal(huge.get(), same.get()));
    EXPECT_EQ(safe_cf_hash(huge.get()), safe_cf_hash(same.get()));
    EXPECT_TRUE(safe_cf_equal(minimum.get(), minimum_real.get()));
    EXPECT_EQ(safe_cf_hash(minimum.get()), safe_cf_hash(minimum_real.get()));
}

TEST_F(ShimTest, StringsRoundTripAsUtf8) {
    auto s = own(safe_cf_string_create_with_bytes("a\0b\xF0\x9F\x98\x80", 7));
    EXPECT_EQ(safe_cf_string_get_length(s.get()), 5);  // a, NUL, b and a surrogate pair
    EXPECT_EQ(text_of(s.get()), std::string("a\0b\xF0\x9F\x98\x80", 7));
    char small[4];
    CFIndex used = 9;
    EXPECT_FALSE(safe_cf_string_get_utf8(s.get(), small, sizeof small, &used));
    EXPECT_EQ(used, 0);
    EXPECT_EQ(safe_cf_string_create("\xC3\x28"), nullptr);  // malformed UTF-8
    EXPECT_EQ(safe_cf_get_type_id(s.get()), safe_cf_string_get_type_id());
}

// --- Elements ----------------------------------------------------------------------------------

TEST_F(ShimTest, EveryCopyIsAFreshReferenceEqualByElement) {
    auto app = own(safe_ax_create_application(pids::kTextEdit));
    Read first = read(app.get(), "AXFocusedWindow");
    Read second = read(app.get(), "AXFocusedWindow");
    ASSERT_EQ(first.code, 0);
    ASSERT_EQ(second.code, 0);
    EXPECT_NE(first.value.get(), second.value.get());
    EXPECT_TRUE(safe_cf_equal(first.value.get(), second.value.get()));
    EXPECT_EQ(safe_cf_hash(first.value.get()), safe_cf_hash(second.value.get()));
    EXPECT_EQ(safe_cf_get_type_id(first.value.get()), safe_ax_ui_element_get_type_id());
    auto other = element(pids::kTextEdit, "textedit.text");
    EXPECT_FALSE(safe_cf_equal(first.value.get(), other.get()));
}

TEST_F(ShimTest, DestroyedAndRenewedElementsAreStale) {
    auto window = element(pids::kNotes, "notes.window");
    auto id = sd::element_of(window.get());
    sd::ElementId fresh = sd::renew_element(id);
    EXPECT_EQ(read(window.get(), "AXTitle").code, kAXErrorInvalidUIElement);
    auto again = own(sd::element_ref(fresh));
    Read title = read(again.get(), "AXTitle");
    ASSERT_EQ(title.code, 0);
    EXPECT_EQ(text_of(title.value.get()), "Notes");
    EXPECT_FALSE(safe_cf_equal(window.get(), again.get()));

    sd::destroy_element(fresh);
    EXPECT_EQ(read(again.get(), "AXTitle").code, kAXErrorInvalidUIElement);
    EXPECT_EQ(safe_ax_perform_action(again.get(), str("AXRaise").get()), kAXErrorInvalidUIElement);
}

TEST_F(ShimTest, SettlingWritesShowAfterTheGivenReads) {
    auto window = element(pids::kSettings, "settings.window");
    auto minimized = str("AXMinimized");
    sd::delay_writes(sd::element_of(window.get()), "AXMinimized", 2);
    ASSERT_EQ(safe_ax_set_attribute_value(window.get(), minimized.get(), kCFBooleanTrue), 0);
    std::vector<bool> readings;
    for (int i = 0; i < 3; ++i) {
        Read r = read(window.get(), "AXMinimized");
        ASSERT_EQ(r.code, 0);
        readings.push_back(safe_cf_boolean_get_value(static_cast<CFBooleanRef>(r.value.get())));
    }
    EXPECT_EQ(readings, (std::vector<bool>{false, false, true}));

    sd::delay_writes(sd::element_of(window.get()), "AXMinimized", std::nullopt);
    ASSERT_EQ(safe_ax_set_attribute_value(window.get(), minimized.get(), kCFBooleanFalse), 0);
    Read r = read(window.get(), "AXMinimized");
    EXPECT_TRUE(safe_cf_boolean_get_value(static_cast<CFBooleanRef>(r.value.get())));
}

TEST_F(ShimTest, BatchReadsHoldErrorPlaceholders) {
    auto button = element(pids::kTextEdit, "textedit.save");
    std::vector<Owned<CFStringRef>> names;
    std::vector<CFTypeRef> raw;
    for (const char* n : {"AXRole", "AXNoSuchThing", "AXTitle", "AXHelp"}) {
        names.push_back(str(n));
        raw.push_back(names.back().get());
    }
    auto attrs = own(safe_cf_array_create(raw.data(), static_cast<CFIndex>(raw.size())));
    CFArrayRef values = nullptr;
    ASSERT_EQ(safe_ax_copy_multiple_attribute_values(button.get(), attrs.get(), &values), 0);
    auto owner = own(values);
    ASSERT_EQ(safe_cf_array_get_count(values), 4);
    EXPECT_EQ(text_of(safe_cf_array_get_value(values, 0)), "AXButton");
    EXPECT_EQ(text_of(safe_cf_array_get_value(values, 2)), "Save");
    auto placeholder = static_cast<AXValueRef>(safe_cf_array_get_value(values, 1));
    EXPECT_EQ(safe_ax_value_get_type(placeholder), static_cast<AXValueType>(kAXValueAXErrorType));
    AXError code = 0;
    EXPECT_TRUE(safe_ax_value_get_value(placeholder, kAXValueAXErrorType, &code));
    EXPECT_EQ(code, kAXErrorAttributeUnsupported);
}

TEST_F(ShimTest, CodeFaultsHitTheKthUseOnly) {
    auto button = element(pids::kTextEdit, "textedit.save");
    sd::add_fault(Fault{.call = "AXUIElementCopyAttributeValue",
                        .kind = Fault::Kind::Code,
                        .code = kAXErrorCannotComplete,
                        .name = "AXTitle",
                        .nth = 2});
    std::vector<AXError> codes;
    for (int i = 0; i < 3; ++i) codes.push_back(read(button.get(), "AXTitle").code);
    codes.push_back(read(button.get(), "AXRole").code);
    EXPECT_EQ(codes, (std::vector<AXError>{0, kAXErrorCannotComplete, 0, 0}));
}

TEST_F(ShimTest, SettableFlagAndPid) {
    auto field = element(pids::kSettings, "settings.name");
    bool settable = false;
    EXPECT_EQ(safe_ax_is_attribute_settable(field.get(), str("AXValue").get(), &settable), 0);
    EXPECT_TRUE(settable);
    EXPECT_EQ(safe_ax_is_attribute_settable(field.get(), str("AXRole").get(), &settable), 0);
    EXPECT_FALSE(settable);
    EXPECT_EQ(safe_ax_is_attribute_settable(field.get(), str("AXNope").get(), &settable),
              kAXErrorAttributeUnsupported);
    pid_t pid = 0;
    EXPECT_EQ(safe_ax_get_pid(field.get(), &pid), 0);
    EXPECT_EQ(pid, pids::kSettings);
}

// --- Window list, version, capture ---------------------------------------------------------------

TEST_F(ShimTest, WindowListEntriesCarryOwnerAndLayer) {
    auto list = own(safe_cg_window_list_copy(kCGWindowListOptionAll, kCGNullWindowID));
    ASSERT_NE(list, nullptr);
    std::vector<std::string> rows;
    for (CFIndex i = 0; i < safe_cf_array_get_count(list.get()); ++i) {
        auto entry = static_cast<CFDictionaryRef>(safe_cf_array_get_value(list.get(), i));
        int32_t pid = 0, layer = 0;
        safe_cf_number_get_value(
            static_cast<CFNumberRef>(safe_cf_dict_get_value(entry, kCGWindowOwnerPID)),
            kCFNumberSInt32Type, &pid);
        safe_cf_number_get_value(
            static_cast<CFNumberRef>(safe_cf_dict_get_value(entry, kCGWindowLayer)),
            kCFNumberSInt32Type, &layer);
        rows.push_back(std::to_string(pid) + " " +
                       text_of(safe_cf_dict_get_value(entry, kCGWindowOwnerName)) + " " +
                       std::to_string(layer));
    }
    EXPECT_EQ(rows, (std::vector<std::string>{"130 SystemUIServer 25", "88 Window Server 24",
                                              "120 Dock 20", "150 TextEdit 0", "160 Settings 0",
                                              "170 Notes 0", "170 Notes 0", "140 Finder 0",
                                              "140 Finder -2147483603"}));
}

TEST_F(ShimTest, OsProductVersion) {
    char buffer[32];
    EXPECT_TRUE(safe_sysctl_os_product_version(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "15.5");
    sd::set_os_version_text("27.0.1");
    EXPECT_TRUE(safe_sysctl_os_product_version(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "27.0.1");
    sd::set_os_version_text(std::nullopt);
    EXPECT_FALSE(safe_sysctl_os_product_version(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "");
}

struct Capture {
    int32_t code;
    uint8_t* pixels = nullptr;
    uint32_t width = 0, height = 0;
    double scale = 0, x = -1, y = -1;
    ~Capture() { safe_cg_free_pixels(pixels); }
};

std::unique_ptr<Capture> capture(int32_t region, double x, double y, double w, double h) {
    auto c = std::make_unique<Capture>();
    c->code = safe_cg_capture_rgba(region, &c->pixels, &c->width, &c->height, &c->scale, &c->x,
                                   &c->y, x, y, w, h);
    return c;
}

TEST_F(ShimTest, CaptureRendersTheDesktop) {
    auto full = capture(0, 0, 0, 0, 0);
    ASSERT_EQ(full->code, 0);
    EXPECT_EQ(full->width, 2880u);
    EXPECT_EQ(full->height, 1800u);
    EXPECT_EQ(full->scale, 2.0);
    EXPECT_EQ(full->x, 0.0);
    EXPECT_EQ(full->y, 0.0);
    auto pixel = [&](const Capture& c, uint32_t px, uint32_t py) {
        const uint8_t* p = c.pixels + (static_cast<std::size_t>(py) * c.width + px) * 4;
        return std::vector<int>{p[0], p[1], p[2], p[3]};
    };
    EXPECT_EQ(pixel(*full, 10, 1000), (std::vector<int>{58, 110, 165, 255}));  // wallpaper
    // Inside TextEdit's text area (310, 170 points).
    EXPECT_EQ(pixel(*full, 2 * 400, 2 * 300), (std::vector<int>{252, 252, 248, 255}));

    auto region = capture(1, 10, 20, 100, 50);
    ASSERT_EQ(region->code, 0);
    EXPECT_EQ(region->width, 200u);
    EXPECT_EQ(region->height, 100u);
    EXPECT_EQ(region->x, 10.0);
    EXPECT_EQ(region->y, 20.0);
}

TEST_F(ShimTest, CaptureFailureCodes) {
    auto empty = capture(1, 0, 0, 0, 50);
    EXPECT_EQ(empty->code, -5);
    EXPECT_EQ(empty->pixels, nullptr);
    EXPECT_EQ(empty->scale, 1.0);

    sd::set_shareable_content_available(false);
    EXPECT_EQ(capture(0, 0, 0, 0, 0)->code, -1);
    sd::set_shareable_content_available(true);

    sd::set_screenshot_image_available(false);
    EXPECT_EQ(capture(0, 0, 0, 0, 0)->code, -2);
    sd::set_screenshot_image_available(true);

    sd::add_fault(Fault{.call = "SCScreenshotManagerStandinCaptureImage"});
    auto raised = capture(0, 0, 0, 0, 0);
    EXPECT_EQ(raised->code, -9999);
    EXPECT_EQ(raised->pixels, nullptr);
    EXPECT_EQ(raised->width, 0u);
}

}  // namespace
}  // namespace vemor::standin_test
