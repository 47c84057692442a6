#pragma once
// Replay across levels: at every base bar, each level's as-of row from the
// base bars up to it only. The level bar that holds the base bar is shown as
// it stands then, exactly what a live reader saw: finished when its period
// is over (Resample's lastUnfinished), unfinished otherwise.
//
// Each level keeps a streaming engine and a trading-point stream fed with
// its finished bars; an unfinished bar that holds the newest base bar is
// pushed provisionally and taken back at the next base bar, so a base bar
// costs the structures' tails, not the history.

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "levels/resample.h"
#include "points/point_replay.h"
#include "points/point_stream.h"
#include "stream/streaming_engine.h"

namespace vlm::levels {

// A level's as-of row at one base bar: the single-level replay's columns,
// bars counted at the level. An unfinished level bar can still move what its
// engine calls final, so while the last bar is unfinished the final columns
// (lastFinal, point.final) count only what the finished bars make final; a
// finished last bar counts like every bar before it.
struct LevelAsOf {
    bool present = false;  // false while the bars so far cannot make the level
    AsOfRow structures;
    PointAsOf point;
};

class LevelReplay {
public:
    // Throws std::invalid_argument for an intraday period Resample refuses.
    LevelReplay(std::span<const Period> periods, const ResampleOptions& resample = {},
                const TradingPointOptions& points = {});

    // Takes the last bar of `soFar`, whose other bars are those of the
    // earlier pushes (see LevelResampler::push). Throws
    // std::invalid_argument, naming the series, for one that does not hold
    // a value per bar time (open, close and volume may be empty).
    void push(const BaseBars& soFar);

    // The rows of the last push: the base level first (every base bar a bar
    // of its own, as the single-level replay shows it), then the periods.
    [[nodiscard]] std::span<const LevelAsOf> rows() const { return rows_; }
    // How many times a level's finished bars changed and its structures were
    // built again from its first bar (a smaller session gap re-forms the
    // sessions of the bars so far; a bar taken as finished gets a late base
    // bar).
    [[nodiscard]] std::size_t rebuilds() const { return rebuilds_; }

    // Whether a state read back from bytes could be that of a replay of
    // `levels` periods given these base bars (see StreamingEngine::fits).
    [[nodiscard]] bool fits(const BaseBars& soFar, std::size_t levels) const;

    // Everything a base bar can change (see state/state.h): each level's
    // resampler, structures (with the provisional bar on them) and points.
    template <typename Self, typename Visitor>
    static void visitState(Self& self, Visitor& v) {
        v(self.tracks_);
        v(self.rows_);
        v(self.rebuilds_);
    }

private:
    struct Track {
        std::optional<LevelResampler> resampler;  // none for the base level
        StreamingEngine engine;
        TradingPointStream points;
        std::size_t pushed = 0;  // level bars fed for good
        AsOfRow finals;          // the final marks after the bars fed for good
        std::int64_t finalPointsThrough = -1;

        template <typename Self, typename Visitor>
        static void visitState(Self& self, Visitor& v) {
            v(self.resampler);
            v(self.engine);
            v(self.points);
            v(self.pushed);
            v(self.finals);
            v(self.finalPointsThrough);
        }
    };
    void advance(Track& track, const LevelBars& bars, LevelAsOf& row);
    void startOver(Track& track) const;

    TradingPointOptions options_;
    std::vector<Track> tracks_;
    std::vector<LevelAsOf> rows_;
    std::size_t rebuilds_ = 0;
};

}  // namespace vlm::levels
