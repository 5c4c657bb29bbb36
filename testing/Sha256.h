#pragma once

#include <memory>
#include <string>
#include <string_view>

// Sha256: incremental SHA-256 over OpenSSL's EVP interface, for checking stored uploads.
// Ownership: owns its digest context (freed in the destructor); not copyable.
// Threads: thread-compatible.
// Errors: std::runtime_error when OpenSSL cannot set up or run the digest; update() after
//     finishHex() throws std::logic_error.

struct evp_md_ctx_st;

namespace pelmar::test {

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(std::string_view bytes);

    // Ends the digest and returns it as 64 lower-case hex digits.
    std::string finishHex();

    static std::string hexOf(std::string_view bytes);

private:
    struct ContextDeleter {
        void operator()(evp_md_ctx_st* context) const;
    };

    std::unique_ptr<evp_md_ctx_st, ContextDeleter> context_;
    bool finished_ = false;
};

}  // namespace pelmar::test
