// Drive's answers from arbitrary bytes: pages, file resources, error bodies
// and statuses, and a listing fed them. Each reader either succeeds with a
// consistent result or refuses; none stops.
#include <cstring>
#include <string>

#include "fuzz_support.h"

namespace {

using namespace ostrel::fuzz;

void drop(ostrel_result_t result)
{
    if (result != OSTREL_SUCCESS) {
        ostrel_object_free(ostrel_error_get(result));
    }
}

void check_page(const char *body, size_t length)
{
    ostrel_google_drive_page_t page;
    const ostrel_result_t result = ostrel_google_drive_page_parse(body, length, &page);
    if (result != OSTREL_SUCCESS) {
        if (page.files != nullptr || page.file_count != 0 || page.refusal_count != 0) {
            broken("a refused page is empty", std::string(body, length));
        }
        drop(result);
        return;
    }
    for (size_t i = 1; i < page.refusal_count; ++i) {
        if (page.refusals[i].index <= page.refusals[i - 1].index || page.refusals[i].reason == nullptr) {
            broken("refusals in order, each with a reason", std::string(body, length));
        }
    }
    ostrel_google_drive_page_destroy(&page);
}

void check_error(int status, const char *body, size_t length)
{
    bool retry = true;
    const ostrel_result_t result = ostrel_google_drive_answer_error(status, body, length, "op", "/p", &retry);
    const bool success = (status >= 200 && status < 300) || status == 308;
    if ((result == OSTREL_SUCCESS) != success) {
        broken("success exactly for 2xx and 308", std::to_string(status));
    }
    if (result == OSTREL_SUCCESS) {
        return;
    }
    ostrel_object_t *error = ostrel_error_get(result);
    const int code = ostrel_gfs_error_get_ftp_response_code(error);
    const char *http = ostrel_google_drive_error_get_info(error, "GD-HTTP-Status");
    const char *details = ostrel_google_drive_error_get_info(error, "GD-Details");
    if (code != 0 && (http == nullptr || std::to_string(status) != http || details == nullptr)) {
        broken("every error names its status and details", std::to_string(status));
    }
    if (retry && code != 421 && code != 451) {
        broken("only rate limits and unavailability are retried", std::to_string(code));
    }
    ostrel_object_free(error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    activate_once();
    Input input(data, size);
    const uint8_t mode = input.take();
    const int status = (input.take() << 8 | input.take()) % 700;
    const size_t used = size < 3 ? size : 3;
    const char *body = reinterpret_cast<const char *>(data) + used;
    const size_t length = size - used;
    switch (mode % 4) {
    case 0:
        check_page(body, length);
        break;
    case 1:
        check_error(status, length != 0 ? body : nullptr, length);
        break;
    case 2: {
        ostrel_google_metadata_t file;
        const ostrel_result_t result = ostrel_google_drive_file_parse(body, length, &file);
        drop(result);
        ostrel_google_metadata_destroy(&file);
        const std::string text(body, length);
        const unsigned long delay = ostrel_google_drive_retry_delay_ms(status * 10000u, status, text.c_str());
        if (delay > 3600000) {
            broken("delays are bounded", text);
        }
        break;
    }
    default: {
        ostrel_google_drive_listing_t *listing = nullptr;
        drop(ostrel_google_drive_listing_create(nullptr, "root", mode & 4, 2, &listing));
        for (int round = 0; listing != nullptr && round < 3; ++round) {
            ostrel_google_drive_request_t *request = nullptr;
            unsigned long delay = 0;
            drop(ostrel_google_drive_listing_next(listing, &request, &delay));
            if (request == nullptr) {
                break;
            }
            ostrel_google_drive_request_free(request);
            const ostrel_google_drive_answer_t answer = {round == 0 ? status : 200, body, length, nullptr,
                                                         nullptr, nullptr, 0};
            drop(ostrel_google_drive_listing_feed(listing, &answer));
        }
        ostrel_google_drive_listing_free(listing);
    }
    }
    return 0;
}
