#include "live/live_stream.h"

#include <zlib.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "barfile/float_text.h"
#include "barfile/price_checks.h"
#include "levels/civil_time.h"

namespace vlm::live {

namespace {

std::string dateText(levels::Seconds t) {
    int year = 0;
    unsigned month = 0, day = 0;
    levels::CivilFromDays(levels::DayOf(t), year, month, day);
    const levels::Seconds s = levels::TimeOfDay(t);
    char text[48];
    if (s == 0) {
        std::snprintf(text, sizeof text, "%04d-%02u-%02u", year, month, day);
    } else {
        std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d", year, month, day, static_cast<int>(s / 3600),
                      static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
    }
    return text;
}

[[noreturn]] void refuseBar(std::size_t index, levels::Seconds time, const std::string& what) {
    throw BadBar("bar " + std::to_string(index) + " (" + dateText(time) + "): " + what);
}

}  // namespace

Stream::Stream(StreamOptions options) : options_(std::move(options)), replay_(options_.points) {
    CheckTradingPointOptions(options_.points);
    if (!options_.periods.empty()) levels_.emplace(options_.periods, options_.resample, options_.points);
}

// The bar-file reader's checks, in its order: the prices left to right,
// then the low against the high, then the volume; then the date.
void Stream::check(const LiveBar& bar) const {
    const BarColumns& c = options_.columns;
    const std::pair<bool, std::pair<const char*, float>> prices[] = {
        {c.open, {"open", bar.open}}, {true, {"high", bar.high}}, {true, {"low", bar.low}}, {c.close, {"close", bar.close}}};
    for (const auto& [carried, price] : prices) {
        if (!carried) continue;
        if (const char* what = vlmstruct::valueProblem(price.second)) {
            refuseBar(finished_, bar.time,
                      std::string(price.first) + " is " + what + " (" + vlmstruct::formatFloat(price.second) + ")");
        }
    }
    if (auto what = vlmstruct::barProblem(bar.high, bar.low)) refuseBar(finished_, bar.time, *what);
    if (c.volume) {
        if (const char* what = vlmstruct::valueProblem(bar.volume)) {
            refuseBar(finished_, bar.time, std::string("volume is ") + what + " (" + vlmstruct::formatDouble(bar.volume) + ")");
        }
    }
    if (finished_ > 0 && bar.time <= lastTime_) {
        refuseBar(finished_, bar.time, "its date is not after the last bar's (" + dateText(lastTime_) + ")");
    }
}

void Stream::apply(const LiveBar& bar) {
    const BarColumns& c = options_.columns;
    replay_.push(bar.high, bar.low, c.close ? std::optional<float>(bar.close) : std::nullopt);
    if (!levels_) return;
    time_.push_back(bar.time);
    if (c.open) open_.push_back(bar.open);
    high_.push_back(bar.high);
    low_.push_back(bar.low);
    if (c.close) close_.push_back(bar.close);
    if (c.volume) volume_.push_back(bar.volume);
    levels_->push({time_, open_, high_, low_, close_, volume_});
}

BarEvents Stream::push(const LiveBar& bar) {
    check(bar);
    forming_.takeBack(*this);
    apply(bar);
    ++finished_;
    lastTime_ = bar.time;
    return {replay_.structures().events(), replay_.pointEvents()};
}

BarEvents Stream::pushForming(const LiveBar& bar) {
    check(bar);
    forming_.takeBack(*this);
    forming_.keep(*this);
    apply(bar);
    return {replay_.structures().events(), replay_.pointEvents()};
}

void Stream::takeBackForming() { forming_.takeBack(*this); }

std::size_t Stream::size() const { return finished_; }
bool Stream::forming() const { return forming_.active(); }
const AsOfRow& Stream::asOf() const { return replay_.structures().asOf(); }
PointAsOf Stream::pointAsOf() const { return replay_.pointAsOf(); }
std::span<const levels::LevelAsOf> Stream::levelRows() const {
    return levels_ ? levels_->rows() : std::span<const levels::LevelAsOf>{};
}
const StreamOptions& Stream::options() const { return options_; }

// ---- Snapshots ----------------------------------------------------------
//
// Layout: the magic, the format version (4 bytes, little-endian, so that
// any machine can tell another version), then in the machine's own byte
// order: a marker of byte order and word size, the options field by field,
// the payload's length and the payload (the stream's visitState written
// whole), and last a CRC-32 of every byte before it.

namespace {

constexpr std::array<char, 8> kMagic{'v', 'l', 'm', 'l', 'i', 'v', 'e', '\n'};
constexpr std::uint32_t kVersion = 1;
constexpr std::uint32_t kByteOrder = 0x01020304;
// Byte order, then the sizes a payload's fields are written with.
struct Machine {
    std::uint32_t order = kByteOrder;
    std::uint8_t sizeWord = sizeof(std::size_t);
    std::uint8_t sizePointer = sizeof(void*);
    std::uint8_t sizeLongDouble = sizeof(long double);
    std::uint8_t alignDouble = alignof(double);
};

void putBytes(std::vector<std::byte>& out, const void* data, std::size_t size) {
    const auto* p = static_cast<const std::byte*>(data);
    out.insert(out.end(), p, p + size);
}
template <typename T>
void put(std::vector<std::byte>& out, T value) {
    putBytes(out, &value, sizeof value);
}

std::uint32_t checksum(std::span<const std::byte> bytes) {
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes lengths as uInt: in pieces for the largest snapshots.
    while (!bytes.empty()) {
        const std::size_t n = std::min<std::size_t>(bytes.size(), 1u << 30);
        crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(n));
        bytes = bytes.subspan(n);
    }
    return static_cast<std::uint32_t>(crc);
}

// Reads a snapshot front to back; throws BadSnapshot naming what it was
// reading when the bytes run out.
class Cursor {
public:
    explicit Cursor(std::span<const std::byte> bytes) : bytes_(bytes) {}
    void read(void* data, std::size_t size, const char* what) {
        if (size > bytes_.size() - at_) {
            throw BadSnapshot(std::string("the snapshot is truncated: it ends in its ") + what);
        }
        std::memcpy(data, bytes_.data() + at_, size);
        at_ += size;
    }
    template <typename T>
    T get(const char* what) {
        T value{};
        read(&value, sizeof value, what);
        return value;
    }
    [[nodiscard]] std::size_t at() const { return at_; }
    [[nodiscard]] std::size_t remaining() const { return bytes_.size() - at_; }

private:
    std::span<const std::byte> bytes_;
    std::size_t at_ = 0;
};

void writeOptions(std::vector<std::byte>& out, const StreamOptions& o) {
    put<std::int32_t>(out, o.points.macd.fast);
    put<std::int32_t>(out, o.points.macd.slow);
    put<std::int32_t>(out, o.points.macd.signal);
    put<std::uint8_t>(out, static_cast<std::uint8_t>(o.points.force));
    put<std::int32_t>(out, o.points.class1MinRun);
    put<double>(out, o.points.divergenceRatio);
    put<std::uint32_t>(out, static_cast<std::uint32_t>(o.periods.size()));
    for (const levels::Period& p : o.periods) {
        put<std::uint8_t>(out, static_cast<std::uint8_t>(p.unit));
        put<std::int32_t>(out, p.minutes);
    }
    put<std::uint8_t>(out, static_cast<std::uint8_t>(o.resample.bins));
    put<std::int64_t>(out, o.resample.sessionGap);
    put<std::uint8_t>(out, o.columns.open);
    put<std::uint8_t>(out, o.columns.close);
    put<std::uint8_t>(out, o.columns.volume);
}

// The options as written; the one-byte enumerations and flags are
// checked once the checksum has vouched for the bytes.
struct WrittenOptions {
    StreamOptions options;
    std::uint8_t force = 0, bins = 0, open = 0, close = 0, volume = 0;
    std::vector<std::uint8_t> units;
};

WrittenOptions readOptions(Cursor& in) {
    constexpr const char* kWhere = "options";
    WrittenOptions w;
    StreamOptions& o = w.options;
    o.points.macd.fast = in.get<std::int32_t>(kWhere);
    o.points.macd.slow = in.get<std::int32_t>(kWhere);
    o.points.macd.signal = in.get<std::int32_t>(kWhere);
    w.force = in.get<std::uint8_t>(kWhere);
    o.points.class1MinRun = in.get<std::int32_t>(kWhere);
    o.points.divergenceRatio = in.get<double>(kWhere);
    const auto periods = in.get<std::uint32_t>(kWhere);
    // Each period takes 5 bytes: a count beyond the bytes left is cut short.
    if (periods > in.remaining() / 5) throw BadSnapshot("the snapshot is truncated: it ends in its options");
    o.periods.resize(periods);
    for (levels::Period& p : o.periods) {
        w.units.push_back(in.get<std::uint8_t>(kWhere));
        p.minutes = in.get<std::int32_t>(kWhere);
    }
    w.bins = in.get<std::uint8_t>(kWhere);
    o.resample.sessionGap = in.get<std::int64_t>(kWhere);
    w.open = in.get<std::uint8_t>(kWhere);
    w.close = in.get<std::uint8_t>(kWhere);
    w.volume = in.get<std::uint8_t>(kWhere);
    return w;
}

StreamOptions decodeOptions(WrittenOptions w) {
    const auto check = [](std::uint8_t value, auto last, const char* what) {
        if (value > static_cast<std::uint8_t>(last)) {
            throw BadSnapshot(std::string("the snapshot's ") + what + " is out of range (" + std::to_string(value) + ")");
        }
        return static_cast<decltype(last)>(value);
    };
    StreamOptions& o = w.options;
    o.points.force = check(w.force, ForceMeasure::Slope, "force measure");
    for (std::size_t k = 0; k < o.periods.size(); ++k) {
        o.periods[k].unit = check(w.units[k], levels::Period::Unit::Month, "level period");
    }
    o.resample.bins = check(w.bins, levels::Bins::Clock, "bins");
    o.columns.open = check(w.open, std::uint8_t{1}, "open column flag") != 0;
    o.columns.close = check(w.close, std::uint8_t{1}, "close column flag") != 0;
    o.columns.volume = check(w.volume, std::uint8_t{1}, "volume column flag") != 0;
    return o;
}

std::string periodsText(const std::vector<levels::Period>& periods) {
    std::string text;
    for (const levels::Period& p : periods) text += (text.empty() ? "" : ",") + levels::PeriodName(p);
    return text.empty() ? "none" : text;
}

// The first option in which `got` differs from `expected`, as "name: the
// snapshot's value, expected value"; empty when they are the same.
std::string optionDifference(const StreamOptions& got, const StreamOptions& expected) {
    const auto num = [](const auto& v) {
        if constexpr (std::is_floating_point_v<std::decay_t<decltype(v)>>) {
            return vlmstruct::formatDouble(v);
        } else {
            return std::to_string(v);
        }
    };
    const auto differs = [](const std::string& name, const std::string& a, const std::string& b) {
        return name + " is " + a + " in the snapshot, " + b + " expected";
    };
    const TradingPointOptions& a = got.points;
    const TradingPointOptions& b = expected.points;
    if (a.macd.fast != b.macd.fast) return differs("the MACD fast period", num(a.macd.fast), num(b.macd.fast));
    if (a.macd.slow != b.macd.slow) return differs("the MACD slow period", num(a.macd.slow), num(b.macd.slow));
    if (a.macd.signal != b.macd.signal) return differs("the MACD signal period", num(a.macd.signal), num(b.macd.signal));
    if (a.force != b.force) {
        return differs("the force measure", std::string(ForceMeasureName(a.force)), std::string(ForceMeasureName(b.force)));
    }
    if (a.class1MinRun != b.class1MinRun) return differs("the first-class run", num(a.class1MinRun), num(b.class1MinRun));
    if (std::bit_cast<std::uint64_t>(a.divergenceRatio) != std::bit_cast<std::uint64_t>(b.divergenceRatio)) {
        return differs("the divergence ratio", num(a.divergenceRatio), num(b.divergenceRatio));
    }
    if (got.periods != expected.periods) return differs("the list of levels", periodsText(got.periods), periodsText(expected.periods));
    if (got.resample.bins != expected.resample.bins) {
        const auto name = [](levels::Bins bins) { return std::string(bins == levels::Bins::Clock ? "clock" : "session"); };
        return differs("the bins", name(got.resample.bins), name(expected.resample.bins));
    }
    if (got.resample.sessionGap != expected.resample.sessionGap) {
        return differs("the session gap", num(got.resample.sessionGap), num(expected.resample.sessionGap));
    }
    const auto has = [](bool on) { return std::string(on ? "there" : "absent"); };
    if (got.columns.open != expected.columns.open) return differs("the open column", has(got.columns.open), has(expected.columns.open));
    if (got.columns.close != expected.columns.close) return differs("the close column", has(got.columns.close), has(expected.columns.close));
    if (got.columns.volume != expected.columns.volume) {
        return differs("the volume column", has(got.columns.volume), has(expected.columns.volume));
    }
    return {};
}

}  // namespace

std::vector<std::byte> Snapshot(const Stream& stream) {
    std::vector<std::byte> out;
    putBytes(out, kMagic.data(), kMagic.size());
    for (int shift = 0; shift < 32; shift += 8) put<std::uint8_t>(out, static_cast<std::uint8_t>(kVersion >> shift));
    const Machine machine;
    putBytes(out, &machine, sizeof machine);
    writeOptions(out, stream.options());
    const std::size_t lengthAt = out.size();
    put<std::uint64_t>(out, 0);
    const std::size_t payloadAt = out.size();
    state::Writer writer(out, state::Extent::Whole);
    Stream::visitState(stream, writer);
    const std::uint64_t length = out.size() - payloadAt;
    std::memcpy(out.data() + lengthAt, &length, sizeof length);
    put<std::uint32_t>(out, checksum(out));
    return out;
}

Stream Restore(std::span<const std::byte> bytes) {
    Cursor in(bytes);
    std::array<char, 8> magic{};
    in.read(magic.data(), magic.size(), "header");
    if (magic != kMagic) throw BadSnapshot("these bytes are not a stream snapshot");
    std::array<std::uint8_t, 4> version{};
    in.read(version.data(), version.size(), "header");
    const std::uint32_t v = version[0] | version[1] << 8 | version[2] << 16 | static_cast<std::uint32_t>(version[3]) << 24;
    if (v != kVersion) {
        throw BadSnapshot("the snapshot is of format version " + std::to_string(v) + "; this build reads version " +
                          std::to_string(kVersion));
    }
    Machine machine;
    in.read(&machine, sizeof machine, "header");
    const Machine here;
    if (std::memcmp(&machine, &here, sizeof machine) != 0) {
        throw BadSnapshot("the snapshot was made on another kind of machine (byte order or word size differs)");
    }
    WrittenOptions written = readOptions(in);
    const auto length = in.get<std::uint64_t>("header");
    const std::size_t payloadAt = in.at();
    if (length > bytes.size() - payloadAt || bytes.size() - payloadAt - length < 4) {
        throw BadSnapshot("the snapshot is truncated: " + std::to_string(bytes.size()) +
                          " bytes, where its header promises " +
                          (length > bytes.size() ? std::string("more") : std::to_string(payloadAt + length + 4)));
    }
    if (bytes.size() - payloadAt - length != 4) {
        throw BadSnapshot("the snapshot has " + std::to_string(bytes.size() - payloadAt - length - 4) +
                          " bytes after its end");
    }
    std::uint32_t stored = 0;
    std::memcpy(&stored, bytes.data() + bytes.size() - 4, 4);
    if (stored != checksum(bytes.first(bytes.size() - 4))) {
        throw BadSnapshot("the snapshot is corrupted: its checksum does not match");
    }
    const StreamOptions options = decodeOptions(std::move(written));

    const std::span<const std::byte> payload = bytes.subspan(payloadAt, static_cast<std::size_t>(length));
    Stream stream = Stream::read(options, payload);
    if (stream.forming()) {
        // The bytes that take the forming bar back are a state too: taken
        // back on a second copy, it must be one.
        Stream finished = Stream::read(options, payload);
        try {
            finished.takeBackForming();
        } catch (const std::invalid_argument& e) {
            throw BadSnapshot(std::string("the snapshot's forming bar cannot be taken back: ") + e.what());
        }
        finished.checkRestored();
    }
    return stream;
}

Stream Stream::read(const StreamOptions& options, std::span<const std::byte> payload) {
    std::optional<Stream> stream;
    try {
        stream.emplace(options);
    } catch (const std::invalid_argument& e) {
        throw BadSnapshot(std::string("the snapshot's options are refused: ") + e.what());
    }
    try {
        state::Reader reader(payload, state::Extent::Whole);
        Stream::visitState(*stream, reader);
        if (reader.remaining() != 0) throw std::invalid_argument("the state has bytes after its end");
    } catch (const std::invalid_argument& e) {
        throw BadSnapshot(std::string("the snapshot's state does not fit its options: ") + e.what());
    } catch (const std::length_error&) {
        throw BadSnapshot("the snapshot's state does not fit its options: a list too long");
    } catch (const std::bad_alloc&) {
        throw BadSnapshot("the snapshot's state does not fit its options: a list too long");
    }
    stream->checkRestored();
    return std::move(*stream);
}

Stream Restore(std::span<const std::byte> bytes, const StreamOptions& expected) {
    Stream stream = Restore(bytes);
    if (const std::string difference = optionDifference(stream.options(), expected); !difference.empty()) {
        throw BadSnapshot("the snapshot was made with other options: " + difference);
    }
    return stream;
}

void Stream::checkRestored() const {
    const auto refuse = [](const std::string& what) {
        throw BadSnapshot("the snapshot's state is inconsistent: " + what);
    };
    const std::size_t bars = replay_.structures().engine().size();
    if (finished_ + (forming_.active() ? 1 : 0) != bars) refuse("the bar count");
    if (!replay_.fits()) refuse("the structures or points");
    if (!levels_) {
        if (!time_.empty() || !open_.empty() || !high_.empty() || !low_.empty() || !close_.empty() || !volume_.empty()) {
            refuse("base bars kept without levels");
        }
        return;
    }
    const BarColumns& c = options_.columns;
    const auto fits = [&](std::size_t n, bool carried) { return n == (carried ? bars : 0); };
    if (!fits(time_.size(), true) || !fits(open_.size(), c.open) || !fits(high_.size(), true) ||
        !fits(low_.size(), true) || !fits(close_.size(), c.close) || !fits(volume_.size(), c.volume)) {
        refuse("the base bars kept for the levels");
    }
    for (std::size_t i = 1; i < time_.size(); ++i) {
        if (time_[i] <= time_[i - 1]) refuse("the base bars' dates");
    }
    if (finished_ > 0 && time_[finished_ - 1] != lastTime_) refuse("the last bar's date");
    bool levelsFit = false;
    try {
        levelsFit = levels_->fits({time_, open_, high_, low_, close_, volume_}, options_.periods.size());
    } catch (const std::invalid_argument&) {
        levelsFit = false;
    }
    if (!levelsFit) refuse("the levels");
}

}  // namespace vlm::live
