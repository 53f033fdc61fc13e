#include "tests/unit/UpdateFileBytes.h"
#include "tests/unit/UpdateRecordingSink.h"
#include "update/DateMask.h"
#include "update/MemorySource.h"
#include "update/UpdateFileReader.h"
#include "update/UpdateFileWriter.h"

#include <gtest/gtest.h>

using namespace qam::test;
using namespace qam::update;

namespace {

struct ReadBack {
    ResultCode result;
    ReadFailure failure;
    CRecordingSink sink;
};

ReadBack Read(const Bytes& bytes) {
    ReadBack back{};
    CMemorySource source(bytes);
    CUpdateFileReader reader;
    back.result = reader.Read(source, back.sink);
    back.failure = reader.Failure();
    return back;
}

UpdateFileParts FullParts() {
    UpdateFileParts parts;
    parts.date = {0x20, 0x26, 0x12, 0x06, 0x21, 0x45, 0x00, 0x01};
    parts.bitFileName = "top.bit";
    parts.dumpFileName = "app.dmp";
    parts.fpga = SectionInput{Ramp(300, 1), true, std::nullopt};
    parts.appCode = SectionInput{Ramp(1000, 2), true, std::nullopt};
    parts.appData = SectionInput{Ramp(64, 3), false, std::nullopt};
    return parts;
}

TEST(UpdateWriter, SmallFileHasTheExactLayout) {
    UpdateFileParts parts;
    parts.date = {1, 2, 3, 4, 5, 6, 7, 8};
    parts.dumpFileName = "d";
    parts.appData = SectionInput{Ramp(12), false, std::nullopt};
    FileBytes expected;
    PutText(expected, FILE_VERS, std::string("KESTRAN UpdateFile Vers 2.00") + '\0');
    FileBytes masked(8);
    for (std::size_t i = 0; i < 8; ++i) {
        masked[i] = static_cast<std::uint8_t>(parts.date[i] ^ DATE_MASK[i]);
    }
    PutRecord(expected, FILE_DATE, masked);
    PutText(expected, FILE_DFN, std::string("d") + '\0');
    PutSection(expected, FILE_DDAT, 0, Ramp(12));
    PutStop(expected);
    EXPECT_EQ(BuildUpdateFile(parts), expected);
}

TEST(UpdateWriter, RecordsComeInTheUsualOrderAndSectionsReadBackAsGiven) {
    const UpdateFileParts parts = FullParts();
    const ReadBack back = Read(BuildUpdateFile(parts));
    ASSERT_EQ(back.result, RESULT_OK);
    std::vector<std::string> tags;
    for (const std::string& e : back.sink.events) {
        if (e.rfind("record ", 0) == 0) {
            tags.push_back(e.substr(7, 4));
        }
    }
    EXPECT_EQ(tags,
              (std::vector<std::string>{"VERS", "DATE", "BFN ", "BDAT", "DFN ", "DPRG", "DDAT", "STOP"}));
    ASSERT_EQ(back.sink.sections.size(), 3u);
    EXPECT_EQ(back.sink.sections[0].data, parts.fpga->data);
    EXPECT_EQ(back.sink.sections[1].data, parts.appCode->data);
    EXPECT_EQ(back.sink.sections[2].data, parts.appData->data);
    EXPECT_EQ(back.sink.sections[0].controlWord, 0x00000001u);
    EXPECT_EQ(back.sink.sections[1].controlWord, 0x00010000u);
    EXPECT_EQ(back.sink.sections[2].controlWord, 0u);
    EXPECT_EQ(back.sink.keys.at(0), parts.date);
}

TEST(UpdateWriter, ScrambledBodyIsStoredChangedAndHeadAsGiven) {
    UpdateFileParts parts;
    parts.date = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    parts.omit = {TAG_VERS};
    parts.appCode = SectionInput{Ramp(40), true, std::nullopt};
    const Bytes file = BuildUpdateFile(parts);
    // DATE (16 bytes), then the DPRG frame and control word; the data follows.
    const Bytes stored(file.begin() + 16 + 12, file.begin() + 16 + 12 + 40);
    EXPECT_EQ(Bytes(stored.begin(), stored.begin() + 12), Ramp(12));
    for (std::size_t i = 12; i < 40; ++i) {
        EXPECT_NE(stored[i], i) << i;
    }
}

TEST(UpdateWriter, ControlWordOfOtherKindsLeavesTheBodyAsGiven) {
    UpdateFileParts parts;
    parts.appData = SectionInput{Ramp(40), false, 0x000F00FFu};
    parts.fpga = SectionInput{Ramp(40), false, 0x00000100u};
    const ReadBack back = Read(BuildUpdateFile(parts));
    ASSERT_EQ(back.result, RESULT_OK);
    ASSERT_EQ(back.sink.sections.size(), 2u);
    EXPECT_EQ(back.sink.sections[0].controlWord, 0x00000100u);
    EXPECT_FALSE(back.sink.sections[0].scrambled);
    EXPECT_EQ(back.sink.sections[1].controlWord, 0x000F00FFu);
    EXPECT_FALSE(back.sink.sections[1].scrambled);
    EXPECT_EQ(back.sink.sections[1].data, Ramp(40));
}

TEST(UpdateWriter, MalformedOptionsGiveTheFailureTheyAimAt) {
    struct Case {
        const char* name;
        UpdateFileParts parts;
        ResultCode result;
        ReadProblem problem;
    };
    UpdateFileParts noStop = FullParts();
    noStop.omit = {TAG_STOP};
    UpdateFileParts noDate = FullParts();
    noDate.omit = {TAG_DATE};
    UpdateFileParts shortDate = FullParts();
    shortDate.length[TAG_DATE] = 4;
    UpdateFileParts longSection = FullParts();
    longSection.length[TAG_DDAT] = 0x40001;
    UpdateFileParts cutSection = FullParts();
    cutSection.omit = {TAG_STOP};
    cutSection.length[TAG_DDAT] = 65;
    UpdateFileParts wrongVersion = FullParts();
    wrongVersion.versionText = "KESTRAN UpdateFile Vers 2.01";
    UpdateFileParts trailer = FullParts();
    trailer.omit = {TAG_STOP};
    trailer.trailer = {'A', 'B', 'C', 'D', 0, 0, 0, 0};
    const Case cases[] = {
        {"no STOP", noStop, ERR_FILE_READ, ReadProblem::FrameCut},
        {"no DATE before scrambled", noDate, ERR_FILE_FORMAT, ReadProblem::NoSectionKey},
        {"DATE of 4", shortDate, ERR_FILE_FORMAT, ReadProblem::DateLength},
        {"section too long", longSection, ERR_NO_MEMORY, ReadProblem::SectionTooLong},
        {"section cut", cutSection, ERR_FILE_READ, ReadProblem::PayloadCut},
        {"wrong version", wrongVersion, ERR_FILE_FORMAT, ReadProblem::VersionMismatch},
        {"unknown record behind", trailer, ERR_FILE_FORMAT, ReadProblem::UnknownTag},
    };
    for (const Case& c : cases) {
        const ReadBack back = Read(BuildUpdateFile(c.parts));
        EXPECT_EQ(back.result, c.result) << c.name;
        EXPECT_EQ(back.failure.problem, c.problem) << c.name;
    }
}

} // namespace
