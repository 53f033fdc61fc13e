#pragma once

// The proof suites count their cases per class and print one line per class ("PROOF class=...
// tried=... passed=... failed=..." with the longest run against its bound), which scripts/proof
// adds up into its table. make check runs a sample; QAM_PROOF_FULL=1 runs every case.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <string>

namespace qam::test {

inline bool ProofFull() {
    return std::getenv("QAM_PROOF_FULL") != nullptr && std::string(std::getenv("QAM_PROOF_FULL")) == "1";
}

class ProofTally {
public:
    ~ProofTally();
    void Record(const std::string& name, bool passed, std::chrono::milliseconds took = {},
                std::chrono::milliseconds bound = {});
    void Note(const std::string& name, const std::string& extra) { m_rows[name].extra += " " + extra; }

private:
    struct Row {
        int tried = 0;
        int passed = 0;
        long long longestMs = 0;
        long long boundMs = 0;
        std::string extra;
    };
    std::map<std::string, Row> m_rows;
};

int FailedParts(); // failed assertions of the running test so far

} // namespace qam::test
