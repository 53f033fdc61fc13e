// The POSIX port's opening: a missing port, one that is no terminal, one another program holds, a
// purge that fails; then scans over all of them and the module, repeated, leave nothing held.
#include "framework/headless/Desktop.h"
#include "link/ComDevice.h"
#include "link/PortsDirectory.h"
#include "module/ModuleProxy.h"
#include "module/ModuleSearch.h"
#include "tests/support/Kit.h"
#include "tests/support/Platform.h"
#include "tests/support/Proof.h"
#include "tools/module-sim/ModuleSimulator.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <filesystem>
#include <termios.h>

namespace {

using namespace qam::test;
using std::chrono::milliseconds;

bool purgeFails = false;

// COM1 missing, COM2 no terminal, COM3 held by another open, COM4 silent, COM5 the module.
TEST(PosixPort, FailedOpensAndRepeatedScansHoldNothing) {
    const ScopedTimeoutScale fast(1, 40);
    TestDesktop::Instance().Reset();
    const auto sim =
        StartSimulator({}); // points the ports directory at a folder of its own, the module as COM3
    const std::filesystem::path ports = qam::link::PortsDirectory();
    std::filesystem::rename(ports / "com3", ports / "com5");
    std::filesystem::create_symlink("/dev/null", ports / "com2");
    qam::sim::SilentLine held, silent;
    held.LinkAsPort(ports, 3);
    silent.LinkAsPort(ports, 4);
    CComDevice holder;
    ASSERT_EQ(holder.Open(3, 115200, 1, 0), 1);
    const int before = OpenDescriptorCount();
    CComDevice link;
    EXPECT_EQ(link.Open(1, 115200, 1, 0), 0);
    EXPECT_EQ(link.Open(2, 115200, 1, 0), 0);
    EXPECT_EQ(link.Open(3, 115200, 1, 0), 0);
    purgeFails = true;
    EXPECT_EQ(link.Open(5, 115200, 1, 0), 0);
    purgeFails = false;
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(OpenDescriptorCount(), before);
    // Nothing of the failed open holds the device: it opens at once.
    EXPECT_EQ(link.Open(5, 115200, 1, 0), 1);
    link.Close();
    EXPECT_TRUE(TestDesktop::Instance().boxes.empty());
    headless::Desktop& windows = headless::Desktop::Instance();
    const CWnd dialog(windows.AddWindow(0, "#32770"));
    for (const int id :
         {IDC_STATUS_UPPER, IDC_STATUS_LOWER, IDC_SELECT_FILE, IDC_DEFAULT_SETTINGS, IDC_KEEP_SETTINGS}) {
        windows.AddWindow(id, "Static", dialog.m_hWnd);
    }
    CModuleProxy proxy;
    SearchState state;
    ProofTally tally;
    const int scans = ProofFull() ? 1000 : 20;
    int descriptors = -1;
    for (int scan = 0; scan < scans; ++scan) {
        // Every other scan ends at the silent COM4 with nothing found: it must not stay open.
        const bool reaches = scan % 2 == 0;
        state.portCount = reaches ? 5 : 4;
        state.preferredPort = 1;
        const auto start = std::chrono::steady_clock::now();
        const int found = qam::module::SearchModule(link, proxy, state, dialog);
        const auto took = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
        // The silent port's identification: 12 bytes at 50 ms and 10 s, at a fortieth; then the module.
        const milliseconds bound(2000);
        EXPECT_EQ(found, reaches ? 1 : 0);
        EXPECT_EQ(state.foundPort, reaches ? 5 : -1);
        EXPECT_EQ(link.IsOpen(), reaches);
        EXPECT_LE(took, bound);
        if (scan == 0) {
            descriptors = OpenDescriptorCount(); // once everything has been used a first time
        }
        tally.Record("scans", found == (reaches ? 1 : 0) && took <= bound, took, bound);
    }
    link.Close();
    holder.Close();
    EXPECT_EQ(OpenDescriptorCount(), descriptors - 2);
    tally.Note("scans", "fd_before=" + std::to_string(descriptors) +
                            " fd_after=" + std::to_string(OpenDescriptorCount() + 2));
    EXPECT_EQ(link.Open(3, 115200, 1, 0), 1) << "held by a failed open";
}

} // namespace

extern "C" int tcflush(int fd, int queue) {
    static const auto next = reinterpret_cast<int (*)(int, int)>(::dlsym(RTLD_NEXT, "tcflush"));
    return purgeFails ? -1 : next(fd, queue);
}
