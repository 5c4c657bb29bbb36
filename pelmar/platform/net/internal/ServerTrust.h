#pragma once

#include <memory>
#include <string>

#include "pelmar/platform/net/URLAuthenticationChallenge.h"

// ServerTrust: what the transport needs of OpenSSL to turn a TLS certificate that did not verify
// into a server-trust challenge: the presented chain, recorded while libcurl's handshake checks
// it, and the public-key pin a trusted answer restricts the retry to.
// Ownership: free functions; the recorder borrows the record it writes, which must outlive the
//     handshake.
// Threads: thread-safe (each record is written by the one handshake it was installed for).
// Errors: none; what cannot be read is left empty.

namespace pelmar::net::internal {

// One handshake's verification outcome.
struct ServerTrustRecord {
    bool failed = false;  // a certificate of the chain did not verify
    URLServerTrust trust;
};

// For libcurl's CURLOPT_SSL_CTX_FUNCTION (an OpenSSL SSL_CTX*): keeps the verification libcurl
// asked for, and records into `record` the chain and the first error of a failed one.
void recordServerTrust(void* sslContext, ServerTrustRecord* record);

}  // namespace pelmar::net::internal
