#include "watch/state_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "barfile/usage_error.h"
#include "watch/checksum.h"

namespace vlmstruct::watch {

namespace {

constexpr std::string_view kPositionMagic = "vlmstruct watch state 1\n";
constexpr std::string_view kSnapshotMagic = "vlmstruct watch snapshot 1\n";

std::string hex(std::uint64_t v) {
    char text[17];
    const auto end = std::to_chars(text, text + sizeof text, v, 16).ptr;
    return {text, end};
}

std::string sumOf(std::string_view bytes) {
    Checksum sum;
    sum.feed(bytes);
    return hex(sum.value());
}

std::string readWhole(const std::string& path, bool& exists) {
    std::ifstream in(path, std::ios::binary);
    exists = static_cast<bool>(in);
    if (!exists) return {};
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw std::runtime_error(path + ": cannot read the state");
    return std::move(text).str();
}

// Reads the lines of a state file, each checked as it is taken.
class Lines {
public:
    Lines(std::string_view text, const std::string& path) : rest_(text), path_(path) {}

    std::string_view next() {
        const std::size_t end = rest_.find('\n');
        if (end == std::string_view::npos) bad();
        const std::string_view line = rest_.substr(0, end);
        rest_.remove_prefix(end + 1);
        return line;
    }
    // "key value": the value.
    std::string_view field(std::string_view key) {
        const std::string_view line = next();
        if (line.substr(0, key.size()) != key || line.size() <= key.size() || line[key.size()] != ' ') bad();
        return line.substr(key.size() + 1);
    }
    std::uint64_t number(std::string_view key, int base = 10) {
        const std::string_view text = field(key);
        std::uint64_t v = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
        if (ec != std::errc() || end != text.data() + text.size()) bad();
        return v;
    }
    [[noreturn]] void bad() const { throw std::runtime_error(path_ + ": not a state file of vlmstruct watch, or damaged"); }

private:
    std::string_view rest_;
    const std::string& path_;
};

void putPlace(std::string& out, const FilePlace& p) {
    out += "offset " + std::to_string(p.offset) + "\nline " + std::to_string(p.line) + "\nchecksum " +
           hex(p.checksum) + "\n";
}

FilePlace takePlace(Lines& in) {
    FilePlace p;
    p.offset = in.number("offset");
    p.line = in.number("line");
    p.checksum = in.number("checksum", 16);
    return p;
}

}  // namespace

void WriteAtomically(const std::string& path, std::string_view bytes, bool sync) {
    const std::string temporary = path + ".tmp";
    const auto fail = [&](const char* what) {
        const std::string message = path + ": cannot " + what + " the state (" + std::strerror(errno) + ")";
        ::unlink(temporary.c_str());
        throw std::runtime_error(message);
    };
    // The owner's alone: a state holds the webhook's URL and the command.
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) fail("write");
    if (::fchmod(fd, 0600) != 0) {  // a temporary file left by a kill keeps its mode
        ::close(fd);
        fail("write");
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            fail("write");
        }
        done += static_cast<std::size_t>(n);
    }
    if (sync && ::fsync(fd) != 0) {
        ::close(fd);
        fail("sync");
    }
    if (::close(fd) != 0) fail("write");
    if (::rename(temporary.c_str(), path.c_str()) != 0) fail("replace");
    if (!sync) return;
    // The rename itself lasts only once the folder is on disk.
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty()) folder = ".";
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

StateFiles::StateFiles(std::string path, OptionList options)
    : path_(std::move(path)), snapshotPath_(path_ + ".snapshot"), options_(std::move(options)) {}

std::optional<Position> StateFiles::loadPosition() const {
    bool exists = false;
    const std::string text = readWhole(path_, exists);
    if (!exists) return std::nullopt;
    // The last line is the checksum of all before it.
    const std::size_t last = text.rfind("\nend ");
    const std::size_t endLine = last == std::string::npos ? last : text.find('\n', last + 1);
    Lines whole(text, path_);
    if (text.substr(0, kPositionMagic.size()) != kPositionMagic || endLine == std::string::npos ||
        text.substr(last + 5, endLine - last - 5) != sumOf(std::string_view(text).substr(0, last + 1))) {
        whole.bad();
    }
    Lines in(std::string_view(text).substr(kPositionMagic.size(), last + 1 - kPositionMagic.size()), path_);
    for (const auto& [name, value] : options_) {
        const std::string_view line = in.field("option");
        const std::string_view saved = line.substr(0, line.find(' '));
        const std::string_view savedValue = saved.size() < line.size() ? line.substr(saved.size() + 1) : "";
        if (saved != name) in.bad();
        if (savedValue != value) {
            throw UsageError(path_ + " is the state of a watch with other options (" + name + " '" +
                             std::string(savedValue) + "', now '" + value +
                             "'): give those options again, or another --state file");
        }
    }
    Position p;
    p.read = takePlace(in);
    p.headEnd = in.number("head");
    p.bars = in.number("bars");
    p.formingBar = in.number("forming-bar");
    const std::uint64_t sent = in.number("forming-sent");
    for (std::uint64_t k = 0; k < sent; ++k) p.formingSent.emplace_back(in.next());
    const std::uint64_t queues = in.number("queues");
    for (std::uint64_t q = 0; q < queues; ++q) {
        const std::uint64_t n = in.number("queue");
        std::vector<Alert>& queue = p.pending.emplace_back();
        for (std::uint64_t k = 0; k < n; ++k) {
            Alert a;
            a.id = std::string(in.next());
            a.json = std::string(in.next());
            queue.push_back(std::move(a));
        }
    }
    // Then the bars noted since, each line checked on its own: a line cut
    // short (a power loss while it was written) ends them.
    for (std::string_view rest = std::string_view(text).substr(endLine + 1); !rest.empty();) {
        const std::size_t end = rest.find('\n');
        if (end == std::string_view::npos) break;
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        const std::size_t space = line.rfind(' ');
        std::uint64_t bars = 0;
        const auto [numberEnd, ec] = std::from_chars(line.data() + 5, line.data() + line.size(), bars);
        if (line.substr(0, 5) != "bars " || space == std::string_view::npos || ec != std::errc() ||
            numberEnd != line.data() + space || line.substr(space + 1) != sumOf(line.substr(0, space))) {
            break;
        }
        if (bars > p.bars) p.bars = bars;
        if (p.formingBar < bars) {
            p.formingBar = bars;
            p.formingSent.clear();
        }
    }
    return p;
}

void StateFiles::noteBars(std::uint64_t bars) const {
    std::string line = "bars " + std::to_string(bars);
    line += " " + sumOf(line) + "\n";
    const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error(path_ + ": cannot write the state (" + std::strerror(errno) + ")");
    std::string_view rest = line;
    while (!rest.empty()) {
        const ssize_t n = ::write(fd, rest.data(), rest.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const std::string message = path_ + ": cannot write the state (" + std::strerror(errno) + ")";
            ::close(fd);
            throw std::runtime_error(message);
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
    if (::close(fd) != 0) throw std::runtime_error(path_ + ": cannot write the state (" + std::strerror(errno) + ")");
}

void StateFiles::save(const Position& p, bool sync) const {
    std::string out(kPositionMagic);
    for (const auto& [name, value] : options_) out += "option " + name + " " + value + "\n";
    putPlace(out, p.read);
    out += "head " + std::to_string(p.headEnd) + "\nbars " + std::to_string(p.bars) + "\nforming-bar " +
           std::to_string(p.formingBar) + "\nforming-sent " + std::to_string(p.formingSent.size()) + "\n";
    for (const std::string& id : p.formingSent) out += id + "\n";
    out += "queues " + std::to_string(p.pending.size()) + "\n";
    for (const std::vector<Alert>& queue : p.pending) {
        out += "queue " + std::to_string(queue.size()) + "\n";
        // An alert's JSON is one line: its strings escape line breaks.
        for (const Alert& a : queue) out += a.id + "\n" + a.json + "\n";
    }
    out += "end " + sumOf(out) + "\n";
    WriteAtomically(path_, out, sync);
}

std::optional<SavedSnapshot> StateFiles::loadSnapshot() const {
    bool exists = false;
    std::string text;
    try {
        text = readWhole(snapshotPath_, exists);
        if (!exists) return std::nullopt;
        if (text.substr(0, kSnapshotMagic.size()) != kSnapshotMagic) Lines(text, snapshotPath_).bad();
        std::string_view rest = std::string_view(text).substr(kSnapshotMagic.size());
        // Four lines of place and bars, then the snapshot's bytes.
        std::size_t end = 0;
        for (int k = 0; k < 4; ++k) {
            end = rest.find('\n', end);
            if (end == std::string_view::npos) Lines(text, snapshotPath_).bad();
            ++end;
        }
        Lines in(rest.substr(0, end), snapshotPath_);
        SavedSnapshot s;
        s.read = takePlace(in);
        s.bars = in.number("bars");
        const std::string_view bytes = rest.substr(end);
        s.bytes.resize(bytes.size());
        std::memcpy(s.bytes.data(), bytes.data(), bytes.size());
        return s;
    } catch (const std::runtime_error& e) {
        std::cerr << "vlmstruct: " << e.what() << ": the bars are replayed from the file instead\n";
        return std::nullopt;
    }
}

void StateFiles::save(const SavedSnapshot& s) const {
    std::string out(kSnapshotMagic);
    putPlace(out, s.read);
    out += "bars " + std::to_string(s.bars) + "\n";
    out.append(reinterpret_cast<const char*>(s.bytes.data()), s.bytes.size());
    WriteAtomically(snapshotPath_, out);
}

}  // namespace vlmstruct::watch
