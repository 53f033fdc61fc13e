#include "link/Protocol.h"
#include "module/ModuleSearch.h"
#include "ui/VersionTitle.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

using namespace qam::link::protocol;

namespace {

void Require(bool holds) {
    if (!holds) {
        std::abort();
    }
}

int Int(const std::uint8_t* data) {
    return static_cast<int>(std::uint32_t{data[0]} | std::uint32_t{data[1]} << 8 |
                            std::uint32_t{data[2]} << 16 | std::uint32_t{data[3]} << 24);
}

} // namespace

// Input: a byte count received (0 to 4), a capacity, an expected reply length, a preferred port and
// count, then reply bytes; the link's, the search's and the title's rules hold for any of it.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 17) {
        return 0;
    }
    const int received = data[0] % 5;
    const int capacity = Int(data + 1);
    const int expected = data[5] % 20;
    const int preferred = Int(data + 6);
    const int count = data[10] % 40;
    const std::span<const std::uint8_t> reply(data + 11, size - 11);

    std::array<std::uint8_t, 4> word{0xFF, 0xFF, 0xFF, 0xFF};
    std::copy_n(reply.begin(), received, word.begin());
    int length = -7;
    const ResultCode code = ClassifyLengthWord(word, received, capacity, length);
    Require(code == RESULT_OK ? received == 4 && length >= 1 && length <= capacity : length == -7);
    Require(code != ERR_MODULE_REFUSED || std::memcmp(word.data(), "<<\r\n", 4) == 0 ||
            std::memcmp(word.data(), ">>\r\n", 4) == 0);
    Require(code != ERR_NO_RESPONSE || word == std::array<std::uint8_t, 4>{0xFF, 0xFF, 0xFF, 0xFF});

    const int arrived = std::min<int>(data[0], static_cast<int>(reply.size()));
    const ResultCode replied = ClassifyReply(reply, expected, arrived);
    // A 4-byte reply must be "OK\r\n" itself; any other length is taken as it comes, when whole.
    const bool whole = arrived == expected && (expected != 4 || std::memcmp(reply.data(), "OK\r\n", 4) == 0);
    Require(replied == (arrived <= 0 ? ERR_NO_RESPONSE : whole ? RESULT_OK : ERR_BAD_RESPONSE));
    const int cut = PrintableCut(reply, expected, arrived);
    Require(cut >= 0 && cut <= std::min({expected, arrived, static_cast<int>(reply.size())}));
    Require(replied == RESULT_OK || !ExchangeBoxText(replied, reply, cut).empty());

    if (capacity > 0) {
        const int remaining =
            static_cast<int>(static_cast<unsigned>(preferred) % static_cast<unsigned>(capacity));
        const int position = ProgressPosition(remaining, capacity);
        Require(position >= 0 && position <= 100 &&
                position <= ProgressPosition(remaining > 0 ? remaining - 1 : 0, capacity));
    }
    for (int i = 0; i < count; ++i) {
        const std::int64_t port = qam::module::PortAt(preferred, count, i);
        Require(port >= std::int64_t{preferred} - count && port < std::int64_t{preferred} + count);
        Require(std::popcount(qam::module::SyncMaskBit(port)) == 1);
    }
    const std::string_view text(reinterpret_cast<const char*>(reply.data()), reply.size());
    const TunerType tuner =
        qam::module::TunerTypeOf(std::span<const char>(text.data(), std::min<std::size_t>(8, text.size())));
    Require(tuner >= -1 && tuner <= 5);
    // As strtod reads it, where no exponent and no length can take it out of range.
    const std::string copy(text.substr(0, 64));
    if (copy.find_first_not_of(" \t\n\v\f\r+-.0123456789") == std::string::npos) {
        Require(qam::module::ParseFirmwareVersion(copy) == std::strtod(copy.c_str(), nullptr));
    }
    // A title made from a version text starts as the fallback does and stays within its buffer.
    const std::optional<std::string> title = qam::ui::TitleFromFileVersion(text);
    static const std::string prefix = qam::ui::FallbackTitle().substr(0, qam::ui::FallbackTitle().size() - 4);
    Require(!title || (title->compare(0, prefix.size(), prefix) == 0 && title->size() < 128));
    return 0;
}
