#include "app/FatalReport.h"

#include "math/FatalError.h"

#include <cstdio>

namespace Raytracer {

int reportFatal(const FatalError& error) {
    std::FILE* stream = error.stream() == FatalError::Stream::standardOutput ? stdout : stderr;
    std::fprintf(stream, "%s\n", error.what());
    std::fflush(stream);
    return fatalExitStatus;
}

} // namespace Raytracer
