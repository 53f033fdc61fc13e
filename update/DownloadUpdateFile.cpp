#include "framework/WaitCursor.h"
#include "framework/WinTypes.h"
#include "link/ComDevice.h"
#include "module/ModuleProxy.h"
#include "update/DownloadUpdateImage.h"
#include "update/MemorySource.h"
#include "update/StdioFile.h"
#include "update/UpdateFileReader.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <optional>
#include <string>

using namespace qam::update;

namespace {

constexpr const char* TEXT_CHECKING_VERSION = "checking Version ...";
constexpr const char* TEXT_READING_DATE = "reading Creation Date ...";
constexpr const char* TEXT_READING_BITFILE = "reading BitFile ...";
constexpr const char* TEXT_READING_DMPFILE = "reading DmpFile ...";
constexpr const char* TEXT_UNKNOWN_TAG = "unknown Tag: %08X - %08X";
constexpr const char* TEXT_CLEARING = "Clearing FLASH Area...";

struct SectionDownload {
    RecordKind kind;
    const char* readingPrefix; // "reading ... from ", the name and " ..." follow
    const char* clearCommand;  // the upload command is this with 'C' turned to 'U'
    const char* sendingText;
};

constexpr SectionDownload SECTION_DOWNLOADS[] = {
    {RecordKind::FpgaSection, "reading FPGACfg from ", "CPLD", "Downloading FPGA Configuration..."},
    {RecordKind::AppDataSection, "reading AppData from ", "CAPD", "Downloading Application Data..."},
    {RecordKind::AppCodeSection, "reading AppCode from ", "CAPP", "Downloading Application Code..."},
};
constexpr const char* READING_SUFFIX = " ...";

const SectionDownload& DownloadOf(RecordKind kind) {
    for (const SectionDownload& download : SECTION_DOWNLOADS) {
        if (download.kind == kind) {
            return download;
        }
    }
    return SECTION_DOWNLOADS[0];
}

// Erasing and writing a flash area take long; everything else uses the normal read constant.
constexpr int READ_CONSTANT_LONG = 20000;
constexpr int READ_CONSTANT_NORMAL = 5000;

constexpr int COMMAND_LENGTH = 4;
constexpr int REPLY_LENGTH = 4;

// The download's side of the reader: status texts as records come, and each section erased and sent.
class CDownloadSink : public CUpdateFileSink {
public:
    CDownloadSink(CComDevice& link, CWnd& progressBar, CWnd& statusLine)
        : m_link(link), m_progressBar(progressBar), m_statusLine(statusLine) {}

    void OnRecord(const RecordFrame& frame, std::string_view name) override {
        switch (frame.kind) {
        case RecordKind::Version:
            m_statusLine.SetWindowText(TEXT_CHECKING_VERSION);
            break;
        case RecordKind::Date:
            m_statusLine.SetWindowText(TEXT_READING_DATE);
            break;
        case RecordKind::BitFileName:
            m_statusLine.SetWindowText(TEXT_READING_BITFILE);
            break;
        case RecordKind::DumpFileName:
            m_statusLine.SetWindowText(TEXT_READING_DMPFILE);
            break;
        case RecordKind::FpgaSection:
        case RecordKind::AppDataSection:
        case RecordKind::AppCodeSection: {
            // Built as a string: a name may be as long as the section buffer.
            std::string text = DownloadOf(frame.kind).readingPrefix;
            text.append(name);
            text += READING_SUFFIX;
            m_statusLine.SetWindowText(text.c_str());
            break;
        }
        case RecordKind::Stop:
            break;
        case RecordKind::Unknown: {
            char text[64];
            std::snprintf(text, sizeof text, TEXT_UNKNOWN_TAG, static_cast<unsigned>(frame.tag),
                          static_cast<unsigned>(frame.length));
            m_statusLine.SetWindowText(text);
            break;
        }
        }
    }

    ResultCode OnSection(const SectionRecord& section) override {
        const SectionDownload& download = DownloadOf(section.frame.kind);
        char uploadCommand[COMMAND_LENGTH + 1] = {};
        std::copy_n(download.clearCommand, COMMAND_LENGTH, uploadCommand);
        uploadCommand[0] = 'U';

        m_statusLine.SetWindowText(TEXT_CLEARING);
        SetCommandTimeouts(m_link, READ_CONSTANT_LONG);
        // The link shows its own "Execute Command" box when the clear fails.
        if (const ResultCode cleared =
                m_link.ExecuteCommand(download.clearCommand, COMMAND_LENGTH, m_reply, REPLY_LENGTH, true);
            cleared != RESULT_OK) {
            return cleared;
        }

        m_statusLine.SetWindowText(download.sendingText);
        const std::span<const std::uint8_t> sent = section.Sent();
        const ResultCode written = m_link.SendBlock(uploadCommand, sent.data(), static_cast<int>(sent.size()),
                                                    m_reply, REPLY_LENGTH, &m_progressBar);
        SetCommandTimeouts(m_link, READ_CONSTANT_NORMAL);
        return written;
    }

private:
    CComDevice& m_link;
    CWnd& m_progressBar;
    CWnd& m_statusLine;
    // Room beyond the four reply bytes, in case the link terminates what it keeps.
    char m_reply[REPLY_LENGTH + 4] = {};
};

// The download over the bytes `open` gives (null when the file cannot be opened), so that the
// file on disk and an image already read take the same steps.
template <typename OpenSource> ResultCode Download(CModuleProxy& proxy, OpenSource&& open) {
    CWaitCursor waitCursor;
    if (proxy.m_statusLine == nullptr || proxy.m_progressBar == nullptr || proxy.m_comDevice == nullptr) {
        return RESULT_NOT_WIRED;
    }

    // The reader starts with its buffer cleared and both names empty.
    ResultCode result = RESULT_OK;
    std::optional<CUpdateFileReader> reader;
    try {
        reader.emplace();
    } catch (const std::bad_alloc&) {
        result = ERR_NO_MEMORY;
    }
    CByteSource* const source = result == RESULT_OK ? open() : nullptr;
    if (result == RESULT_OK && source == nullptr) {
        result = ERR_FILE_OPEN;
    }
    if (result == RESULT_OK) {
        CDownloadSink sink(*proxy.m_comDevice, *proxy.m_progressBar, *proxy.m_statusLine);
        result = reader->Read(*source, sink);
    }
    // A transfer leaves the bar at 100; whatever the result, it goes back to 0.
    proxy.m_progressBar->SendMessage(PBM_SETPOS, 0, 0);
    return result;
}

} // namespace

ResultCode CModuleProxy::DownloadUpdateFile(const std::string& path) {
    const std::string filePath = path;
    CStdioFile file;
    return Download(*this, [&]() -> CByteSource* { return file.Open(filePath) ? &file : nullptr; });
}

namespace qam::update {

ResultCode DownloadUpdateImage(CModuleProxy& proxy, std::span<const std::uint8_t> image) {
    CMemorySource source(image);
    return Download(proxy, [&]() -> CByteSource* { return &source; });
}

} // namespace qam::update
