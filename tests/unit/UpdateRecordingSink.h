#pragma once

#include "update/UpdateFileFormat.h"
#include "update/UpdateFileSink.h"

#include <cstdio>
#include <string>
#include <vector>

namespace qam::test {

// Everything the reader told, as lines that tests compare whole, and each section's bytes.
class CRecordingSink : public CUpdateFileSink {
public:
    struct Section {
        std::uint32_t tag;
        std::uint32_t controlWord;
        bool scrambled;
        std::vector<std::uint8_t> data; // all L bytes
        std::vector<std::uint8_t> sent;
    };

    void OnRecord(const update::RecordFrame& frame, std::string_view name) override {
        char line[96];
        std::snprintf(line, sizeof line, "record %s @%llu L=%u", update::TagName(frame.tag).c_str(),
                      static_cast<unsigned long long>(frame.offset), static_cast<unsigned>(frame.length));
        std::string text = line;
        if (update::IsSection(frame.kind)) {
            text += " name=\"" + std::string(name) + "\"";
        }
        events.push_back(text);
    }
    void OnText(const update::RecordFrame& frame, std::string_view text) override {
        events.push_back("text " + update::TagName(frame.tag) + " \"" + std::string(text) + "\"");
    }
    void OnKey(const update::RecordFrame&, const update::SectionKey& key) override {
        keys.push_back(key);
        events.push_back("key");
    }
    ResultCode OnSection(const update::SectionRecord& section) override {
        sections.push_back({section.frame.tag,
                            section.controlWord,
                            section.scrambled,
                            {section.data.begin(), section.data.end()},
                            {section.Sent().begin(), section.Sent().end()}});
        events.push_back("section " + update::TagName(section.frame.tag));
        if (failSectionsFrom > 0 && static_cast<int>(sections.size()) >= failSectionsFrom) {
            return failWith;
        }
        return RESULT_OK;
    }

    std::vector<std::string> events;
    std::vector<update::SectionKey> keys;
    std::vector<Section> sections;
    int failSectionsFrom = 0; // when > 0: the n-th section and those after it answer failWith
    ResultCode failWith = ERR_COM_WRITE;
};

} // namespace qam::test
