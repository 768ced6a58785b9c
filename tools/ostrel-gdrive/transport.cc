#include "transport.h"

#include <curl/curl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "output.h"
#include "tool.h"

namespace ostrel::gdrive {

namespace {

// JSON answers are a page at most (about 1 MB for 1000 files); anything
// far beyond that is not Drive talking.
constexpr size_t longest_kept_body = 64u << 20;
constexpr long low_speed_bytes = 1024;
constexpr long low_speed_seconds = 30;
constexpr long metadata_seconds = 60;

struct Exchange {
    CURL *curl;
    Reply *reply;
    const Sink *sink;
    int content_fd;
    uint64_t offset;
    uint64_t left;
    bool too_long = false;
    std::string read_failure = {};  // why the local file gave no bytes
    const Head *head = nullptr;  // a streamed answer: the body's fate is asked at the headers' end
    bool headed = false;
    bool deliver = false;
    uint64_t skip = 0;
    uint64_t count = UINT64_MAX;
};

size_t on_header(char *data, size_t size, size_t count, void *user)
{
    Exchange &x = *static_cast<Exchange *>(user);
    const size_t length = size * count;
    std::string_view line(data, length);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    if (line.starts_with("HTTP/")) {
        // A new answer (after a 100 Continue): what the last one said is gone.
        x.reply->headers.clear();
        return length;
    }
    if (line.empty()) {
        long status = 0;
        curl_easy_getinfo(x.curl, CURLINFO_RESPONSE_CODE, &status);
        if (x.head != nullptr && !x.headed && status >= 200) {
            x.headed = true;
            x.deliver = (*x.head)(static_cast<int>(status), x.reply->headers, &x.skip, &x.count);
        }
        return length;
    }
    x.reply->headers.append(line);
    x.reply->headers.append("\r\n");
    return length;
}

size_t on_body(char *data, size_t size, size_t count, void *user)
{
    Exchange &x = *static_cast<Exchange *>(user);
    size_t length = size * count;
    if (x.head != nullptr && x.deliver) {
        x.reply->received += length;
        const size_t dropped = x.skip < length ? static_cast<size_t>(x.skip) : length;
        x.skip -= dropped;
        const size_t passed = length - dropped < x.count ? length - dropped : static_cast<size_t>(x.count);
        if (passed > 0 && x.sink != nullptr && !(*x.sink)(data + dropped, passed)) {
            return CURL_WRITEFUNC_ERROR;
        }
        x.count -= passed;
        x.reply->delivered += passed;
        return length;
    }
    if (x.reply->body.size() + length > longest_kept_body) {
        x.too_long = true;
        return CURL_WRITEFUNC_ERROR;
    }
    x.reply->body.append(data, length);
    return length;
}

size_t on_read(char *buffer, size_t size, size_t count, void *user)
{
    Exchange &x = *static_cast<Exchange *>(user);
    size_t want = size * count;
    if (want > x.left) {
        want = static_cast<size_t>(x.left);
    }
    if (want == 0) {
        return 0;
    }
    ssize_t got = 0;
    do {
        got = ::pread(x.content_fd, buffer, want, static_cast<off_t>(x.offset));
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        x.read_failure = got < 0 ? std::strerror(errno) : "it ended early (it shrank while being sent)";
        return CURL_READFUNC_ABORT;
    }
    x.offset += static_cast<uint64_t>(got);
    x.left -= static_cast<uint64_t>(got);
    return static_cast<size_t>(got);
}

// Headers live in one list a request; freed however send() leaves.
struct HeaderList {
    curl_slist *list = nullptr;
    ~HeaderList() { curl_slist_free_all(list); }
    void add(const std::string &line) { list = curl_slist_append(list, line.c_str()); }
};

struct GlobalInit {
    GlobalInit() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~GlobalInit() { curl_global_cleanup(); }
};

}  // namespace

Transport::Transport(bool trace) : trace_(trace)
{
    static GlobalInit init;
    curl_ = curl_easy_init();
    if (curl_ == nullptr) {
        throw Failure{exit_refused, "libcurl could not start"};
    }
}

Transport::~Transport()
{
    curl_easy_cleanup(static_cast<CURL *>(curl_));
}

Reply Transport::send(const ostrel_google_drive_request_t &request, int content_fd, const Sink *sink, const Head *head)
{
    CURL *curl = static_cast<CURL *>(curl_);
    // Reset keeps the open connection for the next request.
    curl_easy_reset(curl);
    Reply reply;
    Exchange x{curl, &reply, sink, content_fd, request.data_offset, request.data_length};
    x.head = head;
    HeaderList headers;
    headers.add("Authorization: Bearer " + token_);
    bool has_content_type = false;
    for (size_t i = 0; i < request.header_count; ++i) {
        has_content_type = has_content_type || strcasecmp(request.headers[i].name, "Content-Type") == 0;
        headers.add(std::string(request.headers[i].name) + ": " + request.headers[i].value);
    }
    // Drive answers at once; waiting for a 100 Continue only costs a round trip.
    headers.add("Expect:");
    const bool get = std::strcmp(request.method, "GET") == 0;
    if (!get && !has_content_type) {
        headers.add("Content-Type:");
    }
    curl_easy_setopt(curl, CURLOPT_URL, request.url);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    // A transfer slower than 1 KiB/s for 30 s is dropped, and retried; a
    // metadata answer (a page, a files.get, an upload's status) has 60 s.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, low_speed_bytes);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, low_speed_seconds);
    const bool content = std::strstr(request.url, "alt=media") != nullptr || std::strstr(request.url, "/export") != nullptr
                         || request.data_length > 0;
    if (!content) {
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, metadata_seconds);
    }
    // gzip where Drive gives it: Drive's performance guide asks for both.
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, content ? "identity" : "gzip");
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 512L * 1024);
    curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, 2L * 1024 * 1024);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "ostrel-gdrive/" OSTREL_GDRIVE_VERSION " (gzip)");
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, on_header);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &x);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, on_body);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &x);
    if (get) {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method);
        if (request.data_length > 0) {
            curl_easy_setopt(curl, CURLOPT_READFUNCTION, on_read);
            curl_easy_setopt(curl, CURLOPT_READDATA, &x);
            curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.data_length));
        } else {
            curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body_length));
            curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body != nullptr ? request.body : "");
        }
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.list);
    if (trace_) {
        std::string line = std::string("debug: ") + request.method + " " + safe(request.url);
        for (size_t i = 0; i < request.header_count; ++i) {
            line += std::string(" [") + request.headers[i].name + ": " + safe(request.headers[i].value) + "]";
        }
        if (request.data_length > 0) {
            line += " (" + std::to_string(request.data_length) + " bytes from " + std::to_string(request.data_offset)
                    + ")";
        }
        say(line);
    }
    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (result == CURLE_OK) {
        reply.status = static_cast<int>(status);
        good_answers_ += (status >= 200 && status < 300) || status == 308 ? 1 : 0;
    } else {
        // Whatever came is incomplete: to the library, no answer at all.
        reply.status = x.headed ? static_cast<int>(status) : 0;  // a streamed body's head was fed already
        reply.failure = x.too_long         ? "an answer longer than " + std::to_string(longest_kept_body >> 20) + " MiB"
                        : !x.read_failure.empty() ? "cannot read the local file: " + x.read_failure
                        : status != 0      ? "the answer was cut short (" + std::string(curl_easy_strerror(result)) + ")"
                                           : std::string(curl_easy_strerror(result));
        reply.body.clear();
    }
    last_failure_ = reply.failure;
    if (trace_) {
        say("debug: -> " + (reply.status != 0 ? std::to_string(reply.status) : "no answer: " + reply.failure) + ", "
            + std::to_string(reply.body.size() + reply.delivered) + " bytes");
    }
    return reply;
}

std::string refused_api_url(std::string_view url)
{
    const auto starts = [&](std::string_view prefix) {
        return url.size() >= prefix.size() && strncasecmp(url.data(), prefix.data(), prefix.size()) == 0;
    };
    std::string_view rest;
    if (starts("https://")) {
        rest = url.substr(8);
    } else if (starts("http://")) {
        rest = url.substr(7);
    } else {
        return "not an http:// or https:// URL";
    }
    const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    if (authority.empty() || authority.find('@') != std::string_view::npos) {
        return "no host, or a user name before it";
    }
    if (starts("https://")) {
        return "";
    }
    std::string_view host = authority;
    if (host.front() == '[') {
        host = host.substr(0, host.find(']') + 1);
    } else {
        host = host.substr(0, host.find(':'));
    }
    bool loopback = host == "[::1]" || (host.size() == 9 && strncasecmp(host.data(), "localhost", 9) == 0);
    if (!loopback && host.starts_with("127.")) {
        int parts = 0;
        bool digits = true;
        for (std::string_view left = host; !left.empty();) {
            const std::string_view part = left.substr(0, left.find('.'));
            left.remove_prefix(std::min(left.size(), part.size() + 1));
            digits = digits && !part.empty() && part.size() <= 3
                     && part.find_first_not_of("0123456789") == std::string_view::npos && std::stoi(std::string(part)) < 256;
            ++parts;
        }
        loopback = digits && parts == 4 && !host.ends_with(".");
    }
    return loopback ? "" : "plain http:// is refused except to a loopback host (127.0.0.0/8, [::1], localhost): "
                           "the token would cross the network unencrypted";
}

}  // namespace ostrel::gdrive
