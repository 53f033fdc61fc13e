#include "cli/RecordFile.h"

#include "cli/Event.h"
#include "cli/Json.h"

#include <cstdio>
#include <fstream>
#include <vector>

namespace qam::cli {

namespace {

constexpr std::string_view JSON_LINES_ENDING = ".jsonl";
// The columns of qamtool before the backup ones: a file begun with them keeps them.
constexpr std::string_view EARLIER_COLUMNS =
    "start,port,dsp_before,pld_before,tuner_before,firmware_before,dsp_after,pld_after,tuner_after,"
    "firmware_after,file,size,sha256,code,result,settings_restored,seconds";
constexpr std::string_view LINE_END = "\r\n";
constexpr std::string_view BACKUP_COLUMNS = ",backup,backup_used,backup_pending";

// RFC 4180: a field holding a comma, a quote or a line end goes in quotes, its quotes doubled.
std::string Field(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    return text;
}

} // namespace

CRecordFile::CRecordFile(std::string path)
    : m_path(std::move(path)), m_jsonLines(m_path.ends_with(JSON_LINES_ENDING)) {}

bool CRecordFile::EarlierColumns() const {
    const std::string header = std::string(EARLIER_COLUMNS) + std::string(LINE_END);
    std::ifstream file(m_path, std::ios::binary);
    std::string start(header.size(), '\0');
    return !m_jsonLines && file.read(start.data(), static_cast<std::streamsize>(start.size())) &&
           start == header;
}

std::string CRecordFile::Header() const {
    if (m_jsonLines) {
        return {};
    }
    return std::string(EARLIER_COLUMNS) + std::string(EarlierColumns() ? "" : BACKUP_COLUMNS) +
           std::string(LINE_END);
}

bool CRecordFile::Check(std::string& problem) const {
    return AppendUnderLock(m_path, Header(), "", problem);
}

bool CRecordFile::Append(const UnitRecord& record, std::string& problem) const {
    return AppendUnderLock(m_path, Header(), Line(record), problem);
}

std::string CRecordFile::Line(const UnitRecord& record) const {
    const auto part = [](const std::optional<ModuleIdentity>& module, auto field) -> std::string {
        return module ? field(*module) : std::string();
    };
    const auto dsp = [](const ModuleIdentity& m) { return Printable(m.dsp); };
    const auto pld = [](const ModuleIdentity& m) { return Printable(m.pld); };
    const auto tuner = [](const ModuleIdentity& m) { return std::to_string(m.tunerType); };
    const auto firmware = [](const ModuleIdentity& m) { return m.firmware; };
    const std::string text = Printable(record.text);
    if (m_jsonLines) {
        CJsonObject json;
        json.Add("start", record.start).Add("port", Printable(record.port));
        json.Add("dsp_before", part(record.before, dsp)).Add("pld_before", part(record.before, pld));
        json.Add("tuner_before", part(record.before, tuner))
            .Add("firmware_before", part(record.before, firmware));
        json.Add("dsp_after", part(record.after, dsp)).Add("pld_after", part(record.after, pld));
        json.Add("tuner_after", part(record.after, tuner))
            .Add("firmware_after", part(record.after, firmware));
        json.Add("file", Printable(record.fileName))
            .Add("size", record.fileSize)
            .Add("sha256", record.sha256);
        json.Add("code", CodeText(record.code)).Add("result", text);
        json.Add("settings_restored", record.settingsRestored).Add("seconds", record.seconds);
        json.Add("backup", Printable(record.backupFile))
            .Add("backup_used", record.backupUsed)
            .Add("backup_pending", record.backupPending);
        return json.Text() + "\n";
    }
    std::vector<std::string> fields = {
        record.start,
        Printable(record.port),
        part(record.before, dsp),
        part(record.before, pld),
        part(record.before, tuner),
        part(record.before, firmware),
        part(record.after, dsp),
        part(record.after, pld),
        part(record.after, tuner),
        part(record.after, firmware),
        Printable(record.fileName),
        record.fileName.empty() ? std::string() : std::to_string(record.fileSize),
        record.sha256,
        CodeText(record.code),
        text,
        record.settingsRestored ? "1" : "0",
        Seconds(record.seconds),
    };
    if (!EarlierColumns()) {
        fields.insert(fields.end(), {Printable(record.backupFile), record.backupUsed ? "1" : "0",
                                     record.backupPending ? "1" : "0"});
    }
    std::string line = Field(fields[0]);
    for (std::size_t i = 1; i < fields.size(); ++i) {
        line += ',';
        line += Field(fields[i]);
    }
    return line + "\r\n";
}

} // namespace qam::cli
