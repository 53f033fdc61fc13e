#include "ui/ErrorText.h"
#include "ui/VersionTitle.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using qam::ui::ErrorText;
using qam::ui::FallbackTitle;
using qam::ui::ReplyText;
using qam::ui::TitleFromFileVersion;

const std::string kPrefix = "Firmware Update Tool 8PSK/COFDM-QAM-Modul   V";

struct CodeCase {
    ResultCode code;
    const char* text;
};

TEST(ErrorText, EveryCodeHasItsText) {
    const std::vector<CodeCase> cases = {
        {RESULT_OK, ""},
        {ERR_COM_WRITE, "Can Not Write To COM"},
        {ERR_NO_RESPONSE, "No Response"},
        {ERR_BAD_RESPONSE, "Invalid Response [  ]"},
        {ERR_MODULE_REFUSED, "Unknown Error"},
        {ERR_FILE_OPEN, "Can Not Open File"},
        {ERR_FILE_FORMAT, "Illegal File Format"},
        {ERR_FILE_TOO_BIG, "File contain to much data"},
        {ERR_FILE_READ, "Read Access Error!"},
        {ERR_FILE_TYPE, "File Type not supported!"},
        {ERR_SECTION_NOT_FOUND, "Section Not Found"},
        {ERR_NO_MEMORY, "Insufficient Memory"},
        {RESULT_NOT_WIRED, "Unknown Error"},
        {0x81000004, "Unknown Error"},
        {0xFFFFFFFF, "Unknown Error"},
    };
    for (const CodeCase& c : cases) {
        EXPECT_EQ(ErrorText(c.code), c.text) << std::hex << c.code;
    }
}

struct ReplyCase {
    std::vector<char> reply;
    const char* shown;
};

TEST(ErrorText, BadResponseShowsThePrintableStartOfTheReply) {
    const std::vector<ReplyCase> cases = {
        {{'A', 'B', '\r', '\n'}, "Invalid Response [ AB ]"},
        {{'A', ' ', 'B', '.'}, "Invalid Response [ A ]"},
        {{'\x01', 'B', 'C', 'D'}, "Invalid Response [  ]"},
        {{'N', 'U', 'V', 'x'}, "Invalid Response [ NUVx ]"},
        {{'O', 'K', '\0', 'Z'}, "Invalid Response [ OK ]"},
        {{'O', static_cast<char>(0x80), 'K', 'x'}, "Invalid Response [ O ]"},
        {{'~', '!', static_cast<char>(0x7F), 'x'}, "Invalid Response [ ~!\x7F" "x ]"},
        {{}, "Invalid Response [  ]"},
    };
    for (const ReplyCase& c : cases) {
        EXPECT_EQ(ErrorText(ERR_BAD_RESPONSE, c.reply), c.shown);
    }
}

TEST(ErrorText, ReplyTextNeverReadsBeyondTheReplyGiven) {
    // A full buffer of printable bytes with no end mark: the text is the buffer, nothing more.
    const char buffer[] = {'W', 'X', 'Y', 'Z', 'Q', 'Q'};
    EXPECT_EQ(ReplyText(std::span<const char>(buffer, 4)), "WXYZ");
    EXPECT_EQ(ReplyText(std::span<const char>(buffer, 0)), "");
}

struct TitleCase {
    const char* fileVersion;
    std::optional<std::string> title;
};

TEST(VersionTitle, FileVersionTextGivesTheTitle) {
    const std::vector<TitleCase> cases = {
        {"1, 4, 6, 0", kPrefix + " 1.46"},
        {"2, 10, 3, 0", kPrefix + " 2.103"},
        {"1,0,0,0", kPrefix + " 1.00"},
        {"1, 0, 0", kPrefix + " 1.00"},
        {"  7,\t8,\n9 and more", kPrefix + " 7.89"},
        {"-1, +2, 3", kPrefix + " -1.23"},
        {"1.4.6.0", std::nullopt},
        {"1 ,4, 6, 0", std::nullopt}, // the comma must follow its number directly
        {"1, 4", std::nullopt},
        {"1, 4,", std::nullopt},
        {"", std::nullopt},
        {"version 1, 2, 3", std::nullopt},
        {"99999999999, 1, 2", kPrefix + " 2147483647.12"}, // out of range: saturated, never undefined
    };
    for (const TitleCase& c : cases) {
        EXPECT_EQ(TitleFromFileVersion(c.fileVersion), c.title) << '"' << c.fileVersion << '"';
    }
}

TEST(VersionTitle, FallbackIsThePrefixWithQuestionMarks) {
    EXPECT_EQ(FallbackTitle(), kPrefix + " ?.??");
}

} // namespace
