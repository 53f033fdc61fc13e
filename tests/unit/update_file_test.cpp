// The update-file reader on files made byte by byte: what each record does, what a section sends,
// what is never read. Malformed files are the window's proof corpus (proof_input_test).
#include "common/LittleEndian.h"
#include "update/DateMask.h"
#include "update/MemorySource.h"
#include "update/UpdateFileFormat.h"
#include "update/UpdateFileReader.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void Word(Bytes& out, std::uint32_t value) {
    out.resize(out.size() + 4);
    qam::le::Write32(out, out.size() - 4, value);
}

Bytes Record(std::uint32_t tag, const Bytes& payload) {
    Bytes out;
    Word(out, tag);
    Word(out, static_cast<std::uint32_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes Section(std::uint32_t tag, std::uint32_t control, const Bytes& data) {
    Bytes out;
    Word(out, tag);
    Word(out, static_cast<std::uint32_t>(data.size()));
    Word(out, control);
    out.insert(out.end(), data.begin(), data.end());
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
const Bytes HEAD = {0xA0, 0xA1, 0xA2, 0xA3, 1, 2, 3, 4, 5, 6, 7, 8}; // data offsets 0..11

// What the reader told its sink, one line an event: a record's tag and name, a section's tag and
// the bytes it sends.
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
    Bytes versionWithZero = Text("KESTRAN UpdateFile Vers 2.00");
    versionWithZero.push_back(0);
    Bytes named = Text("fp");
    named.push_back(0);
    named.push_back('x');
    Recorder recorder;
    const Bytes file =
        File({Record(qam::update::TAG_VERS, versionWithZero),
              Section(qam::update::TAG_BDAT, 0, Text("head....ABCDdata")), // before any name
              Record(qam::update::TAG_BFN, named), Section(qam::update::TAG_BDAT, 0, Text("hdr.B")),
              Record(qam::update::TAG_DFN, Text("app.dmp")),
              Section(qam::update::TAG_DPRG, 0x0F0F, Text("12345678901234")), // other kinds' bits
              Section(qam::update::TAG_DDAT, 0x0F0000, Text("abcd")), STOP, Text("never read")});
    EXPECT_EQ(Read(file, recorder), RESULT_OK);
    EXPECT_EQ(recorder.lines,
              (std::vector<std::string>{"VERS ''", "BDAT ''", "sent ....ABCDdata", "BFN  ''", "BDAT 'fp'",
                                        "sent B", "DFN  ''", "DPRG 'app.dmp'", "sent 5678901234",
                                        "DDAT 'app.dmp'", "sent ", "STOP ''"}));
}

TEST(UpdateFile, ASectionOfTheWholeBufferIsSent) {
    Recorder recorder;
    EXPECT_EQ(Read(File({Section(qam::update::TAG_DPRG, 0, Bytes(0x40000, 7)), STOP}), recorder), RESULT_OK);
    EXPECT_EQ(recorder.sent.at(0).size(), 0x40000u - 4);
}

// Each date gives its own key; only bytes from data offset 12 on change. The dates are the
// build's mask XOR keys 0, 0, 0, 0 and 0x08, 0x10, 0xF8, 0xFF.
TEST(UpdateFile, ScrambledBodiesUseTheLatestDate) {
    Bytes dateA(qam::update::DATE_MASK.begin(), qam::update::DATE_MASK.end());
    Bytes dateB = dateA;
    for (const std::size_t i : {0u, 1u, 2u, 3u}) {
        dateB[i] ^= std::array<std::uint8_t, 4>{0x08, 0x10, 0xF8, 0xFF}[i];
    }
    Bytes stored = HEAD;
    stored.push_back(0x42);
    stored.push_back(0x50);
    Recorder recorder;
    const Bytes file =
        File({Record(qam::update::TAG_DATE, dateA), Section(qam::update::TAG_BDAT, 0x1, stored),
              Record(qam::update::TAG_DATE, dateB), Section(qam::update::TAG_DPRG, 0x10000, stored), STOP});
    ASSERT_EQ(Read(file, recorder), RESULT_OK);
    // 'B' and key 0: s XOR 0x42. 'P': 0x42 gives t 0x12, key byte 2; 0x50 gives t 0, key byte 0.
    EXPECT_EQ(recorder.sent.at(0), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 0x00, 0x12}));
    EXPECT_EQ(recorder.sent.at(1), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 0xEA, 0x08}));
}

} // namespace
