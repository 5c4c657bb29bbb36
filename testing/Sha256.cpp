#include "testing/Sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace pelmar::test {

void Sha256::ContextDeleter::operator()(evp_md_ctx_st* context) const {
    EVP_MD_CTX_free(context);
}

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
    if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("SHA-256: cannot set up the digest");
    }
}

Sha256::~Sha256() = default;

void Sha256::update(std::string_view bytes) {
    if (finished_) {
        throw std::logic_error("SHA-256: update after finish");
    }
    if (!bytes.empty() && EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size()) != 1) {
        throw std::runtime_error("SHA-256: digest update failed");
    }
}

std::string Sha256::finishHex() {
    if (finished_) {
        throw std::logic_error("SHA-256: finished twice");
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_.get(), digest, &length) != 1) {
        throw std::runtime_error("SHA-256: digest final failed");
    }
    finished_ = true;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        hex.push_back(kHex[digest[i] >> 4]);
        hex.push_back(kHex[digest[i] & 0x0f]);
    }
    return hex;
}

std::string Sha256::hexOf(std::string_view bytes) {
    Sha256 sha;
    sha.update(bytes);
    return sha.finishHex();
}

}  // namespace pelmar::test
