#pragma once

// The proof suites count their cases per class and print one machine-readable line per class and
// test ("PROOF class=... tried=... passed=... failed=..." with the longest run against its bound),
// which scripts/proof adds up into its table.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace qam::test {

// Set by scripts/proof: every case instead of the sample that make check runs.
inline bool ProofFull() {
    const char* full = std::getenv("QAM_PROOF_FULL");
    return full != nullptr && std::strcmp(full, "1") == 0;
}

// Failed assertions of the running test so far.
inline int FailedParts() {
    const ::testing::TestResult* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    int failed = 0;
    for (int i = 0; i < result->total_part_count(); ++i) {
        failed += result->GetTestPartResult(i).failed() ? 1 : 0;
    }
    return failed;
}

class ProofTally {
public:
    ProofTally() = default;
    ProofTally(const ProofTally&) = delete;
    ProofTally& operator=(const ProofTally&) = delete;
    ~ProofTally() {
        for (const auto& [name, row] : m_rows) {
            std::printf("PROOF class=%s tried=%d passed=%d failed=%d longest_ms=%lld bound_ms=%lld%s\n", name.c_str(),
                        row.tried, row.passed, row.tried - row.passed, static_cast<long long>(row.longestMs),
                        static_cast<long long>(row.boundMs), row.extra.c_str());
        }
        std::fflush(stdout);
    }

    void Record(const std::string& name, bool passed, std::chrono::milliseconds took = {},
                std::chrono::milliseconds bound = {}) {
        Row& row = m_rows[name];
        ++row.tried;
        row.passed += passed ? 1 : 0;
        // The figure that matters is the run closest to its bound.
        if (bound.count() > 0 && (row.boundMs == 0 || took.count() * row.boundMs > row.longestMs * bound.count())) {
            row.longestMs = took.count();
            row.boundMs = bound.count();
        }
    }
    void Note(const std::string& name, const std::string& extra) { m_rows[name].extra += " " + extra; }

private:
    struct Row {
        int tried = 0;
        int passed = 0;
        std::int64_t longestMs = 0;
        std::int64_t boundMs = 0;
        std::string extra;
    };
    std::map<std::string, Row> m_rows;
};

// One case: passed when no assertion failed between its start and its end.
class ProofCase {
public:
    ProofCase(ProofTally& tally, std::string name) : m_tally(tally), m_name(std::move(name)) {}
    ProofCase(const ProofCase&) = delete;
    ProofCase& operator=(const ProofCase&) = delete;
    ~ProofCase() { m_tally.Record(m_name, FailedParts() == m_failedBefore, m_took, m_bound); }

    // Ends the timed part; the case fails when it took longer than its bound.
    void Timed(std::chrono::milliseconds bound) {
        m_took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_start);
        m_bound = bound;
        EXPECT_LE(m_took.count(), bound.count()) << m_name << " took longer than its bound";
    }

private:
    ProofTally& m_tally;
    std::string m_name;
    int m_failedBefore = FailedParts();
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::chrono::milliseconds m_took{};
    std::chrono::milliseconds m_bound{};
};

} // namespace qam::test
