// QamUpdate.exe under Wine, driven from outside as an operator would, against the simulator on COM3
// (COM1 never answers): the first start and its window as templated, an update, the factory defaults.
#include "framework/win32/Windows.h"

#include "common/Resource.h"
#include "tests/support/Kit.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <fstream>
#include <thread>
#include <tuple>

namespace {

using namespace qam::test;
namespace sim = qam::sim;

constexpr const char* DIRECTORY = "C:\\qam-e2e";

// QamUpdate.exe, ended by its handle if a test leaves it running.
class Program {
public:
    Program() {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        char command[] = "ui\\QamUpdate.exe";
        ::CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &m_info);
        ::CloseHandle(m_info.hThread);
    }
    ~Program() {
        if (!Ended(0) && ::TerminateProcess(m_info.hProcess, 1)) {
            Ended();
        }
        ::CloseHandle(m_info.hProcess);
    }
    bool Ended(DWORD waitMs = 30000) const { return ::WaitForSingleObject(m_info.hProcess, waitMs) == 0; }
    HANDLE Process() const { return m_info.hProcess; }
    DWORD Id() const { return m_info.dwProcessId; }

private:
    PROCESS_INFORMATION m_info{};
};

std::string Text(HWND window, decltype(&::GetWindowTextA) read = ::GetWindowTextA) {
    std::array<char, 512> text{};
    return std::string(text.data(), static_cast<std::size_t>(read(window, text.data(), 512)));
}

std::string Lower(HWND window) {
    return Text(::GetDlgItem(window, IDC_STATUS_LOWER));
}

bool WaitFor(const std::function<bool()>& condition) {
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(2);
         std::chrono::steady_clock::now() < end;) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// The program's top-level window of this class and caption (null: any), visible unless a tooltip.
HWND Find(const Program& program, const char* caption, const char* className = "#32770") {
    for (HWND window = nullptr; (window = ::FindWindowExA(nullptr, window, className, caption)) != nullptr;) {
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        if (process == program.Id() &&
            (::IsWindowVisible(window) || className == std::string("tooltips_class32"))) {
            return window;
        }
    }
    return nullptr;
}

HWND WaitForWindow(const Program& program, const char* caption) {
    HWND found = nullptr;
    WaitFor([&] { return (found = Find(program, caption)) != nullptr; });
    return found;
}

bool Shows(HWND window, const std::string& text, int id = IDC_STATUS_LOWER) {
    return WaitFor([&] { return Text(::GetDlgItem(window, id)) == text; });
}

// The search runs without serving messages: it has ended once the window answers again.
bool Serving(HWND window) {
    DWORD_PTR ignored = 0;
    return ::SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &ignored) != 0;
}

// Select File, the name typed into the open-file dialog, Open.
void Choose(const Program& program, HWND window, const std::string& path) {
    ::PostMessageA(::GetDlgItem(window, IDC_SELECT_FILE), BM_CLICK, 0, 0);
    const HWND dialog = WaitForWindow(program, "Select File For Download ...");
    HWND name = ::GetDlgItem(dialog, 0x47C); // cmb13, the explorer-style file name box
    name = name != nullptr ? name : ::GetDlgItem(dialog, 0x480);
    ASSERT_NE(name, nullptr);
    ::SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_TRUE(WaitFor([&] { return Find(program, "Select File For Download ...") == nullptr; }));
}

// The tooltip control's tools, read through the program's own memory: control id and text.
std::vector<std::pair<UINT_PTR, std::string>> Tips(const Program& program, HWND window) {
    std::vector<std::pair<UINT_PTR, std::string>> tips;
    const HWND tooltip = Find(program, nullptr, "tooltips_class32");
    EXPECT_EQ(::GetWindow(tooltip, GW_OWNER), window);
    const auto count = static_cast<int>(::SendMessageA(tooltip, TTM_GETTOOLCOUNT, 0, 0));
    char* remote =
        static_cast<char*>(::VirtualAllocEx(program.Process(), nullptr, 4096, MEM_COMMIT, PAGE_READWRITE));
    for (int i = 0; i < count; ++i) {
        TOOLINFOA info{};
        info.cbSize = sizeof info;
        info.lpszText = remote + 1024;
        ::WriteProcessMemory(program.Process(), remote, &info, sizeof info, nullptr);
        ::SendMessageA(tooltip, TTM_ENUMTOOLSA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote));
        std::array<char, 256> text{};
        ::ReadProcessMemory(program.Process(), remote, &info, sizeof info, nullptr);
        ::ReadProcessMemory(program.Process(), remote + 1024, text.data(), text.size() - 1, nullptr);
        tips.emplace_back(info.uId, text.data());
    }
    ::VirtualFreeEx(program.Process(), remote, 0, MEM_RELEASE);
    return tips;
}

TEST(EndToEnd, FirstStartWindowAsTemplated_UpdateKeepsWindowDisabled_DefaultsAndEscapeRemember) {
    sim::Scenario scenario;
    scenario.restartMs = 1500;
    scenario.channels[0] = {sim::Bytes(18, 3), {0xB0}, sim::Bytes(1024, 0)};
    scenario.channels[1] = {sim::Bytes(20, 4), {0xB1}, sim::Bytes(1024, 0)};
    scenario.channels[1].filter[5] = 0x21;
    const auto module = StartSimulator(scenario);
    ::CreateDirectoryA(DIRECTORY, nullptr);
    qam::update::UpdateFileParts parts = ThreeSections(0x30000, 0x20000, 0x1000); // long enough to watch
    parts.fpga->scramble = true;
    const std::string path = std::string(DIRECTORY) + "\\fw.qam";
    const qam::update::Bytes file = qam::update::BuildUpdateFile(parts);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    ForgetSettings();

    Program first;
    const HWND window = WaitForWindow(first, nullptr);
    ASSERT_NE(window, nullptr);
    const std::string found = "Device on COM 3\nDSP : NUV 1.16 A   PLD : PLD 2.03 B";
    // No key: four ports from COM1, which stays silent for the whole identification read.
    ASSERT_TRUE(Shows(window, "searching Device on COM 1...", IDC_STATUS_UPPER));
    ASSERT_TRUE(Shows(window, found, IDC_STATUS_UPPER));
    ASSERT_TRUE(Serving(window));
    EXPECT_EQ(Text(window), "Firmware Update Tool 8PSK/COFDM-QAM-Modul   V 1.00");
    EXPECT_EQ(StoredSetting("LastCOM"), std::nullopt) << "the key is made, nothing written to it";

    const DWORD push = WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON;
    const DWORD def = WS_CHILD | WS_TABSTOP | BS_DEFPUSHBUTTON;
    const DWORD box = WS_CHILD | WS_TABSTOP | BS_AUTOCHECKBOX;
    const DWORD upper = WS_CHILD | WS_GROUP | SS_CENTER | SS_SUNKEN;
    const DWORD lower = upper | SS_CENTERIMAGE;
    const std::tuple<int, std::string, std::string, RECT, DWORD, bool, bool> items[] = {
        {IDC_UPDATE, "Button", "&Update", {167, 49, 55, 14}, push, true, false},
        {IDCANCEL, "Button", "&Close", {248, 49, 55, 14}, push, true, true},
        {IDC_STATUS_UPPER, "Static", found, {5, 7, 298, 17}, upper, true, true},
        {IDC_SELECT_FILE, "Button", "&Select File ...", {86, 49, 55, 14}, def, true, true},
        {IDC_STATUS_LOWER, "Static", "ready", {5, 83, 298, 10}, lower, true, true},
        {IDC_PROGRESS, "msctls_progress32", "Progress1", {5, 32, 298, 10}, WS_CHILD | PBS_SMOOTH, true, true},
        {IDC_DEFAULT_SETTINGS, "Button", "&default Settings", {85, 66, 55, 14}, push, false, true},
        {IDC_SEARCH_MODULE, "Button", "Search &Module", {5, 49, 55, 14}, def, true, true},
        {IDC_KEEP_SETTINGS, "Button", "&keep current Settings", {167, 68, 83, 10}, box, false, true},
    };
    // The base units of the template's font, 8-point "MS Sans Serif", measured here as the dialog
    // manager measures them: the mean width of the 52 letters, and the height.
    HDC screen = ::GetDC(nullptr);
    const HFONT font = ::CreateFontA(-::MulDiv(8, ::GetDeviceCaps(screen, LOGPIXELSY), 72), 0, 0, 0,
                                     FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "MS Sans Serif");
    const HGDIOBJ previous = ::SelectObject(screen, font);
    TEXTMETRICA metrics{};
    SIZE letters{};
    ::GetTextMetricsA(screen, &metrics);
    ::GetTextExtentPoint32A(screen, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &letters);
    ::DeleteObject(::SelectObject(screen, previous));
    ::ReleaseDC(nullptr, screen);
    const int baseX = (letters.cx / 26 + 1) / 2;
    const int baseY = metrics.tmHeight;
    const auto x = [&](int units) { return ::MulDiv(units, baseX, 4); };
    const auto y = [&](int units) { return ::MulDiv(units, baseY, 8); };
    RECT client{};
    ::GetClientRect(window, &client);
    EXPECT_EQ(client.right, x(308)) << "the template's 308 x 95 units";
    EXPECT_EQ(client.bottom, y(95));
    HWND child = ::GetWindow(window, GW_CHILD);
    for (const auto& [id, className, text, u, style, visible, enabled] : items) {
        SCOPED_TRACE(id);
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(::GetDlgCtrlID(child), id) << "template order";
        EXPECT_EQ(Text(child, ::GetClassNameA), className);
        EXPECT_EQ(Text(child), text);
        EXPECT_EQ(::IsWindowVisible(child) != FALSE, visible);
        EXPECT_EQ(::IsWindowEnabled(child) != FALSE, enabled);
        // Which push button is the default moves with the focus; the progress bar draws its own border.
        const bool pushButton = className == "Button" && (style & 0xF) <= BS_DEFPUSHBUTTON;
        const DWORD mask = (WS_CHILD | WS_TABSTOP | WS_GROUP | 0xFFFF) & ~(pushButton ? BS_DEFPUSHBUTTON : 0);
        EXPECT_EQ(static_cast<DWORD>(::GetWindowLongA(child, GWL_STYLE)) & mask, style & mask);
        const RECT expected{x(u.left), y(u.top), x(u.left) + x(u.right), y(u.top) + y(u.bottom)};
        RECT actual{};
        ::GetWindowRect(child, &actual);
        ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_TRUE(::EqualRect(&actual, &expected))
            << actual.left << "," << actual.top << "," << actual.right << "," << actual.bottom
            << " with base units " << baseX << " x " << baseY;
        child = ::GetWindow(child, GW_HWNDNEXT);
    }
    std::vector<int> tabs;
    for (HWND tab = ::GetNextDlgTabItem(window, nullptr, FALSE); tabs.size() < 4;
         tab = ::GetNextDlgTabItem(window, tab, FALSE)) {
        tabs.push_back(::GetDlgCtrlID(tab));
    }
    EXPECT_EQ(tabs, (std::vector<int>{IDCANCEL, IDC_SELECT_FILE, IDC_SEARCH_MODULE, IDCANCEL}));
    EXPECT_EQ(Tips(first, window), (std::vector<std::pair<UINT_PTR, std::string>>{
                                       {1006, "search QAM-Module on COM-ports"},
                                       {1001, "clear current settings, use factory defaults"},
                                       {2, "shut down communication, close application"},
                                       {1003, "select firmware file for update"},
                                       {1000, "download selected firmware"},
                                       {1072, "apply current settings to new firmware"}}));
    // The tip shows only if the program's loop relays the mouse; it gives its text by message alone.
    RECT button{};
    ::GetWindowRect(::GetDlgItem(window, IDC_SELECT_FILE), &button);
    ::SetCursorPos(button.left + 10, button.top + 10);
    ::PostMessageA(::GetDlgItem(window, IDC_SELECT_FILE), WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
    const HWND tip = Find(first, nullptr, "tooltips_class32");
    std::array<char, 64> shown{};
    EXPECT_TRUE(WaitFor([&] {
        ::SendMessageA(tip, WM_GETTEXT, shown.size(), reinterpret_cast<LPARAM>(shown.data()));
        return ::IsWindowVisible(tip) && std::string(shown.data()) == "select firmware file for update";
    }));

    // The whole update, with a close request in the middle of the flash write.
    Choose(first, window, path);
    const std::size_t before = module->Trace().size();
    ::PostMessageA(::GetDlgItem(window, IDC_UPDATE), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return Lower(window).rfind("Downloading", 0) == 0; }));
    EXPECT_FALSE(::IsWindowEnabled(window));
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return Lower(window).rfind("Update ", 0) == 0; }));
    EXPECT_EQ(Lower(window), "Update Successful");
    // The whole exchange and the flash contents are the golden run's, under Wine too.
    EXPECT_EQ(Commands(module->Trace(), before).size(), 51u);
    EXPECT_EQ(module->State().commits, 2);

    // The factory defaults through the hidden button's command, once a search opens the port again.
    ::PostMessageA(::GetDlgItem(window, IDC_SEARCH_MODULE), BM_CLICK, 0, 0);
    ASSERT_TRUE(Shows(window, "ready") && Serving(window));
    ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_DEFAULT_SETTINGS, BN_CLICKED), 0);
    const HWND question = WaitForWindow(first, "Start New Firmware");
    std::string asked; // the box's longest static
    for (HWND label = nullptr; (label = ::FindWindowExA(question, label, "Static", nullptr)) != nullptr;) {
        asked = Text(label).size() > asked.size() ? Text(label) : asked;
    }
    EXPECT_EQ(asked, "Do You Want To Reset The Modul ?");
    ::PostMessageA(question, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
    ASSERT_TRUE(Shows(window, "All Settings Set To Default!"));
    // Escape on a control, as the dialog's own keyboard handling takes it: the close command.
    ::PostMessageA(::GetDlgItem(window, IDC_SELECT_FILE), WM_KEYDOWN, VK_ESCAPE, 0);
    ASSERT_TRUE(first.Ended());
    EXPECT_EQ(StoredSetting("PrefCOM"), "3");
    EXPECT_EQ(StoredSetting("LastNUVDir"), DIRECTORY);
}

} // namespace
