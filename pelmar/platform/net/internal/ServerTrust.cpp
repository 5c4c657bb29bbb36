#include "pelmar/platform/net/internal/ServerTrust.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <array>

namespace pelmar::net::internal {

namespace {

// The SSL_CTX slot holding the record of the handshake made with that context (libcurl makes one
// context per connection).
int recordIndex() {
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

std::string pem(X509* certificate) {
    std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), &BIO_free);
    if (!out || PEM_write_bio_X509(out.get(), certificate) != 1) {
        return {};
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(out.get(), &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

std::string publicKeySHA256(X509* certificate) {
    unsigned char* der = nullptr;
    const int size = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &der);
    if (size <= 0) {
        return {};
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int digestSize = 0;
    const bool made = EVP_Digest(der, static_cast<std::size_t>(size), digest.data(), &digestSize,
                                 EVP_sha256(), nullptr)
                      == 1;
    OPENSSL_free(der);
    if (!made) {
        return {};
    }
    std::array<unsigned char, 4 * ((EVP_MAX_MD_SIZE + 2) / 3) + 1> text{};
    const int length = EVP_EncodeBlock(text.data(), digest.data(), static_cast<int>(digestSize));
    return std::string(reinterpret_cast<const char*>(text.data()),
                       static_cast<std::size_t>(length));
}

int verify(int preverified, X509_STORE_CTX* store) {
    auto* ssl = static_cast<SSL*>(
            X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* record = ssl != nullptr ? static_cast<ServerTrustRecord*>(
                           SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), recordIndex()))
                                  : nullptr;
    if (preverified == 1 || record == nullptr || record->failed) {
        return preverified;
    }
    record->failed = true;
    record->trust.error = X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(store);
    const int count = chain != nullptr ? sk_X509_num(chain) : 0;
    for (int i = 0; i < count; ++i) {
        record->trust.certificates.push_back(pem(sk_X509_value(chain, i)));
    }
    X509* server = count > 0 ? sk_X509_value(chain, 0) : X509_STORE_CTX_get0_cert(store);
    if (server != nullptr) {
        if (count == 0) {
            record->trust.certificates.push_back(pem(server));
        }
        record->trust.publicKeySHA256 = publicKeySHA256(server);
    }
    // The verdict stays libcurl's: the handshake fails, and the challenge comes afterwards.
    return preverified;
}

}  // namespace

void recordServerTrust(void* sslContext, ServerTrustRecord* record) {
    auto* context = static_cast<SSL_CTX*>(sslContext);
    SSL_CTX_set_ex_data(context, recordIndex(), record);
    // The context lives as long as its connection, which later transfers may reuse after this
    // one's record is gone: no renegotiation may run the check again.
    SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_verify(context, SSL_CTX_get_verify_mode(context), &verify);
}

}  // namespace pelmar::net::internal
