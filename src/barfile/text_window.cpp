#include "barfile/text_window.h"

#include <algorithm>
#include <cstring>

namespace vlmstruct::reading {

TextWindow::TextWindow(int fd, off_t from, std::size_t block, std::size_t expected, const std::string& name,
                       Utf8Check* check)
    : fd_(fd), offset_(from), expected_(expected), name_(&name), capacity_(std::max<std::size_t>(block, 1)),
      buffer_(std::make_unique_for_overwrite<char[]>(capacity_)), check_(check) {
    fill();
}

void TextWindow::checkRest() {
    if (last_ || check_ == nullptr) return;
    readAll(fd_, offset_, capacity_, *name_, [&](std::string_view piece) {
        check_->feed(piece);
        if (check_->broken()) throw NotUtf8{};
    });
    last_ = true;
}

void TextWindow::advance(std::size_t from) {
    if (last_) return;
    dropped_ += from;
    const std::size_t keep = size_ - from;
    std::memmove(buffer_.get(), buffer_.get() + from, keep);
    size_ = keep;
    if (keep > capacity_ / 2) {
        auto bigger = std::make_unique_for_overwrite<char[]>(2 * capacity_);
        std::memcpy(bigger.get(), buffer_.get(), keep);
        buffer_ = std::move(bigger);
        capacity_ *= 2;
    }
    fill();
}

void TextWindow::fill() {
    while (size_ < capacity_) {
        const ssize_t got = ::pread(fd_, buffer_.get() + size_, capacity_ - size_, offset_);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw BarFileError(*name_ + ": cannot read the file");
        }
        if (got == 0) {
            last_ = true;
            break;
        }
        if (check_ != nullptr) {
            check_->feed(std::string_view(buffer_.get() + size_, static_cast<std::size_t>(got)));
            if (check_->broken()) throw NotUtf8{};
        }
        size_ += static_cast<std::size_t>(got);
        offset_ += got;
    }
    view_ = std::string_view(buffer_.get(), size_);
}

}  // namespace vlmstruct::reading
