#include "scene/LineReader.h"

#include "math/FatalError.h"

#include <stdio.h>

namespace Raytracer {

bool LineReader::readLine(std::string& line) {
    line.clear();
    int c = 0;
    // One reader owns the stream, so the per-character lock getc takes is pure cost.
    while ((c = getc_unlocked(m_file)) != EOF) {
        line.push_back(static_cast<char>(c));
        if (c == '\n') {
            break;
        }
        if (line.size() > maxLineLength) {
            throw FatalError(m_name + ", line " + std::to_string(m_lineNumber + 1) + ": longer than " +
                             std::to_string(maxLineLength) + " characters; not a text file");
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
