// The update-file reader on files made byte by byte: what each record does, what a section sends,
// what is never read. Malformed files are the window's proof corpus (proof_input_test).
#include "common/LittleEndian.h"
#include "update/DateMask.h"
#include "update/MemorySource.h"
#include "update/UpdateFileFormat.h"
#include "update/UpdateFileReader.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::string_literals;

Bytes Record(std::uint32_t tag, const Bytes& payload, std::optional<std::uint32_t> control = {}) {
    Bytes out(control ? 12 : 8);
    qam::le::Write32(out, 0, tag);
    qam::le::Write32(out, 4, static_cast<std::uint32_t>(payload.size()));
    if (control) {
        qam::le::Write32(out, 8, *control);
    }
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes File(std::initializer_list<Bytes> records) {
    Bytes file;
    for (const Bytes& record : records) {
        file.insert(file.end(), record.begin(), record.end());
    }
    return file;
}

const Bytes STOP = Record(qam::update::TAG_STOP, {});

// What the reader told its sink: a record's tag and name, a section's bytes sent.
struct Recorder : CUpdateFileSink {
    void OnRecord(const qam::update::RecordFrame& frame, std::string_view name) override {
        lines.push_back(qam::update::TagName(frame.tag) + " '" + std::string(name) + "'");
    }
    ResultCode OnSection(const qam::update::SectionRecord& section) override {
        lines.push_back("sent " + std::string(section.Sent().begin(), section.Sent().end()));
        sent.emplace_back(section.Sent().begin(), section.Sent().end());
        return RESULT_OK;
    }
    std::vector<std::string> lines;
    std::vector<Bytes> sent;
};

ResultCode Read(const Bytes& file, Recorder& recorder) {
    CMemorySource source(file);
    CUpdateFileReader reader;
    return reader.Read(source, recorder);
}

TEST(UpdateFile, RecordsNamesAndWhatEachSectionSends) {
    Recorder recorder;
    const Bytes file =
        File({Record(qam::update::TAG_VERS, Text("KESTRAN UpdateFile Vers 2.00\0"s)),
              Record(qam::update::TAG_BDAT, Text("head....ABCDdata"), 0), // before any name
              Record(qam::update::TAG_BFN, Text("fp\0x"s)), Record(qam::update::TAG_BDAT, Text("hdr.B"), 0),
              Record(qam::update::TAG_DFN, Text("app.dmp")),
              Record(qam::update::TAG_DPRG, Text("12345678901234"), 0x0F0F), // other kinds' bits
              Record(qam::update::TAG_DDAT, Text("abcd"), 0x0F0000),
              Record(qam::update::TAG_DPRG, Bytes(0x40000, '7'), 0), // the whole buffer
              STOP, Text("never read")});
    EXPECT_EQ(Read(file, recorder), RESULT_OK);
    EXPECT_EQ(recorder.lines, (std::vector<std::string>{
                                  "VERS ''", "BDAT ''", "sent ....ABCDdata", "BFN  ''", "BDAT 'fp'", "sent B",
                                  "DFN  ''", "DPRG 'app.dmp'", "sent 5678901234", "DDAT 'app.dmp'", "sent ",
                                  "DPRG 'app.dmp'", "sent " + std::string(0x40000 - 4, '7'), "STOP ''"}));
}

// Each date gives its own key; only bytes from data offset 12 on change. The dates are the
// build's mask XOR keys 0, 0, 0, 0 and 0x08, 0x10, 0xF8, 0xFF.
TEST(UpdateFile, ScrambledBodiesUseTheLatestDate) {
    Bytes dateA(qam::update::DATE_MASK.begin(), qam::update::DATE_MASK.end());
    Bytes dateB = dateA;
    for (const std::size_t i : {0u, 1u, 2u, 3u}) {
        dateB[i] ^= std::array<std::uint8_t, 4>{0x08, 0x10, 0xF8, 0xFF}[i];
    }
    const Bytes stored = {0xA0, 0xA1, 0xA2, 0xA3, 1, 2,    3,
                          4,    5,    6,    7,    8, 0x42, 0x50}; // 12 bytes never changed
    Recorder recorder;
    const Bytes file =
        File({Record(qam::update::TAG_DATE, dateA), Record(qam::update::TAG_BDAT, stored, 0x1),
              Record(qam::update::TAG_DATE, dateB), Record(qam::update::TAG_DPRG, stored, 0x10000), STOP});
    ASSERT_EQ(Read(file, recorder), RESULT_OK);
    // 'B' and key 0: s XOR 0x42. 'P': 0x42 gives t 0x12, key byte 2; 0x50 gives t 0, key byte 0.
    EXPECT_EQ(recorder.sent.at(0), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 0x00, 0x12}));
    EXPECT_EQ(recorder.sent.at(1), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 0xEA, 0x08}));
}

} // namespace
