// SPDX-License-Identifier: MIT
#include "CoreFoundation.h"

#include <cstring>
#include <map>

extern "C" {
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks{true};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks{true};
const CFBooleanRef kCFBooleanTrue = [] {
    auto* b = new __CFBoolean;
    b->value = true;
    b->refs = 1 << 30;  // immortal
    return b;
}();

CFTypeRef CFRetain(CFTypeRef object) {
    if (object) ++object->refs;
    return object;
}

void CFRelease(CFTypeRef object) {
    if (object && --object->refs == 0) delete object;
}

bool CFEqual(CFTypeRef a, CFTypeRef b) {
    if (a == b) return true;
    auto* sa = dynamic_cast<const __CFString*>(a);
    auto* sb = dynamic_cast<const __CFString*>(b);
    if (sa && sb) return sa->text == sb->text;
    auto* na = dynamic_cast<const __CFNumber*>(a);
    auto* nb = dynamic_cast<const __CFNumber*>(b);
    if (na && nb) return na->value == nb->value;
    return false;
}

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef, CFIndex,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks) {
    auto* dict = new __CFDictionary;
    dict->retainsKeys = keyCallBacks && keyCallBacks->retains;
    dict->retainsValues = valueCallBacks && valueCallBacks->retains;
    return dict;
}

void CFDictionarySetValue(CFMutableDictionaryRef dict, const void* key, const void* value) {
    if (!dict || !key) return;
    auto k = static_cast<CFTypeRef>(key);
    auto v = static_cast<CFTypeRef>(value);
    if (dict->retainsValues) CFRetain(v);
    for (auto& entry : dict->entries) {
        if (CFEqual(entry.first, k)) {
            if (dict->retainsValues) CFRelease(entry.second);
            entry.second = v;
            return;
        }
    }
    if (dict->retainsKeys) CFRetain(k);
    dict->entries.emplace_back(k, v);
}

const void* CFDictionaryGetValue(CFDictionaryRef dict, const void* key) {
    if (!dict || !key) return nullptr;
    for (const auto& entry : dict->entries)
        if (CFEqual(entry.first, static_cast<CFTypeRef>(key))) return entry.second;
    return nullptr;
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFIndex type, const void* valuePtr) {
    if (type != kCFNumberSInt32Type || !valuePtr) return nullptr;
    auto* n = new __CFNumber;
    n->type = static_cast<int>(type);
    int32_t v;
    std::memcpy(&v, valuePtr, sizeof v);
    n->value = v;
    return n;
}

bool CFNumberGetValue(CFNumberRef number, CFIndex type, void* valuePtr) {
    if (!number || type != kCFNumberSInt32Type || !valuePtr) return false;
    auto v = static_cast<int32_t>(number->value);
    std::memcpy(valuePtr, &v, sizeof v);
    return true;
}

CFStringRef CFSTR(const char* text) {
    static std::map<std::string, __CFString> interned;
    auto [entry, made] = interned.try_emplace(text ? text : "");
    if (made) {
        entry->second.text = entry->first;
        entry->second.refs = 1 << 30;  // immortal
    }
    return &entry->second;
}
}

__CFDictionary::~__CFDictionary() {
    for (auto& entry : entries) {
        if (retainsKeys) CFRelease(entry.first);
        if (retainsValues) CFRelease(entry.second);
    }
}
