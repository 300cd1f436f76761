// The Windows storage I/O control buffers, byte by byte, and the WMI value
// conversions: platform-free, so they are checked on every build.
#include <gtest/gtest.h>

#include "base/kavo_json.h"
#include "host/kavo_windows.h"
#include "transport/storage_buffers.h"

using namespace kavo;

namespace {
uint32_t U32(const uint8_t* at) { return storage::ReadU32(at); }
}  // namespace

TEST(StorageBuffers, QueryPropertyForEachKindOfRequest) {
    auto identify = storage::QueryPropertyBuffer({kDataTypeIdentify, 0, 7, 4096});
    EXPECT_EQ(U32(&identify[0]), 49u);
    EXPECT_EQ(U32(&identify[4]), 0u);
    EXPECT_EQ(U32(&identify[8]), 3u);
    EXPECT_EQ(U32(&identify[12]), 1u);
    EXPECT_EQ(U32(&identify[16]), 0u);
    EXPECT_EQ(U32(&identify[20]), 7u);
    EXPECT_EQ(U32(&identify[24]), 40u);
    EXPECT_EQ(U32(&identify[28]), 4096u);
    for (size_t i = 32; i < 48; ++i) EXPECT_EQ(identify[i], 0) << i;
    auto feature = storage::QueryPropertyBuffer({kDataTypeFeature, 0x04, 0x00100000, 0});
    EXPECT_EQ(U32(&feature[12]), 3u);
    EXPECT_EQ(U32(&feature[16]), 4u);
    EXPECT_EQ(U32(&feature[20]), 0x00100000u);
    EXPECT_EQ(U32(&feature[24]), 0u) << "no data offset without data";
    auto log = storage::QueryPropertyBuffer({kDataTypeLogPage, 0x02, 0, 512});
    EXPECT_EQ(U32(&log[12]), 2u);
    EXPECT_EQ(U32(&log[16]), 2u);
}

TEST(StorageBuffers, PassThroughCarriesOpcodeNsidCdw10And11Only) {
    NvmeCommand command;
    command.opcode = 0x14;
    command.nsid = 0xFFFFFFFF;
    command.cdw10 = 2;
    command.cdw11 = 9;
    command.cdw12 = 5;
    auto buffer = storage::PassThroughBuffer(command);
    EXPECT_EQ(buffer.size(), 144u);
    EXPECT_EQ(U32(&buffer[0]), 1u);
    EXPECT_EQ(U32(&buffer[4]), 84u);
    EXPECT_EQ(U32(&buffer[8]), 3u);
    EXPECT_EQ(U32(&buffer[12]), 0x80000000u);
    EXPECT_EQ(U32(&buffer[24]), 64u);
    EXPECT_EQ(U32(&buffer[40]), 2u);
    EXPECT_EQ(U32(&buffer[56]), 1u);
    EXPECT_EQ(buffer[80], 0x14);
    EXPECT_EQ(U32(&buffer[84]), 0xFFFFFFFFu);
    EXPECT_EQ(U32(&buffer[120]), 2u);
    EXPECT_EQ(U32(&buffer[124]), 9u);
    EXPECT_EQ(U32(&buffer[128]), 0u) << "CDW12 is never sent";
}

TEST(WmiValues, EveryVariantKind) {
    using windows_host::PropertyValue;
    using K = PropertyValue::Kind;
    auto convert = [](K kind, long long integer = 0, const std::string& text = "", bool uint64 = false) {
        PropertyValue value;
        value.kind = kind;
        value.integer = integer;
        value.unsignedInteger = static_cast<unsigned long long>(integer);
        value.text = text;
        value.cimUInt64 = uint64;
        return windows_host::PropertyToJson(value);
    };
    EXPECT_EQ(convert(K::Empty), Json::Value(""));
    EXPECT_EQ(convert(K::Int16, -5).asInt(), -5);
    EXPECT_EQ(convert(K::Int32, -70000).asInt(), -70000);
    EXPECT_TRUE(convert(K::UInt32, 4000000000LL).isUInt());
    EXPECT_EQ(convert(K::UInt8, 200).asInt(), 200);
    EXPECT_EQ(convert(K::UInt16, 65535).asInt(), 65535);
    EXPECT_EQ(convert(K::String, 0, "Samsung"), Json::Value("Samsung"));
    EXPECT_EQ(convert(K::Other), Json::Value(""));
    Json::Value capacity = convert(K::String, 0, "17179869184", true);
    EXPECT_TRUE(capacity.isUInt64());
    EXPECT_EQ(capacity.asUInt64(), 17179869184ull);
    EXPECT_EQ(convert(K::String, 0, "18446744073709551615", true).asUInt64(), 18446744073709551615ull);
    // Only a complete, in-range decimal number becomes a number.
    EXPECT_EQ(convert(K::String, 0, "12ab", true), Json::Value("12ab"));
    EXPECT_EQ(convert(K::String, 0, "-1", true), Json::Value("-1"));
    EXPECT_EQ(convert(K::String, 0, "18446744073709551616", true), Json::Value("18446744073709551616"));
    EXPECT_EQ(convert(K::String, 0, "", true), Json::Value(""));
    PropertyValue list;
    list.kind = K::StringArray;
    list.items = {"a", "b"};
    EXPECT_EQ(windows_host::PropertyToJson(list), Json::Value("{a,  b}"));
    list.kind = K::Int32Array;
    list.items = {};
    EXPECT_EQ(windows_host::PropertyToJson(list), Json::Value("{}"));
}

TEST(WmiValues, QueryListsParse) {
    Json::Value list;
    ParseJsonText(windows_host::DefaultQueryList(), list);
    ASSERT_EQ(list["Wmi Queries"].size(), 10u);
    EXPECT_EQ(list["Wmi Queries"][4]["Namespace"].asString(), "Root\\cimv2");
    ParseJsonText(windows_host::DriveQueryList(), list);
    EXPECT_EQ(list["Wmi Queries"][0]["Query"].asString(), "Select Index,PNPDeviceId From Win32_DiskDrive");
}
