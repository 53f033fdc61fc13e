#include "module/ModuleSearch.h"

#include "common/Resource.h"
#include "framework/WaitCursor.h"
#include "framework/Wnd.h"
#include "link/ComDevice.h"
#include "module/ModuleProxy.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace qam::module {

namespace {

constexpr char SEARCHING_TEXT[] = "searching Device on COM %lld..."; // the port is 64 bits wide here
constexpr char NOT_FOUND_TEXT[] = "no Device found !";
constexpr char FOUND_TEXT[] = "Device on COM %d\nDSP : %s   PLD : %s";
constexpr char SYNC_TEXT[] = "try to sync ...";
constexpr char READY_TEXT[] = "ready";

constexpr char VDSP[] = "VDSP";
constexpr char VPLD[] = "VPLD";
constexpr char VTUN[] = "VTUN";
constexpr char SYNC_BYTE = '?';
constexpr char SETTINGS_MARK[] = "NUV";

constexpr int COMMAND_LENGTH = 4;
constexpr int IDENT_LENGTH = 12;
constexpr int SHORT_IDENT_LENGTH = 4;
constexpr int TUNER_LENGTH = 8;
constexpr int IDENT_CUT = 10;     // identifications are shown and parsed up to character 10
constexpr int VERSION_OFFSET = 4; // the version stands from character 5 on
constexpr int SYNC_ATTEMPTS = 4;
constexpr int SYNC_ANSWER_LENGTH = 4;
constexpr int SYNC_READ_LENGTH = 16;

constexpr int BAUD_RATE = 115200;
constexpr int EVEN_PARITY = 1;
constexpr int NO_XON_XOFF = 0;
constexpr int SEARCH_READ_CONSTANT = 10000;

struct TunerReply {
    const char* reply;
    TunerType type;
};

constexpr std::array<TunerReply, 6> TUNER_NAMES{{
    {"MB86A1x ", 0},
    {"STV0299B", 1},
    {"CE6313  ", 2},
    {"ALIS3501", 3},
    {"STV6110 ", 4},
    {"EDU10394", 5},
}};

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(std::string_view text, std::size_t pos) {
    return pos < text.size() && text[pos] >= '0' && text[pos] <= '9';
}

enum class Identified { Found, Short, Failed };

// Steps 5 and 6 of one pass on an open port: "VDSP", and "VPLD" after a full DSP reply.
Identified Identify(CComDevice& link, std::array<char, 16>& dsp, std::array<char, 16>& pld) {
    if (link.Write(VDSP, COMMAND_LENGTH) != COMMAND_LENGTH) {
        return Identified::Failed;
    }
    const int dspCount = link.Read(dsp.data(), IDENT_LENGTH);
    if (dspCount == SHORT_IDENT_LENGTH) {
        return Identified::Short;
    }
    if (dspCount != IDENT_LENGTH) {
        return Identified::Failed;
    }
    if (link.Write(VPLD, COMMAND_LENGTH) != COMMAND_LENGTH) {
        return Identified::Failed;
    }
    return link.Read(pld.data(), IDENT_LENGTH) == IDENT_LENGTH ? Identified::Found : Identified::Failed;
}

void EnableItem(const CWnd& dialog, int id, bool enable) {
    dialog.GetDlgItem(id).EnableWindow(enable ? TRUE : FALSE);
}

} // namespace

int CapPortCount(int portCount) {
    return portCount >= MAX_PORT_COUNT ? MAX_PORT_COUNT : portCount;
}

std::int64_t PortAt(int preferredPort, int portCount, int i) {
    std::int64_t port = static_cast<std::int64_t>(preferredPort) + i;
    if (port > portCount) {
        port -= portCount;
    }
    return port;
}

std::uint32_t SyncMaskBit(std::int64_t port) {
    // The remainder first, so that no port overflows on the way.
    const std::int64_t bit = (port % MAX_PORT_COUNT - 1 + MAX_PORT_COUNT) % MAX_PORT_COUNT;
    return std::uint32_t{1} << bit;
}

TunerType TunerTypeOf(std::span<const char> reply) {
    if (reply.size() != TUNER_LENGTH) {
        return TUNER_UNKNOWN;
    }
    for (const TunerReply& name : TUNER_NAMES) {
        if (std::memcmp(reply.data(), name.reply, TUNER_LENGTH) == 0) {
            return name.type;
        }
    }
    return TUNER_UNKNOWN;
}

std::string_view TunerName(TunerType type) {
    for (const TunerReply& name : TUNER_NAMES) {
        if (name.type == type) {
            return std::string_view(name.reply, TUNER_LENGTH);
        }
    }
    return {};
}

double ParseFirmwareVersion(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && IsCSpace(text[pos])) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const std::size_t start = pos;
    // The decimal position of the first significant digit (1 for "1.16", -1 for "0.05"); only
    // needed to tell an overflow from an underflow.
    std::int64_t leading = 0;
    bool significant = false;
    std::size_t digits = 0;
    for (; IsDigit(text, pos); ++pos, ++digits) {
        if (significant) {
            ++leading;
        } else if (text[pos] != '0') {
            significant = true;
            leading = 1;
        }
    }
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        for (; IsDigit(text, pos); ++pos, ++digits) {
            if (!significant) {
                if (text[pos] != '0') {
                    significant = true;
                } else {
                    --leading;
                }
            }
        }
    }
    if (digits == 0) {
        return 0.0;
    }
    std::size_t end = pos;
    std::int64_t exponent = 0;
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
        std::size_t q = pos + 1;
        bool exponentNegative = false;
        if (q < text.size() && (text[q] == '+' || text[q] == '-')) {
            exponentNegative = text[q] == '-';
            ++q;
        }
        if (IsDigit(text, q)) {
            for (; IsDigit(text, q); ++q) {
                if (exponent < 1'000'000) {
                    exponent = exponent * 10 + (text[q] - '0');
                }
            }
            end = q;
            if (exponentNegative) {
                exponent = -exponent;
            }
        }
    }
    double value = 0.0;
    const auto [ptr, ec] =
        std::from_chars(text.data() + start, text.data() + end, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        value = leading + exponent > 0 ? HUGE_VAL : 0.0;
    } else if (ec != std::errc() || ptr == text.data() + start) {
        value = 0.0;
    }
    return negative ? -value : value;
}

int SyncModule(CComDevice& link, const CWnd& dialog) {
    dialog.SetDlgItemText(IDC_STATUS_UPPER, SYNC_TEXT);
    std::array<char, SYNC_READ_LENGTH> answer{};
    for (int attempt = 0; attempt < SYNC_ATTEMPTS; ++attempt) {
        if (link.Write(&SYNC_BYTE, 1) == 1 &&
            link.Read(answer.data(), SYNC_READ_LENGTH) == SYNC_ANSWER_LENGTH) {
            return 1;
        }
    }
    return 0;
}

int SearchModule(CComDevice& link, CModuleProxy& proxy, SearchState& state, const CWnd& dialog) {
    CWaitCursor waitCursor;
    state.settingsSupported = 0;
    state.moduleFound = 0;
    state.portCount = CapPortCount(state.portCount);
    link.Close();

    std::array<char, 16> dsp{};
    std::array<char, 16> pld{};
    std::array<char, 128> text{};
    std::uint32_t syncMask = 0;
    int foundPort = -1;

    for (int i = 0; i < state.portCount;) {
        const std::int64_t port = PortAt(state.preferredPort, state.portCount, i);
        std::snprintf(text.data(), text.size(), SEARCHING_TEXT, static_cast<long long>(port));
        dialog.SetDlgItemText(IDC_STATUS_UPPER, text.data());

        const bool inRange =
            port >= std::numeric_limits<int>::min() && port <= std::numeric_limits<int>::max();
        if (!inRange || link.Open(static_cast<int>(port), BAUD_RATE, EVEN_PARITY, NO_XON_XOFF) == 0) {
            ++i;
            continue;
        }
        SetCommandTimeouts(link, SEARCH_READ_CONSTANT);

        const Identified result = Identify(link, dsp, pld);
        if (result == Identified::Found) {
            foundPort = static_cast<int>(port);
            break;
        }
        if (result == Identified::Short) {
            const std::uint32_t bit = SyncMaskBit(port);
            if ((syncMask & bit) == 0) {
                syncMask |= bit;
                if (SyncModule(link, dialog) == 1) {
                    link.Close();
                    continue; // the same port, opened and identified anew
                }
            }
        }
        link.Close();
        ++i;
    }

    if (foundPort < 0) {
        dialog.SetDlgItemText(IDC_STATUS_UPPER, NOT_FOUND_TEXT);
        state.moduleFound = 0;
        state.foundPort = -1;
    } else {
        dsp[IDENT_CUT] = '\0';
        pld[IDENT_CUT] = '\0';
        std::snprintf(text.data(), text.size(), FOUND_TEXT, foundPort, dsp.data(), pld.data());
        dialog.SetDlgItemText(IDC_STATUS_UPPER, text.data());
        if (std::memcmp(dsp.data(), SETTINGS_MARK, 3) == 0) {
            state.settingsSupported = 1;
        }
        proxy.m_firmwareVersion = ParseFirmwareVersion(
            std::string_view(dsp.data() + VERSION_OFFSET, std::strlen(dsp.data() + VERSION_OFFSET)));
        state.dspText = dsp.data();
        state.pldText = pld.data();
        state.foundPort = foundPort;
        state.preferredPort = foundPort;
        state.moduleFound = 1;
        state.tunerType = TUNER_UNKNOWN;
        if (link.ExecuteCommand(VTUN, COMMAND_LENGTH, dsp.data(), TUNER_LENGTH, false) == 0) {
            state.tunerType = TunerTypeOf(std::span<const char>(dsp.data(), TUNER_LENGTH));
        }
        proxy.m_tunerType = state.tunerType;
    }

    dialog.SetDlgItemText(IDC_STATUS_LOWER, READY_TEXT);
    EnableItem(dialog, IDC_SELECT_FILE, state.moduleFound != 0);
    EnableItem(dialog, IDC_DEFAULT_SETTINGS, state.moduleFound != 0);
    EnableItem(dialog, IDC_KEEP_SETTINGS, state.settingsSupported != 0);
    return state.moduleFound;
}

} // namespace qam::module
