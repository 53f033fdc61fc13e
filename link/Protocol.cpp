#include "link/Protocol.h"

#include "common/LittleEndian.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace qam::link::protocol {

bool IsOkReply(std::span<const std::uint8_t> reply, int received) {
    return received == static_cast<int>(kOkReply.size()) && reply.size() >= kOkReply.size() &&
           std::equal(kOkReply.begin(), kOkReply.end(), reply.begin());
}

ResultCode ClassifyReply(std::span<const std::uint8_t> reply, int expected, int received) {
    if (received <= 0) {
        return ERR_NO_RESPONSE;
    }
    if (expected == static_cast<int>(kOkReply.size())) {
        return IsOkReply(reply, received) ? RESULT_OK : ERR_BAD_RESPONSE;
    }
    return received == expected ? RESULT_OK : ERR_BAD_RESPONSE;
}

int PrintableCut(std::span<const std::uint8_t> reply, int expected, int received) {
    const auto limit = static_cast<std::size_t>(std::max(0, std::min(expected, received)));
    const std::size_t end = std::min(limit, reply.size());
    std::size_t cut = 0;
    while (cut < end && reply[cut] >= 32 && reply[cut] <= 127) {
        ++cut;
    }
    return static_cast<int>(cut);
}

std::string ExchangeBoxText(ResultCode result, std::span<const std::uint8_t> reply, int cut) {
    switch (result) {
    case ERR_COM_WRITE:
        return kCanNotWriteText;
    case ERR_NO_RESPONSE:
        return kNoResponseText;
    case ERR_BAD_RESPONSE: {
        const auto shown = std::min(reply.size(), static_cast<std::size_t>(std::max(0, cut)));
        const std::string printable(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(shown));
        const int size = std::snprintf(nullptr, 0, kUnexpectedResponseFormat, printable.c_str());
        std::string text(static_cast<std::size_t>(size), '\0');
        std::snprintf(text.data(), text.size() + 1, kUnexpectedResponseFormat, printable.c_str());
        return text;
    }
    default:
        return {};
    }
}

ResultCode ClassifyLengthWord(std::span<const std::uint8_t, 4> word, int received, int capacity,
                              int& length) {
    const auto value = static_cast<std::int32_t>(le::Read32(word, 0));
    if (received == kLengthWordSize && value >= 1 && value <= capacity) {
        length = value;
        return RESULT_OK;
    }
    if (value == -1) {
        return ERR_NO_RESPONSE;
    }
    // A refusal is only taken where it cannot be a length that fits.
    if (std::equal(word.begin(), word.end(), kRefusalBack.begin()) ||
        std::equal(word.begin(), word.end(), kRefusalForward.begin())) {
        return ERR_MODULE_REFUSED;
    }
    return ERR_BAD_RESPONSE;
}

int ProgressPosition(int remaining, int total) {
    if (total <= 0) {
        return 100;
    }
    const std::int64_t done = std::int64_t{remaining} * 100 / total;
    return static_cast<int>(100 - done);
}

} // namespace qam::link::protocol
