#include "link/ComDevice.h"

#include "common/LittleEndian.h"
#include "framework/MessageBox.h"
#include "framework/MessagePump.h"
#include "framework/WaitCursor.h"
#include "framework/Wnd.h"
#include "link/Port.h"
#include "link/PortTimeouts.h"
#include "link/Protocol.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace {

namespace protocol = qam::link::protocol;

constexpr const char* kErrorCaption = "Error";
constexpr const char* kReadFailedText = "Read Failed!";
constexpr const char* kWriteFailedText = "Write Failed!";

constexpr qam::link::Timeouts kOpenTimeouts{100, 50, 5000, 50, 500};

std::span<const std::uint8_t> Bytes(const char* buffer, int count) {
    return {reinterpret_cast<const std::uint8_t*>(buffer), static_cast<std::size_t>(std::max(0, count))};
}

void StartProgress(CWnd* progress) {
    if (progress != nullptr) {
        progress->SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, 100));
        progress->SendMessage(PBM_SETPOS, 0);
    }
}

void SetProgress(CWnd* progress, int remaining, int total) {
    if (progress != nullptr) {
        progress->SendMessage(PBM_SETPOS, static_cast<WPARAM>(protocol::ProgressPosition(remaining, total)));
    }
}

} // namespace

const CRuntimeClass CComDevice::classCComDevice{"CComDevice", &CObject::classCObject};

const CRuntimeClass* CComDevice::GetRuntimeClass() const {
    return &classCComDevice;
}

CComDevice::CComDevice() : m_port(qam::link::CreatePlatformPort()) {}

CComDevice::~CComDevice() {
    if (IsOpen()) {
        Close();
    }
}

bool CComDevice::IsOpen() const {
    return m_port->IsOpen();
}

int CComDevice::Open(int port, int baudRate, int parity, int xonXoff) {
    // A second Open without Close must not leave the first device held.
    if (m_port->IsOpen()) {
        m_port->Close();
    }
    if (!m_port->Open(port, baudRate, parity, xonXoff)) {
        return 0;
    }
    const int result = Purge() != 0 ? SetTimeouts(kOpenTimeouts.readInterval, kOpenTimeouts.readMultiplier,
                                                  kOpenTimeouts.readConstant, kOpenTimeouts.writeMultiplier,
                                                  kOpenTimeouts.writeConstant)
                                    : 0;
    if (result == 0) {
        // Nothing relies on a half-opened device; keeping it would hold the port against the next scan.
        m_port->Close();
    }
    return result;
}

int CComDevice::SetTimeouts(int readInterval, int readMultiplier, int readConstant, int writeMultiplier,
                            int writeConstant) {
    const qam::link::Timeouts asked{readInterval, readMultiplier, readConstant, writeMultiplier,
                                    writeConstant};
    return m_port->SetTimeouts(qam::link::PortTimeouts(asked)) ? 1 : 0;
}

int CComDevice::Purge() {
    return m_port->Purge() ? 1 : 0;
}

int CComDevice::Read(void* buffer, int count) {
    if (!m_port->IsOpen()) {
        return 0;
    }
    const qam::link::IoResult result = m_port->Read(buffer, count);
    if (result.refused) {
        fw::MessageBox(nullptr, kReadFailedText, kErrorCaption, MB_OK | MB_ICONERROR);
        return 0;
    }
    return result.count;
}

int CComDevice::Write(const void* buffer, int count) {
    if (!m_port->IsOpen()) {
        return 0;
    }
    const qam::link::IoResult result = m_port->Write(buffer, count);
    if (result.refused) {
        fw::MessageBox(nullptr, kWriteFailedText, kErrorCaption, MB_OK | MB_ICONERROR);
        return 0;
    }
    return result.count;
}

int CComDevice::Close() {
    return m_port->Close();
}

ResultCode CComDevice::ExecuteCommand(const char* command, int commandLength, char* reply, int replyLength,
                                      bool showBox) {
    Purge();
    ResultCode result = RESULT_OK;
    int received = 0;
    if (Write(command, commandLength) < commandLength) {
        result = ERR_COM_WRITE;
    } else {
        received = Read(reply, replyLength);
        result = protocol::ClassifyReply(Bytes(reply, replyLength), replyLength, received);
    }
    if (result != RESULT_OK && showBox) {
        const int cut = protocol::PrintableCut(Bytes(reply, replyLength), replyLength, received);
        if (result == ERR_BAD_RESPONSE && cut < replyLength) {
            reply[cut] = '\0';
        }
        const std::string text = protocol::ExchangeBoxText(result, Bytes(reply, replyLength), cut);
        fw::MessageBox(nullptr, text.c_str(), protocol::kExecuteCommandCaption, MB_OK | MB_ICONERROR);
    }
    return result;
}

ResultCode CComDevice::SendBlock(const char* command, const std::uint8_t* data, int length, char* reply,
                                 int replyLength, CWnd* progress) {
    CWaitCursor wait;
    StartProgress(progress);
    if (length < 0 || (length > 0 && data == nullptr)) {
        return ERR_COM_WRITE; // nothing sensible can be announced on the wire
    }

    const ResultCode accepted = ExecuteCommand(command, 4, reply, replyLength, false);
    if (accepted != RESULT_OK && accepted != ERR_NO_RESPONSE) {
        return accepted;
    }

    std::array<std::uint8_t, protocol::kLengthWordSize> lengthWord{};
    qam::le::Write32(lengthWord, 0, static_cast<std::uint32_t>(length));
    if (Write(lengthWord.data(), protocol::kLengthWordSize) < protocol::kLengthWordSize) {
        return ERR_COM_WRITE;
    }

    int remaining = length;
    const std::uint8_t* position = data;
    while (remaining > 0) {
        const int piece = std::min(remaining, protocol::kSendPiece);
        const int written = Write(position, piece);
        if (written < piece) {
            return ERR_COM_WRITE;
        }
        remaining -= written;
        position += written;
        SetProgress(progress, remaining, length);
        fw::PumpWaitingMessages();
        wait.Restore();
    }

    const int received = Read(reply, protocol::kLengthWordSize);
    return protocol::IsOkReply(Bytes(reply, received), received) ? RESULT_OK : ERR_BAD_RESPONSE;
}

ResultCode CComDevice::ReceiveBlock(const char* command, int commandLength, std::uint8_t* destination,
                                    int& capacity, CWnd* progress) {
    StartProgress(progress);
    if (Write(command, commandLength) < commandLength) {
        return ERR_COM_WRITE;
    }

    std::array<std::uint8_t, protocol::kLengthWordSize> lengthWord;
    lengthWord.fill(0xFF);
    const int received = Read(lengthWord.data(), protocol::kLengthWordSize);
    int length = 0;
    const int room = destination == nullptr ? 0 : capacity;
    const ResultCode classified = protocol::ClassifyLengthWord(lengthWord, received, room, length);
    if (classified != RESULT_OK) {
        return classified;
    }
    capacity = length;

    int remaining = length;
    std::uint8_t* position = destination;
    while (remaining > 0) {
        const int got = Read(position, std::min(remaining, protocol::kReceivePiece));
        if (got <= 0) {
            return ERR_COM_WRITE;
        }
        position += got;
        remaining -= got;
        SetProgress(progress, remaining, length);
        fw::PumpWaitingMessages();
    }
    return RESULT_OK;
}
