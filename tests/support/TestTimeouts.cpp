#include "tests/support/TestTimeouts.h"

#include <algorithm>
#include <cstdint>

namespace qam::test {

namespace {

std::vector<link::Timeouts> askedSets;
int scaleNumerator = 1;
int scaleDenominator = 1;

int Scaled(int constant) {
    // 0 means "no total time-out" to the port; scaling must not turn it into one.
    const std::int64_t scaled = std::int64_t{constant} * scaleNumerator / scaleDenominator;
    return constant <= 0 ? constant : static_cast<int>(std::clamp<std::int64_t>(scaled, 1, INT32_MAX));
}

} // namespace

const std::vector<link::Timeouts>& AskedTimeouts() {
    return askedSets;
}

void ClearAskedTimeouts() {
    askedSets.clear();
}

void ScaleTimeoutConstants(int numerator, int denominator) {
    scaleNumerator = numerator;
    scaleDenominator = denominator;
}

} // namespace qam::test

namespace qam::link {

Timeouts PortTimeouts(const Timeouts& asked) {
    test::askedSets.push_back(asked);
    Timeouts given = asked;
    given.readMultiplier = test::Scaled(asked.readMultiplier);
    given.readConstant = test::Scaled(asked.readConstant);
    given.writeConstant = test::Scaled(asked.writeConstant);
    return given;
}

} // namespace qam::link
