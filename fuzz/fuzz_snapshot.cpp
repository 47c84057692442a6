// The snapshot loader against bytes it did not write. Restore must refuse
// them (BadSnapshot) or give a stream that takes more bars, forming and
// finished, saves and restores again: never crash, hang or read out of
// bounds.
//
// A checksum stops almost every damaged byte at the door, so most inputs
// make their own snapshot and damage its payload behind the checksum:
//   byte 0, bit 7 clear: a stream's options (bit 0 levels with minute bars,
//     bit 1 no close column, bit 2 a forming bar on, bits 3-4 the points'
//     options); byte 1 how many bars (times 4), byte 2 the walk's seed;
//     then edits of the payload, 4 bytes each: offset (2 bytes, taken
//     modulo the payload's length), what to do (xor a byte, write a small
//     or a huge count, write a 4-byte value), and the value; the checksum
//     is then made right.
//   bit 7 set: the rest is a snapshot as it is, its checksum made right
//     when bit 6 is set.
// A snapshot restored without edits must go on exactly as the stream it
// was taken from.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "live/live_stream.h"

namespace {

using vlm::live::BarEvents;
using vlm::live::LiveBar;
using vlm::live::Stream;
using vlm::live::StreamOptions;

void fixChecksum(std::vector<std::byte>& bytes) {
    if (bytes.size() < 4) return;
    const std::size_t n = bytes.size() - 4;
    std::uint32_t crc = static_cast<std::uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(n)));
    std::memcpy(bytes.data() + n, &crc, 4);
}

// A walk from a small generator: the bars need not come from the input.
class Walk {
public:
    Walk(std::uint32_t seed, bool minutes, std::size_t from = 0)
        : state_(seed * 2654435761u + 1), minutes_(minutes), count_(from) {}
    LiveBar next() {
        const double step = static_cast<double>(static_cast<int>(draw() % 201) - 100) / 100.0;
        price_ = std::max(1.0, price_ + step);
        LiveBar b;
        b.time = time();
        b.open = static_cast<float>(price_);
        b.close = static_cast<float>(price_ + step / 2);
        b.high = static_cast<float>(std::max(price_, price_ + step / 2) + static_cast<double>(draw() % 50) / 100.0);
        b.low = static_cast<float>(std::min(price_, price_ + step / 2) - static_cast<double>(draw() % 50) / 100.0);
        b.volume = 100.0 + draw() % 100;
        ++count_;
        return b;
    }

private:
    std::uint32_t draw() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    vlm::levels::Seconds time() const {
        const vlm::levels::Seconds day0 = vlm::levels::DaysFromCivil(2024, 1, 8) * vlm::levels::kDay;
        if (!minutes_) return day0 + static_cast<vlm::levels::Seconds>(count_) * vlm::levels::kDay;
        // 240 minutes a day: 09:31-11:30 and 13:01-15:00.
        const std::int64_t day = count_ / 240, m = count_ % 240;
        return day0 + day * vlm::levels::kDay + (m < 120 ? 9 * 3600 + 31 * 60 + m * 60 : 13 * 3600 + 60 + (m - 120) * 60);
    }

    std::uint32_t state_;
    bool minutes_;
    double price_ = 20.0;
    std::size_t count_;
};

// A few more bars, forming and finished, a save and a restore: what a
// restored stream must survive. Returns the events' count and the last
// event's bar, for comparing two streams.
std::vector<std::int64_t> goOn(Stream& stream, Walk walk) {
    std::vector<std::int64_t> seen;
    for (int k = 0; k < 6; ++k) {
        const LiveBar bar = walk.next();
        try {
            LiveBar partial = bar;
            partial.high = bar.low;
            stream.pushForming(partial);
            if (k == 2) stream = vlm::live::Restore(vlm::live::Snapshot(stream));
            const BarEvents e = stream.push(bar);
            seen.push_back(static_cast<std::int64_t>(e.size()));
            for (const auto& s : e.structures) seen.push_back(s.bar * 16 + static_cast<int>(s.kind));
            for (const auto& p : e.points) seen.push_back(p.point.point.bar * 4 + static_cast<int>(p.kind));
        } catch (const vlm::live::BadBar&) {
            seen.push_back(-1);  // a restored date later than the walk's
        }
    }
    seen.push_back(static_cast<std::int64_t>(stream.size()));
    seen.push_back(stream.asOf().bar);
    return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t mode = data[0];
    std::vector<std::byte> bytes;
    std::optional<Stream> original;
    bool edited = true;
    bool minutes = false;
    // Bars after the snapshot's: far later for a snapshot of unknown bars.
    Walk after(7, false, 40000);
    if ((mode & 0x80) != 0) {
        bytes.assign(reinterpret_cast<const std::byte*>(data + 1), reinterpret_cast<const std::byte*>(data + size));
        if ((mode & 0x40) != 0) fixChecksum(bytes);
    } else {
        if (size < 3) return 0;
        StreamOptions options;
        minutes = (mode & 1) != 0;
        if (minutes) {
            options.periods = {*vlm::levels::ParsePeriod("5min"), *vlm::levels::ParsePeriod("30min")};
            if ((mode & 0x20) != 0) options.periods.push_back(*vlm::levels::ParsePeriod("day"));
        }
        options.columns.close = (mode & 2) == 0;
        if ((mode & 8) != 0) options.points.macd = {3, 7, 3};
        if ((mode & 16) != 0) options.points.class1MinRun = 1;
        original.emplace(options);
        Walk walk(data[2], minutes);
        const std::size_t bars = std::size_t{data[1]} * 4;
        for (std::size_t i = 0; i < bars; ++i) original->push(walk.next());
        if ((mode & 4) != 0) original->pushForming(walk.next());
        after = walk;
        bytes = vlm::live::Snapshot(*original);
        // The payload follows the header (20 bytes), the options (41, and 5
        // a level) and its length (8); the checksum's 4 bytes end it.
        const std::size_t payloadAt = 20 + 41 + 5 * options.periods.size() + 8;
        const std::size_t length = bytes.size() - 4 - payloadAt;
        edited = false;
        for (std::size_t at = 3; at + 4 <= size && length != 0; at += 4) {
            const std::size_t offset = payloadAt + (static_cast<std::size_t>(data[at] | data[at + 1] << 8) % length);
            const std::uint8_t value = data[at + 3];
            edited = true;
            switch (data[at + 2] % 4) {
                case 0:
                    bytes[offset] ^= std::byte{value};
                    break;
                case 1:
                case 2: {
                    const std::uint64_t count = data[at + 2] % 4 == 1 ? value : ~std::uint64_t{0} - value;
                    std::memcpy(bytes.data() + offset, &count, std::min<std::size_t>(8, bytes.size() - 4 - offset));
                    break;
                }
                default: {
                    const std::uint32_t word = static_cast<std::uint32_t>(value) * 0x01010101u;
                    std::memcpy(bytes.data() + offset, &word, std::min<std::size_t>(4, bytes.size() - 4 - offset));
                    break;
                }
            }
        }
        fixChecksum(bytes);
    }

    std::optional<Stream> restored;
    try {
        restored.emplace(vlm::live::Restore(bytes));
    } catch (const vlm::live::BadSnapshot&) {
        if (!edited) {
            std::fprintf(stderr, "a snapshot as written was refused\n");
            std::abort();
        }
        return 0;
    }
    const std::vector<std::int64_t> got = goOn(*restored, after);
    if (!edited) {
        // Unedited, the restored stream goes on as the one it was taken from.
        if (goOn(*original, after) != got) {
            std::fprintf(stderr, "a restored stream went on otherwise\n");
            std::abort();
        }
    }
    return 0;
}
