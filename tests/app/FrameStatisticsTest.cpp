#include "app/FrameStatistics.h"

#include <gtest/gtest.h>

namespace Raytracer {
namespace {

TEST(FrameStatistics, LinesInTheDocumentedFormat) {
    FrameStatistics statistics;
    statistics.add(400.0, 2000000);
    statistics.add(412.74, 2315520);
    EXPECT_EQ("frame 2: 412.7 ms, 2315520 rays, 5.61 Mrays/s", statistics.lastFrameLine());
}

TEST(FrameStatistics, MediansOfTimesAndOfRates) {
    FrameStatistics statistics;
    statistics.add(400.0, 2000000); // 5 Mrays/s
    statistics.add(100.0, 1000000); // 10
    statistics.add(200.0, 1200000); // 6
    EXPECT_EQ("median: 200.0 ms, 6.00 Mrays/s over 3 frames", statistics.medianLine());
    statistics.add(300.0, 2400000); // 8
    EXPECT_EQ("median: 250.0 ms, 7.00 Mrays/s over 4 frames", statistics.medianLine());
}

TEST(FrameStatistics, InstantFrameHasNoRate) {
    FrameStatistics statistics;
    statistics.add(0.0, 0);
    EXPECT_EQ("frame 1: 0.0 ms, 0 rays, 0.00 Mrays/s", statistics.lastFrameLine());
}

} // namespace
} // namespace Raytracer
