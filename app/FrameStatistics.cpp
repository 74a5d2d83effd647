#include "app/FrameStatistics.h"

#include <algorithm>
#include <cstdio>

namespace Raytracer {

namespace {

// Middle value; the mean of the two middle values for an even count.
double median(std::vector<double> values) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 == 1 ? values[mid] : 0.5 * (values[mid - 1] + values[mid]);
}

} // namespace

void FrameStatistics::add(double milliseconds, std::uint32_t rays) {
    m_frames.push_back({milliseconds, rays});
}

double FrameStatistics::megaraysPerSecond(const Frame& frame) {
    return frame.milliseconds > 0.0 ? static_cast<double>(frame.rays) / (frame.milliseconds * 1000.0) : 0.0;
}

std::string FrameStatistics::lastFrameLine() const {
    if (m_frames.empty()) {
        return {};
    }
    const Frame& frame = m_frames.back();
    char line[128];
    std::snprintf(line, sizeof line, "frame %zu: %.1f ms, %u rays, %.2f Mrays/s", m_frames.size(),
                  frame.milliseconds, frame.rays, megaraysPerSecond(frame));
    return line;
}

std::string FrameStatistics::medianLine() const {
    std::vector<double> times;
    std::vector<double> rates;
    for (const Frame& frame : m_frames) {
        times.push_back(frame.milliseconds);
        rates.push_back(megaraysPerSecond(frame));
    }
    char line[128];
    std::snprintf(line, sizeof line, "median: %.1f ms, %.2f Mrays/s over %zu frames", median(times),
                  median(rates), m_frames.size());
    return line;
}

} // namespace Raytracer
