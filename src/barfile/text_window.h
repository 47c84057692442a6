#pragma once
// The text a bar-file reader works on: all of it at once, or a regular file
// read in blocks that keeps what the reader has not finished with. Internal
// to the bar-file reader.

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "barfile/bar_file_error.h"
#include "barfile/text_encoding.h"

namespace vlmstruct::reading {

// Thrown by a window whose check finds the file is not UTF-8: what is read
// from it then counts for nothing.
struct NotUtf8 {};

class TextWindow {
public:
    explicit TextWindow(std::string_view all) : view_(all), last_(true), expected_(all.size()) {}
    // Every byte read from fd is also fed to `check`, when given, once and in
    // order; NotUtf8 is thrown as soon as it fails.
    TextWindow(int fd, off_t from, std::size_t block, std::size_t expected, const std::string& name,
               Utf8Check* check = nullptr);

    // Feeds the check what is left of the input, for a reader that stopped early.
    void checkRest();

    [[nodiscard]] std::string_view text() const { return view_; }
    // The text runs to the end of the input.
    [[nodiscard]] bool last() const { return last_; }
    // How far into the input the text starts, and how long the input is
    // (as far as is known before reading it all).
    [[nodiscard]] std::size_t offset() const { return dropped_; }
    [[nodiscard]] std::size_t expectedSize() const { return expected_; }

    // Drops the text before `from` and reads on; the window may grow, so
    // that a record longer than a block still fits.
    void advance(std::size_t from);

    // Reads fd from `offset` to its end in blocks of `size` bytes, handing each to `take`.
    template <typename Take>
    static void readAll(int fd, off_t offset, std::size_t size, const std::string& name, Take take) {
        const auto buffer = std::make_unique_for_overwrite<char[]>(size);
        while (true) {
            const ssize_t got = ::pread(fd, buffer.get(), size, offset);
            if (got < 0) {
                if (errno == EINTR) continue;
                throw BarFileError(name + ": cannot read the file");
            }
            if (got == 0) return;
            take(std::string_view(buffer.get(), static_cast<std::size_t>(got)));
            offset += got;
        }
    }

private:
    void fill();

    std::string_view view_;
    bool last_ = false;
    int fd_ = -1;
    off_t offset_ = 0;
    std::size_t dropped_ = 0, expected_ = 0;
    const std::string* name_ = nullptr;
    std::size_t capacity_ = 0;
    std::unique_ptr<char[]> buffer_;
    std::size_t size_ = 0;
    Utf8Check* check_ = nullptr;
};

}  // namespace vlmstruct::reading
