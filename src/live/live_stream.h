#pragma once
// A market followed as it trades: bars arrive one at a time, each returns
// the changes it made (the replay's events, structures' then points'), the
// bar still forming can be shown and taken back, and the whole state saves
// to bytes and restores from them, so a restart does not read the history
// again.
//
// Every bar goes through the same replay as a finished file's (PointReplay,
// and LevelReplay for the levels), so a stream fed a file's bars one by one
// shows exactly what `replay` shows of it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "levels/level_replay.h"
#include "levels/resample.h"
#include "points/point_replay.h"
#include "points/trading_points.h"
#include "state/state.h"
#include "stream/replay.h"

namespace vlm::live {

// Which of the optional columns the bars carry; high, low and the date
// always. Fixed for a stream's life: a bar without a column the stream has
// is refused.
struct BarColumns {
    bool open = true;
    bool close = true;
    bool volume = true;

    friend bool operator==(const BarColumns&, const BarColumns&) = default;
};

struct StreamOptions {
    TradingPointOptions points;
    std::vector<levels::Period> periods;  // empty: the base level only
    levels::ResampleOptions resample;
    BarColumns columns;

    friend bool operator==(const StreamOptions&, const StreamOptions&) = default;
};

// One bar as it arrives. A column the stream does not carry is ignored.
struct LiveBar {
    levels::Seconds time = 0;
    float open = 0.0f, high = 0.0f, low = 0.0f, close = 0.0f;
    double volume = 0.0;
};

// A bar the stream refuses, as the bar-file reader would refuse it: a price
// or volume that is not a finite number, the low above the high, or a date
// not after the last bar's. The stream is left as it was.
class BadBar : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// The changes one bar made, in the replay's order: the structures' events,
// then the points'. Their `bar` is the bar's index. Valid until the next
// call that changes the stream.
struct BarEvents {
    std::span<const ReplayEvent> structures;
    std::span<const PointReplayEvent> points;
    [[nodiscard]] std::size_t size() const { return structures.size() + points.size(); }
};

class Stream {
public:
    // Throws std::invalid_argument for options the replay refuses (see
    // CheckTradingPointOptions; an intraday period the levels refuse is
    // refused at the first bar, as LevelReplay does).
    explicit Stream(StreamOptions options = {});

    // A finished bar. Takes back a forming bar first (see pushForming).
    // Throws BadBar.
    BarEvents push(const LiveBar& bar);
    // The bar still forming: its events are those it makes on the finished
    // bars; the next push or pushForming takes it back first, so a forming
    // bar rewritten and then pushed finished gives what pushing it alone
    // gives. Its date may equal the forming bar's it replaces. Throws BadBar.
    BarEvents pushForming(const LiveBar& bar);
    // Takes back a forming bar, if one is on.
    void takeBackForming();

    // Finished bars pushed, and whether a forming bar is on after them.
    [[nodiscard]] std::size_t size() const;
    [[nodiscard]] bool forming() const;
    // The as-of rows after the last bar (forming or finished): the
    // structures' and the points', and with levels, every level's.
    [[nodiscard]] const AsOfRow& asOf() const;
    [[nodiscard]] PointAsOf pointAsOf() const;
    [[nodiscard]] std::span<const levels::LevelAsOf> levelRows() const;
    [[nodiscard]] const StreamOptions& options() const;

    // Everything a bar can change (see state/state.h): the replay, the
    // levels' replay and the base bars it reads, the last finished bar's
    // date, and the forming bar's tape. Snapshot writes this list whole.
    template <typename Self, typename Visitor>
    static void visitState(Self& self, Visitor& v) {
        v(self.replay_);
        if (self.levels_) v(*self.levels_);  // there or not by the options
        v(state::Settled(self.time_, self.time_.size()));
        for (auto* list : {&self.open_, &self.high_, &self.low_, &self.close_}) {
            v(state::Settled(*list, list->size()));
        }
        v(state::Settled(self.volume_, self.volume_.size()));
        v(self.finished_);
        v(self.lastTime_);
        v(self.forming_);
    }

private:
    friend Stream Restore(std::span<const std::byte> bytes);
    // A stream of `options` read from a snapshot's payload and checked
    // (checkRestored). Throws BadSnapshot.
    static Stream read(const StreamOptions& options, std::span<const std::byte> payload);
    void check(const LiveBar& bar) const;
    void apply(const LiveBar& bar);
    // Throws BadSnapshot where a restored state could not have been made
    // by pushing bars.
    void checkRestored() const;

    StreamOptions options_;
    PointReplay replay_;
    std::optional<levels::LevelReplay> levels_;  // with periods only
    // The base bars so far, which the levels' replay reads whole at every
    // bar; kept with periods only, each column only if the bars carry it.
    std::vector<levels::Seconds> time_;
    std::vector<float> open_, high_, low_, close_;
    std::vector<double> volume_;
    std::size_t finished_ = 0;        // finished bars
    levels::Seconds lastTime_ = 0;    // the last finished bar's date
    state::Provisional forming_;      // takes the forming bar back
};

// The whole state of a stream as a self-describing, versioned byte string
// with a checksum: its options, then what the stream's visitState lists,
// written whole.
std::vector<std::byte> Snapshot(const Stream& stream);

// Why bytes are not a snapshot to restore from: truncated, corrupted, of
// another format version, or of other options.
class BadSnapshot : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// A stream exactly as it was when saved. Throws BadSnapshot, never crashes,
// whatever the bytes.
Stream Restore(std::span<const std::byte> bytes);
// The same, and refused (BadSnapshot, naming the first option that differs)
// unless the snapshot was made with `expected`.
Stream Restore(std::span<const std::byte> bytes, const StreamOptions& expected);

}  // namespace vlm::live
