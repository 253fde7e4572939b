// The session recorder: with RECORD_SESSION on, everything from outside that the
// script's behaviour depends on goes into "Tolvenmire.rec" in the game's folder, as
// the script thread takes it in (docs/recordings.md gives the bytes): the settings
// as read, the save file as loaded, every native with its arguments and the result
// bytes read, the waits, the global cell, the tick count readings, the drink key's
// entry of the key table as the key test read it, the saves.
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
// goes out at once with the six settings, each as the number the plug-in settled on
// and as the text the player wrote (at most 29 bytes). When the earlier recording
// cannot become the previous one (a previous one that cannot be replaced), this
// session is not recorded: both files stay as they are.
void recordStart(const uint32_t settingsAnswers[6], const char* const settingsTexts[6]);

// The save file at the script's start: opened, then each block of bytes read.
void recordSaveOpened();
void recordSaveBytes(const char* bytes, int size);
// A save: the text written.
void recordSave(const char* text, int size);

// The key test (consumeKeyTrigger) read `key`'s entry of the key table, right after
// its tick count reading: the entry goes into the recording when it differs from the
// one the recording holds for the key (the last one written, or an empty entry once
// the test emptied it or at the start). `emptied`: the test emptied it.
void recordKeyRead(int32_t key, uint32_t tick, int32_t fifth, int32_t sixth, int32_t seventh, bool emptied);

// The plug-in unloads (the game quits): the whole items the block holds go out, and
// the recording is closed, so that a session that ends cleanly is recorded to its
// end. At a process exit the script thread may have been stopped anywhere, in the
// middle of an item or of a block's write: half an item is left out, and a block
// whose write had begun is not written again.
void recordFinish();

// The recording runs (started, not ended by the cap or a failed write).
bool recordingOn();
