#include "levels/level_replay.h"

#include "kline/bar_count.h"
#include "stream/missing_value.h"

namespace vlm::levels {

LevelReplay::LevelReplay(std::span<const Period> periods, const ResampleOptions& resample,
                         const TradingPointOptions& points)
    : options_(points) {
    tracks_.push_back(Track{std::nullopt, {}, TradingPointStream(points), 0, {}, -1});
    for (const Period& period : periods) {
        tracks_.push_back(Track{LevelResampler(period, resample), {}, TradingPointStream(points), 0, {}, -1});
    }
    rows_.resize(tracks_.size());
}

bool LevelReplay::fits(const BaseBars& soFar, std::size_t levels) const {
    if (tracks_.size() != levels + 1 || rows_.size() != tracks_.size()) return false;
    for (std::size_t k = 0; k < tracks_.size(); ++k) {
        const Track& track = tracks_[k];
        const LevelAsOf& row = rows_[k];
        if (!state::ValidBool(row.present) || !AsOfRowFits(row.structures) || !AsOfRowFits(track.finals) ||
            !state::ValidBool(row.point.present) || !state::ValidBool(row.point.final)) {
            return false;
        }
        if (!track.engine.fits() || !track.points.fits(track.engine)) return false;
        StreamingEngine finished = track.engine;
        finished.takeBackProvisional();
        if (k == 0) {
            if (track.resampler || track.engine.hasProvisional() || track.engine.size() != soFar.time.size()) return false;
            continue;
        }
        if (!track.resampler || !track.resampler->madeBy(soFar) || finished.size() != track.pushed ||
            track.pushed > track.resampler->bars().size()) {
            return false;
        }
    }
    return true;
}

void LevelReplay::startOver(Track& track) const {
    track.engine = StreamingEngine{};
    track.points = TradingPointStream(options_);
    track.pushed = 0;
    track.finals = AsOfRow{};
    track.finalPointsThrough = -1;
}

void LevelReplay::push(const BaseBars& soFar) {
    CheckBaseBars(soFar);
    const std::size_t n = soFar.time.size();
    // The base level: each bar is whole when it arrives.
    const std::size_t i = n - 1;
    Track& base = tracks_[0];
    if (n == 0 || base.engine.size() != i) {
        throw std::invalid_argument("push the base bars one at a time, each call with every bar so far");
    }
    const std::optional<float> close = CloseAt(soFar.close, i);
    base.engine.push(soFar.high[i], soFar.low[i]);
    base.points.push(base.engine, PointsClose(close, soFar.high[i], soFar.low[i]));
    rows_[0] = {true, AsOfRowOf(base.engine, close.value_or(kNaN)), LatestPoint(base.points)};

    for (std::size_t k = 1; k < tracks_.size(); ++k) {
        Track& track = tracks_[k];
        const std::size_t unchanged = track.resampler->push(soFar);
        if (unchanged < track.pushed) {
            ++rebuilds_;
            startOver(track);
        }
        if (track.resampler->tooCoarse()) {
            startOver(track);
            rows_[k] = LevelAsOf{};
            continue;
        }
        advance(track, track.resampler->bars(), rows_[k]);
    }
}

void LevelReplay::advance(Track& track, const LevelBars& bars, LevelAsOf& row) {
    track.engine.takeBackProvisional();
    track.points.takeBackProvisional();
    // Every finished bar is fed for good: the last one too once its period
    // is over (the base bar that ends a bin finishes it).
    const std::size_t last = bars.size() - 1;
    const std::size_t finished = bars.lastUnfinished ? last : last + 1;
    if (track.pushed < finished) {
        while (track.pushed < finished) {
            const std::size_t j = track.pushed++;
            track.engine.push(bars.high[j], bars.low[j]);
            track.points.push(track.engine, PointsClose(CloseAt(bars.close, j), bars.high[j], bars.low[j]));
        }
        track.finals = AsOfRowOf(track.engine, kNaN);
        track.finalPointsThrough = track.points.finalThrough();
    }
    const std::optional<float> close = CloseAt(bars.close, last);
    row.present = true;
    if (!bars.lastUnfinished) {
        row.structures = AsOfRowOf(track.engine, close.value_or(kNaN));
        row.point = LatestPoint(track.points);
        return;
    }
    track.engine.pushProvisional(bars.high[last], bars.low[last]);
    track.points.pushProvisional(track.engine, PointsClose(close, bars.high[last], bars.low[last]));
    row.structures = AsOfRowOf(track.engine, close.value_or(kNaN));
    row.structures.lastFinal = track.finals.lastFinal;
    row.point = LatestPoint(track.points);
    row.point.final = row.point.present && row.point.point.bar <= track.finalPointsThrough;
}

}  // namespace vlm::levels
