#pragma once

// What the download suites share: the simulator and the open link of LinkFixture, the window's
// lower status line, a wired CModuleProxy and a temporary directory for the update files.

#include "link/Protocol.h"
#include "module/ModuleProxy.h"
#include "tests/integration/LinkFixture.h"
#include "update/UpdateFileWriter.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace qam::test {

inline constexpr link::Timeouts kLongTimeouts{100, 50, 20000, 50, 500};
inline constexpr link::Timeouts kNormalTimeouts{100, 50, 5000, 50, 500};

class DownloadFixture : public LinkFixture {
protected:
    void SetUp() override {
        LinkFixture::SetUp();
        m_status = CWnd(headless::Desktop::Instance().AddWindow(1005, "Static"));
        m_proxy.m_comDevice = &m_device;
        m_proxy.m_progressBar = &m_progress;
        m_proxy.m_statusLine = &m_status;
        std::random_device seed;
        m_dir = std::filesystem::temp_directory_path() /
                ("qam-download-test-" + std::to_string(seed()) + "-" + std::to_string(seed()));
        std::filesystem::create_directories(m_dir);
    }

    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
        LinkFixture::TearDown();
    }

    // The module, the link open on it, and nothing recorded yet.
    void StartModule(const sim::Scenario& scenario = {}) {
        Start(scenario);
        ClearAskedTimeouts();
        headless::Desktop::Instance().WindowOf(m_progress.GetSafeHwnd()).messages.clear();
    }

    std::string WriteFile(const std::string& name, const update::Bytes& bytes) const {
        const std::string path = (m_dir / name).string();
        std::ofstream file(path, std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    ResultCode DownloadFile(const update::Bytes& file) {
        return m_proxy.DownloadUpdateFile(WriteFile("u.qam", file));
    }

    const std::vector<std::string>& StatusTexts() const {
        return headless::Desktop::Instance().WindowOf(m_status.GetSafeHwnd()).texts;
    }

    // The positions one block of this length gives the bar: 0, then one per piece of 16.
    static std::vector<int> BlockPositions(int length) {
        std::vector<int> positions{0};
        for (int remaining = length - 16; remaining > -16; remaining -= 16) {
            positions.push_back(link::protocol::ProgressPosition(std::max(remaining, 0), length));
        }
        return positions;
    }

    CWnd m_status;
    CModuleProxy m_proxy;
    std::filesystem::path m_dir;
};

// One section's clear and upload on the wire; exchange counts from first.
inline void AppendSectionTrace(std::vector<sim::TraceEntry>& trace, int first, const char* clear,
                               const sim::Bytes& sent) {
    std::string upload = clear;
    upload[0] = 'U';
    trace.push_back(ToModule(first, clear));
    trace.push_back(FromModule(first, "OK\r\n"));
    trace.push_back(ToModule(first + 1, upload));
    trace.push_back(FromModule(first + 1, "OK\r\n"));
    trace.push_back(ToModule(first + 1, LengthWord(static_cast<std::uint32_t>(sent.size()))));
    if (!sent.empty()) {
        trace.push_back(ToModule(first + 1, sent));
    }
    trace.push_back(FromModule(first + 1, "OK\r\n"));
}

// Data offsets 4 to L - 1: what a section sends and its flash area holds.
inline sim::Bytes SentPart(const update::Bytes& data) {
    return sim::Bytes(data.begin() + 4, data.end());
}

} // namespace qam::test
