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
#include <immintrin.h>
#endif

#if defined(__SSE2__) && defined(__GNUC__)
// Twice the width and four at a time where the processor has it, chosen when
// the copy runs (the build targets the baseline): a quarter of the plain
// loop's instructions, which were a third of the platform's cost a frame.
__attribute__((target("avx"))) inline void streamCopyWide(void* to, const void* from, size_t bytes) {
    auto* out = static_cast<__m256i*>(to);
    auto* in = static_cast<const __m256i*>(from);
    size_t n = bytes / 32, i = 0;
    for (; i + 4 <= n; i += 4) {
        __m256i a = _mm256_loadu_si256(in + i), b = _mm256_loadu_si256(in + i + 1);
        __m256i c = _mm256_loadu_si256(in + i + 2), d = _mm256_loadu_si256(in + i + 3);
        _mm256_stream_si256(out + i, a);
        _mm256_stream_si256(out + i + 1, b);
        _mm256_stream_si256(out + i + 2, c);
        _mm256_stream_si256(out + i + 3, d);
    }
    for (; i < n; ++i) _mm256_stream_si256(out + i, _mm256_loadu_si256(in + i));
}

// Whether streamCopyWide can take rows of `bytes` at `to`, `pitch` apart.
inline bool fitsWide(const void* to, ptrdiff_t pitch, size_t bytes) {
    static const bool avx = __builtin_cpu_supports("avx");
    return avx && reinterpret_cast<uintptr_t>(to) % 32 == 0 && pitch % 32 == 0 && bytes % 32 == 0;
}
#endif

inline void streamCopy(void* to, const void* from, size_t bytes) {
#if defined(__SSE2__)
#if defined(__GNUC__)
    if (fitsWide(to, 0, bytes)) {
        streamCopyWide(to, from, bytes);
        return;
    }
#endif
    if (reinterpret_cast<uintptr_t>(to) % 16 == 0 && bytes % 16 == 0) {
        auto* out = static_cast<__m128i*>(to);
        auto* in = static_cast<const __m128i*>(from);
        for (size_t i = 0; i < bytes / 16; ++i) _mm_stream_si128(out + i, _mm_loadu_si128(in + i));
        return;
    }
#endif
    std::memcpy(to, from, bytes);
}

// `rows` rows of `bytes` each, the source's `fromPitch` apart and the
// destination's `toPitch` (which may be negative: the rows reversed), the
// way chosen once for them all.
inline void streamCopyRows(uint8_t* to, ptrdiff_t toPitch, const uint8_t* from, size_t fromPitch, size_t bytes,
                           int rows) {
#if defined(__SSE2__) && defined(__GNUC__)
    if (fitsWide(to, toPitch, bytes)) {
        for (int r = 0; r < rows; ++r, to += toPitch, from += fromPitch) streamCopyWide(to, from, bytes);
        return;
    }
#endif
    for (int r = 0; r < rows; ++r, to += toPitch, from += fromPitch) streamCopy(to, from, bytes);
}

// After a run of streamCopy: the bytes are in memory before the reader is
// told to read them.
inline void streamCopyDone() {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}
