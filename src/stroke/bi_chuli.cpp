#include "stroke/bi_chuli.h"

#include <cstddef>
#include <utility>
#include <vector>

namespace vlm {

// The list's answer is the incremental rule's answer at some bar of it, so
// both name one rule.
bool confirmBi(std::span<const Kxian> list, int direction) {
    PendingConfirmation confirmation(direction);
    for (const Kxian& bar : list) {
        if (confirmation.add(bar)) {
            return true;
        }
    }
    return false;
}

bool PendingConfirmation::add(const Kxian& bar) {
    if (confirmed_ || (direction_ != -1 && direction_ != 1)) {
        return confirmed_;
    }
    const float price = priceOf(bar);
    // A pair needs a run end before the bar, so at least four bars: the
    // length test of confirmBi holds by itself here.
    if (haveRunEnd_ && beyond(price, nearestRunEnd_)) {
        confirmed_ = true;
        return true;
    }
    if (size_ >= 2 && beyond(newer_, older_) && beyond(price, newer_)) {
        if (!haveRunEnd_ || beyond(nearestRunEnd_, price)) {
            nearestRunEnd_ = price;
        }
        haveRunEnd_ = true;
    }
    older_ = newer_;
    newer_ = price;
    ++size_;
    return false;
}

bool BiChuLi::fits(std::size_t kxians, std::size_t bars) const {
    const auto bar = [bars](std::int32_t b) { return b >= 0 && static_cast<std::size_t>(b) < bars; };
    for (const Bi& stroke : biList) {
        if (stroke.kxianList.empty() || (stroke.direction != 1 && stroke.direction != -1) ||
            !bar(stroke.startIndex) || !bar(stroke.endIndex)) {
            return false;
        }
        for (const Kxian& k : stroke.kxianList) {
            if (!bar(k.startIndex) || !bar(k.endIndex) || !bar(k.extremeIndex)) return false;
        }
    }
    const PendingConfirmation& c = pending_.confirmation;
    return pending_.start <= kxians && (c.direction_ == 1 || c.direction_ == -1) && state::ValidBool(c.haveRunEnd_) &&
           state::ValidBool(c.confirmed_);
}

StrokeStep BiChuLi::classify(const Kxian& bar, PendingConfirmation& confirmation) const {
    if (biList.empty()) {
        return StrokeStep::OpensFirst;
    }
    const Bi& stroke = biList.back();
    // An equal extreme extends too; a NaN never does.
    if (stroke.direction == 1 ? bar.high >= stroke.high : bar.low <= stroke.low) {
        return StrokeStep::Extends;
    }
    // The bar that confirms is the newest pending bar: it ends the new stroke.
    return confirmation.add(bar) ? StrokeStep::Confirms : StrokeStep::Pends;
}

StrokeStep BiChuLi::preview(const Kxian& bar) const {
    PendingConfirmation confirmation = pending_.confirmation;
    return classify(bar, confirmation);
}

void BiChuLi::step(std::span<const Kxian> kxians, std::size_t k, Pending& pending) {
    const Kxian& bar = kxians[k];
    const auto pendingThrough = [&] { return kxians.subspan(pending.start, k + 1 - pending.start); };
    switch (classify(bar, pending.confirmation)) {
        case StrokeStep::OpensFirst:
            biList.push_back(Bi{1, bar.startIndex, bar.endIndex, bar.high, bar.low, {bar}});
            break;
        case StrokeStep::Extends: {
            Bi& stroke = biList.back();
            const bool up = stroke.direction == 1;
            stroke.endIndex = bar.endIndex;
            (up ? stroke.high : stroke.low) = up ? bar.high : bar.low;
            if (endOnly_) {
                stroke.kxianList.back() = bar;
            } else {
                const auto joined = pendingThrough();
                stroke.kxianList.insert(stroke.kxianList.end(), joined.begin(), joined.end());
            }
            break;
        }
        case StrokeStep::Pends:
            return;
        case StrokeStep::Confirms: {
            const Bi& stroke = biList.back();
            const bool up = stroke.direction == 1;
            const auto bars = endOnly_ ? kxians.subspan(k, 1) : pendingThrough();
            Bi next{-stroke.direction,
                    stroke.endIndex,
                    bar.endIndex,
                    up ? stroke.high : bar.high,
                    up ? bar.low : stroke.low,
                    std::vector<Kxian>(bars.begin(), bars.end())};
            biList.push_back(std::move(next));
            break;
        }
    }
    pending.start = k + 1;
    pending.confirmation = PendingConfirmation(-biList.back().direction);
}

void BiChuLi::push(std::span<const Kxian> kxians, std::size_t k) { step(kxians, k, pending_); }

void BiChuLi::build(std::span<const Kxian> kxians) {
    // The pending state lives in a local for the pass, where the compiler can
    // keep it in registers; the member holds it between pushes.
    Pending pending = pending_;
    for (std::size_t k = 0; k < kxians.size(); ++k) {
        step(kxians, k, pending);
    }
    pending_ = pending;
}

}  // namespace vlm
