#include "scene/LineTokenizer.h"

#include <cctype>
#include <cstdlib>
#include <limits>

namespace Raytracer {

std::optional<std::string_view> LineTokenizer::next(std::string_view separators) {
    const std::size_t start = m_line.find_first_not_of(separators, m_position);
    if (start == std::string_view::npos) {
        m_position = m_line.size();
        return std::nullopt;
    }
    std::size_t end = m_line.find_first_of(separators, start);
    if (end == std::string_view::npos) {
        end = m_line.size();
        m_position = end;
    } else {
        m_position = end + 1;
    }
    if (m_firstTokenEnd == std::string_view::npos) {
        m_firstTokenEnd = end;
    }
    return m_line.substr(start, end - start);
}

std::string_view LineTokenizer::textFrom(std::size_t offset) const {
    if (offset >= m_line.size() || offset == m_firstTokenEnd) {
        return {};
    }
    if (offset < m_firstTokenEnd) {
        return m_line.substr(offset, m_firstTokenEnd - offset);
    }
    return m_line.substr(offset);
}

std::int32_t LineTokenizer::leadingInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        if (value < limit) {
            value = value * 10 + (text[i] - '0');
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (value < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(value);
}

double LineTokenizer::leadingDouble(std::string_view text) {
    const std::string terminated(text);
    return std::strtod(terminated.c_str(), nullptr);
}

std::string withoutLineEnd(std::string_view text) {
    const std::size_t end = text.find_last_not_of("\r\n");
    return std::string(end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1));
}

} // namespace Raytracer
