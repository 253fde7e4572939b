// Reading an integer out of Windows initialisation-file text, as
// GetPrivateProfileIntA does. Kept apart from the file access so that it can be
// tested and fuzzed on plain memory.
#pragma once

#include <cstddef>
#include <cstdint>

// Looks up `key` in `section` of the text `data` (`size` bytes), as Windows'
// GetPrivateProfileIntA does. Lines end at LF or CR; a UTF-8 or UTF-16 byte-order
// mark is honoured. Section and key names match without regard to case, surrounding
// blanks are ignored, and a header's name runs to the line's last ']'. Only the
// first section of the name counts, and in it the first line naming the key, with
// or without '='. Lines starting with ';' are comments. The value converts as
// Windows converts it: matching quotes dropped, at most 29 characters, leading
// control characters and blanks skipped, an optional '+' or '-', then digits
// ("0x", "0o", "0b" introduce hexadecimal, octal, binary) up to the first other
// character; no digits gives 0. The result wraps to 32 bits. Returns `def` when the
// section or the key is missing or the key has no value.
uint32_t profileReadInt(const char* data, size_t size, const char* section, const char* key, int32_t def);
