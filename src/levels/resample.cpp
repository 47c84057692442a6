#include "levels/resample.h"

#include <algorithm>
#include <bit>
#include <memory>
#include <type_traits>
#include <charconv>
#include <stdexcept>
#include <utility>

#include "kline/bar_count.h"

namespace vlm::levels {

void CheckBaseBars(const BaseBars& base) {
    const std::size_t n = base.time.size();
    RequireLength("high", base.high.size(), n);
    RequireLength("low", base.low.size(), n);
    RequireLength("open", base.open.size(), n, true);
    RequireLength("close", base.close.size(), n, true);
    RequireLength("volume", base.volume.size(), n, true);
}

namespace {

// 1 Monday .. 7 Sunday; 1970-01-01 was a Thursday.
int isoWeekday(std::int64_t days) { return static_cast<int>(days + 3 - FloorDiv(days + 3, 7) * 7) + 1; }

Seconds defaultGap(Seconds interval, const ResampleOptions& options) {
    if (options.sessionGap > 0) return options.sessionGap;
    return std::max(2 * interval, interval + 15 * kMinute);
}

bool validMinutes(int n) {
    if (n <= 0) return false;
    if (n <= 60) return 60 % n == 0;
    return n % 60 == 0 && (24 * 60) % n == 0;
}

// Where a bar falls: two numbers that are equal for bars of one period, and
// the end of that period where it is known from the bar alone.
struct Bin {
    std::int64_t major = 0;
    std::int64_t minor = 0;
    Seconds end = 0;  // intraday bins only
    bool operator==(const Bin& o) const { return major == o.major && minor == o.minor; }
};

}  // namespace

std::int64_t DaysFromCivil(int year, unsigned month, unsigned day) {
    const int y = year - (month <= 2 ? 1 : 0);
    const std::int64_t era = FloorDiv(y, 400);
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t days, int& year, unsigned& month, unsigned& day) {
    const std::int64_t z = days + 719468;
    const std::int64_t era = FloorDiv(z, 146097);
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0));
}

std::optional<Period> ParsePeriod(std::string_view text) {
    using Unit = Period::Unit;
    if (text == "day" || text == "d" || text == "1d") return Period{Unit::Day, 0};
    if (text == "week" || text == "w" || text == "1w") return Period{Unit::Week, 0};
    if (text == "month") return Period{Unit::Month, 0};
    int n = 0;
    const char* end = text.data() + text.size();
    const auto [rest, ec] = std::from_chars(text.data(), end, n);
    if (ec != std::errc{} || rest == text.data()) return std::nullopt;
    const std::string_view unit(rest, static_cast<std::size_t>(end - rest));
    if (unit == "min") {
    } else if (unit == "h") {
        if (n > 24) return std::nullopt;
        n *= 60;
    } else {
        return std::nullopt;
    }
    if (!validMinutes(n)) return std::nullopt;
    return Period{Unit::Minute, n};
}

std::string PeriodProblem(std::string_view text) {
    const std::string quoted = "'" + std::string(text) + "'";
    const std::string_view digits = text.substr(0, text.size() - (text.empty() ? 0 : 1));
    if (!text.empty() && text.back() == 'm' &&
        digits.find_first_not_of("0123456789") == std::string_view::npos) {
        return quoted + " could be " + (digits.empty() ? std::string("1") : std::string(digits)) +
               "min or month: write one of them";
    }
    return quoted + " is not a level (N min with N dividing 60 or whole hours dividing a day, day, week, month)";
}

std::string PeriodName(const Period& period) {
    switch (period.unit) {
        case Period::Unit::Minute: return std::to_string(period.minutes) + "min";
        case Period::Unit::Day: return "day";
        case Period::Unit::Week: return "week";
        case Period::Unit::Month: return "month";
    }
    return "?";
}

Seconds BaseInterval(std::span<const Seconds> time) {
    Seconds interval = 0;
    for (std::size_t i = 1; i < time.size(); ++i) {
        const Seconds gap = time[i] - time[i - 1];
        if (gap > 0 && (interval == 0 || gap < interval)) interval = gap;
    }
    return interval;
}

Seconds SessionGap(std::span<const Seconds> time, const ResampleOptions& options) {
    return defaultGap(BaseInterval(time), options);
}

namespace {

// Bars of one period: the bin of each bar in turn, sessions counted as the
// bars arrive.
class Binner {
public:
    Binner(const Period& period, Bins bins, Seconds sessionGap)
        : period_(period), bins_(bins), gap_(sessionGap), width_(static_cast<Seconds>(period.minutes) * kMinute) {}

    Bin next(Seconds t) {
        if (first_ || t - previous_ > gap_) {
            ++session_;
            sessionFirst_ = t;
        }
        first_ = false;
        previous_ = t;
        Bin bin;
        switch (period_.unit) {
            case Period::Unit::Minute:
                if (bins_ == Bins::Session) {
                    bin.major = session_;
                    bin.minor = (t - sessionFirst_) / width_;
                    bin.end = sessionFirst_ + (bin.minor + 1) * width_;
                } else {
                    bin.major = DayOf(t);
                    bin.minor = TimeOfDay(t) / width_;
                    bin.end = bin.major * kDay + (bin.minor + 1) * width_;
                }
                break;
            case Period::Unit::Day: bin.major = DayOf(t); break;
            case Period::Unit::Week: bin.major = FloorDiv(DayOf(t) + 3, 7); break;
            case Period::Unit::Month: {
                int y = 0;
                unsigned m = 0, d = 0;
                CivilFromDays(DayOf(t), y, m, d);
                bin.major = static_cast<std::int64_t>(y) * 12 + m - 1;
                break;
            }
        }
        return bin;
    }

    // Field by field as bytes (see state::SameBytes): a state read back
    // against one computed.
    [[nodiscard]] bool sameAs(const Binner& o) const {
        using state::SameBytes;
        return SameBytes(period_.unit, o.period_.unit) && SameBytes(period_.minutes, o.period_.minutes) &&
               SameBytes(bins_, o.bins_) && SameBytes(gap_, o.gap_) && SameBytes(width_, o.width_) &&
               SameBytes(first_, o.first_) && SameBytes(previous_, o.previous_) && SameBytes(session_, o.session_) &&
               SameBytes(sessionFirst_, o.sessionFirst_);
    }

private:
    Period period_;
    Bins bins_;
    Seconds gap_;
    Seconds width_;
    bool first_ = true;
    Seconds previous_ = 0;
    std::int64_t session_ = -1;
    Seconds sessionFirst_ = 0;
};

// Base bar i opens a level bar or joins the last one.
void addBar(LevelBars& out, const BaseBars& base, std::size_t i, bool opens) {
    const auto bar = static_cast<std::int32_t>(i);
    if (opens) {
        out.time.push_back(base.time[i]);
        out.high.push_back(base.high[i]);
        out.low.push_back(base.low[i]);
        if (!base.open.empty()) out.open.push_back(base.open[i]);
        if (!base.close.empty()) out.close.push_back(base.close[i]);
        if (!base.volume.empty()) out.volume.push_back(base.volume[i]);
        out.firstBase.push_back(bar);
        out.lastBase.push_back(bar);
        return;
    }
    out.time.back() = base.time[i];
    out.high.back() = base.high[i] > out.high.back() ? base.high[i] : out.high.back();
    out.low.back() = base.low[i] < out.low.back() ? base.low[i] : out.low.back();
    if (!base.close.empty()) out.close.back() = base.close[i];
    if (!base.volume.empty()) out.volume.back() += base.volume[i];
    out.lastBase.back() = bar;
}

// Whether the day of the last bar is over: bars of coarser-than-intraday
// bases are whole days; otherwise the day has reached the latest time of day
// at which an earlier day ended.
class DayEnds {
public:
    // Two consecutive bars.
    void step(Seconds before, Seconds after) {
        if (DayOf(before) == DayOf(after)) return;
        usualClose_ = earlier_ ? std::max(usualClose_, TimeOfDay(before)) : TimeOfDay(before);
        earlier_ = true;
    }
    [[nodiscard]] bool complete(Seconds last, Seconds interval) const {
        if (interval >= kDay) return true;
        return earlier_ && TimeOfDay(last) >= usualClose_;
    }

    [[nodiscard]] bool sameAs(const DayEnds& o) const {
        return state::SameBytes(earlier_, o.earlier_) && state::SameBytes(usualClose_, o.usualClose_);
    }

private:
    bool earlier_ = false;
    Seconds usualClose_ = 0;
};

// No weekday is left in the period after `days` up to and including `lastDay`.
bool onlyWeekendLeft(std::int64_t days, std::int64_t lastDay) {
    for (std::int64_t d = days + 1; d <= lastDay; ++d) {
        if (isoWeekday(d) <= 5) return false;
    }
    return true;
}

// Whether the period of the last bar, in bin `current`, may still take bars.
bool lastUnfinished(const Period& period, const Bin& current, Seconds last, Seconds interval,
                    const DayEnds& days) {
    const std::int64_t lastDay = DayOf(last);
    switch (period.unit) {
        case Period::Unit::Minute: return interval == 0 || last + interval < current.end;
        case Period::Unit::Day: return !days.complete(last, interval);
        case Period::Unit::Week: {
            const std::int64_t sunday = current.major * 7 + 3;  // the week's last day
            return !days.complete(last, interval) || !onlyWeekendLeft(lastDay, sunday);
        }
        case Period::Unit::Month: {
            int y = 0;
            unsigned m = 0, d = 0;
            CivilFromDays(lastDay, y, m, d);
            const std::int64_t monthEnd =
                (m == 12 ? DaysFromCivil(y + 1, 1, 1) : DaysFromCivil(y, m + 1, 1)) - 1;
            return !days.complete(last, interval) || !onlyWeekendLeft(lastDay, monthEnd);
        }
    }
    return true;
}

bool fits(const Period& period, Seconds interval) {
    return period.unit != Period::Unit::Minute || interval <= static_cast<Seconds>(period.minutes) * kMinute;
}

void checkPeriod(const Period& period) {
    if (period.unit == Period::Unit::Minute && !validMinutes(period.minutes)) {
        throw std::invalid_argument("an intraday level divides an hour or is whole hours dividing a day");
    }
}

void outOfOrder(std::size_t i) {
    throw std::invalid_argument("base bar " + std::to_string(i) + " is not later than the bar before it");
}

template <typename T>
bool sameAt(const std::vector<T>& a, const std::vector<T>& b, std::size_t k) {
    if (a.empty() || b.empty()) return a.empty() == b.empty();
    if constexpr (std::is_same_v<T, float>) {
        return std::bit_cast<std::uint32_t>(a[k]) == std::bit_cast<std::uint32_t>(b[k]);
    } else if constexpr (std::is_same_v<T, double>) {
        return std::bit_cast<std::uint64_t>(a[k]) == std::bit_cast<std::uint64_t>(b[k]);
    } else {
        return a[k] == b[k];
    }
}

// How many bars from the first two lists share.
std::size_t sameLeadingBars(const LevelBars& a, const LevelBars& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t k = 0; k < n; ++k) {
        if (!sameAt(a.time, b.time, k) || !sameAt(a.open, b.open, k) || !sameAt(a.high, b.high, k) ||
            !sameAt(a.low, b.low, k) || !sameAt(a.close, b.close, k) || !sameAt(a.volume, b.volume, k) ||
            !sameAt(a.firstBase, b.firstBase, k) || !sameAt(a.lastBase, b.lastBase, k)) {
            return k;
        }
    }
    return n;
}

}  // namespace

void CheckBaseInterval(const Period& period, Seconds interval) {
    if (!fits(period, interval)) {
        throw std::invalid_argument("the base bars are " + std::to_string(interval / kMinute) +
                                    " minutes apart: a " + PeriodName(period) +
                                    " level needs bars at most " + std::to_string(period.minutes) +
                                    " minutes apart");
    }
}

LevelBars Resample(const BaseBars& base, const Period& period, const ResampleOptions& options) {
    CheckBaseBars(base);
    const std::size_t n = base.time.size();
    for (std::size_t i = 1; i < n; ++i) {
        if (base.time[i] <= base.time[i - 1]) outOfOrder(i);
    }
    checkPeriod(period);
    const Seconds interval = BaseInterval(base.time);
    CheckBaseInterval(period, interval);

    LevelBars out;
    Binner binner(period, options.bins, SessionGap(base.time, options));
    DayEnds days;
    Bin current;
    for (std::size_t i = 0; i < n; ++i) {
        const Bin bin = binner.next(base.time[i]);
        addBar(out, base, i, i == 0 || !(bin == current));
        current = bin;
        if (i > 0) days.step(base.time[i - 1], base.time[i]);
    }
    if (n == 0) return out;
    out.lastUnfinished = lastUnfinished(period, current, base.time.back(), interval, days);
    return out;
}

// The running state of Resample's one pass, plus the interval and session
// gap of the bars so far. A smaller gap between two bars than any before
// lowers the interval, and with it the default session gap: the sessions,
// and so the bins, are then counted again over every bar.
struct LevelResampler::State {
    Period period;
    ResampleOptions options;
    bool binsFollowGap = false;  // intraday session bins with the default gap
    std::size_t taken = 0;
    bool withOpen = false, withClose = false, withVolume = false;
    Seconds interval = 0;
    Seconds gap = 0;
    bool coarse = false;
    Binner binner;
    DayEnds days;
    Bin current;
    LevelBars bars;

    State(const Period& p, const ResampleOptions& o)
        : period(p), options(o), binsFollowGap(p.unit == Period::Unit::Minute && o.bins == Bins::Session &&
                                                o.sessionGap <= 0),
          gap(defaultGap(0, o)), binner(p, o.bins, gap) {}

    template <typename Self, typename Visitor>
    static void visitState(Self& self, Visitor& v) {
        v(self.taken);
        v(self.withOpen);
        v(self.withClose);
        v(self.withVolume);
        v(self.interval);
        v(self.gap);
        v(self.coarse);
        v(self.binner);
        v(self.days);
        v(self.current);
        v(self.bars.time);
        v(self.bars.open);
        v(self.bars.high);
        v(self.bars.low);
        v(self.bars.close);
        v(self.bars.volume);
        v(self.bars.firstBase);
        v(self.bars.lastBase);
        v(self.bars.lastUnfinished);
    }

    void binAll(const BaseBars& base) {
        bars = LevelBars{};
        binner = Binner(period, options.bins, gap);
        for (std::size_t i = 0; i < base.time.size(); ++i) {
            const Bin bin = binner.next(base.time[i]);
            addBar(bars, base, i, i == 0 || !(bin == current));
            current = bin;
        }
    }
};

LevelResampler::LevelResampler(const Period& period, const ResampleOptions& options) {
    checkPeriod(period);
    state_ = std::make_unique<State>(period, options);
}

LevelResampler::~LevelResampler() = default;
LevelResampler::LevelResampler(LevelResampler&&) noexcept = default;
LevelResampler& LevelResampler::operator=(LevelResampler&&) noexcept = default;

const LevelBars& LevelResampler::bars() const { return state_->bars; }
bool LevelResampler::tooCoarse() const { return state_->coarse; }
Seconds LevelResampler::interval() const { return state_->interval; }

void LevelResampler::visitState(const LevelResampler& self, state::Writer& v) { State::visitState(*self.state_, v); }

bool LevelResampler::madeBy(const BaseBars& soFar) const {
    // The state is a function of the bars: computed again, it must be the
    // one read, byte for byte.
    const State& s = *state_;
    if (s.taken != soFar.time.size()) return false;
    LevelResampler fresh(s.period, s.options);
    for (std::size_t n = 1; n <= soFar.time.size(); ++n) {
        const auto first = [n](auto span) { return span.empty() ? span : span.first(n); };
        fresh.push({first(soFar.time), first(soFar.open), first(soFar.high), first(soFar.low), first(soFar.close),
                    first(soFar.volume)});
    }
    const State& f = *fresh.state_;
    using state::SameBytes;
    const auto sameList = [](const auto& a, const auto& b) {
        return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(a[0])) == 0);
    };
    return SameBytes(s.withOpen, f.withOpen) && SameBytes(s.withClose, f.withClose) &&
           SameBytes(s.withVolume, f.withVolume) && SameBytes(s.interval, f.interval) && SameBytes(s.gap, f.gap) &&
           SameBytes(s.coarse, f.coarse) && s.binner.sameAs(f.binner) && s.days.sameAs(f.days) &&
           SameBytes(s.current.major, f.current.major) && SameBytes(s.current.minor, f.current.minor) &&
           SameBytes(s.current.end, f.current.end) && sameList(s.bars.time, f.bars.time) &&
           sameList(s.bars.open, f.bars.open) && sameList(s.bars.high, f.bars.high) && sameList(s.bars.low, f.bars.low) &&
           sameList(s.bars.close, f.bars.close) && sameList(s.bars.volume, f.bars.volume) &&
           sameList(s.bars.firstBase, f.bars.firstBase) && sameList(s.bars.lastBase, f.bars.lastBase) &&
           SameBytes(s.bars.lastUnfinished, f.bars.lastUnfinished);
}
void LevelResampler::visitState(LevelResampler& self, state::Reader& v) { State::visitState(*self.state_, v); }

std::size_t LevelResampler::push(const BaseBars& soFar) {
    State& s = *state_;
    const std::size_t i = s.taken;
    if (soFar.time.size() != i + 1) {
        throw std::invalid_argument("push the base bars one at a time, each call with every bar so far");
    }
    CheckBaseBars(soFar);
    if (i == 0) {
        s.withOpen = !soFar.open.empty();
        s.withClose = !soFar.close.empty();
        s.withVolume = !soFar.volume.empty();
    } else if (s.withOpen != !soFar.open.empty() || s.withClose != !soFar.close.empty() ||
               s.withVolume != !soFar.volume.empty()) {
        throw std::invalid_argument("the base series given must be the same at every push");
    }
    const Seconds t = soFar.time[i];
    bool binAgain = false;
    if (i > 0) {
        const Seconds before = soFar.time[i - 1];
        if (t <= before) outOfOrder(i);
        s.days.step(before, t);
        if (s.interval == 0 || t - before < s.interval) {
            s.interval = t - before;
            const bool coarse = !fits(s.period, s.interval);
            const Seconds gap = defaultGap(s.interval, s.options);
            binAgain = (s.coarse && !coarse) || (s.binsFollowGap && gap != s.gap);
            s.gap = gap;
            s.coarse = coarse;
        }
    }
    s.taken = i + 1;
    if (s.coarse) {
        s.bars = LevelBars{};
        return 0;
    }
    std::size_t unchanged = 0;
    if (binAgain) {
        const LevelBars before = std::move(s.bars);
        s.binAll(soFar);
        unchanged = sameLeadingBars(before, s.bars);
    } else {
        const Bin bin = s.binner.next(t);
        addBar(s.bars, soFar, i, i == 0 || !(bin == s.current));
        s.current = bin;
        unchanged = s.bars.size() - 1;
    }
    s.bars.lastUnfinished = lastUnfinished(s.period, s.current, t, s.interval, s.days);
    return unchanged;
}

}  // namespace vlm::levels
