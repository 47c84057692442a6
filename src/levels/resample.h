#pragma once
// Higher-level bars from a base series: N-minute, daily, weekly (ISO weeks)
// and monthly, open first, high max, low min, close last, volume summed.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "levels/civil_time.h"
#include "state/state.h"

namespace vlm::levels {

struct Period {
    enum class Unit { Minute, Day, Week, Month };
    Unit unit = Unit::Day;
    int minutes = 0;  // for Unit::Minute: divides 60, or is a multiple of 60 that divides a day

    friend bool operator==(const Period&, const Period&) = default;
};

// "5min", "30min", "60min", "120min", "day", "week", "month" (also "1h",
// "2h", "d", "w"); nothing for anything else. "m" and "1m" are refused: they
// could mean a minute or a month.
std::optional<Period> ParsePeriod(std::string_view text);
// Why ParsePeriod refuses `text`, as a message that quotes it: for "m" and
// "Nm", that it could be minutes or a month.
std::string PeriodProblem(std::string_view text);
std::string PeriodName(const Period& period);

enum class Bins {
    Session,  // intraday bins counted from each session's first bar
    Clock,    // intraday bins at clock multiples of N minutes from midnight
};

struct ResampleOptions {
    Bins bins = Bins::Session;
    // A gap between two bars longer than this starts a new session; 0 means
    // the default, max(2 x base interval, base interval + 15 minutes), where
    // the base interval is the smallest gap between two bars of the series.
    Seconds sessionGap = 0;

    friend bool operator==(const ResampleOptions&, const ResampleOptions&) = default;
};
// The longest session gap a face takes, in minutes: a week.
inline constexpr long kMaxSessionGapMinutes = 7 * 24 * 60;

// open, close and volume may be empty; high and low hold one value per time.
// Volumes are doubles, so that a sum of whole volumes is exact up to 2^53.
struct BaseBars {
    std::span<const Seconds> time;
    std::span<const float> open, high, low, close;
    std::span<const double> volume;
};

struct LevelBars {
    std::vector<Seconds> time;  // the time of the bar's last base bar
    std::vector<float> open, high, low, close;  // empty where the base has none
    std::vector<double> volume;                 // likewise
    std::vector<std::int32_t> firstBase, lastBase;     // the base bars it holds
    // The last bar's period may not be over yet: more base bars could still
    // join it. Only the last bar can be unfinished.
    bool lastUnfinished = false;
    [[nodiscard]] std::size_t size() const { return high.size(); }
};

// Throws std::invalid_argument, naming the series, for one that does not
// hold a value per bar time (open, close and volume may be empty).
void CheckBaseBars(const BaseBars& base);

// Throws std::invalid_argument for times out of order, a series that does
// not hold one value per time (named; open, close and volume may be empty),
// or an intraday period shorter than the base interval.
LevelBars Resample(const BaseBars& base, const Period& period, const ResampleOptions& options = {});

// Resample of a growing base series: after every push, bars() is what
// Resample gives on the bars so far, its last bar unfinished or not as
// Resample says, in time proportional to the bars pushed (the bins are
// counted again only when a smaller gap between two bars than any before
// changes the default session gap).
class LevelResampler {
public:
    // Throws std::invalid_argument for an intraday period Resample refuses.
    explicit LevelResampler(const Period& period, const ResampleOptions& options = {});
    ~LevelResampler();
    LevelResampler(LevelResampler&&) noexcept;
    LevelResampler& operator=(LevelResampler&&) noexcept;

    // Takes the last bar of `soFar`, whose other bars are those of the
    // earlier pushes, the same series given each time. Returns how many
    // level bars, from the first, are as they were before the push. Throws
    // std::invalid_argument as Resample does for the bars so far, except
    // for bars too coarse for the level (see tooCoarse).
    std::size_t push(const BaseBars& soFar);

    [[nodiscard]] const LevelBars& bars() const;
    // The bars so far are farther apart than an intraday level's period:
    // Resample throws for them, and bars() is empty until a closer pair
    // arrives.
    [[nodiscard]] bool tooCoarse() const;
    // The smallest gap between two bars so far (0 with fewer than two).
    [[nodiscard]] Seconds interval() const;

    // Its running state, for a level replay's (see state/state.h). The
    // count push returns is not state: it is read at once.
    static void visitState(const LevelResampler& self, state::Writer& v);
    static void visitState(LevelResampler& self, state::Reader& v);
    // Whether a state read back is the one these bars make (the bars the
    // pushes were given, whole); it is computed again to be compared.
    [[nodiscard]] bool madeBy(const BaseBars& soFar) const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Throws std::invalid_argument, with Resample's message, when an intraday
// level is shorter than the base interval.
void CheckBaseInterval(const Period& period, Seconds interval);

// The base interval and the session gap in force for a series.
Seconds BaseInterval(std::span<const Seconds> time);
Seconds SessionGap(std::span<const Seconds> time, const ResampleOptions& options);

}  // namespace vlm::levels
