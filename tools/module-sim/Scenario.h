#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// What the simulated module is, how it behaves and how it misbehaves. Portable (no POSIX): the
// Windows test suites build these types too and exchange them as text with the simulator command.
namespace qam::sim {

using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(std::string_view text);

struct Identification {
    std::string dsp = "NUV 1.16 A01"; // 12 bytes: "NUV", a blank, the version from character 5
    std::string pld = "PLD 2.03 B00"; // 12 bytes
    std::string tuner = "STV0299B";   // 8 bytes, the "VTUN" reply
};

enum class SyncMode {
    InSync,         // answers "VDSP" with 12 bytes
    ShortUntilSync, // answers "VDSP" with 4 bytes until a "?" has come
    AlwaysShort,    // answers "VDSP" with 4 bytes, whatever comes
};

struct ChannelContent {
    Bytes settings;             // served for "RSTA" (at most 256 bytes)
    Bytes bls;                  // served for "RBLS" (at most 256 bytes)
    Bytes filter = Bytes(1024); // served for "RFLT", always 1024 bytes
};

enum class FaultKind {
    Silence,      // no reply (block receive: no length word)
    ShortReply,   // only the first `bytes` bytes of the reply
    WrongReply,   // `reply` instead of the reply (block receive: instead of the length word)
    RefuseBlock,  // "<<\r\n" instead of the length word, or instead of a block command's "OK\r\n"
    Delay,        // the reply after `delayMs` more
    StopMidBlock, // a block stops after `bytes` data bytes: the module sends or takes no more
    HangUp,       // the line is closed after `bytes` bytes of the reply or of the block's data
};

// A fault strikes one exchange: the `atExchange`-th command the module receives (counted from 1,
// "?" included), or, when atExchange is 0, the `occurrence`-th command that begins with `command`
// (0: every one of them).
struct Fault {
    FaultKind kind = FaultKind::Silence;
    int atExchange = 0;
    std::string command;
    int occurrence = 1;
    int bytes = 0;
    Bytes reply;
    int delayMs = 0;
    // Block sends: strike the final "OK\r\n" instead of the command's (Silence, ShortReply,
    // WrongReply, Delay, HangUp: the line goes after `bytes` bytes of it; RefuseBlock and
    // StopMidBlock always strike where they say).
    bool finalReply = false;
};

struct Scenario {
    Identification identification;
    Identification afterReset; // what the module answers once restarted after "RST0"
    SyncMode sync = SyncMode::InSync;
    std::array<ChannelContent, 2> channels;
    Bytes resetReply = ToBytes("NUVs"); // the reply to "RST0"
    int restartMs = 3000;               // silent after "RST0" for this long
    int eraseMs = 0;                    // "CPRM" and the flash clears answer after this long
    int blockReceiveLength = -1;        // when >= 0: answer every "RSTA"/"RBLS" with a block this long
    bool paced = false;                 // take and send bytes no faster than 115200 baud, 11 bits a byte
    std::vector<Fault> faults;
};

enum class Direction { ToModule, FromModule };

// One unit on the wire: a command, a reply, a length word or a block's data.
struct TraceEntry {
    int exchange; // the command this unit belongs to, counted from 1
    Direction direction;
    Bytes bytes;
    std::chrono::microseconds time; // since the simulator started

    // Compares direction and bytes only (with the exchange number): time never matters to equality.
    bool operator==(const TraceEntry& other) const {
        return exchange == other.exchange && direction == other.direction && bytes == other.bytes;
    }
};

enum class FlashArea { Fpga = 0, AppData = 1, AppCode = 2 };

struct ChannelState {
    ChannelContent content;               // what it serves now
    std::vector<std::string> setCommands; // every set command received, as text ("J001", "LNB5", ...)
    std::map<std::string, int> values;    // the last value of each set command ("J" -> 1, "LND" -> 10)
    std::vector<int> filterBitsAdded;     // every "p+" bit, in order received
    Bytes wbls;                           // the last "WBLS" block
    Bytes wplp;                           // the last "WPLP" block
};

struct ModuleState {
    std::array<Bytes, 3> flash;       // what each flash area holds, by FlashArea
    std::array<int, 3> flashClears{}; // clear commands per area
    std::array<int, 3>
        uploadsWithoutClear{}; // uploads that found their area not cleared since the last upload
    int settingsClears = 0;    // "CPRM"
    int resets = 0;            // "RST0"
    int commits = 0;           // "ZAll"
    int selectedChannel = 0;   // the last "c%03d"
    std::array<ChannelState, 2> channels;
    bool hungUp = false;
};

// The text forms exchanged with the simulator command (and written to its trace and state files).
std::string SerializeScenario(const Scenario& scenario);
Scenario ParseScenario(std::string_view text); // throws std::invalid_argument on bad text
std::string SerializeTrace(const std::vector<TraceEntry>& trace);
std::vector<TraceEntry> ParseTrace(std::string_view text);
std::string SerializeState(const ModuleState& state);
ModuleState ParseState(std::string_view text);

// A readable form for test failure messages: "> VDSP", "< NUV 1.16 A01", "> [len 262140]".
std::string Describe(const TraceEntry& entry);

} // namespace qam::sim
