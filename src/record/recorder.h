// The session recorder: with RECORD_SESSION on, everything from outside that the
// script's behaviour depends on goes into "Tolvenmire.rec" in the game's folder, as
// the script thread takes it in (docs/recordings.md gives the bytes): the settings
// as read, the save file as loaded, every native with its arguments and the result
// bytes read, the waits, the global cell, the tick count readings, the key events,
// the saves.
//
// Off, none of this runs: the script reaches the script hook through the plain
// pointers of hook/hook_table.h. On, the recorder points them at its wrappers.
// It writes from fixed buffers, in blocks each with its length and checksum, and
// never past a size cap; a write that fails ends the recording and nothing else.
#pragma once

#include "platform/platform.h"

#include <atomic>
#include <cstdint>

// The recording's names in the game's folder: the session's, and the one before.
#define RECORDING_FILE "Tolvenmire.rec"
#define PREVIOUS_RECORDING_FILE "Tolvenmire.prev.rec"

// The file never grows past this; the recording then ends with an end mark.
const uint32_t RecordingCap = 64u << 20;

// Starts recording, once, at the script's start (on the script thread, before the
// save file is loaded): the earlier recording becomes the previous one, the header
// and the six settings answers go out at once.
void recordStart(const uint32_t settingsAnswers[6]);

// The save file at the script's start: opened, then each block of bytes read.
void recordSaveOpened();
void recordSaveBytes(const char* bytes, int size);
// A save: the text written.
void recordSave(const char* text, int size);

// A keyboard event as the handler stored it (its seven arguments and the tick
// count it read), from the keyboard thread; the script thread writes it into the
// recording when its wait returns.
extern std::atomic<bool> gRecordingKeys;
void recordKey(DWORD key, WORD second, BYTE third, BOOL fourth, BOOL fifth, BOOL sixth, BOOL seventh,
               DWORD tick);

// The plug-in unloads (the game quits): what the block holds goes out, and the
// recording is closed, so that a session that ends cleanly is recorded to its end.
void recordFinish();

// The recording runs (started, not ended by the cap or a failed write).
bool recordingOn();
