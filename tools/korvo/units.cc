#include "units.hpp"

#include <cmath>
#include <cstdio>

namespace korvo::cli {

std::string format_bytes(uint64_t bytes) {
    static const char *const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024 && unit < 6) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text,
                  value < 10    ? "%.2f %s"
                  : value < 100 ? "%.1f %s"
                                : "%.0f %s",
                  value, kUnits[unit]);
    return text;
}

std::string format_duration(double seconds) {
    if (!(seconds >= 1))  // also NaN
        return "<1s";
    if (seconds > 359999)
        seconds = 359999;  // 99h59m59s: an estimate beyond is no estimate
    auto whole = static_cast<long>(std::lround(seconds));
    char text[32];
    if (whole < 60)
        std::snprintf(text, sizeof text, "%lds", whole);
    else if (whole < 3600)
        std::snprintf(text, sizeof text, "%ldm%02lds", whole / 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%ldh%02ldm", whole / 3600, whole % 3600 / 60);
    return text;
}

std::string format_local_time(std::time_t when) {
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr)
        return std::to_string(static_cast<long long>(when));
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

}  // namespace korvo::cli
