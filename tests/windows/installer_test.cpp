// The installer's work read back from the registry and the disk, in the prefix of installer.sh,
// which runs one test of this program between its steps.
#include <windows.h>

#include "common/Resource.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace {

constexpr const char* FOLDER = "C:\\Program Files\\qamupdate";
constexpr const char* SHORTCUT =
    "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\QAM Firmware Update.lnk";
constexpr const char* ENTRY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qamupdate";
constexpr const char* ENVIRONMENT = "System\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr const char* KEY = "System\\CurrentControlSet\\Services\\Orvane\\NUV2";

// A system PATH longer than the 1,024 characters NSIS's ReadRegStr would keep of it.
std::string SeededPath() {
    std::string path = "C:\\windows\\system32;C:\\windows";
    for (int i = 0; i < 60; ++i) {
        path += ";C:\\Tools\\Vendor " + std::to_string(i) + "\\bin";
    }
    return path;
}

// A value under HKEY_LOCAL_MACHINE as text, a number as its decimal text.
std::optional<std::string> Value(const char* key, const char* name) {
    std::array<char, 8192> data{};
    DWORD size = data.size() - 1;
    DWORD type = 0;
    if (::RegGetValueA(HKEY_LOCAL_MACHINE, key, name, RRF_RT_ANY | RRF_NOEXPAND, &type, data.data(), &size)) {
        return std::nullopt;
    }
    return type == REG_DWORD ? std::to_string(*reinterpret_cast<const DWORD*>(data.data())) : data.data();
}

// The window key's access list as SDDL.
std::string KeyAccess() {
    HKEY key = nullptr;
    std::array<BYTE, 4096> descriptor{};
    DWORD size = descriptor.size();
    char* text = nullptr;
    ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KEY, 0, READ_CONTROL, &key);
    ::RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor.data(), &size);
    ::RegCloseKey(key);
    ::ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor.data(), SDDL_REVISION_1,
                                                           DACL_SECURITY_INFORMATION, &text, nullptr);
    const std::string access = text != nullptr ? text : "none";
    ::LocalFree(text);
    return access;
}

TEST(Installer, Seed) {
    const std::string path = SeededPath();
    ASSERT_EQ(::RegSetKeyValueA(HKEY_LOCAL_MACHINE, ENVIRONMENT, "Path", REG_EXPAND_SZ, path.c_str(),
                                static_cast<DWORD>(path.size() + 1)),
              0);
}

// After each silent install, the second over the first.
TEST(Installer, Installed) {
    for (const char* program : {"QamUpdate.exe", "qamtool.exe", "qamfile.exe"}) {
        EXPECT_TRUE(std::filesystem::is_regular_file(std::string(FOLDER) + "\\" + program)) << program;
    }
    std::ifstream shortcut(SHORTCUT, std::ios::binary);
    const std::string link{std::istreambuf_iterator<char>(shortcut), {}};
    EXPECT_NE(link.find(std::string(FOLDER) + "\\QamUpdate.exe" + '\0'), std::string::npos)
        << "LinkInfo's path";
    EXPECT_EQ(Value(ENTRY, "DisplayName"), "qamupdate");
    EXPECT_EQ(Value(ENTRY, "Publisher"), "qamupdate");
    EXPECT_EQ(Value(ENTRY, "DisplayVersion"), QAM_VERSION);
    EXPECT_EQ(Value(ENTRY, "DisplayIcon"), "C:\\Program Files\\qamupdate\\QamUpdate.exe,0");
    EXPECT_EQ(Value(ENTRY, "QuietUninstallString"), "\"C:\\Program Files\\qamupdate\\uninstall.exe\" /S");
    EXPECT_GT(std::stoul(Value(ENTRY, "EstimatedSize").value_or("0")), 1000u) << "KiB";
    // Once, at the end, with every other entry kept whole.
    EXPECT_EQ(Value(ENVIRONMENT, "Path"), SeededPath() + ";C:\\Program Files\\qamupdate");
    // Full control (KA, KEY_ALL_ACCESS) for BUILTIN\Users (BU, S-1-5-32-545) on this key alone, no
    // inheritance; SYSTEM and Administrators as usual. Wine does not enforce it; Windows does.
    EXPECT_EQ(KeyAccess(), "D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;;KA;;;BU)");
}

// After the first install, with the simulator on COM7, beyond the four ports searched without the
// key: the installed window finds it on its first start and remembers it.
TEST(Installer, FirstStart) {
    EXPECT_EQ(Value(KEY, "LastCOM"), "32");
    EXPECT_EQ(Value(KEY, "PrefCOM"), std::nullopt);
    ASSERT_GT(::WinExec("\"C:\\Program Files\\qamupdate\\QamUpdate.exe\"", SW_SHOW), 31u);
    // The upper status line is empty, then "searching ...", then the search's result.
    std::array<char, 256> status{};
    HWND window = nullptr;
    for (int waited = 0; waited < 1200; ++waited) { // hang guards of two minutes
        window = ::FindWindowA("#32770", nullptr);
        ::GetDlgItemTextA(window, IDC_STATUS_UPPER, status.data(), status.size());
        if (status[0] != 0 && std::string(status.data()).rfind("searching", 0) != 0) {
            break;
        }
        ::Sleep(100);
    }
    EXPECT_EQ(std::string(status.data()).substr(0, 16), "Device on COM 7\n");
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    for (int waited = 0; waited < 1200 && ::IsWindow(window); ++waited) {
        ::Sleep(100);
    }
    EXPECT_EQ(Value(KEY, "PrefCOM"), "7");
    // An administrator's own port count, which the reinstall must keep.
    const DWORD ports = 12;
    ASSERT_EQ(::RegSetKeyValueA(HKEY_LOCAL_MACHINE, KEY, "LastCOM", REG_DWORD, &ports, sizeof ports), 0);
}

// After the silent removal: nothing of the programs left, the window's key and values kept.
TEST(Installer, Removed) {
    EXPECT_FALSE(std::filesystem::exists(FOLDER));
    EXPECT_FALSE(std::filesystem::exists(SHORTCUT));
    EXPECT_EQ(Value(ENTRY, "DisplayName"), std::nullopt);
    EXPECT_EQ(Value(ENVIRONMENT, "Path"), SeededPath());
    EXPECT_EQ(Value(KEY, "LastCOM"), "12");
    EXPECT_EQ(Value(KEY, "PrefCOM"), "7");
}

} // namespace
