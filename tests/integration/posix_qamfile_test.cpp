// qamfile as a command: build, info and verify on files it makes, its exit statuses and messages,
// and its files downloaded into the simulator. Native only (runs the program with popen).

#include "tests/integration/DownloadFixture.h"
#include "tools/qamfile/Crc32.h"

#include <sys/wait.h>

#include <cstdio>

namespace qam::test {
namespace {

struct CommandRun {
    int status;
    std::string output; // standard output and error together
};

class Qamfile : public DownloadFixture {
protected:
    std::string Path(const std::string& name) const { return (m_dir / name).string(); }

    std::string Put(const std::string& name, const update::Bytes& bytes) const {
        return WriteFile(name, bytes);
    }

    CommandRun Qam(const std::string& arguments) const {
        const std::string command = std::string("'") + QAMFILE_PATH + "' " + arguments + " 2>&1";
        std::FILE* pipe = popen(command.c_str(), "r");
        EXPECT_NE(pipe, nullptr);
        CommandRun run{-1, {}};
        if (pipe == nullptr) {
            return run;
        }
        char chunk[4096];
        std::size_t count = 0;
        while ((count = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
            run.output.append(chunk, count);
        }
        const int status = pclose(pipe);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return run;
    }

    update::Bytes ReadBack(const std::string& path) const {
        std::ifstream file(path, std::ios::binary);
        return update::Bytes(std::istreambuf_iterator<char>(file), {});
    }

    // Three section files and a full build of them; B and P stored scrambled.
    std::string BuildFull(const std::string& name, const std::string& more = "") {
        Put("fpga.bin", Pattern(300));
        Put("code.bin", Pattern(1000));
        Put("data.bin", Pattern(77));
        const CommandRun run =
            Qam("build -o " + Path(name) + " --date 2026120622150799 --bitfile top.bit --dumpfile app.dmp" +
                " --fpga " + Path("fpga.bin") + " --appcode " + Path("code.bin") + " --appdata " +
                Path("data.bin") + " --scramble B,P " + more);
        EXPECT_EQ(run.status, 0) << run.output;
        return Path(name);
    }
};

std::string Hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

TEST(QamfileCrc, StandardCheckValue) {
    const std::string text = "123456789";
    EXPECT_EQ(qamfile::Crc32({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}), 0xCBF43926u);
}

TEST_F(Qamfile, InfoListsEveryRecordAndWhatEachSectionSends) {
    const std::string file = BuildFull("full.qam");
    const CommandRun run = Qam("info " + file);
    EXPECT_EQ(run.status, 0);
    const sim::Bytes fpga = Pattern(300);
    const sim::Bytes code = Pattern(1000);
    const sim::Bytes data = Pattern(77);
    auto crc = [](const sim::Bytes& section) { return Hex32(qamfile::Crc32(SentPart(section))); };
    const std::string expected = file +
                                 "\n"
                                 "offset      tag       length\n"
                                 "0x00000000  VERS          29  version \"KESTRAN UpdateFile Vers 2.00\"\n"
                                 "0x00000025  DATE           8  key 20 26 12 06 22 15 07 99\n"
                                 "0x00000035  BFN            8  name \"top.bit\"\n"
                                 "0x00000045  BDAT         300  FPGA configuration, control 0x00000001, "
                                 "scrambled, sends 296 bytes, CRC-32 " +
                                 crc(fpga) +
                                 "\n"
                                 "0x0000017D  DFN            8  name \"app.dmp\"\n"
                                 "0x0000018D  DPRG        1000  application code, control 0x00010000, "
                                 "scrambled, sends 996 bytes, CRC-32 " +
                                 crc(code) +
                                 "\n"
                                 "0x00000581  DDAT          77  application data, control 0x00000000, not "
                                 "scrambled, sends 73 bytes, CRC-32 " +
                                 crc(data) +
                                 "\n"
                                 "0x000005DA  STOP           0\n"
                                 "reads to STOP: 3 section(s)\n";
    EXPECT_EQ(run.output, expected);
}

TEST_F(Qamfile, VerifyPassesAWellFormedFile) {
    const CommandRun run = Qam("verify " + BuildFull("full.qam"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "OK: " + Path("full.qam") + " reads to STOP: 3 section(s), 1365 bytes to send\n");
}

TEST_F(Qamfile, BuiltFileDownloadsIntoTheModule) {
    StartModule();
    const std::string file = BuildFull("full.qam");
    EXPECT_EQ(m_proxy.DownloadUpdateFile(file), RESULT_OK);
    const sim::ModuleState state = m_simulator->State();
    EXPECT_EQ(state.flash[static_cast<int>(sim::FlashArea::Fpga)], SentPart(Pattern(300)));
    EXPECT_EQ(state.flash[static_cast<int>(sim::FlashArea::AppCode)], SentPart(Pattern(1000)));
    EXPECT_EQ(state.flash[static_cast<int>(sim::FlashArea::AppData)], SentPart(Pattern(77)));
}

TEST_F(Qamfile, ScrambledSectionsAreStoredChanged) {
    const update::Bytes stored = ReadBack(BuildFull("full.qam"));
    const sim::Bytes fpga = Pattern(300);
    // The BDAT data starts behind its frame and control word at 0x45.
    const update::Bytes head(stored.begin() + 0x45 + 12, stored.begin() + 0x45 + 12 + 12);
    const update::Bytes body(stored.begin() + 0x45 + 12 + 12, stored.begin() + 0x45 + 12 + 300);
    EXPECT_EQ(head, update::Bytes(fpga.begin(), fpga.begin() + 12));
    EXPECT_NE(body, update::Bytes(fpga.begin() + 12, fpga.end()));
}

TEST_F(Qamfile, VerifyNamesTheRecordAndReasonWithADistinctStatus) {
    struct Case {
        const char* name;
        std::string options;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {"no STOP", "--omit STOP", 3,
         "record frame at offset 0x000005DA: the file ends inside a record frame (or before its STOP record) "
         "(ERR_FILE_READ)"},
        {"DATE of four", "--length DATE=4", 4,
         "record DATE at offset 0x00000025: the DATE record's length is not 8 (ERR_FILE_FORMAT)"},
        {"no DATE", "--omit DATE", 4,
         "record BDAT at offset 0x00000035: the section asks to be unscrambled but no DATE record came "
         "before it "
         "(ERR_FILE_FORMAT)"},
        {"wrong version", "--version-text 'KESTRAN UpdateFile Vers 2.0'", 4,
         "record VERS at offset 0x00000000: the version text does not match (ERR_FILE_FORMAT)"},
        {"section too long", "--length DDAT=0x40001", 5,
         "record DDAT at offset 0x00000581: the section's data is longer than 0x40000 bytes (ERR_NO_MEMORY)"},
        {"section too short", "--length DPRG=2", 4,
         "record DPRG at offset 0x0000018D: the section's data is shorter than 4 bytes (ERR_FILE_FORMAT)"},
        {"section cut", "--length DDAT=100 --omit STOP", 3,
         "record DDAT at offset 0x00000581: the file ends inside the record's payload (ERR_FILE_READ)"},
    };
    for (const Case& c : cases) {
        const std::string file = BuildFull("bad.qam", c.options);
        const CommandRun run = Qam("verify " + file);
        EXPECT_EQ(run.status, c.status) << c.name << "\n" << run.output;
        EXPECT_EQ(run.output, "qamfile: " + file + ": " + c.message + "\n") << c.name;
    }
}

TEST_F(Qamfile, UnknownRecordBehindTheSectionsIsFormat) {
    Put("junk.bin", update::Bytes{0x41, 0x42, 0x43, 0x44, 0x10, 0, 0, 0});
    const std::string file = BuildFull("junk.qam", "--omit STOP --append " + Path("junk.bin"));
    const CommandRun verify = Qam("verify " + file);
    EXPECT_EQ(verify.status, 4);
    EXPECT_EQ(verify.output,
              "qamfile: " + file +
                  ": record DCBA at offset 0x000005DA: unknown record tag (ERR_FILE_FORMAT)\n");
    const CommandRun info = Qam("info " + file);
    EXPECT_EQ(info.status, 4);
    EXPECT_NE(info.output.find("0x000005DA  0x44434241          16  unknown tag \"DCBA\"\n"),
              std::string::npos)
        << info.output;
}

TEST_F(Qamfile, OtherKindsControlBitsAreListedNotScrambled) {
    Put("data.bin", Pattern(40));
    const std::string file = Path("bits.qam");
    ASSERT_EQ(Qam("build -o " + file + " --appdata " + Path("data.bin") + " --control D=0000000F").status, 0);
    const CommandRun info = Qam("info " + file);
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(
        info.output.find("application data, control 0x0000000F, not scrambled, sends 36 bytes, CRC-32 " +
                         Hex32(qamfile::Crc32(SentPart(Pattern(40))))),
        std::string::npos)
        << info.output;
}

TEST_F(Qamfile, FileCutByHandIsFileRead) {
    update::Bytes bytes = ReadBack(BuildFull("full.qam"));
    bytes.resize(0x45 + 8 + 2); // inside the BDAT control word
    const std::string file = Put("cut.qam", bytes);
    const CommandRun run = Qam("verify " + file);
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.output,
              "qamfile: " + file +
                  ": record BDAT at offset 0x00000045: the file ends inside the section's control word "
                  "(ERR_FILE_READ)\n");
}

TEST_F(Qamfile, UnreadableFilesAreStatusTwo) {
    const CommandRun verify = Qam("verify " + Path("absent.qam"));
    EXPECT_EQ(verify.status, 2);
    EXPECT_EQ(verify.output,
              "qamfile: " + Path("absent.qam") + ": the file cannot be opened for reading (ERR_FILE_OPEN)\n");
    EXPECT_EQ(Qam("info " + Path("absent.qam")).status, 2);
    const CommandRun section = Qam("build -o " + Path("x.qam") + " --fpga " + Path("absent.bin"));
    EXPECT_EQ(section.status, 2);
    EXPECT_EQ(section.output, "qamfile: cannot read section file '" + Path("absent.bin") + "'\n");
    EXPECT_EQ(Qam("build -o " + Path("no/such/dir/x.qam")).status, 2);
}

TEST_F(Qamfile, UsageErrorsAreStatusOneWithAMessage) {
    const char* const cases[] = {
        "",
        "frobnicate",
        "build",
        "build -o",
        "build -o x.qam --date 12345",
        "build -o x.qam --date 0123456789ABCDEG",
        "build -o x.qam --scramble B",
        "build -o x.qam --bogus 1",
        "build -o x.qam --omit NOPE",
        "build -o x.qam --length DATE=abc",
        "build -o x.qam --control Q=1",
        "info",
        "verify a.qam b.qam",
    };
    for (const char* arguments : cases) {
        const CommandRun run = Qam(arguments);
        EXPECT_EQ(run.status, 1) << arguments;
        EXPECT_EQ(run.output.rfind("qamfile: ", 0), 0u) << arguments << "\n" << run.output;
        EXPECT_NE(run.output.find("qamfile --help"), std::string::npos) << arguments;
    }
    EXPECT_FALSE(std::filesystem::exists("x.qam"));
}

TEST_F(Qamfile, HelpDocumentsEveryOptionAndStatus) {
    const CommandRun run = Qam("--help");
    EXPECT_EQ(run.status, 0);
    for (const char* option : {"build", "info", "verify", "-o", "--version-text", "--date", "--bitfile",
                               "--dumpfile", "--fpga", "--appcode", "--appdata", "--scramble", "--control",
                               "--omit", "--length", "--append", "QAM_DATE_MASK"}) {
        EXPECT_NE(run.output.find(option), std::string::npos) << option;
    }
    for (const char* status : {"  0  ", "  1  ", "  2  ", "  3  ", "  4  ", "  5  ", "  6  "}) {
        EXPECT_NE(run.output.find(status), std::string::npos) << status;
    }
}

} // namespace
} // namespace qam::test
