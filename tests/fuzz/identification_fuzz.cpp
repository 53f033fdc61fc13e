#include "module/ModuleSearch.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace qam::module;

namespace {

constexpr std::array<const char*, 6> kTunerNames{"MB86A1x ", "STV0299B", "CE6313  ", "ALIS3501", "STV6110 ", "EDU10394"};

// Only the characters a decimal number is made of, so that the C library's own reading (which
// also knows hexadecimal and "inf") can serve as the reference.
constexpr char kNumberAlphabet[] = " \t\n\v\f\r0123456789+-.eEx";

void CheckTuner(std::span<const char> reply) {
    const TunerType type = TunerTypeOf(reply);
    TunerType expected = TUNER_UNKNOWN;
    if (reply.size() == 8) {
        for (std::size_t i = 0; i < kTunerNames.size(); ++i) {
            if (std::memcmp(reply.data(), kTunerNames[i], 8) == 0) {
                expected = static_cast<TunerType>(i);
            }
        }
    }
    if (type != expected) {
        std::abort();
    }
}

void CheckVersion(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        text.push_back(kNumberAlphabet[byte % (sizeof(kNumberAlphabet) - 1)]);
    }
    const double value = ParseFirmwareVersion(text);
    if (std::isnan(value)) {
        std::abort();
    }
    // strtod would take "0x..." as hexadecimal; the tool reads decimal only.
    if (text.find('x') != std::string::npos) {
        return;
    }
    errno = 0;
    const double reference = std::strtod(text.c_str(), nullptr);
    // Below the normal range the C library may keep a subnormal where the tool gives 0.
    if (reference != 0.0 && std::fabs(reference) < DBL_MIN) {
        return;
    }
    if (value != reference) {
        std::abort();
    }
}

void CheckPorts(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 8) {
        return;
    }
    const int preferred = static_cast<int>(std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                                           std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24);
    const int stored = static_cast<int>(std::uint32_t{bytes[4]} | std::uint32_t{bytes[5]} << 8 |
                                        std::uint32_t{bytes[6]} << 16 | std::uint32_t{bytes[7]} << 24);
    const int count = CapPortCount(stored);
    if (count > MAX_PORT_COUNT || (stored < MAX_PORT_COUNT && count != stored)) {
        std::abort();
    }
    const std::vector<std::int64_t> order = PortOrder(preferred, count);
    if (static_cast<int>(order.size()) != (count > 0 ? count : 0)) {
        std::abort();
    }
    for (std::size_t i = 0; i < order.size(); ++i) {
        std::int64_t port = std::int64_t{preferred} + static_cast<std::int64_t>(i);
        if (port > count) {
            port -= count;
        }
        if (order[i] != port || SyncMaskBit(order[i]) == 0 || (SyncMaskBit(order[i]) & (SyncMaskBit(order[i]) - 1)) != 0) {
            std::abort();
        }
    }
}

} // namespace

// One input feeds all three readings of a module's answers: the tuner reply, the DSP version
// text and the scan's port arithmetic from stored settings.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    CheckTuner(std::span<const char>(reinterpret_cast<const char*>(data), size));
    if (size >= 8) {
        CheckTuner(std::span<const char>(reinterpret_cast<const char*>(data), 8));
    }
    CheckVersion(bytes);
    CheckPorts(bytes);
    return 0;
}
