#pragma once

#include <string>

namespace Raytracer {

// How far a long headless run has come, for a terminal: "frame 12 of 300, 2.4 frames/s, 2 min 00 s
// left", rewritten in place. It appears only once a run has taken a few seconds, so short runs print
// nothing, and changes a few times a second at most. The caller decides whether there is a terminal.
class ProgressLine {
  public:
    explicit ProgressLine(int totalFrames) : m_total(totalFrames) {}

    // What to write after frame done (from 1) finished at seconds since the run began: a carriage
    // return and the line, or nothing.
    std::string update(int done, double seconds);
    // What clears a line shown earlier, so that the terminal is left as it was found.
    std::string finish() const;

  private:
    int m_total;
    double m_shownAt = -1.0; // when the line was last written, negative before the first time
};

} // namespace Raytracer
