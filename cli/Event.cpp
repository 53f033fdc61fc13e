#include "cli/Event.h"

#include "cli/Json.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace qam::cli {

namespace {

constexpr const char* CODE_FORMAT = "0x%08X";

std::int64_t Number(const std::map<std::string, std::string>& members, const char* key) {
    const auto found = members.find(key);
    return found == members.end() ? 0 : std::strtoll(found->second.c_str(), nullptr, 0);
}

std::string Text(const std::map<std::string, std::string>& members, const char* key) {
    const auto found = members.find(key);
    return found == members.end() ? std::string() : found->second;
}

} // namespace

std::string NowUtc() {
    using namespace std::chrono;
    const auto now = floor<milliseconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss time{now - day};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
    return text;
}

std::string CodeText(ResultCode code) {
    char text[16];
    std::snprintf(text, sizeof text, CODE_FORMAT, static_cast<unsigned>(code));
    return text;
}

Event MakeEvent(const char* type, std::string port, std::string text) {
    Event event;
    event.type = type;
    event.port = std::move(port);
    event.time = NowUtc();
    event.text = std::move(text);
    return event;
}

std::string ToJson(const Event& event) {
    CJsonObject json;
    json.Add("schema", EVENT_SCHEMA).Add("time", event.time).Add("port", event.port).Add("type", event.type);
    if (event.type == EVENT_PROGRESS) {
        json.Add("percent", event.percent).Add("done", event.done).Add("total", event.total);
    } else if (event.type == EVENT_BOX) {
        json.Add("text", event.text).Add("caption", event.caption).Add("answer", event.answer);
    } else if (event.type == EVENT_RESULT) {
        json.Add("code", CodeText(event.code))
            .Add("name", ResultCodeName(event.code))
            .Add("text", event.text)
            .Add("seconds", event.seconds)
            .Add("exit", event.exitStatus)
            .Add("backup", event.backupFile)
            .Add("backup_used", event.backupUsed)
            .Add("backup_pending", event.backupPending);
    } else {
        json.Add("text", event.text);
    }
    return json.Text();
}

std::optional<Event> ParseEvent(std::string_view line) {
    const auto members = ParseFlatObject(line);
    if (!members || Number(*members, "schema") != EVENT_SCHEMA) {
        return std::nullopt;
    }
    Event event;
    event.type = Text(*members, "type");
    event.port = Text(*members, "port");
    event.time = Text(*members, "time");
    event.text = Text(*members, "text");
    event.caption = Text(*members, "caption");
    event.answer = Text(*members, "answer");
    event.percent = static_cast<int>(Number(*members, "percent"));
    event.done = Number(*members, "done");
    event.total = Number(*members, "total");
    event.code = static_cast<ResultCode>(std::strtoul(Text(*members, "code").c_str(), nullptr, 16));
    event.seconds = std::strtod(Text(*members, "seconds").c_str(), nullptr);
    event.exitStatus = static_cast<int>(Number(*members, "exit"));
    event.backupFile = Text(*members, "backup");
    event.backupUsed = Text(*members, "backup_used") == "true";
    event.backupPending = Text(*members, "backup_pending") == "true";
    return event;
}

} // namespace qam::cli
