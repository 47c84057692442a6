#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "levels/resample.h"

namespace vlm::levels {

namespace {

// "YYYY-MM-DD HH:MM" or "YYYY-MM-DD".
Seconds at(const std::string& text) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0;
    std::sscanf(text.c_str(), "%d-%d-%d %d:%d", &y, &mo, &d, &h, &mi);
    return DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * kDay + h * 3600 +
           mi * kMinute;
}

std::string text(Seconds t) {
    int y = 0;
    unsigned mo = 0, d = 0;
    const std::int64_t day = t >= 0 ? t / kDay : (t - kDay + 1) / kDay;
    CivilFromDays(day, y, mo, d);
    const Seconds tod = t - day * kDay;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u %02d:%02d", y, mo, d,
                  static_cast<int>(tod / 3600), static_cast<int>(tod % 3600 / 60));
    return buffer;
}

// One-minute bars labelled at their close, every minute from `first` to `last`.
struct Series {
    std::vector<Seconds> time;
    std::vector<float> high, low;
    std::vector<double> volume;
    void minutes(const std::string& day, const std::string& first, const std::string& last) {
        for (Seconds t = at(day + " " + first); t <= at(day + " " + last); t += kMinute) add(t);
    }
    void add(Seconds t) {
        const auto k = static_cast<float>(time.size());
        time.push_back(t);
        high.push_back(100.0f + k);
        low.push_back(99.0f - k);
        volume.push_back(1.0);
    }
    void drop(const std::string& when) {
        for (std::size_t i = 0; i < time.size(); ++i) {
            if (time[i] == at(when)) {
                time.erase(time.begin() + static_cast<std::ptrdiff_t>(i));
                high.erase(high.begin() + static_cast<std::ptrdiff_t>(i));
                low.erase(low.begin() + static_cast<std::ptrdiff_t>(i));
                volume.erase(volume.begin() + static_cast<std::ptrdiff_t>(i));
                return;
            }
        }
    }
    [[nodiscard]] BaseBars base() const { return {time, {}, high, low, {}, volume}; }
};

// A market day with a lunch break: 09:31-11:30 and 13:01-15:00.
void tradingDay(Series& s, const std::string& day) {
    s.minutes(day, "09:31", "11:30");
    s.minutes(day, "13:01", "15:00");
}

std::vector<std::string> times(const LevelBars& bars) {
    std::vector<std::string> out;
    for (Seconds t : bars.time) out.push_back(text(t));
    return out;
}

struct SessionCase {
    const char* name;
    void (*make)(Series&);
    const char* period;
    Bins bins;
    std::vector<std::string> lastTimes;
    std::vector<double> volumes;
    bool lastUnfinished;
};

const SessionCase kSessionCases[] = {
    {"LunchBreakStartsASession", [](Series& s) { tradingDay(s, "2024-01-02"); }, "60min",
     Bins::Session,
     {"2024-01-02 10:30", "2024-01-02 11:30", "2024-01-02 14:00", "2024-01-02 15:00"},
     {60, 60, 60, 60}, false},
    {"ClockBinsOnCloseLabelledBars", [](Series& s) { tradingDay(s, "2024-01-02"); }, "60min",
     Bins::Clock,
     {"2024-01-02 09:59", "2024-01-02 10:59", "2024-01-02 11:30", "2024-01-02 13:59",
      "2024-01-02 14:59", "2024-01-02 15:00"},
     {29, 60, 31, 59, 60, 1}, true},
    {"MissingBarKeepsTheSession",
     [](Series& s) {
         tradingDay(s, "2024-01-02");
         s.drop("2024-01-02 09:45");
     },
     "30min", Bins::Session,
     {"2024-01-02 10:00", "2024-01-02 10:30", "2024-01-02 11:00", "2024-01-02 11:30",
      "2024-01-02 13:30", "2024-01-02 14:00", "2024-01-02 14:30", "2024-01-02 15:00"},
     {29, 30, 30, 30, 30, 30, 30, 30}, false},
    {"HalfDayEndsWithAWholeBin",
     [](Series& s) {
         tradingDay(s, "2024-01-02");
         s.minutes("2024-01-03", "09:31", "11:30");
     },
     "60min", Bins::Session,
     {"2024-01-02 10:30", "2024-01-02 11:30", "2024-01-02 14:00", "2024-01-02 15:00",
      "2024-01-03 10:30", "2024-01-03 11:30"},
     {60, 60, 60, 60, 60, 60}, false},
    {"BinCutShortByTheLastBar",
     [](Series& s) {
         s.minutes("2024-01-02", "09:31", "11:30");
         s.minutes("2024-01-02", "13:01", "14:20");
     },
     "60min", Bins::Session,
     {"2024-01-02 10:30", "2024-01-02 11:30", "2024-01-02 14:00", "2024-01-02 14:20"},
     {60, 60, 60, 20}, true},
    {"HalfDayIsAnUnfinishedDay",
     [](Series& s) {
         tradingDay(s, "2024-01-02");
         s.minutes("2024-01-03", "09:31", "11:30");
     },
     "day", Bins::Session, {"2024-01-02 15:00", "2024-01-03 11:30"}, {240, 120}, true},
    {"DayReachingTheUsualCloseIsFinished",
     [](Series& s) {
         tradingDay(s, "2024-01-02");
         tradingDay(s, "2024-01-03");
     },
     "day", Bins::Session, {"2024-01-02 15:00", "2024-01-03 15:00"}, {240, 240}, false},
    {"GapOfExactlyTheThresholdKeepsTheSession",
     [](Series& s) {
         s.minutes("2024-01-02", "09:31", "09:40");
         s.minutes("2024-01-02", "09:56", "10:10");  // 16 minutes after 09:40
     },
     "30min", Bins::Session, {"2024-01-02 10:00", "2024-01-02 10:10"}, {15, 10}, true},
    {"GapJustOverTheThresholdSplits",
     [](Series& s) {
         s.minutes("2024-01-02", "09:31", "09:40");
         s.minutes("2024-01-02", "09:57", "10:10");  // 17 minutes after 09:40
     },
     "30min", Bins::Session, {"2024-01-02 09:40", "2024-01-02 10:10"}, {10, 14}, true},
    // The usual close is the latest time an earlier day ended: 15:00, not
    // the half day's 11:30, so a day ending at 13:30 is not over.
    {"UsualCloseIsTheLatestEarlierClose",
     [](Series& s) {
         s.minutes("2024-01-02", "09:31", "11:30");
         tradingDay(s, "2024-01-03");
         s.minutes("2024-01-04", "09:31", "11:30");
         s.minutes("2024-01-04", "13:01", "13:30");
     },
     "day", Bins::Session, {"2024-01-02 11:30", "2024-01-03 15:00", "2024-01-04 13:30"}, {120, 240, 150}, true},
    // Bars a day or more apart make whole days, whatever their time of day.
    {"BarsADayApartAreWholeDays",
     [](Series& s) {
         for (const char* t : {"2024-01-02 15:00", "2024-01-03 15:00", "2024-01-05 10:00"}) s.add(at(t));
     },
     "day", Bins::Session, {"2024-01-02 15:00", "2024-01-03 15:00", "2024-01-05 10:00"}, {1, 1, 1}, false},
    // An ISO week runs Monday to Sunday: a Sunday evening bar ends the week before.
    {"SundayEndsTheIsoWeek",
     [](Series& s) {
         for (const char* t : {"2024-01-05 15:00", "2024-01-07 20:00", "2024-01-08 15:00"}) s.add(at(t));
     },
     "week", Bins::Session, {"2024-01-07 20:00", "2024-01-08 15:00"}, {2, 1}, true},
    {"MissingHalfHourBarKeepsTheSession",
     [](Series& s) {
         for (const char* t : {"10:00", "10:30", "11:30", "12:00"}) s.add(at(std::string("2024-01-02 ") + t));
     },
     "60min", Bins::Session, {"2024-01-02 10:30", "2024-01-02 11:30", "2024-01-02 12:00"}, {2, 1, 1}, true},
    {"IntradayWeekEndingOnFriday",
     [](Series& s) {
         tradingDay(s, "2024-01-04");
         tradingDay(s, "2024-01-05");
     },
     "week", Bins::Session, {"2024-01-05 15:00"}, {480}, false},
};

class SessionBins : public ::testing::TestWithParam<SessionCase> {};

TEST_P(SessionBins, GiveTheExpectedBars) {
    const SessionCase& c = GetParam();
    Series s;
    c.make(s);
    const LevelBars bars = Resample(s.base(), *ParsePeriod(c.period), {c.bins, 0});
    EXPECT_EQ(times(bars), c.lastTimes);
    EXPECT_EQ(bars.volume, c.volumes);
    EXPECT_EQ(bars.lastUnfinished, c.lastUnfinished);
    // Every base bar is in exactly one bar, in order.
    ASSERT_FALSE(bars.firstBase.empty());
    EXPECT_EQ(bars.firstBase.front(), 0);
    EXPECT_EQ(bars.lastBase.back(), static_cast<std::int32_t>(s.time.size()) - 1);
    for (std::size_t k = 1; k < bars.size(); ++k) EXPECT_EQ(bars.firstBase[k], bars.lastBase[k - 1] + 1);
}

INSTANTIATE_TEST_SUITE_P(Levels, SessionBins, ::testing::ValuesIn(kSessionCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Resample, TakesOpenFirstHighMaxLowMinCloseLastVolumeSum) {
    const std::vector<Seconds> time = {at("2024-01-02 09:31"), at("2024-01-02 09:32"),
                                       at("2024-01-02 09:33"), at("2024-01-02 09:34")};
    const std::vector<float> open = {10, 11, 12, 13}, high = {11, 15, 12, 14}, low = {9, 10, 8, 12},
                             close = {10.5f, 12, 9, 13.5f};
    const std::vector<double> volume = {1, 2, 3, 4};
    const LevelBars bars =
        Resample({time, open, high, low, close, volume}, *ParsePeriod("5min"), {Bins::Session, 0});
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_EQ(bars.open, std::vector<float>{10});
    EXPECT_EQ(bars.high, std::vector<float>{15});
    EXPECT_EQ(bars.low, std::vector<float>{8});
    EXPECT_EQ(bars.close, std::vector<float>{13.5f});
    EXPECT_EQ(bars.volume, std::vector<double>{10});
    EXPECT_TRUE(bars.lastUnfinished);  // 09:35 has not come yet
}

// Daily bars into weeks and months: ISO weeks across a new year, and a period
// over only when no weekday of it is left.
struct CalendarCase {
    const char* name;
    const char* first;
    const char* last;
    const char* period;
    std::vector<std::string> lastDays;
    bool lastUnfinished;
};

const CalendarCase kCalendarCases[] = {
    {"WeeksEndingFriday", "2024-01-01", "2024-01-12", "week", {"2024-01-05", "2024-01-12"}, false},
    {"WeekEndingThursday", "2024-01-01", "2024-01-11", "week", {"2024-01-05", "2024-01-11"}, true},
    {"WeekEndingWednesday", "2024-01-01", "2024-01-10", "week", {"2024-01-05", "2024-01-10"}, true},
    {"IsoWeekAcrossTheNewYear", "2024-12-30", "2025-01-06", "week", {"2025-01-03", "2025-01-06"}, true},
    {"MonthEndingOnItsLastFriday", "2024-02-26", "2024-03-29", "month", {"2024-02-29", "2024-03-29"}, false},
    {"MonthWithAWeekdayLeft", "2024-01-29", "2024-02-28", "month", {"2024-01-31", "2024-02-28"}, true},
    {"DaysAreWholeOnDailyBars", "2024-01-01", "2024-01-03", "day",
     {"2024-01-01", "2024-01-02", "2024-01-03"}, false},
};

class CalendarBins : public ::testing::TestWithParam<CalendarCase> {};

TEST_P(CalendarBins, FollowTheCalendar) {
    const CalendarCase& c = GetParam();
    Series s;
    for (Seconds t = at(c.first); t <= at(c.last); t += kDay) {
        int y = 0;
        unsigned m = 0, d = 0;
        CivilFromDays(t / kDay, y, m, d);
        const auto weekday = (t / kDay + 3) % 7;  // 0 Monday
        if (weekday < 5) s.add(t);
    }
    const LevelBars bars = Resample(s.base(), *ParsePeriod(c.period));
    std::vector<std::string> days;
    for (Seconds t : bars.time) days.push_back(text(t).substr(0, 10));
    EXPECT_EQ(days, c.lastDays);
    EXPECT_EQ(bars.lastUnfinished, c.lastUnfinished);
}

INSTANTIATE_TEST_SUITE_P(Levels, CalendarBins, ::testing::ValuesIn(kCalendarCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ParsePeriod, TakesWhatDividesAnHourOrADay) {
    const std::pair<const char*, int> good[] = {{"1min", 1},   {"5min", 5},     {"30min", 30},
                                                {"60min", 60}, {"120min", 120}, {"2h", 120},
                                                {"240min", 240}};
    for (const auto& [name, minutes] : good) {
        const auto p = ParsePeriod(name);
        ASSERT_TRUE(p) << name;
        EXPECT_EQ(p->minutes, minutes) << name;
    }
    for (const char* bad : {"45min", "90min", "300min", "0min", "min", "5", "5m", "week2", "25h", "m", "1m"}) {
        EXPECT_FALSE(ParsePeriod(bad)) << bad;
    }
    // "m" could be minutes or a month: the message names both.
    EXPECT_EQ(PeriodProblem("m"), "'m' could be 1min or month: write one of them");
    EXPECT_EQ(PeriodProblem("1m"), "'1m' could be 1min or month: write one of them");
    EXPECT_EQ(PeriodProblem("5m"), "'5m' could be 5min or month: write one of them");
    EXPECT_EQ(PeriodProblem("45min").rfind("'45min' is not a level (", 0), 0u);
    for (const auto& [name, unit] : {std::pair{"d", Period::Unit::Day}, std::pair{"1d", Period::Unit::Day},
                                     std::pair{"w", Period::Unit::Week}, std::pair{"week", Period::Unit::Week},
                                     std::pair{"month", Period::Unit::Month}}) {
        ASSERT_TRUE(ParsePeriod(name)) << name;
        EXPECT_EQ(ParsePeriod(name)->unit, unit) << name;
    }
    EXPECT_EQ(PeriodName(*ParsePeriod("2h")), "120min");
}

TEST(Resample, RefusesWhatItCannotBin) {
    Series s;
    s.minutes("2024-01-02", "09:35", "09:45");
    Series coarse;
    for (int k = 0; k < 4; ++k) coarse.add(at("2024-01-02 09:30") + k * 30 * kMinute);
    EXPECT_THROW(Resample(coarse.base(), *ParsePeriod("5min")), std::invalid_argument);
    Series backwards = s;
    std::swap(backwards.time[2], backwards.time[3]);
    EXPECT_THROW(Resample(backwards.base(), *ParsePeriod("5min")), std::invalid_argument);
    Series twice = s;
    twice.time[3] = twice.time[2];
    EXPECT_THROW(Resample(twice.base(), *ParsePeriod("5min")), std::invalid_argument);
    // A level as fine as the base interval is no finer than it.
    EXPECT_EQ(Resample(s.base(), *ParsePeriod("1min")).size(), s.time.size());
    const std::vector<float> shortHigh(3, 1.0f);
    EXPECT_THROW(Resample({s.time, {}, shortHigh, s.low, {}, {}}, *ParsePeriod("5min")),
                 std::invalid_argument);
}

// The same bars, field by field (NaN-free series: == is exact).
bool sameBars(const LevelBars& a, const LevelBars& b) {
    return a.time == b.time && a.open == b.open && a.high == b.high && a.low == b.low && a.close == b.close &&
           a.volume == b.volume && a.firstBase == b.firstBase && a.lastBase == b.lastBase &&
           a.lastUnfinished == b.lastUnfinished;
}

std::size_t leadingSame(const LevelBars& a, const LevelBars& b) {
    std::size_t k = 0;
    while (k < a.size() && k < b.size() && a.time[k] == b.time[k] && a.high[k] == b.high[k] &&
           a.low[k] == b.low[k] && a.volume[k] == b.volume[k] && a.firstBase[k] == b.firstBase[k] &&
           a.lastBase[k] == b.lastBase[k]) {
        ++k;
    }
    return k;
}

struct GrowingCase {
    const char* name;
    void (*make)(Series&);
};

const GrowingCase kGrowingCases[] = {
    {"TwoDaysAndAHalfDay",
     [](Series& s) {
         tradingDay(s, "2024-01-02");
         s.drop("2024-01-02 10:00");
         tradingDay(s, "2024-01-03");
         s.minutes("2024-01-04", "09:31", "11:30");
     }},
    // The first gaps are wider than the period: a prefix cannot make it yet.
    {"FirstBarsFarApart",
     [](Series& s) {
         s.add(at("2024-01-02 09:00"));
         s.add(at("2024-01-02 09:45"));
         s.minutes("2024-01-02", "10:01", "11:30");
     }},
    // Five-minute bars set a 20-minute session gap, which keeps an 18-minute
    // hole inside a session; the minute bars after lunch lower it to 16, and
    // the morning splits at the hole.
    {"SmallerGapReformsTheSessions",
     [](Series& s) {
         for (Seconds t = at("2024-01-02 09:35"); t <= at("2024-01-02 10:30"); t += 5 * kMinute) s.add(t);
         for (Seconds t = at("2024-01-02 10:48"); t <= at("2024-01-02 11:28"); t += 5 * kMinute) s.add(t);
         s.minutes("2024-01-02", "13:01", "14:10");
         tradingDay(s, "2024-01-03");
     }},
    {"AcrossAWeekendAndAMonthEnd",
     [](Series& s) {
         for (const char* day : {"2024-01-30", "2024-01-31", "2024-02-01", "2024-02-02", "2024-02-05"}) {
             s.minutes(day, "09:31", "10:30");
         }
     }},
};

// After every push the incremental bars are Resample's on the bars so far,
// including whether the last is finished, and the count it returns is that
// of the leading bars the push left as they were.
TEST(LevelResampler, EqualsResampleOfEveryPrefix) {
    const char* periods[] = {"5min", "30min", "60min", "day", "week", "month"};
    std::size_t rebinned = 0, coarse = 0;
    for (const GrowingCase& c : kGrowingCases) {
        Series s;
        c.make(s);
        for (const char* name : periods) {
            for (const ResampleOptions options :
                 {ResampleOptions{Bins::Session, 0}, ResampleOptions{Bins::Clock, 0},
                  ResampleOptions{Bins::Session, 17 * kMinute}}) {
                LevelResampler resampler(*ParsePeriod(name), options);
                LevelBars before;
                for (std::size_t n = 1; n <= s.time.size(); ++n) {
                    const BaseBars prefix{std::span(s.time).first(n), {}, std::span(s.high).first(n),
                                          std::span(s.low).first(n), {}, std::span(s.volume).first(n)};
                    const std::size_t unchanged = resampler.push(prefix);
                    const std::string where = std::string(c.name) + " " + name + " bins " +
                                              std::to_string(static_cast<int>(options.bins)) + " gap " +
                                              std::to_string(options.sessionGap) + " bars " + std::to_string(n);
                    LevelBars expected;
                    try {
                        expected = Resample(prefix, *ParsePeriod(name), options);
                    } catch (const std::invalid_argument&) {
                        ASSERT_TRUE(resampler.tooCoarse()) << where;
                        ASSERT_EQ(resampler.bars().size(), 0u) << where;
                        ASSERT_EQ(unchanged, 0u) << where;
                        ++coarse;
                        before = LevelBars{};
                        continue;
                    }
                    ASSERT_FALSE(resampler.tooCoarse()) << where;
                    ASSERT_TRUE(sameBars(resampler.bars(), expected)) << where;
                    ASSERT_EQ(unchanged, leadingSame(before, expected)) << where;
                    if (unchanged + 1 < before.size()) ++rebinned;
                    before = expected;
                }
            }
        }
    }
    EXPECT_GT(rebinned, 0u) << "a smaller gap should have re-formed a session";
    EXPECT_GT(coarse, 0u);
}

TEST(LevelResampler, RefusesBarsOutOfOrderOrOutOfStep) {
    Series s;
    s.minutes("2024-01-02", "09:31", "09:33");
    LevelResampler resampler(*ParsePeriod("5min"));
    EXPECT_THROW(resampler.push(s.base()), std::invalid_argument);  // three bars at once
    const BaseBars one{std::span(s.time).first(1), {}, std::span(s.high).first(1), std::span(s.low).first(1), {}, {}};
    resampler.push(one);
    std::swap(s.time[0], s.time[1]);
    const BaseBars two{std::span(s.time).first(2), {}, std::span(s.high).first(2), std::span(s.low).first(2), {}, {}};
    EXPECT_THROW(resampler.push(two), std::invalid_argument);
    EXPECT_THROW(LevelResampler(Period{Period::Unit::Minute, 45}), std::invalid_argument);
}

TEST(CivilDays, RoundTripAndKnownDays) {
    EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
    EXPECT_EQ(DaysFromCivil(2000, 3, 1), 11017);
    EXPECT_EQ(DaysFromCivil(1969, 12, 31), -1);
    for (std::int64_t d = -800000; d < 800000; d += 997) {
        int y = 0;
        unsigned m = 0, day = 0;
        CivilFromDays(d, y, m, day);
        ASSERT_EQ(DaysFromCivil(y, m, day), d);
    }
}

}  // namespace

}  // namespace vlm::levels
