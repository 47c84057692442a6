// Reading a bar file: the file opened, its encoding told, and its text handed
// to the reader (bar_reader.h) in blocks or whole.
#include "barfile/bar_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>

#include "barfile/bar_reader.h"
#include "barfile/text_encoding.h"
#include "barfile/text_window.h"

namespace vlmstruct {

void BarSeries::appendDate(std::string& out, std::size_t bar) const {
    if (!dates.empty()) {
        out += dates[bar];
    } else if (!stamps.empty()) {
        const DateTime d = stamps[bar].dateTime();
        appendDateText(out, d, stampSeconds);
    }
}

std::string BarSeries::date(std::size_t bar) const {
    if (!dates.empty()) return dates[bar];
    std::string out;
    appendDate(out, bar);
    return out;
}

namespace {

using reading::NotUtf8;
using reading::Reader;
using reading::TextWindow;

BarSeries parseDecoded(const DecodedText& decoded, const std::string& name, ReadReport* report,
                       const ReadOptions& options) {
    ReadReport mine;
    mine.encoding = decoded.encoding;
    TextWindow window(decoded.utf8);
    BarSeries bars = Reader(name, options).read(window, mine);
    if (report != nullptr) *report = mine;
    return bars;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    [[nodiscard]] int get() const { return fd_; }

private:
    int fd_;
};

// Text known to be UTF-8 (without its byte-order mark), in memory. NUL
// characters are refused before anything else.
BarSeries readUtf8(std::string_view text, const Utf8Check& check, const std::string& name, ReadReport* report,
                   const ReadOptions& options) {
    if (check.firstNul() != std::string_view::npos) refuseNul(name, check.firstNul(), "UTF-8");
    ReadReport mine;
    mine.encoding = "UTF-8";
    TextWindow whole(text);
    BarSeries bars = Reader(name, options).read(whole, mine);
    if (report != nullptr) *report = mine;
    return bars;
}

// A regular file longer than a block, if it is UTF-8 (after a mark of
// `mark` bytes), read in blocks and checked as it is parsed; what was read
// stands only if the whole file is UTF-8, where a NUL comes before any other
// complaint. nullopt when it is not UTF-8.
std::optional<BarSeries> readUtf8Blocks(int fd, std::size_t mark, std::size_t block, std::size_t size,
                                        const std::string& name, ReadReport* report, const ReadOptions& options) {
    Utf8Check check;
    try {
        TextWindow window(fd, static_cast<off_t>(mark), block, size, name, &check);
        ReadReport mine;
        mine.encoding = "UTF-8";
        std::optional<BarSeries> bars;
        std::optional<BarFileError> failure;
        try {
            bars = Reader(name, options).read(window, mine);
        } catch (const BarFileError& e) {
            failure = e;
        }
        window.checkRest();
        if (check.valid()) {
            if (check.firstNul() != std::string_view::npos) refuseNul(name, check.firstNul(), "UTF-8");
            if (failure) throw *failure;
            if (report != nullptr) *report = mine;
            return bars;
        }
    } catch (const NotUtf8&) {
        // Decoded whole by the caller.
    }
    return std::nullopt;
}

// A regular file read without decoding it whole where it is UTF-8; nullopt
// when it must be decoded whole.
std::optional<BarSeries> readRegularFile(int fd, std::size_t size, std::size_t block, const std::string& name,
                                         ReadReport* report, const ReadOptions& options) {
    // A file that fits in one block is read once and parsed where it
    // lies (one byte more than its size, to see its end in one read).
    TextWindow first(fd, 0, std::min(block, size + 1), size, name);
    // The first bytes tell the encoding; the window holds them unless
    // its blocks are smaller.
    char head[3] = {0, 0, 0};
    std::string_view start = first.text().substr(0, sizeof head);
    if (start.size() < sizeof head && !first.last()) {
        const ssize_t got = ::pread(fd, head, sizeof head, 0);
        start = std::string_view(head, got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    const bool utf16 = start.substr(0, 2) == "\xFF\xFE" || start.substr(0, 2) == "\xFE\xFF";
    const std::size_t mark = start == "\xEF\xBB\xBF" ? 3 : 0;
    if (first.last()) {
        Utf8Check check;
        check.feed(first.text().substr(mark));
        if (!utf16 && check.valid()) return readUtf8(first.text().substr(mark), check, name, report, options);
        return parseBarText(std::string(first.text()), name, report, options);
    }
    // Longer UTF-8, by far the most common, is read in blocks; whatever
    // needs converting is decoded whole.
    if (!utf16) return readUtf8Blocks(fd, mark, block, size, name, report, options);
    return std::nullopt;
}

// Every byte of the file, in blocks of `block` bytes.
std::string readBytes(int fd, bool regular, std::size_t block, const std::string& name) {
    std::string bytes;
    if (regular) {
        TextWindow::readAll(fd, 0, block, name, [&](std::string_view piece) { bytes.append(piece); });
        return bytes;
    }
    const auto buffer = std::make_unique_for_overwrite<char[]>(block);
    while (true) {
        const ssize_t got = ::read(fd, buffer.get(), block);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw BarFileError(name + ": cannot read the file");
        }
        if (got == 0) break;
        bytes.append(buffer.get(), static_cast<std::size_t>(got));
    }
    return bytes;
}

}  // namespace

BarSeries parseBarText(std::string bytes, const std::string& name, ReadReport* report, const ReadOptions& options) {
    return parseDecoded(decodeText(std::move(bytes), name), name, report, options);
}

BarSeries parseBarRows(std::string_view head, std::string_view rows, std::size_t firstLine, const std::string& name,
                       const ReadOptions& options, ReadReport* report) {
    std::string_view& start = head.empty() ? rows : head;
    if (start.substr(0, 3) == "\xEF\xBB\xBF") start.remove_prefix(3);
    if (head.empty()) firstLine = 1;
    Utf8Check check;
    check.feed(rows);
    if (!check.valid()) {
        const std::string_view before = rows.substr(0, std::min(check.brokenAt(), rows.size()));
        const auto line = firstLine + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
        throw BarFileError(name + ":" + std::to_string(line) +
                           ": not UTF-8 text (rows read as they are appended must be UTF-8)");
    }
    if (check.firstNul() != std::string_view::npos) refuseNul(name, head.size() + check.firstNul(), "UTF-8");
    std::string text;
    text.reserve(head.size() + rows.size());
    text.append(head).append(rows);
    ReadOptions packed = options;
    packed.packedDates = true;
    ReadReport mine;
    mine.encoding = "UTF-8";
    TextWindow window(text);
    BarSeries bars = Reader(name, packed, head.empty() ? 0 : firstLine).read(window, mine);
    if (report != nullptr) *report = mine;
    return bars;
}

BarSeries readBarFile(const std::filesystem::path& path, ReadReport* report, const ReadOptions& options) {
    const std::string name = path.string();
    const auto folder = [&] { return BarFileError(name + ": a folder, not a bar file"); };
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec)) throw folder();
        throw BarFileError(name + ": cannot open the file");
    }
    const std::size_t block = std::max<std::size_t>(options.blockBytes, 1);
    struct stat info {};
    const bool known = ::fstat(file.get(), &info) == 0;
    if (known && S_ISDIR(info.st_mode)) throw folder();
    const bool regular = known && S_ISREG(info.st_mode);
    if (regular) {
        const auto size = static_cast<std::size_t>(std::max<off_t>(info.st_size, 0));
        if (auto bars = readRegularFile(file.get(), size, block, name, report, options)) return std::move(*bars);
    }
    return parseBarText(readBytes(file.get(), regular, block, name), name, report, options);
}

}  // namespace vlmstruct
