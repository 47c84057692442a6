#include "watch/follower.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <iostream>

#include "analysis/levels.h"
#include "barfile/bar_file_error.h"

namespace vlmstruct::watch {

namespace {

// The last bytes read, kept to tell whether they were rewritten: a writer
// that rewrites a file rewrites its end with it.
constexpr std::size_t kTail = 4096;

std::string readAt(int fd, std::uint64_t from, std::uint64_t to, const std::string& name) {
    std::string bytes(static_cast<std::size_t>(to - from), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(from + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw BarFileError(name + ": cannot read the file");
        if (got == 0) break;  // shortened meanwhile: seen at the next look
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    return bytes;
}

std::uint64_t lines(std::string_view text) { return static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n')); }

// Calls f(line, number, begin) for each line of text (its line break kept).
template <typename F>
void eachLine(std::string_view text, std::uint64_t first, F f) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t end = text.find('\n', begin);
        const std::size_t after = end == std::string_view::npos ? text.size() : end + 1;
        if (!f(text.substr(begin, after - begin), first++, begin)) return;
        begin = after;
    }
}

void writeOut(std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw std::runtime_error("cannot write to standard output");
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

// The i-th row of `rows`, found again for a message or a position: its line
// and where it begins.
struct RowPlace {
    std::uint64_t line;
    std::size_t begin;
};

RowPlace placeOfRow(std::string_view head, std::string_view rows, std::uint64_t first, std::size_t i,
                    const std::string& name) {
    RowPlace found{first, 0};
    std::size_t count = 0;
    eachLine(rows, first, [&](std::string_view line, std::uint64_t number, std::size_t begin) {
        count += parseBarRows(head, line, number, name).stamps.size();
        found = {number, begin};
        return count <= i;
    });
    return found;
}

// Whether a file's time is a second or more before now.
bool settled(const struct timespec& time) {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const double age = static_cast<double>(now.tv_sec - time.tv_sec) + static_cast<double>(now.tv_nsec - time.tv_nsec) * 1e-9;
    return age >= 1.0;
}

bool sameOptions(const vlm::live::StreamOptions& a, const vlm::live::StreamOptions& b) {
    return a.points == b.points && a.periods == b.periods && a.resample.bins == b.resample.bins &&
           a.resample.sessionGap == b.resample.sessionGap;
}

}  // namespace

Follower::Follower(WatchSettings settings, Outbox* outbox)
    : settings_(std::move(settings)), outbox_(outbox), alerts_(settings_.filter, settings_.levelNames) {}

Follower::~Follower() {
    if (fd_ >= 0) ::close(fd_);
}

void Follower::open() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = ::open(settings_.path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0) throw BarFileError(settings_.path + ": cannot open the file");
    if (S_ISDIR(info.st_mode)) throw BarFileError(settings_.path + ": a folder, not a bar file");
    if (!S_ISREG(info.st_mode)) throw BarFileError(settings_.path + ": not a regular file, which watch can follow");
    device_ = info.st_dev;
    inode_ = info.st_ino;
    seenSize_ = -1;
}

void Follower::run(const StopSignal& stop) {
    open();
    quietChunk_ = settings_.newOnly;
    if (settings_.state) resume();
    try {
        while (!stop.raised()) {
            poll(stop);
            sendQueued();
            stop.sleep(settings_.interval);
        }
    } catch (...) {
        stopCleanly();
        throw;
    }
    stopCleanly();
}

void Follower::stopCleanly() {
    if (outbox_ != nullptr && !outbox_->empty() && !outbox_->drain(settings_.drain)) {
        std::cerr << "vlmstruct: alerts not yet delivered are kept"
                  << (settings_.state ? " in the state, for the next run\n" : "; without --state they are lost\n");
    }
    if (settings_.state) {
        savePosition(true);
        maybeSnapshot(true);
    }
}

const char* Follower::changed(const struct stat& info) {
    if (static_cast<std::uint64_t>(info.st_size) < position_.read.offset) return "truncated";
    if (tail_.empty()) return nullptr;
    const std::uint64_t end = position_.read.offset;
    if (readAt(fd_, end - tail_.size(), end, settings_.path) != tail_) return "rewritten";
    return nullptr;
}

void Follower::poll(const StopSignal& stop) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        struct stat byName {};
        if (::stat(settings_.path.c_str(), &byName) != 0) return;  // being replaced: seen at the next look
        if (byName.st_dev != device_ || byName.st_ino != inode_) {
            // A feed may update by writing a new copy and renaming it over
            // the file: a copy that begins with the bytes read is followed on.
            open();
            if (!beginsAsRead()) startOver("replaced");
        }
        struct stat info {};
        if (::fstat(fd_, &info) != 0) throw BarFileError(settings_.path + ": cannot read the file");
        // Unchanged size and time tell nothing of a rewrite of the same length
        // within the clock's tick: the file is read again until its time is
        // a second old.
        if (info.st_size == seenSize_ && info.st_mtim.tv_sec == seenTime_.tv_sec &&
            info.st_mtim.tv_nsec == seenTime_.tv_nsec && settled(info.st_mtim)) {
            return;
        }
        if (const char* why = changed(info)) {
            startOver(why);
            continue;
        }
        seenSize_ = info.st_size;
        seenTime_ = info.st_mtim;
        const std::string text =
            readAt(fd_, position_.read.offset, static_cast<std::uint64_t>(info.st_size), settings_.path);
        const std::size_t cut = text.rfind('\n');
        if (cut == std::string::npos) return;  // a partial line waits for its line break
        take(std::string_view(text).substr(0, cut + 1), stop);
        return;
    }
}

bool Follower::beginsAsRead() {
    const std::uint64_t offset = position_.read.offset;
    const std::string seen = readAt(fd_, 0, offset, settings_.path);
    Checksum sum;
    sum.feed(seen);
    return seen.size() == offset && sum.value() == checksum_.value();
}

void Follower::startOver(const char* why) {
    std::cerr << "vlmstruct: " << settings_.path << " was " << why
              << " above the rows already read: starting over from its first bar\n";
    head_.clear();
    position_ = Position{};
    checksum_ = Checksum{};
    tail_.clear();
    stream_.reset();
    forming_.reset();
    pushed_ = 0;
    quietThrough_ = 0;
    positionSaved_ = false;
    quietChunk_ = settings_.newOnly;
    seenSize_ = -1;
    seconds_ = false;
}

void Follower::resume() {
    const std::optional<Position> saved = settings_.state->loadPosition();
    if (!saved) return;
    if (outbox_ != nullptr) outbox_->restore(saved->pending);
    lastPending_ = 0;
    for (const auto& queue : saved->pending) lastPending_ += queue.size();
    if (saved->headEnd == 0) return;  // nothing was read but the alerts kept
    struct stat info {};
    ::fstat(fd_, &info);
    const std::string seen =
        readAt(fd_, 0, std::min<std::uint64_t>(saved->read.offset, static_cast<std::uint64_t>(info.st_size)),
               settings_.path);
    Checksum whole;
    whole.feed(seen);
    if (seen.size() != saved->read.offset || whole.value() != saved->read.checksum || saved->headEnd > seen.size()) {
        std::cerr << "vlmstruct: " << settings_.path << " is not as " << settings_.state->path()
                  << " saw it (its first " << saved->read.offset
                  << " bytes changed): starting over from its first bar\n";
        return;
    }
    const std::string_view bytes(seen);
    head_ = std::string(bytes.substr(0, saved->headEnd));
    FilePlace start{saved->headEnd, 1 + lines(head_), 0};
    std::uint64_t snapshotBars = 0;
    if (const std::optional<SavedSnapshot> snapshot = settings_.state->loadSnapshot()) {
        Checksum prefix;
        prefix.feed(bytes.substr(0, std::min<std::uint64_t>(snapshot->read.offset, bytes.size())));
        try {
            if (snapshot->read.offset < saved->headEnd || snapshot->read.offset > saved->read.offset ||
                prefix.value() != snapshot->read.checksum) {
                throw vlm::live::BadSnapshot("it was taken of other bars");
            }
            vlm::live::Stream restored = vlm::live::Restore(snapshot->bytes);
            if (!sameOptions(restored.options(), settings_.stream)) throw vlm::live::BadSnapshot("of other options");
            restored.takeBackForming();
            stream_.emplace(std::move(restored));
            pushed_ = snapshotBars = snapshot->bars;
            start = snapshot->read;
        } catch (const vlm::live::BadSnapshot& e) {
            std::cerr << "vlmstruct: the snapshot beside " << settings_.state->path() << " is refused (" << e.what()
                      << "): the bars are replayed from the file instead\n";
        }
    }
    // The rows between the snapshot and the position were seen: replayed
    // without alerts, but for those of a bar whose alerts had not gone out.
    position_.read = start;
    position_.headEnd = saved->headEnd;
    checksum_.feed(bytes.substr(0, start.offset));
    quietThrough_ = saved->bars;
    quietChunk_ = false;
    position_.formingBar = saved->formingBar;
    position_.formingSent = saved->formingSent;
    position_.bars = saved->bars;
    const std::string_view rows = bytes.substr(start.offset);
    if (!rows.empty()) consume(rows, parseBarRows(head_, rows, start.line, settings_.path), true, nullptr);
    std::cerr << "vlmstruct: continuing after bar " << pushed_ << " as " << settings_.state->path() << " left it ("
              << pushed_ - snapshotBars << " bars replayed from the file)\n";
    tail_ = std::string(bytes.substr(bytes.size() - std::min(kTail, bytes.size())));
}

void Follower::take(std::string_view chunk, const StopSignal& stop) {
    if (head_.empty()) {
        if (chunk.find_first_not_of(" \t\r\n,;") == std::string_view::npos) return;  // no header yet
        ReadReport report;
        const BarSeries bars = parseBarRows({}, chunk, 1, settings_.path, {}, &report);
        std::size_t headEnd = 0;
        for (std::size_t line = 0; line < report.headerLine; ++line) headEnd = chunk.find('\n', headEnd) + 1;
        head_ = std::string(chunk.substr(0, headEnd));
        position_.headEnd = headEnd;
        advance(head_);
        seconds_ = bars.stampSeconds;
        consume(chunk.substr(headEnd), bars, false, &stop);
        std::cerr << "vlmstruct: " << pushed_ << " bars read; following the rows added to " << settings_.path << "\n";
        return;
    }
    BarSeries bars;
    try {
        bars = parseBarRows(head_, chunk, position_.read.line, settings_.path);
    } catch (const BarFileError&) {
        consumeGood(chunk, stop);
        throw;
    }
    consume(chunk, bars, false, &stop);
}

// A chunk with a bad row: the rows before it taken, then its error.
void Follower::consumeGood(std::string_view rows, const StopSignal& stop) {
    std::size_t good = 0;
    std::optional<BarFileError> error;
    eachLine(rows, position_.read.line, [&](std::string_view line, std::uint64_t number, std::size_t begin) {
        try {
            parseBarRows(head_, line, number, settings_.path);
            return true;
        } catch (const BarFileError& e) {
            good = begin;
            error = e;
            return false;
        }
    });
    if (!error) return;
    const std::string_view before = rows.substr(0, good);
    if (!before.empty()) {
        consume(before, parseBarRows(head_, before, position_.read.line, settings_.path), false, &stop);
    }
    throw *error;
}

void Follower::advance(std::string_view bytes) {
    checksum_.feed(bytes);
    position_.read.offset += bytes.size();
    position_.read.line += lines(bytes);
    position_.read.checksum = checksum_.value();
    if (bytes.size() >= kTail) {
        tail_ = std::string(bytes.substr(bytes.size() - kTail));
    } else {
        tail_ = (tail_ + std::string(bytes)).substr(tail_.size() + bytes.size() > kTail ? tail_.size() + bytes.size() - kTail : 0);
    }
}

void Follower::consume(std::string_view rows, const BarSeries& bars, bool allFinished, const StopSignal* stop) {
    const std::uint64_t rowsLine = position_.read.line;
    const bool quiet = quietChunk_;
    quietChunk_ = false;
    if (!bars.stamps.empty() && !stream_) {
        vlm::live::StreamOptions options = settings_.stream;
        options.columns = {!bars.open.empty(), !bars.close.empty(), !bars.volume.empty()};
        stream_.emplace(options);
    }
    times_ = barSeconds(bars);
    seconds_ = seconds_ || bars.stampSeconds;
    std::size_t finished = bars.stamps.size();
    std::size_t formingBegin = rows.size();
    std::uint64_t formingLine = 0;
    if (settings_.forming && !allFinished) {
        if (bars.stamps.empty()) {
            if (forming_) {
                startOver("rewritten");
                return;
            }
        } else {
            // The forming row: the last line that makes a bar.
            finished = bars.stamps.size() - 1;
            std::size_t end = rows.size(), begin = 0;
            while (end > 0) {
                const std::size_t before = end >= 2 ? rows.rfind('\n', end - 2) : std::string_view::npos;
                begin = before == std::string_view::npos ? 0 : before + 1;
                if (!parseBarRows(head_, rows.substr(begin, end - begin), 1, settings_.path).stamps.empty()) break;
                end = begin;
            }
            formingBegin = begin;
            formingLine = rowsLine + lines(rows.substr(0, begin));
            if (forming_ && !(bars.stamps.front() == forming_->date)) {
                startOver("rewritten");
                return;
            }
            if (forming_ && finished == 0 && rows.substr(begin) == forming_->text) return;
        }
    }
    if (quiet) quietThrough_ = pushed_ + finished;
    const FilePlace before = position_.read;
    const Checksum beforeSum = checksum_;
    const std::string beforeTail = tail_;
    advance(rows.substr(0, formingBegin));
    for (std::size_t i = 0; i < finished; ++i) {
        // A stop asked for ends the chunk after the bar under way; the
        // position tells a restart which of its bars were done.
        if (stop != nullptr && stop->raised()) {
            incomplete_ = true;
            return;
        }
        try {
            pushFinished(bars, i, rows, rowsLine);
        } catch (const BarFileError&) {
            // A row the stream refuses: what is kept reads up to it, so that
            // a restart on the mended file takes it and the rows after it.
            position_.read = before;
            checksum_ = beforeSum;
            tail_ = beforeTail;
            advance(rows.substr(0, placeOfRow(head_, rows, rowsLine, i, settings_.path).begin));
            throw;
        }
    }
    if (finished < bars.stamps.size()) {
        pushForming(bars, finished, rows.substr(formingBegin), formingLine, quiet);
    } else if (!allFinished) {
        forming_.reset();
    }
    if (settings_.state && !allFinished) {
        savePosition(true);
        maybeSnapshot(false);
    }
}

vlm::live::LiveBar Follower::barAt(const BarSeries& bars, std::size_t i) {
    vlm::live::LiveBar bar;
    bar.time = static_cast<vlm::levels::Seconds>(times_[i]);
    bar.high = bars.high[i];
    bar.low = bars.low[i];
    if (!bars.open.empty()) bar.open = bars.open[i];
    if (!bars.close.empty()) bar.close = bars.close[i];
    if (!bars.volume.empty()) bar.volume = bars.volume[i];
    return bar;
}

std::string Follower::dateOf(const BarSeries& bars, std::size_t i) const {
    char text[DateStamp::kTextSize];
    return {text, bars.stamps[i].write(text, seconds_)};
}


void Follower::pushFinished(const BarSeries& bars, std::size_t i, std::string_view rows, std::uint64_t rowsLine) {
    vlm::live::BarEvents events;
    try {
        events = stream_->push(barAt(bars, i));
    } catch (const vlm::live::BadBar& e) {
        throw BarFileError(settings_.path + ":" +
                           std::to_string(placeOfRow(head_, rows, rowsLine, i, settings_.path).line) + ": " + e.what());
    }
    const std::uint64_t bar = pushed_++;
    if (position_.formingBar <= bar) {
        position_.formingBar = pushed_;
        position_.formingSent.clear();
    }
    position_.bars = std::max(position_.bars, pushed_);
    if (bar < quietThrough_) return;
    const std::vector<Alert> alerts = alerts_.make(events, bar, dateOf(bars, i), true, stream_->levelRows());
    if (alerts.empty()) return;
    deliver(alerts);
    if (settings_.state) barDone();
}

void Follower::barDone() {
    // A line noting the bars done is enough while the queues are as saved
    // (both empty); a restart then sends nothing of the bars before it.
    constexpr std::uint64_t kNotes = 10000;  // then the file is written anew
    const bool queuesAsSaved = outbox_ == nullptr || (outbox_->empty() && savedPendingEmpty_);
    if (positionSaved_ && queuesAsSaved && notes_ < kNotes) {
        settings_.state->noteBars(position_.bars);
        ++notes_;
    } else {
        savePosition();
    }
}

void Follower::pushForming(const BarSeries& bars, std::size_t i, std::string_view text, std::uint64_t line,
                           bool quiet) {
    vlm::live::BarEvents events;
    try {
        events = stream_->pushForming(barAt(bars, i));
    } catch (const vlm::live::BadBar& e) {
        throw BarFileError(settings_.path + ":" + std::to_string(line) + ": " + e.what());
    }
    forming_ = FormingRow{std::string(text), bars.stamps[i]};
    if (position_.formingBar != pushed_) {
        position_.formingBar = pushed_;
        position_.formingSent.clear();
    }
    std::vector<Alert> fresh;
    for (Alert& a : alerts_.make(events, pushed_, dateOf(bars, i), false, stream_->levelRows())) {
        std::vector<std::string>& sent = position_.formingSent;
        if (std::find(sent.begin(), sent.end(), a.id) != sent.end()) continue;
        sent.push_back(a.id);
        fresh.push_back(std::move(a));
    }
    // The rows there at the start only warm up: their forming alerts count as sent.
    if (quiet || fresh.empty()) return;
    deliver(fresh);
    if (settings_.state) savePosition();
}

void Follower::deliver(const std::vector<Alert>& alerts) {
    std::string lines;
    for (const Alert& a : alerts) lines += a.json + "\n";
    writeOut(lines);
    if (outbox_ == nullptr) return;
    for (const Alert& a : alerts) outbox_->add(a);
    outbox_->send();
}

void Follower::sendQueued() {
    if (outbox_ == nullptr) return;
    outbox_->send();
    // What went out is not sent again after a restart.
    std::size_t pending = 0;
    for (const auto& queue : outbox_->pending()) pending += queue.size();
    if (pending != lastPending_ && settings_.state) savePosition();
    lastPending_ = pending;
}

void Follower::savePosition(bool sync) {
    if (!settings_.state) return;
    position_.pending = outbox_ != nullptr ? outbox_->pending() : std::vector<std::vector<Alert>>{};
    settings_.state->save(position_, sync);
    positionSaved_ = true;
    notes_ = 0;
    savedPendingEmpty_ = true;
    for (const auto& queue : position_.pending) savedPendingEmpty_ = savedPendingEmpty_ && queue.empty();
}

void Follower::maybeSnapshot(bool now) {
    if (!settings_.state || !stream_ || incomplete_) return;
    // A snapshot grows with the history (about 50 bytes a bar; a million bars
    // take a second to save), while replaying a bar from the file at a
    // restart takes microseconds: after the history, it is taken only every
    // kSnapshotBars bars, and then only if its time is small beside the time
    // since the last; and at a clean stop.
    constexpr std::uint64_t kSnapshotBars = 10000;
    const auto start = std::chrono::steady_clock::now();
    if (!now && snapshotTaken_ &&
        (pushed_ - snapshotBars_ < kSnapshotBars || start - snapshotAt_ < 50 * snapshotCost_)) {
        return;
    }
    settings_.state->save(SavedSnapshot{position_.read, pushed_, vlm::live::Snapshot(*stream_)});
    snapshotAt_ = std::chrono::steady_clock::now();
    snapshotCost_ = snapshotAt_ - start;
    snapshotTaken_ = true;
    snapshotBars_ = pushed_;
}

}  // namespace vlmstruct::watch
