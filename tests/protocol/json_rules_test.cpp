#include "protocol/json_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace electron_morvane {
namespace {

struct IntegerCase {
  const char* text;
  std::optional<std::int32_t> expected;  // nullopt: the value must be refused
};

class IntegerRule : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(IntegerRule, ReadsTheLow32BitsOrRefuses) {
  const auto& c = GetParam();
  std::int32_t out = 12345;
  const bool ok = ReadInt32(json::parse(c.text), out);
  ASSERT_EQ(ok, c.expected.has_value()) << c.text;
  EXPECT_EQ(out, c.expected.value_or(12345)) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    JsonRules, IntegerRule,
    ::testing::Values(IntegerCase{"0", 0}, IntegerCase{"-1", -1}, IntegerCase{"2147483647", 2147483647},
                      IntegerCase{"2147483648", INT32_MIN},      // unsigned, wraps to negative
                      IntegerCase{"4294967301", 5},              // 2^32 + 5 keeps its low bits
                      IntegerCase{"-4294967297", -1},            // -(2^32 + 1)
                      IntegerCase{"18446744073709551615", -1},   // 2^64 - 1
                      IntegerCase{"7.9", 7}, IntegerCase{"-7.9", -7},
                      IntegerCase{"1e20", static_cast<std::int32_t>(1661992960)},  // 10^20 mod 2^32
                      IntegerCase{"true", 1}, IntegerCase{"false", 0},
                      IntegerCase{"\"7\"", std::nullopt}, IntegerCase{"null", std::nullopt},
                      IntegerCase{"[1]", std::nullopt}, IntegerCase{"{}", std::nullopt}));

struct DecimalCase {
  const char* text;
  std::optional<std::uint64_t> expected;
};

class DecimalRule : public ::testing::TestWithParam<DecimalCase> {};

TEST_P(DecimalRule, ReadsDigitsOrRefuses) {
  const auto& c = GetParam();
  std::uint64_t out = 42;
  const bool ok = ReadDecimalUInt64(json::parse(c.text), out);
  ASSERT_EQ(ok, c.expected.has_value()) << c.text;
  EXPECT_EQ(out, c.expected.value_or(42)) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    JsonRules, DecimalRule,
    ::testing::Values(DecimalCase{R"("0")", 0}, DecimalCase{R"("12345")", 12345},
                      DecimalCase{R"("18446744073709551615")", UINT64_MAX},
                      DecimalCase{R"("18446744073709551616")", std::nullopt},  // 2^64
                      DecimalCase{R"("99999999999999999999")", std::nullopt},
                      DecimalCase{R"("12345abc")", 12345}, DecimalCase{R"(" \t+7")", 7},
                      DecimalCase{R"("-1")", UINT64_MAX}, DecimalCase{R"("-0")", 0},
                      DecimalCase{R"("")", std::nullopt}, DecimalCase{R"("abc")", std::nullopt},
                      DecimalCase{R"("+")", std::nullopt}, DecimalCase{R"(" - 5")", std::nullopt},
                      DecimalCase{"12345", std::nullopt},  // a JSON number is not text
                      DecimalCase{"null", std::nullopt}));

TEST(JsonRules, TextAcceptsOnlyStrings) {
  std::string out = "untouched";
  for (const char* refused : {"1", "true", "null", "[]", "{}"}) {
    EXPECT_FALSE(ReadText(json::parse(refused), out)) << refused;
  }
  EXPECT_EQ(out, "untouched");
  EXPECT_TRUE(ReadText(json::parse(R"("h\u00e9")"), out));
  EXPECT_EQ(out, "h\xc3\xa9");
}

TEST(JsonRules, BooleanAcceptsOnlyTrueAndFalse) {
  bool out = false;
  for (const char* refused : {"1", "0", "\"true\"", "null"}) {
    EXPECT_FALSE(ReadBool(json::parse(refused), out)) << refused;
  }
  EXPECT_TRUE(ReadBool(json::parse("true"), out));
  EXPECT_TRUE(out);
}

TEST(JsonRules, MemberReadersFailOnMissingMembersAndNonObjects) {
  std::string text;
  std::int32_t number = 0;
  EXPECT_FALSE(ReadText(json::parse(R"({"a":"x"})"), "b", text));
  EXPECT_FALSE(ReadInt32(json::parse("[1]"), "0", number));
  EXPECT_FALSE(ReadInt32(json::parse("null"), "a", number));
  EXPECT_TRUE(ReadInt32(json::parse(R"({"a":3})"), "a", number));
  EXPECT_EQ(number, 3);
}

TEST(JsonRules, ContainsAllNeedsAnObjectWithEveryKey) {
  EXPECT_TRUE(ContainsAll(json::parse(R"({"a":1,"b":null,"c":2})"), {"a", "b"}));
  EXPECT_FALSE(ContainsAll(json::parse(R"({"a":1})"), {"a", "b"}));
  EXPECT_FALSE(ContainsAll(json::parse(R"(["a","b"])"), {"a"}));
  EXPECT_TRUE(ContainsAll(json::parse("42"), {}));
}

}  // namespace
}  // namespace electron_morvane
