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

qam::update::Bytes Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

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

TEST(Qamfile, InfoAndDownloadTakeABuiltFileAsBuiltAndVerifyTellsHowReadingEnds) {
    const TempDir dir;
    const auto in = [&](const std::string& name) { return (dir.Path() / name).string(); };
    const auto build = [&](const std::string& extra) {
        return Qamfile("build -o " + in("a.qam") +
                       " --date 0102030405060708 --bitfile fpga.bit --dumpfile app.dmp --fpga " +
                       in("f.bin") + " --appcode " + in("c.bin") + " --scramble P " + extra);
    };
    dir.Write("f.bin", Bytes("ABCDEFGHIJKLMNOP"));
    dir.Write("c.bin", Bytes("0123456789abcdefXYZ"));
    ASSERT_EQ(build("").status, 0);
    EXPECT_EQ(Qamfile("info " + in("a.qam")).output,
              in("a.qam") + "\n"
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
    EXPECT_EQ(proxy.DownloadUpdateFile(dir.Path().string()), ERR_FILE_READ);
    EXPECT_EQ(TestDesktop::Instance().Progress().back(), 0);
    EXPECT_EQ(OpenDescriptorCount(), descriptors) << "the file stays open";
    ASSERT_EQ(proxy.DownloadUpdateFile(in("a.qam")), RESULT_OK);
    EXPECT_EQ(sim->State().flash[0], Bytes("EFGHIJKLMNOP"));
    EXPECT_EQ(sim->State().flash[2], Bytes("456789abcdefXYZ"));
    EXPECT_EQ(Qamfile("verify " + in("a.qam")).status, 0);
    for (const auto& [extra, expected] :
         std::vector<std::pair<std::string, int>>{{"--omit STOP", 3},
                                                  {"--version-text KESTRAN", 4},
                                                  {"--length BDAT=0x40001", 5},
                                                  {"--omit DATE", 4}}) {
        ASSERT_EQ(build(extra).status, 0) << extra;
        EXPECT_EQ(Qamfile("verify " + in("a.qam")).status, expected) << extra;
    }
    EXPECT_EQ(Qamfile("verify " + in("missing.qam")).status, 2);
    EXPECT_EQ(Qamfile("verify").status, 1);
}

} // namespace
