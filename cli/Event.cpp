#include "cli/Event.h"

#include "cli/ExitStatus.h"
#include "cli/Json.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace qam::cli {

namespace {

constexpr const char* CODE_FORMAT = "0x%08X";
constexpr double MILLISECONDS = 1000.0;

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

double RoundedSeconds(double seconds) {
    return std::round(seconds * MILLISECONDS) / MILLISECONDS;
}

double SecondsSince(std::chrono::steady_clock::time_point started) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

Json JsonOpening(const std::string& port, const char* type, const std::string& time) {
    return Json{{"schema", EVENT_SCHEMA}, {"time", time}, {"port", JsonText(port)}, {"type", type}};
}

std::string ToJson(const Event& event) {
    Json json = JsonOpening(event.port, event.type.c_str(), event.time);
    if (event.type == EVENT_PROGRESS) {
        json.update({{"percent", event.percent}, {"done", event.done}, {"total", event.total}});
    } else if (event.type == EVENT_BOX) {
        json.update(
            {{"text", JsonText(event.text)}, {"caption", JsonText(event.caption)}, {"answer", event.answer}});
    } else if (event.type == EVENT_RESULT) {
        json.update({{"code", CodeText(event.code)},
                     {"name", event.code == RESULT_NOT_STARTED ? RESULT_NOT_STARTED_NAME
                                                               : std::string(ResultCodeName(event.code))},
                     {"text", JsonText(event.text)},
                     {"seconds", RoundedSeconds(event.seconds)},
                     {"exit", event.exitStatus},
                     {"backup", JsonText(event.backupFile)},
                     {"backup_used", event.backupUsed},
                     {"backup_pending", event.backupPending}});
    } else {
        json["text"] = JsonText(event.text);
    }
    return JsonLine(json);
}

std::optional<Event> ParseEvent(std::string_view line) {
    const Json json = Json::parse(line, nullptr, false);
    const auto schema = json.is_object() ? json.find("schema") : json.end();
    if (!json.is_object() || schema == json.end() || *schema != EVENT_SCHEMA) {
        return std::nullopt;
    }
    Event event;
    try {
        event.percent = json.value("percent", 0);
        event.done = json.value("done", std::int64_t{0});
        event.total = json.value("total", std::int64_t{0});
        event.seconds = json.value("seconds", 0.0);
        event.exitStatus = json.value("exit", 0);
        event.backupUsed = json.value("backup_used", false);
        event.backupPending = json.value("backup_pending", false);
    } catch (const Json::exception&) {
        return std::nullopt; // a member of another type
    }
    event.type = BytesOf(json, "type");
    event.port = BytesOf(json, "port");
    event.time = BytesOf(json, "time");
    event.text = BytesOf(json, "text");
    event.caption = BytesOf(json, "caption");
    event.answer = BytesOf(json, "answer");
    event.code = static_cast<ResultCode>(std::strtoul(BytesOf(json, "code").c_str(), nullptr, 16));
    event.backupFile = BytesOf(json, "backup");
    return event;
}

} // namespace qam::cli
