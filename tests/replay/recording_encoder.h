// Recordings written byte by byte, as docs/recordings.md gives them, for the tests
// that craft what a stranger could send: the items by hand (a run, a step, an event
// in full), or a whole recording read by the reader written back with every event
// in full, so that a real session can be changed event by event and written again.
#pragma once

#include "replay/recording_reader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace enc {

inline uint32_t crc32(const std::string& bytes) {
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : bytes) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return c ^ 0xFFFFFFFFu;
}

inline void le32(std::string& out, uint32_t v) {
    for (int k = 0; k < 4; ++k) out += (char)(v >> (8 * k));
}
inline void le64(std::string& out, uint64_t v) {
    for (int k = 0; k < 8; ++k) out += (char)(v >> (8 * k));
}
inline void varint(std::string& out, uint64_t v) {
    while (v >= 0x80) {
        out += (char)(v | 0x80);
        v >>= 7;
    }
    out += (char)v;
}
inline void zigzag(std::string& out, int64_t v) { varint(out, ((uint64_t)v << 1) ^ (uint64_t)(v >> 63)); }
inline void text(std::string& out, const std::string& s) {
    varint(out, s.size());
    out += s;
}

// Items.
enum : uint8_t { Same = 0x01, Step = 0x02, Whole = 0x10, SaveOpened = 0x20, SaveBytes = 0x21, End = 0x2F };
// Event kinds and argument slots.
enum : uint8_t { Native = 0, Wait = 1, Resume = 2, Global = 3, Tick = 4, Key = 5, Save = 6, KeyRead = 7 };
enum : uint8_t { Value = 0, Text = 1, Record = 2 };

// A block: its length, its checksum, its payload.
inline std::string block(const std::string& payload) {
    std::string out;
    le32(out, (uint32_t)payload.size());
    le32(out, crc32(payload));
    return out + payload;
}

// The settings a shipped Tolvenmire.ini gives, as the six answers.
inline std::vector<uint32_t> shippedSettings() { return {79, 60, 1, 10, 100, 1}; }

// The file's head and its header block: the format, the plug-in's version, the
// settings; from format 3 on, the texts the player wrote for them (none given: empty).
inline std::string head(uint32_t format = 2, const std::string& version = "1.1.0",
                        const std::vector<uint32_t>& settings = shippedSettings(),
                        const std::vector<std::string>& texts = {}) {
    std::string out = "TOLVREC\x1a";
    le32(out, format);
    std::string header;
    text(header, version);
    for (uint32_t s : settings) le32(header, s);
    for (size_t k = 0; format >= 3 && k < 6; ++k) text(header, k < texts.size() ? texts[k] : std::string());
    return out + block(header);
}

// A file: the head, then a block for each payload of items.
inline std::string file(const std::vector<std::string>& itemBlocks, uint32_t format = 2,
                        const std::string& version = "1.1.0",
                        const std::vector<uint32_t>& settings = shippedSettings(),
                        const std::vector<std::string>& texts = {}) {
    std::string out = head(format, version, settings, texts);
    for (const std::string& b : itemBlocks) out += block(b);
    return out;
}

inline std::string same(uint64_t n) {
    std::string out(1, (char)Same);
    varint(out, n);
    return out;
}
inline std::string step(int64_t d) {
    std::string out(1, (char)Step);
    zigzag(out, d);
    return out;
}

// Argument slots of a native written in full.
inline std::string number(uint64_t v) {
    std::string out(1, (char)Value);
    varint(out, v);
    return out;
}
inline std::string textSlot(const std::string& s) {
    std::string out(1, (char)Text);
    text(out, s);
    return out;
}
// A record: its size, its string slots, its bytes as passed (string slots zero), the
// strings' texts, and its bytes after the call.
inline std::string record(uint32_t size, uint32_t strings, const std::string& before,
                          const std::vector<std::string>& texts, const std::string& after) {
    std::string out(1, (char)Record);
    varint(out, size);
    varint(out, strings);
    out += before;
    for (const std::string& t : texts) text(out, t);
    return out + after;
}

// Events in full. A native's result: 0 none, 1 four bytes (`value` follows), 2
// eight; 4 added for a null result.
inline std::string native(uint64_t hash, const std::vector<std::string>& slots, uint8_t result = 0,
                          uint64_t value = 0) {
    std::string out{(char)Whole, (char)Native};
    le64(out, hash);
    out += (char)slots.size();
    for (const std::string& s : slots) out += s;
    out += (char)result;
    if (result == 1 || result == 2) varint(out, value);
    return out;
}
inline std::string wait(uint64_t ms = 0) {
    std::string out{(char)Whole, (char)Wait};
    varint(out, ms);
    return out;
}
inline std::string resume() { return std::string{(char)Whole, (char)Resume}; }
inline std::string frameEnd() { return wait(0) + resume(); }
inline std::string tick(uint64_t reading) {
    std::string out{(char)Whole, (char)Tick};
    varint(out, reading);
    return out;
}
inline std::string keyRead(uint64_t key, uint64_t tick, int64_t fifth, int64_t sixth, int64_t seventh) {
    std::string out{(char)Whole, (char)KeyRead};
    varint(out, key);
    varint(out, tick);
    zigzag(out, fifth);
    zigzag(out, sixth);
    zigzag(out, seventh);
    return out;
}
inline std::string save(const std::string& s) {
    std::string out{(char)Whole, (char)Save};
    text(out, s);
    return out;
}

// An event as the recorder writes it in full: its shape, then its value if it has one.
inline std::string whole(const rec::Event& e) {
    std::string out{(char)Whole, (char)e.kind};
    std::string value;
    switch (e.kind) {
    case rec::EventKind::Native: {
        le64(out, e.hash);
        out += (char)e.argc;
        for (int k = 0; k < e.argc; ++k) {
            if (e.argKind[k] == rec::ArgKind::Value) {
                out += number(e.args[k]);
            } else if (e.argKind[k] == rec::ArgKind::Text) {
                out += textSlot(e.text[k]);
            } else {
                // The reader keeps the strings' texts after the bytes, each ended by a NUL.
                const uint32_t size = e.recordSize[k];
                std::vector<std::string> texts;
                for (size_t from = size; from < e.before[k].size();) {
                    const size_t to = e.before[k].find('\0', from);
                    texts.push_back(e.before[k].substr(from, to - from));
                    from = to + 1;
                }
                out += record(size, e.recordStrings[k], e.before[k].substr(0, size), texts, e.after[k]);
            }
        }
        const uint8_t bytes = e.resultBytes == 4 ? 1 : e.resultBytes == 8 ? 2 : e.resultBytes == 24 ? 3 : 0;
        out += (char)(bytes | (e.nullResult ? 4 : 0));
        if (bytes == 3 && !e.nullResult)
            for (int k = 0; k < 3; ++k) le64(out, e.result[k]);
        if (bytes == 1 && !e.nullResult) varint(value, (uint32_t)e.result[0]);
        if (bytes == 2 && !e.nullResult) varint(value, e.result[0]);
        break;
    }
    case rec::EventKind::Wait:
        varint(out, e.waitMs);
        break;
    case rec::EventKind::Resume:
        break;
    case rec::EventKind::Global:
        zigzag(out, e.globalIndex);
        out += (char)(e.globalNull ? 1 : 0);
        if (!e.globalNull) varint(value, e.globalValue);
        break;
    case rec::EventKind::Tick:
        varint(value, e.tick);
        break;
    case rec::EventKind::Key:
        varint(out, e.key);
        varint(out, e.second);
        out += (char)e.third;
        for (int32_t v : {e.fourth, e.fifth, e.sixth, e.seventh}) zigzag(out, v);
        varint(out, e.tick);
        break;
    case rec::EventKind::Save:
        text(out, e.save);
        break;
    case rec::EventKind::KeyRead:
        varint(out, e.key);
        varint(out, e.tick);
        for (int32_t v : {e.fifth, e.sixth, e.seventh}) zigzag(out, v);
        break;
    }
    return out + value;
}

// A whole recording written again, every event in full, in blocks of at most 32 KiB
// as the plug-in writes them; the header from `r` unless `version` is given.
inline std::string encode(const rec::Recording& r, const std::vector<rec::Event>& events) {
    std::vector<std::string> blocks;
    std::string items;
    if (r.saveFound) items += (char)SaveOpened;
    for (size_t at = 0; at < r.saveBytes.size(); at += 512) {
        items += (char)SaveBytes;
        text(items, r.saveBytes.substr(at, 512));
    }
    for (const rec::Event& e : events) {
        const std::string item = whole(e);
        if (items.size() + item.size() > 32 * 1024) {
            blocks.push_back(items);
            items.clear();
        }
        items += item;
    }
    if (r.ended) items += (char)End;
    if (!items.empty()) blocks.push_back(items);
    return file(blocks, r.formatVersion, r.pluginVersion,
                std::vector<uint32_t>(std::begin(r.settings), std::end(r.settings)),
                std::vector<std::string>(std::begin(r.settingTexts), std::end(r.settingTexts)));
}

} // namespace enc
