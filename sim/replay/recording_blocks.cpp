// A recording's bytes as the file lays them out (docs/recordings.md): the head (the
// magic and the format version), then block by block, each checked by its length
// and CRC-32; the first block's payload is the plug-in's version and settings, every
// later one's its items (recording_items.h). A torn last block ends the recording.
#include "replay/recording_items.h"
#include "replay/recording_reader.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace rec {

namespace {

const uint8_t Magic[8] = {'T', 'O', 'L', 'V', 'R', 'E', 'C', 0x1a};
// Version 2 holds the key table's entry as the key test read it (KeyRead); version 1
// the keyboard events as the handler received them (Key); version 3 is version 2 with
// the settings' texts in its header. All are read.
const uint32_t ReaderVersion = 3;
// Larger than any block the plug-in writes (32 KiB): beyond it a block is not one of
// a recording.
const uint32_t MaxBlock = 1u << 20;

uint32_t crcTable[256];
bool crcReady = false;

uint32_t crc32(const uint8_t* p, size_t n) {
    if (!crcReady) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            crcTable[i] = c;
        }
        crcReady = true;
    }
    uint32_t c = 0xFFFFFFFFu;
    for (size_t k = 0; k < n; ++k) c = crcTable[(c ^ p[k]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

uint32_t le32(const uint8_t* p) {
    return p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// The file's head: the magic, and a format version this reader knows.
bool readHead(const uint8_t* data, size_t size, const std::string& name, Recording* out, std::string* error) {
    if (size == 0) return *error = name + ": empty, not a recording", false;
    if (memcmp(data, Magic, size < 8 ? size : 8) != 0)
        return *error = name + ": not a recording (it does not begin as Tolvenmire.rec does)", false;
    if (size < 12) return *error = name + ": the file's head is cut short", false;
    out->formatVersion = le32(data + 8);
    if (out->formatVersion == 0 || out->formatVersion > ReaderVersion) {
        char b[128];
        snprintf(b, sizeof b,
                 ": format version %" PRIu32 ", which this reader (version %" PRIu32 ") does not know",
                 out->formatVersion, ReaderVersion);
        return *error = name + b, false;
    }
    return true;
}

enum class Framing { Whole, Torn, Bad };

// The block at `at`: its head, its length and its checksum. A torn block ends the
// recording (out->tornTail says where and how); a bad one is an error.
Framing frameBlock(const uint8_t* data, size_t size, size_t at, int block, const std::string& name,
                   Recording* out, uint32_t* length, std::string* error) {
    char b[160];
    const size_t left = size - at;
    if (left < 8) {
        snprintf(b, sizeof b, ": block %d is cut short (%zu of the 8 bytes of its head)", block, left);
        out->tornTail = name + b;
        return Framing::Torn;
    }
    *length = le32(data + at);
    const uint32_t crc = le32(data + at + 4);
    if (*length == 0 || *length > MaxBlock) {
        snprintf(b, sizeof b, ": block %d: a length of %" PRIu32 " bytes, which no block has", block,
                 *length);
        // A torn head (zeros where the write stopped) ends the recording; one
        // with whole blocks behind it cannot be told from a bad file.
        if (left < (size_t)8 + MaxBlock) {
            out->tornTail = name + b;
            return Framing::Torn;
        }
        *error = name + b;
        return Framing::Bad;
    }
    if (left - 8 < *length) {
        snprintf(b, sizeof b, ": block %d is cut short (%zu of its %" PRIu32 " bytes)", block, left - 8,
                 *length);
        out->tornTail = name + b;
        return Framing::Torn;
    }
    const uint8_t* payload = data + at + 8;
    const bool last = at + 8 + *length == size;
    if (crc32(payload, *length) != crc) {
        snprintf(b, sizeof b, ": block %d: its checksum fails", block);
        if (last && block > 0) {
            out->tornTail = name + b + " (the last block, torn)";
            return Framing::Torn;
        }
        *error = name + b;
        return Framing::Bad;
    }
    return Framing::Whole;
}

bool parse(const uint8_t* data, size_t size, const std::string& name, Recording* out,
           const std::function<bool(const Event&)>* onEvent, std::string* error) {
    *out = Recording();
    if (!readHead(data, size, name, out, error)) return false;
    Decoder d{out, onEvent, false, {}, {}};
    size_t at = 12;
    for (int block = 0; at < size; ++block) {
        uint32_t length = 0;
        const Framing framing = frameBlock(data, size, at, block, name, out, &length, error);
        if (framing == Framing::Bad) return false;
        if (framing == Framing::Torn) break;
        const uint8_t* payload = data + at + 8;
        if (block == 0) {
            if (!readHeaderBlock(payload, length, out))
                return *error = name + ": block 0: the plug-in's version and settings do not read", false;
        } else {
            d.bytesTo = at + 8 + length;
            if (!readItems(payload, length, block, d, name, error)) return false;
        }
        if (d.stopped) break;
        out->blocks = block + 1;
        at += 8 + length;
        if (out->ended && at < size) {
            char b[160];
            snprintf(b, sizeof b, ": block %d: blocks after the end mark", block + 1);
            return *error = name + b, false;
        }
    }
    if (out->blocks == 0) {
        *error = out->tornTail.empty() ? name + ": block 0 is missing (the header block)"
                                       : out->tornTail + " (the header block)";
        return false;
    }
    return true;
}

} // namespace

bool parseRecording(const uint8_t* data, size_t size, const std::string& name, Recording* out,
                    std::string* error) {
    return parse(data, size, name, out, nullptr, error);
}

bool parseRecordingEvents(const uint8_t* data, size_t size, const std::string& name, Recording* out,
                          const std::function<bool(const Event&)>& onEvent, std::string* error) {
    return parse(data, size, name, out, &onEvent, error);
}

} // namespace rec
