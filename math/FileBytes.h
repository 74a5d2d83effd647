#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Raytracer {

// Binary data files are read whole; none of ours comes near this, and a name that leads to a device
// such as /dev/zero must not read for ever.
constexpr std::size_t maxFileBytes = std::size_t{256} << 20;

// The whole file. Throws FatalError "Error reading file: <path>" when it cannot be opened or read, and
// one line naming it when it holds more than maxFileBytes. Kept in the lowest layer because the
// texture and model readers both need it.
std::vector<std::uint8_t> readFileBytes(const std::string& path);

} // namespace Raytracer
