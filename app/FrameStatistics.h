#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Raytracer {

// Frame times and ray counts of a headless run, and the lines --stats prints about them.
class FrameStatistics {
  public:
    void add(double milliseconds, std::uint32_t rays);

    // "frame 3: 412.7 ms, 2315520 rays, 5.61 Mrays/s" for the latest frame, numbered from 1.
    std::string lastFrameLine() const;
    // "median: 410.2 ms, 5.63 Mrays/s over 10 frames": the medians of the frame times and of the rates.
    std::string medianLine() const;

  private:
    struct Frame {
        double milliseconds;
        std::uint32_t rays;
    };
    static double megaraysPerSecond(const Frame& frame);

    std::vector<Frame> m_frames;
};

} // namespace Raytracer
