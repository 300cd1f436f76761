#pragma once
// The JSON library's default styled layout (tab indentation, " : ", every
// non-empty array one element a line), written straight into a string.
// The library's writer looks every member up by name and goes through a
// stream for each token; documents of hundreds of parameters are written at
// every run, so their text is made here, byte for byte as the library makes
// it.
#include <string>

#include <json/value.h>

namespace kavo {

// Appends `value` in the library's styled layout to `out`. False (with
// `out` unchanged) for what only the library writes: values that carry
// comments, strings with a NUL byte.
bool AppendStyledJson(const Json::Value& value, std::string& out);
// The same in the library's layout for an empty indentation: one line,
// ":" between name and value, "," between members and elements.
bool AppendCompactJson(const Json::Value& value, std::string& out);

}  // namespace kavo
