// The few operating-system calls Tolvenmire makes. On Windows these are the real
// Windows calls; elsewhere (the Linux build that the stand-in host loads) small
// stand-ins with the same names and the same behaviour.
#pragma once

#include <cstdint>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#define TOLVENMIRE_EXPORT extern "C" __declspec(dllexport)
#else
// The Windows types the script hook's interface is written in. DWORD is 32 bits
// on Windows (LLP64), so it cannot be `unsigned long` here.
struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int32_t BOOL;
typedef int32_t INT;
typedef uint32_t UINT;
typedef uint64_t UINT64;
typedef void* LPVOID;
typedef const char* LPCSTR;
typedef char* LPSTR;
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3
#define WINAPI
#define TOLVENMIRE_EXPORT extern "C" __attribute__((visibility("default")))

// Milliseconds since system start, wrapping at 2^32. Exported with default
// visibility on purpose: a host that brings its own GetTickCount (the stand-in
// host does, to control time in tests) takes its place under ELF symbol lookup,
// as a patched import does on Windows.
extern "C" __attribute__((visibility("default"))) DWORD GetTickCount(void);

// Windows initialisation-file semantics: the integer value of `key` in
// `section` of `file`, or `def` when the file, the section or the key is missing.
// A backslash in `file` is a path separator.
extern "C" UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT def, LPCSTR file);
// The same file's text value of `key` into `out` (`size` bytes with its NUL), or
// `def` when the file, the section or the key is missing; the characters copied.
extern "C" DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR def, LPSTR out, DWORD size,
                                          LPCSTR file);
#endif

// A Windows test build that exports neither the state record nor the settings, as
// an older release or another build of the plug-in may: the tools must take any build.
#ifdef TOLVENMIRE_TEST_NO_EXPORTS
#undef TOLVENMIRE_EXPORT
#define TOLVENMIRE_EXPORT extern "C"
#endif

// Writes `size` bytes as the whole content of `path` (created or truncated) and
// makes them durable. False on any failure.
bool platformWriteFile(const char* path, const char* bytes, int size);

// Replaces `to` with `from` in one step. False when it cannot (a read-only `to`
// among other reasons); both files are then as they were.
bool platformReplaceFile(const char* from, const char* to);

// True when `path` is a file marked read-only (Windows' read-only attribute; here,
// a file without any write permission).
bool platformReadOnly(const char* path);

// Removes `path`; a missing file is not an error.
void platformRemoveFile(const char* path);

// A file written from its start, a piece at a time (the session recording).
typedef intptr_t PlatformFile;
const PlatformFile NoFile = -1;
// Creates `path` for writing, a file that must not exist yet (an existing one is
// never truncated); others may read it meanwhile. NoFile on failure.
PlatformFile platformCreateNewFile(const char* path);
// Appends `size` bytes. False on any failure, a short write included.
bool platformAppendFile(PlatformFile file, const void* bytes, int size);
void platformCloseFile(PlatformFile file);
