// The Linux settings file is the user's: what may not be read is not, what may not be written is
// not, and what the program does not own survives. One row per fault, through the real file.
#include "framework/RegKey.h"
#include "tests/support/Platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

TEST(SettingsFile, TheUsersFile) {
    const std::string big(64 * 1024 - 26, '#'); // with the lines around it: 64 KiB
    const std::string mine = "# mine\nprefcom=2\nOther=x\n" + big + "\n";
    struct Row {
        const char* fault;
        std::string special; // "fifo", or a device the file links to; "": the text below
        std::string text;
        int fileMode, dirMode;
        bool link; // the file is a link to text in another directory
        LONG created;
        DWORD prefCom;     // read at the start; 0: nothing read
        std::string after; // the file (a link's target) once PrefCOM=3 was set; "": as it was
    };
    const Row rows[] = {
        {"a FIFO blocks the start", "fifo", "", 0600, 0700, false, ERROR_ACCESS_DENIED, 0, ""},
        {"a device is read without end", "/dev/zero", "", 0600, 0700, false, ERROR_ACCESS_DENIED, 0, ""},
        {"a file over 64 KiB is read whole", "", "PrefCOM=2\n" + big + "################\n", 0600, 0700,
         false, ERROR_ACCESS_DENIED, 0, ""},
        {"a file of 64 KiB is refused, or its comments, names or mode lost", "", mine, 0640, 0700, false,
         ERROR_SUCCESS, 2, "# mine\nprefcom=3\nOther=x\n" + big + "\nLastNUVDir=/u\n"},
        {"a read-only file is replaced", "", "# pinned\nPrefCOM=2\n", 0444, 0700, false, ERROR_SUCCESS, 2,
         ""},
        {"a file in a read-only directory is replaced", "", "PrefCOM=2\n", 0600, 0555, false, ERROR_SUCCESS,
         2, ""},
        {"a symlink is replaced by a file", "", "PrefCOM=2\n", 0600, 0700, true, ERROR_SUCCESS, 2,
         "PrefCOM=3\nLastNUVDir=/u\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        const qam::test::TempDir home;
        const fs::path dir = home.Path() / "qamupdate", conf = dir / "qamupdate.conf";
        const fs::path file = row.link ? home.Path() / "mine.conf" : conf;
        fs::create_directory(dir);
        ::setenv("XDG_CONFIG_HOME", home.Path().c_str(), 1);
        if (row.special == "fifo") {
            ::mkfifo(conf.c_str(), 0600);
        } else if (!row.special.empty()) {
            fs::create_symlink(row.special, conf);
        } else {
            std::ofstream(file) << row.text;
            fs::permissions(file, fs::perms(row.fileMode));
            if (row.link) {
                fs::create_symlink("../mine.conf", conf);
            }
        }
        fs::permissions(dir, fs::perms(row.dirMode));
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
        EXPECT_EQ(fs::is_symlink(conf), row.link || row.special == "/dev/zero");
        if (row.special.empty()) {
            std::ostringstream text;
            text << std::ifstream(file).rdbuf();
            EXPECT_EQ(text.str(), row.after.empty() ? row.text : row.after);
            EXPECT_EQ(fs::status(file).permissions(), fs::perms(row.fileMode));
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1) << "a temporary file left";
        fs::permissions(dir, fs::perms(0700));
    }
}

} // namespace
