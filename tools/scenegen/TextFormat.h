#pragma once

#include <string>

namespace Raytracer::Scenegen {

// A number as the generated text files write it: printf "%.6g", with values that round to zero
// written as 0 (never -0), so that the files are the same on every platform.
std::string formatNumber(double value);

// printf-style formatting into a std::string.
std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

} // namespace Raytracer::Scenegen
