// Bad update files never reach the module: every malformed file, and a good one cut at every
// record boundary, is refused by the update's check before anything is sent after the search.
#include "common/LittleEndian.h"
#include "tests/support/Kit.h"
#include "tests/support/Proof.h"
#include "ui/UpdaterDialog.h"
#include "update/UpdateFileFormat.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <stdexcept>

// The operator delete below pairs with this operator new; mingw's GCC takes its free for a mismatch.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
// The next allocation of this many bytes or more fails, once.
std::size_t failAllocationFrom = 0;
} // namespace

void* operator new(std::size_t size) {
    const bool fail = failAllocationFrom != 0 && size >= failAllocationFrom;
    void* block = fail ? nullptr : std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        failAllocationFrom = 0;
        throw std::bad_alloc();
    }
    return block;
}

void operator delete(void* block) noexcept {
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

namespace {

using namespace qam::test;
using Bytes = qam::update::Bytes;
namespace sim = qam::sim;

// A file of one frame with this tag, length and payload, and the STOP frame after it when asked.
Bytes Frame(std::uint32_t tag, std::uint32_t length, const Bytes& payload = {}, bool stop = true) {
    Bytes out(8);
    qam::le::Write32(out, 0, tag);
    qam::le::Write32(out, 4, length);
    out.insert(out.end(), payload.begin(), payload.end());
    if (stop) {
        out.resize(out.size() + 8);
        qam::le::Write32(out, out.size() - 8, qam::update::TAG_STOP);
    }
    return out;
}

struct BadFile {
    std::string name;
    Bytes bytes;
    std::string report;
};

std::vector<BadFile> Corpus() {
    using namespace qam::update;
    const std::string version(VERSION_TEXT);
    std::vector<BadFile> files = {
        {"empty", {}, "Read Access Error!"},
        {"version of 27 characters", Frame(TAG_VERS, 27, Bytes(version.begin(), version.end() - 1)),
         "Illegal File Format"},
        {"unknown tag", Frame(0x41424344, 16, Bytes(16)), "Illegal File Format"},
        {"section above 0x40000", Frame(TAG_DPRG, 0x40001, Bytes(4)), "Insufficient Memory"},
        {"section below 4", Frame(TAG_DDAT, 3, Bytes(7)), "Illegal File Format"},
        {"date of 7 bytes", Frame(TAG_DATE, 7, Bytes(7)), "Illegal File Format"},
        {"name of 0x40000 bytes", Frame(TAG_BFN, 0x40000), "Illegal File Format"},
        {"scrambled before any date",
         Frame(TAG_BDAT, 12, Bytes{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), "Illegal File Format"},
        {"length beyond the file", Frame(TAG_BFN, 9, Bytes(4), false), "Read Access Error!"},
        {"control word cut", Frame(TAG_BDAT, 12, Bytes(2), false), "Read Access Error!"},
    };
    // A good file ending at each record boundary, or 5 bytes into the next frame, or inside a payload.
    const Bytes good = BuildUpdateFile(ThreeSections());
    for (std::size_t at = 0; at + 8 <= good.size();
         at +=
         8 + qam::le::Read32(good, at + 4) + (IsSection(KindOfTag(qam::le::Read32(good, at))) ? 4 : 0)) {
        if (qam::le::Read32(good, at) == TAG_STOP) {
            break;
        }
        for (const std::size_t cut : {at, at + 5, at + 10}) {
            files.push_back({"good file cut at " + std::to_string(cut),
                             Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)),
                             "Read Access Error!"});
        }
    }
    return files;
}

class ProofInputTest : public WindowTest {};

TEST_F(ProofInputTest, BadFilesAreRefusedBeforeTheModuleIsTouched) {
    StartModule({});
    ProofTally tally;
    std::vector<BadFile> files = Corpus();
    files.push_back({"no file at all", {}, "Can Not Open File"});
#ifdef _WIN32
    files.push_back({"a directory", {}, "Can Not Open File"});
#else
    files.push_back({"a directory", {}, "Read Access Error!"}); // it opens, but reading it fails
#endif
    std::filesystem::create_directory(m_dir.Path() / "dir.qam");
    for (const BadFile& file : files) {
        SCOPED_TRACE(file.name);
        const int failedBefore = FailedParts();
        Desk().Reset();
        const std::string path = file.name == "no file at all" ? (m_dir.Path() / "none.qam").string()
                                 : file.name == "a directory"  ? (m_dir.Path() / "dir.qam").string()
                                                               : m_dir.Write("bad.qam", file.bytes);
        CUpdaterDialog dialog;
        std::size_t searched = 0;
        Run(dialog, {[&] {
                         searched = m_sim->Trace().size();
                         Choose(dialog, path);
                     },
                     [&] { Press(dialog, IDC_UPDATE); },
                     [&] {
                         ExpectFinished(dialog);
                         EXPECT_FALSE(dialog.m_link.IsOpen());
                     }});
        EXPECT_EQ(m_sim->Trace().size(), searched) << "the module was touched";
        ASSERT_EQ(Desk().boxes.size(), 1u);
        EXPECT_EQ(Desk().boxes[0].text, file.report);
        EXPECT_EQ(Lower(), (std::vector<std::string>{"", "ready", "ready", "checking update file ...",
                                                     "Update Failed"}));
        tally.Record("malformed-files", FailedParts() == failedBefore);
    }
}

// A failed allocation ends the update before anything is sent; any other exception, here from the
// operator's box, ends the command as the unknown failure: the factory defaults' guard, the update's.
TEST_F(ProofInputTest, AnExceptionInsideACommandEndsItAsItsOwnFailure) {
    sim::Scenario scenario;
    scenario.faults = {FaultOn(sim::FaultKind::RefuseBlock, "RSTA", 2)}; // the update asks to go on
    StartModule(scenario);
    const std::string path = m_dir.Write("fw.qam", qam::update::BuildUpdateFile(ThreeSections()));
    const auto fail = [] { throw std::runtime_error("a failure while the box is up"); };
    Desk().Answer("Do You Want To Reset The Modul ?", IDYES, fail);
    Desk().Answer("Do You Want To Continue ?", IDYES, fail);
    CUpdaterDialog dialog;
    std::size_t sent = 0;
    Run(dialog, {[&] { PostDefaults(dialog); },
                 [&] {
                     ExpectFinished(dialog);
                     Choose(dialog, path);
                 },
                 [&] {
                     ASSERT_TRUE(dialog.m_link.IsOpen());
                     sent = m_sim->Trace().size();
                     failAllocationFrom = qam::update::SECTION_BUFFER_SIZE;
                     Press(dialog, IDC_UPDATE);
                 },
                 [&] {
                     ExpectFinished(dialog);
                     EXPECT_FALSE(dialog.m_link.IsOpen());
                     EXPECT_EQ(m_sim->Trace().size(), sent) << "sent after a failed allocation";
                     EXPECT_EQ(Lower().back(), "Update Failed");
                     Press(dialog, IDC_SEARCH_MODULE);
                 },
                 [&] { Press(dialog, IDC_UPDATE); }, [&] { ExpectFinished(dialog); }});
    std::vector<std::string> shown;
    for (const Box& box : Desk().boxes) {
        shown.push_back(box.text);
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"Unknown Error", "Insufficient Memory", "Unknown Error"}));
    EXPECT_EQ(Lower().back(), "Update Failed");
}

} // namespace
