#include "cli/RecordFile.h"

#include "cli/Event.h"
#include "cli/Json.h"
#include "cli/LockedFile.h"

#include <fstream>
#include <variant>
#include <vector>

namespace qam::cli {

namespace {

constexpr std::string_view JSON_LINES_ENDING = ".jsonl";
constexpr std::string_view CSV_LINE_END = "\r\n";
constexpr char LINE_FEED = '\n';

// A field's value: a text, a number, a flag, or nothing (CSV: an empty field, JSON: null).
using Value = std::variant<std::string, std::int64_t, double, bool, std::monostate>;
struct Field {
    const char* name;
    Value value;
};

std::string Dsp(const ModuleIdentity& m) {
    return Printable(m.dsp);
}
std::string Pld(const ModuleIdentity& m) {
    return Printable(m.pld);
}
std::string Tuner(const ModuleIdentity& m) {
    return std::to_string(m.tunerType);
}
std::string Firmware(const ModuleIdentity& m) {
    return m.firmware;
}
std::string Part(const std::optional<ModuleIdentity>& module, std::string (*part)(const ModuleIdentity&)) {
    return module ? part(*module) : std::string();
}

// The record's fields in their order: one list for the CSV header and both kinds of line. A CSV
// file begun without the backup columns keeps its layout.
std::vector<Field> Fields(const UnitRecord& r, bool backupColumns) {
    const bool file = !r.fileName.empty();
    std::vector<Field> fields = {
        {"start", r.start},
        {"port", r.port},
        {"dsp_before", Part(r.before, Dsp)},
        {"pld_before", Part(r.before, Pld)},
        {"tuner_before", Part(r.before, Tuner)},
        {"firmware_before", Part(r.before, Firmware)},
        {"dsp_after", Part(r.after, Dsp)},
        {"pld_after", Part(r.after, Pld)},
        {"tuner_after", Part(r.after, Tuner)},
        {"firmware_after", Part(r.after, Firmware)},
        {"file", r.fileName},
        {"size", file ? Value(r.fileSize) : Value(std::monostate())},
        {"sha256", r.sha256},
        {"code", CodeText(r.code)},
        {"result", r.text},
        {"settings_restored", r.settingsRestored},
        {"seconds", RoundedSeconds(r.seconds)},
    };
    if (backupColumns) {
        fields.insert(
            fields.end(),
            {{"backup", r.backupFile}, {"backup_used", r.backupUsed}, {"backup_pending", r.backupPending}});
    }
    return fields;
}

Json JsonValue(const Value& value) {
    if (const auto* text = std::get_if<std::string>(&value)) {
        return JsonText(*text);
    }
    return std::visit(
        [](const auto& other) -> Json {
            if constexpr (std::is_same_v<std::decay_t<decltype(other)>, std::monostate>) {
                return nullptr;
            } else {
                return Json(other);
            }
        },
        value);
}

// RFC 4180: texts as they are, a field holding a comma, a quote or a line end in quotes, its
// quotes doubled; flags as 1 and 0.
std::string CsvField(const Value& value) {
    const auto* text = std::get_if<std::string>(&value);
    if (text == nullptr) {
        const Json other = JsonValue(value);
        return other.is_boolean() ? (other.get<bool>() ? "1" : "0") : other.is_null() ? "" : other.dump();
    }
    if (text->find_first_of(",\"\r\n") == std::string::npos) {
        return *text;
    }
    std::string quoted = "\"";
    for (const char c : *text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string CsvHeader(bool backupColumns) {
    std::string header;
    for (const Field& field : Fields(UnitRecord{}, backupColumns)) {
        header += header.empty() ? "" : ",";
        header += field.name;
    }
    return header;
}

bool Fail(std::string& problem, const char* what, const CLockedFile& file) {
    problem = std::string(what) + ": " + file.Error();
    return false;
}

// Under the file's lock: appends `text`, behind `header` (and a line end) when the file is empty;
// false with the reason when the file begins with another header (its line end CRLF or LF) or the
// line could not be written whole and flushed (the file then cut back to what it was).
bool AppendUnderLock(const std::string& path, const std::string& header, std::string_view text,
                     std::string& problem) {
    CLockedFile file(path);
    if (!file.Ready()) {
        return Fail(problem, "cannot open and lock it", file);
    }
    const std::optional<std::int64_t> size = file.Size();
    if (!size) {
        return Fail(problem, "cannot read its size", file);
    }
    std::string bytes;
    if (*size == 0) {
        bytes = header.empty() ? std::string() : header + std::string(CSV_LINE_END);
    } else {
        const std::optional<std::string> first = file.Read(0, header.size() + CSV_LINE_END.size());
        const std::optional<std::string> last = file.Read(*size - 1, 1);
        if (!first || !last) {
            return Fail(problem, "cannot read it", file);
        }
        const std::string_view after =
            std::string_view(*first).substr(std::min(header.size(), first->size()));
        if (!header.empty() &&
            (!first->starts_with(header) || !(after == CSV_LINE_END || after.starts_with(LINE_FEED)))) {
            problem = "it begins with another header";
            return false;
        }
        if (*last != std::string(1, LINE_FEED)) {
            bytes = CSV_LINE_END; // a file saved without its last line end
        }
    }
    if (text.empty() && (*size != 0 || bytes.empty())) {
        return true; // only checked
    }
    bytes += text;
    if (!file.Write(*size, bytes)) {
        const bool failed = Fail(problem, "cannot write the line whole", file);
        file.CutTo(*size); // half a line would spoil the record
        return failed;
    }
    if (!file.Flush()) {
        const bool failed = Fail(problem, "cannot flush it to disk", file);
        // A line not known to be on the disk is taken back, so that it is reported lost only when
        // it is not in the file; one that cannot be taken back stays, reported written.
        return file.CutTo(*size) ? failed : true;
    }
    return true;
}

} // namespace

CRecordFile::CRecordFile(std::string path)
    : m_path(std::move(path)), m_jsonLines(m_path.ends_with(JSON_LINES_ENDING)) {}

bool CRecordFile::BackupColumns() const {
    if (m_jsonLines) {
        return true;
    }
    const std::string earlier = CsvHeader(false);
    std::ifstream file(m_path, std::ios::binary);
    std::string start(earlier.size() + CSV_LINE_END.size(), '\0');
    file.read(start.data(), static_cast<std::streamsize>(start.size()));
    start.resize(static_cast<std::size_t>(file.gcount()));
    const std::string_view after = std::string_view(start).substr(std::min(earlier.size(), start.size()));
    return !(start.starts_with(earlier) && (after == CSV_LINE_END || after.starts_with(LINE_FEED)));
}

std::string CRecordFile::Header() const {
    return m_jsonLines ? std::string() : CsvHeader(BackupColumns());
}

bool CRecordFile::Check(std::string& problem) const {
    return AppendUnderLock(m_path, Header(), "", problem);
}

bool CRecordFile::Append(const UnitRecord& record, std::string& problem) const {
    return AppendUnderLock(m_path, Header(), Line(record), problem);
}

std::string CRecordFile::Line(const UnitRecord& record) const {
    const std::vector<Field> fields = Fields(record, BackupColumns());
    if (m_jsonLines) {
        Json json = Json::object();
        for (const Field& field : fields) {
            json[field.name] = JsonValue(field.value);
        }
        return JsonLine(json);
    }
    std::string line = CsvField(fields.front().value);
    for (std::size_t i = 1; i < fields.size(); ++i) {
        line += ',';
        line += CsvField(fields[i].value);
    }
    return line + std::string(CSV_LINE_END);
}

} // namespace qam::cli
