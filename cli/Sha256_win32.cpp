#include "framework/win32/Windows.h"

#include <bcrypt.h>

#include "cli/Sha256.h"

#include <array>
#include <cstdio>
#include <memory>

namespace qam::cli {

namespace {

constexpr std::size_t SHA256_BYTES = 32;

struct AlgorithmCloser {
    void operator()(void* algorithm) const { ::BCryptCloseAlgorithmProvider(algorithm, 0); }
};
struct HashDestroyer {
    void operator()(void* hash) const { ::BCryptDestroyHash(hash); }
};

} // namespace

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
    // The provider and hash objects rather than the one-call hash of Windows 10: Windows 7 has these.
    BCRYPT_ALG_HANDLE opened = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return {};
    }
    const std::unique_ptr<void, AlgorithmCloser> algorithm(opened);
    BCRYPT_HASH_HANDLE created = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptCreateHash(algorithm.get(), &created, nullptr, 0, nullptr, 0, 0))) {
        return {};
    }
    const std::unique_ptr<void, HashDestroyer> hash(created);
    std::array<UCHAR, SHA256_BYTES> digest{};
    // Update images are a few hundred kilobytes, far below a ULONG's reach.
    if (!BCRYPT_SUCCESS(::BCryptHashData(hash.get(), const_cast<PUCHAR>(bytes.data()),
                                         static_cast<ULONG>(bytes.size()), 0)) ||
        !BCRYPT_SUCCESS(::BCryptFinishHash(hash.get(), digest.data(), SHA256_BYTES, 0))) {
        return {};
    }
    std::string hex;
    for (const UCHAR byte : digest) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

} // namespace qam::cli
