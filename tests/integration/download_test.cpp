// The firmware download against the simulator over the real link: commands in order, flash
// contents, status texts, time-out sets, progress and every failure. Shared: built natively and
// for Windows.

#include "tests/integration/DownloadFixture.h"

#include "framework/WaitCursor.h"

namespace qam::test {
namespace {

using sim::FaultKind;
using sim::FlashArea;
using update::Bytes;
using update::SectionInput;
using update::UpdateFileParts;

Bytes Data(std::size_t length, std::uint8_t seed) {
    Bytes bytes(length);
    std::uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    return bytes;
}

// What qamfile build makes for the usual three sections, the first two stored scrambled.
UpdateFileParts FullParts() {
    UpdateFileParts parts;
    parts.date = {0x20, 0x26, 0x12, 0x06, 0x22, 0x15, 0x07, 0x99};
    parts.bitFileName = "top.bit";
    parts.dumpFileName = "app.dmp";
    parts.fpga = SectionInput{Data(300, 1), true, std::nullopt};
    parts.appCode = SectionInput{Data(1000, 2), true, std::nullopt};
    parts.appData = SectionInput{Data(77, 3), false, std::nullopt};
    return parts;
}

Bytes Section(std::uint32_t tag, std::uint32_t control, const Bytes& data) {
    Bytes out;
    update::AppendFrame(out, tag, static_cast<std::uint32_t>(data.size()));
    const Bytes word{static_cast<std::uint8_t>(control), static_cast<std::uint8_t>(control >> 8),
                     static_cast<std::uint8_t>(control >> 16), static_cast<std::uint8_t>(control >> 24)};
    out.insert(out.end(), word.begin(), word.end());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes Stop() {
    Bytes out;
    update::AppendFrame(out, update::TAG_STOP, 0);
    return out;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

using Texts = std::vector<std::string>;

class Download : public DownloadFixture {};

TEST_F(Download, UsualFileWritesEverySectionInOrder) {
    StartModule();
    const UpdateFileParts parts = FullParts();
    EXPECT_EQ(DownloadFile(update::BuildUpdateFile(parts)), RESULT_OK);

    std::vector<sim::TraceEntry> expected;
    AppendSectionTrace(expected, 1, "CPLD", SentPart(parts.fpga->data));
    AppendSectionTrace(expected, 3, "CAPP", SentPart(parts.appCode->data));
    AppendSectionTrace(expected, 5, "CAPD", SentPart(parts.appData->data));
    EXPECT_EQ(Trace(), expected);

    const sim::ModuleState state = m_simulator->State();
    EXPECT_EQ(state.flash[static_cast<int>(FlashArea::Fpga)], SentPart(parts.fpga->data));
    EXPECT_EQ(state.flash[static_cast<int>(FlashArea::AppCode)], SentPart(parts.appCode->data));
    EXPECT_EQ(state.flash[static_cast<int>(FlashArea::AppData)], SentPart(parts.appData->data));
    EXPECT_EQ(state.flashClears, (std::array<int, 3>{1, 1, 1}));

    EXPECT_EQ(StatusTexts(), (Texts{
                                 "checking Version ...",
                                 "reading Creation Date ...",
                                 "reading BitFile ...",
                                 "reading FPGACfg from top.bit ...",
                                 "Clearing FLASH Area...",
                                 "Downloading FPGA Configuration...",
                                 "reading DmpFile ...",
                                 "reading AppCode from app.dmp ...",
                                 "Clearing FLASH Area...",
                                 "Downloading Application Code...",
                                 "reading AppData from app.dmp ...",
                                 "Clearing FLASH Area...",
                                 "Downloading Application Data...",
                             }));
    EXPECT_EQ(AskedTimeouts(),
              (std::vector<link::Timeouts>{kLongTimeouts, kNormalTimeouts, kLongTimeouts, kNormalTimeouts,
                                           kLongTimeouts, kNormalTimeouts}));
    std::vector<int> positions;
    for (const int length : {296, 996, 73}) {
        const std::vector<int> block = BlockPositions(length);
        positions.insert(positions.end(), block.begin(), block.end());
    }
    positions.push_back(0);
    EXPECT_EQ(ProgressPositions(), positions);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(fw::WaitCursorCount(), 0);
    EXPECT_TRUE(headless::Desktop::Instance().CursorHistory().front());
    EXPECT_FALSE(headless::Desktop::Instance().CursorHistory().back());
}

TEST_F(Download, SectionBeforeAnyNameShowsAnEmptyName) {
    StartModule();
    const Bytes data = Data(40, 4);
    EXPECT_EQ(DownloadFile(Join({Section(update::TAG_BDAT, 0, data), Stop()})), RESULT_OK);
    EXPECT_EQ(StatusTexts(), (Texts{"reading FPGACfg from  ...", "Clearing FLASH Area...",
                                    "Downloading FPGA Configuration..."}));
    EXPECT_EQ(m_simulator->State().flash[static_cast<int>(FlashArea::Fpga)], SentPart(data));
}

TEST_F(Download, SectionOfFourBytesIsErasedAndSentEmpty) {
    StartModule();
    // Even a control word that asks for the transform leaves a section without body as it is.
    Bytes date;
    update::AppendRecord(date, update::TAG_DATE, Bytes(8, 0x77));
    EXPECT_EQ(DownloadFile(Join({date, Section(update::TAG_DDAT, 0x0F0F0F0F, Data(4, 5)), Stop()})),
              RESULT_OK);
    std::vector<sim::TraceEntry> expected;
    AppendSectionTrace(expected, 1, "CAPD", {});
    EXPECT_EQ(Trace(), expected);
    EXPECT_EQ(m_simulator->State().flashClears[static_cast<int>(FlashArea::AppData)], 1);
    EXPECT_TRUE(m_simulator->State().flash[static_cast<int>(FlashArea::AppData)].empty());
    EXPECT_EQ(ProgressPositions(), (std::vector<int>{0, 0}));
}

TEST_F(Download, SectionOfSixteenBytesSendsTwelve) {
    StartModule();
    const Bytes data = Data(16, 6);
    EXPECT_EQ(DownloadFile(Join({Section(update::TAG_DPRG, 0, data), Stop()})), RESULT_OK);
    std::vector<sim::TraceEntry> expected;
    AppendSectionTrace(expected, 1, "CAPP", SentPart(data));
    EXPECT_EQ(Trace(), expected);
    ASSERT_EQ(expected[4].bytes, LengthWord(12));
}

TEST_F(Download, OtherKindsControlBitsLeaveTheSectionAsStored) {
    StartModule();
    const Bytes data = Data(64, 7);
    UpdateFileParts parts;
    parts.appData = SectionInput{data, false, 0x0000000Fu};
    EXPECT_EQ(DownloadFile(update::BuildUpdateFile(parts)), RESULT_OK);
    EXPECT_EQ(m_simulator->State().flash[static_cast<int>(FlashArea::AppData)], SentPart(data));
}

TEST_F(Download, LargestSectionIsWrittenWhole) {
    StartModule();
    UpdateFileParts parts;
    parts.appCode = SectionInput{Data(0x40000, 8), true, std::nullopt};
    EXPECT_EQ(DownloadFile(update::BuildUpdateFile(parts)), RESULT_OK);
    EXPECT_EQ(m_simulator->State().flash[static_cast<int>(FlashArea::AppCode)],
              SentPart(parts.appCode->data));
}

TEST_F(Download, TwoSectionsOfOneKindAreEachErasedAndSent) {
    StartModule();
    const Bytes first = Data(50, 9);
    const Bytes second = Data(30, 10);
    EXPECT_EQ(DownloadFile(
                  Join({Section(update::TAG_DPRG, 0, first), Section(update::TAG_DPRG, 0, second), Stop()})),
              RESULT_OK);
    std::vector<sim::TraceEntry> expected;
    AppendSectionTrace(expected, 1, "CAPP", SentPart(first));
    AppendSectionTrace(expected, 3, "CAPP", SentPart(second));
    EXPECT_EQ(Trace(), expected);
    EXPECT_EQ(m_simulator->State().flash[static_cast<int>(FlashArea::AppCode)], SentPart(second));
    EXPECT_EQ(m_simulator->State().flashClears[static_cast<int>(FlashArea::AppCode)], 2);
}

class FailingClear : public Download {
protected:
    // The clear command of the second section fails with this fault.
    void Check(const sim::Fault& fault, ResultCode result, const std::string& box) {
        sim::Scenario scenario;
        scenario.faults.push_back(fault);
        StartModule(scenario);
        const ScopedTimeoutScale quick(1, 100);
        const UpdateFileParts parts = FullParts();
        EXPECT_EQ(DownloadFile(update::BuildUpdateFile(parts)), result);

        std::vector<sim::TraceEntry> expected;
        AppendSectionTrace(expected, 1, "CPLD", SentPart(parts.fpga->data));
        expected.push_back(ToModule(3, "CAPP"));
        if (!fault.reply.empty()) {
            expected.push_back(FromModule(3, fault.reply));
        }
        EXPECT_EQ(Trace(), expected);
        EXPECT_EQ(Boxes(), (std::vector<headless::Box>{
                               ErrorBox(box.c_str(), link::protocol::kExecuteCommandCaption)}));
        // The next record is never read and no upload follows.
        EXPECT_EQ(StatusTexts().back(), "Clearing FLASH Area...");
        EXPECT_EQ(StatusTexts().size(), 9u);
        EXPECT_EQ(AskedTimeouts(),
                  (std::vector<link::Timeouts>{kLongTimeouts, kNormalTimeouts, kLongTimeouts}));
        EXPECT_EQ(ProgressPositions().back(), 0);
        EXPECT_TRUE(m_simulator->State().flash[static_cast<int>(FlashArea::AppCode)].empty());
    }
};

TEST_F(FailingClear, SilenceIsNoResponseWithTheBoxOfTheLink) {
    Check(FaultOn("CAPP", FaultKind::Silence), ERR_NO_RESPONSE,
          link::protocol::ExchangeBoxText(ERR_NO_RESPONSE, {}, 0));
}

TEST_F(FailingClear, WrongReplyIsBadResponseWithTheBoxOfTheLink) {
    sim::Fault wrong = FaultOn("CAPP", FaultKind::WrongReply);
    wrong.reply = sim::ToBytes("ER\r\n");
    Check(wrong, ERR_BAD_RESPONSE, link::protocol::ExchangeBoxText(ERR_BAD_RESPONSE, wrong.reply, 2));
}

TEST_F(Download, FailedBlockEndsWithItsCodeAndTheSendingText) {
    sim::Fault fault = FaultOn("UAPD", FaultKind::WrongReply);
    fault.finalReply = true;
    fault.reply = sim::ToBytes("NO\r\n");
    sim::Scenario scenario;
    scenario.faults.push_back(fault);
    StartModule(scenario);
    const UpdateFileParts parts = FullParts();
    EXPECT_EQ(DownloadFile(update::BuildUpdateFile(parts)), ERR_BAD_RESPONSE);

    std::vector<sim::TraceEntry> expected;
    AppendSectionTrace(expected, 1, "CPLD", SentPart(parts.fpga->data));
    AppendSectionTrace(expected, 3, "CAPP", SentPart(parts.appCode->data));
    AppendSectionTrace(expected, 5, "CAPD", SentPart(parts.appData->data));
    expected.back() = FromModule(6, "NO\r\n");
    EXPECT_EQ(Trace(), expected);
    EXPECT_EQ(StatusTexts().back(), "Downloading Application Data...");
    // The normal set comes back whatever the transfer's result.
    EXPECT_EQ(AskedTimeouts(),
              (std::vector<link::Timeouts>{kLongTimeouts, kNormalTimeouts, kLongTimeouts, kNormalTimeouts,
                                           kLongTimeouts, kNormalTimeouts}));
    // The block ran to 100 before its last reply failed; the download puts the bar back to 0.
    const std::vector<int> positions = ProgressPositions();
    ASSERT_GE(positions.size(), 2u);
    EXPECT_EQ(positions[positions.size() - 2], 100);
    EXPECT_EQ(positions.back(), 0);
    EXPECT_TRUE(Boxes().empty());
    // Sections written before the failure stay written.
    EXPECT_EQ(m_simulator->State().flash[static_cast<int>(FlashArea::AppCode)],
              SentPart(parts.appCode->data));
}

TEST_F(Download, RefusedUploadIsBadResponseAndSendsNoData) {
    sim::Scenario scenario;
    scenario.faults.push_back(FaultOn("UPLD", FaultKind::RefuseBlock));
    StartModule(scenario);
    const ScopedTimeoutScale quick(1, 100);
    const UpdateFileParts parts = FullParts();
    // A block send takes a refusal of its command as a reply that is not "OK\r\n".
    EXPECT_EQ(DownloadFile(update::BuildUpdateFile(parts)), ERR_BAD_RESPONSE);
    const std::vector<sim::TraceEntry> expected{ToModule(1, "CPLD"), FromModule(1, "OK\r\n"),
                                                ToModule(2, "UPLD"), FromModule(2, "<<\r\n")};
    EXPECT_EQ(Trace(), expected);
    EXPECT_EQ(StatusTexts().back(), "Downloading FPGA Configuration...");
    EXPECT_EQ(AskedTimeouts(), (std::vector<link::Timeouts>{kLongTimeouts, kNormalTimeouts}));
    EXPECT_EQ(ProgressPositions().back(), 0);
    EXPECT_TRUE(m_simulator->State().flash[static_cast<int>(FlashArea::Fpga)].empty());
}

TEST_F(Download, TooLargeSectionSendsNothingOfItself) {
    StartModule();
    const Bytes first = Data(20, 11);
    Bytes tooLarge;
    update::AppendFrame(tooLarge, update::TAG_DDAT, 0x40001);
    tooLarge.resize(tooLarge.size() + 4 + 0x40001);
    EXPECT_EQ(DownloadFile(Join({Section(update::TAG_BDAT, 0, first), tooLarge, Stop()})), ERR_NO_MEMORY);
    std::vector<sim::TraceEntry> expected;
    AppendSectionTrace(expected, 1, "CPLD", SentPart(first));
    EXPECT_EQ(Trace(), expected);
    EXPECT_EQ(StatusTexts().back(), "reading AppData from  ...");
    EXPECT_EQ(AskedTimeouts().size(), 2u);
    EXPECT_EQ(ProgressPositions().back(), 0);
}

struct FileFailure {
    const char* name;
    Bytes file;
    ResultCode result;
    Texts texts;
};

Bytes UnknownTagFile() {
    Bytes file{0x41, 0x42, 0x43, 0x44, 0x10, 0, 0, 0};
    file.resize(file.size() + 16);
    return Join({file, Stop()});
}

Bytes CutFile() {
    Bytes file = update::BuildUpdateFile(FullParts());
    file.resize(file.size() - 8 - 77 - 12 + 30); // inside the DDAT data
    return file;
}

TEST_F(Download, FileFailuresEndBeforeTheModuleIsTouched) {
    UpdateFileParts wrongVersion;
    wrongVersion.versionText = "KESTRAN UpdateFile Vers 2.0";
    UpdateFileParts noDate = FullParts();
    noDate.omit = {update::TAG_DATE};
    UpdateFileParts longDate;
    longDate.length[update::TAG_DATE] = 9;
    const FileFailure cases[] = {
        {"empty", {}, ERR_FILE_READ, {}},
        {"unknown tag", UnknownTagFile(), ERR_FILE_FORMAT, {"unknown Tag: 44434241 - 00000010"}},
        {"wrong version", update::BuildUpdateFile(wrongVersion), ERR_FILE_FORMAT, {"checking Version ..."}},
        {"scrambled before DATE",
         update::BuildUpdateFile(noDate),
         ERR_FILE_FORMAT,
         {"checking Version ...", "reading BitFile ...", "reading FPGACfg from top.bit ..."}},
        {"DATE of nine",
         update::BuildUpdateFile(longDate),
         ERR_FILE_FORMAT,
         {"checking Version ...", "reading Creation Date ..."}},
    };
    StartModule();
    for (const FileFailure& c : cases) {
        headless::Desktop::Instance().WindowOf(m_status.GetSafeHwnd()).texts.clear();
        headless::Desktop::Instance().WindowOf(m_progress.GetSafeHwnd()).messages.clear();
        EXPECT_EQ(DownloadFile(c.file), c.result) << c.name;
        EXPECT_EQ(StatusTexts(), c.texts) << c.name;
        EXPECT_EQ(ProgressPositions(), (std::vector<int>{0})) << c.name;
    }
    EXPECT_TRUE(Trace().empty());
    EXPECT_TRUE(AskedTimeouts().empty());
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Download, SectionsBeforeAWrongVersionStayWritten) {
    StartModule();
    const Bytes data = Data(24, 12);
    Bytes version;
    update::AppendRecord(version, update::TAG_VERS, Bytes{'K', 'E', 'S'});
    EXPECT_EQ(DownloadFile(Join({Section(update::TAG_DPRG, 0, data), version, Stop()})), ERR_FILE_FORMAT);
    EXPECT_EQ(m_simulator->State().flash[static_cast<int>(FlashArea::AppCode)], SentPart(data));
    EXPECT_EQ(StatusTexts().back(), "checking Version ...");
}

TEST_F(Download, FileCutInsideASectionLeavesItsAreaUntouched) {
    StartModule();
    const UpdateFileParts parts = FullParts();
    EXPECT_EQ(DownloadFile(CutFile()), ERR_FILE_READ);
    std::vector<sim::TraceEntry> expected;
    AppendSectionTrace(expected, 1, "CPLD", SentPart(parts.fpga->data));
    AppendSectionTrace(expected, 3, "CAPP", SentPart(parts.appCode->data));
    EXPECT_EQ(Trace(), expected);
    EXPECT_EQ(StatusTexts().back(), "reading AppData from app.dmp ...");
    EXPECT_EQ(ProgressPositions().back(), 0);
}

TEST_F(Download, FileWithoutStopEndsWithFileReadAfterItsSections) {
    StartModule();
    UpdateFileParts parts = FullParts();
    parts.omit = {update::TAG_STOP};
    EXPECT_EQ(DownloadFile(update::BuildUpdateFile(parts)), ERR_FILE_READ);
    EXPECT_EQ(m_simulator->State().flashClears, (std::array<int, 3>{1, 1, 1}));
    // The text of the last record stays.
    EXPECT_EQ(StatusTexts().back(), "Downloading Application Data...");
    EXPECT_EQ(ProgressPositions().back(), 0);
}

TEST_F(Download, MissingFileIsFileOpenWithTheBarAtZero) {
    StartModule();
    EXPECT_EQ(m_proxy.DownloadUpdateFile((m_dir / "absent.qam").string()), ERR_FILE_OPEN);
    EXPECT_TRUE(StatusTexts().empty());
    EXPECT_EQ(ProgressPositions(), (std::vector<int>{0}));
    EXPECT_TRUE(Trace().empty());
    EXPECT_EQ(fw::WaitCursorCount(), 0);
}

TEST_F(Download, ProxyNotWiredAnswersOneAndTouchesNothing) {
    StartModule();
    const std::string path = WriteFile("good.qam", update::BuildUpdateFile(FullParts()));
    struct Case {
        const char* name;
        bool status;
        bool progress;
        bool link;
    };
    const Case cases[] = {
        {"no status line", false, true, true},
        {"no progress bar", true, false, true},
        {"no link", true, true, false},
        {"nothing", false, false, false},
    };
    for (const Case& c : cases) {
        CModuleProxy proxy;
        proxy.m_statusLine = c.status ? &m_status : nullptr;
        proxy.m_progressBar = c.progress ? &m_progress : nullptr;
        proxy.m_comDevice = c.link ? &m_device : nullptr;
        EXPECT_EQ(proxy.DownloadUpdateFile(path), RESULT_NOT_WIRED) << c.name;
    }
    EXPECT_TRUE(StatusTexts().empty());
    EXPECT_TRUE(ProgressMessages().empty());
    EXPECT_TRUE(Trace().empty());
    EXPECT_EQ(fw::WaitCursorCount(), 0);
}

TEST_F(Download, NothingIsCarriedFromOneDownloadToTheNext) {
    StartModule();
    EXPECT_EQ(DownloadFile(update::BuildUpdateFile(FullParts())), RESULT_OK);
    headless::Desktop::Instance().WindowOf(m_status.GetSafeHwnd()).texts.clear();
    // No names and no DATE this time: empty names, and a scrambled section is refused.
    Bytes second = Join({Section(update::TAG_BDAT, 0, Data(12, 13)),
                         Section(update::TAG_DPRG, 0x10000, Data(20, 14)), Stop()});
    EXPECT_EQ(m_proxy.DownloadUpdateFile(WriteFile("second.qam", second)), ERR_FILE_FORMAT);
    EXPECT_EQ(StatusTexts(), (Texts{"reading FPGACfg from  ...", "Clearing FLASH Area...",
                                    "Downloading FPGA Configuration...", "reading AppCode from  ..."}));
}

} // namespace
} // namespace qam::test
