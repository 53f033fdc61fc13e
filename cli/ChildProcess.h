#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace qam::cli {

// A program started with pipes of ours on its standard input and output, its standard error
// shared, in a process group of its own so that the terminal's interrupt does not reach it
// (ChildProcess_posix.cpp, ChildProcess_win32.cpp).
class CChildProcess {
public:
    CChildProcess();
    // Closes the pipes and waits for the program to end.
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    bool Start(const std::string& program, const std::vector<std::string>& arguments);
    // Blocks until all bytes went into the pipe; false when the program no longer reads.
    bool WriteInput(std::span<const std::uint8_t> bytes);
    void CloseInput();
    // Blocks for the next piece of its output; 0 at its end.
    std::size_t ReadOutput(std::span<char> buffer);
    // Waits for the program's end: its exit status, or -1 when it did not end by itself.
    int Wait();

    class Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

} // namespace qam::cli
