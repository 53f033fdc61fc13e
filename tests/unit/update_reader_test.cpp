#include "tests/unit/UpdateFileBytes.h"
#include "tests/unit/UpdateRecordingSink.h"
#include "update/DateMask.h"
#include "update/MemorySource.h"
#include "update/SectionTransform.h"
#include "update/StdioFile.h"
#include "update/UpdateFileCheck.h"
#include "update/UpdateFileReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

using namespace qam::test;
using namespace qam::update;

namespace {

const std::string VERSION = "KESTRAN UpdateFile Vers 2.00";

struct Outcome {
    ResultCode result;
    ReadFailure failure;
    std::uint64_t position; // bytes taken from the file
    CRecordingSink sink;
};

Outcome ReadBytes(const FileBytes& bytes, std::size_t failFrom = SIZE_MAX, int failSectionsFrom = 0) {
    Outcome outcome{};
    outcome.sink.failSectionsFrom = failSectionsFrom;
    CMemorySource source(bytes, failFrom);
    CUpdateFileReader reader;
    outcome.result = reader.Read(source, outcome.sink);
    outcome.failure = reader.Failure();
    outcome.position = reader.Position();
    return outcome;
}

// The DATE payload whose section key is key.
FileBytes DatePayloadFor(const SectionKey& key) {
    FileBytes payload(8);
    for (std::size_t i = 0; i < 8; ++i) {
        payload[i] = static_cast<std::uint8_t>(key[i] ^ DATE_MASK[i]);
    }
    return payload;
}

TEST(UpdateReader, EmptyFileIsFileRead) {
    const Outcome o = ReadBytes({});
    EXPECT_EQ(o.result, ERR_FILE_READ);
    EXPECT_EQ(o.failure.problem, ReadProblem::FrameCut);
    EXPECT_EQ(o.failure.frame.offset, 0u);
    EXPECT_TRUE(o.sink.events.empty());
}

TEST(UpdateReader, FrameOfFewerThanEightBytesIsFileRead) {
    for (std::size_t size = 1; size < 8; ++size) {
        FileBytes bytes;
        PutFrame(bytes, FILE_STOP, 0);
        bytes.resize(size);
        const Outcome o = ReadBytes(bytes);
        EXPECT_EQ(o.result, ERR_FILE_READ) << size;
        EXPECT_EQ(o.failure.problem, ReadProblem::FrameCut) << size;
        EXPECT_TRUE(o.sink.events.empty()) << size;
    }
}

TEST(UpdateReader, OnlyStopSucceedsAndNothingBehindItIsRead) {
    // The STOP length is never examined and whatever follows is never read.
    FileBytes bytes;
    PutFrame(bytes, FILE_STOP, 0xFFFFFFFF);
    bytes.insert(bytes.end(), {'G', 'A', 'R', 'B', 'A', 'G', 'E'});
    const Outcome o = ReadBytes(bytes);
    EXPECT_EQ(o.result, RESULT_OK);
    EXPECT_EQ(o.position, 8u);
    EXPECT_EQ(o.sink.events, (std::vector<std::string>{"record STOP @0 L=4294967295"}));
    EXPECT_TRUE(o.sink.sections.empty());
}

TEST(UpdateReader, FileWithoutStopIsFileReadAfterItsSections) {
    FileBytes bytes;
    PutSection(bytes, FILE_DDAT, 0, Ramp(16));
    const Outcome o = ReadBytes(bytes);
    EXPECT_EQ(o.result, ERR_FILE_READ);
    EXPECT_EQ(o.failure.problem, ReadProblem::FrameCut);
    EXPECT_EQ(o.failure.frame.offset, 28u);
    ASSERT_EQ(o.sink.sections.size(), 1u);
}

struct VersionCase {
    const char* name;
    FileBytes payload;
    ResultCode result;
};

FileBytes Text(std::string_view text) {
    return FileBytes(text.begin(), text.end());
}

TEST(UpdateReader, VersionTextMatchesOnItsFirst28Characters) {
    FileBytes withZero = Text(VERSION);
    withZero.push_back(0);
    FileBytes zeroInside = Text(VERSION);
    zeroInside[10] = 0;
    FileBytes changed = Text(VERSION);
    changed[27] = '1';
    const VersionCase cases[] = {
        {"exact", Text(VERSION), RESULT_OK},
        {"more characters", Text(VERSION + " beta 7"), RESULT_OK},
        {"trailing zero", withZero, RESULT_OK},
        {"first 27 characters", Text(VERSION.substr(0, 27)), ERR_FILE_FORMAT},
        {"zero within", zeroInside, ERR_FILE_FORMAT},
        {"last character differs", changed, ERR_FILE_FORMAT},
        {"lower case", Text("kestran UpdateFile Vers 2.00"), ERR_FILE_FORMAT},
        {"empty", {}, ERR_FILE_FORMAT},
    };
    for (const VersionCase& c : cases) {
        FileBytes bytes;
        PutRecord(bytes, FILE_VERS, c.payload);
        PutStop(bytes);
        const Outcome o = ReadBytes(bytes);
        EXPECT_EQ(o.result, c.result) << c.name;
        if (c.result != RESULT_OK) {
            EXPECT_EQ(o.failure.problem, ReadProblem::VersionMismatch) << c.name;
            EXPECT_EQ(o.position, 8 + c.payload.size()) << c.name;
        }
    }
}

TEST(UpdateReader, UnknownTagEndsWithFormatBeforeItsPayload) {
    FileBytes bytes{0x41, 0x42, 0x43, 0x44};
    PutWord(bytes, 16);
    bytes.resize(bytes.size() + 16);
    PutStop(bytes);
    const Outcome o = ReadBytes(bytes);
    EXPECT_EQ(o.result, ERR_FILE_FORMAT);
    EXPECT_EQ(o.failure.problem, ReadProblem::UnknownTag);
    EXPECT_EQ(o.failure.frame.tag, 0x44434241u);
    EXPECT_EQ(o.failure.frame.length, 0x10u);
    EXPECT_EQ(o.position, 8u);
    EXPECT_EQ(o.sink.events, (std::vector<std::string>{"record DCBA @0 L=16"}));
}

TEST(UpdateReader, TagsAreReadLittleEndian) {
    // The names written forwards, or BFN with another fourth character, are no known tag.
    for (const std::string_view wrong :
         {"VERS", "DATE", "STOP", "BFN ", "DFN ", "BDAT", "DPRG", "\0NFB", "_NFD", "tadd"}) {
        FileBytes bytes;
        PutFrame(bytes, wrong, 0);
        PutStop(bytes);
        EXPECT_EQ(ReadBytes(bytes).failure.problem, ReadProblem::UnknownTag) << wrong;
    }
}

TEST(UpdateReader, WellFormedFileTellsEveryRecordInOrder) {
    FileBytes bytes;
    PutText(bytes, FILE_VERS, VERSION + std::string(1, '\0'));
    PutRecord(bytes, FILE_DATE, FileBytes(8, 0x11));
    PutText(bytes, FILE_BFN, std::string("fpga.bit") + '\0');
    PutSection(bytes, FILE_BDAT, 0, Ramp(20));
    PutText(bytes, FILE_DFN, "app.dmp");
    PutSection(bytes, FILE_DPRG, 0, Ramp(16, 0x40));
    PutSection(bytes, FILE_DDAT, 0, Ramp(12, 0x80));
    PutStop(bytes);
    const Outcome o = ReadBytes(bytes);
    ASSERT_EQ(o.result, RESULT_OK);
    EXPECT_EQ(o.sink.events, (std::vector<std::string>{
                                 "record VERS @0 L=29",
                                 "text VERS \"KESTRAN UpdateFile Vers 2.00\"",
                                 "record DATE @37 L=8",
                                 "key",
                                 "record BFN  @53 L=9",
                                 "text BFN  \"fpga.bit\"",
                                 "record BDAT @70 L=20 name=\"fpga.bit\"",
                                 "section BDAT",
                                 "record DFN  @102 L=7",
                                 "text DFN  \"app.dmp\"",
                                 "record DPRG @117 L=16 name=\"app.dmp\"",
                                 "section DPRG",
                                 "record DDAT @145 L=12 name=\"app.dmp\"",
                                 "section DDAT",
                                 "record STOP @169 L=0",
                             }));
    EXPECT_EQ(o.position, bytes.size());
    ASSERT_EQ(o.sink.sections.size(), 3u);
    EXPECT_EQ(o.sink.sections[0].sent, Ramp(16, 4));
    EXPECT_EQ(o.sink.sections[1].sent, Ramp(12, 0x44));
    EXPECT_EQ(o.sink.sections[2].sent, Ramp(8, 0x84));
}

TEST(UpdateReader, NamesEndAtTheirFirstZeroOrTheirPayload) {
    FileBytes bytes;
    PutSection(bytes, FILE_BDAT, 0, Ramp(4)); // before any name: empty
    PutText(bytes, FILE_BFN, "whole.bit");    // no zero: the whole payload
    PutSection(bytes, FILE_BDAT, 0, Ramp(4));
    PutRecord(bytes, FILE_DFN, {'a', 'b', 0, 'c', 'd'}); // a zero inside: the text before it
    PutSection(bytes, FILE_DDAT, 0, Ramp(4));
    PutText(bytes, FILE_BFN, "x"); // a later name replaces the earlier one
    PutSection(bytes, FILE_BDAT, 0, Ramp(4));
    PutSection(bytes, FILE_DPRG, 0, Ramp(4));
    PutStop(bytes);
    const Outcome o = ReadBytes(bytes);
    ASSERT_EQ(o.result, RESULT_OK);
    std::vector<std::string> sectionRecords;
    for (const std::string& e : o.sink.events) {
        if (e.find("name=") != std::string::npos) {
            sectionRecords.push_back(e.substr(e.find("name=")));
        }
    }
    EXPECT_EQ(sectionRecords, (std::vector<std::string>{"name=\"\"", "name=\"whole.bit\"", "name=\"ab\"",
                                                        "name=\"x\"", "name=\"ab\""}));
}

TEST(UpdateReader, ShorterTextAfterLongerRecordIsNotMixedWithItsLeftovers) {
    // The buffer is not cleared between records; the zero placed behind each text is what ends it.
    FileBytes bytes;
    PutSection(bytes, FILE_DDAT, 0, FileBytes(64, 'Z'));
    PutText(bytes, FILE_DFN, "short");
    PutSection(bytes, FILE_DDAT, 0, Ramp(4));
    PutStop(bytes);
    const Outcome o = ReadBytes(bytes);
    ASSERT_EQ(o.result, RESULT_OK);
    EXPECT_EQ(o.sink.events[3], "text DFN  \"short\"");
    EXPECT_EQ(o.sink.events[4], "record DDAT @89 L=4 name=\"short\"");
}

TEST(UpdateReader, SectionAtTheLimitIsReadAndOneByteMoreIsNoMemory) {
    FileBytes bytes;
    PutSection(bytes, FILE_DPRG, 0, Ramp(0x40000));
    PutStop(bytes);
    const Outcome fits = ReadBytes(bytes);
    ASSERT_EQ(fits.result, RESULT_OK);
    ASSERT_EQ(fits.sink.sections.size(), 1u);
    EXPECT_EQ(fits.sink.sections[0].sent, Ramp(0x40000 - 4, 4));

    FileBytes tooBig;
    PutSection(tooBig, FILE_DDAT, 0, Ramp(4));
    PutSection(tooBig, FILE_DPRG, 0, Ramp(0x40001));
    PutStop(tooBig);
    const Outcome o = ReadBytes(tooBig);
    EXPECT_EQ(o.result, ERR_NO_MEMORY);
    EXPECT_EQ(o.failure.problem, ReadProblem::SectionTooLong);
    // The control word is read, the data is not.
    EXPECT_EQ(o.position, 16u + 12u);
    EXPECT_EQ(o.sink.sections.size(), 1u);
}

TEST(UpdateReader, SectionLengthIsCheckedUnsigned) {
    FileBytes bytes;
    PutFrame(bytes, FILE_BDAT, 0xFFFFFFFF);
    PutWord(bytes, 0);
    PutStop(bytes);
    const Outcome o = ReadBytes(bytes);
    EXPECT_EQ(o.result, ERR_NO_MEMORY);
    EXPECT_EQ(o.position, 12u);
}

TEST(UpdateReader, RecordsOutsideTheLimitsAreFormatAndNotReadBeyondTheirFrame) {
    struct Case {
        std::string_view tag;
        std::uint32_t length;
        ReadProblem problem;
        std::uint64_t position; // where reading stopped
    };
    const Case cases[] = {
        {FILE_DATE, 0, ReadProblem::DateLength, 8},
        {FILE_DATE, 7, ReadProblem::DateLength, 8},
        {FILE_DATE, 9, ReadProblem::DateLength, 8},
        {FILE_DATE, 0xFFFFFFFF, ReadProblem::DateLength, 8},
        {FILE_VERS, 0x40000, ReadProblem::TextTooLong, 8},
        {FILE_VERS, 0xFFFFFFFF, ReadProblem::TextTooLong, 8},
        {FILE_BFN, 0x40000, ReadProblem::TextTooLong, 8},
        {FILE_DFN, 0x80000000, ReadProblem::TextTooLong, 8},
        {FILE_BDAT, 0, ReadProblem::SectionTooShort, 12},
        {FILE_DDAT, 3, ReadProblem::SectionTooShort, 12},
        {FILE_DPRG, 1, ReadProblem::SectionTooShort, 12},
    };
    for (const Case& c : cases) {
        FileBytes bytes;
        PutFrame(bytes, c.tag, c.length);
        bytes.resize(bytes.size() + 64, 0xAA);
        const Outcome o = ReadBytes(bytes);
        EXPECT_EQ(o.result, ERR_FILE_FORMAT) << c.tag << " " << c.length;
        EXPECT_EQ(o.failure.problem, c.problem) << c.tag << " " << c.length;
        EXPECT_EQ(o.position, c.position) << c.tag << " " << c.length;
        EXPECT_TRUE(o.sink.sections.empty());
    }
}

TEST(UpdateReader, LongestTextFitsWithItsZero) {
    FileBytes bytes;
    PutText(bytes, FILE_BFN, std::string(0x3FFFF, 'n'));
    PutSection(bytes, FILE_BDAT, 0, Ramp(4));
    PutStop(bytes);
    const Outcome o = ReadBytes(bytes);
    ASSERT_EQ(o.result, RESULT_OK);
    EXPECT_EQ(o.sink.events[2].size(), std::string("record BDAT @262151 L=4 name=\"\"").size() + 0x3FFFF);
}

TEST(UpdateReader, ShortPayloadsAreFileRead) {
    struct Case {
        const char* name;
        FileBytes bytes;
        ReadProblem problem;
    };
    FileBytes vers;
    PutFrame(vers, FILE_VERS, 29);
    vers.resize(8 + 28);
    FileBytes date;
    PutFrame(date, FILE_DATE, 8);
    date.resize(8 + 7);
    FileBytes name;
    PutFrame(name, FILE_DFN, 5);
    FileBytes control;
    PutFrame(control, FILE_BDAT, 16);
    control.resize(8 + 3);
    FileBytes data;
    PutFrame(data, FILE_DDAT, 16);
    PutWord(data, 0);
    data.resize(12 + 15);
    const Case cases[] = {
        {"VERS payload", vers, ReadProblem::PayloadCut},
        {"DATE payload", date, ReadProblem::PayloadCut},
        {"DFN payload", name, ReadProblem::PayloadCut},
        {"control word", control, ReadProblem::ControlWordCut},
        {"section data", data, ReadProblem::PayloadCut},
    };
    for (const Case& c : cases) {
        const Outcome o = ReadBytes(c.bytes);
        EXPECT_EQ(o.result, ERR_FILE_READ) << c.name;
        EXPECT_EQ(o.failure.problem, c.problem) << c.name;
        EXPECT_EQ(o.failure.frame.offset, 0u) << c.name;
        EXPECT_TRUE(o.sink.sections.empty()) << c.name;
    }
}

TEST(UpdateReader, SystemReadErrorIsFileReadAndDistinguished) {
    FileBytes bytes;
    PutText(bytes, FILE_VERS, VERSION);
    PutSection(bytes, FILE_DPRG, 0, Ramp(100));
    PutStop(bytes);
    // The disk fails inside the section's data.
    const Outcome o = ReadBytes(bytes, 36 + 12 + 50);
    EXPECT_EQ(o.result, ERR_FILE_READ);
    EXPECT_EQ(o.failure.problem, ReadProblem::SystemReadError);
    EXPECT_EQ(o.failure.frame.tag, TAG_DPRG);
    EXPECT_TRUE(o.sink.sections.empty());
}

TEST(UpdateReader, ScrambledSectionBeforeAnyDateIsFormatBeforeItsData) {
    FileBytes bytes;
    PutSection(bytes, FILE_DDAT, 0, Ramp(16));
    PutSection(bytes, FILE_BDAT, 0x1, Ramp(16));
    PutRecord(bytes, FILE_DATE, FileBytes(8));
    PutStop(bytes);
    const Outcome o = ReadBytes(bytes);
    EXPECT_EQ(o.result, ERR_FILE_FORMAT);
    EXPECT_EQ(o.failure.problem, ReadProblem::NoSectionKey);
    EXPECT_EQ(o.failure.frame.tag, TAG_BDAT);
    EXPECT_EQ(o.position, 28u + 12u);
    EXPECT_EQ(o.sink.sections.size(), 1u);
}

TEST(UpdateReader, EachKindLooksOnlyAtItsOwnFourControlBits) {
    struct Case {
        std::string_view tag;
        std::uint32_t control;
        bool scrambled;
    };
    const Case cases[] = {
        {FILE_BDAT, 0x00000001, true},  {FILE_BDAT, 0x00000008, true},  {FILE_BDAT, 0xFFFFFFF0, false},
        {FILE_DDAT, 0x0000000F, false}, {FILE_DDAT, 0x00000100, true},  {FILE_DDAT, 0x00000800, true},
        {FILE_DDAT, 0xFFFFF0FF, false}, {FILE_DPRG, 0x00010000, true},  {FILE_DPRG, 0x00080000, true},
        {FILE_DPRG, 0xFFF0FFFF, false}, {FILE_DPRG, 0x00000F0F, false}, {FILE_BDAT, 0x00000000, false},
    };
    const SectionKey key{0x18, 0x29, 0x3A, 0x4B, 0x5C, 0x6D, 0x7E, 0x8F};
    const FileBytes stored = Ramp(256 + 12);
    for (const Case& c : cases) {
        FileBytes bytes;
        PutRecord(bytes, FILE_DATE, DatePayloadFor(key));
        PutSection(bytes, c.tag, c.control, stored);
        PutStop(bytes);
        const Outcome o = ReadBytes(bytes);
        ASSERT_EQ(o.result, RESULT_OK) << c.tag << " " << c.control;
        ASSERT_EQ(o.sink.sections.size(), 1u);
        const auto& section = o.sink.sections[0];
        EXPECT_EQ(section.scrambled, c.scrambled) << c.tag << " " << c.control;
        EXPECT_EQ(section.controlWord, c.control);
        const bool changed = section.data != stored;
        EXPECT_EQ(changed, c.scrambled) << c.tag << " " << c.control;
    }
}

std::uint8_t LetterOf(std::string_view tag) {
    return tag == FILE_BDAT ? 'B' : (tag == FILE_DDAT ? 'D' : 'P');
}

TEST(UpdateReader, TransformKeepsLowBitsOfStoredXorLetterAndIgnoresKeyBytes4To7) {
    std::mt19937 random(7);
    for (const std::string_view tag : {FILE_BDAT, FILE_DDAT, FILE_DPRG}) {
        SectionKey key{};
        for (auto& b : key) {
            b = static_cast<std::uint8_t>(random());
        }
        SectionKey otherHigh = key;
        for (std::size_t i = 4; i < 8; ++i) {
            otherHigh[i] = static_cast<std::uint8_t>(~key[i]);
        }
        FileBytes stored = Ramp(12);
        const FileBytes every = Ramp(256);
        stored.insert(stored.end(), every.begin(), every.end());

        std::vector<FileBytes> outputs;
        for (const SectionKey& k : {key, otherHigh}) {
            FileBytes bytes;
            PutRecord(bytes, FILE_DATE, DatePayloadFor(k));
            PutSection(bytes, tag, 0x00010101, stored);
            PutStop(bytes);
            const Outcome o = ReadBytes(bytes);
            ASSERT_EQ(o.result, RESULT_OK);
            outputs.push_back(o.sink.sections.at(0).data);
        }
        EXPECT_EQ(outputs[0], outputs[1]) << tag;
        for (std::size_t i = 12; i < stored.size(); ++i) {
            EXPECT_EQ(outputs[0][i] & 7, (stored[i] ^ LetterOf(tag)) & 7) << tag << " " << i;
        }
    }
}

TEST(UpdateReader, HeadWordsAreNeverTransformedAndTheFirstIsNotSent) {
    const SectionKey key{0xF8, 0xF8, 0xF8, 0xF8, 0, 0, 0, 0};
    for (const std::string_view tag : {FILE_BDAT, FILE_DDAT, FILE_DPRG}) {
        const FileBytes stored = Ramp(40, 0x10);
        FileBytes bytes;
        PutRecord(bytes, FILE_DATE, DatePayloadFor(key));
        PutSection(bytes, tag, 0x000F0F0F, stored);
        PutStop(bytes);
        const Outcome o = ReadBytes(bytes);
        ASSERT_EQ(o.result, RESULT_OK);
        const auto& sent = o.sink.sections.at(0).sent;
        ASSERT_EQ(sent.size(), 36u);
        EXPECT_EQ(FileBytes(sent.begin(), sent.begin() + 8), Ramp(8, 0x14)) << tag;
        // With every key byte 0xF8 a body byte comes out as stored XOR letter XOR 0xF8.
        for (std::size_t i = 8; i < sent.size(); ++i) {
            EXPECT_EQ(sent[i], stored[i + 4] ^ LetterOf(tag) ^ 0xF8) << tag << " " << i;
        }
    }
}

TEST(UpdateReader, SectionsWithoutBodyAreSentAsStoredWhateverTheControlWord) {
    for (std::uint32_t length = 4; length <= 12; ++length) {
        const FileBytes stored = Ramp(length, 0xC0);
        FileBytes bytes;
        PutRecord(bytes, FILE_DATE, FileBytes(8, 0x55));
        PutSection(bytes, FILE_DDAT, 0xFFFFFFFF, stored);
        PutStop(bytes);
        const Outcome o = ReadBytes(bytes);
        ASSERT_EQ(o.result, RESULT_OK) << length;
        EXPECT_EQ(o.sink.sections.at(0).sent, FileBytes(stored.begin() + 4, stored.end())) << length;
    }
}

TEST(UpdateReader, DateGivesKeyThroughTheMaskAndALaterDateReplacesIt) {
    const FileBytes first{1, 2, 3, 4, 5, 6, 7, 8};
    const FileBytes second{0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0};
    FileBytes bytes;
    PutRecord(bytes, FILE_DATE, first);
    PutSection(bytes, FILE_BDAT, 1, Ramp(13, 0x21));
    PutRecord(bytes, FILE_DATE, second);
    PutSection(bytes, FILE_BDAT, 1, Ramp(13, 0x21));
    PutStop(bytes);
    const Outcome o = ReadBytes(bytes);
    ASSERT_EQ(o.result, RESULT_OK);
    ASSERT_EQ(o.sink.keys.size(), 2u);
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(o.sink.keys[0][i], first[i] ^ DATE_MASK[i]);
        EXPECT_EQ(o.sink.keys[1][i], second[i] ^ DATE_MASK[i]);
    }
    // Body byte 0x2D: t = 0x2D ^ 'B' = 0x6F, key byte 3.
    EXPECT_EQ(o.sink.sections.at(0).data[12], 0x6F ^ (o.sink.keys[0][3] & 0xF8));
    EXPECT_EQ(o.sink.sections.at(1).data[12], 0x6F ^ (o.sink.keys[1][3] & 0xF8));
}

TEST(UpdateReader, SectionsBeforeAWrongVersionAreHandledThenFormat) {
    FileBytes bytes;
    PutSection(bytes, FILE_BDAT, 0, Ramp(8));
    PutSection(bytes, FILE_DPRG, 0, Ramp(8));
    PutText(bytes, FILE_VERS, "KESTRAN UpdateFile Vers 1.00");
    PutSection(bytes, FILE_DDAT, 0, Ramp(8));
    PutStop(bytes);
    const Outcome o = ReadBytes(bytes);
    EXPECT_EQ(o.result, ERR_FILE_FORMAT);
    EXPECT_EQ(o.failure.problem, ReadProblem::VersionMismatch);
    EXPECT_EQ(o.sink.sections.size(), 2u);
}

TEST(UpdateReader, SeveralSectionsOfOneKindAreEachHandled) {
    FileBytes bytes;
    PutSection(bytes, FILE_DPRG, 0, Ramp(8, 1));
    PutSection(bytes, FILE_DPRG, 0, Ramp(9, 2));
    PutStop(bytes);
    const Outcome o = ReadBytes(bytes);
    ASSERT_EQ(o.result, RESULT_OK);
    ASSERT_EQ(o.sink.sections.size(), 2u);
    EXPECT_EQ(o.sink.sections[0].sent, Ramp(4, 5));
    EXPECT_EQ(o.sink.sections[1].sent, Ramp(5, 6));
}

TEST(UpdateReader, SinkFailureEndsReadingWithItsCode) {
    FileBytes bytes;
    PutSection(bytes, FILE_DPRG, 0, Ramp(8));
    PutSection(bytes, FILE_DDAT, 0, Ramp(8));
    PutStop(bytes);
    const Outcome o = ReadBytes(bytes, SIZE_MAX, 1);
    EXPECT_EQ(o.result, ERR_COM_WRITE);
    EXPECT_EQ(o.failure.problem, ReadProblem::SectionNotWritten);
    EXPECT_EQ(o.position, 20u);
    EXPECT_EQ(o.sink.events, (std::vector<std::string>{"record DPRG @0 L=8 name=\"\"", "section DPRG"}));
}

class TempDir {
public:
    TempDir() {
        std::random_device seed;
        m_path = std::filesystem::temp_directory_path() / ("qam-update-test-" + std::to_string(seed()));
        std::filesystem::create_directories(m_path);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string File(const std::string& name, const FileBytes& bytes) const {
        const std::string path = (m_path / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    std::filesystem::path Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

TEST(UpdateFileCheck, ReadsAFileOnDiskToStop) {
    TempDir dir;
    FileBytes bytes;
    PutText(bytes, FILE_VERS, VERSION);
    PutSection(bytes, FILE_DDAT, 0, Ramp(20));
    PutStop(bytes);
    CRecordingSink sink;
    ReadFailure failure;
    EXPECT_EQ(CheckUpdateFile(dir.File("a.qam", bytes), sink, &failure), RESULT_OK);
    EXPECT_EQ(failure.problem, ReadProblem::None);
    ASSERT_EQ(sink.sections.size(), 1u);
    EXPECT_EQ(sink.sections[0].sent, Ramp(16, 4));

    bytes.resize(bytes.size() - 3);
    EXPECT_EQ(CheckUpdateFile(dir.File("cut.qam", bytes), &failure), ERR_FILE_READ);
    EXPECT_EQ(failure.problem, ReadProblem::FrameCut);
    EXPECT_EQ(failure.frame.offset, bytes.size() - 5);
}

TEST(UpdateFileCheck, MissingFileIsFileOpen) {
    TempDir dir;
    ReadFailure failure;
    EXPECT_EQ(CheckUpdateFile((dir.Path() / "none.qam").string(), &failure), ERR_FILE_OPEN);
    EXPECT_EQ(failure.problem, ReadProblem::CannotOpen);
}

TEST(UpdateFileCheck, DirectoryIsRefused) {
    TempDir dir;
    ReadFailure failure;
    const ResultCode result = CheckUpdateFile(dir.Path().string(), &failure);
#ifdef _WIN32
    // fopen refuses a directory on Windows.
    EXPECT_EQ(result, ERR_FILE_OPEN);
#else
    // fopen takes a directory here; the system then refuses the read.
    EXPECT_EQ(result, ERR_FILE_READ);
    EXPECT_EQ(failure.problem, ReadProblem::SystemReadError);
#endif
}

} // namespace
