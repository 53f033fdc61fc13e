#include "tools/module-sim/ModuleModel.h"

#include "common/LittleEndian.h"

#include <algorithm>
#include <utility>

namespace qam::sim {

namespace {

constexpr std::string_view kOk = "OK\r\n";
constexpr std::string_view kRefusal = "<<\r\n";
constexpr std::uint8_t kSyncByte = '?';
constexpr std::size_t kCommandLength = 4;

// A unit (command, length word or block) whose next byte does not come within this time is
// abandoned, so that a tool that gave up half-way cannot leave the module's framing off by some
// bytes for good.
constexpr Micros kFramingGap = std::chrono::milliseconds(1000);

constexpr std::size_t kFlashCapacity = 0x40000;
// A wild blockReceiveLength must not take the simulator's memory: longer blocks are served this long.
constexpr std::size_t kLongestServedBlock = 16u << 20;
constexpr std::size_t kChannelBlockCapacity = 256;
constexpr int kFilterBits = 8192;

struct FlashCommand {
    std::string_view clear;
    std::string_view upload;
};
constexpr FlashCommand kFlashCommands[] = {
    {"CPLD", "UPLD"}, // FlashArea::Fpga
    {"CAPD", "UAPD"}, // FlashArea::AppData
    {"CAPP", "UAPP"}, // FlashArea::AppCode
};

// Set commands of one letter and three decimal digits, recorded under the letter.
constexpr std::string_view kNumericSetLetters = "IiJjMHhSsQy";

bool IsDecimal(std::string_view digits) {
    return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int DecimalValue(std::string_view digits) {
    int value = 0;
    for (char c : digits) {
        value = value * 10 + (c - '0');
    }
    return value;
}

constexpr std::size_t kImageValueBytes = 18;       // the set commands reach image bytes 0..17
constexpr std::string_view kPlpTuner = "EDU10394"; // tuner type 5: J in 24 bits, "i" is byte 3

// What "CPRM" leaves of a channel: an all-zero image of its length, a one-byte zero BLS block and
// an empty bitmap (the real module's erased content is not defined).
ChannelContent Erased(const ChannelContent& channel) {
    return {Bytes(channel.settings.size(), 0), Bytes{0}, Bytes(1024, 0)};
}

std::uint32_t ReadValue(const Bytes& image, std::size_t at, std::size_t width) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        value |= static_cast<std::uint32_t>(image[at + i]) << (8 * i);
    }
    return value;
}

void WriteValue(Bytes& image, std::size_t at, std::size_t width, std::uint32_t value) {
    for (std::size_t i = 0; i < width; ++i) {
        image[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// A set command's value put back into the image it came from: the upper-case letter sets the
// thousands, the lower-case one the rest; H is kept ten times what was sent.
void ApplyToImage(Bytes& image, const std::string& name, int value, bool plpTuner) {
    if (image.size() < kImageValueBytes) {
        image.resize(kImageValueBytes, 0);
    }
    struct Field {
        char letter;
        std::size_t at;
        std::size_t width;
        std::uint32_t scale;
    };
    const Field fields[] = {{'J', 0, plpTuner ? 3u : 2u, 1}, {'I', 2, 2, 1}, {'H', 6, 2, 10}, {'S', 8, 2, 1}};
    const auto v = static_cast<std::uint32_t>(value);
    if (name == "i" && plpTuner) {
        image[3] = static_cast<std::uint8_t>(v);
    } else if (name == "M") {
        const std::uint8_t low[] = {0x00, 0x00, 0x08, 0x10};
        image[4] = static_cast<std::uint8_t>((v / 100 == 7 ? 4 : 0) | ((v / 10) % 10 == 1 ? 2 : 0) |
                                             low[v % 10 % 4]);
    } else if (name == "Q" || name == "y") {
        WriteValue(image, name == "Q" ? 10 : 14, 2, v);
    } else if (name == "LNB" || name == "LND") {
        image[name == "LNB" ? 16 : 17] = static_cast<std::uint8_t>(v);
    } else {
        for (const Field& field : fields) {
            if (name[0] == field.letter || name[0] == field.letter + ('a' - 'A')) {
                const std::uint32_t old = ReadValue(image, field.at, field.width) / field.scale;
                const std::uint32_t now =
                    name[0] == field.letter ? v * 1000 + old % 1000 : old / 1000 * 1000 + v;
                WriteValue(image, field.at, field.width, now * field.scale);
            }
        }
    }
}

int UpperHexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

Bytes Prefix(const Bytes& bytes, int count) {
    const std::size_t kept = std::min(bytes.size(), static_cast<std::size_t>(std::max(count, 0)));
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(kept));
}

Bytes TextBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

} // namespace

ModuleModel::ModuleModel(Scenario scenario)
    : m_scenario(std::move(scenario)), m_faultMatches(m_scenario.faults.size(), 0) {
    for (std::size_t i = 0; i < m_state.channels.size(); ++i) {
        m_state.channels[i].content = m_scenario.channels[i];
        m_uncommitted[i] = m_scenario.channels[i];
    }
}

Output ModuleModel::PopOutput() {
    Output output = std::move(m_outputs.front());
    m_outputs.pop_front();
    return output;
}

void ModuleModel::MarkHungUp() {
    m_hangingUp = true;
    m_state.hungUp = true;
}

void ModuleModel::Thaw(std::span<const std::uint8_t> discarded, Micros now) {
    m_frozen = false;
    m_phase = Phase::Command;
    m_unit.clear();
    Drop(discarded, now);
}

void ModuleModel::Receive(std::uint8_t byte, Micros now) {
    if (!TakesInput()) {
        return;
    }
    // While restarting after "RST0" the module hears nothing.
    if (now < m_restartUntil) {
        Drop(std::span(&byte, 1), now);
        return;
    }
    // A unit that has begun must go on; the length word may come long after its command, since the
    // tool sends it even when the command's reply never came.
    const bool midUnit = !m_unit.empty() || m_phase == Phase::BlockData;
    if (midUnit && now - m_lastByte > kFramingGap) {
        AbandonPartialUnit(now);
    }
    m_lastByte = now;

    switch (m_phase) {
    case Phase::Command:
        if (m_unit.empty() && byte == kSyncByte) {
            HandleSync(now);
            return;
        }
        m_unit.push_back(byte);
        if (m_unit.size() == kCommandLength) {
            HandleCommand(now);
        }
        return;
    case Phase::BlockLength:
        m_unit.push_back(byte);
        if (m_unit.size() == 4) {
            TakeLengthWord(now);
        }
        return;
    case Phase::BlockData:
        TakeBlockByte(byte, now);
        return;
    }
}

void ModuleModel::AbandonPartialUnit(Micros now) {
    if (m_phase == Phase::BlockData) {
        Drop(m_blockData, now);
        m_blockData.clear();
    } else {
        Drop(m_unit, now);
    }
    m_unit.clear();
    m_phase = Phase::Command;
}

const Fault* ModuleModel::SelectFault(std::string_view command) {
    const Fault* selected = nullptr;
    for (std::size_t i = 0; i < m_scenario.faults.size(); ++i) {
        const Fault& fault = m_scenario.faults[i];
        bool strikes = false;
        if (fault.atExchange > 0) {
            strikes = fault.atExchange == m_exchange;
        } else if (command.starts_with(fault.command)) {
            ++m_faultMatches[i];
            strikes = fault.occurrence == 0 || fault.occurrence == m_faultMatches[i];
        }
        if (strikes && selected == nullptr) {
            selected = &fault;
        }
    }
    return selected;
}

void ModuleModel::HandleSync(Micros now) {
    ++m_exchange;
    const std::uint8_t sync = kSyncByte;
    Record(m_exchange, Direction::ToModule, std::span(&sync, 1), now);
    const Fault* fault = SelectFault("?");
    m_synced = true;
    Reply(ToBytes(kOk), now, fault);
}

const Identification& ModuleModel::CurrentIdentification() const {
    return m_state.resets > 0 ? m_scenario.afterReset : m_scenario.identification;
}

ChannelState& ModuleModel::SelectedChannel() {
    return m_state.channels[m_state.selectedChannel == 1 ? 1 : 0];
}

ChannelContent& ModuleModel::Uncommitted() {
    return m_uncommitted[m_state.selectedChannel == 1 ? 1 : 0];
}

void ModuleModel::HandleCommand(Micros now) {
    ++m_exchange;
    Record(m_exchange, Direction::ToModule, m_unit, now);
    const std::string command(m_unit.begin(), m_unit.end());
    m_unit.clear();
    const Fault* fault = SelectFault(command);
    const Identification& id = CurrentIdentification();
    const Micros erase = std::chrono::milliseconds(m_scenario.eraseMs);

    if (command == "VDSP") {
        const bool shortReply = m_scenario.sync == SyncMode::AlwaysShort ||
                                (m_scenario.sync == SyncMode::ShortUntilSync && !m_synced);
        Reply(shortReply ? Prefix(TextBytes(id.dsp), 4) : TextBytes(id.dsp), now, fault);
    } else if (command == "VPLD") {
        Reply(TextBytes(id.pld), now, fault);
    } else if (command == "VTUN") {
        Reply(TextBytes(id.tuner), now, fault);
    } else if (command[0] == 'c' && IsDecimal(std::string_view(command).substr(1)) &&
               DecimalValue(std::string_view(command).substr(1)) <= 1) {
        m_state.selectedChannel = DecimalValue(std::string_view(command).substr(1));
        Reply(ToBytes(kOk), now, fault);
    } else if (command == "RSTA" || command == "RBLS") {
        Bytes data;
        if (m_scenario.blockReceiveLength >= 0) {
            data.resize(
                std::min(static_cast<std::size_t>(m_scenario.blockReceiveLength), kLongestServedBlock));
            for (std::size_t i = 0; i < data.size(); ++i) {
                data[i] = static_cast<std::uint8_t>(i);
            }
        } else {
            const ChannelContent& content = SelectedChannel().content;
            data = command == "RSTA" ? content.settings : content.bls;
        }
        HandleBlockReceive(std::move(data), now, fault);
    } else if (command == "RFLT") {
        Reply(SelectedChannel().content.filter, now, fault);
    } else if (command == "WPLP") {
        BeginBlockSend(BlockTarget::Wplp, 0, kChannelBlockCapacity, now, fault);
    } else if (command == "WBLS") {
        BeginBlockSend(BlockTarget::Wbls, 0, kChannelBlockCapacity, now, fault);
    } else if (command == "ZAll") {
        ++m_state.commits;
        for (std::size_t i = 0; i < m_state.channels.size(); ++i) {
            m_state.channels[i].content = m_uncommitted[i];
        }
        Reply(ToBytes(kOk), now, fault);
    } else if (command == "CPRM") {
        ++m_state.settingsClears;
        for (std::size_t i = 0; i < m_state.channels.size(); ++i) {
            m_state.channels[i].content = Erased(m_state.channels[i].content);
            m_uncommitted[i] = m_state.channels[i].content;
        }
        Reply(ToBytes(kOk), now + erase, fault);
    } else if (command == "RST0") {
        ++m_state.resets;
        Micros at = now;
        if (fault != nullptr && fault->kind == FaultKind::Delay) {
            at += std::chrono::milliseconds(fault->delayMs);
        }
        Reply(m_scenario.resetReply, now, fault);
        m_restartUntil = at + std::chrono::milliseconds(m_scenario.restartMs);
    } else if (HandleSetCommand(command, now, fault)) {
        // answered inside
    } else {
        for (std::size_t area = 0; area < std::size(kFlashCommands); ++area) {
            if (command == kFlashCommands[area].clear) {
                m_state.flash[area].clear();
                ++m_state.flashClears[area];
                m_areaCleared[area] = true;
                Reply(ToBytes(kOk), now + erase, fault);
            } else if (command == kFlashCommands[area].upload) {
                BeginBlockSend(BlockTarget::Flash, area, kFlashCapacity, now, fault);
            }
        }
        // Anything else is not a command of this module: it is traced and left unanswered.
    }
}

bool ModuleModel::HandleSetCommand(std::string_view command, Micros now, const Fault* fault) {
    ChannelState& channel = SelectedChannel();
    if (command.starts_with("p+")) {
        const int bit = static_cast<std::uint8_t>(command[2]) | (static_cast<std::uint8_t>(command[3]) << 8);
        channel.filterBitsAdded.push_back(bit);
        Bytes& filter = Uncommitted().filter;
        filter.resize(std::max<std::size_t>(filter.size(), kFilterBits / 8), 0);
        filter[static_cast<std::size_t>(bit / 8) % filter.size()] |=
            static_cast<std::uint8_t>(1u << (bit % 8));
        Reply(ToBytes(kOk), now, fault);
        return true;
    }
    std::string name;
    int value = -1;
    if (command.starts_with("LNB") && command[3] >= '0' && command[3] <= '9') {
        name = "LNB";
        value = command[3] - '0';
    } else if (command.starts_with("LND") && UpperHexValue(command[3]) >= 0) {
        name = "LND";
        value = UpperHexValue(command[3]);
    } else if (kNumericSetLetters.find(command[0]) != std::string_view::npos &&
               IsDecimal(command.substr(1))) {
        name = std::string(1, command[0]);
        value = DecimalValue(command.substr(1));
    } else {
        return false;
    }
    channel.setCommands.emplace_back(command);
    channel.values[name] = value;
    ApplyToImage(Uncommitted().settings, name, value, CurrentIdentification().tuner == kPlpTuner);
    Reply(ToBytes(kOk), now, fault);
    return true;
}

void ModuleModel::HandleBlockReceive(Bytes data, Micros now, const Fault* fault) {
    Bytes length(4);
    le::Write32(length, 0, static_cast<std::uint32_t>(data.size()));
    if (fault == nullptr || fault->kind == FaultKind::Delay) {
        const Micros at = fault != nullptr ? now + std::chrono::milliseconds(fault->delayMs) : now;
        Emit(std::move(length), at);
        Emit(std::move(data), at);
        return;
    }
    switch (fault->kind) {
    case FaultKind::Silence:
    case FaultKind::ShortReply:
    case FaultKind::WrongReply:
    case FaultKind::RefuseBlock:
    case FaultKind::Delay:
        // These strike the length word; no data follows it.
        Reply(std::move(length), now, fault);
        return;
    case FaultKind::StopMidBlock:
        Emit(std::move(length), now);
        Emit(Prefix(data, fault->bytes), now);
        Freeze(now, fault->delayMs);
        return;
    case FaultKind::HangUp:
        Emit(std::move(length), now);
        Emit(Prefix(data, fault->bytes), now, AfterOutput::HangUp);
        m_hangingUp = true;
        return;
    }
}

void ModuleModel::BeginBlockSend(BlockTarget target, std::size_t area, std::size_t capacity, Micros now,
                                 const Fault* fault) {
    m_blockHasFault = false;
    if (fault != nullptr) {
        const bool strikesCommandReply =
            !fault->finalReply && fault->kind != FaultKind::StopMidBlock && fault->kind != FaultKind::HangUp;
        if (strikesCommandReply) {
            Reply(ToBytes(kOk), now, fault);
            // After a refused, short or wrong answer the module takes no block: the tool gives up.
            if (fault->kind != FaultKind::Silence && fault->kind != FaultKind::Delay) {
                return;
            }
        } else {
            m_blockHasFault = true;
            m_blockFault = *fault;
            Emit(ToBytes(kOk), now);
        }
    } else {
        Emit(ToBytes(kOk), now);
    }
    m_blockTarget = target;
    m_blockArea = area;
    m_blockCapacity = capacity;
    m_blockLength = 0;
    m_blockTaken = 0;
    m_blockData.clear();
    m_unit.clear();
    m_phase = Phase::BlockLength;
}

void ModuleModel::TakeLengthWord(Micros now) {
    Record(m_exchange, Direction::ToModule, m_unit, now);
    m_blockLength = le::Read32(m_unit, 0);
    m_unit.clear();
    m_phase = Phase::BlockData;
    m_blockData.reserve(std::min(m_blockLength, m_blockCapacity));
    if (StrikesBlockData() && BlockStrikePoint() == 0) {
        StrikeInBlock(now);
        return;
    }
    if (m_blockLength == 0) {
        FinishBlock(now);
    }
}

void ModuleModel::TakeBlockByte(std::uint8_t byte, Micros now) {
    ++m_blockTaken;
    // Beyond what the area holds the module only counts the bytes: a wild length costs no memory.
    if (m_blockData.size() < m_blockCapacity) {
        m_blockData.push_back(byte);
    }
    if (StrikesBlockData() && m_blockTaken == BlockStrikePoint()) {
        StrikeInBlock(now);
        return;
    }
    if (m_blockTaken == m_blockLength) {
        FinishBlock(now);
    }
}

bool ModuleModel::StrikesBlockData() const {
    return m_blockHasFault && (m_blockFault.kind == FaultKind::StopMidBlock ||
                               (m_blockFault.kind == FaultKind::HangUp && !m_blockFault.finalReply));
}

// A strike beyond the block's end comes after its last byte, in place of the final reply.
std::size_t ModuleModel::BlockStrikePoint() const {
    return std::min(static_cast<std::size_t>(std::max(m_blockFault.bytes, 0)), m_blockLength);
}

void ModuleModel::StrikeInBlock(Micros now) {
    if (!m_blockData.empty()) {
        Record(m_exchange, Direction::ToModule, m_blockData, now);
    }
    m_blockData.clear();
    m_phase = Phase::Command;
    if (m_blockFault.kind == FaultKind::HangUp) {
        Emit({}, now, AfterOutput::HangUp);
        m_hangingUp = true;
    } else {
        Freeze(now, m_blockFault.delayMs);
    }
}

void ModuleModel::FinishBlock(Micros now) {
    if (m_blockLength > 0) {
        Record(m_exchange, Direction::ToModule, m_blockData, now);
    }
    m_phase = Phase::Command;
    const Fault* fault = m_blockHasFault ? &m_blockFault : nullptr;
    if (m_blockLength > m_blockCapacity) {
        // Too long for where it should go: nothing is stored and the final answer is a refusal.
        m_blockData.clear();
        Emit(ToBytes(kRefusal), now);
        return;
    }
    switch (m_blockTarget) {
    case BlockTarget::Flash: {
        Bytes& flash = m_state.flash[m_blockArea];
        if (m_areaCleared[m_blockArea]) {
            flash = std::move(m_blockData);
        } else {
            // Written over an area that was not cleared: kept (appended) and counted, so that a
            // test sees the missing clear.
            ++m_state.uploadsWithoutClear[m_blockArea];
            flash.insert(flash.end(), m_blockData.begin(), m_blockData.end());
        }
        m_areaCleared[m_blockArea] = false;
        break;
    }
    case BlockTarget::Wplp:
        for (std::size_t i = 0; i < std::min<std::size_t>(m_blockData.size(), 2); ++i) {
            ApplyToImage(Uncommitted().settings, i == 0 ? "LNB" : "LND", m_blockData[i], false);
        }
        SelectedChannel().wplp = std::move(m_blockData);
        break;
    case BlockTarget::Wbls:
        Uncommitted().bls = m_blockData;
        SelectedChannel().wbls = std::move(m_blockData);
        break;
    }
    m_blockData.clear();
    Reply(ToBytes(kOk), now, fault);
}

void ModuleModel::Reply(Bytes reply, Micros at, const Fault* fault) {
    if (fault == nullptr) {
        Emit(std::move(reply), at);
        return;
    }
    switch (fault->kind) {
    case FaultKind::Silence:
        return;
    case FaultKind::ShortReply:
        Emit(Prefix(reply, fault->bytes), at);
        return;
    case FaultKind::WrongReply:
        Emit(fault->reply, at);
        return;
    case FaultKind::RefuseBlock:
        Emit(ToBytes(kRefusal), at);
        return;
    case FaultKind::Delay:
        Emit(std::move(reply), at + std::chrono::milliseconds(fault->delayMs));
        return;
    case FaultKind::StopMidBlock:
        Emit(Prefix(reply, fault->bytes), at);
        Freeze(at, fault->delayMs);
        return;
    case FaultKind::HangUp:
        Emit(Prefix(reply, fault->bytes), at, AfterOutput::HangUp);
        m_hangingUp = true;
        return;
    }
}

void ModuleModel::Emit(Bytes bytes, Micros at, AfterOutput after) {
    if (bytes.empty() && after == AfterOutput::Nothing) {
        return;
    }
    if (!bytes.empty()) {
        Record(m_exchange, Direction::FromModule, bytes, at);
    }
    m_outputs.push_back(Output{std::move(bytes), at, after});
}

void ModuleModel::Freeze(Micros at, int forMs) {
    m_frozen = true;
    m_frozenUntil = forMs > 0 ? at + std::chrono::milliseconds(forMs) : Micros::max();
}

void ModuleModel::Record(int exchange, Direction direction, std::span<const std::uint8_t> bytes, Micros at) {
    m_trace.push_back(TraceEntry{exchange, direction, Bytes(bytes.begin(), bytes.end()), at});
}

void ModuleModel::Drop(std::span<const std::uint8_t> bytes, Micros at) {
    if (bytes.empty()) {
        return;
    }
    // Consecutive dropped bytes make one entry of exchange 0.
    if (!m_trace.empty() && m_trace.back().exchange == 0 && m_trace.back().direction == Direction::ToModule) {
        m_trace.back().bytes.insert(m_trace.back().bytes.end(), bytes.begin(), bytes.end());
        return;
    }
    Record(0, Direction::ToModule, bytes, at);
}

} // namespace qam::sim
