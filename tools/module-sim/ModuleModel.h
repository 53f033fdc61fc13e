#pragma once

#include "tools/module-sim/Scenario.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

// The module as a byte-level state machine, free of any I/O: it takes one byte at a time with the
// time at which it was taken and queues what it sends. The simulator's line driver feeds it; the
// unit tests feed it directly.
namespace qam::sim {

using Micros = std::chrono::microseconds;

// What the line does once an output has gone out.
enum class AfterOutput { Nothing, HangUp };

struct Output {
    Bytes bytes;
    Micros notBefore{0}; // the first byte leaves no earlier than this
    AfterOutput after = AfterOutput::Nothing;
};

class ModuleModel {
public:
    explicit ModuleModel(Scenario scenario);

    // One byte from the line, taken at `now` (time since the start).
    void Receive(std::uint8_t byte, Micros now);
    // Bytes the module discards unread when it comes back from a freeze; traced as dropped.
    void Thaw(std::span<const std::uint8_t> discarded, Micros now);
    // The line driver closed the line after a HangUp output.
    void MarkHungUp();

    bool HasOutput() const { return !m_outputs.empty(); }
    Output PopOutput();

    // False while the module takes nothing from the line: frozen by StopMidBlock or hanging up.
    bool TakesInput() const { return !m_frozen && !m_hangingUp; }
    bool Frozen() const { return m_frozen; }
    Micros FrozenUntil() const { return m_frozenUntil; } // Micros::max() while frozen for good

    const std::vector<TraceEntry>& Trace() const { return m_trace; }
    const ModuleState& State() const { return m_state; }
    int ExchangeCount() const { return m_exchange; }

private:
    enum class Phase { Command, BlockLength, BlockData };
    enum class BlockTarget { Flash, Wplp, Wbls };

    void HandleCommand(Micros now);
    void HandleSync(Micros now);
    const Fault* SelectFault(std::string_view command);
    bool HandleSetCommand(std::string_view command, Micros now, const Fault* fault);
    void HandleBlockReceive(Bytes data, Micros now, const Fault* fault);
    void BeginBlockSend(BlockTarget target, std::size_t area, std::size_t capacity, Micros now,
                        const Fault* fault);
    void TakeLengthWord(Micros now);
    void TakeBlockByte(std::uint8_t byte, Micros now);
    void FinishBlock(Micros now);
    bool StrikesBlockData() const;
    std::size_t BlockStrikePoint() const;
    void StrikeInBlock(Micros now);

    // Sends a reply through the exchange's fault, if any.
    void Reply(Bytes reply, Micros at, const Fault* fault);
    void Emit(Bytes bytes, Micros at, AfterOutput after = AfterOutput::Nothing);
    void Freeze(Micros at, int forMs);
    void Record(int exchange, Direction direction, std::span<const std::uint8_t> bytes, Micros at);
    void Drop(std::span<const std::uint8_t> bytes, Micros at);
    void AbandonPartialUnit(Micros now);
    const Identification& CurrentIdentification() const;
    ChannelState& SelectedChannel();
    ChannelContent& Uncommitted();

    Scenario m_scenario;
    ModuleState m_state;
    std::vector<TraceEntry> m_trace;
    std::deque<Output> m_outputs;
    std::vector<int> m_faultMatches; // per fault of the scenario: matching commands so far
    // Per channel what the set commands, "WBLS", "WPLP" and "p+" made of it; served after "ZAll".
    std::array<ChannelContent, 2> m_uncommitted;

    int m_exchange = 0;
    Phase m_phase = Phase::Command;
    Bytes m_unit; // the command or length word being assembled
    Micros m_lastByte{0};
    bool m_synced = false;
    Micros m_restartUntil{-1};
    bool m_frozen = false;
    Micros m_frozenUntil{0};
    bool m_hangingUp = false;
    std::array<bool, 3> m_areaCleared{};

    // The block send in progress.
    BlockTarget m_blockTarget = BlockTarget::Flash;
    std::size_t m_blockArea = 0;
    std::size_t m_blockCapacity = 0;
    std::size_t m_blockLength = 0;
    std::size_t m_blockTaken = 0;
    Bytes m_blockData;
    bool m_blockHasFault = false;
    Fault m_blockFault;
};

} // namespace qam::sim
