#include "link/Protocol.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace qam::link::protocol;

std::vector<std::uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

struct ReplyCase {
    const char* name;
    std::string bytes; // the reply buffer as it stands after the read
    int expected;
    int received;
    ResultCode result;
};

class ReplyClassification : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyClassification, GivesTheResult) {
    const ReplyCase& c = GetParam();
    EXPECT_EQ(ClassifyReply(Bytes(c.bytes), c.expected, c.received), c.result) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyClassification,
    ::testing::Values(ReplyCase{"Ok", "OK\r\n", 4, 4, RESULT_OK},
                      ReplyCase{"SecondCarriageReturn", "OK\r\r", 4, 4, ERR_BAD_RESPONSE},
                      ReplyCase{"LowerCase", "ok\r\n", 4, 4, ERR_BAD_RESPONSE},
                      ReplyCase{"OnlyTheLetters", std::string("OK\0\0", 4), 4, 2, ERR_BAD_RESPONSE},
                      ReplyCase{"OkButShortCount", "OK\r\n", 4, 3, ERR_BAD_RESPONSE},
                      ReplyCase{"Silence", std::string(4, '\0'), 4, 0, ERR_NO_RESPONSE},
                      ReplyCase{"EightAnyBytes", std::string("\x01\xff\0abcde", 8), 8, 8, RESULT_OK},
                      ReplyCase{"SevenOfEight", "STV0299", 8, 7, ERR_BAD_RESPONSE},
                      ReplyCase{"SixteenOfSixteen", std::string(16, 'x'), 16, 16, RESULT_OK},
                      ReplyCase{"TwelveSilent", std::string(12, '\0'), 12, 0, ERR_NO_RESPONSE},
                      ReplyCase{"OneOfTwelve", std::string(12, 'N'), 12, 1, ERR_BAD_RESPONSE}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

struct CutCase {
    const char* name;
    std::string bytes;
    int expected;
    int received;
    int cut;
};

class BoxCut : public ::testing::TestWithParam<CutCase> {};

TEST_P(BoxCut, EndsWhereItShould) {
    const CutCase& c = GetParam();
    EXPECT_EQ(PrintableCut(Bytes(c.bytes), c.expected, c.received), c.cut) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, BoxCut,
    ::testing::Values(CutCase{"TwoLettersThenLineEnd", "NO\r\n", 4, 4, 2},
                      CutCase{"AllPrintable", "ABCD", 4, 4, 4},
                      CutCase{"DelIsStillShown", "AB\x7f" "D", 4, 4, 4},
                      CutCase{"HighByteEndsIt", "AB\x80" "D", 4, 4, 2},
                      CutCase{"ControlFirst", "\x01" "BCD", 4, 4, 0},
                      // Earlier contents of the buffer never reach the box.
                      CutCase{"StaleBytesBeyondReceived", "ABCD", 4, 2, 2},
                      CutCase{"NothingReceived", "ABCD", 4, 0, 0},
                      CutCase{"NeverBeyondExpected", "ABCDEFGH", 4, 4, 4},
                      CutCase{"BufferShorterThanAsked", "AB", 4, 4, 2},
                      CutCase{"NegativeCounts", "ABCD", -1, -5, 0}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(ExchangeBoxText, TextsOfEachResult) {
    const auto reply = Bytes("NO\r\n");
    EXPECT_EQ(ExchangeBoxText(ERR_COM_WRITE, reply, 0), "Can Not Write to COM!");
    EXPECT_EQ(ExchangeBoxText(ERR_NO_RESPONSE, reply, 0), "No Response!");
    EXPECT_EQ(ExchangeBoxText(ERR_BAD_RESPONSE, reply, 2), "Unexpected Response! [NO]");
    EXPECT_EQ(ExchangeBoxText(ERR_BAD_RESPONSE, reply, 0), "Unexpected Response! []");
    EXPECT_EQ(ExchangeBoxText(ERR_BAD_RESPONSE, Bytes("ABCD"), 4), "Unexpected Response! [ABCD]");
    EXPECT_EQ(ExchangeBoxText(ERR_BAD_RESPONSE, Bytes("AB"), 9), "Unexpected Response! [AB]");
    EXPECT_EQ(ExchangeBoxText(RESULT_OK, reply, 4), "");
    EXPECT_EQ(ExchangeBoxText(ERR_MODULE_REFUSED, reply, 4), "");
}

TEST(ExchangeBoxText, PercentInTheReplyIsShownNotFormatted) {
    EXPECT_EQ(ExchangeBoxText(ERR_BAD_RESPONSE, Bytes("%s%n"), 4), "Unexpected Response! [%s%n]");
}

struct WordCase {
    const char* name;
    std::array<std::uint8_t, 4> word;
    int received;
    int capacity;
    ResultCode result;
    int length; // when the result is 0
};

class LengthWord : public ::testing::TestWithParam<WordCase> {};

TEST_P(LengthWord, IsClassified) {
    const WordCase& c = GetParam();
    int length = -12345;
    EXPECT_EQ(ClassifyLengthWord(c.word, c.received, c.capacity, length), c.result) << c.name;
    EXPECT_EQ(length, c.result == RESULT_OK ? c.length : -12345) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Words, LengthWord,
    ::testing::Values(WordCase{"Fits", {130, 0, 0, 0}, 4, 256, RESULT_OK, 130},
                      WordCase{"EqualsCapacity", {0, 1, 0, 0}, 4, 256, RESULT_OK, 256},
                      WordCase{"OneAboveCapacity", {1, 1, 0, 0}, 4, 256, ERR_BAD_RESPONSE, 0},
                      WordCase{"One", {1, 0, 0, 0}, 4, 1, RESULT_OK, 1},
                      WordCase{"Zero", {0, 0, 0, 0}, 4, 256, ERR_BAD_RESPONSE, 0},
                      WordCase{"Negative", {0xFE, 0xFF, 0xFF, 0xFF}, 4, 256, ERR_BAD_RESPONSE, 0},
                      WordCase{"Silence", {0xFF, 0xFF, 0xFF, 0xFF}, 0, 256, ERR_NO_RESPONSE, 0},
                      WordCase{"FourFFBytes", {0xFF, 0xFF, 0xFF, 0xFF}, 4, 256, ERR_NO_RESPONSE, 0},
                      WordCase{"OneByteOnly", {0x10, 0xFF, 0xFF, 0xFF}, 1, 256, ERR_BAD_RESPONSE, 0},
                      WordCase{"ThreeBytesOnly", {0x10, 0, 0, 0xFF}, 3, 256, ERR_BAD_RESPONSE, 0},
                      WordCase{"RefusalBack", {'<', '<', '\r', '\n'}, 4, 256, ERR_MODULE_REFUSED, 0},
                      WordCase{"RefusalForward", {'>', '>', '\r', '\n'}, 4, 256, ERR_MODULE_REFUSED, 0},
                      WordCase{"RefusalOneByteShort", {'<', '<', '\r', 0xFF}, 3, 256, ERR_BAD_RESPONSE, 0},
                      WordCase{"OkIsNoLength", {'O', 'K', '\r', '\n'}, 4, 256, ERR_BAD_RESPONSE, 0},
                      // Only a capacity beyond 168 million bytes could take a refusal for a length.
                      WordCase{"RefusalAsHugeLength", {'<', '<', '\r', '\n'}, 4,
                               std::numeric_limits<int>::max(), RESULT_OK, 0x0A0D3C3C},
                      WordCase{"ZeroCapacity", {1, 0, 0, 0}, 4, 0, ERR_BAD_RESPONSE, 0},
                      WordCase{"NegativeCapacity", {1, 0, 0, 0}, 4, -4, ERR_BAD_RESPONSE, 0}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(ProgressPosition, FollowsTheRemainder) {
    EXPECT_EQ(ProgressPosition(40, 40), 0);
    EXPECT_EQ(ProgressPosition(24, 40), 40);
    EXPECT_EQ(ProgressPosition(8, 40), 80);
    EXPECT_EQ(ProgressPosition(0, 40), 100);
    EXPECT_EQ(ProgressPosition(66, 130), 50); // 100 - 6600/130 = 100 - 50
    EXPECT_EQ(ProgressPosition(2, 130), 99);  // the fraction is dropped from the remainder's share
}

TEST(ProgressPosition, NoOverflowForTheLongestLengths) {
    const int longest = std::numeric_limits<int>::max();
    EXPECT_EQ(ProgressPosition(longest, longest), 0);
    EXPECT_EQ(ProgressPosition(longest - 16, longest), 1); // 100 - 99.99.. dropped to 99
    EXPECT_EQ(ProgressPosition(0, longest), 100);
    EXPECT_EQ(ProgressPosition(262144 - 16, 262144), 1);
}

TEST(OkReply, OnlyTheFourBytesAllReceived) {
    EXPECT_TRUE(IsOkReply(Bytes("OK\r\n"), 4));
    EXPECT_FALSE(IsOkReply(Bytes("OK\r\n"), 3));
    EXPECT_FALSE(IsOkReply(Bytes("OK\r"), 4));
    EXPECT_FALSE(IsOkReply(Bytes("OK\n\r"), 4));
}

} // namespace
