// Reading Windows initialisation-file text as GetPrivateProfileStringA and
// GetPrivateProfileIntA do. Kept apart from the file access so that it can be tested
// and fuzzed on plain memory; the tools that explain a settings file walk its lines
// with it too.
#pragma once

#include <cstddef>
#include <cstdint>

// Looks up `key` in `section` of the text `data` (`size` bytes), as Windows'
// GetPrivateProfileStringA does. Lines end at LF or CR; a UTF-8 or UTF-16 byte-order
// mark is honoured. Section and key names match without regard to case, surrounding
// blanks are ignored, and a header's name runs to the line's last ']'. Only the
// first section of the name counts, and in it the first line naming the key, with
// or without '='. Lines starting with ';' are comments. The value, up to a NUL, is
// copied into `out` (`outSize` bytes with its NUL): matching quotes around it
// dropped, and at most `outSize` - 1 characters (after a quoted value the last
// character copied goes, unless the value did not fit). `def` is copied instead when
// the section or the key is missing or the key has no '='. Returns the characters
// copied. A file in Unicode (after a UTF-8 or UTF-16 byte-order mark) is narrowed to
// the system's ANSI code page as Windows narrows it, Windows-1252 here: Latin-1 as
// it is, the full-width forms of ASCII as ASCII ("８０" is "80"), anything else '?'.
uint32_t profileReadString(const char* data, size_t size, const char* section, const char* key,
                           const char* def, char* out, uint32_t outSize);

// The integer of the same value, as GetPrivateProfileIntA gives it: the value's
// text as read into 30 characters, unnarrowed (a character beyond ASCII is none of
// the characters below), then leading control characters and blanks
// skipped, an optional '+' or '-', then digits ("0x", "0o", "0b" introduce
// hexadecimal, octal, binary) up to the first other character; no digits gives 0.
// The result wraps to 32 bits. Returns `def` when the text read is empty.
uint32_t profileReadInt(const char* data, size_t size, const char* section, const char* key, int32_t def);

// The file's characters as Windows reads them: bytes, or UTF-16 code units after a
// UTF-16 byte-order mark (a character beyond ASCII stands as 0x80, which is no
// blank, no digit and part of no name the plug-in asks for).
enum ProfileEncoding : uint8_t { ProfileBytes, ProfileUtf8Bom, ProfileUtf16Le, ProfileUtf16Be };
struct ProfileText {
    const unsigned char* bytes; // after the byte-order mark
    size_t size;                // characters
    ProfileEncoding encoding;
};
ProfileText profileText(const char* data, size_t size);
unsigned char profileCharAt(const ProfileText& t, size_t i);

// One line as Windows takes it. Positions are characters of the text.
enum ProfileLineKind : uint8_t {
    ProfileBlank,
    ProfileComment, // starts with ';'
    ProfileSection, // "[name]": the name runs to the line's last ']'
    ProfileKey,     // any other line: "name=value", or a name alone (a key without a value)
    ProfileNoHeader // starts with '[' and has no ']' after it: Windows skips it
};
struct ProfileLine {
    ProfileLineKind kind;
    size_t begin, end;           // the line, without its blanks around
    size_t nameBegin, nameEnd;   // a section's or a key's name, without blanks around, up to a NUL
    bool hasValue;               // a key's line has a '='
    size_t valueBegin, valueEnd; // its value, without blanks around (still quoted, not cut)
};
// The line that starts at *at, and *at moved to the next one (a CR LF is one line
// end); false at the end of the text.
bool profileNextLine(const ProfileText& t, size_t* at, ProfileLine* line);
