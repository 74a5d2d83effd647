#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Raytracer {

// Cuts one text line into tokens the way strtok does: leading separators are skipped and the one
// separator that ends a token is used up, so the separator set may change from call to call. The
// OBJ and MTL readers depend on both (a material name keeps its tabs-and-spaces-only cut).
class LineTokenizer {
  public:
    explicit LineTokenizer(std::string_view line) : m_line(line) {}

    // The next token, or nothing when only separators are left.
    std::optional<std::string_view> next(std::string_view separators);

    // The line from character `offset` on as strtok leaves the buffer after the first token: the
    // separator that ended that token has become a terminator, so the text stops there.
    std::string_view textFrom(std::size_t offset) const;

    // The line as it reads after the first token was cut off: everything up to that terminator.
    std::string_view bufferAfterFirstToken() const { return m_line.substr(0, m_firstTokenEnd); }

    // atoi and atof: the leading number of a text, 0 when there is none. Integers beyond the int32
    // range are clamped to it rather than left undefined.
    static std::int32_t leadingInt(std::string_view text);
    static double leadingDouble(std::string_view text);

  private:
    std::string_view m_line;
    std::size_t m_position = 0;
    std::size_t m_firstTokenEnd = std::string_view::npos;
};

// The text without the CR and LF characters at its end.
std::string withoutLineEnd(std::string_view text);

} // namespace Raytracer
