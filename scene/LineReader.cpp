#include "scene/LineReader.h"

#include "math/FatalError.h"

#include <cstring>

namespace Raytracer {

bool LineReader::readLine(std::string& line) {
    line.clear();
    while (true) {
        if (m_next == m_filled) {
            if (m_exhausted) {
                break;
            }
            if (!m_block) {
                m_block = std::make_unique_for_overwrite<char[]>(blockSize);
            }
            m_next = 0;
            m_filled = std::fread(m_block.get(), 1, blockSize, m_file);
            if (m_filled == 0) {
                m_exhausted = true;
                break;
            }
        }
        const char* start = m_block.get() + m_next;
        const auto* newline = static_cast<const char*>(std::memchr(start, '\n', m_filled - m_next));
        const std::size_t length = newline != nullptr ? static_cast<std::size_t>(newline - start) + 1
                                                      : m_filled - m_next;
        line.append(start, length);
        m_next += length;
        // The newline does not count towards the limit.
        if (line.size() - (newline != nullptr ? 1 : 0) > maxLineLength) {
            throw FatalError(m_name + ", line " + std::to_string(m_lineNumber + 1) + ": longer than " +
                             std::to_string(maxLineLength) + " characters; not a text file");
        }
        if (newline != nullptr) {
            break;
        }
    }
    if (line.empty()) {
        return false;
    }
    ++m_lineNumber;
    const std::size_t zero = line.find('\0');
    if (zero != std::string::npos) {
        line.resize(zero);
    }
    return true;
}

} // namespace Raytracer
