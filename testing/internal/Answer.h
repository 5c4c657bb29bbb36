#pragma once

#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>

#include "testing/ServiceTypes.h"

// Answer: what the emulator sends back for one request: a status and either bytes or an open
// file.
// Ownership: a plain value; the file descriptor is shared and closed with its last holder.
// Threads: thread-compatible.
// Errors: none.

namespace pelmar::test::internal {

struct OpenFile {
    explicit OpenFile(int descriptor) : fd(descriptor) {}

    ~OpenFile() {
        if (fd >= 0) {
            ::close(fd);
        }
    }

    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    int fd = -1;
};

struct Answer {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::shared_ptr<OpenFile> file;  // when set, the body is the file's first fileSize bytes
    uint64_t fileSize = 0;
    std::string error;  // logged reason of a refusal

    static Answer json(int status, const Json& value) {
        Answer answer;
        answer.status = status;
        answer.body = value.dump();
        return answer;
    }

    static Answer failure(int status, std::string reason) {
        Answer answer = json(status, Json{{"error", reason}});
        answer.error = std::move(reason);
        return answer;
    }
};

}  // namespace pelmar::test::internal
