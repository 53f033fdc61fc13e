// The Linux settings file is the user's: what may not be read is not, what may not be written is
// not, and what the program does not own survives. One row per fault, through the real file.
#include "framework/RegKey.h"
#include "tests/support/Platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

std::string Text(const fs::path& file) {
    std::ostringstream text;
    text << std::ifstream(file).rdbuf();
    return text.str();
}

TEST(SettingsFile, TheUsersFile) {
    const std::string big(64 * 1024 - 26, '#'); // with the lines around it: 64 KiB
    struct Row {
        const char* fault;
        std::function<void(const fs::path& dir, const fs::path& conf)> make;
        LONG created;
        DWORD prefCom;     // read at the start; 0: nothing read
        std::string after; // the file (a link's target) once PrefCOM=3 was set; "": as it was
    };
    const Row rows[] = {
        {"a FIFO blocks the start", [](auto&, auto& conf) { ::mkfifo(conf.c_str(), 0600); },
         ERROR_ACCESS_DENIED, 0, ""},
        {"a device is read without end", [](auto&, auto& conf) { fs::create_symlink("/dev/zero", conf); },
         ERROR_ACCESS_DENIED, 0, ""},
        {"a directory is taken for the file", [](auto&, auto& conf) { fs::create_directory(conf); },
         ERROR_ACCESS_DENIED, 0, ""},
        {"a file over 64 KiB is read whole",
         [&big](auto&, auto& conf) { std::ofstream(conf) << "PrefCOM=2\n"
                                                         << big << "################\n"; },
         ERROR_ACCESS_DENIED, 0, ""},
        {"a file of 64 KiB is refused, or its comments, names and mode are lost",
         [&big](auto&, auto& conf) {
             std::ofstream(conf) << "# mine\nprefcom=2\nOther=x\n" << big << "\n";
             fs::permissions(conf, fs::perms(0640));
         },
         ERROR_SUCCESS, 2, "# mine\nprefcom=3\nOther=x\n" + big + "\nLastNUVDir=/u\n"},
        {"a read-only file is replaced",
         [](auto&, auto& conf) {
             std::ofstream(conf) << "# pinned\nPrefCOM=2\n";
             fs::permissions(conf, fs::perms(0444));
         },
         ERROR_SUCCESS, 2, ""},
        {"a file in a read-only directory is replaced",
         [](auto& dir, auto& conf) {
             std::ofstream(conf) << "PrefCOM=2\n";
             fs::permissions(dir, fs::perms(0555));
         },
         ERROR_SUCCESS, 2, ""},
        {"a symlink is replaced by a file",
         [](auto& dir, auto& conf) {
             fs::create_directory(dir / ".." / "real");
             std::ofstream(dir / ".." / "real" / "mine.conf") << "PrefCOM=2\n";
             fs::create_symlink("../real/mine.conf", conf);
         },
         ERROR_SUCCESS, 2, "PrefCOM=3\nLastNUVDir=/u\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        const qam::test::TempDir home;
        const fs::path dir = home.Path() / "qamupdate", conf = dir / "qamupdate.conf";
        fs::create_directory(dir);
        ::setenv("XDG_CONFIG_HOME", home.Path().c_str(), 1);
        row.make(dir, conf);
        const bool link = fs::is_symlink(conf);
        const fs::path file = link ? fs::canonical(conf) : conf;
        const std::string before = fs::is_regular_file(file) ? Text(file) : "";
        const auto mode = fs::status(file).permissions();
        {
            CRegKey key;
            DWORD disposition = 0, prefCom = 0;
            ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, "Key", "", 0, KEY_ALL_ACCESS, &disposition),
                      row.created);
            key.QueryDWORDValue("PrefCOM", prefCom);
            EXPECT_EQ(prefCom, row.prefCom);
            const DWORD port = 3;
            key.SetValue("PrefCOM", REG_DWORD, &port, sizeof port);
            key.SetValue("LastNUVDir", REG_SZ, "/u", 2);
        }
        EXPECT_EQ(fs::is_symlink(conf), link);
        if (fs::is_regular_file(file)) {
            EXPECT_EQ(Text(file), row.after.empty() ? before : row.after);
            EXPECT_EQ(fs::status(file).permissions(), mode);
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1) << "a temporary file left";
        fs::permissions(dir, fs::perms(0700));
    }
}

} // namespace
