#include "points/point_stream.h"

#include <algorithm>
#include <stdexcept>

#include "kline/bar_count.h"
#include "pivot/pivot_outputs.h"

namespace vlm {

namespace {

// The listed pivots from `from` on, then the one under way, as the points read them.
void tailPivotsOf(const StreamingEngine& engine, std::size_t from, std::vector<PointPivot>& out) {
    out.clear();
    const ZhongShuList& pivots = engine.pivots();
    const std::span<const float> counts = engine.runCounts();
    for (std::size_t p = from; p < pivots.size(); ++p) out.push_back({pivots[p], counts[p]});
    if (const std::optional<Pivot>& open = engine.pivotUnderWay()) {
        out.push_back({*open, RunCountAfter(pivots, counts, *open)});
    }
}

}  // namespace

bool TradingPointStream::fits(const StreamingEngine& engine) const {
    const std::size_t listed = engine.pivots().size();
    const std::size_t listedSeen = seenTailPivots_.size() - (seenUnderWay_ && !seenTailPivots_.empty() ? 1 : 0);
    for (const PointEvent& e : changes_) {
        if (!state::EnumWithin(e.change, PointChange::Withdrawn)) return false;
    }
    for (const TurningPoint& end : seenLastEnds_) {
        if (!state::ValidBool(end.isTop)) return false;
    }
    // Where the open pivot starts among the stroke ends, which are final up
    // to it, is found again.
    const std::span<const TurningPoint> ends = engine.strokeEnds();
    if (openStart_ != -1 && (openStartIndex_ != static_cast<std::int64_t>(FirstEndAtOrAfter(ends, openStart_)) ||
                             openStartIndex_ >= static_cast<std::int64_t>(ends.size()))) {
        return false;
    }
    if (histogram_.size() != engine.size() || firstOpen_ > listed || !memo_.fits() || !macd_.fits(options_.macd) ||
        (scan_ && !scan_->fits(engine.strokeEnds().size())) || (seenUnderWay_ && seenTailPivots_.empty()) ||
        seenFrom_ > seenPivots_ || listedSeen > seenPivots_ - seenFrom_) {
        return false;
    }
    if (!provisional_.active()) return true;
    StreamingEngine before = engine;
    before.takeBackProvisional();
    return state::Provisional::takesBackFitting(*this, provisional_,
                                                [&](const TradingPointStream& p) { return p.fits(before); });
}

TradingPointStream::TradingPointStream(TradingPointOptions options)
    : options_((CheckTradingPointOptions(options), options)), macd_(options.macd) {}

std::vector<TradingPoint> TradingPointStream::points() const {
    std::vector<TradingPoint> out;
    out.reserve(final_.size() + pending_.size());
    for (const ShownPoint& p : final_) out.push_back(p.point);
    for (const ShownPoint& p : pending_) out.push_back(p.point);
    return out;
}

void TradingPointStream::push(const StreamingEngine& engine, float close) {
    takeBackProvisional();
    append(engine, close);
}

void TradingPointStream::pushProvisional(const StreamingEngine& engine, float close) {
    takeBackProvisional();
    provisional_.keep(*this);
    append(engine, close);
}

void TradingPointStream::takeBackProvisional() { provisional_.takeBack(*this); }

void TradingPointStream::reserve(std::size_t bars) {
    histogram_.reserve(bars);
    // A point stands at a stroke end, and a stroke ends at least four bars after the one before.
    const std::size_t strokeEnds = bars / 4 + 3;
    final_.reserve(strokeEnds);
    withdrawn_.reserve(strokeEnds);
}

void TradingPointStream::append(const StreamingEngine& engine, float close) {
    if (engine.size() != histogram_.size() + 1) {
        throw std::logic_error("update the trading points once after every push of the engine");
    }
    const auto bar = static_cast<std::int32_t>(histogram_.size());
    histogram_.push_back(macd_.advance(close).histogram);
    changes_.clear();

    // Where final points end: strokes starting at or before settledStart
    // belong to the last final pivot whatever comes, and no pivot after it
    // has points before the fourth stroke end after its start.
    const std::span<const TurningPoint> ends = engine.strokeEnds();
    const auto finalEnds = static_cast<std::int64_t>(engine.finalMarks(MarkSeries::Strokes));
    const std::optional<Pivot> open = engine.pivotOpenAtFinalEnds();
    if (open && open->start != openStart_) {
        openStart_ = open->start;
        openStartIndex_ = static_cast<std::int64_t>(FirstEndAtOrAfter(ends, open->start));
    }
    const std::int64_t settledIndex = open ? openStartIndex_ : finalEnds - 3;
    const std::int64_t lastFinalIndex = std::min(finalEnds - 1, settledIndex + 1);
    const std::int64_t wasFinalThrough = finalThrough_;
    if (lastFinalIndex >= 0) {
        finalThrough_ = std::max<std::int64_t>(
            finalThrough_, ends[static_cast<std::size_t>(lastFinalIndex)].bar);
    }

    if (!structuresUnchanged(engine)) {
        memo_.setFinalEnds(static_cast<std::size_t>(finalEnds));
        evaluate(engine, bar, wasFinalThrough);
        rememberStructures(engine);
    }
    settle(bar);
    advanceFirstOpen(engine, settledIndex >= 0 ? ends[static_cast<std::size_t>(settledIndex)].bar : -1);
}

void TradingPointStream::evaluate(const StreamingEngine& engine, std::int32_t bar,
                                  std::int64_t wasFinalThrough) {
    const std::span<const TurningPoint> ends = engine.strokeEnds();
    tailPivotsOf(engine, firstOpen_, scratch_.tailPivots);
    scratch_.fresh.clear();
    for (std::size_t j = 0; j < scratch_.tailPivots.size(); ++j) {
        const std::int64_t lastStart = j + 1 < scratch_.tailPivots.size() ? scratch_.tailPivots[j + 1].pivot.start
                                                                  : PivotScan::kNoNextPivot;
        PivotScan scan = (j == 0 && scan_) ? *scan_ : PivotScan(ends, scratch_.tailPivots[j], options_);
        scan.advance(ends, ends.size(), lastStart);
        scan.emit(ends, histogram_, options_, scratch_.fresh, &memo_);
    }
    JoinPoints(scratch_.fresh);
    // Points up to the old horizon are final and listed already.
    const auto firstNew = std::find_if(scratch_.fresh.begin(), scratch_.fresh.end(), [&](const TradingPoint& p) {
        return p.bar > wasFinalThrough;
    });

    std::vector<ShownPoint>& next = scratch_.nextPending;
    next.clear();
    scratch_.withdrawnNow.clear();
    const auto withdraw = [&](ShownPoint p) {
        p.withdrawnBar = bar;
        withdrawn_.push_back(p);
        scratch_.withdrawnNow.push_back({PointChange::Withdrawn, p});
    };
    const auto appear = [&](const TradingPoint& p) {
        next.push_back({p, bar, -1, -1});
        changes_.push_back({PointChange::Appeared, next.back()});
    };
    auto f = firstNew;
    std::size_t i = 0;
    while (i < pending_.size() || f != scratch_.fresh.end()) {
        if (f == scratch_.fresh.end() || (i < pending_.size() && pending_[i].point.bar < f->bar)) {
            withdraw(pending_[i++]);
        } else if (i == pending_.size() || f->bar < pending_[i].point.bar) {
            appear(*f++);
        } else {
            if (pending_[i].point == *f) {
                next.push_back(pending_[i]);
            } else {
                withdraw(pending_[i]);
                appear(*f);
            }
            ++i;
            ++f;
        }
    }
    pending_.swap(next);
}

void TradingPointStream::settle(std::int32_t bar) {
    std::size_t n = 0;
    while (n < pending_.size() && pending_[n].point.bar <= finalThrough_) {
        ShownPoint& p = pending_[n++];
        p.finalBar = bar;
        final_.push_back(p);
        changes_.push_back({PointChange::Final, p});
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
    changes_.insert(changes_.end(), scratch_.withdrawnNow.begin(), scratch_.withdrawnNow.end());
    scratch_.withdrawnNow.clear();
}

void TradingPointStream::advanceFirstOpen(const StreamingEngine& engine, std::int64_t settledStart) {
    // A pivot whose successor is final owns a fixed run of strokes, and its
    // points all lie at or before the horizon: they are in final_ now.
    const std::size_t finalPivots = engine.finalPivots();
    while (firstOpen_ + 1 < finalPivots) {
        ++firstOpen_;
        scan_.reset();
    }
    if (firstOpen_ >= finalPivots) return;
    const std::span<const TurningPoint> ends = engine.strokeEnds();
    if (!scan_) {
        scan_.emplace(ends, PointPivot{engine.pivots()[firstOpen_], engine.runCounts()[firstOpen_]},
                      options_);
    }
    scan_->advance(ends, engine.finalMarks(MarkSeries::Strokes), settledStart);
}

bool TradingPointStream::structuresUnchanged(const StreamingEngine& engine) const {
    const std::span<const TurningPoint> ends = engine.strokeEnds();
    if (!evaluated_ || ends.size() != seenEnds_ || engine.pivots().size() != seenPivots_) {
        return false;
    }
    // Stroke ends before the last two are final and cannot differ.
    for (std::size_t k = 0; k < 2 && k < ends.size(); ++k) {
        if (!(ends[ends.size() - 1 - k] == seenLastEnds_[k])) return false;
    }
    // Listed pivots before the first evaluated one are final.
    const ZhongShuList& pivots = engine.pivots();
    const std::span<const float> counts = engine.runCounts();
    const std::size_t listedSeen = seenTailPivots_.size() - (seenUnderWay_ ? 1 : 0);
    if (engine.pivotUnderWay().has_value() != seenUnderWay_ ||
        (seenUnderWay_ && !(*engine.pivotUnderWay() == seenTailPivots_.back().pivot))) {
        return false;
    }
    for (std::size_t p = 0; p < listedSeen; ++p) {
        const PointPivot& seen = seenTailPivots_[p];
        if (!(pivots[seenFrom_ + p] == seen.pivot) || counts[seenFrom_ + p] != seen.runCount) return false;
    }
    return true;
}

void TradingPointStream::rememberStructures(const StreamingEngine& engine) {
    const std::span<const TurningPoint> ends = engine.strokeEnds();
    evaluated_ = true;
    seenEnds_ = ends.size();
    for (std::size_t k = 0; k < 2 && k < ends.size(); ++k) seenLastEnds_[k] = ends[ends.size() - 1 - k];
    seenPivots_ = engine.pivots().size();
    seenFrom_ = firstOpen_;
    seenUnderWay_ = engine.pivotUnderWay().has_value();
    seenTailPivots_ = scratch_.tailPivots;  // what evaluate read, from firstOpen_ on
}

std::optional<TradingPoint> NewlyShown(std::span<const PointEvent> changes) {
    const TradingPoint* latest = nullptr;
    std::uint8_t latestClasses = 0;
    for (const PointEvent& shown : changes) {
        const TradingPoint& p = shown.point.point;
        if (shown.change != PointChange::Appeared || (latest != nullptr && p.bar < latest->bar)) continue;
        std::uint8_t classes = p.classes;
        for (const PointEvent& gone : changes) {
            const TradingPoint& was = gone.point.point;
            if (gone.change == PointChange::Withdrawn && was.bar == p.bar && was.side == p.side) {
                classes = static_cast<std::uint8_t>(classes & ~was.classes);
            }
        }
        if (classes != 0) {
            latest = &p;
            latestClasses = classes;
        }
    }
    if (latest == nullptr) return std::nullopt;
    TradingPoint out = *latest;
    out.classes = latestClasses;
    return out;
}

std::vector<ShownPoint> StreamTradingPoints(std::span<const float> high, std::span<const float> low,
                                            std::span<const float> close,
                                            const TradingPointOptions& options) {
    RequireLength("low", low.size(), high.size());
    RequireLength("close", close.size(), high.size(), true);
    StreamingEngine engine;
    engine.reserve(high.size());
    TradingPointStream stream(options);
    for (std::size_t i = 0; i < high.size(); ++i) {
        engine.push(high[i], low[i]);
        stream.push(engine, PointsClose(CloseAt(close, i), high[i], low[i]));
    }
    std::vector<ShownPoint> all;
    all.reserve(stream.finalPoints().size() + stream.withdrawn().size() + stream.pendingPoints().size());
    all.insert(all.end(), stream.finalPoints().begin(), stream.finalPoints().end());
    all.insert(all.end(), stream.withdrawn().begin(), stream.withdrawn().end());
    all.insert(all.end(), stream.pendingPoints().begin(), stream.pendingPoints().end());
    std::stable_sort(all.begin(), all.end(), [](const ShownPoint& a, const ShownPoint& b) {
        return a.appearedBar != b.appearedBar ? a.appearedBar < b.appearedBar
                                              : a.point.bar < b.point.bar;
    });
    return all;
}

}  // namespace vlm
