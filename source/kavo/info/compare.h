#pragma once
// Compare of a sample with a reference info document: static values must
// stay equal, wear counters may only grow.
#include <string>
#include <string_view>

#include "decode/info_document.h"

namespace kavo {

// "exact", "counter" or "ignore" for a parameter, as a static literal.
const char* CompareTypeText(std::string_view setting, std::string_view name, std::string_view source, bool sameDrive);
inline std::string CompareType(std::string_view setting, std::string_view name, std::string_view source, bool sameDrive) {
    return CompareTypeText(setting, name, source, sameDrive);
}

// Compares `current` with `reference`: every current record gets its compare
// type, the differences go to "all mismatches" and the failures to "compare
// mismatches", with their counts. Numbers compare exactly; a reference
// written before records had numbers compares by its value texts. True when
// nothing failed.
bool CompareNvmeInfo(const InfoDocument& reference, InfoDocument& current, const std::string& setting);

}  // namespace kavo
