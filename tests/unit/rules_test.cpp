// The pure rules, one table each, every expectation written out from the system's definition.
#include "framework/Clock.h"
#include "link/PosixLineSettings.h"
#include "link/Protocol.h"
#include "module/ChannelSettings.h"
#include "module/ModuleSearch.h"
#include "module/SavedSettings.h"
#include "ui/VersionTitle.h"
#include "update/ErrorReport.h"
#include "update/SectionTransform.h"
#include "update/UpdateSequence.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

namespace {

namespace protocol = qam::link::protocol;
using Bytes = std::vector<std::uint8_t>;

Bytes Of(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

TEST(Rules, RepliesAndTheirBoxTexts) {
    struct Row {
        std::string reply;
        int expected;
        int received;
        ResultCode code;
        std::string box; // the "Execute Command" text
    };
    for (const Row& r : std::vector<Row>{
             {"OK\r\n", 4, 4, RESULT_OK, ""},
             {"OK\r\r", 4, 4, ERR_BAD_RESPONSE, "Unexpected Response! [OK]"},
             {"ok\r\n", 4, 4, ERR_BAD_RESPONSE, "Unexpected Response! [ok]"},
             {"OK", 4, 2, ERR_BAD_RESPONSE, "Unexpected Response! [OK]"},
             {"NUVs", 4, 4, ERR_BAD_RESPONSE, "Unexpected Response! [NUVs]"},
             {"AB\x7F\x80", 4, 4, ERR_BAD_RESPONSE, "Unexpected Response! [AB\x7F]"},
             {"ABCDEFGHIJ", 4, 3, ERR_BAD_RESPONSE, "Unexpected Response! [ABC]"},
             {"", 4, 0, ERR_NO_RESPONSE, "No Response!"},
             {"12345678", 8, 8, RESULT_OK, ""},
             {"1234567", 8, 7, ERR_BAD_RESPONSE, "Unexpected Response! [1234567]"},
         }) {
        SCOPED_TRACE(r.reply);
        const Bytes reply = Of(r.reply);
        EXPECT_EQ(protocol::ClassifyReply(reply, r.expected, r.received), r.code);
        EXPECT_EQ(
            protocol::ExchangeBoxText(r.code, reply, protocol::PrintableCut(reply, r.expected, r.received)),
            r.box);
    }
    EXPECT_EQ(protocol::ExchangeBoxText(ERR_COM_WRITE, {}, 0), "Can Not Write to COM!");
}

TEST(Rules, LengthWordsAndProgress) {
    struct Row {
        Bytes word;
        int received;
        int capacity;
        ResultCode code;
        int length;
    };
    for (const Row& r : std::vector<Row>{
             {{0x82, 0, 0, 0}, 4, 130, RESULT_OK, 130},
             {{0x83, 0, 0, 0}, 4, 130, ERR_BAD_RESPONSE, 0},
             {{0, 0, 0, 0}, 4, 130, ERR_BAD_RESPONSE, 0},
             {{0xFE, 0xFF, 0xFF, 0xFF}, 4, 130, ERR_BAD_RESPONSE, 0},
             {{0x01, 0xFF, 0xFF, 0xFF}, 1, 130, ERR_BAD_RESPONSE, 0}, // one byte came
             {{0xFF, 0xFF, 0xFF, 0xFF}, 0, 130, ERR_NO_RESPONSE, 0},
             {{0xFF, 0xFF, 0xFF, 0xFF}, 4, 130, ERR_NO_RESPONSE, 0},
             {Of("<<\r\n"), 4, 130, ERR_MODULE_REFUSED, 0},
             {Of(">>\r\n"), 4, 130, ERR_MODULE_REFUSED, 0},
             {Of("<<\r\n"), 4, 0x7FFFFFFF, RESULT_OK,
              0x0A0D3C3C}, // a refusal is only what cannot be a length
         }) {
        int length = 0;
        std::array<std::uint8_t, 4> word{};
        std::copy(r.word.begin(), r.word.end(), word.begin());
        EXPECT_EQ(protocol::ClassifyLengthWord(word, r.received, r.capacity, length), r.code) << r.word[0];
        EXPECT_EQ(length, r.length);
    }
    EXPECT_EQ(protocol::ProgressPosition(24, 40), 40);
    EXPECT_EQ(protocol::ProgressPosition(8, 40), 80);
    EXPECT_EQ(protocol::ProgressPosition(40, 40), 0);
    EXPECT_EQ(protocol::ProgressPosition(0x7FFFFFFE, 0x7FFFFFFF), 1);
}

TEST(Rules, ErrorReportTexts) {
    using qam::update::ErrorText;
    const std::vector<std::pair<ResultCode, std::string>> texts = {
        {0, ""},
        {ERR_COM_WRITE, "Can Not Write To COM"},
        {ERR_NO_RESPONSE, "No Response"},
        {ERR_MODULE_REFUSED, "Unknown Error"},
        {ERR_FILE_OPEN, "Can Not Open File"},
        {ERR_FILE_FORMAT, "Illegal File Format"},
        {ERR_FILE_TOO_BIG, "File contain to much data"},
        {ERR_FILE_READ, "Read Access Error!"},
        {ERR_FILE_TYPE, "File Type not supported!"},
        {ERR_SECTION_NOT_FOUND, "Section Not Found"},
        {ERR_NO_MEMORY, "Insufficient Memory"},
        {1, "Unknown Error"},
        {ERR_BAD_RESPONSE, "Invalid Response [  ]"}};
    for (const auto& [code, text] : texts) {
        EXPECT_EQ(ErrorText(code), text) << code;
    }
    const std::string ab = "AB\r\n";
    EXPECT_EQ(ErrorText(ERR_BAD_RESPONSE, ab), "Invalid Response [ AB ]");
    EXPECT_EQ(ErrorText(ERR_BAD_RESPONSE, std::string("A B.")), "Invalid Response [ A ]");
    EXPECT_EQ(ErrorText(ERR_BAD_RESPONSE, std::string("AB\x80") + "C"), "Invalid Response [ AB ]");
    EXPECT_EQ(ErrorText(ERR_BAD_RESPONSE, std::string("\x01") + "AB"), "Invalid Response [  ]");
    EXPECT_EQ(ErrorText(ERR_BAD_RESPONSE, std::string_view("NUVsX").substr(0, 4)),
              "Invalid Response [ NUVs ]");
}

TEST(Rules, PortsAndIdentification) {
    using namespace qam::module;
    // Visited at step i: preferred + i, less the count once when above it, in 64 bits.
    EXPECT_EQ(PortAt(5, 8, 3), 8);
    EXPECT_EQ(PortAt(5, 8, 4), 1);
    EXPECT_EQ(PortAt(20, 4, 0), 16);
    EXPECT_EQ(PortAt(std::numeric_limits<int>::max(), 2, 1), 2147483646);
    EXPECT_EQ(PortAt(-5, 2, 1), -4);
    EXPECT_EQ(CapPortCount(40), 32);
    EXPECT_EQ(CapPortCount(31), 31);
    EXPECT_EQ(CapPortCount(-3), -3);
    for (const auto& [port, bit] : std::vector<std::pair<std::int64_t, std::uint32_t>>{
             {1, 1u}, {32, 1u << 31}, {33, 1u}, {0, 1u << 31}, {-1, 1u << 30}, {4294967297LL, 1u}}) {
        EXPECT_EQ(SyncMaskBit(port), bit) << port;
    }
    const std::vector<std::pair<std::string, TunerType>> tuners = {
        {"MB86A1x ", 0}, {"STV0299B", 1},  {"CE6313  ", 2},  {"ALIS3501", 3}, {"STV6110 ", 4},
        {"EDU10394", 5}, {"MB86A1x!", -1}, {"stv0299b", -1}, {"CE6313 ", -1}};
    for (const auto& [reply, type] : tuners) {
        EXPECT_EQ(TunerTypeOf(reply), type) << reply;
    }
    const std::vector<std::pair<std::string, double>> versions = {
        {"1.16 A", 1.16}, {" \t1.16", 1.16}, {"-2.5x", -2.5}, {"+3", 3.0}, {"1e2x", 100.0}, {"1e", 1.0},
        {".5", 0.5},      {".", 0.0},        {"abc", 0.0},    {"", 0.0},   {"1e-999", 0.0}};
    for (const auto& [text, version] : versions) {
        EXPECT_EQ(ParseFirmwareVersion(text), version) << text;
    }
    EXPECT_TRUE(std::isinf(ParseFirmwareVersion("1e999")));
}

TEST(Rules, TitleFileTypeAndTheWaitsSleep) {
    const std::string prefix = "Firmware Update Tool 8PSK/COFDM-QAM-Modul   V";
    EXPECT_EQ(qam::ui::FallbackTitle(), prefix + " ?.??");
    EXPECT_EQ(qam::ui::TitleFromFileVersion("1, 4, 6, 0"), prefix + " 1.46");
    EXPECT_EQ(qam::ui::TitleFromFileVersion("2, 10, 3, 0"), prefix + " 2.103");
    EXPECT_EQ(qam::ui::TitleFromFileVersion("  1,  4,  6"), prefix + " 1.46");
    EXPECT_EQ(qam::ui::TitleFromFileVersion("1.4.6.0"), std::nullopt);
    EXPECT_EQ(qam::ui::TitleFromFileVersion("1 ,4,6"), std::nullopt);
    EXPECT_EQ(qam::ui::TitleFromFileVersion("1,4"), std::nullopt);
    for (const char* path : {"C:\\fw\\a.qam", "a.QAM", ".qam"}) {
        EXPECT_TRUE(qam::update::HasUpdateFileType(path)) << path;
    }
    for (const char* path : {"qam", "a.qam.bak", "a.qam ", "a.bin"}) {
        EXPECT_FALSE(qam::update::HasUpdateFileType(path)) << path;
    }
    // Just past the second counted: 999 ms into it, 2 ms; at its start, 1001 ms; none once the
    // reading is past it (seconds a tick behind, as time() beside the millisecond clock was).
    EXPECT_EQ(fw::MillisecondsToNextSecond(1000, 1'000'999), 2);
    EXPECT_EQ(fw::MillisecondsToNextSecond(1001, 1'001'000), 1001);
    EXPECT_EQ(fw::MillisecondsToNextSecond(1000, 1'000'500), 501);
    EXPECT_EQ(fw::MillisecondsToNextSecond(1000, 1'001'015), 0);
}

// A channel's write as one line: "T" and the read constant for a time-out set, a command, a block
// as its command and bytes.
std::string Plan(int channel, const Bytes& image,
                 const std::vector<std::pair<int, std::uint8_t>>& bitmapBytes, TunerType tuner,
                 double version) {
    SettingsRecord settings;
    settings.length = static_cast<std::uint32_t>(image.size());
    std::copy(image.begin(), image.end(), settings.data.begin());
    BlsBlock bls;
    bls.length = 1;
    bls.data[0] = 0xB0;
    std::array<std::uint8_t, FILTER_BITMAP_BYTES> bitmap{};
    for (const auto& [index, value] : bitmapBytes) {
        bitmap[static_cast<std::size_t>(index)] = value;
    }
    std::string line;
    for (const auto& step :
         qam::module::PlanChannelWrite(channel, &settings, bitmap.data(), &bls, tuner, version)) {
        if (step.kind == qam::module::WriteStep::Kind::Timeouts) {
            line += " T" + std::to_string(step.readConstant);
            continue;
        }
        line += " ";
        for (const char c : step.command) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(c));
            line += c >= 0x20 && c < 0x7F ? std::string(1, c) : std::string("\\") + hex;
        }
        for (const std::uint8_t byte : step.data) {
            char hex[4];
            std::snprintf(hex, sizeof hex, ":%02X", byte);
            line += hex;
        }
    }
    return line.substr(1);
}

TEST(Rules, SettingsEncoding) {
    // J 0x0F4240 (a million), i byte 3 = 0x0F, mode 0x12, H 0, S 7, Q 9, y 5, bytes 16 and 17 as given.
    auto image = [](std::uint8_t b16, std::uint8_t b17) {
        return Bytes{0x40, 0x42, 0x0F, 0x0F, 0x12, 0, 0, 0, 7, 0, 9, 0, 0, 0, 5, 0, b16, b17};
    };
    const std::string rest = " T5000 M813 S000 s007 Q008 y005 T10000 ZAll T5000";
    EXPECT_EQ(Plan(1, image(0x00, 0x01), {}, 5, 1.16),
              "T25000 c001 WPLP:00:01 WBLS:B0 i015 J100 j000" + rest);
    EXPECT_EQ(Plan(1, image(0x00, 0x02), {}, 5, 1.17), "T25000 c001 WBLS:B0 i015 J100 j000" + rest);
    EXPECT_EQ(Plan(1, image(0x07, 0x0F), {}, 5, 1.15), "T25000 c001 LNB5 LNDF WBLS:B0 i015 J100 j000" + rest);
    // Other tuners take 16 bits: J 0x4240 = 16960 and I 0x0F0F = 3855; channel 0 adds H.
    EXPECT_EQ(Plan(0, image(0x00, 0x01), {{0, 0x80}, {1, 0x01}, {1023, 0x80}}, 1, 1.16),
              "T25000 c000 LNB0 LND1 WBLS:B0 I003 i855 J016 j960 T5000 M813 H000 h000 S000 s007 Q008 y005 "
              "p+\\07\\00 p+\\08\\00 p+\\FF\\1F T10000 ZAll T5000");
    // A J of 16777215 gives J div 1000 of five digits: only "J" and the first three go out.
    Bytes wide = image(0, 0x10);
    wide[0] = wide[1] = wide[2] = 0xFF;
    EXPECT_EQ(Plan(1, wide, {}, 5, 1.0), "T25000 c001 LNB0 WBLS:B0 i015 J167 j215" + rest);
    for (const auto& [mode, number] : std::vector<std::pair<std::uint8_t, int>>{
             {0x00, 801}, {0x04, 701}, {0x0E, 712}, {0x12, 813}, {0x1E, 711}, {0x18, 801}, {0xE1, 801}}) {
        EXPECT_EQ(qam::module::ModeNumber(mode), number) << int{mode};
    }
}

// Each fault of a saved-settings file is refused whole by its own error; the checksum, checked last,
// is left wrong where the fault is met before it.
TEST(Rules, SavedSettingsRefusals) {
    using qam::module::SavedSettingsError;
    const std::string bitmap = "filter 1024 " + std::string(2048, '0') + "\n";
    const std::string head =
        "qam-channel-settings 1\nport COM3\ntime 0\ndsp NUV 1.16\npld P\ntuner 1\nfirmware 1.16\n";
    const std::string channel1 = "channel1.settings 1 00\nchannel1.bls 0\nchannel1." + bitmap;
    const std::string valid = head + "channel0.settings 1 00\nchannel0.bls 0\nchannel0." + bitmap + channel1;
    const std::string crc = "crc32 2D0B8A58\n";
    for (const auto& [text, error] : std::vector<std::pair<std::string, SavedSettingsError>>{
             {valid + crc, SavedSettingsError::None},
             {"qam-update-settings 1\n", SavedSettingsError::Name},
             {"qam-channel-settings 2\n", SavedSettingsError::Version},
             {head.substr(0, 60), SavedSettingsError::Truncated},
             {head + "channel0.image 1 00\n", SavedSettingsError::Format},
             {"qam-channel-settings 1\nport COM3\ntime soon\n", SavedSettingsError::Format},
             {head + "channel0.settings 257 00\n", SavedSettingsError::Length},
             {head + "channel0.settings 2 0G00\n", SavedSettingsError::Hex},
             {head + "channel0.settings 1 00\nchannel0.bls 0\nchannel0.filter 1023 00\n",
              SavedSettingsError::Bitmap},
             {valid + "crc32 2D0B8A59\n", SavedSettingsError::Checksum},
             {valid + crc + "\n", SavedSettingsError::Oversized},
             {std::string(16385, '\n'), SavedSettingsError::Oversized},
         }) {
        SCOPED_TRACE(text.substr(0, 80));
        qam::module::SavedSettings settings;
        EXPECT_EQ(ParseSavedSettings(text, settings), error);
    }
}

TEST(Rules, SectionTransform) {
    // Key bytes 0..3 = 0x00, 0x08, 0x10, 0xFF (4..7 never used); each body byte s becomes
    // t XOR (key[t AND 3] AND 0xF8) with t = s XOR letter.
    const qam::update::SectionKey key{0x00, 0x08, 0x10, 0xFF, 0x55, 0x55, 0x55, 0x55};
    Bytes body{0x42, 0x43, 0x40, 0x41, 0x00, 0xFF};
    qam::update::UnscrambleBody(body, 'B', key);
    EXPECT_EQ(body, (Bytes{0x00, 0x09, 0x12, 0xFB, 0x52, 0xB5}));
    Bytes data{0x44, 0x45};
    qam::update::UnscrambleBody(data, 'D', key);
    EXPECT_EQ(data, (Bytes{0x00, 0x09}));
    Bytes round{0x01, 0x7F, 0x80, 0xFE};
    qam::update::ScrambleBody(round, 'P', key);
    qam::update::UnscrambleBody(round, 'P', key);
    EXPECT_EQ(round, (Bytes{0x01, 0x7F, 0x80, 0xFE}));
}

TEST(Rules, PosixLineSettings) {
    termios current{}; // a line as cooked as it gets: every flag set, so that each one cleared is seen
    current.c_iflag = current.c_oflag = current.c_cflag = current.c_lflag = ~tcflag_t{0};
    const termios even = qam::link::posix::LineSettings(current, B115200, 1, 0);
    EXPECT_EQ(even.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | HUPCL | CRTSCTS | CLOCAL | CREAD),
              tcflag_t{CS8 | PARENB | CLOCAL | CREAD});
    EXPECT_EQ(even.c_iflag & (INPCK | IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | PARMRK),
              tcflag_t{INPCK});
    EXPECT_EQ((even.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) | (even.c_oflag & OPOST), tcflag_t{0});
    EXPECT_EQ(std::pair(even.c_cc[VMIN], even.c_cc[VTIME]), std::pair(cc_t{1}, cc_t{0}));
    EXPECT_EQ(cfgetospeed(&even), speed_t{B115200});
    const termios none = qam::link::posix::LineSettings(current, B9600, 0, 1);
    EXPECT_EQ(none.c_cflag & PARENB, tcflag_t{0});
    EXPECT_EQ(none.c_iflag & (INPCK | IXON | IXOFF), tcflag_t{IXON | IXOFF});
    speed_t speed{};
    EXPECT_FALSE(qam::link::posix::BaudRateSpeed(115201, speed));
}

} // namespace
