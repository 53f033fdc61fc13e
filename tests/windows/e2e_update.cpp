// End to end: a whole firmware update with QamUpdate.exe under Wine, driven from outside through
// its windows (the file dialog, the buttons, the message boxes), against the simulator; then a bad
// file refused before any module traffic and the factory-defaults command. scripts/e2e-update runs
// it inside the Windows test run and turns its screenshots into PNG files.
#include "framework/win32/Windows.h"

#include "common/Resource.h"
#include "tests/support/SimulatorControl.h"
#include "tests/windows/E2eOperator.h"
#include "update/UpdateFileWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace sim = qam::sim;
using namespace qam::e2e;

constexpr const char* kDirectory = "C:\\qam-e2e-update";
constexpr const char* kDuringShot = "e2e-update-download.bmp";
constexpr const char* kAfterShot = "e2e-update-done.bmp";

BOOL CALLBACK LongestStatic(HWND window, LPARAM parameter) {
    auto* text = reinterpret_cast<std::string*>(parameter);
    if (ClassName(window) == "Static") {
        const std::string shown = Text(window);
        if (shown.size() > text->size()) {
            *text = shown;
        }
    }
    return TRUE;
}

// A message box's text and its answer.
std::string AnswerBox(HWND box, int answer) {
    std::string text;
    ::EnumChildWindows(box, &LongestStatic, reinterpret_cast<LPARAM>(&text));
    ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
    return text;
}

// The open-file dialog: the name typed into its file name box, then its Open command.
bool ChooseInFileDialog(HWND dialog, const std::string& name) {
    HWND box = ::GetDlgItem(dialog, 0x47C); // cmb13, the explorer-style file name box
    if (box == nullptr) {
        box = ::GetDlgItem(dialog, 0x480); // edt1
    }
    if (box == nullptr) {
        return false;
    }
    ::SendMessageA(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return true;
}

qam::update::Bytes SectionData(std::size_t length, std::uint8_t seed) {
    qam::update::Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + seed);
    }
    return bytes;
}

void WriteFile(const std::string& path, const qam::update::Bytes& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void SetValue(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY raw = nullptr;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRegistryKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr) ==
        ERROR_SUCCESS) {
        const Key key(raw);
        ::RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), size);
    }
}

std::vector<std::string> Commands(const std::vector<sim::TraceEntry>& trace, std::size_t from) {
    std::vector<std::string> commands;
    int last = 0;
    for (std::size_t i = from; i < trace.size(); ++i) {
        if (trace[i].direction == sim::Direction::ToModule && trace[i].exchange != last) {
            commands.emplace_back(trace[i].bytes.begin(), trace[i].bytes.end());
            last = trace[i].exchange;
        }
    }
    return commands;
}

TEST(E2eUpdate, AWholeUpdateABadFileAndTheFactoryDefaults) {
    sim::Scenario scenario;
    scenario.restartMs = 1500;
    scenario.channels[0].settings = SectionData(40, 11);
    scenario.channels[0].bls = {0xB0, 0x01, 0x02};
    scenario.channels[0].filter = sim::Bytes(1024, 0);
    scenario.channels[0].filter[0] = 0x05;
    scenario.channels[1].settings = SectionData(24, 12);
    scenario.channels[1].bls = {0xB1};
    scenario.channels[1].filter = sim::Bytes(1024, 0);
    scenario.channels[1].filter[1023] = 0x80;
    auto simulator = qam::test::StartSimulator(scenario);

    ::CreateDirectoryA(kDirectory, nullptr);
    qam::update::UpdateFileParts parts;
    parts.date = {0x20, 0x26, 0x12, 0x06, 0x23, 0x30, 0x00, 0x01};
    parts.bitFileName = "fpga.bit";
    parts.dumpFileName = "app.dmp";
    // Large enough that the download runs long enough to be seen.
    parts.fpga = qam::update::SectionInput{SectionData(0x40000, 1), true, std::nullopt};
    parts.appCode = qam::update::SectionInput{SectionData(0x30000, 2), true, std::nullopt};
    parts.appData = qam::update::SectionInput{SectionData(0x8000, 3), true, std::nullopt};
    WriteFile(std::string(kDirectory) + "\\fw.qam", qam::update::BuildUpdateFile(parts));
    qam::update::UpdateFileParts bad = parts;
    bad.versionText = "NUV-Update V9.99";
    WriteFile(std::string(kDirectory) + "\\bad.qam", qam::update::BuildUpdateFile(bad));

    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRegistryKey);
    SetValue("LastNUVDir", REG_SZ, kDirectory, static_cast<DWORD>(std::strlen(kDirectory)));
    const DWORD count = 4;
    const DWORD port = static_cast<DWORD>(simulator->Port());
    SetValue("LastCOM", REG_DWORD, &count, sizeof count);
    SetValue("PrefCOM", REG_DWORD, &port, sizeof port);

    Program program;
    ASSERT_TRUE(program.Started());
    const HWND window = WaitForDialog(program);
    ASSERT_NE(window, nullptr);
    const HWND upper = ::GetDlgItem(window, IDC_STATUS_UPPER);
    const HWND lower = ::GetDlgItem(window, IDC_STATUS_LOWER);
    ASSERT_TRUE(WaitFor([&] { return Text(upper).rfind("Device on COM", 0) == 0; })) << Text(upper);
    // The tuner query follows the found text: the search has ended once the window serves again.
    ASSERT_TRUE(WaitUntilServing(window));
    const std::size_t searched = simulator->Trace().size();

    // Select File, the dialog in the remembered directory, fw.qam.
    ::PostMessageA(::GetDlgItem(window, IDC_SELECT_FILE), BM_CLICK, 0, 0);
    const HWND fileDialog = WaitForDialog(program, "Select File For Download ...");
    ASSERT_NE(fileDialog, nullptr);
    ASSERT_TRUE(ChooseInFileDialog(fileDialog, "fw.qam"));
    ASSERT_TRUE(WaitFor([&] { return ::IsWindowEnabled(::GetDlgItem(window, IDC_UPDATE)) != FALSE; }));

    ::PostMessageA(::GetDlgItem(window, IDC_UPDATE), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return Text(lower).rfind("Downloading", 0) == 0; })) << Text(lower);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(SaveScreenshot(window, kDuringShot));
    EXPECT_FALSE(::IsWindowEnabled(window));
    // A close request in the middle of the flash write is refused: the update goes on.
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return Text(lower) == "Update Successful" || Text(lower) == "Update Failed"; }));
    EXPECT_EQ(Text(lower), "Update Successful");
    EXPECT_TRUE(::IsWindowEnabled(window));
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(window, IDC_UPDATE)));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(SaveScreenshot(window, kAfterShot));

    const std::vector<sim::TraceEntry> trace = simulator->Trace();
    const sim::ModuleState state = simulator->State();
    const std::vector<std::string> expected{"c000", "RSTA", "RBLS", "RFLT", "c001", "RSTA", "RBLS", "RFLT",
                                            "CPRM", "CPLD", "UPLD", "CAPP", "UAPP", "CAPD", "UAPD", "RST0",
                                            "VDSP", "VPLD", "VTUN"};
    const std::vector<std::string> sent = Commands(trace, searched);
    ASSERT_GE(sent.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(expected.size())),
              expected);
    // The restore: channel 0's values and bits, its commit, then channel 1's.
    const std::vector<std::string> restore(sent.begin() + static_cast<std::ptrdiff_t>(expected.size()), sent.end());
    ASSERT_FALSE(restore.empty());
    EXPECT_EQ(restore.front(), "c000");
    EXPECT_EQ(std::count(restore.begin(), restore.end(), "ZAll"), 2);
    EXPECT_EQ(restore.back(), "ZAll");
    EXPECT_EQ(state.flash[0], sim::Bytes(parts.fpga->data.begin() + 4, parts.fpga->data.end()));
    EXPECT_EQ(state.flash[1], sim::Bytes(parts.appData->data.begin() + 4, parts.appData->data.end()));
    EXPECT_EQ(state.flash[2], sim::Bytes(parts.appCode->data.begin() + 4, parts.appCode->data.end()));
    EXPECT_EQ(state.settingsClears, 1);
    EXPECT_EQ(state.resets, 1);
    EXPECT_EQ(state.commits, 2);
    EXPECT_EQ(state.channels[0].wbls, scenario.channels[0].bls);
    EXPECT_EQ(state.channels[1].wbls, scenario.channels[1].bls);
    EXPECT_EQ(state.channels[0].filterBitsAdded, (std::vector<int>{0, 2}));
    EXPECT_EQ(state.channels[1].filterBitsAdded, (std::vector<int>{8191}));

    // A bad file after a new search: refused with its box before the module hears anything.
    ::PostMessageA(::GetDlgItem(window, IDC_SEARCH_MODULE), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return ::IsWindowEnabled(::GetDlgItem(window, IDC_SELECT_FILE)) != FALSE &&
                                     Text(lower) == "ready"; }));
    ::PostMessageA(::GetDlgItem(window, IDC_SELECT_FILE), BM_CLICK, 0, 0);
    const HWND secondDialog = WaitForDialog(program, "Select File For Download ...");
    ASSERT_NE(secondDialog, nullptr);
    ASSERT_TRUE(ChooseInFileDialog(secondDialog, "bad.qam"));
    ASSERT_TRUE(WaitFor([&] { return ::IsWindowEnabled(::GetDlgItem(window, IDC_UPDATE)) != FALSE; }));
    const std::size_t beforeBad = simulator->Trace().size();
    ::PostMessageA(::GetDlgItem(window, IDC_UPDATE), BM_CLICK, 0, 0);
    const HWND errorBox = WaitForDialog(program, "ERROR");
    ASSERT_NE(errorBox, nullptr);
    EXPECT_EQ(AnswerBox(errorBox, IDOK), "Illegal File Format");
    ASSERT_TRUE(WaitFor([&] { return Text(lower) == "Update Failed"; }));
    EXPECT_EQ(Commands(simulator->Trace(), beforeBad), std::vector<std::string>{});

    // The factory defaults: its button is hidden, so its command is posted; the search first,
    // since the update closed the port.
    ::PostMessageA(::GetDlgItem(window, IDC_SEARCH_MODULE), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return Text(lower) == "ready"; }));
    const std::size_t beforeDefaults = simulator->Trace().size();
    ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_DEFAULT_SETTINGS, BN_CLICKED), 0);
    const HWND question = WaitForDialog(program, "Start New Firmware");
    ASSERT_NE(question, nullptr);
    // Refused while the command waits for the answer.
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(AnswerBox(question, IDYES), "Do You Want To Reset The Modul ?");
    ASSERT_TRUE(WaitFor([&] { return Text(lower) == "All Settings Set To Default!"; })) << Text(lower);
    EXPECT_EQ(Commands(simulator->Trace(), beforeDefaults), (std::vector<std::string>{"CPRM", "RST0"}));
    EXPECT_EQ(simulator->State().resets, 2);
    EXPECT_TRUE(::IsWindow(window));

    ::PostMessageA(::GetDlgItem(window, IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_EQ(program.WaitForExit(), 0u);
    ::DeleteFileA((std::string(kDirectory) + "\\fw.qam").c_str());
    ::DeleteFileA((std::string(kDirectory) + "\\bad.qam").c_str());
    ::RemoveDirectoryA(kDirectory);
}

} // namespace
