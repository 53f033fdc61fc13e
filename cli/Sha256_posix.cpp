#include "cli/Sha256.h"

#include <openssl/evp.h>

namespace qam::cli {

bool Sha256(std::span<const std::uint8_t> bytes, Sha256Digest& digest) {
    unsigned int length = 0;
    return EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) == 1 &&
           length == SHA256_BYTES;
}

} // namespace qam::cli
