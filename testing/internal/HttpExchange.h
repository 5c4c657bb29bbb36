#pragma once

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "testing/RequestLog.h"
#include "testing/internal/Answer.h"

// HttpExchange: how the emulator reads a request from httplib and writes its answer: the logged
// headers, the body read through the content reader (optionally cut short), and the answer sent
// whole, cut after some bytes, or parked part way until released.
// Ownership: plain values and free functions; AnswerHold shares its parked flag with the copies
//     httplib keeps.
// Threads: thread-compatible (one request per call).
// Errors: none (a cut or short body is reported in BodyRead).

namespace pelmar::test::internal {

// httplib adds the connection's addresses to the headers as pseudo headers after the real ones;
// these are the real ones.
FieldList loggedHeaders(const httplib::Headers& headers);

bool startsWithIgnoreCase(std::string_view text, std::string_view prefix);

struct BodyRead {
    bool complete = false;
    bool cut = false;
};

// Reads the request body through httplib's content reader, keeping the start of it in the log
// entry and passing every byte to `sink`. With `cutAfter`, stops once that many bytes arrived
// (or after a shorter body) and reports a cut.
BodyRead readBody(const httplib::Request& request,
                  const httplib::ContentReader& reader,
                  LoggedRequest& entry,
                  std::optional<uint64_t> cutAfter,
                  const std::function<void(std::string_view)>& sink);

// Parks an answer once `after` body bytes have gone out, the first time only.
struct AnswerHold {
    uint64_t after = 0;
    std::function<void()> park;
    std::shared_ptr<std::atomic<bool>> parked = std::make_shared<std::atomic<bool>>(false);

    // How many of `wanted` bytes from `offset` may go out now; parks first when the hold point
    // is reached.
    uint64_t allow(uint64_t offset, uint64_t wanted) const {
        if (parked->load()) {
            return wanted;
        }
        if (offset >= after) {
            parked->store(true);
            park();
            return wanted;
        }
        return std::min(wanted, after - offset);
    }
};

// Sends `answer`; with `cutAfter`, only that many body bytes and then closes; with `hold`, parks
// part way (ignored with `cutAfter`).
void writeAnswer(httplib::Response& response,
                 const Answer& answer,
                 std::optional<uint64_t> cutAfter,
                 std::optional<AnswerHold> hold);

}  // namespace pelmar::test::internal
