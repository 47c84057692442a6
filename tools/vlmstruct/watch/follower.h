#pragma once
// The heart of `watch`: the bar file followed as a feed appends to it, each
// new finished row pushed to the stream at once, its events sent as alerts
// (standard output, then the outbox), and the state kept.
//
// The file is read in whole lines: a partial last line waits for its line
// break. With `forming`, the last whole row is the bar still forming: it may
// be rewritten in place with the same date, and is pushed finished once a
// row follows it. A new copy of the file renamed over it is followed on if
// it begins with the bytes read. Any other change to what was read (the
// file truncated, replaced by other bytes, or its last bytes read
// rewritten) starts over from the first bar, with a message. Rows are read by the bar-file reader's rules
// (parseBarRows), a row a line.

#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "barfile/bar_file.h"
#include "live/live_stream.h"
#include "watch/alerts.h"
#include "watch/checksum.h"
#include "watch/outbox.h"
#include "watch/state_file.h"
#include "watch/stop_signal.h"

namespace vlmstruct::watch {

struct WatchSettings {
    std::string path;
    vlm::live::StreamOptions stream;  // its columns are the file's
    bool forming = false;
    bool newOnly = false;  // the rows there at the start (or a start over) only warm up
    double interval = 0.5;
    std::vector<std::string> levelNames;
    EventFilter filter;
    std::optional<StateFiles> state;
    std::chrono::milliseconds drain{3000};  // the outbox's patience at a clean stop
};

class Follower {
public:
    // `outbox` may be null: standard output only.
    Follower(WatchSettings settings, Outbox* outbox);
    ~Follower();
    Follower(const Follower&) = delete;
    Follower& operator=(const Follower&) = delete;

    // Follows the file until `stop` is raised, then stops cleanly. Throws
    // BarFileError for a bad row or a file that cannot be read, after
    // keeping the state of the bars before it.
    void run(const StopSignal& stop);

private:
    struct FormingRow {
        std::string text;
        DateStamp date;
    };

    void open();
    void poll(const StopSignal& stop);
    // Why the file must be read again from its start, or nothing.
    const char* changed(const struct stat& info);
    // Whether the file opened begins with the bytes read (a new copy of it).
    bool beginsAsRead();
    void startOver(const char* why);
    void resume();
    void take(std::string_view chunk, const StopSignal& stop);
    // Whole rows after those read; `allFinished`: none of them is forming
    // (rows seen before a restart). `stop`, when given, may end it between bars.
    void consume(std::string_view rows, const BarSeries& bars, bool allFinished, const StopSignal* stop);
    void consumeGood(std::string_view rows, const StopSignal& stop);
    void advance(std::string_view bytes);
    void pushFinished(const BarSeries& bars, std::size_t i, std::string_view rows, std::uint64_t rowsLine);
    void pushForming(const BarSeries& bars, std::size_t i, std::string_view text, std::uint64_t line, bool quiet);
    vlm::live::LiveBar barAt(const BarSeries& bars, std::size_t i);
    std::string dateOf(const BarSeries& bars, std::size_t i) const;
    void deliver(const std::vector<Alert>& alerts);
    void sendQueued();
    // `sync`: on disk, not only renamed (after a chunk and at a stop).
    void savePosition(bool sync = false);
    // After a bar whose alerts went out: the position noted or saved.
    void barDone();
    void maybeSnapshot(bool now);
    void stopCleanly();

    WatchSettings settings_;
    Outbox* outbox_;
    AlertMaker alerts_;

    int fd_ = -1;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    off_t seenSize_ = -1;
    struct timespec seenTime_ {};

    std::string head_;  // the file up to its header's line end; empty until read
    Position position_;
    Checksum checksum_;  // of the bytes before position_.read.offset
    std::string tail_;   // the last bytes before it, to see them rewritten
    std::optional<vlm::live::Stream> stream_;
    std::optional<FormingRow> forming_;
    std::uint64_t pushed_ = 0;        // finished bars in the stream
    std::uint64_t quietThrough_ = 0;  // bars below pushed without alerts
    bool quietChunk_ = false;         // --new-only: the next chunk is the rows there at the start
    bool seconds_ = false;            // dates shown with seconds
    std::vector<vlm::levels::Seconds> times_;  // of the rows being consumed
    bool incomplete_ = false;  // a stop came in the middle of a chunk
    std::chrono::steady_clock::time_point snapshotAt_{};
    std::chrono::steady_clock::duration snapshotCost_{};
    bool snapshotTaken_ = false;
    std::uint64_t snapshotBars_ = 0;  // the bars in the last snapshot
    std::size_t lastPending_ = 0;
    bool positionSaved_ = false;       // in this run, since any start over
    bool savedPendingEmpty_ = false;   // the queues as last saved
    std::uint64_t notes_ = 0;          // bars noted since
};

}  // namespace vlmstruct::watch
