#include "barfile/output_files.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <random>
#include <utility>

namespace vlmstruct {

namespace {

namespace fs = std::filesystem;

fs::path comparable(const fs::path& p) {
    std::error_code ec;
    const fs::path c = fs::weakly_canonical(fs::absolute(p), ec);
    return ec ? fs::absolute(p) : c;
}


}  // namespace

void checkOutputPaths(const std::vector<std::pair<std::string, std::string>>& outputs,
                      const std::vector<fs::path>& inputs) {
    std::vector<std::pair<std::string, fs::path>> seen;
    std::string toStandardOutput;
    for (const auto& [option, path] : outputs) {
        if (path.empty()) continue;
        if (isStandardOutput(path)) {
            if (!toStandardOutput.empty()) {
                throw UsageError(toStandardOutput + " and " + option +
                                 " cannot both go to standard output ('-')");
            }
            toStandardOutput = option;
            continue;
        }
        const fs::path where = comparable(path);
        for (const auto& [other, otherPath] : seen) {
            if (otherPath == where) throw UsageError(other + " and " + option + " name the same file: " + path);
        }
        for (const fs::path& input : inputs) {
            std::error_code ec;
            if (where == comparable(input) || fs::equivalent(path, input, ec)) {
                throw UsageError(option + " " + path + " would overwrite the input " + input.string());
            }
        }
        seen.emplace_back(option, where);
    }
}

OutputFiles::~OutputFiles() { removeTemporaries(); }

void OutputFiles::removeTemporaries() noexcept {
    for (Pending& p : pending_) {
        if (p.file != nullptr) {
            std::fclose(p.file);
            p.file = nullptr;
        }
        if (p.temp.empty()) continue;
        std::error_code ignored;
        fs::remove(p.temp, ignored);
        p.temp.clear();
    }
}

void OutputFiles::add(std::string path, std::string content) {
    open(std::move(path)).putBlock(content);
}

// Kept aside in a file of its own, so that standard output (or a device)
// gets it only once every file is written, without holding it in memory.
// In memory where no temporary file can be made.
TextSink& OutputFiles::keepAside(fs::path through) {
    Pending p;
    p.through = std::move(through);
    const std::string name = p.through.empty() ? "standard output" : p.through.string();
    p.file = std::tmpfile();
    if (p.file != nullptr) {
        p.sink = std::make_unique<TextSink>(p.file, name);
    } else {
        p.held = std::make_unique<std::string>();
        p.sink = std::make_unique<TextSink>(*p.held);
    }
    pending_.push_back(std::move(p));
    return *pending_.back().sink;
}

TextSink& OutputFiles::open(std::string path) {
    if (isStandardOutput(path)) {
        for (Pending& p : pending_) {
            if (p.path.empty() && p.through.empty()) return *p.sink;
        }
        return keepAside({});
    }
    {
        // Renaming a file over /dev/null (as root) would replace the device.
        std::error_code ec;
        const fs::file_status status = fs::status(path, ec);
        if (!ec && fs::exists(status) && !fs::is_regular_file(status) && !fs::is_directory(status)) {
            return keepAside(path);
        }
    }
    Pending p;
    p.path = fs::path(path);
    const fs::path folder = p.path.has_parent_path() ? p.path.parent_path() : fs::path(".");
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        throw std::runtime_error(p.path.string() + ": the folder " + folder.string() +
                                 (fs::exists(folder, ec) ? " is not a folder" : " does not exist"));
    }
    if (fs::is_directory(p.path, ec)) throw std::runtime_error(p.path.string() + ": is a folder");
    // Hidden, and with no bar-file extension, so that a scan never reads it.
    std::random_device random;
    p.temp = folder / ("." + p.path.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" +
                       std::to_string(random()));
    p.file = std::fopen(p.temp.c_str(), "wbx");
    if (p.file == nullptr) {
        const int error = errno;
        throw std::runtime_error(p.path.string() + ": cannot write the file: " + std::strerror(error));
    }
    p.sink = std::make_unique<TextSink>(p.file, p.path.string());
    pending_.push_back(std::move(p));
    return *pending_.back().sink;
}

void OutputFiles::commit() {
    Pending* standard = nullptr;
    try {
        for (Pending& p : pending_) {
            p.sink->flush();
            if (p.path.empty()) {
                if (p.through.empty()) standard = &p;
                continue;
            }
            std::FILE* file = std::exchange(p.file, nullptr);
            if (std::fclose(file) != 0) {
                throw std::runtime_error(p.path.string() + ": cannot write the file: " + std::strerror(errno));
            }
        }
    } catch (...) {
        removeTemporaries();
        throw;
    }
    std::string replaced;  // the files renamed so far
    for (Pending& p : pending_) {
        if (p.path.empty()) continue;
        std::error_code ec;
        fs::rename(p.temp, p.path, ec);
        if (ec) {
            removeTemporaries();
            throw std::runtime_error(p.path.string() + ": cannot replace the file: " + ec.message() +
                                     (replaced.empty() ? "" : " (already replaced:" + replaced + ")"));
        }
        p.temp.clear();
        replaced += " " + p.path.string();
    }
    // Devices and pipes, then standard output, cannot be taken back: they
    // get their parts only now that every file is in place.
    for (Pending& p : pending_) {
        if (p.through.empty()) continue;
        std::FILE* out = std::fopen(p.through.c_str(), "wb");
        bool kept = out != nullptr;
        if (kept && p.held) {
            kept = std::fwrite(p.held->data(), 1, p.held->size(), out) == p.held->size();
        } else if (kept) {
            std::rewind(p.file);
            std::vector<char> block(std::size_t{1} << 20);
            std::size_t got = 0;
            while (kept && (got = std::fread(block.data(), 1, block.size(), p.file)) > 0) {
                kept = std::fwrite(block.data(), 1, got, out) == got;
            }
            kept = kept && std::ferror(p.file) == 0;
        }
        if (out != nullptr && std::fclose(out) != 0) kept = false;
        if (!kept) {
            throw std::runtime_error(p.through.string() + ": cannot write: " + std::strerror(errno) +
                                     (replaced.empty() ? std::string() : " (written:" + replaced + ")"));
        }
    }
    if (standard == nullptr) return;
    const std::string failure =
        "cannot write to standard output" + (replaced.empty() ? std::string() : " (written:" + replaced + ")");
    if (standard->held) {
        std::cout << *standard->held;
        std::cout.flush();
        if (!std::cout) throw std::runtime_error(failure);
        return;
    }
    std::rewind(standard->file);
    std::vector<char> block(std::size_t{1} << 20);
    std::size_t got = 0;
    while ((got = std::fread(block.data(), 1, block.size(), standard->file)) > 0) {
        std::cout.write(block.data(), static_cast<std::streamsize>(got));
    }
    const bool kept = std::ferror(standard->file) == 0;
    std::fclose(std::exchange(standard->file, nullptr));
    std::cout.flush();
    if (!std::cout || !kept) throw std::runtime_error(failure);
}

void writeFileAtomically(const fs::path& path, const std::string& content) {
    OutputFiles files;
    files.add(path.string(), content);
    files.commit();
}
}  // namespace vlmstruct
