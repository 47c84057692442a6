#pragma once
// --state FILE: where `watch` stands, so that a restart continues where it
// stopped. Two files, each replaced whole (temporary file, rename):
// FILE, the position, small and written after every bar that sent alerts;
// and FILE.snapshot, the stream's snapshot, rewritten only now and then and
// at a clean stop, since on a long history it is large. The rename alone
// keeps a replaced file whole across a kill; the position is also synced to
// disk (against a power loss) after each chunk of rows read and at a stop,
// and the snapshot whenever it is written. A restart restores
// the snapshot and replays the bars between it and the position without
// alerts, from the bar file.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "watch/outbox.h"

namespace vlmstruct::watch {

// The options a state belongs to, as name and value; a state of other
// options is refused.
using OptionList = std::vector<std::pair<std::string, std::string>>;

// A place in the bar file: the bytes read (whole lines; with --forming, up to
// the forming row), their checksum and the line after them.
struct FilePlace {
    std::uint64_t offset = 0;
    std::uint64_t line = 1;
    std::uint64_t checksum = 0;
};

struct Position {
    FilePlace read;
    std::uint64_t headEnd = 0;  // the header row's line ends there
    std::uint64_t bars = 0;     // finished bars whose alerts went out
    // The alerts of the bar still forming already sent, and that bar.
    std::uint64_t formingBar = 0;
    std::vector<std::string> formingSent;
    std::vector<std::vector<Alert>> pending;  // the outbox's queues (Outbox::pending)
};

struct SavedSnapshot {
    FilePlace read;        // every finished bar of these bytes is in it
    std::uint64_t bars = 0;
    std::vector<std::byte> bytes;  // vlm::live::Snapshot
};

class StateFiles {
public:
    StateFiles(std::string path, OptionList options);

    // nullopt without a state file. Throws UsageError for a state of other
    // options (naming the first that differs), std::runtime_error for a file
    // that is not a state or is damaged.
    [[nodiscard]] std::optional<Position> loadPosition() const;
    // nullopt without a snapshot, or (said on standard error) one that cannot
    // be read: it only saves time.
    [[nodiscard]] std::optional<SavedSnapshot> loadSnapshot() const;

    // `sync`: on disk before returning (file and folder), not only renamed.
    void save(const Position& position, bool sync) const;
    // Notes at the end of the position file that the alerts of the bars
    // below `bars` went out, the rest as last saved: a line appended, far
    // cheaper than a whole file replaced, for the bars of a long chunk. The
    // position must have been saved in this run (and since any start over).
    void noteBars(std::uint64_t bars) const;
    void save(const SavedSnapshot& snapshot) const;

    [[nodiscard]] const std::string& path() const { return path_; }

private:
    std::string path_, snapshotPath_;
    OptionList options_;
};

// Replaces `path` with `bytes` whole: a temporary file beside it (0600: a
// state names its targets), renamed over it; with `sync`, the file synced
// before the rename and the folder after. Throws std::runtime_error naming
// the file.
void WriteAtomically(const std::string& path, std::string_view bytes, bool sync = true);

}  // namespace vlmstruct::watch
