#include "tools/module-sim/Scenario.h"

#include <charconv>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <utility>

namespace qam::sim {

Bytes ToBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

namespace {

constexpr std::string_view kScenarioHeader = "qam-scenario 1";
constexpr std::string_view kTraceHeader = "qam-trace 1";
constexpr std::string_view kStateHeader = "qam-state 1";

constexpr const char* kHexDigits = "0123456789abcdef";

bool IsPlainText(std::span<const std::uint8_t> bytes) {
    for (std::uint8_t byte : bytes) {
        const bool printable = byte >= 0x20 && byte < 0x7F;
        if (!printable && byte != '\r' && byte != '\n' && byte != '\t') {
            return false;
        }
    }
    return true;
}

// A value is a quoted text with C escapes when it reads as text, else hex:<digits>. Both parse.
std::string EncodeBytes(std::span<const std::uint8_t> bytes) {
    std::string out;
    if (!IsPlainText(bytes)) {
        out.reserve(4 + 2 * bytes.size());
        out += "hex:";
        for (std::uint8_t byte : bytes) {
            out += kHexDigits[byte >> 4];
            out += kHexDigits[byte & 0x0F];
        }
        return out;
    }
    out += '"';
    for (std::uint8_t byte : bytes) {
        switch (byte) {
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            out += static_cast<char>(byte);
            break;
        }
    }
    out += '"';
    return out;
}

std::string EncodeText(const std::string& text) {
    return EncodeBytes(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

[[noreturn]] void Fail(const std::string& what) {
    throw std::invalid_argument(what);
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Splits a line into tokens: words, quoted texts (kept with their quotes) and key=value pairs
// whose value may be quoted.
std::vector<std::string> Tokenize(std::string_view line) {
    std::vector<std::string> tokens;
    std::size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t') {
            ++i;
            continue;
        }
        std::string token;
        bool inQuotes = false;
        while (i < line.size() && (inQuotes || (line[i] != ' ' && line[i] != '\t'))) {
            const char c = line[i];
            if (inQuotes && c == '\\' && i + 1 < line.size()) {
                token += c;
                token += line[i + 1];
                i += 2;
                continue;
            }
            if (c == '"') {
                inQuotes = !inQuotes;
            }
            token += c;
            ++i;
        }
        if (inQuotes) {
            Fail("unterminated quote in: " + std::string(line));
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

Bytes DecodeBytes(std::string_view value) {
    Bytes out;
    if (value.starts_with("hex:")) {
        value.remove_prefix(4);
        if (value.size() % 2 != 0) {
            Fail("odd number of hex digits");
        }
        out.reserve(value.size() / 2);
        for (std::size_t i = 0; i < value.size(); i += 2) {
            const int high = HexValue(value[i]);
            const int low = HexValue(value[i + 1]);
            if (high < 0 || low < 0) {
                Fail("bad hex digit in: " + std::string(value.substr(i, 2)));
            }
            out.push_back(static_cast<std::uint8_t>(high * 16 + low));
        }
        return out;
    }
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') {
        Fail("expected a quoted text or hex:..., got: " + std::string(value));
    }
    value = value.substr(1, value.size() - 2);
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\') {
            out.push_back(static_cast<std::uint8_t>(value[i]));
            continue;
        }
        if (++i == value.size()) {
            Fail("dangling backslash");
        }
        switch (value[i]) {
        case 'r':
            out.push_back('\r');
            break;
        case 'n':
            out.push_back('\n');
            break;
        case 't':
            out.push_back('\t');
            break;
        case '0':
            out.push_back(0);
            break;
        case '"':
            out.push_back('"');
            break;
        case '\\':
            out.push_back('\\');
            break;
        case 'x': {
            const int high = i + 1 < value.size() ? HexValue(value[i + 1]) : -1;
            const int low = i + 2 < value.size() ? HexValue(value[i + 2]) : -1;
            if (high < 0 || low < 0) {
                Fail("bad \\x escape");
            }
            out.push_back(static_cast<std::uint8_t>(high * 16 + low));
            i += 2;
            break;
        }
        default:
            Fail(std::string("unknown escape \\") + value[i]);
        }
    }
    return out;
}

std::string DecodeText(std::string_view value) {
    const Bytes bytes = DecodeBytes(value);
    return std::string(bytes.begin(), bytes.end());
}

long long DecodeNumber(std::string_view value) {
    long long number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (error != std::errc{} || end != value.data() + value.size()) {
        Fail("not a number: " + std::string(value));
    }
    return number;
}

int DecodeInt(std::string_view value) {
    const long long number = DecodeNumber(value);
    if (number < INT32_MIN || number > INT32_MAX) {
        Fail("number out of range: " + std::string(value));
    }
    return static_cast<int>(number);
}

bool DecodeFlag(std::string_view value) {
    if (value == "1" || value == "true")
        return true;
    if (value == "0" || value == "false")
        return false;
    Fail("not a flag: " + std::string(value));
}

constexpr std::pair<SyncMode, std::string_view> kSyncModes[] = {
    {SyncMode::InSync, "InSync"},
    {SyncMode::ShortUntilSync, "ShortUntilSync"},
    {SyncMode::AlwaysShort, "AlwaysShort"},
};

constexpr std::pair<FaultKind, std::string_view> kFaultKinds[] = {
    {FaultKind::Silence, "Silence"},       {FaultKind::ShortReply, "ShortReply"},
    {FaultKind::WrongReply, "WrongReply"}, {FaultKind::RefuseBlock, "RefuseBlock"},
    {FaultKind::Delay, "Delay"},           {FaultKind::StopMidBlock, "StopMidBlock"},
    {FaultKind::HangUp, "HangUp"},
};

constexpr std::string_view kAreaNames[] = {"Fpga", "AppData", "AppCode"};

template <typename Enum, std::size_t N>
std::string_view NameOf(const std::pair<Enum, std::string_view> (&table)[N], Enum value) {
    for (const auto& [entry, name] : table) {
        if (entry == value)
            return name;
    }
    return "?";
}

template <typename Enum, std::size_t N>
Enum ValueOf(const std::pair<Enum, std::string_view> (&table)[N], std::string_view name) {
    for (const auto& [entry, entryName] : table) {
        if (entryName == name)
            return entry;
    }
    Fail("unknown name: " + std::string(name));
}

// Lines of "key value...", '#' starts a comment line; blank lines are ignored.
template <typename Handler>
void ForEachLine(std::string_view text, std::string_view header, Handler&& handle) {
    bool first = true;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string_view::npos || line[start] == '#') {
            continue;
        }
        line.remove_prefix(start);
        if (first) {
            first = false;
            if (line == header) {
                continue;
            }
        }
        std::vector<std::string> tokens = Tokenize(line);
        handle(tokens);
    }
}

void ExpectArgs(const std::vector<std::string>& tokens, std::size_t count) {
    if (tokens.size() < count + 1) {
        Fail("missing value for " + tokens[0]);
    }
    if (tokens.size() > count + 1) {
        Fail("too many values for " + tokens[0]);
    }
}

std::string SerializeFault(const Fault& fault) {
    std::string line = "fault kind=" + std::string(NameOf(kFaultKinds, fault.kind));
    line += " atExchange=" + std::to_string(fault.atExchange);
    line += " command=" + EncodeText(fault.command);
    line += " occurrence=" + std::to_string(fault.occurrence);
    line += " bytes=" + std::to_string(fault.bytes);
    line += " reply=" + EncodeBytes(fault.reply);
    line += " delayMs=" + std::to_string(fault.delayMs);
    line += " finalReply=" + std::string(fault.finalReply ? "1" : "0");
    return line;
}

Fault ParseFault(const std::vector<std::string>& tokens) {
    Fault fault;
    for (std::size_t i = 1; i < tokens.size(); ++i) {
        const std::string& token = tokens[i];
        const std::size_t equals = token.find('=');
        if (equals == std::string::npos) {
            Fail("fault field without '=': " + token);
        }
        const std::string key = token.substr(0, equals);
        const std::string_view value = std::string_view(token).substr(equals + 1);
        if (key == "kind")
            fault.kind = ValueOf(kFaultKinds, value);
        else if (key == "atExchange")
            fault.atExchange = DecodeInt(value);
        else if (key == "command")
            fault.command = DecodeText(value);
        else if (key == "occurrence")
            fault.occurrence = DecodeInt(value);
        else if (key == "bytes")
            fault.bytes = DecodeInt(value);
        else if (key == "reply")
            fault.reply = DecodeBytes(value);
        else if (key == "delayMs")
            fault.delayMs = DecodeInt(value);
        else if (key == "finalReply")
            fault.finalReply = DecodeFlag(value);
        else
            Fail("unknown fault field: " + key);
    }
    return fault;
}

void AppendIdentification(std::string& out, std::string_view prefix, const Identification& id) {
    out += std::string(prefix) + ".dsp " + EncodeText(id.dsp) + "\n";
    out += std::string(prefix) + ".pld " + EncodeText(id.pld) + "\n";
    out += std::string(prefix) + ".tuner " + EncodeText(id.tuner) + "\n";
}

bool ParseIdentificationField(Identification& id, std::string_view field, std::string_view value) {
    if (field == "dsp")
        id.dsp = DecodeText(value);
    else if (field == "pld")
        id.pld = DecodeText(value);
    else if (field == "tuner")
        id.tuner = DecodeText(value);
    else
        return false;
    return true;
}

void AppendContent(std::string& out, const std::string& prefix, const ChannelContent& content) {
    out += prefix + ".settings " + EncodeBytes(content.settings) + "\n";
    out += prefix + ".bls " + EncodeBytes(content.bls) + "\n";
    out += prefix + ".filter " + EncodeBytes(content.filter) + "\n";
}

bool ParseContentField(ChannelContent& content, std::string_view field, std::string_view value) {
    if (field == "settings")
        content.settings = DecodeBytes(value);
    else if (field == "bls")
        content.bls = DecodeBytes(value);
    else if (field == "filter")
        content.filter = DecodeBytes(value);
    else
        return false;
    return true;
}

// "channel1.bls" -> channel 1, field "bls"; -1 when the key is not a channel key.
int ChannelKey(std::string_view key, std::string_view& field) {
    if (key.size() < 10 || !key.starts_with("channel") || key[8] != '.' || (key[7] != '0' && key[7] != '1')) {
        return -1;
    }
    field = key.substr(9);
    return key[7] - '0';
}

} // namespace

std::string SerializeScenario(const Scenario& scenario) {
    std::string out = std::string(kScenarioHeader) + "\n";
    AppendIdentification(out, "identification", scenario.identification);
    AppendIdentification(out, "afterReset", scenario.afterReset);
    out += "sync " + std::string(NameOf(kSyncModes, scenario.sync)) + "\n";
    for (std::size_t i = 0; i < scenario.channels.size(); ++i) {
        AppendContent(out, "channel" + std::to_string(i), scenario.channels[i]);
    }
    out += "resetReply " + EncodeBytes(scenario.resetReply) + "\n";
    out += "restartMs " + std::to_string(scenario.restartMs) + "\n";
    out += "eraseMs " + std::to_string(scenario.eraseMs) + "\n";
    out += "blockReceiveLength " + std::to_string(scenario.blockReceiveLength) + "\n";
    out += "paced " + std::string(scenario.paced ? "1" : "0") + "\n";
    for (const Fault& fault : scenario.faults) {
        out += SerializeFault(fault) + "\n";
    }
    return out;
}

Scenario ParseScenario(std::string_view text) {
    Scenario scenario;
    ForEachLine(text, kScenarioHeader, [&](const std::vector<std::string>& tokens) {
        const std::string_view key = tokens[0];
        if (key == "fault") {
            scenario.faults.push_back(ParseFault(tokens));
            return;
        }
        ExpectArgs(tokens, 1);
        const std::string_view value = tokens[1];
        std::string_view field;
        if (key.starts_with("identification.") &&
            ParseIdentificationField(scenario.identification, key.substr(15), value)) {
            return;
        }
        if (key.starts_with("afterReset.") &&
            ParseIdentificationField(scenario.afterReset, key.substr(11), value)) {
            return;
        }
        if (const int channel = ChannelKey(key, field); channel >= 0) {
            if (!ParseContentField(scenario.channels[static_cast<std::size_t>(channel)], field, value)) {
                Fail("unknown key: " + std::string(key));
            }
            return;
        }
        if (key == "sync")
            scenario.sync = ValueOf(kSyncModes, value);
        else if (key == "resetReply")
            scenario.resetReply = DecodeBytes(value);
        else if (key == "restartMs")
            scenario.restartMs = DecodeInt(value);
        else if (key == "eraseMs")
            scenario.eraseMs = DecodeInt(value);
        else if (key == "blockReceiveLength")
            scenario.blockReceiveLength = DecodeInt(value);
        else if (key == "paced")
            scenario.paced = DecodeFlag(value);
        else
            Fail("unknown key: " + std::string(key));
    });
    return scenario;
}

std::string SerializeTrace(const std::vector<TraceEntry>& trace) {
    std::string out = std::string(kTraceHeader) + "\n";
    for (const TraceEntry& entry : trace) {
        out += std::to_string(entry.exchange);
        out += entry.direction == Direction::ToModule ? " > " : " < ";
        out += std::to_string(entry.time.count());
        out += ' ';
        out += EncodeBytes(entry.bytes);
        out += '\n';
    }
    return out;
}

std::vector<TraceEntry> ParseTrace(std::string_view text) {
    std::vector<TraceEntry> trace;
    ForEachLine(text, kTraceHeader, [&](const std::vector<std::string>& tokens) {
        if (tokens.size() != 4 || (tokens[1] != ">" && tokens[1] != "<")) {
            Fail("bad trace line starting with: " + tokens[0]);
        }
        trace.push_back(
            TraceEntry{DecodeInt(tokens[0]), tokens[1] == ">" ? Direction::ToModule : Direction::FromModule,
                       DecodeBytes(tokens[3]), std::chrono::microseconds(DecodeNumber(tokens[2]))});
    });
    return trace;
}

std::string SerializeState(const ModuleState& state) {
    std::string out = std::string(kStateHeader) + "\n";
    for (std::size_t area = 0; area < state.flash.size(); ++area) {
        const std::string name(kAreaNames[area]);
        out += "flash." + name + " " + EncodeBytes(state.flash[area]) + "\n";
        out += "flashClears." + name + " " + std::to_string(state.flashClears[area]) + "\n";
        out += "uploadsWithoutClear." + name + " " + std::to_string(state.uploadsWithoutClear[area]) + "\n";
    }
    out += "settingsClears " + std::to_string(state.settingsClears) + "\n";
    out += "resets " + std::to_string(state.resets) + "\n";
    out += "commits " + std::to_string(state.commits) + "\n";
    out += "selectedChannel " + std::to_string(state.selectedChannel) + "\n";
    out += "hungUp " + std::string(state.hungUp ? "1" : "0") + "\n";
    for (std::size_t i = 0; i < state.channels.size(); ++i) {
        const ChannelState& channel = state.channels[i];
        const std::string prefix = "channel" + std::to_string(i);
        AppendContent(out, prefix, channel.content);
        for (const std::string& command : channel.setCommands) {
            out += prefix + ".setCommand " + EncodeText(command) + "\n";
        }
        for (const auto& [name, value] : channel.values) {
            out += prefix + ".value " + EncodeText(name) + " " + std::to_string(value) + "\n";
        }
        for (int bit : channel.filterBitsAdded) {
            out += prefix + ".filterBit " + std::to_string(bit) + "\n";
        }
        out += prefix + ".wbls " + EncodeBytes(channel.wbls) + "\n";
        out += prefix + ".wplp " + EncodeBytes(channel.wplp) + "\n";
    }
    return out;
}

ModuleState ParseState(std::string_view text) {
    ModuleState state;
    ForEachLine(text, kStateHeader, [&](const std::vector<std::string>& tokens) {
        const std::string_view key = tokens[0];
        std::string_view field;
        if (const int index = ChannelKey(key, field); index >= 0) {
            ChannelState& channel = state.channels[static_cast<std::size_t>(index)];
            if (field == "value") {
                ExpectArgs(tokens, 2);
                channel.values[DecodeText(tokens[1])] = DecodeInt(tokens[2]);
                return;
            }
            ExpectArgs(tokens, 1);
            if (ParseContentField(channel.content, field, tokens[1]))
                return;
            if (field == "setCommand")
                channel.setCommands.push_back(DecodeText(tokens[1]));
            else if (field == "filterBit")
                channel.filterBitsAdded.push_back(DecodeInt(tokens[1]));
            else if (field == "wbls")
                channel.wbls = DecodeBytes(tokens[1]);
            else if (field == "wplp")
                channel.wplp = DecodeBytes(tokens[1]);
            else
                Fail("unknown key: " + std::string(key));
            return;
        }
        ExpectArgs(tokens, 1);
        const std::string_view value = tokens[1];
        for (std::size_t area = 0; area < state.flash.size(); ++area) {
            const std::string name(kAreaNames[area]);
            if (key == "flash." + name) {
                state.flash[area] = DecodeBytes(value);
                return;
            }
            if (key == "flashClears." + name) {
                state.flashClears[area] = DecodeInt(value);
                return;
            }
            if (key == "uploadsWithoutClear." + name) {
                state.uploadsWithoutClear[area] = DecodeInt(value);
                return;
            }
        }
        if (key == "settingsClears")
            state.settingsClears = DecodeInt(value);
        else if (key == "resets")
            state.resets = DecodeInt(value);
        else if (key == "commits")
            state.commits = DecodeInt(value);
        else if (key == "selectedChannel")
            state.selectedChannel = DecodeInt(value);
        else if (key == "hungUp")
            state.hungUp = DecodeFlag(value);
        else
            Fail("unknown key: " + std::string(key));
    });
    return state;
}

std::string Describe(const TraceEntry& entry) {
    // Long units (block data) are shown by their length only, to keep failure messages readable.
    constexpr std::size_t kLongestShown = 24;
    std::string out = entry.direction == Direction::ToModule ? "> " : "< ";
    if (entry.exchange == 0) {
        out += "(dropped) ";
    }
    if (entry.bytes.size() > kLongestShown) {
        return out + "[len " + std::to_string(entry.bytes.size()) + "]";
    }
    for (std::uint8_t byte : entry.bytes) {
        if (byte >= 0x20 && byte < 0x7F) {
            out += static_cast<char>(byte);
        } else if (byte == '\r') {
            out += "\\r";
        } else if (byte == '\n') {
            out += "\\n";
        } else {
            out += "\\x";
            out += kHexDigits[byte >> 4];
            out += kHexDigits[byte & 0x0F];
        }
    }
    return out;
}

} // namespace qam::sim
