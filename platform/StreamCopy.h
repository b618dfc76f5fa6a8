// SPDX-License-Identifier: MIT
#pragma once

// Copies into memory another process reads next (a display server's shared
// memory). Streaming stores leave the cache alone: the reader's core read
// these lines last, and taking each back for an ordinary store made such a
// copy three times as slow.

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

inline void streamCopy(void* to, const void* from, size_t bytes) {
#if defined(__SSE2__)
    if (reinterpret_cast<uintptr_t>(to) % 16 == 0 && bytes % 16 == 0) {
        auto* out = static_cast<__m128i*>(to);
        auto* in = static_cast<const __m128i*>(from);
        for (size_t i = 0; i < bytes / 16; ++i) _mm_stream_si128(out + i, _mm_loadu_si128(in + i));
        return;
    }
#endif
    std::memcpy(to, from, bytes);
}

// After a run of streamCopy: the bytes are in memory before the reader is
// told to read them.
inline void streamCopyDone() {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}
