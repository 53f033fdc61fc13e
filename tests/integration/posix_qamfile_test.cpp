// qamfile as its users run it: what info prints, how verify ends for each kind of bad file, and a
// file it built, scrambled section included, downloaded into the module as its parts were.
#include "framework/headless/Desktop.h"
#include "link/ComDevice.h"
#include "module/ModuleProxy.h"
#include "tests/support/Kit.h"
#include "tests/support/Platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>

namespace {

using namespace qam::test;

struct Ran {
    int status;
    std::string output;
};

Ran Qamfile(const std::string& arguments) {
    const std::string command = std::string(QAMFILE_PATH) + " " + arguments + " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string output;
    char chunk[256];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
        output.append(chunk, n);
    }
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

class QamfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir.Write("f.bin", qam::update::Bytes{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L',
                                                'M', 'N', 'O', 'P'});
        const std::string code = "0123456789abcdefXYZ";
        m_dir.Write("c.bin", qam::update::Bytes(code.begin(), code.end()));
    }
    std::string In(const std::string& name) const { return (m_dir.Path() / name).string(); }
    Ran Build(const std::string& extra) const {
        return Qamfile("build -o " + In("a.qam") +
                       " --date 0102030405060708 --bitfile fpga.bit --dumpfile app.dmp --fpga " +
                       In("f.bin") + " --appcode " + In("c.bin") + " --scramble P " + extra);
    }
    TempDir m_dir;
};

TEST_F(QamfileTest, InfoListsEveryRecordAndVerifyTellsHowReadingEnds) {
    ASSERT_EQ(Build("").status, 0);
    EXPECT_EQ(Qamfile("info " + In("a.qam")).output,
              In("a.qam") + "\n"
                            "offset      tag       length\n"
                            "0x00000000  VERS          29  version \"KESTRAN UpdateFile Vers 2.00\"\n"
                            "0x00000025  DATE           8  key 01 02 03 04 05 06 07 08\n"
                            "0x00000035  BFN            9  name \"fpga.bit\"\n"
                            "0x00000046  BDAT          16  FPGA configuration, control 0x00000000, not "
                            "scrambled, sends 12 bytes, CRC-32 0xD501F6E7\n"
                            "0x00000062  DFN            8  name \"app.dmp\"\n"
                            "0x00000072  DPRG          19  application code, control 0x00010000, scrambled, "
                            "sends 15 bytes, CRC-32 0x42055B56\n"
                            "0x00000091  STOP           0\n"
                            "reads to STOP: 2 section(s)\n");
    EXPECT_EQ(Qamfile("verify " + In("a.qam")).status, 0);
    for (const auto& [extra, status] : std::vector<std::pair<std::string, int>>{{"--omit STOP", 3},
                                                                                {"--version-text KESTRAN", 4},
                                                                                {"--length BDAT=0x40001", 5},
                                                                                {"--omit DATE", 4}}) {
        ASSERT_EQ(Build(extra).status, 0) << extra;
        EXPECT_EQ(Qamfile("verify " + In("a.qam")).status, status) << extra;
    }
    EXPECT_EQ(Qamfile("verify " + In("missing.qam")).status, 2);
    EXPECT_EQ(Qamfile("verify").status, 1);
}

TEST_F(QamfileTest, ABuiltFileDownloadsAsItsPartsWere) {
    ASSERT_EQ(Build("").status, 0);
    TestDesktop::Instance().Reset();
    const auto sim = StartSimulator({});
    CComDevice link;
    ASSERT_EQ(link.Open(sim->Port(), 115200, 1, 0), 1);
    headless::Desktop& windows = headless::Desktop::Instance();
    CWnd progress(windows.AddWindow(1004, "msctls_progress32"));
    CWnd status(windows.AddWindow(1005, "Static"));
    CModuleProxy proxy;
    proxy.m_comDevice = &link;
    proxy.m_progressBar = &progress;
    proxy.m_statusLine = &status;
    // A read the system refuses (a directory) ends as a short file does, the bar back at 0.
    const int descriptors = OpenDescriptorCount();
    EXPECT_EQ(proxy.DownloadUpdateFile(m_dir.Path().string()), ERR_FILE_READ);
    EXPECT_EQ(TestDesktop::Instance().Progress().back(), 0);
    EXPECT_EQ(OpenDescriptorCount(), descriptors) << "the file stays open";
    ASSERT_EQ(proxy.DownloadUpdateFile(In("a.qam")), RESULT_OK);
    const std::string code = "456789abcdefXYZ";
    EXPECT_EQ(sim->State().flash[0],
              (qam::sim::Bytes{'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P'}));
    EXPECT_EQ(sim->State().flash[2], qam::sim::Bytes(code.begin(), code.end()));
}

} // namespace
