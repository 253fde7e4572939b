// Reading an integer out of Windows initialisation-file text, as
// GetPrivateProfileIntA does. Kept apart from the file access so that it can be
// tested and fuzzed on plain memory.
#pragma once

#include <cstddef>
#include <cstdint>

// Looks up `key` in `section` of the text `data` (`size` bytes). Section and key
// names match without regard to case, and surrounding blanks are ignored. The
// first matching key of the first matching section wins. Lines starting with ';'
// are comments. The value converts as Windows converts it: leading blanks, an
// optional '-', then decimal digits ("0x" introduces hexadecimal), stopping at the
// first other character; no digits gives 0. The result wraps to 32 bits.
// Returns `def` when the section or the key is missing.
uint32_t profileReadInt(const char* data, size_t size, const char* section, const char* key, int32_t def);
