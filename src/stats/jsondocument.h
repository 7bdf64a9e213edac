#pragma once

// JSON helpers shared by the session record and transcript readers. Internal to the stats
// library: only its sources include simdjson.

#include <QtGlobal>

#include <simdjson.h>

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace jsondocument {

// Bytes that must stay readable past the end of a document handed to parse().
constexpr size_t padding = simdjson::SIMDJSON_PADDING;

// Parses `size` bytes as one whole JSON document; [data + size, data + size + padding) must be
// readable. A document that is valid JSON but holds a number beyond what simdjson represents
// (an integer of more than 20 digits, 1e400) is parsed again with such numbers read as 0, since
// a value outside the 64-bit range counts as 0 anyway. `scratch` holds that rewritten copy.
simdjson::simdjson_result<simdjson::dom::element> parse(simdjson::dom::parser &parser,
                                                        const char *data, size_t size,
                                                        std::string &scratch);

// The value of `key` in `object`, keys compared after unescaping; the last one wins when a key
// repeats, as it would when the document is read into a dictionary.
std::optional<simdjson::dom::element> member(simdjson::dom::object object, std::string_view key);

// The values of several keys by the same rule, in one pass over the object's fields.
template<std::size_t N>
std::array<std::optional<simdjson::dom::element>, N> members(simdjson::dom::object object,
                                                             const std::array<std::string_view, N> &keys)
{
    std::array<std::optional<simdjson::dom::element>, N> found;
    for (const simdjson::dom::key_value_pair field : object) {
        // Length and first byte first: most fields are none of the keys, and a call to compare
        // the rest costs more than the lookup itself.
        for (std::size_t k = 0; k < N; ++k) {
            if (field.key.size() == keys[k].size() && (field.key.empty() || field.key[0] == keys[k][0])
                && field.key == keys[k]) {
                found[k] = field.value;
                break; // the keys differ from one another
            }
        }
    }
    return found;
}

// A JSON number with an integral value inside the signed 64-bit range (10, 10.0, 1e2, -3);
// absent for anything else (10.5, "10", true, null, 1e19, objects).
std::optional<qint64> integralValue(simdjson::dom::element value);

} // namespace jsondocument
