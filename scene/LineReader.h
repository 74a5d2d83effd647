#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <utility>

namespace Raytracer {

// Reads a text stream line by line. A line of any length is one line: the fixed read buffer that
// once cut long lines into pieces parsed as lines of their own is gone.
class LineReader {
  public:
    // Longer lines are not text: a name that leads to a device such as /dev/zero would otherwise grow
    // one line without end.
    static constexpr std::size_t maxLineLength = 1 << 20;

    // name: the file, for messages.
    LineReader(std::FILE* file, std::string name) : m_file(file), m_name(std::move(name)) {}

    // Reads the next line, with its newline when it has one, into `line`. A zero byte ends the text
    // of the line as it would in a C string. False when the stream held nothing more. A line longer
    // than maxLineLength throws FatalError.
    bool readLine(std::string& line);

    // True once a read has met the end of the stream.
    bool atEnd() const { return m_exhausted; }

    // The number of lines read so far, which is the file line number of the last one.
    int lineNumber() const { return m_lineNumber; }

  private:
    // Lines are cut from blocks read whole: reading a character at a time cost more than the parsing.
    static constexpr std::size_t blockSize = 1 << 16;

    std::FILE* m_file;
    std::string m_name;
    int m_lineNumber = 0;
    std::unique_ptr<char[]> m_block; // allocated on the first read, so an unread stream costs nothing
    std::size_t m_next = 0;          // the block's unread bytes are [m_next, m_filled)
    std::size_t m_filled = 0;
    bool m_exhausted = false;
};

} // namespace Raytracer
