#include "levels/resample.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <utility>

namespace vlm::levels {

namespace {

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

std::int64_t dayOf(Seconds t) { return floorDiv(t, kDay); }
Seconds timeOfDay(Seconds t) { return t - dayOf(t) * kDay; }
// 1 Monday .. 7 Sunday; 1970-01-01 was a Thursday.
int isoWeekday(std::int64_t days) { return static_cast<int>(days + 3 - floorDiv(days + 3, 7) * 7) + 1; }

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

// Whether the day of the last bar is over: bars of coarser-than-intraday
// bases are whole days; otherwise the day has reached the latest time of day
// at which an earlier day ended.
bool dayComplete(std::span<const Seconds> time, Seconds interval) {
    if (interval >= kDay) return true;
    const std::int64_t lastDay = dayOf(time.back());
    bool earlier = false;
    Seconds usualClose = 0;
    for (std::size_t i = 0; i + 1 < time.size(); ++i) {
        if (dayOf(time[i]) != dayOf(time[i + 1]) && dayOf(time[i]) < lastDay) {
            usualClose = earlier ? std::max(usualClose, timeOfDay(time[i])) : timeOfDay(time[i]);
            earlier = true;
        }
    }
    return earlier && timeOfDay(time.back()) >= usualClose;
}

// No weekday is left in the period after `days` up to and including `lastDay`.
bool onlyWeekendLeft(std::int64_t days, std::int64_t lastDay) {
    for (std::int64_t d = days + 1; d <= lastDay; ++d) {
        if (isoWeekday(d) <= 5) return false;
    }
    return true;
}

}  // namespace

std::int64_t DaysFromCivil(int year, unsigned month, unsigned day) {
    const int y = year - (month <= 2 ? 1 : 0);
    const std::int64_t era = floorDiv(y, 400);
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t days, int& year, unsigned& month, unsigned& day) {
    const std::int64_t z = days + 719468;
    const std::int64_t era = floorDiv(z, 146097);
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
    if (text == "month" || text == "m" || text == "1m") return Period{Unit::Month, 0};
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
    if (options.sessionGap > 0) return options.sessionGap;
    const Seconds interval = BaseInterval(time);
    return std::max(2 * interval, interval + 15 * kMinute);
}

LevelBars Resample(const BaseBars& base, const Period& period, const ResampleOptions& options) {
    const std::size_t n = base.time.size();
    const auto covers = [n](std::span<const float> s) { return s.empty() || s.size() == n; };
    if (base.high.size() != n || base.low.size() != n || !covers(base.open) || !covers(base.close) ||
        !covers(base.volume)) {
        throw std::invalid_argument("every base series must have one value per bar time");
    }
    for (std::size_t i = 1; i < n; ++i) {
        if (base.time[i] <= base.time[i - 1]) {
            throw std::invalid_argument("base bar " + std::to_string(i) +
                                        " is not later than the bar before it");
        }
    }
    const bool intraday = period.unit == Period::Unit::Minute;
    if (intraday && !validMinutes(period.minutes)) {
        throw std::invalid_argument("an intraday level divides an hour or is whole hours dividing a day");
    }
    const Seconds interval = BaseInterval(base.time);
    const Seconds width = static_cast<Seconds>(period.minutes) * kMinute;
    if (intraday && interval > width) {
        throw std::invalid_argument("the base bars are " + std::to_string(interval / kMinute) +
                                    " minutes apart: a " + PeriodName(period) +
                                    " level needs bars at most " + std::to_string(period.minutes) +
                                    " minutes apart");
    }
    const Seconds gap = SessionGap(base.time, options);

    LevelBars out;
    std::int64_t session = -1;
    Seconds sessionFirst = 0;
    Bin current;
    for (std::size_t i = 0; i < n; ++i) {
        const Seconds t = base.time[i];
        if (i == 0 || t - base.time[i - 1] > gap) {
            ++session;
            sessionFirst = t;
        }
        Bin bin;
        switch (period.unit) {
            case Period::Unit::Minute:
                if (options.bins == Bins::Session) {
                    bin.major = session;
                    bin.minor = (t - sessionFirst) / width;
                    bin.end = sessionFirst + (bin.minor + 1) * width;
                } else {
                    bin.major = dayOf(t);
                    bin.minor = timeOfDay(t) / width;
                    bin.end = bin.major * kDay + (bin.minor + 1) * width;
                }
                break;
            case Period::Unit::Day: bin.major = dayOf(t); break;
            case Period::Unit::Week: bin.major = floorDiv(dayOf(t) + 3, 7); break;
            case Period::Unit::Month: {
                int y = 0;
                unsigned m = 0, d = 0;
                CivilFromDays(dayOf(t), y, m, d);
                bin.major = static_cast<std::int64_t>(y) * 12 + m - 1;
                break;
            }
        }
        const auto bar = static_cast<std::int32_t>(i);
        if (i == 0 || !(bin == current)) {
            current = bin;
            out.time.push_back(t);
            out.high.push_back(base.high[i]);
            out.low.push_back(base.low[i]);
            if (!base.open.empty()) out.open.push_back(base.open[i]);
            if (!base.close.empty()) out.close.push_back(base.close[i]);
            if (!base.volume.empty()) out.volume.push_back(base.volume[i]);
            out.firstBase.push_back(bar);
            out.lastBase.push_back(bar);
            continue;
        }
        out.time.back() = t;
        out.high.back() = base.high[i] > out.high.back() ? base.high[i] : out.high.back();
        out.low.back() = base.low[i] < out.low.back() ? base.low[i] : out.low.back();
        if (!base.close.empty()) out.close.back() = base.close[i];
        if (!base.volume.empty()) out.volume.back() += base.volume[i];
        out.lastBase.back() = bar;
    }
    if (n == 0) return out;

    const Seconds last = base.time.back();
    const std::int64_t lastDay = dayOf(last);
    switch (period.unit) {
        case Period::Unit::Minute:
            out.lastUnfinished = interval == 0 || last + interval < current.end;
            break;
        case Period::Unit::Day:
            out.lastUnfinished = !dayComplete(base.time, interval);
            break;
        case Period::Unit::Week: {
            const std::int64_t sunday = current.major * 7 + 3;  // the week's last day
            out.lastUnfinished = !dayComplete(base.time, interval) || !onlyWeekendLeft(lastDay, sunday);
            break;
        }
        case Period::Unit::Month: {
            int y = 0;
            unsigned m = 0, d = 0;
            CivilFromDays(lastDay, y, m, d);
            const std::int64_t monthEnd =
                (m == 12 ? DaysFromCivil(y + 1, 1, 1) : DaysFromCivil(y, m + 1, 1)) - 1;
            out.lastUnfinished = !dayComplete(base.time, interval) || !onlyWeekendLeft(lastDay, monthEnd);
            break;
        }
    }
    return out;
}

}  // namespace vlm::levels
