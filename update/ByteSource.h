#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Where the reader takes a file's bytes from: the update file itself, or memory (fuzzing, tests).
class CByteSource {
public:
    struct ReadOutcome {
        std::size_t count = 0;
        // The operating system refused the read, as opposed to the data simply ending.
        bool failed = false;
    };

    virtual ~CByteSource() = default;
    // Fills as much of destination as the source still holds.
    virtual ReadOutcome Read(std::span<std::uint8_t> destination) = 0;
};
