// The reference-counted objects of the simulated platform. Every platform reference handed out
// (CFStringRef, AXUIElementRef, ...) points at a `CFObject`; the opaque struct types of
// platform.h are never defined, the pointers are only cast back here.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "vemor/standin/platform.h"

namespace vemor::standin {

// Type ids, distinct per class; their values mean nothing beyond that.
enum : CFTypeID {
    kTypeIdDictionary = 18,
    kTypeIdArray = 19,
    kTypeIdBoolean = 21,
    kTypeIdNumber = 22,
    kTypeIdString = 7,
    kTypeIdRunLoop = 43,
    kTypeIdRunLoopSource = 46,
    kTypeIdRunLoopObserver = 47,
    kTypeIdAXUIElement = 501,
    kTypeIdAXObserver = 502,
    kTypeIdAXValue = 503,
    kTypeIdCGEvent = 504,
    kTypeIdCGImage = 505,
};

class CFObject {
public:
    // Immortal objects (constant strings, booleans, run loops) ignore retain and release and are
    // not counted as live.
    CFObject(CFTypeID type, bool immortal = false);
    virtual ~CFObject();
    CFObject(const CFObject&) = delete;
    CFObject& operator=(const CFObject&) = delete;

    virtual bool equals(const CFObject& other) const { return this == &other; }
    virtual CFHashCode hash() const { return reinterpret_cast<std::uintptr_t>(this); }

    CFTypeID type_id() const { return type_; }
    bool immortal() const { return immortal_; }
    long retain_count() const { return refs_.load(); }

    void retain();
    // Takes a reference only while the object is still alive (count above 0).
    bool try_retain();
    void release();

private:
    CFTypeID type_;
    bool immortal_;
    std::atomic<long> refs_{1};
};

long live_objects();

inline const CFObject* object_of(CFTypeRef ref) { return static_cast<const CFObject*>(ref); }
inline CFObject* mutable_object_of(CFTypeRef ref) {
    return const_cast<CFObject*>(static_cast<const CFObject*>(ref));
}
// The object behind ref when it is of class T (by type id), else nullptr.
template <class T>
T* cast(CFTypeRef ref) {
    if (ref == nullptr) return nullptr;
    CFObject* o = mutable_object_of(ref);
    return o->type_id() == T::kTypeId ? static_cast<T*>(o) : nullptr;
}
// The platform reference type for an object.
template <class Ref>
Ref ref_of(const CFObject* o) {
    return reinterpret_cast<Ref>(const_cast<CFObject*>(o));
}

class StringObject final : public CFObject {
public:
    static constexpr CFTypeID kTypeId = kTypeIdString;
    StringObject(std::string utf8, bool immortal = false);
    const std::string& utf8() const { return utf8_; }
    // The UTF-16 form, converted on first use: most strings are only ever read as UTF-8.
    const std::u16string& utf16() const;
    // The length in UTF-16 units.
    std::size_t utf16_length() const { return ascii_ ? utf8_.size() : utf16().size(); }
    // Every byte below 0x80: each UTF-16 unit is the byte at the same index.
    bool ascii() const { return ascii_; }
    bool equals(const CFObject& other) const override;
    CFHashCode hash() const override;

private:
    std::string utf8_;
    bool ascii_;
    mutable std::once_flag utf16_once_;
    mutable std::u16string utf16_;
};

class NumberObject final : public CFObject {
public:
    static constexpr CFTypeID kTypeId = kTypeIdNumber;
    NumberObject(CFNumberType type, std::int64_t i);
    NumberObject(CFNumberType type, double d);
    CFNumberType number_type() const { return type_; }
    bool is_float() const { return is_float_; }
    std::int64_t int_value() const { return i_; }
    double float_value() const { return d_; }
    bool equals(const CFObject& other) const override;
    CFHashCode hash() const override;

private:
    CFNumberType type_;
    bool is_float_;
    std::int64_t i_ = 0;
    double d_ = 0;
};

class BooleanObject final : public CFObject {
public:
    static constexpr CFTypeID kTypeId = kTypeIdBoolean;
    explicit BooleanObject(bool v) : CFObject(kTypeId, true), value(v) {}
    const bool value;
};

// Holds one reference to each value.
class ArrayObject final : public CFObject {
public:
    static constexpr CFTypeID kTypeId = kTypeIdArray;
    // Takes over the references in items (retained = true) or stores them unretained.
    ArrayObject(std::vector<CFTypeRef> items, bool retained);
    ~ArrayObject() override;
    const std::vector<CFTypeRef>& items() const { return items_; }
    bool equals(const CFObject& other) const override;
    CFHashCode hash() const override { return items_.size(); }

private:
    std::vector<CFTypeRef> items_;
    bool retained_;
};

class DictionaryObject final : public CFObject {
public:
    static constexpr CFTypeID kTypeId = kTypeIdDictionary;
    // Takes over one reference to every key and value.
    explicit DictionaryObject(std::vector<std::pair<CFTypeRef, CFTypeRef>> entries);
    ~DictionaryObject() override;
    const std::vector<std::pair<CFTypeRef, CFTypeRef>>& entries() const { return entries_; }
    CFTypeRef find(CFTypeRef key) const;
    CFHashCode hash() const override { return entries_.size(); }

private:
    std::vector<std::pair<CFTypeRef, CFTypeRef>> entries_;
};

class AXValueObject final : public CFObject {
public:
    static constexpr CFTypeID kTypeId = kTypeIdAXValue;
    AXValueObject(AXValueType type, const void* value);
    AXValueType value_type() const { return type_; }
    const void* data() const { return &u_; }
    bool equals(const CFObject& other) const override;
    CFHashCode hash() const override { return type_; }

    union Storage {
        CGPoint point;
        CGSize size;
        CGRect rect;
        CFRange range;
        AXError error;
    };

private:
    AXValueType type_;
    Storage u_{};
};

class ImageObject final : public CFObject {
public:
    static constexpr CFTypeID kTypeId = kTypeIdCGImage;
    ImageObject(std::size_t w, std::size_t h)
        : CFObject(kTypeId), width(w), height(h), rgba(w * h * 4, 0) {}
    const std::size_t width;
    const std::size_t height;
    std::vector<std::uint8_t> rgba;
};

// Makers of new objects (one reference, owned by the caller).
CFStringRef make_string(std::string utf8);
CFNumberRef make_number(std::int64_t v);
CFNumberRef make_number(double v);
CFArrayRef make_array(std::vector<CFTypeRef> retained_items);
CFDictionaryRef make_dictionary(std::vector<std::pair<CFTypeRef, CFTypeRef>> retained_entries);
AXValueRef make_ax_value(AXValueType type, const void* value);
CFBooleanRef boolean_of(bool v);

// The text of a CFString, or nullptr when ref is not one.
const std::string* string_text(CFTypeRef ref);

// UTF-8 <-> UTF-16; false for malformed input.
bool utf8_to_utf16(const std::string& in, std::u16string& out);
std::string utf16_to_utf8(const std::u16string& in);

[[noreturn]] void platform_crash(const char* what);

}  // namespace vemor::standin
