// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Minimal reference-counted property objects: strings, numbers, booleans and
// a mutable dictionary.
struct __CFType {
    virtual ~__CFType() = default;
    mutable int refs = 1;
};
using CFTypeRef = const __CFType*;

struct __CFString : __CFType {
    std::string text;
};
using CFStringRef = const __CFString*;

struct __CFNumber : __CFType {
    int type = 0;
    int64_t value = 0;
};
using CFNumberRef = const __CFNumber*;

struct __CFBoolean : __CFType {
    bool value = false;
};
using CFBooleanRef = const __CFBoolean*;

struct CFDictionaryKeyCallBacks {
    bool retains;
};
struct CFDictionaryValueCallBacks {
    bool retains;
};

struct __CFDictionary : __CFType {
    ~__CFDictionary() override;
    bool retainsKeys = false;
    bool retainsValues = false;
    std::vector<std::pair<CFTypeRef, CFTypeRef>> entries;
};
using CFDictionaryRef = const __CFDictionary*;
using CFMutableDictionaryRef = __CFDictionary*;

using CFAllocatorRef = const void*;
using CFIndex = long;
constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;

enum CFNumberType { kCFNumberSInt32Type = 3 };

extern "C" {
extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;
extern const CFBooleanRef kCFBooleanTrue;

CFTypeRef CFRetain(CFTypeRef object);
void CFRelease(CFTypeRef object);
bool CFEqual(CFTypeRef a, CFTypeRef b);

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef allocator, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks);
void CFDictionarySetValue(CFMutableDictionaryRef dict, const void* key, const void* value);
const void* CFDictionaryGetValue(CFDictionaryRef dict, const void* key);

// Only the signed 32-bit type (3) is known; other types give null.
CFNumberRef CFNumberCreate(CFAllocatorRef allocator, CFIndex type, const void* valuePtr);
bool CFNumberGetValue(CFNumberRef number, CFIndex type, void* valuePtr);

// Constant strings live for the whole process.
CFStringRef CFSTR(const char* text);
}
