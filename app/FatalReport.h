#pragma once

namespace Raytracer {

class FatalError;

// Exit status of a run that failed on bad input or exhausted resources.
constexpr int fatalExitStatus = 1;

// Prints the error's one line on its stream and returns fatalExitStatus.
int reportFatal(const FatalError& error);

} // namespace Raytracer
