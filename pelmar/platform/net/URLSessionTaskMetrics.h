#pragma once

#include <optional>
#include <vector>

// URLSessionTaskMetrics: when the parts of a task's transfer happened, one transaction per
// request sent (redirects included in the one transfer). Times are seconds on the installed
// dispatch clock (dispatch::clock().now()); a missing time means that part never happened.
// Ownership: a plain value type.
// Threads: thread-compatible.
// Errors: none.

namespace pelmar::net {

struct URLSessionTaskTransactionMetrics {
    std::optional<double> requestStartDate;   // the request began to go out
    std::optional<double> responseStartDate;  // the first byte of the answer arrived
    std::optional<double> responseEndDate;    // the last byte of the answer arrived
};

struct URLSessionTaskMetrics {
    std::vector<URLSessionTaskTransactionMetrics> transactionMetrics;
};

}  // namespace pelmar::net
