#include <gtest/gtest.h>

#include "base/wide_integer.h"

using namespace kavo;

namespace {
// "-5", "0", "340282366920938463463374607431768211455", or "none".
std::string Read(const std::string& text) {
    WideSigned value;
    if (!ParseWideInteger(text, value)) return "none";
    return (value.negative && value.magnitude != 0 ? "-" : "") + DecimalText(value.magnitude);
}
WideSigned Signed(bool negative, uint128 magnitude) { return WideSigned{negative, magnitude}; }
std::string Delta(const WideSigned& left, const WideSigned& right) {
    std::optional<WideSigned> delta = Difference(left, right);
    if (!delta) return "overflow";
    return (delta->negative ? "-" : "") + DecimalText(delta->magnitude);
}
}  // namespace

TEST(WideInteger, TextsInEveryRadixAndTheFullMagnitude) {
    EXPECT_EQ(Read("0"), "0");
    EXPECT_EQ(Read("-0"), "0");
    EXPECT_EQ(Read("1234"), "1234");
    EXPECT_EQ(Read("-1234"), "-1234");
    EXPECT_EQ(Read("0x1F"), "31");
    EXPECT_EQ(Read("0XfF"), "255");
    EXPECT_EQ(Read("-0x10"), "-16");
    EXPECT_EQ(Read("010"), "8");
    EXPECT_EQ(Read("-0777"), "-511");
    // A lone sign or prefix has always read as zero.
    EXPECT_EQ(Read("-"), "0");
    EXPECT_EQ(Read("0x"), "0");
    EXPECT_EQ(Read("340282366920938463463374607431768211455"), "340282366920938463463374607431768211455");
    EXPECT_EQ(Read("-340282366920938463463374607431768211455"), "-340282366920938463463374607431768211455");
    EXPECT_EQ(Read("0xFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"), "340282366920938463463374607431768211455");
}

TEST(WideInteger, RefusesOtherCharactersAndMagnitudesBeyond128Bits) {
    for (const char* text : {"+5", "08", "0b1", "1e3", "5-", "--5", "0x-5", "x5", "1a", "0xg", " 5", "1,000"})
        EXPECT_EQ(Read(text), "none") << text;
    EXPECT_EQ(Read("340282366920938463463374607431768211456"), "none");
    EXPECT_EQ(Read("0x100000000000000000000000000000000"), "none");
    EXPECT_EQ(Read("99999999999999999999999999999999999999999"), "none");
}

TEST(WideInteger, OrderAcrossSignsAndZero) {
    EXPECT_TRUE(Signed(true, 5) < Signed(false, 0));
    EXPECT_TRUE(Signed(true, 5) < Signed(true, 4));
    EXPECT_TRUE(Signed(false, 4) < Signed(false, 5));
    EXPECT_FALSE(Signed(true, 0) < Signed(false, 0));
    EXPECT_FALSE(Signed(false, 0) < Signed(true, 0));
    EXPECT_TRUE(Signed(false, kUint128Max) >= Signed(false, kUint128Max - 1));
}

TEST(WideInteger, DifferencesUpToTheFullMagnitude) {
    EXPECT_EQ(Delta(Signed(false, 1201), Signed(false, 1200)), "1");
    EXPECT_EQ(Delta(Signed(false, 1199), Signed(false, 1200)), "-1");
    EXPECT_EQ(Delta(Signed(true, 3), Signed(true, 5)), "2");
    EXPECT_EQ(Delta(Signed(true, 5), Signed(false, 3)), "-8");
    EXPECT_EQ(Delta(Signed(false, 5), Signed(false, 5)), "0");
    EXPECT_EQ(Delta(Signed(true, 5), Signed(true, 5)), "0");
    EXPECT_EQ(Delta(Signed(false, kUint128Max), Signed(false, 0)), "340282366920938463463374607431768211455");
    EXPECT_EQ(Delta(Signed(false, 0), Signed(false, kUint128Max)), "-340282366920938463463374607431768211455");
    EXPECT_EQ(Delta(Signed(false, kUint128Max), Signed(true, 1)), "overflow");
    EXPECT_EQ(Delta(Signed(true, kUint128Max), Signed(false, 1)), "overflow");
    EXPECT_EQ(Delta(Signed(true, 1), Signed(true, kUint128Max)), "340282366920938463463374607431768211454");
}
