#pragma once

#include <string>

// What the upper status line shows while the search tries a port, and once it has found the
// module: the identification texts cut to their first ten characters.
namespace qam::test {

inline std::string Searching(long long port) {
    return "searching Device on COM " + std::to_string(port) + "...";
}

inline std::string Found(long long port, const std::string& dsp, const std::string& pld) {
    return "Device on COM " + std::to_string(port) + "\nDSP : " + dsp.substr(0, 10) + "   PLD : " + pld.substr(0, 10);
}

} // namespace qam::test
