#include "jsondocument.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace jsondocument {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// End of the JSON number that starts at `begin`, or nullptr when the text there is not one.
const char *numberEnd(const char *begin, const char *end)
{
    const char *p = begin;
    if (p < end && *p == '-')
        ++p;
    if (p == end || !isDigit(*p))
        return nullptr;
    if (*p == '0')
        ++p;
    else
        while (p < end && isDigit(*p))
            ++p;
    if (p < end && *p == '.') {
        ++p;
        if (p == end || !isDigit(*p))
            return nullptr;
        while (p < end && isDigit(*p))
            ++p;
    }
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p < end && (*p == '+' || *p == '-'))
            ++p;
        if (p == end || !isDigit(*p))
            return nullptr;
        while (p < end && isDigit(*p))
            ++p;
    }
    return p;
}

// True when the number token lies outside what the 64-bit readers can take, so it counts as 0.
bool outOfRange(const char *begin, const char *end)
{
    const bool integral = std::find_if(begin, end, [](char c) {
                              return c == '.' || c == 'e' || c == 'E';
                          }) == end;
    if (integral) {
        std::int64_t value = 0;
        return std::from_chars(begin, end, value).ec != std::errc();
    }
    double value = 0;
    const auto result = std::from_chars(begin, end, value);
    return result.ec != std::errc() || !std::isfinite(value);
}

// A copy of the document with every out-of-range number replaced by 0; false when the text is
// not shaped like JSON numbers and strings, so the original parse error stands.
bool zeroOutOfRangeNumbers(const char *data, size_t size, std::string &out)
{
    out.clear();
    out.reserve(size + padding);
    const char *p = data;
    const char *end = data + size;
    bool inString = false;
    while (p < end) {
        const char c = *p;
        if (inString) {
            if (c == '\\' && p + 1 < end) {
                out.append(p, 2);
                p += 2;
                continue;
            }
            inString = c != '"';
            out.push_back(c);
            ++p;
        } else if (c == '"') {
            inString = true;
            out.push_back(c);
            ++p;
        } else if (c == '-' || isDigit(c)) {
            const char *tokenEnd = numberEnd(p, end);
            // A number running straight into more number text is malformed; so it stays.
            if (!tokenEnd || (tokenEnd < end && std::strchr("0123456789.eE+-", *tokenEnd)))
                return false;
            if (outOfRange(p, tokenEnd))
                out.push_back('0');
            else
                out.append(p, size_t(tokenEnd - p));
            p = tokenEnd;
        } else {
            out.push_back(c);
            ++p;
        }
    }
    out.append(padding, ' ');
    return true;
}

} // namespace

simdjson::simdjson_result<simdjson::dom::element> parse(simdjson::dom::parser &parser,
                                                        const char *data, size_t size,
                                                        std::string &scratch)
{
    auto result = parser.parse(reinterpret_cast<const uint8_t *>(data), size, false);
    if (result.error() != simdjson::NUMBER_ERROR || !zeroOutOfRangeNumbers(data, size, scratch))
        return result;
    return parser.parse(reinterpret_cast<const uint8_t *>(scratch.data()), scratch.size() - padding,
                        false);
}

std::optional<simdjson::dom::element> member(simdjson::dom::object object, std::string_view key)
{
    return members<1>(object, {key})[0];
}

std::optional<qint64> integralValue(simdjson::dom::element value)
{
    switch (value.type()) {
    case simdjson::dom::element_type::INT64:
        return value.get_int64().value_unsafe();
    case simdjson::dom::element_type::UINT64:
        // simdjson only uses this type above the signed range.
        return std::nullopt;
    case simdjson::dom::element_type::DOUBLE: {
        const double number = value.get_double().value_unsafe();
        // -2^63 is representable, 2^63 is not; both bounds are exact doubles.
        if (number >= -9223372036854775808.0 && number < 9223372036854775808.0
            && std::trunc(number) == number)
            return qint64(number);
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

} // namespace jsondocument
