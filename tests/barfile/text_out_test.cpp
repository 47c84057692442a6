#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "barfile/float_text.h"
#include "barfile/output_files.h"
#include "faces/replay_text.h"

namespace vlmstruct {
namespace {

// The text floats were always written with: to_chars' shortest form, with
// nan and inf spelled out. The fast path for short decimals must match it.
std::string shortestText(float v) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    return ec == std::errc() ? std::string(buffer, end) : "nan";
}

float fromBits(std::uint32_t bits) {
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

std::uint32_t bitsOf(float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

// Every float written as text reads back as the same float, and the text is
// the one to_chars gives: prices of every cent and ten-thousandth, all the
// floats of some ranges, random bit patterns and the awkward values.
TEST(FloatText, ShortestAndReadsBack) {
    std::vector<float> values = {0.0f, -0.0f, 1e-7f, -1e-7f, 1e-45f, 1.4e-45f, 1e-40f,
                                 std::numeric_limits<float>::min(), std::numeric_limits<float>::max(),
                                 std::numeric_limits<float>::lowest(), std::numeric_limits<float>::denorm_min(),
                                 16777216.0f, 16777217.0f, 999999.94f, 1e6f, 100000.0f, 10000.0f, 1000.0f,
                                 0.0001f, 0.001f, 0.01f, 123456.7f, 0.1f, 1.0f / 3, 2.5e3f, 1e38f, 65536.0f,
                                 131072.0f, 8192.0f, 512.0f, 1024.0f, 0.05f, 9.999999f, 99999.99f};
    for (int k = 0; k <= 12000000; k += k < 2000000 ? 1 : 7) values.push_back(static_cast<float>(k) / 100.0f);
    for (int k = 0; k <= 200000; ++k) values.push_back(static_cast<float>(k) / 10000.0f);
    for (int k = 0; k <= 200000; ++k) values.push_back(static_cast<float>(k * 0.001));
    // Whole binades about the boundaries where the fast path gives way.
    for (const float start : {0.00099f, 1.0f, 511.0f, 1023.0f, 8191.0f, 65535.0f, 99990.0f}) {
        float v = start;
        for (int k = 0; k < 300000; ++k, v = std::nextafter(v, 2e6f)) values.push_back(v);
    }
    std::mt19937 random(7);
    for (int k = 0; k < 1000000; ++k) values.push_back(fromBits(static_cast<std::uint32_t>(random())));
    std::size_t checked = 0;
    for (const float v : values) {
        for (const float x : {v, -v}) {
            const std::string text = formatFloat(x);
            ASSERT_EQ(text, shortestText(x)) << "bits " << bitsOf(x);
            if (!std::isfinite(x)) continue;
            float back = 0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), back);
            ASSERT_TRUE(ec == std::errc() && end == text.data() + text.size()) << text;
            ASSERT_EQ(bitsOf(back), bitsOf(x)) << text;
            ++checked;
        }
    }
    EXPECT_GT(checked, 7000000u);
}

// What each put writes, spelled out: JSON strings escaped ('<' too, so that
// no script element closes), floats in their shortest form with nan and inf
// spelled out, JSON numbers null where not finite; the same text whether it
// stays in the buffer or is handed on in pieces.
TEST(TextSink, WritesTheTextOfEachPut) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        std::function<void(TextSink&)> put;
        std::string_view text;
    } puts[] = {
        {[](TextSink& s) { s.putJsonString(""); }, R"("")"},
        {[](TextSink& s) { s.putJsonString("plain"); }, R"("plain")"},
        {[](TextSink& s) { s.putJsonString("quote \" and \\ back"); }, R"("quote \" and \\ back")"},
        {[](TextSink& s) { s.putJsonString("line\nbreak\r\ttab"); }, R"("line\nbreak\r\ttab")"},
        {[](TextSink& s) { s.putJsonString("</script>"); }, R"("\u003c/script>")"},
        {[](TextSink& s) { s.putJsonString(std::string("\x01\x1f\x7f", 3)); }, "\"\\u0001\\u001f\x7f\""},
        {[](TextSink& s) { s.putJsonString("日期"); }, "\"日期\""},
        {[](TextSink& s) { s.putFloat(0.0f), s.putJsonNumber(0.0f); }, "00"},
        {[](TextSink& s) { s.putFloat(-0.0f), s.putJsonNumber(-0.0f); }, "-0-0"},
        {[](TextSink& s) { s.putFloat(12.34f), s.putJsonNumber(12.34f); }, "12.3412.34"},
        {[](TextSink& s) { s.putFloat(1e-7f), s.putJsonNumber(1e-7f); }, "1e-071e-07"},
        {[](TextSink& s) { s.putFloat(std::nanf("")), s.putJsonNumber(std::nanf("")); }, "nannull"},
        {[](TextSink& s) { s.putFloat(INFINITY), s.putJsonNumber(INFINITY); }, "infnull"},
        {[](TextSink& s) { s.putFloat(-INFINITY), s.putJsonNumber(-INFINITY); }, "-infnull"},
        {[](TextSink& s) { s.putFloat(3e38f), s.putJsonNumber(3e38f); }, "3e+383e+38"},
        {[](TextSink& s) { s.putJsonNumber(0.0), s.putJsonNumber(0.1); }, "00.1"},
        {[](TextSink& s) { s.putJsonNumber(1.0 / 3); }, "0.3333333333333333"},
        {[](TextSink& s) { s.putJsonNumber(1e300), s.putJsonNumber(std::nan("")); }, "1e+300null"},
        {[inf](TextSink& s) { s.putJsonNumber(-inf); }, "null"},
        {[](TextSink& s) { s.putInt(0), s.putInt(-1), s.putInt(1234567); }, "0-11234567"},
        {[](TextSink& s) { s.putInt(std::numeric_limits<long long>::min()); }, "-9223372036854775808"},
    };
    std::string round;
    for (const auto& p : puts) {
        std::string alone;
        {
            TextSink sink(alone);
            p.put(sink);
            sink.flush();
        }
        EXPECT_EQ(alone, p.text);
        round += p.text;
    }
    std::string written;
    {
        TextSink sink(written);
        for (int k = 0; k < 20000; ++k) {  // past a megabyte: handed on in pieces
            for (const auto& p : puts) p.put(sink);
            sink.written();
        }
        sink.flush();
    }
    ASSERT_EQ(written.size(), 20000 * round.size());
    for (std::size_t at = 0; at < written.size(); at += round.size()) {
        ASSERT_EQ(std::string_view(written).substr(at, round.size()), round) << "at " << at;
    }
    EXPECT_EQ(jsonString("a\"<\x02"), "\"a\\\"\\u003c\\u0002\"");
    EXPECT_EQ(jsonNumber(std::nanf("")) + jsonNumber(0.5), "null0.5");
}

// A rename that fails (the destination turned into a folder after it was
// opened) is reported, and standard output, which cannot be taken back, has
// been given nothing: it gets its part only once every file is in place.
TEST(OutputFiles, StandardOutputOnlyOnceEveryFileIsInPlace) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(::testing::TempDir()) / ("outputs-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    const auto text = [](const fs::path& p) {
        std::ifstream in(p);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    std::ofstream((folder / "a.csv").c_str()) << "previous a\n";
    // What reaches standard output, while a commit runs.
    std::ostringstream shown;
    struct Capture {
        std::streambuf* standard;
        explicit Capture(std::ostream& into) : standard(std::cout.rdbuf(into.rdbuf())) {}
        ~Capture() { std::cout.rdbuf(standard); }
    };
    std::string failure;
    {
        OutputFiles files;
        files.add("-", "to standard output\n");
        files.add((folder / "a.csv").string(), "new a\n");
        files.add((folder / "b.csv").string(), "new b\n");
        fs::create_directories(folder / "b.csv" / "inside");
        const Capture capture(shown);
        try {
            files.commit();
        } catch (const std::runtime_error& e) {
            failure = e.what();
        }
    }
    EXPECT_NE(failure.find("b.csv: cannot replace the file"), std::string::npos) << failure;
    EXPECT_NE(failure.find("already replaced: " + (folder / "a.csv").string()), std::string::npos) << failure;
    EXPECT_EQ(shown.str(), "");
    EXPECT_EQ(text(folder / "a.csv"), "new a\n");
    // Nothing half-written, no temporary left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);

    fs::remove_all(folder / "b.csv");
    shown.str("");
    {
        OutputFiles files;
        files.add("-", "to standard output\n");
        files.add((folder / "b.csv").string(), "new b\n");
        const Capture capture(shown);
        files.commit();
    }
    EXPECT_EQ(shown.str(), "to standard output\n");
    EXPECT_EQ(text(folder / "b.csv"), "new b\n");

    // A destination that is no regular file (a named pipe here, /dev/null
    // in use) gets its part written into it and stays what it was: renamed
    // over, it would be replaced by a file.
    const fs::path pipe = folder / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    // Its reading end opened first, so that the writer does not wait for
    // one, and read once the commit is over: all it holds is already there.
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    {
        OutputFiles files;
        files.add(pipe.string(), "into the pipe\n");
        files.commit();
    }
    std::string read(64, '\0');
    const ssize_t got = ::read(reader, read.data(), read.size());
    read.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    ::close(reader);
    EXPECT_EQ(read, "into the pipe\n");
    EXPECT_TRUE(fs::is_fifo(pipe));
    fs::remove_all(folder);
}

}  // namespace
}  // namespace vlmstruct
