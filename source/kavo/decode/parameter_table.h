#pragma once
// The static rows of the parameter descriptions table, grouped by source.
#include <cstddef>

namespace kavo {

struct ParameterRow {
    const char* name;
    const char* description;
};

struct ParameterGroup {
    const char* source;
    const ParameterRow* rows;
    size_t count;
};

const ParameterGroup* ParameterGroups(size_t& count);

}  // namespace kavo
