#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "kline/kxian_chuli.h"
#include "levels/level_replay.h"
#include "points/point_stream.h"
#include "points/trading_points.h"
#include "state/state.h"
#include "stream/streaming_engine.h"
#include "stroke/bi_chuli.h"
#include "support/series_gen.h"

// Every incremental piece keeps what a bar can change through the one list
// of fields its visitState names. Two checks that no field is left out of
// it, each against something the list does not write:
//  - a provisional bar taken back leaves the piece equal, member by member
//    (the compiler's operator==, which sees every member), to one never given
//    it, at every bar of many series;
//  - the piece written whole and read into a fresh one equals it, member by
//    member, and goes on exactly as it does.
// Comparing members exactly needs series without NaN prices; the pieces'
// own tests cover NaN through what they show.

namespace vlm {
namespace {

using testing::Bars;
using testing::makeBars;
using testing::Shape;

struct Series {
    Shape shape;
    std::size_t bars;
    std::uint32_t seed;
};

constexpr Series kSeries[] = {
    {Shape::QuantisedWalk, 3000, 1}, {Shape::QuantisedWalk, 3000, 2}, {Shape::TinyValueSet, 2000, 3},
    {Shape::ZeroAndNegative, 3000, 4}, {Shape::LowAboveHigh, 2000, 5}, {Shape::PendingGrowing, 300, 6},
};

std::string where(const Series& s, std::size_t t) {
    return std::string(testing::shapeName(s.shape)) + " seed " + std::to_string(s.seed) + " bar " +
           std::to_string(t);
}

template <typename Piece>
Piece roundTrip(const Piece& piece, Piece fresh) {
    state::Tape tape;
    tape.keep(piece, state::Extent::Whole);
    tape.restore(fresh);
    return fresh;
}

// Options that find many points on short series, so that points come and go.
TradingPointOptions loose() {
    TradingPointOptions o;
    o.class1MinRun = 1;
    o.divergenceRatio = 1.5;
    o.macd = {5, 13, 4};
    return o;
}

float closeOf(const Bars& bars, std::size_t t) { return (bars.high[t] + bars.low[t]) / 2; }

TEST(State, StrokesPushTakenBackAndWrittenWhole) {
    for (const Series& s : kSeries) {
        const Bars bars = makeBars(s.shape, s.bars, s.seed);
        KxianChuLi merged;
        merged.AddKxians(bars.high, bars.low);
        const std::vector<Kxian>& list = merged.kxianList;
        for (const BiChuLi::Bars kept : {BiChuLi::Bars::All, BiChuLi::Bars::EndOnly}) {
            BiChuLi strokes(kept);
            for (std::size_t k = 0; k < list.size(); ++k) {
                const BiChuLi before = strokes;
                state::Tape tape;
                tape.keep(strokes);
                strokes.push(list, k);
                tape.restore(strokes);
                ASSERT_TRUE(strokes == before) << where(s, k);
                strokes.push(list, k);
                ASSERT_TRUE(roundTrip(strokes, BiChuLi(kept)) == strokes) << where(s, k);
            }
        }
    }
}

TEST(State, EngineAndPointsProvisionalTakenBackAndWrittenWhole) {
    std::size_t pivotsSeen = 0, pointsSeen = 0;  // the series reach pivots and points
    for (const Series& s : kSeries) {
        const Bars bars = makeBars(s.shape, s.bars, s.seed);
        const Bars other = makeBars(s.shape, s.bars, s.seed + 100);
        StreamingEngine engine, plainEngine;
        TradingPointStream points(loose()), plainPoints(loose());
        for (std::size_t t = 0; t < bars.size(); ++t) {
            // Another bar, then one wider than the bar, taken back in turn.
            for (const auto& [high, low] : {std::pair{other.high[t], other.low[t]},
                                            std::pair{bars.high[t] + 0.5f, bars.low[t] - 0.5f}}) {
                engine.pushProvisional(high, low);
                points.pushProvisional(engine, (high + low) / 2);
            }
            engine.takeBackProvisional();
            points.takeBackProvisional();
            ASSERT_TRUE(engine == plainEngine) << where(s, t);
            ASSERT_TRUE(points == plainPoints) << where(s, t);

            engine.push(bars.high[t], bars.low[t]);
            points.push(engine, closeOf(bars, t));
            plainEngine.push(bars.high[t], bars.low[t]);
            plainPoints.push(plainEngine, closeOf(bars, t));
            // Written whole, with a provisional bar on it or not.
            if (t % 2 == 1) {
                engine.pushProvisional(other.high[t], other.low[t]);
                points.pushProvisional(engine, closeOf(other, t));
            }
            ASSERT_TRUE(roundTrip(engine, StreamingEngine{}) == engine) << where(s, t);
            ASSERT_TRUE(roundTrip(points, TradingPointStream(loose())) == points) << where(s, t);
        }
        pivotsSeen += plainEngine.pivots().size();
        pointsSeen += plainPoints.finalPoints().size() + plainPoints.withdrawn().size();
    }
    EXPECT_GT(pivotsSeen, 40u);
    EXPECT_GT(pointsSeen, 400u);
}

// A tape that does not fit is refused, not read past its end.
TEST(State, RefusesBytesThatDoNotFit) {
    const Bars bars = makeBars(Shape::QuantisedWalk, 300, 9);
    StreamingEngine engine;
    for (std::size_t t = 0; t < bars.size(); ++t) engine.push(bars.high[t], bars.low[t]);
    state::Tape tape;
    tape.keep(engine, state::Extent::Whole);
    const std::span<const std::byte> bytes = tape.bytes();
    for (const std::size_t cut : {std::size_t{0}, std::size_t{1}, bytes.size() / 2, bytes.size() - 1}) {
        StreamingEngine fresh;
        state::Reader reader(bytes.first(cut));
        EXPECT_THROW(StreamingEngine::visitState(fresh, reader), std::invalid_argument) << cut;
    }
}

}  // namespace

namespace levels {
namespace {

bool sameBits(float a, float b) { return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b); }

bool sameRow(const LevelAsOf& a, const LevelAsOf& b) {
    const AsOfRow& x = a.structures;
    const AsOfRow& y = b.structures;
    return a.present == b.present && a.point == b.point && x.bar == y.bar && x.inProgress == y.inProgress &&
           x.lastFinal == y.lastFinal && x.lastPivot == y.lastPivot && x.pivotUnderWay == y.pivotUnderWay &&
           sameBits(x.close, y.close) && sameBits(x.closeVsLastPivot, y.closeVsLastPivot) &&
           sameBits(x.closeVsPivotUnderWay, y.closeVsPivotUnderWay);
}

// The level replay, written whole at a base bar (each level with its
// unfinished bar on) and read into a fresh one, goes on as it does, row for
// row: its resamplers, engines and points are all in the list.
TEST(State, LevelReplayWrittenWholeGoesOnAsItDoes) {
    std::vector<Seconds> times;
    for (std::int64_t day = DaysFromCivil(2024, 1, 3); times.size() < 1500; ++day) {
        for (int m = 9 * 60 + 31; m <= 15 * 60; m += 5) times.push_back(day * kDay + m * kMinute);
    }
    std::mt19937 rng(7);
    std::normal_distribution<double> step(0.0, 0.05);
    std::vector<float> open, high, low, close;
    std::vector<double> volume;
    double price = 20.0;
    for (std::size_t i = 0; i < times.size(); ++i) {
        const double next = price + step(rng);
        open.push_back(static_cast<float>(price));
        close.push_back(static_cast<float>(next));
        high.push_back(static_cast<float>(std::max(price, next) + std::abs(step(rng))));
        low.push_back(static_cast<float>(std::min(price, next) - std::abs(step(rng))));
        volume.push_back(100.0);
        price = next;
    }
    const auto prefix = [&](std::size_t n) {
        return BaseBars{std::span(times).first(n), std::span(open).first(n), std::span(high).first(n),
                        std::span(low).first(n), std::span(close).first(n), std::span(volume).first(n)};
    };
    const std::vector<Period> periods{*ParsePeriod("30min"), *ParsePeriod("day")};
    for (const std::size_t cut : {1u, 2u, 47u, 300u, 301u, 999u}) {
        LevelReplay replay(periods);
        for (std::size_t i = 1; i <= cut; ++i) replay.push(prefix(i));
        LevelReplay restored(periods);
        state::Tape tape;
        tape.keep(replay, state::Extent::Whole);
        tape.restore(restored);
        for (std::size_t i = cut + 1; i <= times.size(); ++i) {
            replay.push(prefix(i));
            restored.push(prefix(i));
            ASSERT_EQ(replay.rows().size(), restored.rows().size());
            for (std::size_t k = 0; k < replay.rows().size(); ++k) {
                ASSERT_TRUE(sameRow(replay.rows()[k], restored.rows()[k]))
                    << "cut " << cut << " bar " << i - 1 << " level " << k;
            }
            ASSERT_EQ(replay.rebuilds(), restored.rebuilds());
        }
    }
}

}  // namespace
}  // namespace levels
}  // namespace vlm
