#pragma once

#include <chrono>
#include <ctime>
#include <string>

namespace vak {

using SteadyClock = std::chrono::steady_clock;

// Converts seconds to a clock duration, treating NaN and negatives as zero and capping
// absurdly large values at a year so deadline arithmetic cannot overflow.
inline SteadyClock::duration durationFromSeconds(double seconds) {
    if (!(seconds > 0)) return SteadyClock::duration::zero();
    constexpr double kYear = 365.0 * 24 * 3600;
    if (seconds > kYear) seconds = kYear;
    return std::chrono::duration_cast<SteadyClock::duration>(
        std::chrono::duration<double>(seconds));
}

inline SteadyClock::time_point deadlineAfter(double seconds) {
    return SteadyClock::now() + durationFromSeconds(seconds);
}

inline double secondsSince(SteadyClock::time_point start) {
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

// `when` in local time as "YYYY-MM-DD HH:MM", how the history and the kept recordings are listed.
inline std::string localMinuteText(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return std::string(text, n);
}

} // namespace vak
