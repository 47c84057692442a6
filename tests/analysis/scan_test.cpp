#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "analysis/scan.h"

namespace vlmstruct {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> names(const fs::path& folder, const BarFileList& list) {
    std::vector<std::string> out;
    for (const fs::path& p : list.files) out.push_back(p.lexically_relative(folder).generic_string());
    return out;
}

// The summary being written is left out of a scan whichever way its path is
// given, and so is a link to it; a file of the same name elsewhere is not.
TEST(BarFilesIn, LeaveOutTheExcludedFileHoweverItIsReached) {
    const fs::path folder = fs::temp_directory_path() /
                            ("scan_test_" + std::to_string(::getpid()));
    const fs::path linkedFolder = folder.string() + "_link";
    fs::remove_all(folder);
    fs::remove(linkedFolder);
    fs::create_directories(folder / "sub");
    for (const char* name : {"a.csv", "b.TXT", "summary.csv", "sub/summary.csv", "notes.md"}) {
        std::ofstream(folder / name) << "date,high,low\n2024-01-02,2,1\n";
    }
    fs::create_symlink(folder / "summary.csv", folder / "link.csv");
    fs::create_directory_symlink(folder, linkedFolder);

    struct Case {
        fs::path exclude;
        bool recursive;
        std::vector<std::string> files;
    };
    const Case cases[] = {
        {folder / "summary.csv", false, {"a.csv", "b.TXT"}},
        {folder / "sub" / ".." / "summary.csv", false, {"a.csv", "b.TXT"}},
        {linkedFolder / "summary.csv", false, {"a.csv", "b.TXT"}},
        {folder / "link.csv", false, {"a.csv", "b.TXT"}},
        {folder / "summary.csv", true, {"a.csv", "b.TXT", "sub/summary.csv"}},
        {folder / "sub" / "summary.csv", true, {"a.csv", "b.TXT", "link.csv", "summary.csv"}},
        {folder / "not-there.csv", false, {"a.csv", "b.TXT", "link.csv", "summary.csv"}},
        {{}, false, {"a.csv", "b.TXT", "link.csv", "summary.csv"}},
    };
    for (const Case& c : cases) {
        ScanOptions options;
        options.recursive = c.recursive;
        if (!c.exclude.empty()) options.exclude.push_back(c.exclude);
        const BarFileList list = barFilesIn(folder, options);
        EXPECT_EQ(names(folder, list), c.files) << c.exclude << (c.recursive ? " recursive" : "");
        EXPECT_EQ(list.skippedFolders, c.recursive ? 0u : 1u);
    }

    // A folder or a missing file handed to the reader is named as such.
    for (const auto& [path, message] : {std::pair{folder / "sub", std::string(": a folder, not a bar file")},
                                        std::pair{linkedFolder, std::string(": a folder, not a bar file")},
                                        std::pair{folder / "missing.csv", std::string(": cannot open the file")}}) {
        try {
            readBarFile(path);
            ADD_FAILURE() << path;
        } catch (const BarFileError& e) {
            EXPECT_EQ(std::string(e.what()), path.string() + message);
        }
    }
    fs::remove(linkedFolder);
    fs::remove_all(folder);
}

}  // namespace
}  // namespace vlmstruct
