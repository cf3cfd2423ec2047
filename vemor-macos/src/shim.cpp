// The native shim. Every wrapper runs its platform call under `guarded`, which catches the
// platform exception and nothing else; the sentinels and NULL rules are documented in shim.hpp.
#include "vemor/macos/shim.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace {

// Runs `call`; on a platform exception runs `clear` (to reset out-parameters) and returns
// `sentinel`. Compiled as Objective-C++ on macOS, where the handler catches NSException objects.
template <class T, class Call, class Clear>
T guarded(T sentinel, Call&& call, Clear&& clear) {
#if defined(__OBJC__)
    @try {
        return call();
    } @catch (NSException*) {
        clear();
        return sentinel;
    }
#else
    try {
        return call();
    } catch (const NSException&) {
        clear();
        return sentinel;
    }
#endif
}

template <class T, class Call>
T guarded(T sentinel, Call&& call) {
    return guarded(sentinel, std::forward<Call>(call), [] {});
}

template <class Call>
void guarded_void(Call&& call) {
    guarded(
        0,
        [&] {
            call();
            return 0;
        },
        [] {});
}

// Bytes written by CFNumberGetValue for a number type (0 for an unknown type).
std::size_t number_type_size(CFNumberType type) {
    switch (type) {
        case kCFNumberSInt8Type:
        case kCFNumberCharType:
            return 1;
        case kCFNumberSInt16Type:
        case kCFNumberShortType:
            return 2;
        case kCFNumberSInt32Type:
        case kCFNumberIntType:
        case kCFNumberFloat32Type:
        case kCFNumberFloatType:
            return 4;
        case kCFNumberSInt64Type:
        case kCFNumberLongLongType:
        case kCFNumberFloat64Type:
        case kCFNumberDoubleType:
        case kCFNumberCGFloatType:
            return 8;
        case kCFNumberLongType:
            return sizeof(long);
        case kCFNumberCFIndexType:
            return sizeof(CFIndex);
        case kCFNumberNSIntegerType:
            return sizeof(long);
        default:
            return 0;
    }
}

// Bytes written by AXValueGetValue for a value type (0 for an unknown type).
std::size_t ax_value_type_size(AXValueType type) {
    switch (type) {
        case kAXValueCGPointType:
            return sizeof(CGPoint);
        case kAXValueCGSizeType:
            return sizeof(CGSize);
        case kAXValueCGRectType:
            return sizeof(CGRect);
        case kAXValueCFRangeType:
            return sizeof(CFRange);
        case kAXValueAXErrorType:
            return sizeof(AXError);
        default:
            return 0;
    }
}

// points * scale + 0.5 truncated to an unsigned 64-bit count; negative or NaN gives 0.
std::uint64_t pixel_count(double points, double scale) {
    double v = points * scale + 0.5;
    if (!(v > 0)) return 0;
    if (v >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(v);
}

// The lines logged when ScreenCaptureKit delivers an error with no content or no image; "%@"
// stands for the error's description.
constexpr std::string_view kShareableContentErrorLog = "vemor SCShareableContent error: %@";
constexpr std::string_view kScreenshotManagerErrorLog = "vemor SCScreenshotManager error: %@";

struct CfReleaser {
    void operator()(const void* object) const { safe_cf_release(object); }
};
using OwnedString = std::unique_ptr<std::remove_pointer_t<CFStringRef>, CfReleaser>;

// The system log of this build is standard error.
void log_capture_error(std::string_view format, CFStringRef description) {
    std::string text;
    CFIndex used = 0;
    if (safe_cf_string_get_utf8(description, nullptr, 0, &used)) {
        text.resize(static_cast<std::size_t>(used));
        if (!safe_cf_string_get_utf8(description, text.data(), used, &used)) used = 0;
        text.resize(static_cast<std::size_t>(used));
    }
    std::string line(format);
    line.replace(line.find("%@"), 2, text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace

extern "C" {

// --- Accessibility -------------------------------------------------------------------------

AXError safe_ax_copy_attribute_value(AXUIElementRef element, CFStringRef attribute,
                                     CFTypeRef* out_value) {
    return guarded<AXError>(
        kSafeExceptionCaught,
        [&] { return AXUIElementCopyAttributeValue(element, attribute, out_value); },
        [&] {
            if (out_value != nullptr) *out_value = nullptr;
        });
}

AXError safe_ax_copy_multiple_attribute_values(AXUIElementRef element, CFArrayRef attributes,
                                               CFArrayRef* out_values) {
    return guarded<AXError>(
        kSafeExceptionCaught,
        [&] { return AXUIElementCopyMultipleAttributeValues(element, attributes, 0, out_values); },
        [&] {
            if (out_values != nullptr) *out_values = nullptr;
        });
}

AXError safe_ax_copy_action_names(AXUIElementRef element, CFArrayRef* out_names) {
    return guarded<AXError>(
        kSafeExceptionCaught, [&] { return AXUIElementCopyActionNames(element, out_names); },
        [&] {
            if (out_names != nullptr) *out_names = nullptr;
        });
}

AXError safe_ax_perform_action(AXUIElementRef element, CFStringRef action) {
    return guarded<AXError>(kSafeExceptionCaught,
                            [&] { return AXUIElementPerformAction(element, action); });
}

AXError safe_ax_set_attribute_value(AXUIElementRef element, CFStringRef attribute,
                                    CFTypeRef value) {
    return guarded<AXError>(kSafeExceptionCaught, [&] {
        return AXUIElementSetAttributeValue(element, attribute, value);
    });
}

AXError safe_ax_is_attribute_settable(AXUIElementRef element, CFStringRef attribute,
                                      bool* out_settable) {
    return guarded<AXError>(
        kSafeExceptionCaught,
        [&] {
            Boolean flag = false;
            AXError err = AXUIElementIsAttributeSettable(element, attribute,
                                                         out_settable != nullptr ? &flag : nullptr);
            if (out_settable != nullptr) *out_settable = flag != 0;
            return err;
        },
        [&] {
            if (out_settable != nullptr) *out_settable = false;
        });
}

AXError safe_ax_get_pid(AXUIElementRef element, pid_t* out_pid) {
    return guarded<AXError>(
        kSafeExceptionCaught,
        [&] {
            pid_t pid = 0;
            AXError err = AXUIElementGetPid(element, out_pid != nullptr ? &pid : nullptr);
            if (out_pid != nullptr) *out_pid = pid;
            return err;
        },
        [&] {
            if (out_pid != nullptr) *out_pid = 0;
        });
}

AXError safe_ax_set_messaging_timeout(AXUIElementRef element, float seconds) {
    return guarded<AXError>(kSafeExceptionCaught,
                            [&] { return AXUIElementSetMessagingTimeout(element, seconds); });
}

AXUIElementRef safe_ax_create_application(pid_t pid) {
    return guarded<AXUIElementRef>(nullptr, [&] { return AXUIElementCreateApplication(pid); });
}

AXUIElementRef safe_ax_create_system_wide(void) {
    return guarded<AXUIElementRef>(nullptr, [] { return AXUIElementCreateSystemWide(); });
}

bool safe_ax_is_process_trusted(void) {
    return guarded(false, [] { return AXIsProcessTrusted() != 0; });
}

AXError safe_ax_observer_create(pid_t pid, AXObserverCallback callback,
                                AXObserverRef* out_observer) {
    return guarded<AXError>(
        kSafeExceptionCaught, [&] { return AXObserverCreate(pid, callback, out_observer); },
        [&] {
            if (out_observer != nullptr) *out_observer = nullptr;
        });
}

AXError safe_ax_observer_add_notification(AXObserverRef observer, AXUIElementRef element,
                                          CFStringRef notification, void* context) {
    return guarded<AXError>(kSafeExceptionCaught, [&] {
        return AXObserverAddNotification(observer, element, notification, context);
    });
}

AXError safe_ax_observer_remove_notification(AXObserverRef observer, AXUIElementRef element,
                                             CFStringRef notification) {
    return guarded<AXError>(kSafeExceptionCaught, [&] {
        return AXObserverRemoveNotification(observer, element, notification);
    });
}

CFRunLoopSourceRef safe_ax_observer_get_run_loop_source(AXObserverRef observer) {
    return guarded<CFRunLoopSourceRef>(nullptr,
                                       [&] { return AXObserverGetRunLoopSource(observer); });
}

bool safe_ax_value_get_value(AXValueRef value, AXValueType type, void* out_buffer) {
    return guarded(
        false, [&] { return AXValueGetValue(value, type, out_buffer) != 0; },
        [&] {
            if (out_buffer != nullptr) std::memset(out_buffer, 0, ax_value_type_size(type));
        });
}

AXValueRef safe_ax_value_create_cg_point(double x, double y) {
    CGPoint p{x, y};
    return guarded<AXValueRef>(nullptr, [&] { return AXValueCreate(kAXValueCGPointType, &p); });
}

AXValueRef safe_ax_value_create_cg_size(double width, double height) {
    CGSize s{width, height};
    return guarded<AXValueRef>(nullptr, [&] { return AXValueCreate(kAXValueCGSizeType, &s); });
}

AXValueRef safe_ax_value_create_cf_range(int64_t location, int64_t length) {
    CFRange r{static_cast<CFIndex>(location), static_cast<CFIndex>(length)};
    return guarded<AXValueRef>(nullptr, [&] { return AXValueCreate(kAXValueCFRangeType, &r); });
}

AXError safe_ax_copy_attribute_names(AXUIElementRef element, CFArrayRef* out_names) {
    return guarded<AXError>(
        kSafeExceptionCaught, [&] { return AXUIElementCopyAttributeNames(element, out_names); },
        [&] {
            if (out_names != nullptr) *out_names = nullptr;
        });
}

AXError safe_ax_copy_element_at_position(AXUIElementRef application, float x, float y,
                                         AXUIElementRef* out_element) {
    return guarded<AXError>(
        kSafeExceptionCaught,
        [&] { return AXUIElementCopyElementAtPosition(application, x, y, out_element); },
        [&] {
            if (out_element != nullptr) *out_element = nullptr;
        });
}

AXValueRef safe_ax_value_create_cg_rect(double x, double y, double width, double height) {
    CGRect r{{x, y}, {width, height}};
    return guarded<AXValueRef>(nullptr, [&] { return AXValueCreate(kAXValueCGRectType, &r); });
}

AXValueType safe_ax_value_get_type(AXValueRef value) {
    return guarded<AXValueType>(kAXValueIllegalType, [&] { return AXValueGetType(value); });
}

CFTypeID safe_ax_ui_element_get_type_id(void) {
    return guarded<CFTypeID>(0, [] { return AXUIElementGetTypeID(); });
}

CFTypeID safe_ax_value_get_type_id(void) {
    return guarded<CFTypeID>(0, [] { return AXValueGetTypeID(); });
}

CFTypeID safe_ax_observer_get_type_id(void) {
    return guarded<CFTypeID>(0, [] { return AXObserverGetTypeID(); });
}

// --- CoreFoundation ------------------------------------------------------------------------

CFTypeRef safe_cf_retain(CFTypeRef object) {
    if (object == nullptr) return nullptr;
    return guarded<CFTypeRef>(nullptr, [&] { return CFRetain(object); });
}

void safe_cf_release(CFTypeRef object) {
    if (object == nullptr) return;
    guarded_void([&] { CFRelease(object); });
}

CFTypeID safe_cf_get_type_id(CFTypeRef object) {
    if (object == nullptr) return 0;
    return guarded<CFTypeID>(0, [&] { return CFGetTypeID(object); });
}

CFTypeID safe_cf_string_get_type_id(void) {
    return guarded<CFTypeID>(0, [] { return CFStringGetTypeID(); });
}

CFTypeID safe_cf_number_get_type_id(void) {
    return guarded<CFTypeID>(0, [] { return CFNumberGetTypeID(); });
}

CFTypeID safe_cf_boolean_get_type_id(void) {
    return guarded<CFTypeID>(0, [] { return CFBooleanGetTypeID(); });
}

CFTypeID safe_cf_array_get_type_id(void) {
    return guarded<CFTypeID>(0, [] { return CFArrayGetTypeID(); });
}

CFIndex safe_cf_array_get_count(CFArrayRef array) {
    if (array == nullptr) return 0;
    return guarded<CFIndex>(0, [&] { return CFArrayGetCount(array); });
}

CFTypeRef safe_cf_array_get_value(CFArrayRef array, CFIndex index) {
    if (array == nullptr) return nullptr;
    return guarded<CFTypeRef>(nullptr, [&]() -> CFTypeRef {
        // The platform's behaviour for an index out of range is undefined; answer NULL instead.
        if (index < 0 || index >= CFArrayGetCount(array)) return nullptr;
        return CFArrayGetValueAtIndex(array, index);
    });
}

CFArrayRef safe_cf_array_create(const CFTypeRef* values, CFIndex count) {
    return guarded<CFArrayRef>(nullptr, [&] {
        return CFArrayCreate(kCFAllocatorDefault, const_cast<const void**>(values), count,
                             &kCFTypeArrayCallBacks);
    });
}

bool safe_cf_boolean_get_value(CFBooleanRef boolean) {
    if (boolean == nullptr) return false;
    return guarded(false, [&] { return CFBooleanGetValue(boolean) != 0; });
}

bool safe_cf_number_get_value(CFNumberRef number, CFNumberType type, void* out_buffer) {
    if (number == nullptr) return false;
    return guarded(
        false, [&] { return CFNumberGetValue(number, type, out_buffer) != 0; },
        [&] {
            if (out_buffer != nullptr) std::memset(out_buffer, 0, number_type_size(type));
        });
}

bool safe_cf_equal(CFTypeRef a, CFTypeRef b) {
    if (a == nullptr || b == nullptr) return false;
    return guarded(false, [&] { return CFEqual(a, b) != 0; });
}

CFTypeRef safe_cf_dict_get_value(CFDictionaryRef dictionary, CFTypeRef key) {
    if (dictionary == nullptr || key == nullptr) return nullptr;
    return guarded<CFTypeRef>(nullptr, [&] { return CFDictionaryGetValue(dictionary, key); });
}

CFHashCode safe_cf_hash(CFTypeRef object) {
    if (object == nullptr) return 0;
    return guarded<CFHashCode>(0, [&] { return CFHash(object); });
}

CFTypeID safe_cf_dictionary_get_type_id(void) {
    return guarded<CFTypeID>(0, [] { return CFDictionaryGetTypeID(); });
}

CFIndex safe_cf_dict_get_count(CFDictionaryRef dictionary) {
    if (dictionary == nullptr) return 0;
    return guarded<CFIndex>(0, [&] { return CFDictionaryGetCount(dictionary); });
}

CFDictionaryRef safe_cf_dict_create(const CFTypeRef* keys, const CFTypeRef* values, CFIndex count) {
    return guarded<CFDictionaryRef>(nullptr, [&] {
        return CFDictionaryCreate(kCFAllocatorDefault, const_cast<const void**>(keys),
                                  const_cast<const void**>(values), count,
                                  &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    });
}

CFStringRef safe_cf_string_create(const char* utf8) {
    if (utf8 == nullptr) return nullptr;
    return guarded<CFStringRef>(nullptr, [&] {
        return CFStringCreateWithCString(kCFAllocatorDefault, utf8, kCFStringEncodingUTF8);
    });
}

CFStringRef safe_cf_string_create_with_bytes(const char* utf8, CFIndex length) {
    if (length < 0 || (utf8 == nullptr && length > 0)) return nullptr;
    return guarded<CFStringRef>(nullptr, [&] {
        return CFStringCreateWithBytes(kCFAllocatorDefault,
                                       reinterpret_cast<const UInt8*>(utf8 != nullptr ? utf8 : ""),
                                       length, kCFStringEncodingUTF8, false);
    });
}

CFIndex safe_cf_string_get_length(CFStringRef string) {
    if (string == nullptr) return 0;
    return guarded<CFIndex>(0, [&] { return CFStringGetLength(string); });
}

bool safe_cf_string_get_utf8(CFStringRef string, char* buffer, CFIndex capacity,
                             CFIndex* out_used) {
    if (out_used != nullptr) *out_used = 0;
    if (string == nullptr) return false;
    return guarded(
        false,
        [&] {
            CFIndex length = CFStringGetLength(string);
            CFIndex used = 0;
            CFIndex converted = CFStringGetBytes(string, CFRange{0, length}, kCFStringEncodingUTF8,
                                                 0, false, reinterpret_cast<UInt8*>(buffer),
                                                 buffer != nullptr ? capacity : 0, &used);
            if (converted != length) return false;  // did not fit (or not convertible)
            if (out_used != nullptr) *out_used = used;
            return true;
        },
        [&] {
            if (out_used != nullptr) *out_used = 0;
        });
}

CFNumberRef safe_cf_number_create(CFNumberType type, const void* value) {
    if (value == nullptr) return nullptr;
    return guarded<CFNumberRef>(nullptr,
                                [&] { return CFNumberCreate(kCFAllocatorDefault, type, value); });
}

CFNumberRef safe_cf_number_create_f64(double value) {
    return safe_cf_number_create(kCFNumberFloat64Type, &value);
}

CFNumberRef safe_cf_number_create_i64(int64_t value) {
    return safe_cf_number_create(kCFNumberSInt64Type, &value);
}

CFNumberType safe_cf_number_get_type(CFNumberRef number) {
    if (number == nullptr) return 0;
    return guarded<CFNumberType>(0, [&] { return CFNumberGetType(number); });
}

CFBooleanRef safe_cf_boolean_get_constant(bool value) {
    return value ? kCFBooleanTrue : kCFBooleanFalse;
}

// --- Window list, run loops -------------------------------------------------------------------

CFArrayRef safe_cg_window_list_copy(CGWindowListOption option, CGWindowID relative_to_window) {
    return guarded<CFArrayRef>(
        nullptr, [&] { return CGWindowListCopyWindowInfo(option, relative_to_window); });
}

void safe_cf_run_loop_add_source(CFRunLoopSourceRef source) {
    guarded_void([&] { CFRunLoopAddSource(CFRunLoopGetCurrent(), source, kCFRunLoopDefaultMode); });
}

void safe_cf_run_loop_remove_source(CFRunLoopSourceRef source) {
    guarded_void(
        [&] { CFRunLoopRemoveSource(CFRunLoopGetCurrent(), source, kCFRunLoopDefaultMode); });
}

void safe_cf_run_loop_stop(CFRunLoopRef run_loop) {
    if (run_loop == nullptr) return;
    guarded_void([&] { CFRunLoopStop(run_loop); });
}

void safe_cf_run_loop_wake_up(CFRunLoopRef run_loop) {
    if (run_loop == nullptr) return;
    guarded_void([&] { CFRunLoopWakeUp(run_loop); });
}

CFRunLoopRef safe_cf_run_loop_get_current(void) { return CFRunLoopGetCurrent(); }

void safe_cf_run_loop_run(void) { CFRunLoopRun(); }

int32_t safe_cf_run_loop_run_in_mode(double seconds, bool return_after_source_handled) {
    return guarded<int32_t>(0, [&] {
        return CFRunLoopRunInMode(kCFRunLoopDefaultMode, seconds, return_after_source_handled);
    });
}

CFRunLoopObserverRef safe_cf_run_loop_observer_create(CFOptionFlags activities, bool repeats,
                                                      CFRunLoopObserverCallBack callout,
                                                      void* info) {
    return guarded<CFRunLoopObserverRef>(nullptr, [&] {
        CFRunLoopObserverContext context{0, info, nullptr, nullptr, nullptr};
        return CFRunLoopObserverCreate(kCFAllocatorDefault, activities, repeats, 0, callout,
                                       &context);
    });
}

void safe_cf_run_loop_add_observer(CFRunLoopObserverRef observer) {
    if (observer == nullptr) return;
    guarded_void(
        [&] { CFRunLoopAddObserver(CFRunLoopGetCurrent(), observer, kCFRunLoopDefaultMode); });
}

void safe_cf_run_loop_remove_observer(CFRunLoopObserverRef observer) {
    if (observer == nullptr) return;
    guarded_void(
        [&] { CFRunLoopRemoveObserver(CFRunLoopGetCurrent(), observer, kCFRunLoopDefaultMode); });
}

// --- Screen capture ------------------------------------------------------------------------

int32_t safe_cg_capture_rgba(int32_t region, uint8_t** out_pixels, uint32_t* out_width,
                             uint32_t* out_height, double* out_scale, double* out_origin_x,
                             double* out_origin_y, double region_x, double region_y,
                             double region_width, double region_height) {
    if (out_pixels != nullptr) *out_pixels = nullptr;
    if (out_width != nullptr) *out_width = 0;
    if (out_height != nullptr) *out_height = 0;
    if (out_scale != nullptr) *out_scale = 1.0;
    if (out_origin_x != nullptr) *out_origin_x = 0;
    if (out_origin_y != nullptr) *out_origin_y = 0;
    if (region != 0 && (!(region_width > 0) || !(region_height > 0))) return -5;

    struct FreeDeleter {
        void operator()(void* p) const { std::free(p); }
    };
    struct ImageDeleter {
        void operator()(StandinCGImage* i) const { CGImageRelease(i); }
    };
    // Owned across the guarded body so that an exception does not leak them.
    std::unique_ptr<std::uint8_t, FreeDeleter> pixels;
    std::unique_ptr<StandinCGImage, ImageDeleter> image;
    OwnedString content_error, capture_error;

    return guarded<int32_t>(
        kSafeExceptionCaught,
        [&]() -> int32_t {
            SCStandinDisplay display{};
            CFStringRef error = nullptr;
            const std::size_t displays = SCShareableContentStandinGetDisplays(&display, 1, &error);
            content_error.reset(error);
            if (displays == 0) {
                if (content_error)
                    log_capture_error(kShareableContentErrorLog, content_error.get());
                return -1;
            }
            const CGRect frame = display.frame;
            const double scale =
                frame.size.width > 0 ? static_cast<double>(display.width) / frame.size.width : 1.0;
            double ox = frame.origin.x, oy = frame.origin.y;
            double w = frame.size.width, h = frame.size.height;
            if (region != 0) {
                ox = region_x;
                oy = region_y;
                w = region_width;
                h = region_height;
            }
            const std::uint64_t pw = pixel_count(w, scale);
            const std::uint64_t ph = pixel_count(h, scale);
            if (pw == 0 || ph == 0) return -5;
            CGRect source{};
            if (region != 0) {
                source = CGRect{{region_x - frame.origin.x, region_y - frame.origin.y},
                                {region_width, region_height}};
            }
            error = nullptr;
            image.reset(SCScreenshotManagerStandinCaptureImage(
                display.displayID, source, static_cast<size_t>(pw), static_cast<size_t>(ph), false,
                &error));
            capture_error.reset(error);
            if (!image) {
                if (capture_error)
                    log_capture_error(kScreenshotManagerErrorLog, capture_error.get());
                return -2;
            }
            const std::size_t iw = CGImageGetWidth(image.get());
            const std::size_t ih = CGImageGetHeight(image.get());
            if (iw == 0 || ih == 0 || iw > std::numeric_limits<uint32_t>::max() ||
                ih > std::numeric_limits<uint32_t>::max()) {
                return -2;
            }
            if (iw > std::numeric_limits<std::size_t>::max() / 4 / ih) return -3;
            const std::size_t bytes = iw * ih * 4;
            pixels.reset(static_cast<std::uint8_t*>(std::malloc(bytes)));
            if (!pixels) return -3;
            std::memset(pixels.get(), 0, bytes);
            if (!CGImageStandinCopyRGBA(image.get(), pixels.get(), iw, ih, iw * 4)) return -4;
            image.reset();
            if (out_pixels != nullptr) *out_pixels = pixels.release();
            if (out_width != nullptr) *out_width = static_cast<uint32_t>(iw);
            if (out_height != nullptr) *out_height = static_cast<uint32_t>(ih);
            if (out_scale != nullptr) *out_scale = scale;
            if (out_origin_x != nullptr) *out_origin_x = ox;
            if (out_origin_y != nullptr) *out_origin_y = oy;
            return 0;
        },
        [] {});
}

void safe_cg_free_pixels(void* pixels) { std::free(pixels); }

// --- System ----------------------------------------------------------------------------------

bool safe_sysctl_os_product_version(char* buffer, size_t capacity) {
    if (buffer == nullptr || capacity == 0) return false;
    std::size_t len = capacity;
    if (sysctlbyname("kern.osproductversion", buffer, &len, nullptr, 0) != 0 || len == 0) {
        buffer[0] = '\0';
        return false;
    }
    buffer[std::min(len, capacity) - 1] = '\0';
    return true;
}

}  // extern "C"
