// A native's hash as the host's lines write it ("0x" and 16 capital hex digits),
// from the native table's name: a test that expects a line of the trace or of a
// fault names the native, and never spells its hash out.
#pragma once

#include "standin/native_table.h"

#include <cinttypes>
#include <cstdio>
#include <string>

inline std::string hashText(uint64_t hash) {
    char text[19];
    std::snprintf(text, sizeof text, "0x%016" PRIX64, hash);
    return text;
}
