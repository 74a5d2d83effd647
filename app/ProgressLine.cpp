#include "app/ProgressLine.h"

#include <cmath>
#include <cstdio>
#include <string_view>

namespace Raytracer {

namespace {

constexpr double firstShownAfter = 2.0; // seconds: a run shorter than this shows no progress
constexpr double shownEvery = 0.25;     // seconds between rewrites
// Erases what an earlier, longer line left to the right of the cursor.
constexpr std::string_view clearToEnd = "\x1b[K";

std::string duration(double seconds) {
    const long s = std::lround(seconds);
    char text[40];
    if (s < 60) {
        std::snprintf(text, sizeof text, "%ld s", s);
    } else if (s < 3600) {
        std::snprintf(text, sizeof text, "%ld min %02ld s", s / 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld h %02ld min", s / 3600, s / 60 % 60);
    }
    return text;
}

} // namespace

std::string ProgressLine::update(int done, double seconds) {
    if (done >= m_total || seconds < firstShownAfter ||
        (m_shownAt >= 0.0 && seconds - m_shownAt < shownEvery)) {
        return {};
    }
    m_shownAt = seconds;
    const double rate = done / seconds;
    char text[120];
    std::snprintf(text, sizeof text, "\rframe %d of %d, %.1f frames/s, %s left", done, m_total, rate,
                  duration((m_total - done) / rate).c_str());
    return std::string(text).append(clearToEnd);
}

std::string ProgressLine::finish() const {
    return m_shownAt >= 0.0 ? std::string("\r").append(clearToEnd) : std::string();
}

} // namespace Raytracer
