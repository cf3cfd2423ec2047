#include "cf_objects.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <unordered_map>

#include "desktop.hpp"
#include "vemor/text.hpp"

namespace vemor::standin {

namespace {

std::atomic<long> g_live{0};

}  // namespace

[[noreturn]] void platform_crash(const char* what) {
    std::fprintf(stderr, "simulated platform: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

CFObject::CFObject(CFTypeID type, bool immortal) : type_(type), immortal_(immortal) {
    if (!immortal_) g_live.fetch_add(1);
}

CFObject::~CFObject() {
    if (!immortal_) g_live.fetch_sub(1);
}

void CFObject::retain() {
    if (immortal_) return;
    if (refs_.fetch_add(1) <= 0) platform_crash("CFRetain of a deallocated object");
}

bool CFObject::try_retain() {
    if (immortal_) return true;
    long n = refs_.load();
    while (n > 0) {
        if (refs_.compare_exchange_weak(n, n + 1)) return true;
    }
    return false;
}

void CFObject::release() {
    if (immortal_) return;
    long before = refs_.fetch_sub(1);
    if (before <= 0) platform_crash("CFRelease of a deallocated object (over-release)");
    if (before == 1) delete this;
}

long live_objects() { return g_live.load(); }

// --- UTF conversions --------------------------------------------------------------------------

namespace {

// Converts when `out` is given; validates only otherwise.
bool convert_utf8(const std::string& in, std::u16string* out) {
    std::size_t i = 0;
    const auto* s = reinterpret_cast<const unsigned char*>(in.data());
    while (i < in.size()) {
        unsigned char c = s[i];
        char32_t cp;
        std::size_t n;
        if (c < 0x80) {
            if (out != nullptr) out->push_back(static_cast<char16_t>(c));
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            n = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            n = 3;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            n = 4;
        } else {
            return false;
        }
        if (i + n > in.size()) return false;
        for (std::size_t k = 1; k < n; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        if (out != nullptr && cp >= 0x10000) {
            cp -= 0x10000;
            out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else if (out != nullptr) {
            out->push_back(static_cast<char16_t>(cp));
        }
        i += n;
    }
    return true;
}

}  // namespace

bool utf8_to_utf16(const std::string& in, std::u16string& out) {
    out.clear();
    out.reserve(in.size());
    return convert_utf8(in, &out);
}

std::string utf16_to_utf8(const std::u16string& in) {
    std::string out;
    for (std::size_t i = 0; i < in.size(); ++i) {
        char32_t cp = in[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
            in[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;  // a lone surrogate
        }
        vemor::text::append_utf8(out, cp);
    }
    return out;
}

// --- Object classes ------------------------------------------------------------------------

StringObject::StringObject(std::string utf8, bool immortal)
    : CFObject(kTypeId, immortal),
      utf8_(std::move(utf8)),
      ascii_(std::all_of(utf8_.begin(), utf8_.end(),
                         [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {}

const std::u16string& StringObject::utf16() const {
    std::call_once(utf16_once_, [this] { utf8_to_utf16(utf8_, utf16_); });
    return utf16_;
}

bool StringObject::equals(const CFObject& other) const {
    auto* o = dynamic_cast<const StringObject*>(&other);
    return o != nullptr && o->utf8_ == utf8_;
}

CFHashCode StringObject::hash() const { return std::hash<std::string>{}(utf8_); }

NumberObject::NumberObject(CFNumberType type, std::int64_t i)
    : CFObject(kTypeId), type_(type), is_float_(false), i_(i) {}
NumberObject::NumberObject(CFNumberType type, double d)
    : CFObject(kTypeId), type_(type), is_float_(true), d_(d) {}

bool NumberObject::equals(const CFObject& other) const {
    auto* o = dynamic_cast<const NumberObject*>(&other);
    if (o == nullptr) return false;
    if (!is_float_ && !o->is_float_) return i_ == o->i_;
    double a = is_float_ ? d_ : static_cast<double>(i_);
    double b = o->is_float_ ? o->d_ : static_cast<double>(o->i_);
    return a == b || (std::isnan(a) && std::isnan(b));
}

CFHashCode NumberObject::hash() const {
    // Equal numbers compare as doubles, so they hash by the double; the cast is bounded because
    // converting a double outside the int64 range is undefined.
    double v = is_float_ ? d_ : static_cast<double>(i_);
    if (!(v > -9.2e18 && v < 9.2e18)) return std::isnan(v) ? 0 : (v > 0 ? 1 : 2);
    return static_cast<CFHashCode>(static_cast<std::int64_t>(v));
}

ArrayObject::ArrayObject(std::vector<CFTypeRef> items, bool retained)
    : CFObject(kTypeId), items_(std::move(items)), retained_(retained) {}

ArrayObject::~ArrayObject() {
    if (!retained_) return;
    for (CFTypeRef v : items_) {
        if (v != nullptr) mutable_object_of(v)->release();
    }
}

bool ArrayObject::equals(const CFObject& other) const {
    auto* o = dynamic_cast<const ArrayObject*>(&other);
    if (o == nullptr || o->items_.size() != items_.size()) return false;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        CFTypeRef a = items_[i];
        CFTypeRef b = o->items_[i];
        if (a == b) continue;
        if (a == nullptr || b == nullptr || !object_of(a)->equals(*object_of(b))) return false;
    }
    return true;
}

DictionaryObject::DictionaryObject(std::vector<std::pair<CFTypeRef, CFTypeRef>> entries)
    : CFObject(kTypeId), entries_(std::move(entries)) {}

DictionaryObject::~DictionaryObject() {
    for (auto& [k, v] : entries_) {
        mutable_object_of(k)->release();
        mutable_object_of(v)->release();
    }
}

CFTypeRef DictionaryObject::find(CFTypeRef key) const {
    for (auto& [k, v] : entries_) {
        if (k == key || object_of(k)->equals(*object_of(key))) return v;
    }
    return nullptr;
}

AXValueObject::AXValueObject(AXValueType type, const void* value) : CFObject(kTypeId), type_(type) {
    switch (type) {
        case kAXValueCGPointType:
            std::memcpy(&u_.point, value, sizeof(CGPoint));
            break;
        case kAXValueCGSizeType:
            std::memcpy(&u_.size, value, sizeof(CGSize));
            break;
        case kAXValueCGRectType:
            std::memcpy(&u_.rect, value, sizeof(CGRect));
            break;
        case kAXValueCFRangeType:
            std::memcpy(&u_.range, value, sizeof(CFRange));
            break;
        case kAXValueAXErrorType:
            std::memcpy(&u_.error, value, sizeof(AXError));
            break;
        default:
            break;
    }
}

bool AXValueObject::equals(const CFObject& other) const {
    auto* o = dynamic_cast<const AXValueObject*>(&other);
    if (o == nullptr || o->type_ != type_) return false;
    switch (type_) {
        case kAXValueCGPointType:
            return u_.point.x == o->u_.point.x && u_.point.y == o->u_.point.y;
        case kAXValueCGSizeType:
            return u_.size.width == o->u_.size.width && u_.size.height == o->u_.size.height;
        case kAXValueCGRectType:
            return std::memcmp(&u_.rect, &o->u_.rect, sizeof(CGRect)) == 0;
        case kAXValueCFRangeType:
            return u_.range.location == o->u_.range.location &&
                   u_.range.length == o->u_.range.length;
        case kAXValueAXErrorType:
            return u_.error == o->u_.error;
        default:
            return false;
    }
}

// --- Makers ----------------------------------------------------------------------------------

CFStringRef make_string(std::string utf8) {
    return ref_of<CFStringRef>(new StringObject(std::move(utf8)));
}
CFNumberRef make_number(std::int64_t v) {
    return ref_of<CFNumberRef>(new NumberObject(kCFNumberSInt64Type, v));
}
CFNumberRef make_number(double v) {
    return ref_of<CFNumberRef>(new NumberObject(kCFNumberFloat64Type, v));
}
CFArrayRef make_array(std::vector<CFTypeRef> retained_items) {
    return ref_of<CFArrayRef>(new ArrayObject(std::move(retained_items), true));
}
CFDictionaryRef make_dictionary(std::vector<std::pair<CFTypeRef, CFTypeRef>> retained_entries) {
    return ref_of<CFDictionaryRef>(new DictionaryObject(std::move(retained_entries)));
}
AXValueRef make_ax_value(AXValueType type, const void* value) {
    return ref_of<AXValueRef>(new AXValueObject(type, value));
}

namespace {
// Never destroyed, like the platform's own constants: a thread still reading an attribute while
// the process exits may hand one out after the static destructors have run.
const BooleanObject& g_true = *new BooleanObject(true);
const BooleanObject& g_false = *new BooleanObject(false);
}  // namespace

CFBooleanRef boolean_of(bool v) { return ref_of<CFBooleanRef>(v ? &g_true : &g_false); }

const std::string* string_text(CFTypeRef ref) {
    auto* s = cast<StringObject>(ref);
    return s != nullptr ? &s->utf8() : nullptr;
}

namespace {

// Number conversion as the platform reports it: the closest value is written, and the result
// says whether it was exact.
template <class T>
bool write_integer(std::int64_t i, void* out) {
    T v;
    bool exact = true;
    if (i < static_cast<std::int64_t>(std::numeric_limits<T>::min())) {
        v = std::numeric_limits<T>::min();
        exact = false;
    } else if (i > static_cast<std::int64_t>(std::numeric_limits<T>::max())) {
        v = std::numeric_limits<T>::max();
        exact = false;
    } else {
        v = static_cast<T>(i);
    }
    std::memcpy(out, &v, sizeof v);
    return exact;
}

template <class T>
bool write_integer_from_float(double d, void* out) {
    if (std::isnan(d)) {
        T zero = 0;
        std::memcpy(out, &zero, sizeof zero);
        return false;
    }
    double t = std::trunc(d);
    // 2^63 and beyond do not fit an int64; the bounds below are exact powers of two.
    constexpr double lo = static_cast<double>(std::numeric_limits<T>::min());
    constexpr double hi_excl = -lo;  // max + 1
    T v;
    bool exact = t == d;
    if (t < lo) {
        v = std::numeric_limits<T>::min();
        exact = false;
    } else if (t >= hi_excl) {
        v = std::numeric_limits<T>::max();
        exact = false;
    } else {
        v = static_cast<T>(t);
    }
    std::memcpy(out, &v, sizeof v);
    return exact;
}

enum class Target { I8, I16, I32, I64, F32, F64, Invalid };

Target target_of(CFNumberType t) {
    switch (t) {
        case kCFNumberSInt8Type:
        case kCFNumberCharType:
            return Target::I8;
        case kCFNumberSInt16Type:
        case kCFNumberShortType:
            return Target::I16;
        case kCFNumberSInt32Type:
        case kCFNumberIntType:
            return Target::I32;
        case kCFNumberSInt64Type:
        case kCFNumberLongType:
        case kCFNumberLongLongType:
        case kCFNumberCFIndexType:
        case kCFNumberNSIntegerType:
            return Target::I64;
        case kCFNumberFloat32Type:
        case kCFNumberFloatType:
            return Target::F32;
        case kCFNumberFloat64Type:
        case kCFNumberDoubleType:
        case kCFNumberCGFloatType:
            return Target::F64;
        default:
            return Target::Invalid;
    }
}

}  // namespace

// Whether [location, location + length) lies within size units, without overflowing the sum.
static bool range_fits(CFRange range, std::size_t size) {
    if (range.location < 0 || range.length < 0) return false;
    const auto location = static_cast<std::size_t>(range.location);
    return location <= size && static_cast<std::size_t>(range.length) <= size - location;
}

// Whether a floating-point value holds the integer exactly. The range test comes first: casting
// a double outside the int64 range back would be undefined.
static bool converts_back(double d, std::int64_t i) {
    return d >= -9223372036854775808.0 && d < 9223372036854775808.0 &&
           static_cast<std::int64_t>(d) == i;
}

static bool number_get_value(const NumberObject& n, CFNumberType type, void* out) {
    Target t = target_of(type);
    if (!n.is_float()) {
        std::int64_t i = n.int_value();
        switch (t) {
            case Target::I8:
                return write_integer<std::int8_t>(i, out);
            case Target::I16:
                return write_integer<std::int16_t>(i, out);
            case Target::I32:
                return write_integer<std::int32_t>(i, out);
            case Target::I64:
                return write_integer<std::int64_t>(i, out);
            case Target::F32: {
                float f = static_cast<float>(i);
                std::memcpy(out, &f, sizeof f);
                return converts_back(static_cast<double>(f), i);
            }
            case Target::F64: {
                double d = static_cast<double>(i);
                std::memcpy(out, &d, sizeof d);
                return converts_back(d, i);
            }
            case Target::Invalid:
                return false;
        }
    }
    double d = n.float_value();
    switch (t) {
        case Target::I8:
            return write_integer_from_float<std::int8_t>(d, out);
        case Target::I16:
            return write_integer_from_float<std::int16_t>(d, out);
        case Target::I32:
            return write_integer_from_float<std::int32_t>(d, out);
        case Target::I64:
            return write_integer_from_float<std::int64_t>(d, out);
        case Target::F32: {
            float f = static_cast<float>(d);
            std::memcpy(out, &f, sizeof f);
            return std::isnan(d) || static_cast<double>(f) == d;
        }
        case Target::F64:
            std::memcpy(out, &d, sizeof d);
            return true;
        case Target::Invalid:
            return false;
    }
    return false;
}

}  // namespace vemor::standin

using namespace vemor::standin;

// --- CoreFoundation entry points ----------------------------------------------------------------

extern "C" {

const CFArrayCallBacks kCFTypeArrayCallBacks = {0, nullptr, nullptr, nullptr, nullptr};
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {0,       nullptr, nullptr,
                                                                nullptr, nullptr, nullptr};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {0, nullptr, nullptr, nullptr,
                                                                    nullptr};
const CFBooleanRef kCFBooleanTrue = ref_of<CFBooleanRef>(&g_true);
const CFBooleanRef kCFBooleanFalse = ref_of<CFBooleanRef>(&g_false);

CFTypeRef CFRetain(CFTypeRef cf) {
    if (cf == nullptr) platform_crash("CFRetain(NULL)");
    check_fault("CFRetain");
    mutable_object_of(cf)->retain();
    return cf;
}

void CFRelease(CFTypeRef cf) {
    if (cf == nullptr) platform_crash("CFRelease(NULL)");
    check_fault("CFRelease");
    mutable_object_of(cf)->release();
}

CFIndex CFGetRetainCount(CFTypeRef cf) {
    if (cf == nullptr) platform_crash("CFGetRetainCount(NULL)");
    return object_of(cf)->retain_count();
}

CFTypeID CFGetTypeID(CFTypeRef cf) {
    if (cf == nullptr) platform_crash("CFGetTypeID(NULL)");
    check_fault("CFGetTypeID");
    return object_of(cf)->type_id();
}

Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2) {
    if (cf1 == nullptr || cf2 == nullptr) platform_crash("CFEqual(NULL)");
    check_fault("CFEqual");
    return cf1 == cf2 || object_of(cf1)->equals(*object_of(cf2));
}

CFHashCode CFHash(CFTypeRef cf) {
    if (cf == nullptr) platform_crash("CFHash(NULL)");
    check_fault("CFHash");
    return object_of(cf)->hash();
}

// Strings.

CFTypeID CFStringGetTypeID(void) {
    check_fault("CFStringGetTypeID");
    return kTypeIdString;
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* cStr, CFStringEncoding encoding) {
    if (cStr == nullptr) platform_crash("CFStringCreateWithCString(NULL)");
    if (check_fault("CFStringCreateWithCString").null) return nullptr;
    if (encoding != kCFStringEncodingUTF8 && encoding != kCFStringEncodingASCII) return nullptr;
    std::string s(cStr);
    if (!convert_utf8(s, nullptr)) return nullptr;
    return make_string(std::move(s));
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean) {
    if (numBytes < 0 || (bytes == nullptr && numBytes > 0)) return nullptr;
    if (check_fault("CFStringCreateWithBytes").null) return nullptr;
    if (encoding != kCFStringEncodingUTF8 && encoding != kCFStringEncodingASCII) return nullptr;
    std::string s(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(numBytes));
    if (!convert_utf8(s, nullptr)) return nullptr;
    return make_string(std::move(s));
}

CFStringRef CFStringCreateWithCharacters(CFAllocatorRef, const UniChar* chars, CFIndex numChars) {
    if (numChars < 0 || (chars == nullptr && numChars > 0)) return nullptr;
    std::u16string u(reinterpret_cast<const char16_t*>(chars), static_cast<std::size_t>(numChars));
    return make_string(utf16_to_utf8(u));
}

CFIndex CFStringGetLength(CFStringRef theString) {
    auto* s = cast<StringObject>(theString);
    if (s == nullptr) platform_crash("CFStringGetLength of a non-string");
    check_fault("CFStringGetLength");
    return static_cast<CFIndex>(s->utf16_length());
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) {
    if (encoding == kCFStringEncodingASCII) return length;
    // Three UTF-8 bytes per UTF-16 unit at most (a surrogate pair takes four for two units).
    if (length > std::numeric_limits<CFIndex>::max() / 3) return -1;  // kCFNotFound
    return length * 3;
}

Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize,
                           CFStringEncoding encoding) {
    auto* s = cast<StringObject>(theString);
    if (s == nullptr) platform_crash("CFStringGetCString of a non-string");
    if (check_fault("CFStringGetCString").null) return false;
    if (encoding != kCFStringEncodingUTF8) return false;
    const std::string& t = s->utf8();
    if (bufferSize <= 0 || static_cast<std::size_t>(bufferSize) < t.size() + 1) return false;
    std::memcpy(buffer, t.data(), t.size());
    buffer[t.size()] = '\0';
    return true;
}

const char* CFStringGetCStringPtr(CFStringRef theString, CFStringEncoding encoding) {
    auto* s = cast<StringObject>(theString);
    if (s == nullptr) platform_crash("CFStringGetCStringPtr of a non-string");
    // Like the platform, a direct pointer is only an optimisation; embedded NULs forbid it.
    if (encoding != kCFStringEncodingUTF8 || s->utf8().find('\0') != std::string::npos) {
        return nullptr;
    }
    return s->utf8().c_str();
}

CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding,
                         UInt8 lossByte, Boolean, UInt8* buffer, CFIndex maxBufLen,
                         CFIndex* usedBufLen) {
    (void)lossByte;
    auto* s = cast<StringObject>(theString);
    if (s == nullptr) platform_crash("CFStringGetBytes of a non-string");
    check_fault("CFStringGetBytes");
    if (s->ascii()) {
        // One byte per unit, as it stands.
        const std::string& t = s->utf8();
        if (!range_fits(range, t.size())) platform_crash("CFStringGetBytes: range out of bounds");
        CFIndex n = encoding == kCFStringEncodingUTF8 ? range.length : 0;
        if (buffer != nullptr) {
            n = std::min(n, std::max<CFIndex>(maxBufLen, 0));
            std::memcpy(buffer, t.data() + range.location, static_cast<std::size_t>(n));
        }
        if (usedBufLen != nullptr) *usedBufLen = n;
        return n;
    }
    const std::u16string& u = s->utf16();
    if (!range_fits(range, u.size())) platform_crash("CFStringGetBytes: range out of bounds");
    if (encoding != kCFStringEncodingUTF8) {
        if (usedBufLen != nullptr) *usedBufLen = 0;
        return 0;
    }
    // Convert unit by unit so that a short buffer stops at a whole character.
    CFIndex used = 0;
    CFIndex converted = 0;
    CFIndex end = range.location + range.length;
    for (CFIndex i = range.location; i < end;) {
        if (u[i] < 0x80) {  // one byte, as it stands
            if (buffer != nullptr) {
                if (used + 1 > maxBufLen) break;
                buffer[used] = static_cast<UInt8>(u[i]);
            }
            ++used;
            ++converted;
            ++i;
            continue;
        }
        CFIndex n = 1;
        if (u[i] >= 0xD800 && u[i] <= 0xDBFF && i + 1 < end && u[i + 1] >= 0xDC00 &&
            u[i + 1] <= 0xDFFF) {
            n = 2;
        }
        std::string chunk = utf16_to_utf8(u.substr(static_cast<std::size_t>(i), n));
        auto len = static_cast<CFIndex>(chunk.size());
        if (buffer != nullptr) {
            if (used + len > maxBufLen) break;
            std::memcpy(buffer + used, chunk.data(), chunk.size());
        }
        used += len;
        converted += n;
        i += n;
    }
    if (usedBufLen != nullptr) *usedBufLen = used;
    return converted;
}

void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar* buffer) {
    auto* s = cast<StringObject>(theString);
    if (s == nullptr) platform_crash("CFStringGetCharacters of a non-string");
    const std::u16string& u = s->utf16();
    if (!range_fits(range, u.size())) platform_crash("CFStringGetCharacters: range out of bounds");
    std::memcpy(buffer, u.data() + range.location,
                static_cast<std::size_t>(range.length) * sizeof(UniChar));
}

CFStringRef StandinCFStringMakeConstant(const char* cStr) {
    // Constant strings live for the whole process, one object per distinct text.
    static std::mutex m;
    static auto* table = new std::unordered_map<std::string, StringObject*>();
    std::lock_guard lock(m);
    auto [it, inserted] = table->try_emplace(cStr, nullptr);
    if (inserted) it->second = new StringObject(cStr, true);
    return ref_of<CFStringRef>(it->second);
}

// Numbers.

CFTypeID CFNumberGetTypeID(void) {
    check_fault("CFNumberGetTypeID");
    return kTypeIdNumber;
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void* valuePtr) {
    if (valuePtr == nullptr) platform_crash("CFNumberCreate(NULL value)");
    if (check_fault("CFNumberCreate").null) return nullptr;
    auto load = [&]<class T>(T) {
        T v;
        std::memcpy(&v, valuePtr, sizeof v);
        return v;
    };
    NumberObject* n = nullptr;
    switch (target_of(theType)) {
        case Target::I8:
            n = new NumberObject(theType, std::int64_t{load(std::int8_t{})});
            break;
        case Target::I16:
            n = new NumberObject(theType, std::int64_t{load(std::int16_t{})});
            break;
        case Target::I32:
            n = new NumberObject(theType, std::int64_t{load(std::int32_t{})});
            break;
        case Target::I64:
            n = new NumberObject(theType, load(std::int64_t{}));
            break;
        case Target::F32:
            n = new NumberObject(theType, static_cast<double>(load(float{})));
            break;
        case Target::F64:
            n = new NumberObject(theType, load(double{}));
            break;
        case Target::Invalid:
            return nullptr;
    }
    return ref_of<CFNumberRef>(n);
}

CFNumberType CFNumberGetType(CFNumberRef number) {
    auto* n = cast<NumberObject>(number);
    if (n == nullptr) platform_crash("CFNumberGetType of a non-number");
    check_fault("CFNumberGetType");
    return n->number_type();
}

Boolean CFNumberIsFloatType(CFNumberRef number) {
    auto* n = cast<NumberObject>(number);
    if (n == nullptr) platform_crash("CFNumberIsFloatType of a non-number");
    return n->is_float();
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr) {
    auto* n = cast<NumberObject>(number);
    if (n == nullptr) platform_crash("CFNumberGetValue of a non-number");
    if (valuePtr == nullptr) platform_crash("CFNumberGetValue(NULL buffer)");
    if (check_fault("CFNumberGetValue").null) return false;
    return number_get_value(*n, theType, valuePtr);
}

// Booleans.

CFTypeID CFBooleanGetTypeID(void) {
    check_fault("CFBooleanGetTypeID");
    return kTypeIdBoolean;
}

Boolean CFBooleanGetValue(CFBooleanRef boolean) {
    auto* b = cast<BooleanObject>(boolean);
    if (b == nullptr) platform_crash("CFBooleanGetValue of a non-boolean");
    if (check_fault("CFBooleanGetValue").null) return false;
    return b->value;
}

// Arrays.

CFTypeID CFArrayGetTypeID(void) {
    check_fault("CFArrayGetTypeID");
    return kTypeIdArray;
}

CFArrayRef CFArrayCreate(CFAllocatorRef, const void** values, CFIndex numValues,
                         const CFArrayCallBacks* callBacks) {
    if (numValues < 0 || (values == nullptr && numValues > 0)) {
        platform_crash("CFArrayCreate: bad values");
    }
    if (check_fault("CFArrayCreate").null) return nullptr;
    bool retained = callBacks == &kCFTypeArrayCallBacks;
    std::vector<CFTypeRef> items(values, values + numValues);
    if (retained) {
        for (CFTypeRef v : items) {
            if (v == nullptr) platform_crash("CFArrayCreate: NULL value with CF callbacks");
            mutable_object_of(v)->retain();
        }
    }
    return ref_of<CFArrayRef>(new ArrayObject(std::move(items), retained));
}

CFIndex CFArrayGetCount(CFArrayRef theArray) {
    auto* a = cast<ArrayObject>(theArray);
    if (a == nullptr) platform_crash("CFArrayGetCount of a non-array");
    check_fault("CFArrayGetCount");
    return static_cast<CFIndex>(a->items().size());
}

const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) {
    auto* a = cast<ArrayObject>(theArray);
    if (a == nullptr) platform_crash("CFArrayGetValueAtIndex of a non-array");
    if (check_fault("CFArrayGetValueAtIndex").null) return nullptr;
    if (idx < 0 || static_cast<std::size_t>(idx) >= a->items().size()) {
        platform_crash("CFArrayGetValueAtIndex: index out of bounds");
    }
    return a->items()[static_cast<std::size_t>(idx)];
}

// Dictionaries.

CFTypeID CFDictionaryGetTypeID(void) {
    check_fault("CFDictionaryGetTypeID");
    return kTypeIdDictionary;
}

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values,
                                   CFIndex numValues, const CFDictionaryKeyCallBacks*,
                                   const CFDictionaryValueCallBacks*) {
    if (numValues < 0 || ((keys == nullptr || values == nullptr) && numValues > 0)) {
        platform_crash("CFDictionaryCreate: bad entries");
    }
    if (check_fault("CFDictionaryCreate").null) return nullptr;
    std::vector<std::pair<CFTypeRef, CFTypeRef>> entries;
    for (CFIndex i = 0; i < numValues; ++i) {
        if (keys[i] == nullptr || values[i] == nullptr) {
            platform_crash("CFDictionaryCreate: NULL key or value");
        }
        mutable_object_of(keys[i])->retain();
        mutable_object_of(values[i])->retain();
        entries.emplace_back(keys[i], values[i]);
    }
    return make_dictionary(std::move(entries));
}

CFIndex CFDictionaryGetCount(CFDictionaryRef theDict) {
    auto* d = cast<DictionaryObject>(theDict);
    if (d == nullptr) platform_crash("CFDictionaryGetCount of a non-dictionary");
    check_fault("CFDictionaryGetCount");
    return static_cast<CFIndex>(d->entries().size());
}

const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key) {
    auto* d = cast<DictionaryObject>(theDict);
    if (d == nullptr) platform_crash("CFDictionaryGetValue of a non-dictionary");
    if (key == nullptr) platform_crash("CFDictionaryGetValue(NULL key)");
    if (check_fault("CFDictionaryGetValue").null) return nullptr;
    return d->find(key);
}

// AXValue.

CFTypeID AXValueGetTypeID(void) {
    check_fault("AXValueGetTypeID");
    return kTypeIdAXValue;
}

AXValueRef AXValueCreate(AXValueType theType, const void* valuePtr) {
    if (valuePtr == nullptr) return nullptr;
    if (check_fault("AXValueCreate").null) return nullptr;
    if (theType < kAXValueCGPointType || theType > kAXValueAXErrorType) return nullptr;
    return make_ax_value(theType, valuePtr);
}

AXValueType AXValueGetType(AXValueRef value) {
    auto* v = cast<AXValueObject>(value);
    if (v == nullptr) return kAXValueIllegalType;
    check_fault("AXValueGetType");
    return v->value_type();
}

Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void* valuePtr) {
    auto* v = cast<AXValueObject>(value);
    if (v == nullptr || valuePtr == nullptr) return false;
    if (check_fault("AXValueGetValue").null) return false;
    if (v->value_type() != theType) return false;
    std::size_t size = 0;
    switch (theType) {
        case kAXValueCGPointType:
            size = sizeof(CGPoint);
            break;
        case kAXValueCGSizeType:
            size = sizeof(CGSize);
            break;
        case kAXValueCGRectType:
            size = sizeof(CGRect);
            break;
        case kAXValueCFRangeType:
            size = sizeof(CFRange);
            break;
        case kAXValueAXErrorType:
            size = sizeof(AXError);
            break;
        default:
            return false;
    }
    std::memcpy(valuePtr, v->data(), size);
    return true;
}

}  // extern "C"
