#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "faces/event_json.h"
#include "faces/replay_columns.h"
#include "levels/level_replay.h"
#include "live/live_stream.h"
#include "points/point_replay.h"

// The stream against the whole-file replays it is built on: fed a series
// bar by bar, restored from a snapshot at any bar, or given forming bars
// first, it shows at every bar exactly what ReplayWithPoints and the level
// replay show of the whole series, compared bit for bit.

namespace vlm::live {
namespace {

using levels::Seconds;

struct Series {
    std::string name;
    StreamOptions options;
    std::vector<LiveBar> bars;
};

// A walk of `n` bars at the given spacing; the columns the options leave
// out are filled with NaN, which the stream must then ignore.
Series walk(std::string name, std::size_t n, std::uint32_t seed, StreamOptions options, Seconds start,
            const std::vector<Seconds>& times = {}) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> step(0.0, 0.6);
    std::uniform_real_distribution<double> wick(0.0, 0.5);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Series s{std::move(name), std::move(options), {}};
    double price = 50.0;
    for (std::size_t i = 0; i < (times.empty() ? n : times.size()); ++i) {
        const double next = price + step(rng);
        LiveBar b;
        b.time = times.empty() ? start + static_cast<Seconds>(i) * levels::kDay : times[i];
        b.open = s.options.columns.open ? static_cast<float>(price) : nan;
        b.close = s.options.columns.close ? static_cast<float>(next) : nan;
        b.high = static_cast<float>(std::round((std::max(price, next) + wick(rng)) * 100) / 100);
        b.low = static_cast<float>(std::round((std::min(price, next) - wick(rng)) * 100) / 100);
        b.volume = s.options.columns.volume ? 100.0 + static_cast<double>(rng() % 50) : std::nan("");
        s.bars.push_back(b);
        price = next;
    }
    return s;
}

// Minute bars, 09:31-11:30 and 13:01-15:00, on `days` days in a row.
std::vector<Seconds> tradingMinutes(int days) {
    std::vector<Seconds> times;
    const std::int64_t first = levels::DaysFromCivil(2024, 1, 8);
    for (std::int64_t day = first; day < first + days; ++day) {
        for (int m = 9 * 60 + 31; m <= 11 * 60 + 30; ++m) times.push_back(day * levels::kDay + m * 60);
        for (int m = 13 * 60 + 1; m <= 15 * 60; ++m) times.push_back(day * levels::kDay + m * 60);
    }
    return times;
}

std::vector<Series> allSeries() {
    const Seconds start = levels::DaysFromCivil(2020, 1, 1) * levels::kDay;
    StreamOptions plain;
    StreamOptions bare;
    bare.columns = {false, false, false};
    StreamOptions points;  // many points on short series, so they come and go
    points.points.macd = {3, 7, 3};
    points.points.class1MinRun = 1;
    StreamOptions withLevels = points;
    for (const char* p : {"5min", "30min", "day"}) withLevels.periods.push_back(*levels::ParsePeriod(p));
    StreamOptions clockLevels = withLevels;
    clockLevels.resample.bins = levels::Bins::Clock;
    clockLevels.columns.open = false;
    return {
        walk("walk seed 1", 700, 1, plain, start),
        walk("walk seed 2, short periods", 700, 2, points, start),
        walk("walk seed 3 without open, close or volume", 600, 3, bare, start),
        walk("minutes with 5min/30min/day", 0, 4, withLevels, 0, tradingMinutes(2)),
        walk("minutes, clock bins, no open", 0, 5, clockLevels, 0, tradingMinutes(2)),
    };
}

// Everything a bar shows, as bit patterns: its events (structures', then
// points'), its as-of rows, and every level's row.
using Record = std::vector<std::uint64_t>;

void add(Record& r, std::span<const double> values) {
    for (const double v : values) r.push_back(std::bit_cast<std::uint64_t>(v));
}

Record record(std::span<const ReplayEvent> events, std::span<const PointReplayEvent> pointEvents,
              const AsOfRow& row, const PointAsOf& point, std::span<const levels::LevelAsOf> levelRows) {
    Record r;
    std::vector<double> v(std::max({EventColumns().size(), AsOfColumns().size(), PointAsOfColumns().size(),
                                    PointEventColumns().size()}));
    for (const ReplayEvent& e : events) {
        r.insert(r.end(), {static_cast<std::uint64_t>(e.bar), static_cast<std::uint64_t>(e.subject),
                           static_cast<std::uint64_t>(e.kind)});
        EventValues(e, v);
        add(r, std::span(v).first(EventColumns().size()));
    }
    r.push_back(~0ull);
    for (const PointReplayEvent& e : pointEvents) {
        r.insert(r.end(), {static_cast<std::uint64_t>(e.bar), static_cast<std::uint64_t>(e.kind)});
        PointEventValues(e, v);
        add(r, std::span(v).first(PointEventColumns().size()));
    }
    r.push_back(~0ull);
    const auto asOf = [&](const AsOfRow& structures, const PointAsOf& p) {
        AsOfValues(structures, v);
        add(r, std::span(v).first(AsOfColumns().size()));
        PointAsOfValues(p, v);
        add(r, std::span(v).first(PointAsOfColumns().size()));
    };
    asOf(row, point);
    for (const levels::LevelAsOf& level : levelRows) {
        r.push_back(level.present);
        if (level.present) asOf(level.structures, level.point);
    }
    return r;
}

Record recordOf(const Stream& s, const BarEvents& e) {
    return record(e.structures, e.points, s.asOf(), s.pointAsOf(), s.levelRows());
}

// The records of the whole-file replays: ReplayWithPoints over the series,
// and the level replay fed every prefix, as `replay` runs them.
std::vector<Record> wholeFile(const Series& s) {
    const BarColumns& c = s.options.columns;
    std::vector<Seconds> time;
    std::vector<float> open, high, low, close;
    std::vector<double> volume;
    for (const LiveBar& b : s.bars) {
        time.push_back(b.time);
        if (c.open) open.push_back(b.open);
        high.push_back(b.high);
        low.push_back(b.low);
        if (c.close) close.push_back(b.close);
        if (c.volume) volume.push_back(b.volume);
    }
    std::vector<Record> out;
    std::optional<levels::LevelReplay> levels;
    if (!s.options.periods.empty()) levels.emplace(s.options.periods, s.options.resample, s.options.points);
    std::size_t n = 0;
    ReplayWithPoints(high, low, close, s.options.points, [&](const ReplayedBar& bar) {
        ++n;
        std::span<const levels::LevelAsOf> rows;
        if (levels) {
            const auto first = [n](const auto& v) { return std::span(v).first(v.empty() ? 0 : n); };
            levels->push({first(time), first(open), first(high), first(low), first(close), first(volume)});
            rows = levels->rows();
        }
        out.push_back(record(bar.events, bar.pointEvents, bar.row, bar.point, rows));
    });
    return out;
}

Stream copyOf(const Stream& s) { return Restore(Snapshot(s)); }

// Pushed bar by bar, and restored from a snapshot at many cut points and fed
// the rest, the stream shows at every bar what the whole-file replay shows.
// (Snapshots are not compared as bytes: they hold the padding of the values
// as it happens to be in memory.)
TEST(LiveStream, BarByBarAndRestoredAtAnyBarIsTheWholeFileReplay) {
    for (const Series& s : allSeries()) {
        const std::vector<Record> want = wholeFile(s);
        Stream stream(s.options);
        for (std::size_t i = 0; i < s.bars.size(); ++i) {
            const BarEvents e = stream.push(s.bars[i]);
            ASSERT_EQ(recordOf(stream, e), want[i]) << s.name << " bar " << i;
            if (i % 53 != 7) continue;
            Stream restored = copyOf(stream);
            for (std::size_t j = i + 1; j < s.bars.size(); ++j) {
                const BarEvents r = restored.push(s.bars[j]);
                ASSERT_EQ(recordOf(restored, r), want[j]) << s.name << " restored after bar " << i << ", bar " << j;
            }
        }
        EXPECT_EQ(stream.size(), s.bars.size());
    }
}

// A bar shown forming (rewritten a few times, saved and restored while it
// forms) and then pushed finished shows what pushing it alone shows, and so
// does every later bar; each forming bar shows what pushing it would.
TEST(LiveStream, FormingBarsThenTheFinishedBarIsThatBarAlone) {
    for (const Series& s : allSeries()) {
        const std::vector<Record> want = wholeFile(s);
        Stream stream(s.options);
        std::mt19937 rng(9);
        for (std::size_t i = 0; i < s.bars.size(); ++i) {
            const LiveBar& bar = s.bars[i];
            const unsigned rewrites = rng() % 4;
            for (unsigned k = 0; k < rewrites; ++k) {
                LiveBar partial = bar;  // as the bar stood earlier in its period
                partial.high = bar.low + (bar.high - bar.low) * static_cast<float>(rng() % 5) / 4.0f;
                partial.close = partial.high;
                Stream alone = copyOf(stream);
                const Record finished = recordOf(alone, alone.push(partial));
                ASSERT_EQ(recordOf(stream, stream.pushForming(partial)), finished) << s.name << " bar " << i;
                ASSERT_TRUE(stream.forming());
                if (rng() % 8 == 0) stream = copyOf(stream);
            }
            if (rng() % 16 == 0) stream.takeBackForming();
            ASSERT_EQ(recordOf(stream, stream.push(bar)), want[i]) << s.name << " bar " << i;
            ASSERT_FALSE(stream.forming());
            ASSERT_EQ(stream.size(), i + 1);
        }
    }
}

// A bar the reader would refuse is refused, naming the bar and the fault,
// and the stream is left as it was, with or without a forming bar on; a
// column the stream does not carry is not looked at.
TEST(LiveStream, BadBarsAreRefusedAndChangeNothing) {
    const Series s = allSeries()[0];
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const LiveBar last = s.bars[9], next = s.bars[10];
    struct Case {
        const char* name;
        LiveBar bar;
        bool forming;  // pushed as a forming bar
        const char* words;
    };
    const auto with = [&](auto change) {
        LiveBar b = next;
        change(b);
        return b;
    };
    const Case cases[] = {
        {"high NaN", with([&](LiveBar& b) { b.high = nan; }), false, "bar 10 (2020-01-11): high is not a finite number (nan)"},
        {"low infinite", with([&](LiveBar& b) { b.low = -inf; }), true, "low is not a finite number (-inf)"},
        {"open NaN", with([&](LiveBar& b) { b.open = nan; }), false, "open is not a finite number"},
        {"close infinite", with([&](LiveBar& b) { b.close = inf; }), true, "close is not a finite number (inf)"},
        {"volume NaN", with([&](LiveBar& b) { b.volume = std::nan(""); }), false, "volume is not a finite number"},
        {"low above high", with([&](LiveBar& b) { b.low = b.high + 1.0f; }), false, "is above high"},
        {"same date", with([&](LiveBar& b) { b.time = last.time; }), false, "its date is not after the last bar's (2020-01-10)"},
        {"earlier date", with([&](LiveBar& b) { b.time = last.time - 60; }), true, "bar 10 (2020-01-09 23:59:00): its date is not after"},
    };
    for (const bool formingOn : {false, true}) {
        Stream built(s.options);
        for (std::size_t i = 0; i < 10; ++i) built.push(s.bars[i]);
        if (formingOn) built.pushForming(with([](LiveBar& b) { b.high += 0.5f; }));
        // With a forming bar, on a restored copy: the dates it checks
        // against are part of what a snapshot keeps.
        Stream stream = formingOn ? copyOf(built) : std::move(built);
        const std::vector<std::byte> before = Snapshot(stream);
        for (const Case& c : cases) {
            try {
                if (c.forming) {
                    stream.pushForming(c.bar);
                } else {
                    stream.push(c.bar);
                }
                ADD_FAILURE() << c.name << " was taken";
            } catch (const BadBar& e) {
                EXPECT_NE(std::string(e.what()).find(c.words), std::string::npos) << c.name << ": " << e.what();
            }
            ASSERT_EQ(Snapshot(stream), before) << c.name;
        }
        // A forming bar may be rewritten with its own date.
        if (formingOn) {
            EXPECT_NO_THROW(stream.pushForming(next)) << "a forming bar rewritten";
        }
    }
    // Without the columns, their values are not read.
    StreamOptions bare;
    bare.columns = {false, false, false};
    Stream stream(bare);
    EXPECT_NO_THROW(stream.push(with([&](LiveBar& b) { b.open = b.close = nan, b.volume = std::nan(""); })));
}

// Snapshot refusals: every truncation of a small snapshot, every flipped
// bit, another format version, another kind of machine, and options other
// than the expected ones, each named.
TEST(LiveStream, SnapshotsThatCannotBeRestoredAreRefused) {
    const Series s = allSeries()[3];  // with levels, so every piece is in it
    Stream stream(s.options);
    for (std::size_t i = 0; i < 40; ++i) stream.push(s.bars[i]);
    stream.pushForming(s.bars[40]);
    const std::vector<std::byte> good = Snapshot(stream);
    ASSERT_NO_THROW(Restore(good, s.options));
    const auto refused = [](std::span<const std::byte> bytes, const char* words, const std::string& what) {
        try {
            Restore(bytes);
            ADD_FAILURE() << what << " was restored";
        } catch (const BadSnapshot& e) {
            EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << what << ": " << e.what();
        }
    };
    for (std::size_t n = 0; n < good.size(); ++n) {
        refused(std::span(good).first(n), n < 8 ? "" : "truncated", "cut to " + std::to_string(n));
    }
    std::vector<std::byte> longer = good;
    longer.push_back(std::byte{0});
    refused(longer, "after its end", "one byte more");
    for (std::size_t bit = 0; bit < good.size() * 8; bit += (bit < 1000 ? 1 : 7)) {
        std::vector<std::byte> flipped = good;
        flipped[bit / 8] ^= std::byte{static_cast<unsigned char>(1u << (bit % 8))};
        refused(flipped, "", "bit " + std::to_string(bit) + " flipped");
    }
    std::vector<std::byte> other = good;
    other[8] = std::byte{2};
    refused(other, "format version 2", "version 2");
    other = good;
    std::swap(other[12], other[15]);  // the byte-order marker read the other way round
    refused(other, "another kind of machine", "other byte order");
    other = good;
    other[16] = std::byte{4};  // a 4-byte word
    refused(other, "another kind of machine", "other word size");
    std::vector<std::byte> garbage(good.size(), std::byte{0x5a});
    refused(garbage, "not a stream snapshot", "garbage");

    struct Other {
        const char* words;
        void (*change)(StreamOptions&);
    };
    const Other others[] = {
        {"the MACD fast period is 3 in the snapshot, 12 expected", [](StreamOptions& o) { o.points.macd.fast = 12; }},
        {"the force measure is area in the snapshot, peak expected", [](StreamOptions& o) { o.points.force = ForceMeasure::Peak; }},
        {"the first-class run", [](StreamOptions& o) { o.points.class1MinRun = 2; }},
        {"the divergence ratio is 1 in the snapshot, 0.8 expected", [](StreamOptions& o) { o.points.divergenceRatio = 0.8; }},
        {"the list of levels is 5min,30min,day in the snapshot, 5min expected", [](StreamOptions& o) { o.periods.resize(1); }},
        {"the bins", [](StreamOptions& o) { o.resample.bins = levels::Bins::Clock; }},
        {"the session gap", [](StreamOptions& o) { o.resample.sessionGap = 3600; }},
        {"the volume column", [](StreamOptions& o) { o.columns.volume = false; }},
    };
    for (const Other& o : others) {
        StreamOptions expected = s.options;
        o.change(expected);
        try {
            Restore(good, expected);
            ADD_FAILURE() << o.words << ": restored";
        } catch (const BadSnapshot& e) {
            EXPECT_NE(std::string(e.what()).find(o.words), std::string::npos) << e.what();
        }
    }
}

// CRC-32 (the zlib polynomial), written here so that a test can make a
// damaged snapshot's checksum right without the code under test.
std::uint32_t crc32Of(std::span<const std::byte> bytes) {
    std::uint32_t crc = 0xffffffffu;
    for (const std::byte b : bytes) {
        crc ^= static_cast<std::uint32_t>(b);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A payload damaged behind a right checksum (a byte set to all ones, as a
// count or an index read back would be at its worst) is refused,
// or restores to a stream that takes more bars, forming and finished: never
// a crash (the sanitizer builds run this too).
TEST(LiveStream, DamagedPayloadsBehindARightChecksumAreRefusedOrWork) {
    for (const std::size_t which : {std::size_t{1}, std::size_t{3}}) {
        const Series s = allSeries()[which];
        Stream stream(s.options);
        for (std::size_t i = 0; i < 30; ++i) stream.push(s.bars[i]);
        stream.pushForming(s.bars[30]);
        const std::vector<std::byte> good = Snapshot(stream);
        const std::size_t payloadAt = 20 + 41 + 5 * s.options.periods.size() + 8;
        ASSERT_EQ(crc32Of(std::span(good).first(good.size() - 4)),
                  [&] { std::uint32_t c = 0; std::memcpy(&c, good.data() + good.size() - 4, 4); return c; }());
        std::size_t refused = 0;
        // About 1500 bytes, spread over the payload (each one in turn costs
        // too long under the sanitizers).
        const std::size_t step = std::max<std::size_t>(1, (good.size() - payloadAt) / 1500) | 1;
        for (std::size_t at = payloadAt; at + 4 < good.size(); at += step) {
            std::vector<std::byte> bad = good;
            bad[at] = std::byte{0xff};
            const std::uint32_t crc = crc32Of(std::span(bad).first(bad.size() - 4));
            std::memcpy(bad.data() + bad.size() - 4, &crc, 4);
            try {
                Stream restored = Restore(bad);
                for (std::size_t i = 30; i < 34; ++i) {
                    restored.pushForming(s.bars[i]);
                    restored.push(s.bars[i]);
                }
            } catch (const BadSnapshot&) {
                ++refused;
            } catch (const BadBar&) {
                // a date damaged into a later one
            }
        }
        EXPECT_GT(refused, 0u) << s.name;
    }
}

}  // namespace
}  // namespace vlm::live

// An alert's columns are JSON whatever the values: what is not a finite
// number (nothing to show, a ratio over no force) is null, bars whole,
// prices the float's shortest text.
TEST(EventJson, ColumnsAreJsonForEveryValue) {
    const vlm::Column columns[] = {{"a", vlm::ColumnKind::Whole}, {"b", vlm::ColumnKind::Price}};
    struct Case {
        double whole, price;
        const char* want;
    };
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    for (const Case& c : {Case{7, 1.1f, R"(,"a":7,"b":1.1)"}, Case{nan, inf, R"(,"a":null,"b":null)"},
                          Case{-inf, -inf, R"(,"a":null,"b":null)"}, Case{-1, 0.1f, R"(,"a":-1,"b":0.1)"}}) {
        std::string out;
        const double values[] = {c.whole, c.price};
        vlm::AppendJsonColumns(out, columns, values);
        EXPECT_EQ(out, c.want);
    }
}
