// The native shim: the only door from the backend to the platform (the input code excepted,
// which posts CoreGraphics events directly). Each function runs its platform call inside a
// handler for the platform exception (`NSException`, nothing else) and turns a caught exception
// into a fixed sentinel, so no platform exception ever unwinds into the backend:
//   AXError results: -9999; booleans: false; objects and pointers: NULL; type ids and counts: 0.
// An out-parameter is cleared (NULL, 0 or false) when an exception is caught.
// CoreFoundation wrappers given a NULL object return their neutral value without calling the
// platform; Accessibility wrappers pass NULL on. Copy and Create results belong to the caller,
// who releases them with `safe_cf_release`; Get results are borrowed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vemor/macos/platform.hpp"

// The AXError a wrapper returns after catching a platform exception.
inline constexpr AXError kSafeExceptionCaught = -9999;

extern "C" {

// --- Accessibility -------------------------------------------------------------------------

AXError safe_ax_copy_attribute_value(AXUIElementRef element, CFStringRef attribute,
                                     CFTypeRef* out_value);
// Options 0: the call does not stop at the first failing attribute.
AXError safe_ax_copy_multiple_attribute_values(AXUIElementRef element, CFArrayRef attributes,
                                               CFArrayRef* out_values);
AXError safe_ax_copy_action_names(AXUIElementRef element, CFArrayRef* out_names);
AXError safe_ax_perform_action(AXUIElementRef element, CFStringRef action);
AXError safe_ax_set_attribute_value(AXUIElementRef element, CFStringRef attribute, CFTypeRef value);
// The flag starts false and is written as a strict boolean.
AXError safe_ax_is_attribute_settable(AXUIElementRef element, CFStringRef attribute,
                                      bool* out_settable);
// The pid starts 0 and is always written back.
AXError safe_ax_get_pid(AXUIElementRef element, pid_t* out_pid);
AXError safe_ax_set_messaging_timeout(AXUIElementRef element, float seconds);
AXUIElementRef safe_ax_create_application(pid_t pid);
AXUIElementRef safe_ax_create_system_wide(void);
bool safe_ax_is_process_trusted(void);
AXError safe_ax_observer_create(pid_t pid, AXObserverCallback callback,
                                AXObserverRef* out_observer);
AXError safe_ax_observer_add_notification(AXObserverRef observer, AXUIElementRef element,
                                          CFStringRef notification, void* context);
AXError safe_ax_observer_remove_notification(AXObserverRef observer, AXUIElementRef element,
                                             CFStringRef notification);
// Not retained: the observer owns its source.
CFRunLoopSourceRef safe_ax_observer_get_run_loop_source(AXObserverRef observer);
bool safe_ax_value_get_value(AXValueRef value, AXValueType type, void* out_buffer);
AXValueRef safe_ax_value_create_cg_point(double x, double y);
AXValueRef safe_ax_value_create_cg_size(double width, double height);
AXValueRef safe_ax_value_create_cf_range(int64_t location, int64_t length);

// Accessibility calls beyond the core set, same conventions.
AXError safe_ax_copy_attribute_names(AXUIElementRef element, CFArrayRef* out_names);
AXError safe_ax_copy_element_at_position(AXUIElementRef application, float x, float y,
                                         AXUIElementRef* out_element);
AXValueRef safe_ax_value_create_cg_rect(double x, double y, double width, double height);
// kAXValueIllegalType (0) after an exception.
AXValueType safe_ax_value_get_type(AXValueRef value);
CFTypeID safe_ax_ui_element_get_type_id(void);
CFTypeID safe_ax_value_get_type_id(void);
CFTypeID safe_ax_observer_get_type_id(void);

// --- CoreFoundation ------------------------------------------------------------------------

CFTypeRef safe_cf_retain(CFTypeRef object);
void safe_cf_release(CFTypeRef object);
CFTypeID safe_cf_get_type_id(CFTypeRef object);
CFTypeID safe_cf_string_get_type_id(void);
CFTypeID safe_cf_number_get_type_id(void);
CFTypeID safe_cf_boolean_get_type_id(void);
CFTypeID safe_cf_array_get_type_id(void);
CFIndex safe_cf_array_get_count(CFArrayRef array);
// Not retained.
CFTypeRef safe_cf_array_get_value(CFArrayRef array, CFIndex index);
// Default allocator and kCFTypeArrayCallBacks: the array retains its values.
CFArrayRef safe_cf_array_create(const CFTypeRef* values, CFIndex count);
bool safe_cf_boolean_get_value(CFBooleanRef boolean);
// False also when the platform reports the conversion as lossy.
bool safe_cf_number_get_value(CFNumberRef number, CFNumberType type, void* out_buffer);
bool safe_cf_equal(CFTypeRef a, CFTypeRef b);
// Not retained.
CFTypeRef safe_cf_dict_get_value(CFDictionaryRef dictionary, CFTypeRef key);

// CoreFoundation calls beyond the core set, same conventions.
CFHashCode safe_cf_hash(CFTypeRef object);
CFTypeID safe_cf_dictionary_get_type_id(void);
CFIndex safe_cf_dict_get_count(CFDictionaryRef dictionary);
// Default allocator, CF-type callbacks.
CFDictionaryRef safe_cf_dict_create(const CFTypeRef* keys, const CFTypeRef* values, CFIndex count);
// A new string from NUL-terminated UTF-8; NULL for NULL text or invalid UTF-8.
CFStringRef safe_cf_string_create(const char* utf8);
// A new string from length bytes of UTF-8 (NUL bytes allowed); NULL for invalid UTF-8.
CFStringRef safe_cf_string_create_with_bytes(const char* utf8, CFIndex length);
// Length in UTF-16 code units.
CFIndex safe_cf_string_get_length(CFStringRef string);
// The whole string as UTF-8 into buffer (no NUL appended); out_used receives the byte count,
// or with a NULL buffer the byte count needed. False (out_used 0) when it does not fit.
bool safe_cf_string_get_utf8(CFStringRef string, char* buffer, CFIndex capacity, CFIndex* out_used);
CFNumberRef safe_cf_number_create(CFNumberType type, const void* value);
CFNumberRef safe_cf_number_create_f64(double value);
CFNumberRef safe_cf_number_create_i64(int64_t value);
// 0 after an exception or for NULL.
CFNumberType safe_cf_number_get_type(CFNumberRef number);
// kCFBooleanTrue or kCFBooleanFalse, not retained (they are never freed).
CFBooleanRef safe_cf_boolean_get_constant(bool value);

// --- Window list, run loops -------------------------------------------------------------------

CFArrayRef safe_cg_window_list_copy(CGWindowListOption option, CGWindowID relative_to_window);
// CFRunLoopAddSource on the calling thread's run loop, default mode.
void safe_cf_run_loop_add_source(CFRunLoopSourceRef source);
// CFRunLoopRemoveSource on the calling thread's run loop, default mode.
void safe_cf_run_loop_remove_source(CFRunLoopSourceRef source);
void safe_cf_run_loop_stop(CFRunLoopRef run_loop);
void safe_cf_run_loop_wake_up(CFRunLoopRef run_loop);
// Not guarded: these only run the calling thread's loop.
CFRunLoopRef safe_cf_run_loop_get_current(void);
void safe_cf_run_loop_run(void);
// CFRunLoopRunInMode in the default mode; 0 after an exception.
int32_t safe_cf_run_loop_run_in_mode(double seconds, bool return_after_source_handled);
// A run-loop observer for the given activities (no context callbacks; `info` is passed to the
// callout as it is); NULL after an exception. The caller releases it.
CFRunLoopObserverRef safe_cf_run_loop_observer_create(CFOptionFlags activities, bool repeats,
                                                      CFRunLoopObserverCallBack callout,
                                                      void* info);
// CFRunLoopAddObserver / CFRunLoopRemoveObserver on the calling thread's run loop, default mode.
void safe_cf_run_loop_add_observer(CFRunLoopObserverRef observer);
void safe_cf_run_loop_remove_observer(CFRunLoopObserverRef observer);

// --- Screen capture ------------------------------------------------------------------------

// Captures the first display whole (region 0) or the given region in points (region 1) into a
// malloc'ed RGBA buffer (alpha last, premultiplied). Outputs are set to their defaults first
// (NULL, 0, 0, 1.0, 0, 0); the origin pointers may be NULL. Codes: 0 success, -1 no shareable
// content or no display, -2 no image, -3 allocation failed, -4 bitmap context failed,
// -5 zero or negative size, -9999 platform exception.
int32_t safe_cg_capture_rgba(int32_t region, uint8_t** out_pixels, uint32_t* out_width,
                             uint32_t* out_height, double* out_scale, double* out_origin_x,
                             double* out_origin_y, double region_x, double region_y,
                             double region_width, double region_height);
// Not guarded; NULL does nothing.
void safe_cg_free_pixels(void* pixels);

// --- System ----------------------------------------------------------------------------------

// The OS product version text (what `sysctl -n kern.osproductversion` prints, without the line
// end) into buffer as a NUL-terminated string. False, with buffer[0] = 0 when capacity > 0, when
// it cannot be read or does not fit.
bool safe_sysctl_os_product_version(char* buffer, size_t capacity);

}  // extern "C"
