#pragma once

#include <stdexcept>
#include <string>

namespace Raytracer {

// An error the program cannot go on from: a file that cannot be read, an allocation that failed. It
// carries the one line to print and where it goes; the front end prints it and exits non-zero.
// Kept in the lowest layer because every subsystem can meet one.
class FatalError : public std::runtime_error {
  public:
    enum class Stream { standardError, standardOutput };

    explicit FatalError(const std::string& line, Stream stream = Stream::standardError)
        : std::runtime_error(line), m_stream(stream) {}

    Stream stream() const { return m_stream; }

  private:
    Stream m_stream;
};

} // namespace Raytracer
