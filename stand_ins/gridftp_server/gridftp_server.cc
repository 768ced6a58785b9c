// Stand-in for the GridFTP server library: FTP response errors, system
// errors and the server module descriptor.
#pragma GCC visibility push(default)
#include "ostrel_gridftp_server.h"
#pragma GCC visibility pop

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../common/base_error.h"
#include "../common/text.h"

namespace {

using ostrel::stand_in::dup_or_null;
using ostrel::stand_in::vformat;

struct FtpResponse {
    int code;
    char *error_code;
    char *message;  // NULL when the error has none
};

void ftp_free(void *data) noexcept
{
    auto *ftp = static_cast<FtpResponse *>(data);
    if (ftp != nullptr) {
        std::free(ftp->error_code);
        std::free(ftp->message);
        std::free(ftp);
    }
}

void ftp_copy(void *src_data, void **dst_data) noexcept
{
    if (src_data == nullptr || dst_data == nullptr) {
        return;
    }
    const auto *src = static_cast<const FtpResponse *>(src_data);
    auto *dst = static_cast<FtpResponse *>(std::calloc(1, sizeof(FtpResponse)));
    if (dst != nullptr) {
        dst->code = src->code;
        dst->error_code = dup_or_null(src->error_code);
        dst->message = dup_or_null(src->message);
        if ((src->error_code != nullptr && dst->error_code == nullptr)
            || (src->message != nullptr && dst->message == nullptr)) {
            ftp_free(dst);
            dst = nullptr;
        }
    }
    *dst_data = dst;
}

const FtpResponse *ftp_of(ostrel_object_t *error) noexcept;

char *ftp_printable(ostrel_object_t *error) noexcept
{
    const FtpResponse *ftp = ftp_of(error);
    if (ftp == nullptr) {
        return strdup("");
    }
    try {
        std::string text = std::to_string(ftp->code);
        if (ftp->error_code != nullptr) {
            text += ' ';
            text += ftp->error_code;
        }
        if (ftp->message != nullptr) {
            text += ": ";
            text += ftp->message;
        }
        return strdup(text.c_str());
    } catch (...) {
        return nullptr;
    }
}

const ostrel_object_type_t ftp_response_error_type = {
    &OSTREL_ERROR_TYPE_BASE_DEFINITION, ftp_copy, ftp_free, ftp_printable};

const FtpResponse *ftp_of(ostrel_object_t *error) noexcept
{
    ostrel_object_t *view = ostrel_object_upcast(error, &ftp_response_error_type);
    return view != nullptr ? static_cast<const FtpResponse *>(ostrel_object_get_local_instance_data(view))
                           : nullptr;
}

const FtpResponse *first_ftp_in_chain(ostrel_object_t *error) noexcept
{
    for (ostrel_object_t *e = error; e != nullptr; e = ostrel_error_get_cause(e)) {
        if (const FtpResponse *ftp = ftp_of(e)) {
            return ftp;
        }
    }
    return nullptr;
}

ostrel_stand_in_base_error *base_of(ostrel_object_t *error) noexcept
{
    ostrel_object_t *view = ostrel_object_upcast(error, &OSTREL_ERROR_TYPE_BASE_DEFINITION);
    return view != nullptr ? static_cast<ostrel_stand_in_base_error *>(ostrel_object_get_local_instance_data(view))
                           : nullptr;
}

char *system_printable(ostrel_object_t *error) noexcept
{
    const ostrel_stand_in_base_error *base = base_of(error);
    char buf[256];
    const char *why = strerror_r(base != nullptr ? base->system_errno : 0, buf, sizeof buf);
    const char *what = base != nullptr && base->text != nullptr ? base->text : "System error";
    const int n = std::snprintf(nullptr, 0, "%s: %s", what, why);
    char *text = static_cast<char *>(std::malloc(static_cast<size_t>(n) + 1));
    if (text != nullptr) {
        std::snprintf(text, static_cast<size_t>(n) + 1, "%s: %s", what, why);
    }
    return text;
}

const ostrel_object_type_t system_error_type = {
    &OSTREL_ERROR_TYPE_BASE_DEFINITION, nullptr, nullptr, system_printable};

// Builds an error of type whose base level carries module, cause, errno and
// text; takes over cause and text, also when it fails.
ostrel_object_t *construct(const ostrel_object_type_t *type, const ostrel_module_descriptor_t *module,
                           ostrel_object_t *cause, int system_errno, char *text) noexcept
{
    ostrel_object_t *error = ostrel_object_construct(type);
    auto *base = static_cast<ostrel_stand_in_base_error *>(std::calloc(1, sizeof(ostrel_stand_in_base_error)));
    if (error == nullptr || base == nullptr) {
        ostrel_object_free(error);
        ostrel_object_free(cause);
        std::free(base);
        std::free(text);
        return nullptr;
    }
    base->module = module;
    base->cause = cause;
    base->system_errno = system_errno;
    base->text = text;
    ostrel_object_set_local_instance_data(ostrel_object_upcast(error, &OSTREL_ERROR_TYPE_BASE_DEFINITION), base);
    return error;
}

int gfs_activate() noexcept
{
    return 0;
}

int gfs_deactivate() noexcept
{
    return 0;
}

const ostrel_version_t gfs_version = {6, 0, 0, 0};

}  // namespace

ostrel_module_descriptor_t ostrel_i_gfs_module = {
    "ostrel_gridftp_server", gfs_activate, gfs_deactivate, nullptr, nullptr, &gfs_version, nullptr};

ostrel_object_t *ostrel_gfs_ftp_response_error_construct(
    const ostrel_module_descriptor_t *module, ostrel_object_t *cause, int response_code,
    const char *response_error_code, const char *format, ...) noexcept
{
    auto *ftp = static_cast<FtpResponse *>(std::calloc(1, sizeof(FtpResponse)));
    if (ftp == nullptr) {
        ostrel_object_free(cause);
        return nullptr;
    }
    ftp->code = response_code;
    ftp->error_code = dup_or_null(response_error_code);
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        ftp->message = vformat(format, args);
        va_end(args);
    }
    if ((response_error_code != nullptr && ftp->error_code == nullptr)
        || (format != nullptr && ftp->message == nullptr)) {
        ftp_free(ftp);
        ostrel_object_free(cause);
        return nullptr;
    }
    ostrel_object_t *error = construct(&ftp_response_error_type, module, cause, 0, nullptr);
    if (error == nullptr) {
        ftp_free(ftp);
        return nullptr;
    }
    ostrel_object_set_local_instance_data(error, ftp);
    return error;
}

ostrel_object_t *ostrel_i_gfs_error_system(
    const ostrel_module_descriptor_t *module, int system_errno, const char *format, ...) noexcept
{
    char *text = nullptr;
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        text = vformat(format, args);
        va_end(args);
        if (text == nullptr) {
            return nullptr;
        }
    }
    return construct(&system_error_type, module, nullptr, system_errno, text);
}

int ostrel_gfs_error_get_ftp_response_code(ostrel_object_t *error) noexcept
{
    const FtpResponse *ftp = first_ftp_in_chain(error);
    return ftp != nullptr ? ftp->code : 0;
}

const char *ostrel_gfs_error_get_ftp_response_error_code(ostrel_object_t *error) noexcept
{
    const FtpResponse *ftp = first_ftp_in_chain(error);
    return ftp != nullptr ? ftp->error_code : nullptr;
}

const char *ostrel_gfs_error_get_ftp_response_message(ostrel_object_t *error) noexcept
{
    const FtpResponse *ftp = first_ftp_in_chain(error);
    return ftp != nullptr ? ftp->message : nullptr;
}
