#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "settings/profile_file.h"
#include "settings/profile_scenarios.h"

namespace {

TEST(Settings, ScenariosGiveTheSameAnswersAsTheSystem) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("vlm-settings-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const auto outcomes = vlm::testing::runProfileScenarios(folder.wstring() + L"/");
    for (const auto& o : outcomes) {
        EXPECT_EQ(o.expected, o.actual) << o.name;
    }
    EXPECT_GT(outcomes.size(), 30u);
    std::filesystem::remove_all(folder);
}

#ifndef _WIN32
std::string fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Damaged or foreign bytes in a profile file: a write keeps every other line as
// it was, byte for byte, and the written value reads back from its section.
TEST(Settings, StrayBytesSurviveAWrite) {
    struct Case {
        const char* name;
        std::string line;  // put between "[Main]" and "[Other]"
    };
    const Case cases[] = {
        {"a continuation byte that a lenient reading turns into a line break", "v\xA0J[x]"},
        {"an overlong line break", "a=\xC0\x8A[Other]"},
        {"an overlong closing bracket", "\xC1\x9D=1"},
        {"a lone continuation byte at the line's end", "k=\x8B"},
        {"a sequence cut short", "k2=\xE2\x82"},
        {"an encoded surrogate", "k3=\xED\xA0\x80"},
        {"bytes that never start a sequence", "\xF5\xFF\xFE=2"},
        {"NUL bytes", std::string("k4=a\0b", 6)},
    };
    const auto folder = std::filesystem::temp_directory_path() / ("vlm-stray-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::filesystem::path path = folder / "stray.ini";
    for (const Case& c : cases) {
        const std::string before = "[Main]\r\n" + c.line + "\r\n[Other]\r\nx=1\r\n";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << before;
        ASSERT_TRUE(vlm::profile::WriteString(L"Main", L"added", L"value 42", path.wstring().c_str())) << c.name;
        wchar_t back[32] = {};
        vlm::profile::GetString(L"Main", L"added", L"", back, 32, path.wstring().c_str());
        EXPECT_STREQ(L"value 42", back) << c.name;
        EXPECT_EQ(1, vlm::profile::GetInt(L"Other", L"x", 0, path.wstring().c_str())) << c.name;
        EXPECT_EQ("[Main]\r\n" + c.line + "\r\nadded=value 42\r\n[Other]\r\nx=1\r\n", fileBytes(path)) << c.name;
    }
    std::filesystem::remove_all(folder);
}

// At the edges of well-formed UTF-8: the shortest forms of real code points
// are characters; anything else is kept byte for byte (each stray byte b is
// held as the code point 0xDC00 + b).
TEST(Settings, Utf8IsDecodedOnlyWhereWellFormed) {
    struct Case {
        const char* name;
        std::string bytes;
        std::wstring read;  // empty: every byte kept as it is
    };
    const Case cases[] = {
        {"the last two-byte form", "\xDF\xBF", L"\u07FF"},
        {"an overlong two-byte form", "\xC1\xBF", L""},
        {"the first three-byte form", "\xE0\xA0\x80", L"\u0800"},
        {"an overlong three-byte form", "\xE0\x9F\xBF", L""},
        {"the last code point before the surrogates", "\xED\x9F\xBF", L"\uD7FF"},
        {"the last surrogate", "\xED\xBF\xBF", L""},
        {"the first code point after the surrogates", "\xEE\x80\x80", L"\uE000"},
        {"the first four-byte form", "\xF0\x90\x80\x80", L"\U00010000"},
        {"the last code point", "\xF4\x8F\xBF\xBF", L"\U0010FFFF"},
        {"past the last code point", "\xF4\x90\x80\x80", L""},
    };
    const auto folder = std::filesystem::temp_directory_path() / ("vlm-edges-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::filesystem::path path = folder / "edges.ini";
    for (const Case& c : cases) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << "[Main]\nk=" << c.bytes << "\n";
        std::wstring expected = c.read;
        if (expected.empty()) {
            for (unsigned char b : c.bytes) expected += static_cast<wchar_t>(0xDC00 + b);
        }
        wchar_t back[16] = {};
        vlm::profile::GetString(L"Main", L"k", L"", back, 16, path.wstring().c_str());
        EXPECT_EQ(expected, std::wstring(back)) << c.name;
    }
    std::filesystem::remove_all(folder);
}

TEST(Settings, WellFormedUtf8ReadsAsItsCharacters) {
    const auto folder = std::filesystem::temp_directory_path() / ("vlm-utf8-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::filesystem::path path = folder / "utf8.ini";
    // two-, three- and four-byte forms: e with acute, the euro sign, G clef
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "[Main]\nname=\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E\n";
    wchar_t back[8] = {};
    EXPECT_EQ(3u, vlm::profile::GetString(L"Main", L"name", L"", back, 8, path.wstring().c_str()));
    EXPECT_STREQ(L"\u00E9\u20AC\U0001D11E", back);
    std::filesystem::remove_all(folder);
}
#endif

}  // namespace
