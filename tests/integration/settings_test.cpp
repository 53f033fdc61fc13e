// The channel settings backup and restore against the simulator over the real link, on both builds.
#include "module/ModuleProxy.h"

#include "common/LittleEndian.h"
#include "common/ResultCode.h"
#include "framework/headless/Desktop.h"
#include "link/ComDevice.h"
#include "module/ChannelBackup.h"
#include "module/ModuleSearch.h"
#include "tests/integration/SearchDialog.h"
#include "tests/integration/SimTrace.h"
#include "tests/support/SimulatorControl.h"
#include "tests/support/TestTimeouts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using qam::test::ExpectedTrace;
using qam::test::TraceLines;
namespace sim = qam::sim;

constexpr int CAPACITY = 256;

sim::Bytes Pattern(std::size_t length, std::uint8_t seed) {
    sim::Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed + 7 * i);
    }
    return bytes;
}

sim::Bytes LengthWord(std::size_t length) {
    sim::Bytes word(4);
    qam::le::Write32(word, 0, static_cast<std::uint32_t>(length));
    return word;
}

// A settings image of 18 bytes built value by value.
struct Image {
    std::array<std::uint8_t, 18> bytes{};

    Image& At8(int offset, unsigned value) {
        bytes[offset] = static_cast<std::uint8_t>(value);
        return *this;
    }
    Image& At16(int offset, unsigned value) { return At8(offset, value).At8(offset + 1, value >> 8); }
    Image& At24(int offset, unsigned value) { return At16(offset, value).At8(offset + 2, value >> 16); }
};

// J 1234, I 2345, mode 0, H 8192, S 1024, Q 300, y 1024, LNB 9, LND 10; the unsent bytes 5, 12
// and 13 hold values that must not matter.
Image SampleImage() {
    return Image()
        .At16(0, 1234)
        .At16(2, 2345)
        .At8(4, 0x00)
        .At8(5, 0xEE)
        .At16(6, 8192)
        .At16(8, 1024)
        .At16(10, 300)
        .At16(12, 0xBBAA)
        .At16(14, 1024)
        .At8(16, 9)
        .At8(17, 10);
}

// One unit of an expected write: a command answered "OK\r\n", or a block send.
struct Step {
    sim::Bytes command;
    bool block = false;
    sim::Bytes data;

    std::string Text() const {
        if (command.size() == 4 && command[0] == 'p' && command[1] == '+') {
            return "p+" + std::to_string(command[2] + 256 * command[3]);
        }
        return std::string(command.begin(), command.end());
    }
};

Step C(const std::string& command) {
    return Step{sim::ToBytes(command), false, {}};
}

Step P(int bit) {
    return Step{sim::Bytes{'p', '+', static_cast<std::uint8_t>(bit % 256), static_cast<std::uint8_t>(bit / 256)}, false, {}};
}

Step B(const std::string& command, sim::Bytes data) {
    return Step{sim::ToBytes(command), true, std::move(data)};
}

void AddStep(ExpectedTrace& trace, const Step& step) {
    trace.Command(step.command).Ok();
    if (step.block) {
        trace.Send(LengthWord(step.data.size()));
        if (!step.data.empty()) {
            trace.Send(step.data);
        }
        trace.Ok();
    }
}

std::vector<std::string> WriteTrace(const std::vector<Step>& steps) {
    ExpectedTrace trace;
    for (const Step& step : steps) {
        AddStep(trace, step);
    }
    return trace.Lines();
}

qam::link::Timeouts ReadConstant(int constant) {
    return qam::link::Timeouts{100, 50, constant, 50, 500};
}

std::vector<qam::link::Timeouts> ReadConstants(const std::vector<int>& constants) {
    std::vector<qam::link::Timeouts> sets;
    for (int constant : constants) {
        sets.push_back(ReadConstant(constant));
    }
    return sets;
}

headless::Box ExecuteCommandBox(const std::string& text) {
    return headless::Box{nullptr, text, "Execute Command", MB_OK | MB_ICONERROR, IDOK};
}

std::vector<headless::Box> Boxes() {
    return headless::Desktop::Instance().Boxes();
}

sim::Fault FaultOn(sim::FaultKind kind, const std::string& command, int occurrence = 1) {
    sim::Fault fault;
    fault.kind = kind;
    fault.command = command;
    fault.occurrence = occurrence;
    return fault;
}

sim::Fault Wrong(const std::string& command, const std::string& reply) {
    sim::Fault fault = FaultOn(sim::FaultKind::WrongReply, command);
    fault.reply = sim::ToBytes(reply);
    return fault;
}

sim::Fault Short(const std::string& command, int bytes) {
    sim::Fault fault = FaultOn(sim::FaultKind::ShortReply, command);
    fault.bytes = bytes;
    return fault;
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { headless::Desktop::Instance().Reset(); }
    void TearDown() override { headless::Desktop::Instance().Reset(); }

    void Start(const sim::Scenario& scenario, TunerType tuner = 1, double version = 1.16) {
        m_sim = qam::test::StartSimulator(scenario);
        ASSERT_EQ(m_link.Open(m_sim->Port(), 115200, 1, 0), 1);
        m_proxy.m_comDevice = &m_link;
        m_proxy.m_tunerType = tuner;
        m_proxy.m_firmwareVersion = version;
        qam::test::ClearAskedTimeouts();
    }

    ResultCode ReadAll(int channel, ChannelBackup& backup) {
        return m_proxy.ReadChannelSettings(channel, &backup.settings, CAPACITY, backup.filterBitmap.data(),
                                           FILTER_BITMAP_BYTES, &backup.bls, CAPACITY);
    }

    std::vector<std::string> Trace() const { return TraceLines(m_sim->Trace()); }

    std::unique_ptr<qam::test::SimulatorControl> m_sim;
    CComDevice m_link;
    CModuleProxy m_proxy;
};

ChannelBackup Garbage() {
    ChannelBackup backup;
    backup.settings.length = 0xDEAD;
    backup.settings.data.fill(0xEE);
    backup.bls.length = 0xBEEF;
    backup.bls.data.fill(0xEE);
    backup.filterBitmap.fill(0xEE);
    return backup;
}

void ExpectRecord(const SettingsRecord& record, const sim::Bytes& bytes) {
    EXPECT_EQ(record.length, bytes.size());
    sim::Bytes expected = bytes;
    expected.resize(record.data.size(), 0);
    EXPECT_EQ(sim::Bytes(record.data.begin(), record.data.end()), expected);
}

sim::Scenario TwoChannels() {
    sim::Scenario scenario;
    scenario.channels[0].settings = Pattern(40, 1);
    scenario.channels[0].bls = Pattern(7, 50);
    scenario.channels[0].filter = Pattern(1024, 3);
    scenario.channels[1].settings = Pattern(CAPACITY, 100); // exactly the capacity
    scenario.channels[1].bls = Pattern(1, 200);
    scenario.channels[1].filter = Pattern(1024, 9);
    return scenario;
}

TEST_F(SettingsTest, ABackupOfEachChannelFillsTheRecordsByteForByte) {
    const sim::Scenario scenario = TwoChannels();
    Start(scenario);
    ChannelBackup backups[2] = {Garbage(), Garbage()};

    EXPECT_EQ(ReadAll(0, backups[0]), RESULT_OK);
    EXPECT_EQ(ReadAll(1, backups[1]), RESULT_OK);

    ExpectedTrace expected;
    for (int channel = 0; channel < 2; ++channel) {
        const sim::ChannelContent& content = scenario.channels[channel];
        ExpectRecord(backups[channel].settings, content.settings);
        ExpectRecord(backups[channel].bls, content.bls);
        EXPECT_EQ(sim::Bytes(backups[channel].filterBitmap.begin(), backups[channel].filterBitmap.end()),
                  content.filter);
        expected.Command(channel == 0 ? "c000" : "c001").Ok();
        expected.Command("RSTA").Reply(LengthWord(content.settings.size())).Reply(content.settings);
        expected.Command("RBLS").Reply(LengthWord(content.bls.size())).Reply(content.bls);
        expected.Command("RFLT").Reply(content.filter);
    }
    EXPECT_EQ(Trace(), expected.Lines());
    // The read runs under the time-outs in force: it sets none of its own.
    EXPECT_TRUE(qam::test::AskedTimeouts().empty());
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(SettingsTest, AbsentPartsSkipTheirSteps) {
    Start(TwoChannels());
    ChannelBackup backup = Garbage();

    EXPECT_EQ(m_proxy.ReadChannelSettings(1, &backup.settings, CAPACITY, nullptr, FILTER_BITMAP_BYTES, nullptr,
                                          CAPACITY),
              RESULT_OK);
    EXPECT_EQ(m_proxy.ReadChannelSettings(0, nullptr, CAPACITY, backup.filterBitmap.data(), 16, nullptr, CAPACITY),
              RESULT_OK);

    ExpectRecord(backup.settings, Pattern(CAPACITY, 100));
    // Only the asked part of the bitmap is read; what lies beyond it is not touched.
    const sim::Bytes filter = Pattern(1024, 3);
    EXPECT_TRUE(std::equal(filter.begin(), filter.begin() + 16, backup.filterBitmap.begin()));
    EXPECT_TRUE(std::all_of(backup.filterBitmap.begin() + 16, backup.filterBitmap.end(),
                            [](std::uint8_t b) { return b == 0xEE; }));
    EXPECT_EQ(backup.bls.length, 0xBEEFu);
    ASSERT_GE(m_sim->Trace().size(), 6u);
    const std::vector<std::string> lines = Trace();
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 6),
              (std::vector<std::string>{"1 > c001", "1 < OK\\r\\n", "2 > RSTA", "2 < \\x00\\x01\\x00\\x00",
                                        "2 < [len 256]", "3 > c000"}));
    EXPECT_EQ(lines[7], "4 > RFLT");
}

TEST_F(SettingsTest, ACapacityBeyondTheRecordIsHeldToItsDataArea) {
    sim::Scenario scenario;
    scenario.blockReceiveLength = CAPACITY + 1;
    Start(scenario);
    ChannelBackup backup = Garbage();

    EXPECT_EQ(m_proxy.ReadChannelSettings(0, &backup.settings, 100000, nullptr, 0, nullptr, 0), ERR_BAD_RESPONSE);
    EXPECT_EQ(backup.settings.length, 0u);
}

struct ReadFailureCase {
    const char* name;
    sim::Fault fault;
    ResultCode code;
    std::string box;       // the exchange's own box, if any
    int completeSteps;                    // c000, RSTA, RBLS that went through before the failure
    std::vector<sim::Bytes> failedReplies; // what the failing step received, unit by unit
    std::size_t imageArrived = 0;          // image bytes in the record when its block stopped
};

void PrintTo(const ReadFailureCase& c, std::ostream* os) {
    *os << c.name;
}

class ReadFailureTest : public SettingsTest, public ::testing::WithParamInterface<ReadFailureCase> {};

TEST_P(ReadFailureTest, EachFailingStepEndsTheReadWithItsCode) {
    const ReadFailureCase& c = GetParam();
    sim::Scenario scenario = TwoChannels();
    scenario.faults.push_back(c.fault);
    Start(scenario);
    // The raw bitmap read waits multiplier x 1024 + constant: no multiplier here and a constant
    // of 500 ms, so that silence ends soon while every reply still has time to come.
    const qam::test::ScopedTimeoutScale fast(1, 10);
    ASSERT_EQ(m_link.SetTimeouts(100, 0, 5000, 50, 500), 1);
    ChannelBackup backup = Garbage();

    EXPECT_EQ(ReadAll(0, backup), c.code);

    const sim::ChannelContent& content = scenario.channels[0];
    const char* commands[] = {"c000", "RSTA", "RBLS", "RFLT"};
    ExpectedTrace expected;
    for (int step = 0; step <= c.completeSteps; ++step) {
        expected.Command(commands[step]);
        if (step < c.completeSteps) {
            if (step == 0) {
                expected.Ok();
            } else {
                const sim::Bytes& data = step == 1 ? content.settings : content.bls;
                expected.Reply(LengthWord(data.size())).Reply(data);
            }
        }
    }
    for (const sim::Bytes& reply : c.failedReplies) {
        expected.Reply(reply);
    }
    EXPECT_EQ(Trace(), expected.Lines());
    if (c.box.empty()) {
        EXPECT_TRUE(Boxes().empty());
    } else {
        EXPECT_EQ(Boxes(), std::vector<headless::Box>{ExecuteCommandBox(c.box)});
    }

    // Cleared before the read: what the steps did not fill is zero, with length words of 0.
    // A block that stopped leaves what arrived in the data area, its length word untouched.
    sim::Bytes image = c.completeSteps > 1 ? content.settings : sim::Bytes{};
    if (c.imageArrived > 0) {
        image.assign(content.settings.begin(), content.settings.begin() + static_cast<std::ptrdiff_t>(c.imageArrived));
        image.resize(backup.settings.data.size(), 0);
        EXPECT_EQ(backup.settings.length, 0u);
        EXPECT_EQ(sim::Bytes(backup.settings.data.begin(), backup.settings.data.end()), image);
    } else {
        ExpectRecord(backup.settings, image);
    }
    ExpectRecord(backup.bls, c.completeSteps > 2 ? content.bls : sim::Bytes{});
    sim::Bytes bitmap(backup.filterBitmap.begin(), backup.filterBitmap.end());
    sim::Bytes expectedBitmap(FILTER_BITMAP_BYTES, 0);
    if (c.completeSteps == 3 && !c.failedReplies.empty()) {
        std::copy(c.failedReplies[0].begin(), c.failedReplies[0].end(), expectedBitmap.begin());
    }
    EXPECT_EQ(bitmap, expectedBitmap);
}

sim::Fault StopAfter(const std::string& command, int bytes) {
    sim::Fault fault = FaultOn(sim::FaultKind::StopMidBlock, command);
    fault.bytes = bytes;
    return fault;
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ReadFailureTest,
    ::testing::Values(
        ReadFailureCase{"ChannelSilence", FaultOn(sim::FaultKind::Silence, "c"), ERR_NO_RESPONSE, "No Response!", 0, {}},
        ReadFailureCase{"ChannelWrongReply", Wrong("c", "NO\r\n"), ERR_BAD_RESPONSE, "Unexpected Response! [NO]", 0,
                        {sim::ToBytes("NO\r\n")}},
        ReadFailureCase{"ImageRefused", FaultOn(sim::FaultKind::RefuseBlock, "RSTA"), ERR_MODULE_REFUSED, "", 1,
                        {sim::ToBytes("<<\r\n")}},
        ReadFailureCase{"ImageSilence", FaultOn(sim::FaultKind::Silence, "RSTA"), ERR_NO_RESPONSE, "", 1, {}},
        ReadFailureCase{"ImageTooLong", Wrong("RSTA", std::string("\x01\x01\x00\x00", 4)), ERR_BAD_RESPONSE, "", 1,
                        {LengthWord(257)}},
        ReadFailureCase{"ImageStopsMidBlock", StopAfter("RSTA", 10), ERR_COM_WRITE, "", 1,
                        {LengthWord(40), Pattern(10, 1)}, 10},
        ReadFailureCase{"BlsLengthZero", Wrong("RBLS", std::string(4, '\0')), ERR_BAD_RESPONSE, "", 2, {LengthWord(0)}},
        ReadFailureCase{"BitmapSilence", FaultOn(sim::FaultKind::Silence, "RFLT"), ERR_NO_RESPONSE, "", 3, {}},
        ReadFailureCase{"BitmapShort", Short("RFLT", 100), ERR_BAD_RESPONSE, "", 3, {Pattern(100, 3)}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct WriteCase {
    const char* name;
    int channel;
    TunerType tuner;
    double version;
    std::optional<Image> image;
    std::optional<sim::Bytes> bls;
    std::optional<std::vector<int>> bits;
    std::vector<Step> values; // what goes out between "c%03d" and "ZAll"
};

void PrintTo(const WriteCase& c, std::ostream* os) {
    *os << c.name;
}

class WriteTest : public SettingsTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteTest, SendsExactlyTheCommandsOfTheImage) {
    const WriteCase& c = GetParam();
    Start(sim::Scenario{}, c.tuner, c.version);
    ChannelBackup backup = Garbage();
    if (c.image) {
        std::fill(backup.settings.data.begin(), backup.settings.data.end(), 0x5A); // bytes beyond 17 never matter
        std::copy(c.image->bytes.begin(), c.image->bytes.end(), backup.settings.data.begin());
        backup.settings.length = 18;
    }
    if (c.bls) {
        backup.bls.length = static_cast<std::uint32_t>(c.bls->size());
        std::copy(c.bls->begin(), c.bls->end(), backup.bls.data.begin());
    }
    if (c.bits) {
        backup.filterBitmap.fill(0);
        for (int bit : *c.bits) {
            backup.filterBitmap[bit / 8] |= static_cast<std::uint8_t>(1 << (bit % 8));
        }
    }

    EXPECT_EQ(m_proxy.WriteChannelSettings(c.channel, c.image ? &backup.settings : nullptr,
                                           c.bits ? backup.filterBitmap.data() : nullptr, c.bls ? &backup.bls : nullptr),
              RESULT_OK);

    std::vector<Step> steps{C(c.channel == 0 ? "c000" : "c001")};
    steps.insert(steps.end(), c.values.begin(), c.values.end());
    steps.push_back(C("ZAll"));
    EXPECT_EQ(Trace(), WriteTrace(steps));
    EXPECT_EQ(qam::test::AskedTimeouts(),
              ReadConstants(c.image ? std::vector<int>{25000, 5000, 10000, 5000} : std::vector<int>{25000, 10000, 5000}));
    EXPECT_TRUE(Boxes().empty());
    const sim::ModuleState state = m_sim->State();
    EXPECT_EQ(state.commits, 1);
    EXPECT_EQ(state.selectedChannel, c.channel);
}

const sim::Bytes BLS5{0x10, 0x20, 0x30, 0x40, 0x50};

// The values every image below sends from "I"/"i" (or "i" alone) on, for the zero image.
std::vector<Step> ZeroTail(int channel, int mNumber = 801) {
    std::vector<Step> steps{C("I000"), C("i000"), C("J000"), C("j000"), C("M" + std::to_string(mNumber))};
    if (channel == 0) {
        steps.push_back(C("H000"));
        steps.push_back(C("h000"));
    }
    for (const char* command : {"S000", "s000", "Q000", "y000"}) {
        steps.push_back(C(command));
    }
    return steps;
}

std::vector<Step> Join(std::vector<Step> head, const std::vector<Step>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

WriteCase ModeCase(const char* name, unsigned mode, int mNumber) {
    return WriteCase{name, 1, 1, 1.16, Image().At8(4, mode), std::nullopt, std::nullopt,
                     Join({C("LNB0"), C("LND0")}, ZeroTail(1, mNumber))};
}

// Tuner type 5 from "i" on: i from byte 3 (200), J 24-bit 1,000,000, the rest of SampleImage.
std::vector<Step> TunerFiveTail() {
    return {C("i200"), C("J100"), C("j000"), C("M801"), C("H000"), C("h819"),
            C("S001"), C("s024"), C("Q008"), C("y999")};
}

Image TunerFiveImage(unsigned byte17) {
    return SampleImage().At24(0, 1000000).At8(3, 200).At8(16, 3).At8(17, byte17);
}

WriteCase TunerFiveCase(const char* name, double version, unsigned byte17, std::vector<Step> head) {
    head.push_back(B("WBLS", BLS5));
    return WriteCase{name, 0, 5, version, TunerFiveImage(byte17), BLS5, std::nullopt, Join(head, TunerFiveTail())};
}

INSTANTIATE_TEST_SUITE_P(
    Images, WriteTest,
    ::testing::Values(
        WriteCase{"EveryValueOfChannelZero", 0, 1, 2.0, SampleImage(), BLS5, std::vector<int>{0, 7, 8, 8191},
                  {C("LNB5"), C("LNDA"), B("WBLS", BLS5), C("I002"), C("i345"), C("J001"), C("j234"), C("M801"),
                   C("H000"), C("h819"), C("S001"), C("s024"), C("Q008"), C("y999"), P(0), P(7), P(8), P(8191)}},
        WriteCase{"ChannelOneSendsNoH", 1, 1, 2.0, SampleImage(), std::nullopt, std::nullopt,
                  {C("LNB5"), C("LNDA"), C("I002"), C("i345"), C("J001"), C("j234"), C("M801"), C("S001"), C("s024"),
                   C("Q008"), C("y999")}},
        ModeCase("Mode00", 0x00, 801), ModeCase("Mode04", 0x04, 701), ModeCase("Mode0E", 0x0E, 712),
        ModeCase("Mode12", 0x12, 813), ModeCase("Mode1E", 0x1E, 711), ModeCase("ModeUnusedBits", 0xE1, 801),
        WriteCase{"LimitsAtTheirEdges", 1, 1, 1.16,
                  Image().At8(16, 5).At8(17, 15).At16(10, 8).At16(14, 999).At16(8, 999), std::nullopt, std::nullopt,
                  {C("LNB5"), C("LNDF"), C("I000"), C("i000"), C("J000"), C("j000"), C("M801"), C("S000"), C("s999"),
                   C("Q008"), C("y999")}},
        WriteCase{"LimitsJustAbove", 1, 1, 1.16,
                  Image().At8(16, 6).At8(17, 16).At16(10, 9).At16(14, 1000).At16(8, 1000), std::nullopt, std::nullopt,
                  {C("LNB5"), C("I000"), C("i000"), C("J000"), C("j000"), C("M801"), C("S001"), C("s000"), C("Q008"),
                   C("y999")}},
        WriteCase{"LargestValues", 1, 1, 1.16,
                  Image().At16(0, 65535).At16(2, 65535).At16(8, 65535).At16(10, 65535).At16(14, 65535).At8(16, 255)
                      .At8(17, 255),
                  std::nullopt, std::nullopt,
                  {C("LNB5"), C("I065"), C("i535"), C("J065"), C("j535"), C("M801"), C("S065"), C("s535"), C("Q008"),
                   C("y999")}},
        WriteCase{"HDividedByTen", 0, 1, 1.16, Image().At16(6, 9999), std::nullopt, std::nullopt,
                  Join({C("LNB0"), C("LND0"), C("I000"), C("i000"), C("J000"), C("j000"), C("M801"), C("H000"),
                        C("h999")},
                       {C("S000"), C("s000"), C("Q000"), C("y000")})},
        WriteCase{"HLargest", 0, 1, 1.16, Image().At16(6, 65535), std::nullopt, std::nullopt,
                  Join({C("LNB0"), C("LND0"), C("I000"), C("i000"), C("J000"), C("j000"), C("M801"), C("H006"),
                        C("h553")},
                       {C("S000"), C("s000"), C("Q000"), C("y000")})},
        WriteCase{"UnknownTunerTakesSixteenBits", 1, TUNER_UNKNOWN, 2.0, TunerFiveImage(1), std::nullopt,
                  std::nullopt,
                  {C("LNB3"), C("LND1"), C("I051"), C("i215"), C("J016"), C("j960"), C("M801"), C("S001"), C("s024"),
                   C("Q008"), C("y999")}},
        WriteCase{"TunerFourFromVersion116", 1, 4, 1.16, TunerFiveImage(1), std::nullopt, std::nullopt,
                  {C("LNB3"), C("LND1"), C("I051"), C("i215"), C("J016"), C("j960"), C("M801"), C("S001"), C("s024"),
                   C("Q008"), C("y999")}},
        TunerFiveCase("TunerFiveBelow116", 1.15, 1, {C("LNB3"), C("LND1")}),
        TunerFiveCase("TunerFiveBelow116Byte17Above15", 1.15, 16, {C("LNB3")}),
        TunerFiveCase("TunerFiveAt116Byte17Zero", 1.16, 0, {B("WPLP", {3, 0})}),
        TunerFiveCase("TunerFiveAt116Byte17One", 1.16, 1, {B("WPLP", {3, 1})}),
        TunerFiveCase("TunerFiveAt116Byte17Two", 1.16, 2, {}),
        TunerFiveCase("TunerFiveAbove116Byte17Max", 3.0, 255, {}),
        WriteCase{"TunerFiveLargestJ", 1, 5, 2.0, Image().At24(0, 0xFFFFFF).At8(17, 3), std::nullopt, std::nullopt,
                  {C("i000"), C("J167"), C("j215"), C("M801"), C("S000"), C("s000"), C("Q000"), C("y000")}},
        WriteCase{"EmptyBitmap", 1, 1, 1.16, Image(), std::nullopt, std::vector<int>{},
                  Join({C("LNB0"), C("LND0")}, ZeroTail(1))},
        WriteCase{"BitsInRisingOrder", 1, 1, 1.16, std::nullopt, std::nullopt,
                  std::vector<int>{8191, 8, 0, 7, 255, 256, 4096},
                  {P(0), P(7), P(8), P(255), P(256), P(4096), P(8191)}},
        WriteCase{"AbsentImageSendsNeitherValuesNorBls", 0, 5, 1.16, std::nullopt, BLS5, std::vector<int>{3},
                  {P(3)}},
        WriteCase{"NothingButTheChannel", 1, 1, 1.16, std::nullopt, std::nullopt, std::nullopt, {}},
        WriteCase{"EmptyBls", 1, 1, 1.16, Image(), sim::Bytes{}, std::nullopt,
                  Join({C("LNB0"), C("LND0"), B("WBLS", {})}, ZeroTail(1))},
        WriteCase{"FullBls", 1, 1, 1.16, Image(), Pattern(CAPACITY, 77), std::nullopt,
                  Join({C("LNB0"), C("LND0"), B("WBLS", Pattern(CAPACITY, 77))}, ZeroTail(1))}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(SettingsTest, TheModuleEndsWithTheValuesItWasSent) {
    Start(sim::Scenario{}, 5, 1.16);
    ChannelBackup backups[2];
    const Image images[2] = {TunerFiveImage(1), SampleImage().At8(16, 2).At8(17, 0)};
    for (int channel = 0; channel < 2; ++channel) {
        std::copy(images[channel].bytes.begin(), images[channel].bytes.end(), backups[channel].settings.data.begin());
        backups[channel].bls.length = 3;
        backups[channel].bls.data[0] = static_cast<std::uint8_t>(0xA0 + channel);
        backups[channel].filterBitmap[channel] = 0x03;
    }

    for (int channel = 0; channel < 2; ++channel) {
        EXPECT_EQ(m_proxy.WriteChannelSettings(channel, &backups[channel].settings,
                                               backups[channel].filterBitmap.data(), &backups[channel].bls),
                  RESULT_OK);
    }

    const sim::ModuleState state = m_sim->State();
    EXPECT_EQ(state.commits, 2);
    EXPECT_EQ(state.channels[0].setCommands,
              (std::vector<std::string>{"i200", "J100", "j000", "M801", "H000", "h819", "S001", "s024", "Q008", "y999"}));
    EXPECT_EQ(state.channels[0].values, (std::map<std::string, int>{{"i", 200},
                                                                     {"J", 100},
                                                                     {"j", 0},
                                                                     {"M", 801},
                                                                     {"H", 0},
                                                                     {"h", 819},
                                                                     {"S", 1},
                                                                     {"s", 24},
                                                                     {"Q", 8},
                                                                     {"y", 999}}));
    EXPECT_EQ(state.channels[0].wplp, (sim::Bytes{3, 1}));
    EXPECT_EQ(state.channels[0].wbls, (sim::Bytes{0xA0, 0, 0}));
    EXPECT_EQ(state.channels[0].filterBitsAdded, (std::vector<int>{0, 1}));
    // Channel 1: tuner type 5 takes i from byte 3 of SampleImage (2345 >> 8 = 9) and J over 24 bits.
    EXPECT_EQ(state.channels[1].setCommands,
              (std::vector<std::string>{"i009", "J268", "j210", "M801", "S001", "s024", "Q008", "y999"}));
    EXPECT_EQ(state.channels[1].wplp, (sim::Bytes{2, 0}));
    EXPECT_EQ(state.channels[1].wbls, (sim::Bytes{0xA1, 0, 0}));
    EXPECT_EQ(state.channels[1].filterBitsAdded, (std::vector<int>{8, 9}));
}

TEST_F(SettingsTest, AShortImageIsRestoredWithZerosBehindIt) {
    sim::Scenario scenario;
    scenario.channels[0].settings = {0xD2, 0x04, 0x05};
    scenario.channels[0].bls = {0x42};
    Start(scenario, 1, 1.16);
    ChannelBackup backup = Garbage();
    ASSERT_EQ(ReadAll(0, backup), RESULT_OK);
    EXPECT_EQ(backup.settings.length, 3u);

    EXPECT_EQ(m_proxy.WriteChannelSettings(0, &backup.settings, backup.filterBitmap.data(), &backup.bls), RESULT_OK);

    EXPECT_EQ(m_sim->State().channels[0].setCommands,
              (std::vector<std::string>{"LNB0", "LND0", "I000", "i005", "J001", "j234", "M801", "H000", "h000",
                                        "S000", "s000", "Q000", "y000"}));
    EXPECT_EQ(m_sim->State().channels[0].wbls, sim::Bytes{0x42});
    EXPECT_TRUE(m_sim->State().channels[0].filterBitsAdded.empty());
}

TEST_F(SettingsTest, AfterASearchTheWriteFollowsWhatTheModuleReported) {
    sim::Scenario scenario;
    scenario.identification.dsp = "NUV 1.16 A01";
    scenario.identification.tuner = "EDU10394";
    m_sim = qam::test::StartSimulator(scenario);
    qam::test::SearchDialog dialog;
    SearchState state{4, m_sim->Port(), -1, 0, 0, TUNER_UNKNOWN};
    ASSERT_EQ(qam::module::SearchModule(m_link, m_proxy, state, dialog.Wnd()), 1);
    m_proxy.m_comDevice = &m_link;
    ChannelBackup backup;
    const Image image = TunerFiveImage(0);
    std::copy(image.bytes.begin(), image.bytes.end(), backup.settings.data.begin());

    EXPECT_EQ(m_proxy.WriteChannelSettings(1, &backup.settings, nullptr, nullptr), RESULT_OK);

    EXPECT_EQ(m_sim->State().channels[1].wplp, (sim::Bytes{3, 0}));
    EXPECT_EQ(m_sim->State().channels[1].setCommands.front(), "i200");
}

TEST_F(SettingsTest, AProxyWithoutALinkSendsNothing) {
    ChannelBackup backup = Garbage();
    EXPECT_EQ(m_proxy.ReadChannelSettings(0, &backup.settings, CAPACITY, backup.filterBitmap.data(),
                                          FILTER_BITMAP_BYTES, &backup.bls, CAPACITY),
              RESULT_NOT_WIRED);
    EXPECT_EQ(m_proxy.WriteChannelSettings(0, &backup.settings, backup.filterBitmap.data(), &backup.bls),
              RESULT_NOT_WIRED);
    EXPECT_EQ(backup.settings.length, 0xDEADu);
    EXPECT_TRUE(Boxes().empty());
}

struct WriteFailureCase {
    const char* name;
    TunerType tuner;
    sim::Fault fault;
    std::string failing;   // the step the fault strikes (Step::Text())
    sim::Bytes reply;      // what the module answered there (empty: nothing)
    ResultCode code;
    std::string box;       // the exchange's own box, if any
    std::vector<int> readConstants;
};

void PrintTo(const WriteFailureCase& c, std::ostream* os) {
    *os << c.name;
}

class WriteFailureTest : public SettingsTest, public ::testing::WithParamInterface<WriteFailureCase> {};

// Tuner type 1: every command kind. Tuner type 5 from 1.16 with byte 17 at 1: the PLP block.
std::vector<Step> FailureSteps(TunerType tuner) {
    const sim::Bytes bls{1, 2, 3};
    if (tuner == 5) {
        return {C("c000"), B("WPLP", {3, 1}), B("WBLS", bls), C("i200"), C("J100"), C("j000"), C("M801"),
                C("H000"), C("h819"), C("S001"), C("s024"), C("Q008"), C("y999"), P(3), P(9), C("ZAll")};
    }
    return {C("c000"), C("LNB5"), C("LNDA"), B("WBLS", bls), C("I002"), C("i345"), C("J001"), C("j234"),
            C("M801"), C("H000"), C("h819"), C("S001"), C("s024"), C("Q008"), C("y999"), P(3), P(9), C("ZAll")};
}

TEST_P(WriteFailureTest, AFailingExchangeEndsTheWriteWithItsCode) {
    const WriteFailureCase& c = GetParam();
    sim::Scenario scenario;
    scenario.faults.push_back(c.fault);
    Start(scenario, c.tuner, 1.16);
    const qam::test::ScopedTimeoutScale fast(1, 100);
    ChannelBackup backup;
    const Image image = c.tuner == 5 ? TunerFiveImage(1) : SampleImage();
    std::copy(image.bytes.begin(), image.bytes.end(), backup.settings.data.begin());
    backup.bls.length = 3;
    backup.bls.data[0] = 1;
    backup.bls.data[1] = 2;
    backup.bls.data[2] = 3;
    backup.filterBitmap[0] = 0x08; // bit 3
    backup.filterBitmap[1] = 0x02; // bit 9

    EXPECT_EQ(m_proxy.WriteChannelSettings(0, &backup.settings, backup.filterBitmap.data(), &backup.bls), c.code);

    // Everything up to the failing step as usual, then what the fault made of that step; the
    // write goes on behind it only when the step's result is dropped (and for "ZAll", the last).
    const bool dropped = c.code == RESULT_OK;
    ExpectedTrace expected;
    bool struck = false;
    for (const Step& step : FailureSteps(c.tuner)) {
        if (struck && !dropped) {
            break;
        }
        if (step.Text() != c.failing || struck) {
            AddStep(expected, step);
            continue;
        }
        struck = true;
        expected.Command(step.command);
        if (step.block && c.fault.finalReply) {
            expected.Ok().Send(LengthWord(step.data.size())).Send(step.data);
        }
        if (!c.reply.empty()) {
            expected.Reply(c.reply);
        }
    }
    ASSERT_TRUE(struck) << "no step " << c.failing;
    EXPECT_EQ(Trace(), expected.Lines());
    if (c.box.empty()) {
        EXPECT_TRUE(Boxes().empty());
    } else {
        EXPECT_EQ(Boxes(), std::vector<headless::Box>{ExecuteCommandBox(c.box)});
    }
    EXPECT_EQ(qam::test::AskedTimeouts(), ReadConstants(c.readConstants));
}

sim::Fault FinalReplyWrong(const std::string& command, const std::string& reply) {
    sim::Fault fault = Wrong(command, reply);
    fault.finalReply = true;
    return fault;
}

const std::vector<int> BEFORE_M{25000};
const std::vector<int> FROM_M{25000, 5000};
const std::vector<int> ALL{25000, 5000, 10000, 5000};

INSTANTIATE_TEST_SUITE_P(
    Failures, WriteFailureTest,
    ::testing::Values(
        WriteFailureCase{"ChannelSilence", 1, FaultOn(sim::FaultKind::Silence, "c"), "c000", {}, ERR_NO_RESPONSE,
                         "No Response!", BEFORE_M},
        WriteFailureCase{"LnbWrongReply", 1, Wrong("LNB", "ER\r\n"), "LNB5", sim::ToBytes("ER\r\n"), ERR_BAD_RESPONSE,
                         "Unexpected Response! [ER]", BEFORE_M},
        WriteFailureCase{"LndShortReply", 1, Short("LND", 2), "LNDA", sim::ToBytes("OK"), ERR_BAD_RESPONSE,
                         "Unexpected Response! [OK]", BEFORE_M},
        WriteFailureCase{"PlpRefused", 5, FaultOn(sim::FaultKind::RefuseBlock, "WPLP"), "WPLP", sim::ToBytes("<<\r\n"),
                         ERR_BAD_RESPONSE, "", BEFORE_M},
        WriteFailureCase{"BlsRefused", 1, FaultOn(sim::FaultKind::RefuseBlock, "WBLS"), "WBLS", sim::ToBytes("<<\r\n"),
                         ERR_BAD_RESPONSE, "", BEFORE_M},
        WriteFailureCase{"BlsFinalReplyWrong", 1, FinalReplyWrong("WBLS", "NO\r\n"), "WBLS", sim::ToBytes("NO\r\n"),
                         ERR_BAD_RESPONSE, "", BEFORE_M},
        WriteFailureCase{"ISilence", 1, FaultOn(sim::FaultKind::Silence, "I"), "I002", {}, ERR_NO_RESPONSE,
                         "No Response!", BEFORE_M},
        WriteFailureCase{"iSilenceIsDropped", 1, FaultOn(sim::FaultKind::Silence, "i"), "i345", {}, RESULT_OK, "", ALL},
        WriteFailureCase{"iOfTunerFiveIsDropped", 5, Wrong("i", "ER\r\n"), "i200", sim::ToBytes("ER\r\n"), RESULT_OK, "",
                         ALL},
        WriteFailureCase{"JWrongReply", 1, Wrong("J", "ER\r\n"), "J001", sim::ToBytes("ER\r\n"), ERR_BAD_RESPONSE,
                         "Unexpected Response! [ER]", BEFORE_M},
        WriteFailureCase{"jWrongReplyIsDropped", 1, Wrong("j", "ER\r\n"), "j234", sim::ToBytes("ER\r\n"), RESULT_OK, "",
                         ALL},
        WriteFailureCase{"MSilence", 1, FaultOn(sim::FaultKind::Silence, "M"), "M801", {}, ERR_NO_RESPONSE,
                         "No Response!", FROM_M},
        WriteFailureCase{"hWrongReply", 1, Wrong("h", "NO\r\n"), "h819", sim::ToBytes("NO\r\n"), ERR_BAD_RESPONSE,
                         "Unexpected Response! [NO]", FROM_M},
        WriteFailureCase{"sSilence", 1, FaultOn(sim::FaultKind::Silence, "s"), "s024", {}, ERR_NO_RESPONSE,
                         "No Response!", FROM_M},
        WriteFailureCase{"QWrongReply", 1, Wrong("Q", "Q\r\n\n"), "Q008", sim::ToBytes("Q\r\n\n"), ERR_BAD_RESPONSE,
                         "Unexpected Response! [Q]", FROM_M},
        WriteFailureCase{"yShortReply", 1, Short("y", 3), "y999", sim::ToBytes("OK\r"), ERR_BAD_RESPONSE,
                         "Unexpected Response! [OK]", FROM_M},
        WriteFailureCase{"SecondBitSilence", 1, FaultOn(sim::FaultKind::Silence, "p+", 2), "p+9", {}, ERR_NO_RESPONSE,
                         "No Response!", FROM_M},
        WriteFailureCase{"CommitWrongReply", 1, Wrong("ZAll", "NO\r\n"), "ZAll", sim::ToBytes("NO\r\n"),
                         ERR_BAD_RESPONSE, "Unexpected Response! [NO]", ALL}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

} // namespace
