#include "tools/scenegen/TextFormat.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace Raytracer::Scenegen {

std::string formatNumber(double value) {
    if (std::fabs(value) < 5e-7) {
        value = 0.0;
    }
    return format("%.6g", value);
}

std::string format(const char* pattern, ...) {
    va_list arguments;
    va_start(arguments, pattern);
    va_list copy;
    va_copy(copy, arguments);
    const int length = std::vsnprintf(nullptr, 0, pattern, copy);
    va_end(copy);
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), pattern, arguments);
    va_end(arguments);
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

} // namespace Raytracer::Scenegen
