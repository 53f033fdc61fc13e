// Native-only download cases: a read the system refuses, and the file closed on every path.

#include "tests/integration/DownloadFixture.h"
#include "tests/support/Platform.h"

namespace qam::test {
namespace {

class PosixDownload : public DownloadFixture {};

TEST_F(PosixDownload, SystemReadErrorIsFileReadWithTheBarAtZeroAndTheFileClosed) {
    StartModule();
    const std::size_t before = qam::test::OpenDescriptorCount();
    // fopen takes a directory here, and the first read of it fails with EISDIR.
    EXPECT_EQ(m_proxy.DownloadUpdateFile(m_dir.string()), ERR_FILE_READ);
    EXPECT_EQ(qam::test::OpenDescriptorCount(), before);
    EXPECT_EQ(ProgressPositions(), (std::vector<int>{0}));
    EXPECT_TRUE(StatusTexts().empty());
    EXPECT_TRUE(Trace().empty());
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PosixDownload, TheFileIsClosedWhateverTheEnd) {
    StartModule();
    update::UpdateFileParts good;
    good.appData = update::SectionInput{update::Bytes(40, 0x5A), false, std::nullopt};
    update::UpdateFileParts bad = good;
    bad.omit = {update::TAG_STOP};
    const std::size_t before = qam::test::OpenDescriptorCount();
    EXPECT_EQ(DownloadFile(update::BuildUpdateFile(good)), RESULT_OK);
    EXPECT_EQ(qam::test::OpenDescriptorCount(), before);
    EXPECT_EQ(DownloadFile(update::BuildUpdateFile(bad)), ERR_FILE_READ);
    EXPECT_EQ(qam::test::OpenDescriptorCount(), before);
}

} // namespace
} // namespace qam::test
