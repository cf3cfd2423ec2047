// The simulated macOS platform: the CoreFoundation, Accessibility, CoreGraphics and
// ScreenCaptureKit types and functions that the backend calls, with the platform's own names
// and C signatures, implemented over an in-memory desktop. Compiled only on non-Apple builds;
// the backend reaches it through vemor/macos/platform.hpp and never includes it directly.
//
// Behaviour follows the platform where the backend depends on it: Copy and Create results
// belong to the caller, Get results are borrowed, every AX element copy is a fresh reference,
// CFRelease of NULL or of a released object aborts. Tests drive the desktop through
// vemor/standin/control.hpp.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#ifdef __cplusplus
#include <string>
#endif

#ifdef __cplusplus
extern "C" {
#endif

// ---------------------------------------------------------------------------------------------
// CoreFoundation basics

typedef unsigned char Boolean;
typedef uint8_t UInt8;
typedef uint16_t UniChar;
typedef long CFIndex;
typedef unsigned long CFTypeID;
typedef unsigned long CFHashCode;
typedef unsigned long CFOptionFlags;
typedef double CFTimeInterval;

typedef const void* CFTypeRef;
typedef const struct StandinCFAllocator* CFAllocatorRef;
typedef const struct StandinCFString* CFStringRef;
typedef const struct StandinCFNumber* CFNumberRef;
typedef const struct StandinCFBoolean* CFBooleanRef;
typedef const struct StandinCFArray* CFArrayRef;
typedef const struct StandinCFDictionary* CFDictionaryRef;
typedef struct StandinCFRunLoop* CFRunLoopRef;
typedef struct StandinCFRunLoopSource* CFRunLoopSourceRef;
typedef CFStringRef CFRunLoopMode;

typedef struct {
    CFIndex location;
    CFIndex length;
} CFRange;

// The default allocator; the stand-in has only this one.
#define kCFAllocatorDefault ((CFAllocatorRef)0)

CFTypeRef CFRetain(CFTypeRef cf);
void CFRelease(CFTypeRef cf);
CFIndex CFGetRetainCount(CFTypeRef cf);
CFTypeID CFGetTypeID(CFTypeRef cf);
Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2);
CFHashCode CFHash(CFTypeRef cf);

// Strings. Encodings: UTF-8 only (others fail as an unsupported conversion would).
typedef uint32_t CFStringEncoding;
enum { kCFStringEncodingUTF8 = 0x08000100, kCFStringEncodingASCII = 0x0600 };

CFTypeID CFStringGetTypeID(void);
CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char* cStr,
                                      CFStringEncoding encoding);
CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation);
CFStringRef CFStringCreateWithCharacters(CFAllocatorRef alloc, const UniChar* chars,
                                         CFIndex numChars);
// Length in UTF-16 code units.
CFIndex CFStringGetLength(CFStringRef theString);
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding);
Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize,
                           CFStringEncoding encoding);
const char* CFStringGetCStringPtr(CFStringRef theString, CFStringEncoding encoding);
// Converts the UTF-16 range; with a NULL buffer only counts. Returns the UTF-16 units converted.
CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding,
                         UInt8 lossByte, Boolean isExternalRepresentation, UInt8* buffer,
                         CFIndex maxBufLen, CFIndex* usedBufLen);
void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar* buffer);
// Backing of CFSTR: an immortal string, never counted as a live object.
CFStringRef StandinCFStringMakeConstant(const char* cStr);
#define CFSTR(cStr) StandinCFStringMakeConstant("" cStr "")

// Numbers.
typedef CFIndex CFNumberType;
enum {
    kCFNumberSInt8Type = 1,
    kCFNumberSInt16Type = 2,
    kCFNumberSInt32Type = 3,
    kCFNumberSInt64Type = 4,
    kCFNumberFloat32Type = 5,
    kCFNumberFloat64Type = 6,
    kCFNumberCharType = 7,
    kCFNumberShortType = 8,
    kCFNumberIntType = 9,
    kCFNumberLongType = 10,
    kCFNumberLongLongType = 11,
    kCFNumberFloatType = 12,
    kCFNumberDoubleType = 13,
    kCFNumberCFIndexType = 14,
    kCFNumberNSIntegerType = 15,
    kCFNumberCGFloatType = 16,
    kCFNumberMaxType = 16
};

CFTypeID CFNumberGetTypeID(void);
CFNumberRef CFNumberCreate(CFAllocatorRef alloc, CFNumberType theType, const void* valuePtr);
CFNumberType CFNumberGetType(CFNumberRef number);
Boolean CFNumberIsFloatType(CFNumberRef number);
// Writes the value converted to theType; false when the conversion lost information (a
// fraction or a range overflow), the written value then being the closest the type holds.
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr);

// Booleans: two immortal objects.
CFTypeID CFBooleanGetTypeID(void);
Boolean CFBooleanGetValue(CFBooleanRef boolean);
extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;

// Arrays (immutable, holding retained CF objects).
typedef struct {
    CFIndex version;
    const void* retain;
    const void* release;
    const void* copyDescription;
    const void* equal;
} CFArrayCallBacks;
extern const CFArrayCallBacks kCFTypeArrayCallBacks;

CFTypeID CFArrayGetTypeID(void);
// Only kCFTypeArrayCallBacks is supported; NULL callbacks store the pointers unretained.
CFArrayRef CFArrayCreate(CFAllocatorRef alloc, const void** values, CFIndex numValues,
                         const CFArrayCallBacks* callBacks);
CFIndex CFArrayGetCount(CFArrayRef theArray);
const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx);

// Dictionaries (immutable, CF-typed keys compared with CFEqual).
typedef struct {
    CFIndex version;
    const void* retain;
    const void* release;
    const void* copyDescription;
    const void* equal;
    const void* hash;
} CFDictionaryKeyCallBacks;
typedef struct {
    CFIndex version;
    const void* retain;
    const void* release;
    const void* copyDescription;
    const void* equal;
} CFDictionaryValueCallBacks;
extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;

CFTypeID CFDictionaryGetTypeID(void);
CFDictionaryRef CFDictionaryCreate(CFAllocatorRef alloc, const void** keys, const void** values,
                                   CFIndex numValues, const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks);
CFIndex CFDictionaryGetCount(CFDictionaryRef theDict);
const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key);

// Run loops: one per thread, created on first use. Sources added to a run loop are retained by
// it; callbacks of an observer run on every run loop its source was added to.
enum {
    kCFRunLoopRunFinished = 1,
    kCFRunLoopRunStopped = 2,
    kCFRunLoopRunTimedOut = 3,
    kCFRunLoopRunHandledSource = 4
};
typedef int32_t CFRunLoopRunResult;
extern const CFRunLoopMode kCFRunLoopDefaultMode;
extern const CFRunLoopMode kCFRunLoopCommonModes;

CFTypeID CFRunLoopGetTypeID(void);
CFTypeID CFRunLoopSourceGetTypeID(void);
CFRunLoopRef CFRunLoopGetCurrent(void);
// Runs until stopped, or returns at once when the loop has no source. As on the real platform
// the stop flag belongs to one run: a stop requested while the loop is not running is lost.
void CFRunLoopRun(void);
CFRunLoopRunResult CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds,
                                      Boolean returnAfterSourceHandled);
void CFRunLoopStop(CFRunLoopRef rl);
void CFRunLoopWakeUp(CFRunLoopRef rl);
void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode);
void CFRunLoopRemoveSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode);
Boolean CFRunLoopContainsSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode);

// Run-loop observers: called back on the loop's own thread at the activities they ask for. Only
// kCFRunLoopEntry is ever reported here (each time a run begins, after its stop flag is reset).
// An added observer is retained by the loop until removed or until the loop's thread ends.
typedef struct StandinCFRunLoopObserver* CFRunLoopObserverRef;
typedef CFOptionFlags CFRunLoopActivity;
enum {
    kCFRunLoopEntry = 1UL << 0,
    kCFRunLoopExit = 1UL << 7,
    kCFRunLoopAllActivities = 0x0FFFFFFFU
};
typedef void (*CFRunLoopObserverCallBack)(CFRunLoopObserverRef observer,
                                          CFRunLoopActivity activity, void* info);
typedef struct {
    CFIndex version;
    void* info;
    const void* (*retain)(const void* info);
    void (*release)(const void* info);
    CFStringRef (*copyDescription)(const void* info);
} CFRunLoopObserverContext;
CFTypeID CFRunLoopObserverGetTypeID(void);
CFRunLoopObserverRef CFRunLoopObserverCreate(CFAllocatorRef allocator, CFOptionFlags activities,
                                             Boolean repeats, CFIndex order,
                                             CFRunLoopObserverCallBack callout,
                                             CFRunLoopObserverContext* context);
void CFRunLoopAddObserver(CFRunLoopRef rl, CFRunLoopObserverRef observer, CFRunLoopMode mode);
void CFRunLoopRemoveObserver(CFRunLoopRef rl, CFRunLoopObserverRef observer, CFRunLoopMode mode);

// ---------------------------------------------------------------------------------------------
// CoreGraphics geometry

typedef double CGFloat;
typedef struct {
    CGFloat x;
    CGFloat y;
} CGPoint;
typedef struct {
    CGFloat width;
    CGFloat height;
} CGSize;
typedef struct {
    CGPoint origin;
    CGSize size;
} CGRect;

// ---------------------------------------------------------------------------------------------
// Accessibility (ApplicationServices)

typedef int32_t AXError;
enum {
    kAXErrorSuccess = 0,
    kAXErrorFailure = -25200,
    kAXErrorIllegalArgument = -25201,
    kAXErrorInvalidUIElement = -25202,
    kAXErrorInvalidUIElementObserver = -25203,
    kAXErrorCannotComplete = -25204,
    kAXErrorAttributeUnsupported = -25205,
    kAXErrorActionUnsupported = -25206,
    kAXErrorNotificationUnsupported = -25207,
    kAXErrorNotImplemented = -25208,
    kAXErrorNotificationAlreadyRegistered = -25209,
    kAXErrorNotificationNotRegistered = -25210,
    kAXErrorAPIDisabled = -25211,
    kAXErrorNoValue = -25212,
    kAXErrorParameterizedAttributeUnsupported = -25213,
    kAXErrorNotEnoughPrecision = -25214
};

typedef const struct StandinAXUIElement* AXUIElementRef;
typedef struct StandinAXObserver* AXObserverRef;
typedef const struct StandinAXValue* AXValueRef;

typedef uint32_t AXValueType;
enum {
    kAXValueIllegalType = 0,
    kAXValueCGPointType = 1,
    kAXValueCGSizeType = 2,
    kAXValueCGRectType = 3,
    kAXValueCFRangeType = 4,
    kAXValueAXErrorType = 5
};

typedef uint32_t AXCopyMultipleAttributeOptions;
enum { kAXCopyMultipleAttributeOptionStopOnError = 0x1 };

typedef void (*AXObserverCallback)(AXObserverRef observer, AXUIElementRef element,
                                   CFStringRef notification, void* refcon);

Boolean AXIsProcessTrusted(void);
CFTypeID AXUIElementGetTypeID(void);
AXUIElementRef AXUIElementCreateApplication(pid_t pid);
AXUIElementRef AXUIElementCreateSystemWide(void);
AXError AXUIElementGetPid(AXUIElementRef element, pid_t* pid);
AXError AXUIElementCopyAttributeNames(AXUIElementRef element, CFArrayRef* names);
AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef* value);
// One value per attribute, in order; a failing attribute holds an AXValue of kAXValueAXErrorType
// carrying its AXError, unless kAXCopyMultipleAttributeOptionStopOnError stops the call there.
AXError AXUIElementCopyMultipleAttributeValues(AXUIElementRef element, CFArrayRef attributes,
                                               AXCopyMultipleAttributeOptions options,
                                               CFArrayRef* values);
AXError AXUIElementIsAttributeSettable(AXUIElementRef element, CFStringRef attribute,
                                       Boolean* settable);
AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                     CFTypeRef value);
AXError AXUIElementCopyActionNames(AXUIElementRef element, CFArrayRef* names);
AXError AXUIElementPerformAction(AXUIElementRef element, CFStringRef action);
// Applies to requests made through this element; on the system-wide element, to all requests
// without an own time-out. 0 restores the default (6 s).
AXError AXUIElementSetMessagingTimeout(AXUIElementRef element, float timeoutInSeconds);
AXError AXUIElementCopyElementAtPosition(AXUIElementRef application, float x, float y,
                                         AXUIElementRef* element);

CFTypeID AXObserverGetTypeID(void);
AXError AXObserverCreate(pid_t application, AXObserverCallback callback,
                         AXObserverRef* outObserver);
AXError AXObserverAddNotification(AXObserverRef observer, AXUIElementRef element,
                                  CFStringRef notification, void* refcon);
AXError AXObserverRemoveNotification(AXObserverRef observer, AXUIElementRef element,
                                     CFStringRef notification);
CFRunLoopSourceRef AXObserverGetRunLoopSource(AXObserverRef observer);

CFTypeID AXValueGetTypeID(void);
AXValueRef AXValueCreate(AXValueType theType, const void* valuePtr);
AXValueType AXValueGetType(AXValueRef value);
Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void* valuePtr);

// ---------------------------------------------------------------------------------------------
// CoreGraphics events

typedef struct StandinCGEvent* CGEventRef;
typedef struct StandinCGEventSource* CGEventSourceRef;
typedef uint16_t CGKeyCode;
typedef uint64_t CGEventFlags;
typedef unsigned long UniCharCount;

typedef uint32_t CGEventType;
enum {
    kCGEventNull = 0,
    kCGEventLeftMouseDown = 1,
    kCGEventLeftMouseUp = 2,
    kCGEventRightMouseDown = 3,
    kCGEventRightMouseUp = 4,
    kCGEventMouseMoved = 5,
    kCGEventLeftMouseDragged = 6,
    kCGEventRightMouseDragged = 7,
    kCGEventKeyDown = 10,
    kCGEventKeyUp = 11,
    kCGEventFlagsChanged = 12,
    kCGEventScrollWheel = 22,
    kCGEventOtherMouseDown = 25,
    kCGEventOtherMouseUp = 26,
    kCGEventOtherMouseDragged = 27
};

enum {
    kCGEventFlagMaskAlphaShift = 0x00010000,
    kCGEventFlagMaskShift = 0x00020000,
    kCGEventFlagMaskControl = 0x00040000,
    kCGEventFlagMaskAlternate = 0x00080000,
    kCGEventFlagMaskCommand = 0x00100000
};

typedef uint32_t CGMouseButton;
enum { kCGMouseButtonLeft = 0, kCGMouseButtonRight = 1, kCGMouseButtonCenter = 2 };

typedef uint32_t CGEventTapLocation;
enum { kCGHIDEventTap = 0, kCGSessionEventTap = 1, kCGAnnotatedSessionEventTap = 2 };

typedef uint32_t CGScrollEventUnit;
enum { kCGScrollEventUnitPixel = 0, kCGScrollEventUnitLine = 1 };

typedef uint32_t CGEventField;
enum {
    kCGMouseEventNumber = 0,
    kCGMouseEventClickState = 1,
    kCGMouseEventButtonNumber = 3,
    kCGKeyboardEventAutorepeat = 8,
    kCGKeyboardEventKeycode = 9,
    kCGScrollWheelEventDeltaAxis1 = 11,
    kCGScrollWheelEventDeltaAxis2 = 12,
    kCGScrollWheelEventDeltaAxis3 = 13
};

CFTypeID CGEventGetTypeID(void);
// An event at the current pointer location (CGEventGetLocation of it reads the pointer).
CGEventRef CGEventCreate(CGEventSourceRef source);
CGEventRef CGEventCreateMouseEvent(CGEventSourceRef source, CGEventType mouseType,
                                   CGPoint mouseCursorPosition, CGMouseButton mouseButton);
CGEventRef CGEventCreateScrollWheelEvent(CGEventSourceRef source, CGScrollEventUnit units,
                                         uint32_t wheelCount, int32_t wheel1, ...);
CGEventRef CGEventCreateScrollWheelEvent2(CGEventSourceRef source, CGScrollEventUnit units,
                                          uint32_t wheelCount, int32_t wheel1, int32_t wheel2,
                                          int32_t wheel3);
CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown);
void CGEventKeyboardSetUnicodeString(CGEventRef event, UniCharCount stringLength,
                                     const UniChar* unicodeString);
void CGEventKeyboardGetUnicodeString(CGEventRef event, UniCharCount maxStringLength,
                                     UniCharCount* actualStringLength, UniChar* unicodeString);
CGEventType CGEventGetType(CGEventRef event);
CGPoint CGEventGetLocation(CGEventRef event);
void CGEventSetLocation(CGEventRef event, CGPoint location);
CGEventFlags CGEventGetFlags(CGEventRef event);
void CGEventSetFlags(CGEventRef event, CGEventFlags flags);
int64_t CGEventGetIntegerValueField(CGEventRef event, CGEventField field);
void CGEventSetIntegerValueField(CGEventRef event, CGEventField field, int64_t value);
// Records a copy of the event in the posted-event log; mouse events move the pointer to their
// location.
void CGEventPost(CGEventTapLocation tap, CGEventRef event);

// ---------------------------------------------------------------------------------------------
// CoreGraphics window list and displays

typedef uint32_t CGWindowID;
typedef uint32_t CGWindowListOption;
typedef uint32_t CGDirectDisplayID;
typedef int32_t CGError;
enum { kCGErrorSuccess = 0, kCGErrorFailure = 1000 };
enum {
    kCGWindowListOptionAll = 0,
    kCGWindowListOptionOnScreenOnly = 1 << 0,
    kCGWindowListOptionOnScreenAboveWindow = 1 << 1,
    kCGWindowListOptionOnScreenBelowWindow = 1 << 2,
    kCGWindowListOptionIncludingWindow = 1 << 3,
    kCGWindowListExcludeDesktopElements = 1 << 4
};
#define kCGNullWindowID ((CGWindowID)0)

// Keys of a window-list entry. kCGWindowBounds holds a dictionary with "X", "Y", "Width" and
// "Height" numbers.
extern const CFStringRef kCGWindowNumber;
extern const CFStringRef kCGWindowOwnerPID;
extern const CFStringRef kCGWindowOwnerName;
extern const CFStringRef kCGWindowName;
extern const CFStringRef kCGWindowLayer;
extern const CFStringRef kCGWindowBounds;
extern const CFStringRef kCGWindowIsOnscreen;

// Entries front to back. Only the all-windows and on-screen-only options are honoured.
CFArrayRef CGWindowListCopyWindowInfo(CGWindowListOption option, CGWindowID relativeToWindow);

CGDirectDisplayID CGMainDisplayID(void);
CGError CGGetActiveDisplayList(uint32_t maxDisplays, CGDirectDisplayID* activeDisplays,
                               uint32_t* displayCount);
CGRect CGDisplayBounds(CGDirectDisplayID display);
size_t CGDisplayPixelsWide(CGDirectDisplayID display);
size_t CGDisplayPixelsHigh(CGDirectDisplayID display);

// ---------------------------------------------------------------------------------------------
// Screen capture: the stand-in of ScreenCaptureKit's shareable content and screenshot manager
// (which are Objective-C classes on the platform), plus the CGImage accessors the shim uses.

typedef struct StandinCGImage* CGImageRef;

// One display as SCShareableContent lists it: its frame in points and its size in pixels.
typedef struct {
    CGDirectDisplayID displayID;
    CGRect frame;
    size_t width;
    size_t height;
} SCStandinDisplay;

// The completion handlers below deliver an error as its description (the platform's NSError
// is shown by its description): *error is set to a new string the caller releases, or to NULL
// when there was no error. error may be NULL.

// Stand-in of +[SCShareableContent getShareableContentWithCompletionHandler:]: copies up to
// maxDisplays displays, returns how many the content lists; 0 when no content is available.
size_t SCShareableContentStandinGetDisplays(SCStandinDisplay* displays, size_t maxDisplays,
                                            CFStringRef* error);

// Stand-in of +[SCScreenshotManager captureImageWithFilter:configuration:completionHandler:]
// for a display filter: renders sourceRect (points relative to the display; a rectangle of
// zero size means the whole display) into an image of width x height pixels. NULL when the
// capture produced no image.
CGImageRef SCScreenshotManagerStandinCaptureImage(CGDirectDisplayID display, CGRect sourceRect,
                                                  size_t width, size_t height, Boolean showsCursor,
                                                  CFStringRef* error);

CFTypeID CGImageGetTypeID(void);
size_t CGImageGetWidth(CGImageRef image);
size_t CGImageGetHeight(CGImageRef image);
CGImageRef CGImageRetain(CGImageRef image);
void CGImageRelease(CGImageRef image);
// Stand-in of drawing the image into an RGBA bitmap context (8 bits per component, alpha last,
// premultiplied, big-endian order): copies the pixels into buffer; false when the buffer
// geometry does not fit.
Boolean CGImageStandinCopyRGBA(CGImageRef image, void* buffer, size_t width, size_t height,
                               size_t bytesPerRow);

// ---------------------------------------------------------------------------------------------
// System queries

// The BSD sysctl by name; the stand-in knows "kern.osproductversion" (a NUL-terminated text).
// Returns 0 on success, -1 with errno set otherwise.
int sysctlbyname(const char* name, void* oldp, size_t* oldlenp, void* newp, size_t newlen);

#ifdef __cplusplus
}  // extern "C"

// The platform exception. On macOS this is the Objective-C NSException; here a C++ type that the
// stand-in throws when a test asks a call to raise, and that only the native shim catches.
struct NSException {
    std::string name;
    std::string reason;
};
#endif
