#pragma once

#include "common/ResultCode.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// The pure rules of the command protocol: how a reply, a length word and the progress position
// are judged. CComDevice applies them on the wire; unit tests and fuzzers call them directly.
namespace qam::link::protocol {

inline constexpr std::array<std::uint8_t, 4> kOkReply{'O', 'K', '\r', '\n'};
inline constexpr std::array<std::uint8_t, 4> kRefusalBack{'<', '<', '\r', '\n'};
inline constexpr std::array<std::uint8_t, 4> kRefusalForward{'>', '>', '\r', '\n'};

inline constexpr int kSendPiece = 16;
inline constexpr int kReceivePiece = 64;
inline constexpr int kLengthWordSize = 4;

inline constexpr const char* kExecuteCommandCaption = "Execute Command";
inline constexpr const char* kCanNotWriteText = "Can Not Write to COM!";
inline constexpr const char* kNoResponseText = "No Response!";
inline constexpr const char* kUnexpectedResponseFormat = "Unexpected Response! [%s]";

bool IsOkReply(std::span<const std::uint8_t> reply, int received);

// The result of a command's reply: `expected` bytes asked for, `received` arrived. Four bytes
// must be exactly "OK\r\n"; any other size succeeds with any bytes, as long as all arrived.
ResultCode ClassifyReply(std::span<const std::uint8_t> reply, int expected, int received);

// Where the reply shown in the "Unexpected Response!" box ends: the first byte below 32 or above
// 127, but never beyond the bytes that arrived nor beyond the expected length.
int PrintableCut(std::span<const std::uint8_t> reply, int expected, int received);

// The box text for a failed exchange; "" for a result that has no box.
std::string ExchangeBoxText(ResultCode result, std::span<const std::uint8_t> reply, int cut);

// A block receive's length word: `word` as preset to all ones and overwritten by the `received`
// bytes. 0 with `length` set when 1 <= length <= capacity; else the result to return.
ResultCode ClassifyLengthWord(std::span<const std::uint8_t, 4> word, int received, int capacity, int& length);

// 100 - remaining * 100 / total, dropping the fraction; 64-bit so that no length overflows.
int ProgressPosition(int remaining, int total);

} // namespace qam::link::protocol
