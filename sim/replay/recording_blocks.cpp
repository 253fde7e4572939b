// A recording's bytes as the file lays them out (docs/recordings.md): the head (the
// magic and the format version), then block by block, each checked by its length
// and CRC-32; the first block's payload is the plug-in's version and settings, every
// later one's its items (recording_items.h). A torn last block ends the recording.
#include "replay/recording_blocks.h"
#include "replay/recording_items.h"
#include "replay/recording_reader.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>

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

uint32_t le32(const uint8_t* p) {
    return p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// CRC-32 eight bytes at a time (the byte-wise table, and seven more that carry a
// byte's share through the bytes after it): a file of 64 MiB is checked in a few
// tens of milliseconds.
uint32_t crc32(const uint8_t* p, size_t n) {
    // Made once, whichever reading thread comes first.
    static const struct Tables {
        uint32_t t[8][256];
        Tables() {
            for (uint32_t i = 0; i < 256; ++i) {
                uint32_t c = i;
                for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
                t[0][i] = c;
            }
            for (int k = 1; k < 8; ++k)
                for (int i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
        }
    } tables;
    const auto& t = tables.t;
    uint32_t c = 0xFFFFFFFFu;
    for (; n >= 8; p += 8, n -= 8) {
        const uint32_t one = le32(p) ^ c, two = le32(p + 4);
        c = t[7][one & 0xFF] ^ t[6][one >> 8 & 0xFF] ^ t[5][one >> 16 & 0xFF] ^ t[4][one >> 24] ^
            t[3][two & 0xFF] ^ t[2][two >> 8 & 0xFF] ^ t[1][two >> 16 & 0xFF] ^ t[0][two >> 24];
    }
    for (; n > 0; ++p, --n) c = t[0][(c ^ *p) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

// The file's head: the magic, and a format version this reader knows.
bool readHead(const ByteSource& src, const std::string& name, Recording* out, std::string* error) {
    if (src.size == 0) return *error = name + ": empty, not a recording", false;
    const size_t n = src.size < 12 ? (size_t)src.size : 12;
    const uint8_t* head = src.read(0, n);
    if (!head) return *error = name + ": cannot be read", false;
    if (memcmp(head, Magic, n < 8 ? n : 8) != 0)
        return *error = name + ": not a recording (it does not begin as Tolvenmire.rec does)", false;
    if (n < 12) return *error = name + ": the file's head is cut short", false;
    out->formatVersion = le32(head + 8);
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

// The block at `at`: its head, its length and its checksum, and its payload. A torn
// block ends the recording (out->tornTail says where and how); a bad one is an error.
Framing frameBlock(const ByteSource& src, uint64_t at, int block, const std::string& name, Recording* out,
                   uint32_t* length, const uint8_t** payload, std::string* error) {
    char b[160];
    const uint64_t left = src.size - at;
    const uint8_t* head = left < 8 ? nullptr : src.read(at, 8);
    if (!head) {
        snprintf(b, sizeof b, ": block %d is cut short (%" PRIu64 " of the 8 bytes of its head)", block,
                 left < 8 ? left : 0);
        out->tornTail = name + b;
        return Framing::Torn;
    }
    *length = le32(head);
    const uint32_t crc = le32(head + 4);
    if (*length == 0 || *length > MaxBlock) {
        snprintf(b, sizeof b, ": block %d: a length of %" PRIu32 " bytes, which no block has", block,
                 *length);
        // A torn head (zeros where the write stopped) ends the recording; one
        // with whole blocks behind it cannot be told from a bad file.
        if (left < (uint64_t)8 + MaxBlock) {
            out->tornTail = name + b;
            return Framing::Torn;
        }
        *error = name + b;
        return Framing::Bad;
    }
    *payload = left - 8 < *length ? nullptr : src.read(at + 8, *length);
    if (!*payload) {
        snprintf(b, sizeof b, ": block %d is cut short (%" PRIu64 " of its %" PRIu32 " bytes)", block,
                 left - 8 < *length ? left - 8 : 0, *length);
        out->tornTail = name + b;
        return Framing::Torn;
    }
    const bool last = at + 8 + *length == src.size;
    if (crc32(*payload, *length) != crc) {
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

} // namespace

std::string tooLarge(const std::string& name, uint64_t size) {
    char b[160];
    snprintf(b, sizeof b, ": %" PRIu64 " bytes, more than any recording holds (the plug-in stops at 64 MiB)",
             size);
    return name + b;
}

bool parseSource(const ByteSource& src, const std::string& name, Recording* out,
                 const std::function<bool(Event&&)>* onEvent, bool scan, std::string* error) {
    *out = Recording();
    if (src.size > MaxRecordingFile) return *error = tooLarge(name, src.size), false;
    if (!readHead(src, name, out, error)) return false;
    // Large (its slots and shapes): not on the stack of a reading thread.
    const auto d = std::make_unique<Decoder>();
    d->out = out;
    d->onEvent = onEvent;
    d->scan = scan;
    uint64_t at = 12;
    for (int block = 0; at < src.size; ++block) {
        uint32_t length = 0;
        const uint8_t* payload = nullptr;
        const Framing framing = frameBlock(src, at, block, name, out, &length, &payload, error);
        if (framing == Framing::Bad) return false;
        if (framing == Framing::Torn) break;
        if (block == 0) {
            if (!readHeaderBlock(payload, length, out))
                return *error = name + ": block 0: the plug-in's version and settings do not read", false;
            d->order.formatVersion = out->formatVersion;
            d->order.drinkKey = drinkKeyOf(*out);
        } else {
            d->bytesTo = at + 8 + length;
            if (!readItems(payload, length, block, *d, name, error)) return false;
        }
        if (d->stopped) break;
        out->blocks = block + 1;
        at += 8 + length;
        if (out->ended && at < src.size) {
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
    out->eventCount = d->order.placed;
    out->frames = d->order.frames();
    out->timerRead = d->order.timerRead;
    out->firstTimer = d->order.firstTimer;
    out->lastTimer = d->order.lastTimer;
    return true;
}

namespace {

ByteSource memorySource(const uint8_t* data, size_t size) {
    return {size, [data, size](uint64_t offset, size_t n) -> const uint8_t* {
                return offset <= size && n <= size - offset ? data + offset : nullptr;
            }};
}

} // namespace

bool parseRecording(const uint8_t* data, size_t size, const std::string& name, Recording* out,
                    std::string* error) {
    return parseSource(memorySource(data, size), name, out, nullptr, false, error);
}

bool parseRecordingEvents(const uint8_t* data, size_t size, const std::string& name, Recording* out,
                          const std::function<bool(Event&&)>& onEvent, std::string* error) {
    return parseSource(memorySource(data, size), name, out, &onEvent, false, error);
}

bool scanRecordingBytes(const uint8_t* data, size_t size, const std::string& name, Recording* out,
                        std::string* error) {
    return parseSource(memorySource(data, size), name, out, nullptr, true, error);
}

} // namespace rec
