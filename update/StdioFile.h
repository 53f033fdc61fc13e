#pragma once

#include "update/ByteSource.h"

#include <cstdio>
#include <memory>
#include <string>

// An update file opened for reading in binary mode; closed when the object goes.
class CStdioFile : public CByteSource {
public:
    CStdioFile() = default;

    // False when the file cannot be opened for reading.
    bool Open(const std::string& path);
    bool IsOpen() const { return m_file != nullptr; }
    void Close() { m_file.reset(); }

    ReadOutcome Read(std::span<std::uint8_t> destination) override;

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Closer> m_file;
};
