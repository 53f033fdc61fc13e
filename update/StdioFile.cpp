#include "update/StdioFile.h"

bool CStdioFile::Open(const std::string& path) {
    m_file.reset(std::fopen(path.c_str(), "rb"));
    return m_file != nullptr;
}

CByteSource::ReadOutcome CStdioFile::Read(std::span<std::uint8_t> destination) {
    if (!m_file) {
        return {0, true};
    }
    if (destination.empty()) {
        return {0, false};
    }
    const std::size_t count = std::fread(destination.data(), 1, destination.size(), m_file.get());
    // A short count is either the end of the file or an error of the system; only ferror tells.
    return {count, count < destination.size() && std::ferror(m_file.get()) != 0};
}
