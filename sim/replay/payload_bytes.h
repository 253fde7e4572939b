// The bytes of a recording's block payload as its items are read from them
// (docs/recordings.md): bytes, varints, zigzag numbers, texts of a bounded length.
// Shared by the reading of the items (recording_items.cpp) and of each event's shape
// (event_shapes.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace rec {

// Reads bytes within [p, end); the first problem is kept, and every read after it
// gives zeros.
struct Bytes {
    const uint8_t* p;
    const uint8_t* end;
    const char* problem = nullptr;

    bool fail(const char* what) {
        if (!problem) problem = what;
        p = end;
        return false;
    }
    uint8_t u8() {
        if (p >= end) return fail("an item is cut short"), 0;
        return *p++;
    }
    uint64_t varint() {
        uint64_t v = 0;
        for (int shift = 0; shift < 70; shift += 7) {
            if (p >= end) return fail("an item is cut short"), 0;
            const uint8_t b = *p++;
            if (shift == 63 && b > 1) return fail("a number is too long"), 0;
            v |= (uint64_t)(b & 0x7F) << shift;
            if (!(b & 0x80)) return v;
        }
        return fail("a number is too long"), 0;
    }
    int64_t zigzag() {
        const uint64_t v = varint();
        return (int64_t)(v >> 1) ^ -(int64_t)(v & 1);
    }
    uint64_t u64() {
        uint64_t v = 0;
        for (int k = 0; k < 8; ++k) v |= (uint64_t)u8() << (8 * k);
        return v;
    }
    bool take(size_t n, std::string* out) {
        if ((size_t)(end - p) < n) return fail("an item is cut short");
        if (out) out->assign((const char*)p, n);
        p += n;
        return true;
    }
    bool text(std::string* out, size_t limit) {
        const uint64_t n = varint();
        if (n > limit) return fail("a text is too long");
        return take((size_t)n, out);
    }
};

} // namespace rec
