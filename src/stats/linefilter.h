#pragma once

// The scans that let a transcript line through to the JSON parser only when it can hold a
// "usage" key: the literal "usage" or a \u escape of one of its letters. Most bytes of a
// transcript are tool results without either, and skipping them unparsed changes no figure.
// Each variant gives the same answer; the fastest one the processor runs is used.

#include <QList>

#include <cstddef>
#include <optional>
#include <string_view>

enum class LineFilter { portable, sse2, avx2, avx512 };

QList<LineFilter> supportedLineFilters(); // fastest last
LineFilter fastestLineFilter();
const char *lineFilterName(LineFilter filter);
std::optional<LineFilter> lineFilterNamed(std::string_view name);

// Whether the line [line, line + size) can hold a "usage" key. Reads up to this many bytes past
// the end of the line, which must be readable.
constexpr std::size_t lineFilterOverread = 68;
using LineFilterFunction = bool (*)(const char *line, std::size_t size);
LineFilterFunction lineFilterFunction(LineFilter filter);
