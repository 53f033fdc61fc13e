#include "module/ModuleSearch.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

using qam::module::CapPortCount;
using qam::module::ParseFirmwareVersion;
using qam::module::PortAt;
using qam::module::PortOrder;
using qam::module::SyncMaskBit;
using qam::module::TunerTypeOf;

namespace {

struct PortOrderCase {
    int preferred;
    int count;
    std::vector<std::int64_t> ports;
};

class PortOrderTest : public ::testing::TestWithParam<PortOrderCase> {};

TEST_P(PortOrderTest, VisitsPortsInScanOrder) {
    const PortOrderCase& c = GetParam();
    EXPECT_EQ(PortOrder(c.preferred, c.count), c.ports);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PortOrderTest,
    ::testing::Values(
        PortOrderCase{5, 8, {5, 6, 7, 8, 1, 2, 3, 4}},
        PortOrderCase{1, 4, {1, 2, 3, 4}},
        PortOrderCase{4, 4, {4, 1, 2, 3}},
        // Only one subtraction: a preferred port far above the count stays above it.
        PortOrderCase{20, 4, {16, 17, 18, 19}},
        PortOrderCase{0, 3, {0, 1, 2}},
        PortOrderCase{-2, 3, {-2, -1, 0}},
        PortOrderCase{7, 0, {}},
        PortOrderCase{7, -1, {}},
        PortOrderCase{7, INT_MIN, {}},
        // No overflow at either end of the 32-bit range: the 64-bit ports lie outside it or
        // just inside.
        PortOrderCase{INT_MAX, 3, {INT_MAX - 3LL, INT_MAX - 2LL, INT_MAX - 1LL}},
        PortOrderCase{INT_MAX, 1, {INT_MAX - 1LL}},
        PortOrderCase{INT_MIN, 3, {INT_MIN + 0LL, INT_MIN + 1LL, INT_MIN + 2LL}}));

TEST(PortAt, NeverWrapsAroundThe32BitRange) {
    // preferred + i above INT_MAX stays a large positive 64-bit port when it is not above the count.
    EXPECT_EQ(PortAt(INT_MAX, INT_MAX, 1), INT_MAX + 1LL - INT_MAX);
    EXPECT_EQ(PortAt(INT_MAX - 1, INT_MAX, 1), static_cast<std::int64_t>(INT_MAX));
    EXPECT_EQ(PortAt(INT_MAX, 32, 31), INT_MAX + 31LL - 32);
    EXPECT_EQ(PortAt(INT_MIN, 32, 0), static_cast<std::int64_t>(INT_MIN));
}

TEST(PortAt, ExtremePreferredPortsGiveTheArithmeticPort) {
    for (const int preferred : {INT_MIN, INT_MIN + 1, -32, -1, 0, 1, 31, 32, 33, INT_MAX - 32, INT_MAX - 1, INT_MAX}) {
        for (int count = 1; count <= 32; ++count) {
            for (int i = 0; i < count; ++i) {
                const std::int64_t sum = static_cast<std::int64_t>(preferred) + i;
                const std::int64_t port = PortAt(preferred, count, i);
                EXPECT_EQ(port, sum > count ? sum - count : sum) << preferred << " " << count << " " << i;
                // With a count the scan allows, every port stays within the 32-bit range.
                EXPECT_GE(port, static_cast<std::int64_t>(INT_MIN));
                EXPECT_LE(port, static_cast<std::int64_t>(INT_MAX));
            }
        }
    }
}

TEST(CapPortCount, CapsAt32AndKeepsSmallerCounts) {
    const std::vector<std::pair<int, int>> table{{40, 32}, {33, 32}, {32, 32}, {31, 31}, {4, 4},
                                                 {1, 1},   {0, 0},   {-1, -1}, {INT_MAX, 32}, {INT_MIN, INT_MIN}};
    for (const auto& [count, capped] : table) {
        EXPECT_EQ(CapPortCount(count), capped) << "count " << count;
    }
}

TEST(SyncMaskBit, IsTheNonNegativeRemainderOfPortLessOne) {
    const std::vector<std::pair<std::int64_t, int>> table{
        {1, 0},  {2, 1},   {32, 31}, {33, 0},  {64, 31},         {0, 31},
        {-1, 30}, {-31, 0}, {-32, 31}, {INT_MAX, 30}, {INT_MAX + 2LL, 0}, {INT_MIN, 31},
        {INT64_MAX, 30}, {INT64_MIN + 1, 0}, {INT64_MIN, 31}};
    for (const auto& [port, bit] : table) {
        EXPECT_EQ(SyncMaskBit(port), std::uint32_t{1} << bit) << "port " << port;
    }
}

TEST(TunerTypeOf, MatchesAllEightBytesOfEachRow) {
    const std::vector<std::pair<std::string, TunerType>> table{
        {"MB86A1x ", 0}, {"STV0299B", 1}, {"CE6313  ", 2}, {"ALIS3501", 3}, {"STV6110 ", 4}, {"EDU10394", 5},
        // Near misses: case, a missing blank, a zero instead of the blank, another chip.
        {"stv0299b", TUNER_UNKNOWN}, {std::string("MB86A1x\0", 8), TUNER_UNKNOWN}, {"CE6313 X", TUNER_UNKNOWN},
        {"STV6110\t", TUNER_UNKNOWN}, {"EDU10395", TUNER_UNKNOWN}, {"OK\r\nOK\r\n", TUNER_UNKNOWN},
        {std::string(8, '\0'), TUNER_UNKNOWN}};
    for (const auto& [reply, type] : table) {
        ASSERT_EQ(reply.size(), 8u);
        EXPECT_EQ(TunerTypeOf(std::span<const char>(reply.data(), reply.size())), type) << reply;
    }
}

TEST(TunerTypeOf, AReplyOfAnotherSizeIsUnknown) {
    const std::string longer = "STV0299B ";
    EXPECT_EQ(TunerTypeOf(std::span<const char>(longer.data(), 9)), TUNER_UNKNOWN);
    EXPECT_EQ(TunerTypeOf(std::span<const char>(longer.data(), 7)), TUNER_UNKNOWN);
    EXPECT_EQ(TunerTypeOf(std::span<const char>()), TUNER_UNKNOWN);
}

struct VersionCase {
    std::string text;
    double version;
};

class FirmwareVersionTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(FirmwareVersionTest, ReadsTheDecimalNumberAtTheStart) {
    const VersionCase& c = GetParam();
    const double parsed = ParseFirmwareVersion(c.text);
    if (std::isinf(c.version)) {
        EXPECT_EQ(parsed, c.version);
    } else {
        EXPECT_DOUBLE_EQ(parsed, c.version) << '"' << c.text << '"';
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FirmwareVersionTest,
    ::testing::Values(VersionCase{"1.16 A", 1.16}, VersionCase{"2.03 B", 2.03}, VersionCase{"  2.5x", 2.5},
                      VersionCase{"\t\n1.2", 1.2}, VersionCase{"-1.5  ", -1.5}, VersionCase{"+3 abc", 3.0},
                      VersionCase{"1.2.3", 1.2}, VersionCase{".5", 0.5}, VersionCase{"5.", 5.0},
                      VersionCase{"1e3", 1000.0}, VersionCase{"1.5E-1", 0.15}, VersionCase{"1e", 1.0},
                      VersionCase{"1e+", 1.0}, VersionCase{"2e-x", 2.0}, VersionCase{"007", 7.0},
                      VersionCase{"9e9999", HUGE_VAL}, VersionCase{"-9e999", -HUGE_VAL}, VersionCase{"1e-999", 0.0},
                      VersionCase{"0e9999", 0.0}, VersionCase{"0.01e-400", 0.0},
                      // No number there: 0.0. Hexadecimal, infinity and NaN texts are not decimal numbers.
                      VersionCase{"", 0.0}, VersionCase{"abc", 0.0}, VersionCase{".", 0.0}, VersionCase{"-", 0.0},
                      VersionCase{"- 1", 0.0}, VersionCase{"e5", 0.0}, VersionCase{"0x1p3", 0.0},
                      VersionCase{"inf", 0.0}, VersionCase{"nan", 0.0}, VersionCase{"\x80" "1.0", 0.0}));

TEST(FirmwareVersion, ExactlyTheConstantOfTheSettingsRule) {
    // "1.16" must parse to the very double 1.16 so that the ">= 1.16" test passes.
    EXPECT_EQ(ParseFirmwareVersion("1.16 A"), 1.16);
    EXPECT_EQ(ParseFirmwareVersion("1.160"), 1.16);
    EXPECT_LT(ParseFirmwareVersion("1.1599"), 1.16);
}

TEST(FirmwareVersion, StopsAtTheEndOfTheView) {
    const std::string text = "1.16789";
    EXPECT_DOUBLE_EQ(ParseFirmwareVersion(std::string_view(text.data(), 4)), 1.16);
    EXPECT_DOUBLE_EQ(ParseFirmwareVersion(std::string_view(text.data(), 1)), 1.0);
    EXPECT_EQ(ParseFirmwareVersion(std::string_view(text.data(), 0)), 0.0);
}

} // namespace
