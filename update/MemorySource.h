#pragma once

#include "update/ByteSource.h"

#include <algorithm>

// A file's bytes held in memory; optionally refuses every read from a given offset on, as a disk
// that fails part way through would.
class CMemorySource : public CByteSource {
public:
    explicit CMemorySource(std::span<const std::uint8_t> bytes, std::size_t failFrom = SIZE_MAX)
        : m_bytes(bytes), m_failFrom(failFrom) {}

    ReadOutcome Read(std::span<std::uint8_t> destination) override {
        const std::size_t end = std::min(m_bytes.size(), m_failFrom);
        const std::size_t count = std::min(destination.size(), end - std::min(end, m_position));
        std::copy_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(m_position), count, destination.begin());
        m_position += count;
        const bool failed =
            count < destination.size() && m_position >= m_failFrom && m_failFrom < m_bytes.size();
        return {count, failed};
    }

private:
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_failFrom;
    std::size_t m_position = 0;
};
