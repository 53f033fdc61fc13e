#include "link/Protocol.h"

#include <array>
#include <cstdlib>
#include <cstring>

using namespace qam::link::protocol;

namespace {

// The block-receive rule written out again from the wire format, to hold the product's against.
ResultCode Expected(const std::array<std::uint8_t, 4>& word, int received, int capacity, int& length) {
    const std::int32_t value = static_cast<std::int32_t>(std::uint32_t{word[0]} | std::uint32_t{word[1]} << 8 |
                                                         std::uint32_t{word[2]} << 16 | std::uint32_t{word[3]} << 24);
    if (received == 4 && value >= 1 && value <= capacity) {
        length = value;
        return RESULT_OK;
    }
    if (value == -1) {
        return ERR_NO_RESPONSE;
    }
    if (std::memcmp(word.data(), "<<\r\n", 4) == 0 || std::memcmp(word.data(), ">>\r\n", 4) == 0) {
        return ERR_MODULE_REFUSED;
    }
    return ERR_BAD_RESPONSE;
}

} // namespace

// Input: the bytes that arrived for the length word (0 to 4 of them), then the capacity.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const int received = data[0] % 5;
    std::array<std::uint8_t, 4> word{0xFF, 0xFF, 0xFF, 0xFF};
    std::size_t at = 1;
    for (int i = 0; i < received && at < size; ++i, ++at) {
        word[static_cast<std::size_t>(i)] = data[at];
    }
    std::uint32_t rawCapacity = 0;
    for (int i = 0; i < 4 && at < size; ++i, ++at) {
        rawCapacity |= std::uint32_t{data[at]} << (8 * i);
    }
    const int capacity = static_cast<int>(rawCapacity);
    // Bytes that did not arrive stay as preset, whatever the input held for them.
    const int arrived = std::min<int>(received, static_cast<int>(size) - 1);

    int length = -7;
    int expectedLength = -7;
    const ResultCode result = ClassifyLengthWord(std::span<const std::uint8_t, 4>(word), arrived, capacity, length);
    const ResultCode expected = Expected(word, arrived, capacity, expectedLength);
    if (result != expected || length != expectedLength) {
        std::abort();
    }
    if (result == RESULT_OK && (length < 1 || length > capacity)) {
        std::abort();
    }
    const int position = ProgressPosition(capacity < 0 ? 0 : capacity / 2, capacity);
    if (position < 0 || position > 100) {
        std::abort();
    }
    return 0;
}
