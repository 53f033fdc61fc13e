#include "framework/win32/Windows.h"

#include <bcrypt.h>

#include "cli/Sha256.h"

#include <memory>

namespace qam::cli {

namespace {

struct AlgorithmCloser {
    void operator()(void* algorithm) const { ::BCryptCloseAlgorithmProvider(algorithm, 0); }
};
struct HashDestroyer {
    void operator()(void* hash) const { ::BCryptDestroyHash(hash); }
};

} // namespace

bool Sha256(std::span<const std::uint8_t> bytes, Sha256Digest& digest) {
    // The provider and hash objects rather than the one-call hash of Windows 10: Windows 7 has these.
    BCRYPT_ALG_HANDLE opened = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return false;
    }
    const std::unique_ptr<void, AlgorithmCloser> algorithm(opened);
    BCRYPT_HASH_HANDLE created = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptCreateHash(algorithm.get(), &created, nullptr, 0, nullptr, 0, 0))) {
        return false;
    }
    const std::unique_ptr<void, HashDestroyer> hash(created);
    // Update images are a few hundred kilobytes, far below a ULONG's reach.
    if (!BCRYPT_SUCCESS(::BCryptHashData(hash.get(), const_cast<PUCHAR>(bytes.data()),
                                         static_cast<ULONG>(bytes.size()), 0)) ||
        !BCRYPT_SUCCESS(::BCryptFinishHash(hash.get(), digest.data(), SHA256_BYTES, 0))) {
        return false;
    }
    return true;
}

} // namespace qam::cli
