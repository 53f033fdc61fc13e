#include "tests/support/TestTimeouts.h"

#include <algorithm>
#include <cstdint>

namespace qam::test {

namespace {

std::vector<link::Timeouts>& Asked() {
    static std::vector<link::Timeouts> asked;
    return asked;
}

int scaleNumerator = 1;
int scaleDenominator = 1;

int Scaled(int constant) {
    // 0 means "no total time-out" to the port; scaling must not turn it into one.
    if (constant <= 0 || (scaleNumerator == 1 && scaleDenominator == 1)) {
        return constant;
    }
    const std::int64_t scaled = std::int64_t{constant} * scaleNumerator / scaleDenominator;
    return static_cast<int>(std::clamp<std::int64_t>(scaled, 1, INT32_MAX));
}

} // namespace

const std::vector<link::Timeouts>& AskedTimeouts() {
    return Asked();
}

void ClearAskedTimeouts() {
    Asked().clear();
}

void ScaleTimeoutConstants(int numerator, int denominator) {
    if (numerator <= 0 || denominator <= 0) {
        numerator = denominator = 1;
    }
    scaleNumerator = numerator;
    scaleDenominator = denominator;
}

} // namespace qam::test

namespace qam::link {

Timeouts PortTimeouts(const Timeouts& asked) {
    test::Asked().push_back(asked);
    Timeouts given = asked;
    given.readMultiplier = test::Scaled(asked.readMultiplier);
    given.readConstant = test::Scaled(asked.readConstant);
    given.writeConstant = test::Scaled(asked.writeConstant);
    return given;
}

} // namespace qam::link
