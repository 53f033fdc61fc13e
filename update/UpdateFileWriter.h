#pragma once

#include "update/SectionTransform.h"
#include "update/UpdateFileFormat.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

// Writes update files: what qamfile build makes, and what tests and the fuzzer's seeds are made of.
namespace qam::update {

using Bytes = std::vector<std::uint8_t>;

struct SectionInput {
    Bytes data;                           // all L bytes: 12 head bytes, then the body, as it is to be sent
    bool scramble = false;                // store the body scrambled, with the kind's own control bit set
    std::optional<std::uint32_t> control; // the control word to write instead; the body is then stored
                                          // scrambled exactly when this word's bits of the kind ask for it
};

struct UpdateFileParts {
    std::string versionText = std::string(VERSION_TEXT);
    std::array<std::uint8_t, DATE_SIZE> date{}; // the creation date; the file holds it masked
    std::optional<std::string> bitFileName;
    std::optional<std::string> dumpFileName;
    std::optional<SectionInput> fpga;
    std::optional<SectionInput> appCode;
    std::optional<SectionInput> appData;

    // Only for malformed files.
    std::set<std::uint32_t> omit;                  // tags of records to leave out (VERS, DATE, STOP, ...)
    std::map<std::uint32_t, std::uint32_t> length; // L to write in a record's frame instead of the true one
    Bytes trailer;                                 // raw bytes written last, behind STOP
};

// The records in the usual order: VERS, DATE, BFN, BDAT, DFN, DPRG, DDAT, STOP.
Bytes BuildUpdateFile(const UpdateFileParts& parts);

// The control word that asks a section of this kind to be unscrambled.
std::uint32_t ScrambleControlWord(RecordKind kind);

void AppendFrame(Bytes& out, std::uint32_t tag, std::uint32_t length);
void AppendRecord(Bytes& out, std::uint32_t tag, std::span<const std::uint8_t> payload);
// data as it is to be sent; scrambled with key when controlWord's bits of this kind ask for it.
void AppendSection(Bytes& out, RecordKind kind, std::uint32_t controlWord, std::span<const std::uint8_t> data,
                   const SectionKey& key);

// The creation date as the DATE payload holds it: each byte XOR the date mask.
std::array<std::uint8_t, DATE_SIZE> MaskDate(const std::array<std::uint8_t, DATE_SIZE>& date);

} // namespace qam::update
