#pragma once

#include "common/ResultCode.h"
#include "framework/Object.h"

#include <cstdint>
#include <memory>

class CWnd;

// The serial link to the module: one COM port opened for overlapped I/O with the module's line
// settings, a read and a write bounded only by the port's time-outs, and the command protocol
// (command exchange, block send, block receive) on top of them.
class CComDevice : public CObject {
public:
    CComDevice();
    ~CComDevice() override;
    CComDevice(const CComDevice&) = delete;
    CComDevice& operator=(const CComDevice&) = delete;

    const CRuntimeClass* GetRuntimeClass() const override;
    static const CRuntimeClass classCComDevice;

    // 1 on success, 0 on failure (no message). parity: 0 none, 1 even; xonXoff: 0 off.
    int Open(int port, int baudRate, int parity, int xonXoff);
    // 1 when the port accepted the five values (milliseconds), else 0.
    int SetTimeouts(int readInterval, int readMultiplier, int readConstant, int writeMultiplier,
                    int writeConstant);
    // Discards everything queued in both directions; non-zero on success.
    int Purge();
    // The number of bytes moved; a short count means the time-outs ended the call.
    int Read(void* buffer, int count);
    int Write(const void* buffer, int count);
    // Cancels pending I/O and closes the port; on a closed link it changes nothing and answers 0.
    int Close();

    bool IsOpen() const;

    // A command and its reply of a size known in advance (4: only "OK\r\n" succeeds).
    ResultCode ExecuteCommand(const char* command, int commandLength, char* reply, int replyLength,
                              bool showBox);
    // A command, its optional "OK\r\n", the length word, the data in pieces of 16, then "OK\r\n".
    ResultCode SendBlock(const char* command, const std::uint8_t* data, int length, char* reply,
                         int replyLength, CWnd* progress);
    // A command, then a length word (or a refusal) and that many bytes in pieces of at most 64.
    // capacity: in, the destination's size; out, the block's length.
    ResultCode ReceiveBlock(const char* command, int commandLength, std::uint8_t* destination, int& capacity,
                            CWnd* progress);

    // The platform's port: handle and overlapped record on Windows, descriptor on POSIX.
    class Port;

private:
    std::unique_ptr<Port> m_port;
};

// Every module command runs with the same read interval, multipliers and write constant; only the
// read constant, how long the module may take to answer, differs from command to command.
inline int SetCommandTimeouts(CComDevice& link, int readConstant) {
    return link.SetTimeouts(100, 50, readConstant, 50, 500);
}
