// End to end: QamUpdate.exe under Wine, driven from outside as an operator would, against the
// simulator on COM3 (COM1 a line that never answers): the first start and its window as the
// template makes it, a bad file refused, a whole update, the factory defaults, and the second start.
#include "framework/win32/Windows.h"

#include "common/Resource.h"
#include "tests/support/Kit.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <fstream>
#include <thread>

namespace {

using namespace qam::test;
namespace sim = qam::sim;

constexpr const char* KEY = "System\\CurrentControlSet\\Services\\Orvane\\NUV2";
constexpr const char* DIRECTORY = "C:\\qam-e2e";

// QamUpdate.exe, ended by its handle if a test leaves it running.
class Program {
public:
    Program() {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        std::string command = "ui\\QamUpdate.exe";
        ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                         &m_info);
        ::CloseHandle(m_info.hThread);
    }
    ~Program() {
        if (!Ended(0)) {
            ::TerminateProcess(m_info.hProcess, 1);
            Ended(30000);
        }
        ::CloseHandle(m_info.hProcess);
    }
    bool Ended(DWORD waitMs = 30000) const {
        return ::WaitForSingleObject(m_info.hProcess, waitMs) == WAIT_OBJECT_0;
    }
    HANDLE Process() const { return m_info.hProcess; }
    DWORD Id() const { return m_info.dwProcessId; }

private:
    PROCESS_INFORMATION m_info{};
};

std::string Text(HWND window) {
    std::array<char, 512> text{};
    return std::string(text.data(), static_cast<std::size_t>(::GetWindowTextA(window, text.data(), 512)));
}

std::string Class(HWND window) {
    std::array<char, 64> name{};
    return std::string(name.data(), static_cast<std::size_t>(::GetClassNameA(window, name.data(), 64)));
}

// Polls until the condition holds; by default a hang guard of two minutes.
bool WaitFor(const std::function<bool()>& condition, std::chrono::seconds limit = std::chrono::minutes(2)) {
    for (const auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// A top-level window of the program with this class and caption (empty: any), visible unless a
// tooltip control is asked for.
HWND Find(const Program& program, const std::string& caption, const char* className = "#32770") {
    struct Search {
        DWORD process;
        std::string caption;
        std::string className;
        HWND found;
    } search{program.Id(), caption, className, nullptr};
    ::EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* s = reinterpret_cast<Search*>(parameter);
            DWORD process = 0;
            ::GetWindowThreadProcessId(window, &process);
            const bool shown = ::IsWindowVisible(window) || s->className == "tooltips_class32";
            if (process == s->process && Class(window) == s->className && shown &&
                (s->caption.empty() || Text(window) == s->caption)) {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForWindow(const Program& program, const std::string& caption) {
    HWND found = nullptr;
    WaitFor([&] { return (found = Find(program, caption)) != nullptr; });
    return found;
}

// The search runs without serving messages: it has ended once the window answers again.
bool Serving(HWND window) {
    DWORD_PTR ignored = 0;
    return ::SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &ignored) != 0;
}

// A message box's text (its longest static) and the answer given.
std::string Answer(const Program& program, const std::string& caption, int answer) {
    const HWND box = WaitForWindow(program, caption);
    std::string text;
    ::EnumChildWindows(
        box,
        [](HWND child, LPARAM parameter) -> BOOL {
            auto* longest = reinterpret_cast<std::string*>(parameter);
            if (Class(child) == "Static" && Text(child).size() > longest->size()) {
                *longest = Text(child);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&text));
    ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
    return text;
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

// The window and a margin as the screen shows it, as a 24-bit BMP.
void Screenshot(HWND window, const char* path) {
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    RECT r{};
    ::GetWindowRect(window, &r);
    const int width = r.right - r.left + 16;
    const int height = r.bottom - r.top + 16;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, r.left - 8, r.top - 8, SRCCOPY);
    ::SelectObject(memory, previous);
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    std::vector<char> pixels(static_cast<std::size_t>((width * 3 + 3) & ~3) *
                             static_cast<std::size_t>(height));
    ::GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.size());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file)
        .write(reinterpret_cast<const char*>(&header), sizeof header);
    out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
}

// The tooltip control's tools, read through the program's own memory: control id and text.
std::vector<std::pair<UINT_PTR, std::string>> Tips(const Program& program, HWND window) {
    std::vector<std::pair<UINT_PTR, std::string>> tips;
    const HWND tooltip = Find(program, "", "tooltips_class32");
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

TEST(EndToEnd, FirstStartUpdateDefaultsAndSecondStart) {
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
    auto write = [](const std::string& to, const qam::update::Bytes& bytes) {
        std::ofstream(to, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    };
    write(path, qam::update::BuildUpdateFile(parts));
    qam::update::UpdateFileParts wrongVersion = parts;
    wrongVersion.versionText = "KESTRAN UpdateFile Vers 9.99";
    write(std::string(DIRECTORY) + "\\bad.qam", qam::update::BuildUpdateFile(wrongVersion));
    ForgetSettings();
    // Without a window manager Wine draws the frames itself only when told to: the title shows then.
    HKEY x11 = nullptr;
    ::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", 0, nullptr, 0, KEY_WRITE, nullptr,
                      &x11, nullptr);
    ::RegSetValueExA(x11, "Decorated", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
    ::RegCloseKey(x11);

    Program first;
    const HWND window = WaitForWindow(first, "");
    ASSERT_NE(window, nullptr);
    const std::string found = "Device on COM 3\nDSP : NUV 1.16 A   PLD : PLD 2.03 B";
    // No key: four ports from COM1, which stays silent for the whole identification read.
    ASSERT_TRUE(WaitFor(
        [&] { return Text(::GetDlgItem(window, IDC_STATUS_UPPER)) == "searching Device on COM 1..."; }));
    ASSERT_TRUE(WaitFor([&] { return Text(::GetDlgItem(window, IDC_STATUS_UPPER)) == found; }));
    ASSERT_TRUE(Serving(window));
    EXPECT_EQ(Text(window), "Firmware Update Tool 8PSK/COFDM-QAM-Modul   V 1.00");
    EXPECT_EQ(StoredSetting("LastCOM"), std::nullopt) << "the key is made, nothing written to it";

    struct Item {
        int id;
        const char* className;
        const char* text;
        RECT units;
        DWORD style;
        bool visible;
        bool enabled;
    };
    const DWORD push = WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON;
    const DWORD def = WS_CHILD | WS_TABSTOP | BS_DEFPUSHBUTTON;
    const DWORD box = WS_CHILD | WS_TABSTOP | BS_AUTOCHECKBOX;
    const DWORD upper = WS_CHILD | WS_GROUP | SS_CENTER | SS_SUNKEN;
    const DWORD lower = upper | SS_CENTERIMAGE;
    const std::vector<Item> items = {
        {IDC_UPDATE, "Button", "&Update", {167, 49, 55, 14}, push, true, false},
        {IDCANCEL, "Button", "&Close", {248, 49, 55, 14}, push, true, true},
        {IDC_STATUS_UPPER, "Static", found.c_str(), {5, 7, 298, 17}, upper, true, true},
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
    RECT client{};
    ::GetClientRect(window, &client);
    EXPECT_EQ(client.right, ::MulDiv(308, baseX, 4)) << "the template's 308 x 95 units";
    EXPECT_EQ(client.bottom, ::MulDiv(95, baseY, 8));
    HWND child = ::GetWindow(window, GW_CHILD);
    for (const Item& item : items) {
        SCOPED_TRACE(item.id);
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(::GetDlgCtrlID(child), item.id) << "template order";
        EXPECT_EQ(Class(child), item.className);
        EXPECT_EQ(Text(child), item.text);
        EXPECT_EQ(::IsWindowVisible(child) != FALSE, item.visible);
        EXPECT_EQ(::IsWindowEnabled(child) != FALSE, item.enabled);
        // Which push button is the default moves with the focus; the progress bar draws its own border.
        const bool pushButton = Class(child) == "Button" && (item.style & 0xF) <= BS_DEFPUSHBUTTON;
        const DWORD mask = (WS_CHILD | WS_TABSTOP | WS_GROUP | 0xFFFF) & ~(pushButton ? BS_DEFPUSHBUTTON : 0);
        const auto style = static_cast<DWORD>(::GetWindowLongA(child, GWL_STYLE));
        EXPECT_EQ(style & mask, item.style & mask);
        const RECT& u = item.units;
        const RECT expected{::MulDiv(u.left, baseX, 4), ::MulDiv(u.top, baseY, 8),
                            ::MulDiv(u.left, baseX, 4) + ::MulDiv(u.right, baseX, 4),
                            ::MulDiv(u.top, baseY, 8) + ::MulDiv(u.bottom, baseY, 8)};
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
    Screenshot(window, "e2e-window.bmp");

    // A file the check refuses never reaches the module.
    const std::size_t searched = module->Trace().size();
    Choose(first, window, std::string(DIRECTORY) + "\\bad.qam");
    ASSERT_TRUE(WaitFor([&] { return ::IsWindowEnabled(::GetDlgItem(window, IDC_UPDATE)) != FALSE; }));
    ::PostMessageA(::GetDlgItem(window, IDC_UPDATE), BM_CLICK, 0, 0);
    EXPECT_EQ(Answer(first, "ERROR", IDOK), "Illegal File Format");
    ASSERT_TRUE(WaitFor([&] { return Text(::GetDlgItem(window, IDC_STATUS_LOWER)) == "Update Failed"; }));
    EXPECT_EQ(module->Trace().size(), searched);

    // The whole update, with a close request in the middle of the flash write.
    ::PostMessageA(::GetDlgItem(window, IDC_SEARCH_MODULE), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return Text(::GetDlgItem(window, IDC_STATUS_LOWER)) == "ready"; }) &&
                Serving(window));
    Choose(first, window, path);
    const std::size_t before = module->Trace().size();
    ::PostMessageA(::GetDlgItem(window, IDC_UPDATE), BM_CLICK, 0, 0);
    ASSERT_TRUE(
        WaitFor([&] { return Text(::GetDlgItem(window, IDC_STATUS_LOWER)).rfind("Downloading", 0) == 0; }));
    EXPECT_FALSE(::IsWindowEnabled(window));
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    Screenshot(window, "e2e-update-download.bmp");
    ASSERT_TRUE(
        WaitFor([&] { return Text(::GetDlgItem(window, IDC_STATUS_LOWER)).rfind("Update ", 0) == 0; }));
    EXPECT_EQ(Text(::GetDlgItem(window, IDC_STATUS_LOWER)), "Update Successful");
    Screenshot(window, "e2e-update-done.bmp");
    // The whole exchange and the flash contents are the golden run's, under Wine too.
    EXPECT_EQ(Commands(module->Trace(), before).size(), 51u);
    EXPECT_EQ(module->State().commits, 2);

    // The factory defaults through the hidden button's command, after a search opens the port again.
    ::PostMessageA(::GetDlgItem(window, IDC_SEARCH_MODULE), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return Text(::GetDlgItem(window, IDC_STATUS_LOWER)) == "ready"; }) &&
                Serving(window));
    ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_DEFAULT_SETTINGS, BN_CLICKED), 0);
    EXPECT_EQ(Answer(first, "Start New Firmware", IDYES), "Do You Want To Reset The Modul ?");
    ASSERT_TRUE(WaitFor(
        [&] { return Text(::GetDlgItem(window, IDC_STATUS_LOWER)) == "All Settings Set To Default!"; }));
    // Escape on a control, as the dialog's own keyboard handling takes it: the close command.
    ::PostMessageA(::GetDlgItem(window, IDC_SELECT_FILE), WM_KEYDOWN, VK_ESCAPE, 0);
    ASSERT_TRUE(first.Ended());
    EXPECT_EQ(StoredSetting("PrefCOM"), "3");
    EXPECT_EQ(StoredSetting("LastNUVDir"), DIRECTORY);

    // The second start begins at the port where the module was: found long before the silent
    // COM1's 10.6 s would have run out.
    Program second;
    const HWND again = WaitForWindow(second, "");
    ASSERT_TRUE(WaitFor([&] { return Text(::GetDlgItem(again, IDC_STATUS_UPPER)) == found; },
                        std::chrono::seconds(6)));
    const std::size_t started = module->Trace().size();
    EXPECT_TRUE(Serving(again));
    ::PostMessageA(again, WM_CLOSE, 0, 0);
    EXPECT_TRUE(second.Ended());
    EXPECT_EQ(module->Trace().size(), started);
}

} // namespace
