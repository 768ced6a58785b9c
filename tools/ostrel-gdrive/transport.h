// HTTP for the live commands: one request the library built, sent as it is
// with the caller's token, and Drive's answer. The only place that knows
// libcurl; it decides nothing about Drive.
#ifndef OSTREL_GDRIVE_TRANSPORT_H
#define OSTREL_GDRIVE_TRANSPORT_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "ostrel_google_drive_common.h"

namespace ostrel::gdrive {

// What came back for one request. status 0: no answer (refused, dropped,
// cut short, timed out), and failure says why.
struct Reply {
    int status = 0;
    std::string body;
    std::string failure;
    uint64_t delivered = 0;  // bytes handed to a sink
    std::string headers;     // the answer's header lines, as they came
    uint64_t received = 0;   // body bytes of a streamed answer, dropped ones included
};

// Takes the bytes of a 2xx body; false stops the transfer.
using Sink = std::function<bool(const char *data, size_t length)>;

// Told a streamed answer's status and header lines before its body: true
// when the body is content for the sink, its first *skip bytes dropped and
// at most *count passed on; false keeps the body in the reply.
using Head = std::function<bool(int status, const std::string &headers, uint64_t *skip, uint64_t *count)>;

class Transport {
public:
    // trace: one line on standard error for each request and answer, the
    // Authorization header never among them.
    explicit Transport(bool trace);
    ~Transport();
    Transport(const Transport &) = delete;
    Transport &operator=(const Transport &) = delete;

    void set_token(std::string token) { token_ = std::move(token); }
    // Answers of 2xx or 308 so far: whether a token got requests through.
    [[nodiscard]] uint64_t good_answers() const { return good_answers_; }
    // Why the last request got no answer (refused, unresolved, cut, too
    // long, a local read error), or empty after an answer.
    [[nodiscard]] const std::string &last_failure() const { return last_failure_; }

    // Sends request. Its data_length bytes from data_offset are read from
    // content_fd (upload chunks). A streamed answer's body goes to sink when
    // head says so; any other body is kept in the reply.
    [[nodiscard]] Reply send(const ostrel_google_drive_request_t &request, int content_fd = -1,
                             const Sink *sink = nullptr, const Head *head = nullptr);

private:
    void *curl_;
    bool trace_;
    std::string token_;
    uint64_t good_answers_ = 0;
    std::string last_failure_;
};

// Whether an API base URL may be used: https, or http to a loopback host
// (127.0.0.0/8, [::1], localhost). Empty when it may; else why not.
[[nodiscard]] std::string refused_api_url(std::string_view url);

}  // namespace ostrel::gdrive

#endif
