#include "MidiFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr double kDefaultMicrosecondsPerQuarter = 500000.0;

struct TickEvent {
    uint64_t tick;
    size_t order; // keeps events of equal ticks in file order
    bool isTempo;
    uint32_t microsecondsPerQuarter;
    uint8_t bytes[3];
};

class Reader {
public:
    Reader(const unsigned char* data, size_t size) : data(data), size(size) {}
    bool has(size_t n) const { return size - at >= n; }
    bool byte(uint8_t& value) {
        if (!has(1))
            return false;
        value = data[at++];
        return true;
    }
    bool number(uint32_t& value, int bytes) {
        if (!has(static_cast<size_t>(bytes)))
            return false;
        value = 0;
        for (int i = 0; i < bytes; ++i)
            value = value << 8 | data[at++];
        return true;
    }
    bool variableLength(uint32_t& value) {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            uint8_t b;
            if (!byte(b))
                return false;
            value = value << 7 | (b & 0x7F);
            if ((b & 0x80) == 0)
                return true;
        }
        return false; // longer than four bytes
    }
    bool skip(size_t n) {
        if (!has(n))
            return false;
        at += n;
        return true;
    }
    size_t position() const { return at; }

private:
    const unsigned char* data;
    size_t size;
    size_t at = 0;
};

int dataBytesOf(uint8_t status) {
    const uint8_t type = status & 0xF0;
    return type == 0xC0 || type == 0xD0 ? 1 : 2;
}

bool readMeta(Reader& track, uint64_t tick, std::vector<TickEvent>& out, size_t& order,
              bool& ended) {
    uint8_t type;
    uint32_t length;
    if (!track.byte(type) || !track.variableLength(length) || !track.has(length))
        return false;
    if (type == 0x2F)
        ended = true;
    if (type == 0x51 && length == 3) {
        uint32_t tempo = 0;
        if (!track.number(tempo, 3) || tempo == 0)
            return false;
        out.push_back({tick, order++, true, tempo, {0, 0, 0}});
        return true;
    }
    return track.skip(length);
}

bool readTrack(Reader& track, std::vector<TickEvent>& out, size_t& order, uint64_t& lastTick,
               std::string& error) {
    uint64_t tick = 0;
    uint8_t runningStatus = 0;
    bool ended = false;
    while (!ended && track.has(1)) {
        uint32_t delta;
        uint8_t first;
        if (!track.variableLength(delta) || !track.byte(first)) {
            error = "truncated event";
            return false;
        }
        tick += delta;
        lastTick = std::max(lastTick, tick);
        if (first == 0xFF) {
            if (!readMeta(track, tick, out, order, ended)) {
                error = "malformed meta event";
                return false;
            }
            continue;
        }
        if (first == 0xF0 || first == 0xF7) {
            uint32_t length;
            if (!track.variableLength(length) || !track.skip(length)) {
                error = "malformed system exclusive event";
                return false;
            }
            continue;
        }
        uint8_t status = first;
        uint8_t data[2] = {0, 0};
        int index = 0;
        if (first < 0x80) { // running status: this byte is the first data byte
            if (runningStatus == 0) {
                error = "data byte without a status";
                return false;
            }
            status = runningStatus;
            data[index++] = first;
        } else if (first >= 0xF0) {
            error = "unexpected system message";
            return false;
        }
        runningStatus = status;
        for (; index < dataBytesOf(status); ++index) {
            if (!track.byte(data[index]) || data[index] > 0x7F) {
                error = "truncated or malformed channel message";
                return false;
            }
        }
        out.push_back({tick, order++, false, 0, {status, data[0], data[1]}});
    }
    return true;
}

} // namespace

bool parseMidiFile(const std::vector<unsigned char>& bytes, double fixedBpm,
                   MidiFileContents& contents, std::string& error) {
    contents = {};
    Reader file(bytes.data(), bytes.size());
    uint32_t headerLength, format, trackCount, division;
    if (!file.has(4) || std::memcmp(bytes.data(), "MThd", 4) != 0 || !file.skip(4) ||
        !file.number(headerLength, 4) || headerLength < 6 || !file.number(format, 2) ||
        !file.number(trackCount, 2) || !file.number(division, 2) || !file.skip(headerLength - 6)) {
        error = "not a Standard MIDI File";
        return false;
    }
    if (format > 1 || trackCount == 0 || division == 0) {
        error = format > 1 ? "only format 0 and 1 files are played" : "malformed header";
        return false;
    }
    if ((division & 0x8000) != 0 && (division & 0xFF) == 0) {
        error = "SMPTE division with 0 ticks per frame";
        return false;
    }
    std::vector<TickEvent> events;
    size_t order = 0;
    uint64_t lastTick = 0;
    for (uint32_t t = 0; t < trackCount; ++t) {
        uint32_t length;
        const size_t start = file.position();
        if (!file.has(8) || std::memcmp(bytes.data() + start, "MTrk", 4) != 0 || !file.skip(4) ||
            !file.number(length, 4) || !file.has(length)) {
            error = "missing or truncated track";
            return false;
        }
        Reader track(bytes.data() + file.position(), length);
        if (!readTrack(track, events, order, lastTick, error))
            return false;
        file.skip(length);
    }
    std::stable_sort(events.begin(), events.end(), [](const TickEvent& a, const TickEvent& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });

    // Ticks to seconds through the tempo map (or the fixed tempo).
    const bool smpte = (division & 0x8000) != 0;
    const double smpteTicksPerSecond =
        smpte ? double(256 - (division >> 8)) * double(division & 0xFF) : 0.0;
    double secondsPerTick =
        smpte ? 1.0 / smpteTicksPerSecond
              : (fixedBpm > 0.0 ? 60.0 / fixedBpm : kDefaultMicrosecondsPerQuarter / 1e6) /
                    double(division);
    uint64_t tickAt = 0;
    double secondsAt = 0.0;
    for (const TickEvent& e : events) {
        secondsAt += double(e.tick - tickAt) * secondsPerTick;
        tickAt = e.tick;
        if (e.isTempo) {
            if (!smpte && fixedBpm <= 0.0)
                secondsPerTick = e.microsecondsPerQuarter / 1e6 / double(division);
            continue;
        }
        TimedMidiEvent timed;
        timed.seconds = secondsAt;
        std::memcpy(timed.bytes, e.bytes, 3);
        contents.events.push_back(timed);
    }
    contents.lengthSeconds = secondsAt + double(lastTick - tickAt) * secondsPerTick;
    if (!std::isfinite(contents.lengthSeconds)) {
        error = "event times beyond any length";
        return false;
    }
    return true;
}
