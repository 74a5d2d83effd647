#include "app/FrameFileName.h"

namespace Raytracer {

namespace {

struct Parsed {
    std::string prefix;
    std::string suffix;
    int width = 0;
    int numbers = 0;
    std::string problem;
};

Parsed parse(const std::string& pattern) {
    Parsed p;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        std::string& text = p.numbers == 0 ? p.prefix : p.suffix;
        if (pattern[i] != '%') {
            text += pattern[i];
            continue;
        }
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            text += '%';
            ++i;
            continue;
        }
        int width = 0;
        std::size_t j = i + 1;
        if (j + 1 < pattern.size() && pattern[j] == '0' && pattern[j + 1] >= '1' && pattern[j + 1] <= '9') {
            width = pattern[j + 1] - '0';
            j += 2;
        }
        if (j >= pattern.size() || pattern[j] != 'd') {
            p.problem = "a % in the file name must begin %d, %0Nd (N from 1 to 9) or %%";
            return p;
        }
        if (++p.numbers > 1) {
            p.problem = "the file name holds more than one frame number";
            return p;
        }
        p.width = width;
        i = j;
    }
    return p;
}

} // namespace

std::string FrameFileName::problem(const std::string& pattern) {
    return parse(pattern).problem;
}

FrameFileName::FrameFileName(const std::string& pattern) {
    Parsed p = parse(pattern);
    m_prefix = std::move(p.prefix);
    m_suffix = std::move(p.suffix);
    m_width = p.width;
    m_numbered = p.numbers == 1;
}

std::string FrameFileName::forFrame(int frame) const {
    if (!m_numbered) {
        return m_prefix;
    }
    std::string number = std::to_string(frame);
    if (static_cast<int>(number.size()) < m_width) {
        number.insert(0, static_cast<std::size_t>(m_width) - number.size(), '0');
    }
    return m_prefix + number + m_suffix;
}

} // namespace Raytracer
