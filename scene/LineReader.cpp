#include "scene/LineReader.h"

#include "math/FatalError.h"

namespace Raytracer {

bool LineReader::readLine(std::string& line) {
    line.clear();
    int c = 0;
    while ((c = std::getc(m_file)) != EOF) {
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
