#pragma once
// Windows host information: WMI queries, the configuration manager's device
// tree and the conversions that tests can reach without a live host.
#include <string>
#include <vector>

#include <json/value.h>

namespace kavo::windows_host {

// A WMI property value as JSON: integers as numbers, strings as text, arrays
// as one text "{a,  b}". `cimType` is the property's CIM type; an unsigned
// 64-bit property delivered as text becomes a number only when the whole
// text is a decimal number in range.
struct PropertyValue {
    enum class Kind { Empty, Int16, Int32, String, Bool, UInt8, UInt16, UInt32, Int32Array, StringArray, Other };
    Kind kind = Kind::Empty;
    long long integer = 0;
    unsigned long long unsignedInteger = 0;
    bool boolean = false;
    std::string text;
    std::vector<std::string> items;
    bool cimUInt64 = false;
};
Json::Value PropertyToJson(const PropertyValue& value);

// The query lists.
const char* DefaultQueryList();
const char* DriveQueryList();

// Runs a query list and returns its results as ReadWmiInfo leaves them
// ("Wmi Queries" / name / rows); raises KavoError "WMI is not running" when
// the service is stopped. The drive list asks it for the Win32_DiskDrive rows;
// it is WMI itself unless a test has put rows of its own in its place.
using WmiRowSource = Json::Value (*)(const Json::Value& queries);
WmiRowSource& DriveListRows();

}  // namespace kavo::windows_host
