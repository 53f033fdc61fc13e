#include "module/ChannelSettings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using qam::module::DecodeChannelSettings;
using qam::module::ModeNumber;
using qam::module::NumberCommand;
using qam::module::PlanChannelWrite;
using qam::module::WriteStep;

namespace {

std::string Describe(const WriteStep& step) {
    switch (step.kind) {
    case WriteStep::Kind::Timeouts:
        return "timeouts " + std::to_string(step.readConstant);
    case WriteStep::Kind::Block: {
        std::string text(step.command.data(), 4);
        text += " [" + std::to_string(step.data.size()) + "]";
        for (std::uint8_t b : step.data.first(std::min<std::size_t>(step.data.size(), 4))) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02X", b);
            text += hex;
        }
        return text;
    }
    case WriteStep::Kind::Command:
        break;
    }
    std::string text;
    if (step.command[0] == 'p' && step.command[1] == '+') {
        const int n = static_cast<std::uint8_t>(step.command[2]) + 256 * static_cast<std::uint8_t>(step.command[3]);
        text = "p+ " + std::to_string(n);
    } else {
        text.assign(step.command.data(), 4);
    }
    if (step.resultDropped) {
        text += " dropped";
    }
    if (!step.showBox) {
        text += " silent";
    }
    if (step.commit) {
        text += " commit";
    }
    return text;
}

std::vector<std::string> Describe(const std::vector<WriteStep>& steps) {
    std::vector<std::string> texts;
    for (const WriteStep& step : steps) {
        texts.push_back(Describe(step));
    }
    return texts;
}

void Put16(SettingsRecord& record, std::size_t offset, unsigned value) {
    record.data[offset] = static_cast<std::uint8_t>(value);
    record.data[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

// J 1234, I 2345, mode 0, H 8192, S 1024, Q 300, y 1024, LNB 9, LND 10.
SettingsRecord SampleImage() {
    SettingsRecord record;
    record.length = 18;
    Put16(record, 0, 1234);
    Put16(record, 2, 2345);
    record.data[4] = 0x00;
    record.data[5] = 0xEE;
    Put16(record, 6, 8192);
    Put16(record, 8, 1024);
    Put16(record, 10, 300);
    record.data[12] = 0xAA;
    record.data[13] = 0xBB;
    Put16(record, 14, 1024);
    record.data[16] = 9;
    record.data[17] = 10;
    return record;
}

const std::vector<std::string> COMMIT_TAIL{"timeouts 10000", "ZAll commit", "timeouts 5000"};

std::vector<std::string> Join(std::vector<std::string> head, const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

TEST(ModeNumber, TheCasesOfTheModeByte) {
    const std::vector<std::pair<int, int>> table{{0x00, 801}, {0x04, 701}, {0x0E, 712}, {0x12, 813}, {0x1E, 711},
                                                 {0x02, 811}, {0x08, 802}, {0x10, 803}, {0x18, 801}, {0x1C, 701},
                                                 {0xE1, 801}, {0xFF, 711}};
    for (const auto& [mode, number] : table) {
        EXPECT_EQ(ModeNumber(static_cast<std::uint8_t>(mode)), number) << "mode " << mode;
    }
}

TEST(ModeNumber, Bits0And5To7PlayNoPart) {
    for (int mode = 0; mode < 256; ++mode) {
        const int number = ModeNumber(static_cast<std::uint8_t>(mode));
        EXPECT_EQ(number, ModeNumber(static_cast<std::uint8_t>(mode & 0x1E))) << mode;
        EXPECT_GE(number, 701);
        EXPECT_LE(number, 813);
    }
}

TEST(NumberCommand, FormatsThreeDigitsAndKeepsTheFirstFourCharacters) {
    const std::vector<std::tuple<const char*, unsigned, std::string>> table{
        {"J%03d", 0, "J000"},     {"J%03d", 7, "J007"},   {"j%03d", 999, "j999"}, {"J%03d", 1000, "J100"},
        {"J%03d", 16777, "J167"}, {"LNB%d", 5, "LNB5"},   {"LND%X", 10, "LNDA"},  {"LND%X", 15, "LNDF"},
        {"LND%X", 0, "LND0"},     {"M%03d", 813, "M813"}, {"y%03d", 999, "y999"}};
    for (const auto& [format, value, command] : table) {
        const auto sent = NumberCommand(format, value);
        EXPECT_EQ(std::string(sent.data(), 4), command) << format << " " << value;
    }
}

TEST(DecodeChannelSettings, TakesEachValueFromItsBytes) {
    SettingsRecord record = SampleImage();
    record.data[2] = 0x29; // I low byte, also the high byte of the 24-bit J
    record.data[3] = 0xC7; // i of tuner type 5
    ChannelSettings expected;
    expected.j = 1234;
    expected.j24 = 1234 + (0x29u << 16);
    expected.i = 0xC729;
    expected.i8 = 0xC7;
    expected.mode = 0;
    expected.h = 8192;
    expected.s = 1024;
    expected.q = 300;
    expected.y = 1024;
    expected.lnb = 9;
    expected.lnd = 10;
    EXPECT_EQ(DecodeChannelSettings(record.data), expected);
}

TEST(DecodeChannelSettings, BytesBeyondAShortImageReadAsZero) {
    const std::vector<std::uint8_t> image{0x01, 0x02, 0x03};
    ChannelSettings expected;
    expected.j = 0x0201;
    expected.j24 = 0x030201;
    expected.i = 0x03;
    EXPECT_EQ(DecodeChannelSettings(image), expected);
    EXPECT_EQ(DecodeChannelSettings({}), ChannelSettings{});
}

TEST(PlanChannelWrite, EveryValueOfChannelZeroWithLimitsAndSplits) {
    const SettingsRecord image = SampleImage();
    BlsBlock bls;
    bls.length = 5;
    bls.data = {0x10, 0x20, 0x30, 0x40, 0x50};
    std::array<std::uint8_t, FILTER_BITMAP_BYTES> bitmap{};
    bitmap[0] = 0x81;   // bits 0 and 7
    bitmap[1] = 0x01;   // bit 8
    bitmap[1023] = 0x80; // bit 8191

    const auto plan = PlanChannelWrite(0, &image, bitmap.data(), &bls, 1, 2.0);
    EXPECT_EQ(Describe(plan), Join({"timeouts 25000", "c000", "LNB5", "LNDA", "WBLS [5] 10 20 30 40", "I002",
                                    "i345 dropped silent", "J001", "j234 dropped silent", "timeouts 5000", "M801",
                                    "H000", "h819", "S001", "s024", "Q008", "y999", "p+ 0", "p+ 7", "p+ 8",
                                    "p+ 8191"},
                                   COMMIT_TAIL));
}

TEST(PlanChannelWrite, ChannelOneSendsNoH) {
    const SettingsRecord image = SampleImage();
    const auto plan = PlanChannelWrite(1, &image, nullptr, nullptr, 0, 0.0);
    EXPECT_EQ(Describe(plan), Join({"timeouts 25000", "c001", "LNB5", "LNDA", "I002", "i345 dropped silent", "J001",
                                    "j234 dropped silent", "timeouts 5000", "M801", "S001", "s024", "Q008", "y999"},
                                   COMMIT_TAIL));
}

TEST(PlanChannelWrite, WithoutAnImageNeitherValuesNorBls) {
    BlsBlock bls;
    bls.length = 3;
    std::array<std::uint8_t, FILTER_BITMAP_BYTES> bitmap{};
    bitmap[2] = 0x02; // bit 17
    EXPECT_EQ(Describe(PlanChannelWrite(1, nullptr, bitmap.data(), &bls, 5, 1.16)),
              Join({"timeouts 25000", "c001", "p+ 17"}, COMMIT_TAIL));
    EXPECT_EQ(Describe(PlanChannelWrite(0, nullptr, nullptr, nullptr, 1, 1.0)),
              Join({"timeouts 25000", "c000"}, COMMIT_TAIL));
}

struct PlpCase {
    const char* name;
    double version;
    std::uint8_t byte17;
    std::vector<std::string> head; // the steps between "c000" and "i..."
};

class PlpPlanTest : public ::testing::TestWithParam<PlpCase> {};

TEST_P(PlpPlanTest, TunerTypeFiveChoosesByVersionAndByte17) {
    const PlpCase& c = GetParam();
    SettingsRecord image = SampleImage();
    image.data[0] = 0x3F; // J 24-bit = 0xFF423F = 16728639
    image.data[1] = 0x42;
    image.data[2] = 0xFF;
    image.data[3] = 200;
    image.data[16] = 7;
    image.data[17] = c.byte17;
    BlsBlock bls;
    bls.length = 2;
    bls.data[0] = 0xAB;
    bls.data[1] = 0xCD;

    std::vector<std::string> expected{"timeouts 25000", "c000"};
    expected.insert(expected.end(), c.head.begin(), c.head.end());
    expected = Join(expected, {"WBLS [2] AB CD", "i200 dropped silent", "J167", "j639 dropped silent",
                               "timeouts 5000", "M801", "H000", "h819", "S001", "s024", "Q008", "y999"});
    EXPECT_EQ(Describe(PlanChannelWrite(0, &image, nullptr, &bls, 5, c.version)), Join(expected, COMMIT_TAIL));
}

INSTANTIATE_TEST_SUITE_P(
    Table, PlpPlanTest,
    ::testing::Values(PlpCase{"Below116", 1.15, 1, {"LNB5", "LND1"}}, PlpCase{"At116Byte0", 1.16, 0, {"WPLP [2] 07 00"}},
                      PlpCase{"At116Byte1", 1.16, 1, {"WPLP [2] 07 01"}}, PlpCase{"At116Byte2", 1.16, 2, {}},
                      PlpCase{"Above116Byte255", 3.5, 255, {}}, PlpCase{"Below116Byte16", 1.0, 16, {"LNB5"}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(PlanChannelWrite, OnlyTheIAndJRemaindersAreDropped) {
    const SettingsRecord image = SampleImage();
    std::array<std::uint8_t, FILTER_BITMAP_BYTES> bitmap{};
    bitmap[5] = 0xFF;
    for (const WriteStep& step : PlanChannelWrite(0, &image, bitmap.data(), nullptr, 1, 1.0)) {
        if (step.kind != WriteStep::Kind::Command) {
            continue;
        }
        const bool remainder = step.command[0] == 'i' || step.command[0] == 'j';
        EXPECT_EQ(step.resultDropped, remainder) << Describe(step);
        EXPECT_EQ(step.showBox, !remainder) << Describe(step);
        EXPECT_EQ(step.commit, std::string(step.command.data(), 4) == "ZAll");
    }
}

TEST(PlanChannelWrite, AFullBitmapIsEveryBitInRisingOrder) {
    std::array<std::uint8_t, FILTER_BITMAP_BYTES> bitmap;
    bitmap.fill(0xFF);
    const auto plan = PlanChannelWrite(0, nullptr, bitmap.data(), nullptr, 1, 1.0);
    ASSERT_EQ(plan.size(), 2u + 8192u + 3u);
    for (int n = 0; n < 8192; ++n) {
        EXPECT_EQ(Describe(plan[2 + n]), "p+ " + std::to_string(n));
    }
}

TEST(PlanChannelWrite, ABlsLengthBeyondTheDataAreaIsCut) {
    const SettingsRecord image = SampleImage();
    BlsBlock bls;
    bls.length = 0xFFFFFFFF;
    const auto plan = PlanChannelWrite(0, &image, nullptr, &bls, 1, 1.0);
    ASSERT_GT(plan.size(), 5u);
    EXPECT_EQ(plan[4].kind, WriteStep::Kind::Block);
    EXPECT_EQ(plan[4].data.size(), 256u);
    EXPECT_EQ(plan[4].data.data(), bls.data.data());
}

} // namespace
