#include "module/ChannelSettings.h"

#include "common/LittleEndian.h"
#include "link/ComDevice.h"
#include "module/ModuleProxy.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qam::module {

namespace {

constexpr char CHANNEL_FORMAT[] = "c%03d";
constexpr char READ_IMAGE[] = "RSTA";
constexpr char READ_BLS[] = "RBLS";
constexpr char READ_FILTER[] = "RFLT";
constexpr char WRITE_PLP[] = "WPLP";
constexpr char WRITE_BLS[] = "WBLS";
constexpr char COMMIT[] = "ZAll";

constexpr int COMMAND_LENGTH = 4;
constexpr int OK_REPLY_LENGTH = 4;

constexpr int WRITE_READ_CONSTANT = 25000;
constexpr int DEFAULT_READ_CONSTANT = 5000;
constexpr int COMMIT_READ_CONSTANT = 10000;

constexpr std::uint8_t LNB_LIMIT = 5;
constexpr std::uint8_t LND_LIMIT = 15;
constexpr std::uint16_t Q_LIMIT = 8;
constexpr std::uint16_t Y_LIMIT = 999;

std::array<char, 4> ToCommand(const char* text) {
    std::array<char, 4> command{};
    std::memcpy(command.data(), text, command.size());
    return command;
}

class PlanBuilder {
public:
    explicit PlanBuilder(std::vector<WriteStep>& steps) : m_steps(steps) {}

    void Timeouts(int readConstant) {
        WriteStep step;
        step.kind = WriteStep::Kind::Timeouts;
        step.readConstant = readConstant;
        m_steps.push_back(step);
    }

    void Command(std::array<char, 4> command, bool showBox = true) {
        WriteStep step;
        step.command = command;
        step.showBox = showBox;
        m_steps.push_back(step);
    }

    // "i" and "j" go out silently and their failure never ends the write.
    void DroppedCommand(std::array<char, 4> command) {
        Command(command, false);
        m_steps.back().resultDropped = true;
    }

    void Block(const char* command, std::span<const std::uint8_t> data) {
        WriteStep step;
        step.kind = WriteStep::Kind::Block;
        step.command = ToCommand(command);
        step.data = data;
        m_steps.push_back(step);
    }

    // A value that may exceed 999 goes out as its thousands and its remainder.
    void Split(const char* upperFormat, const char* lowerFormat, std::uint32_t value, bool lowerDropped) {
        Command(NumberCommand(upperFormat, value / 1000));
        if (lowerDropped) {
            DroppedCommand(NumberCommand(lowerFormat, value % 1000));
        } else {
            Command(NumberCommand(lowerFormat, value % 1000));
        }
    }

private:
    std::vector<WriteStep>& m_steps;
};

void PlanImage(PlanBuilder& plan, int channel, const SettingsRecord& settings, const BlsBlock* bls,
               TunerType tunerType, double firmwareVersion) {
    const std::span<const std::uint8_t> image(settings.data);
    const ChannelSettings values = DecodeChannelSettings(image);
    const bool tunerFive = tunerType == PLP_TUNER_TYPE;

    if (tunerFive && firmwareVersion >= PLP_FIRMWARE_VERSION) {
        if (values.lnd <= 1) {
            plan.Block(WRITE_PLP, image.subspan(16, 2));
        }
    } else {
        plan.Command(NumberCommand("LNB%d", std::min(values.lnb, LNB_LIMIT)));
        if (values.lnd <= LND_LIMIT) {
            plan.Command(NumberCommand("LND%X", values.lnd));
        }
    }

    if (bls != nullptr) {
        // The length word is sent as it stands, but never more than the data area holds.
        const std::size_t length = std::min<std::size_t>(bls->length, bls->data.size());
        plan.Block(WRITE_BLS, std::span<const std::uint8_t>(bls->data).first(length));
    }

    std::uint32_t j = values.j;
    if (tunerFive) {
        plan.DroppedCommand(NumberCommand("i%03d", values.i8));
        j = values.j24;
    } else {
        plan.Split("I%03d", "i%03d", values.i, true);
    }
    plan.Split("J%03d", "j%03d", j, true);

    plan.Timeouts(DEFAULT_READ_CONSTANT);
    plan.Command(NumberCommand("M%03d", static_cast<std::uint32_t>(ModeNumber(values.mode))));
    if (channel == 0) {
        plan.Split("H%03d", "h%03d", values.h / 10u, false);
    }
    plan.Split("S%03d", "s%03d", values.s, false);
    plan.Command(NumberCommand("Q%03d", std::min(values.q, Q_LIMIT)));
    plan.Command(NumberCommand("y%03d", std::min(values.y, Y_LIMIT)));
}

// The link's error when fewer bytes than asked came back for a raw read.
ResultCode ShortReadCode(int received) {
    return received == 0 ? ERR_NO_RESPONSE : ERR_BAD_RESPONSE;
}

} // namespace

ChannelSettings DecodeChannelSettings(std::span<const std::uint8_t> image) {
    std::array<std::uint8_t, SETTINGS_IMAGE_BYTES> bytes{};
    std::copy_n(image.begin(), std::min(image.size(), bytes.size()), bytes.begin());
    const std::span<const std::uint8_t> b(bytes);

    ChannelSettings values;
    values.j = le::Read16(b, 0);
    values.j24 = le::Read24(b, 0);
    values.i = le::Read16(b, 2);
    values.i8 = b[3];
    values.mode = b[4];
    values.h = le::Read16(b, 6);
    values.s = le::Read16(b, 8);
    values.q = le::Read16(b, 10);
    values.y = le::Read16(b, 14);
    values.lnb = b[16];
    values.lnd = b[17];
    return values;
}

int ModeNumber(std::uint8_t mode) {
    int number = (mode & 0x04) != 0 ? 700 : 800;
    if ((mode & 0x02) != 0) {
        number += 10;
    }
    switch (mode & 0x18) {
    case 0x08:
        number += 2;
        break;
    case 0x10:
        number += 3;
        break;
    default: // 0x00 and 0x18
        number += 1;
        break;
    }
    return number;
}

std::array<char, 4> NumberCommand(const char* format, std::uint32_t value) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), format, static_cast<unsigned>(value));
    std::array<char, 4> command{};
    std::memcpy(command.data(), text.data(), command.size());
    return command;
}

std::vector<WriteStep> PlanChannelWrite(int channel, const SettingsRecord* settings,
                                        const std::uint8_t* filterBitmap, const BlsBlock* bls,
                                        TunerType tunerType, double firmwareVersion) {
    std::vector<WriteStep> steps;
    PlanBuilder plan(steps);
    plan.Timeouts(WRITE_READ_CONSTANT);
    // The channel number is signed; "%03d" of a negative one still gives four bytes.
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), CHANNEL_FORMAT, channel);
    plan.Command(ToCommand(text.data()));

    if (settings != nullptr) {
        PlanImage(plan, channel, *settings, bls, tunerType, firmwareVersion);
    }

    if (filterBitmap != nullptr) {
        for (int n = 0; n < FILTER_BITS; ++n) {
            if ((filterBitmap[n / 8] >> (n % 8) & 1) != 0) {
                // The bit number goes out as two raw bytes, low byte first.
                plan.Command({'p', '+', static_cast<char>(n % 256), static_cast<char>(n / 256)});
            }
        }
    }

    plan.Timeouts(COMMIT_READ_CONSTANT);
    plan.Command(ToCommand(COMMIT));
    steps.back().commit = true;
    plan.Timeouts(DEFAULT_READ_CONSTANT);
    return steps;
}

} // namespace qam::module

ResultCode CModuleProxy::ReadChannelSettings(int channel, SettingsRecord* settings, int settingsCapacity,
                                             std::uint8_t* filterBitmap, int filterLength, BlsBlock* bls,
                                             int blsCapacity) {
    using namespace qam::module;
    if (m_comDevice == nullptr) {
        return RESULT_NOT_WIRED;
    }
    CComDevice& link = *m_comDevice;

    // A short or failed read must never restore what an earlier module left in the records.
    const int bitmapLength = std::clamp(filterLength, 0, FILTER_BITMAP_BYTES);
    if (settings != nullptr) {
        *settings = SettingsRecord{};
    }
    if (bls != nullptr) {
        *bls = BlsBlock{};
    }
    if (filterBitmap != nullptr) {
        std::fill_n(filterBitmap, bitmapLength, std::uint8_t{0});
    }

    std::array<char, 32> command{};
    std::snprintf(command.data(), command.size(), CHANNEL_FORMAT, channel);
    std::array<char, 16> reply{};
    if (const ResultCode rc =
            link.ExecuteCommand(command.data(), COMMAND_LENGTH, reply.data(), OK_REPLY_LENGTH, true);
        rc != RESULT_OK) {
        return rc;
    }

    // The capacities never reach beyond the records' data areas.
    const auto receive = [&link](const char* blockCommand, SettingsRecord& record, int capacity) {
        int length = std::min(capacity, static_cast<int>(record.data.size()));
        const ResultCode rc =
            link.ReceiveBlock(blockCommand, COMMAND_LENGTH, record.data.data(), length, nullptr);
        if (rc == RESULT_OK) {
            record.length = static_cast<std::uint32_t>(length);
        }
        return rc;
    };
    if (settings != nullptr) {
        if (const ResultCode rc = receive(READ_IMAGE, *settings, settingsCapacity); rc != RESULT_OK) {
            return rc;
        }
    }
    if (bls != nullptr) {
        if (const ResultCode rc = receive(READ_BLS, *bls, blsCapacity); rc != RESULT_OK) {
            return rc;
        }
    }

    if (filterBitmap != nullptr) {
        // The module answers "RFLT" with the bitmap alone: no purge, no length word, no "OK\r\n".
        if (link.Write(READ_FILTER, COMMAND_LENGTH) != COMMAND_LENGTH) {
            return ERR_COM_WRITE;
        }
        const int received = link.Read(filterBitmap, bitmapLength);
        if (received != bitmapLength) {
            return ShortReadCode(received);
        }
    }
    return RESULT_OK;
}

ResultCode CModuleProxy::WriteChannelSettings(int channel, const SettingsRecord* settings,
                                              const std::uint8_t* filterBitmap, const BlsBlock* bls) {
    using namespace qam::module;
    if (m_comDevice == nullptr) {
        return RESULT_NOT_WIRED;
    }
    CComDevice& link = *m_comDevice;
    const std::vector<WriteStep> plan =
        PlanChannelWrite(channel, settings, filterBitmap, bls, m_tunerType, m_firmwareVersion);

    std::array<char, 16> reply{};
    ResultCode commitResult = RESULT_OK;
    for (const WriteStep& step : plan) {
        switch (step.kind) {
        case WriteStep::Kind::Timeouts:
            SetCommandTimeouts(link, step.readConstant);
            break;
        case WriteStep::Kind::Command: {
            const ResultCode rc = link.ExecuteCommand(step.command.data(), COMMAND_LENGTH, reply.data(),
                                                      OK_REPLY_LENGTH, step.showBox);
            if (step.commit) {
                commitResult = rc;
            } else if (rc != RESULT_OK && !step.resultDropped) {
                return rc;
            }
            break;
        }
        case WriteStep::Kind::Block: {
            const ResultCode rc =
                link.SendBlock(step.command.data(), step.data.data(), static_cast<int>(step.data.size()),
                               reply.data(), OK_REPLY_LENGTH, nullptr);
            if (rc != RESULT_OK) {
                return rc;
            }
            break;
        }
        }
    }
    return commitResult;
}
