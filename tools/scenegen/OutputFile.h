#pragma once

#include <stdexcept>
#include <string>

namespace Raytracer::Scenegen {

// A generated file that could not be written; what() is one line naming the file.
class OutputError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// directory + "/" + name, without doubling a trailing slash.
std::string joinPath(const std::string& directory, const std::string& name);

// Writes bytes to path in binary mode (so "\n" stays one byte everywhere); throws OutputError.
void writeOutputFile(const std::string& path, const std::string& bytes);

} // namespace Raytracer::Scenegen
