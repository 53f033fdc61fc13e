#include "common/Crc32.h"
#include "update/UpdateFileCheck.h"
#include "update/UpdateFileWriter.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using namespace qam::update;

namespace qamfile {

// Exit statuses; every one is listed in the help text.
constexpr int EXIT_OK = 0;
constexpr int EXIT_USAGE = 1;
constexpr int EXIT_CANNOT_OPEN = 2; // ERR_FILE_OPEN, or a file to build from or into
constexpr int EXIT_FILE_READ = 3;   // ERR_FILE_READ
constexpr int EXIT_FILE_FORMAT = 4; // ERR_FILE_FORMAT
constexpr int EXIT_NO_MEMORY = 5;   // ERR_NO_MEMORY
constexpr int EXIT_OTHER = 6;

constexpr const char* HELP_TEXT = R"(qamfile: builds, lists and checks qamupdate update files (".qam").

Usage:
  qamfile build -o OUT.qam [options]   write a well-formed update file
  qamfile info FILE                    list every record and what each section sends
  qamfile verify FILE                  read FILE as the download does, without a module
  qamfile --help                       this text

build writes the records in the usual order: VERS, DATE, BFN, BDAT, DFN, DPRG, DDAT, STOP.
Records whose option is not given (BFN, DFN, the sections) are left out. Each section's data
is the given file as it is to reach the module: its first 12 bytes are the three head words
(the first is never sent); the rest is the body, which --scramble stores scrambled.
  -o, --output OUT        the file to write (required)
  --version-text T        the VERS text, written with a zero behind it
                          (default "KESTRAN UpdateFile Vers 2.00")
  --date HEX16            the creation date: 8 bytes as 16 hexadecimal digits, byte 0 first
                          (default 0000000000000000). The file holds it masked with this
                          build's date mask; unmasked it is the key of scrambled sections.
  --bitfile NAME          a BFN record with NAME (the FPGA bit file), written with a zero behind it
  --dumpfile NAME         a DFN record with NAME (the application dump file), likewise
  --fpga FILE             a BDAT section (FPGA configuration) with the data of FILE
  --appcode FILE          a DPRG section (application code) with the data of FILE
  --appdata FILE          a DDAT section (application data) with the data of FILE
  --scramble LIST         store these sections scrambled: any of B, D, P, comma-separated
                          (B = BDAT, D = DDAT, P = DPRG); their control bit is set
Options for malformed files (tests):
  --control K=HEX32       write HEX32 as the control word of section K (B, D or P); the body is
                          stored scrambled exactly when the word's own bits of K ask for it
  --omit LIST             leave out these records: comma-separated tags
                          (VERS, DATE, BFN, DFN, BDAT, DDAT, DPRG, STOP)
  --length TAG=N          write N (decimal, or hexadecimal with 0x) as L in TAG's frame,
                          whatever its payload holds
  --append FILE           write the bytes of FILE last, behind STOP

info prints one line per record (offset, tag, length; the version text and names; for each
section its kind, its control word, whether it is scrambled, how many bytes it sends and the
CRC-32 of those bytes after unscrambling), then how reading ended.

verify prints nothing but "OK" and a summary when FILE would download to STOP with success;
otherwise it prints the record and the reason on standard error.

Exit statuses (info and verify: how reading ended):
  0  success (build: written; info, verify: the file reads to STOP)
  1  usage error
  2  a file cannot be opened, read or written (info, verify: ERR_FILE_OPEN)
  3  ERR_FILE_READ: the file ends inside a record or before STOP, or the system refused a read
  4  ERR_FILE_FORMAT: unknown tag, wrong version text, DATE length not 8, text of 0x40000
     bytes or more, section shorter than 4 bytes, scrambled section before any DATE
  5  ERR_NO_MEMORY: a section longer than 0x40000 bytes
  6  any other result

The date mask of this build is built in (CMake cache variable QAM_DATE_MASK); files made with
another mask read without error but their scrambled sections come out wrong.
)";

int Usage(const std::string& message) {
    std::fprintf(stderr, "qamfile: %s\n(see qamfile --help)\n", message.c_str());
    return EXIT_USAGE;
}

int ExitStatusOf(ResultCode code) {
    switch (code) {
    case RESULT_OK:
        return EXIT_OK;
    case ERR_FILE_OPEN:
        return EXIT_CANNOT_OPEN;
    case ERR_FILE_READ:
        return EXIT_FILE_READ;
    case ERR_FILE_FORMAT:
        return EXIT_FILE_FORMAT;
    case ERR_NO_MEMORY:
        return EXIT_NO_MEMORY;
    default:
        return EXIT_OTHER;
    }
}

std::optional<Bytes> ReadWholeFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return std::nullopt;
    }
    Bytes bytes;
    std::uint8_t chunk[65536];
    std::size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + count);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        return std::nullopt;
    }
    return bytes;
}

bool WriteWholeFile(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t comma = text.find(',', from);
        const std::size_t to = comma == std::string::npos ? text.size() : comma;
        items.push_back(text.substr(from, to - from));
        from = to + 1;
    }
    return items;
}

std::optional<std::array<std::uint8_t, DATE_SIZE>> ParseDate(const std::string& text) {
    if (text.size() != 2 * DATE_SIZE) {
        return std::nullopt;
    }
    std::array<std::uint8_t, DATE_SIZE> date{};
    for (std::size_t i = 0; i < DATE_SIZE; ++i) {
        const char* first = text.data() + 2 * i;
        const auto [end, problem] = std::from_chars(first, first + 2, date[i], 16);
        if (problem != std::errc() || end != first + 2) {
            return std::nullopt;
        }
    }
    return date;
}

// Decimal, or hexadecimal with 0x; the whole text must be the number and fit 32 bits.
std::optional<std::uint32_t> ParseWord(const std::string& text, bool hexOnly) {
    std::string_view digits = text;
    int base = hexOnly ? 16 : 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
        base = 16;
    }
    std::uint32_t value = 0;
    const auto [end, problem] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || problem != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint32_t> ParseTag(const std::string& name) {
    static constexpr std::pair<std::string_view, std::uint32_t> TAGS[] = {
        {"VERS", TAG_VERS}, {"DATE", TAG_DATE}, {"BFN", TAG_BFN},   {"DFN", TAG_DFN},
        {"BDAT", TAG_BDAT}, {"DDAT", TAG_DDAT}, {"DPRG", TAG_DPRG}, {"STOP", TAG_STOP},
    };
    for (const auto& [tagName, tag] : TAGS) {
        if (name == tagName) {
            return tag;
        }
    }
    return std::nullopt;
}

std::optional<SectionInput>* SectionOfLetter(UpdateFileParts& parts, const std::string& letter) {
    if (letter == "B") {
        return &parts.fpga;
    }
    if (letter == "D") {
        return &parts.appData;
    }
    if (letter == "P") {
        return &parts.appCode;
    }
    return nullptr;
}

int Build(const std::vector<std::string>& args) {
    UpdateFileParts parts;
    std::string output;
    std::vector<std::string> scramble;
    std::vector<std::pair<std::string, std::uint32_t>> controls;
    std::optional<std::string> appendPath;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == "--help" || option == "-h") {
            std::fputs(HELP_TEXT, stdout);
            return EXIT_OK;
        }
        if (i + 1 >= args.size()) {
            return Usage("unknown option or missing value: " + option);
        }
        const std::string& value = args[++i];
        if (option == "-o" || option == "--output") {
            output = value;
        } else if (option == "--version-text") {
            parts.versionText = value;
        } else if (option == "--date") {
            const auto date = ParseDate(value);
            if (!date) {
                return Usage("--date needs 16 hexadecimal digits, got '" + value + "'");
            }
            parts.date = *date;
        } else if (option == "--bitfile") {
            parts.bitFileName = value;
        } else if (option == "--dumpfile") {
            parts.dumpFileName = value;
        } else if (option == "--fpga" || option == "--appcode" || option == "--appdata") {
            const auto data = ReadWholeFile(value);
            if (!data) {
                std::fprintf(stderr, "qamfile: cannot read section file '%s'\n", value.c_str());
                return EXIT_CANNOT_OPEN;
            }
            std::optional<SectionInput>& section =
                option == "--fpga" ? parts.fpga : (option == "--appcode" ? parts.appCode : parts.appData);
            section = SectionInput{*data, false, std::nullopt};
        } else if (option == "--scramble") {
            scramble = SplitList(value);
        } else if (option == "--control") {
            const std::size_t equals = value.find('=');
            const auto word =
                equals == std::string::npos ? std::nullopt : ParseWord(value.substr(equals + 1), true);
            if (!word) {
                return Usage("--control needs K=HEX32, got '" + value + "'");
            }
            controls.emplace_back(value.substr(0, equals), *word);
        } else if (option == "--omit") {
            for (const std::string& name : SplitList(value)) {
                const auto tag = ParseTag(name);
                if (!tag) {
                    return Usage("--omit: unknown record '" + name + "'");
                }
                parts.omit.insert(*tag);
            }
        } else if (option == "--length") {
            const std::size_t equals = value.find('=');
            const auto tag = ParseTag(value.substr(0, equals));
            const auto length =
                equals == std::string::npos ? std::nullopt : ParseWord(value.substr(equals + 1), false);
            if (!tag || !length) {
                return Usage("--length needs TAG=N, got '" + value + "'");
            }
            parts.length[*tag] = *length;
        } else if (option == "--append") {
            appendPath = value;
        } else {
            return Usage("unknown option: " + option);
        }
    }
    if (output.empty()) {
        return Usage("build needs -o OUT.qam");
    }
    for (const std::string& letter : scramble) {
        std::optional<SectionInput>* section = SectionOfLetter(parts, letter);
        if (section == nullptr) {
            return Usage("--scramble takes B, D and P, got '" + letter + "'");
        }
        if (!section->has_value()) {
            return Usage("--scramble " + letter + ": that section is not given");
        }
        (*section)->scramble = true;
    }
    for (const auto& [letter, word] : controls) {
        std::optional<SectionInput>* section = SectionOfLetter(parts, letter);
        if (section == nullptr || !section->has_value()) {
            return Usage("--control " + letter + ": not a given section (B, D or P)");
        }
        (*section)->control = word;
    }
    if (appendPath) {
        const auto trailer = ReadWholeFile(*appendPath);
        if (!trailer) {
            std::fprintf(stderr, "qamfile: cannot read '%s'\n", appendPath->c_str());
            return EXIT_CANNOT_OPEN;
        }
        parts.trailer = *trailer;
    }
    if (!WriteWholeFile(output, BuildUpdateFile(parts))) {
        std::fprintf(stderr, "qamfile: cannot write '%s'\n", output.c_str());
        return EXIT_CANNOT_OPEN;
    }
    return EXIT_OK;
}

const char* SectionName(RecordKind kind) {
    switch (kind) {
    case RecordKind::FpgaSection:
        return "FPGA configuration";
    case RecordKind::AppDataSection:
        return "application data";
    case RecordKind::AppCodeSection:
        return "application code";
    default:
        return "";
    }
}

// Texts may hold any byte; show them printable.
std::string Quoted(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

class CInfoSink : public CUpdateFileSink {
public:
    void OnRecord(const RecordFrame& frame, std::string_view name) override {
        static_cast<void>(name);
        std::printf("0x%08llX  %-4s  %10u", static_cast<unsigned long long>(frame.offset),
                    frame.kind == RecordKind::Unknown ? ("0x" + Hex(frame.tag)).c_str()
                                                      : TagName(frame.tag).c_str(),
                    static_cast<unsigned>(frame.length));
        if (frame.kind == RecordKind::Unknown) {
            std::printf("  unknown tag \"%s\"", TagName(frame.tag).c_str());
        }
        m_lineOpen = true;
        if (frame.kind == RecordKind::Stop || frame.kind == RecordKind::Unknown) {
            EndLine();
        }
    }
    void OnText(const RecordFrame& frame, std::string_view text) override {
        std::printf("  %s %s", frame.kind == RecordKind::Version ? "version" : "name", Quoted(text).c_str());
        EndLine();
    }
    void OnKey(const RecordFrame&, const SectionKey& key) override {
        std::printf("  key");
        for (const std::uint8_t byte : key) {
            std::printf(" %02X", byte);
        }
        EndLine();
    }
    ResultCode OnSection(const SectionRecord& section) override {
        const auto sent = section.Sent();
        std::printf("  %s, control 0x%08X, %s, sends %zu bytes, CRC-32 0x%08X",
                    SectionName(section.frame.kind), static_cast<unsigned>(section.controlWord),
                    section.scrambled ? "scrambled" : "not scrambled", sent.size(),
                    static_cast<unsigned>(qam::Crc32(sent)));
        EndLine();
        ++m_sections;
        return RESULT_OK;
    }
    // A record whose reading failed still gets its line ended.
    void EndLine() {
        if (m_lineOpen) {
            std::printf("\n");
            m_lineOpen = false;
        }
    }
    int Sections() const { return m_sections; }

private:
    static std::string Hex(std::uint32_t value) {
        char text[9];
        std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
        return text;
    }
    bool m_lineOpen = false;
    int m_sections = 0;
};

class CVerifySink : public CUpdateFileSink {
public:
    ResultCode OnSection(const SectionRecord& section) override {
        ++m_sections;
        m_bytesSent += section.Sent().size();
        return RESULT_OK;
    }
    int m_sections = 0;
    std::size_t m_bytesSent = 0;
};

void PrintFailure(std::FILE* out, const std::string& path, const ReadFailure& failure) {
    if (failure.problem == ReadProblem::CannotOpen) {
        std::fprintf(out, "qamfile: %s: %s (%s)\n", path.c_str(),
                     std::string(DescribeProblem(failure.problem)).c_str(),
                     std::string(qam::ResultCodeName(failure.code)).c_str());
        return;
    }
    const std::string tag =
        failure.problem == ReadProblem::FrameCut ? std::string("frame") : TagName(failure.frame.tag);
    std::fprintf(out, "qamfile: %s: record %s at offset 0x%08llX: %s (%s)\n", path.c_str(), tag.c_str(),
                 static_cast<unsigned long long>(failure.frame.offset),
                 std::string(DescribeProblem(failure.problem)).c_str(),
                 std::string(qam::ResultCodeName(failure.code)).c_str());
}

int Info(const std::string& path) {
    CInfoSink sink;
    ReadFailure failure;
    std::printf("%s\n%-10s  %-4s  %10s\n", path.c_str(), "offset", "tag", "length");
    const ResultCode result = CheckUpdateFile(path, sink, &failure);
    sink.EndLine();
    if (result != RESULT_OK) {
        PrintFailure(stdout, path, failure);
        return ExitStatusOf(result);
    }
    std::printf("reads to STOP: %d section(s)\n", sink.Sections());
    return EXIT_OK;
}

int Verify(const std::string& path) {
    CVerifySink sink;
    ReadFailure failure;
    const ResultCode result = CheckUpdateFile(path, sink, &failure);
    if (result != RESULT_OK) {
        PrintFailure(stderr, path, failure);
        return ExitStatusOf(result);
    }
    std::printf("OK: %s reads to STOP: %d section(s), %zu bytes to send\n", path.c_str(), sink.m_sections,
                sink.m_bytesSent);
    return EXIT_OK;
}

int Run(const std::vector<std::string>& args) {
    if (args.empty()) {
        return Usage("a command is needed: build, info or verify");
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(HELP_TEXT, stdout);
        return EXIT_OK;
    }
    if (command == "build") {
        return Build({args.begin() + 1, args.end()});
    }
    if (command == "info" || command == "verify") {
        if (args.size() == 2 && (args[1] == "--help" || args[1] == "-h")) {
            std::fputs(HELP_TEXT, stdout);
            return EXIT_OK;
        }
        if (args.size() != 2) {
            return Usage(command + " takes exactly one FILE");
        }
        return command == "info" ? Info(args[1]) : Verify(args[1]);
    }
    return Usage("unknown command: " + command);
}

} // namespace qamfile

int main(int argc, char** argv) {
    return qamfile::Run(std::vector<std::string>(argv + 1, argv + argc));
}
