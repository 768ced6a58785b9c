// What a GridFTP client sees of a file beyond its name: the size it can
// read, the RFC 3659 listing facts, checksums, times in Drive's text, and
// the stripes of a download over several streams.
#include <openssl/evp.h>
#include <zlib.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string_view>

#include "api.h"
#include "error_shapes.h"
#include "exact_text.h"
#include "memory.h"
#include "stop.h"

namespace {

using namespace ostrel::gdc;
using Metadata = ostrel_google_metadata_t;

// "YYYYMMDDHHMMSS[.sss]" in UTC; false for a time gmtime cannot give.
[[nodiscard]] bool fact_time(time_t when, int milliseconds, char (&out)[32]) noexcept
{
    tm parts{};
    if (gmtime_r(&when, &parts) == nullptr || parts.tm_year + 1900 > 9999 || parts.tm_year + 1900 < 0) {
        return false;
    }
    const size_t n = std::strftime(out, sizeof out, "%Y%m%d%H%M%S", &parts);
    if (n == 0) {
        return false;
    }
    if (milliseconds >= 0 && milliseconds <= 999) {
        std::snprintf(out + n, sizeof out - n, ".%03d", milliseconds);
    }
    return true;
}

// A fact's value may hold neither ";" nor a control character nor a blank.
[[nodiscard]] bool is_fact_value(std::string_view value) noexcept
{
    for (const char c : value) {
        if (c == ';' || c == ' ' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            return false;
        }
    }
    return !value.empty();
}

template <class Sink>
void put_fact(Sink &out, std::string_view name, std::string_view value) noexcept
{
    if (is_fact_value(value)) {
        out.put(name);
        out.put('=');
        out.put(value);
        out.put(';');
    }
}

// The milliseconds of an RFC 3339 time's fraction, or -1 without one.
[[nodiscard]] int milliseconds_of(const char *text) noexcept
{
    if (text == nullptr) {
        return -1;
    }
    const char *dot = std::strchr(text, '.');
    if (dot == nullptr) {
        return -1;
    }
    int ms = 0;
    int digits = 0;
    for (const char *c = dot + 1; *c >= '0' && *c <= '9'; ++c) {
        if (digits < 3) {
            ms = ms * 10 + (*c - '0');
        }
        ++digits;
    }
    if (digits == 0) {
        return -1;
    }
    for (; digits < 3; ++digits) {
        ms *= 10;
    }
    return ms;
}

}  // namespace

bool ostrel_google_drive_client_size(const ostrel_google_metadata_t *file, uint64_t *sizep) noexcept
{
    OSTREL_GDC_REQUIRE(file != NULL);
    OSTREL_GDC_REQUIRE(sizep != NULL);
    *sizep = 0;
    switch (ostrel_google_drive_kind(file, nullptr)) {
    case OSTREL_GOOGLE_DRIVE_KIND_FILE:
        *sizep = file->size;
        return file->size_set;
    case OSTREL_GOOGLE_DRIVE_KIND_STUB: {
        size_t length = 0;
        const ostrel_result_t result = ostrel_google_drive_stub_content(file, nullptr, &length);
        if (result != OSTREL_SUCCESS) {
            ostrel_object_free(ostrel_error_get(result));
            return false;
        }
        *sizep = length;
        return true;
    }
    default:
        return false;  // an export's size is known only once exported
    }
}

unsigned ostrel_google_drive_capabilities(const json_t *resource) noexcept
{
    static constexpr struct {
        const char *name;
        unsigned bit;
    } names[] = {
        {"canDownload", OSTREL_GOOGLE_DRIVE_CAN_DOWNLOAD},
        {"canEdit", OSTREL_GOOGLE_DRIVE_CAN_EDIT},
        {"canTrash", OSTREL_GOOGLE_DRIVE_CAN_TRASH},
        {"canDelete", OSTREL_GOOGLE_DRIVE_CAN_DELETE},
        {"canRename", OSTREL_GOOGLE_DRIVE_CAN_RENAME},
        {"canListChildren", OSTREL_GOOGLE_DRIVE_CAN_LIST_CHILDREN},
        {"canAddChildren", OSTREL_GOOGLE_DRIVE_CAN_ADD_CHILDREN},
        {"canRemoveChildren", OSTREL_GOOGLE_DRIVE_CAN_REMOVE_CHILDREN},
    };
    const json_t *capabilities = json_object_get(resource, "capabilities");
    unsigned mask = 0;
    for (const auto &entry : names) {
        mask |= json_is_true(json_object_get(capabilities, entry.name)) ? entry.bit : 0;
    }
    // v3 also gives canEdit at the top level to old clients; it counts too.
    mask |= json_is_true(json_object_get(resource, "canEdit")) ? OSTREL_GOOGLE_DRIVE_CAN_EDIT : 0;
    return mask;
}

void ostrel_google_drive_resource_times(const json_t *resource, int *modified_msp, int *created_msp) noexcept
{
    OSTREL_GDC_REQUIRE(modified_msp != NULL);
    OSTREL_GDC_REQUIRE(created_msp != NULL);
    *modified_msp = milliseconds_of(json_string_value(json_object_get(resource, "modifiedTime")));
    *created_msp = milliseconds_of(json_string_value(json_object_get(resource, "createdTime")));
}

ostrel_result_t ostrel_google_drive_facts(const ostrel_google_metadata_t *file, unsigned capabilities,
                                          int modified_ms, int created_ms, char **factsp) noexcept
{
    OSTREL_GDC_REQUIRE(file != NULL);
    OSTREL_GDC_REQUIRE(factsp != NULL);
    *factsp = nullptr;
    const char *export_mime = nullptr;
    const ostrel_google_drive_kind_t kind = ostrel_google_drive_kind(file, &export_mime);
    const bool folder = kind == OSTREL_GOOGLE_DRIVE_KIND_FOLDER;
    uint64_t size = 0;
    const bool sized = ostrel_google_drive_client_size(file, &size);
    char size_text[24];
    std::snprintf(size_text, sizeof size_text, "%" PRIu64, size);
    char modify[32] = {};
    char create[32] = {};
    const bool modify_known = file->modified_time_set && fact_time(file->modified_time, modified_ms, modify);
    const bool create_known = file->created_time_set && fact_time(file->created_time, created_ms, create);
    const auto can = [capabilities](unsigned bit) { return (capabilities & bit) != 0; };
    char perm[12] = {};
    size_t n = 0;
    if (folder) {
        if (can(OSTREL_GOOGLE_DRIVE_CAN_LIST_CHILDREN)) {
            perm[n++] = 'e';
            perm[n++] = 'l';
        }
        if (can(OSTREL_GOOGLE_DRIVE_CAN_ADD_CHILDREN)) {
            perm[n++] = 'c';
            perm[n++] = 'm';
        }
        if (can(OSTREL_GOOGLE_DRIVE_CAN_REMOVE_CHILDREN)) {
            perm[n++] = 'p';
        }
    } else {
        // A stub's content is the library's own: always readable.
        const bool readable = kind == OSTREL_GOOGLE_DRIVE_KIND_STUB
                              || ((kind == OSTREL_GOOGLE_DRIVE_KIND_FILE || kind == OSTREL_GOOGLE_DRIVE_KIND_EXPORT)
                                  && can(OSTREL_GOOGLE_DRIVE_CAN_DOWNLOAD));
        if (readable) {
            perm[n++] = 'r';
        }
    }
    if (can(OSTREL_GOOGLE_DRIVE_CAN_RENAME)) {
        perm[n++] = 'f';
    }
    if (!folder && can(OSTREL_GOOGLE_DRIVE_CAN_EDIT)) {
        perm[n++] = 'w';
    }
    if (can(OSTREL_GOOGLE_DRIVE_CAN_TRASH) || can(OSTREL_GOOGLE_DRIVE_CAN_DELETE)) {
        perm[n++] = 'd';
    }
    const char *const media_type = export_mime != nullptr ? export_mime : file->mime_type;
    const ExactText text = exact_text([&](auto &out) {
        out.put(folder ? "type=dir;" : "type=file;");
        if (sized) {
            put_fact(out, "size", size_text);
        }
        if (modify_known) {
            put_fact(out, "modify", modify);
        }
        if (create_known) {
            put_fact(out, "create", create);
        }
        out.put("perm=");
        out.put(perm);
        out.put(';');
        if (file->id != nullptr) {
            put_fact(out, "unique", file->id);
        }
        if (!folder && media_type != nullptr) {
            put_fact(out, "media-type", media_type);
        }
    });
    if (text.text == nullptr) {
        return system_error("malloc");
    }
    OSTREL_GDC_REQUIRE(text.written == text.counted);
    *factsp = text.text;
    return OSTREL_SUCCESS;
}

ostrel_result_t ostrel_google_drive_drive_md5(const ostrel_google_metadata_t *file, uint64_t offset, uint64_t length,
                                              const char **md5p) noexcept
{
    OSTREL_GDC_REQUIRE(file != NULL);
    OSTREL_GDC_REQUIRE(md5p != NULL);
    *md5p = nullptr;
    const bool ordinary = ostrel_google_drive_kind(file, nullptr) == OSTREL_GOOGLE_DRIVE_KIND_FILE;
    const bool whole = offset == 0 && (length == UINT64_MAX || (file->size_set && length == file->size));
    if (ordinary && whole && file->md5_checksum[0] != '\0') {
        *md5p = file->md5_checksum;
        return OSTREL_SUCCESS;
    }
    const char *why = !ordinary ? "Drive keeps an MD5 of ordinary files only, not of documents, exports or stubs"
                      : !whole  ? "Drive's MD5 is of the whole file; a range is computed from its bytes"
                                : "Drive keeps no MD5 of this file";
    const char *const path = file->name != nullptr ? file->name : file->id;
    return drive_ftp_error(550, "NO_CHECKSUM", path,
                           {{"GD-Operation", "Checksum of a file"}, {"GD-Path", path}, {"GD-Details", why}});
}

// An incremental checksum: zlib's for ADLER32 and CRC32, OpenSSL's MD5.
struct ostrel_google_drive_checksum_s {
    enum class Kind { md5, adler32, crc32 } kind;
    uLong value;
    EVP_MD_CTX *md5;
};

ostrel_result_t ostrel_google_drive_checksum_create(const char *algorithm,
                                                    ostrel_google_drive_checksum_t **checksump) noexcept
{
    OSTREL_GDC_REQUIRE(algorithm != NULL);
    OSTREL_GDC_REQUIRE(checksump != NULL);
    *checksump = nullptr;
    using Kind = ostrel_google_drive_checksum_s::Kind;
    Kind kind = Kind::md5;
    if (strcasecmp(algorithm, "MD5") == 0) {
        kind = Kind::md5;
    } else if (strcasecmp(algorithm, "ADLER32") == 0) {
        kind = Kind::adler32;
    } else if (strcasecmp(algorithm, "CRC32") == 0) {
        kind = Kind::crc32;
    } else {
        return drive_ftp_error(504, "UNKNOWN_ALGORITHM", nullptr,
                               {{"GD-Operation", "Checksum of a file"},
                                {"GD-Details", "The checksum algorithms are MD5, ADLER32 and CRC32"}});
    }
    void *block = mem_malloc(sizeof(ostrel_google_drive_checksum_t));
    if (block == nullptr) {
        return system_error("malloc");
    }
    auto *checksum = new (block) ostrel_google_drive_checksum_t{kind, 0, nullptr};
    if (kind == Kind::adler32) {
        checksum->value = adler32(0L, Z_NULL, 0);
    } else if (kind == Kind::crc32) {
        checksum->value = crc32(0L, Z_NULL, 0);
    } else {
        checksum->md5 = EVP_MD_CTX_new();
        if (checksum->md5 == nullptr || EVP_DigestInit_ex(checksum->md5, EVP_md5(), nullptr) != 1) {
            ostrel_google_drive_checksum_free(checksum);
            errno = ENOMEM;
            return system_error("EVP_DigestInit_ex");
        }
    }
    *checksump = checksum;
    return OSTREL_SUCCESS;
}

void ostrel_google_drive_checksum_update(ostrel_google_drive_checksum_t *checksum, const void *data,
                                         size_t length) noexcept
{
    OSTREL_GDC_REQUIRE(checksum != NULL);
    OSTREL_GDC_REQUIRE(data != NULL || length == 0);
    using Kind = ostrel_google_drive_checksum_s::Kind;
    const auto *bytes = static_cast<const Bytef *>(data);
    while (length != 0) {
        // zlib counts in uInt.
        const uInt piece = length > 0x40000000u ? 0x40000000u : static_cast<uInt>(length);
        if (checksum->kind == Kind::adler32) {
            checksum->value = adler32(checksum->value, bytes, piece);
        } else if (checksum->kind == Kind::crc32) {
            checksum->value = crc32(checksum->value, bytes, piece);
        } else {
            (void) EVP_DigestUpdate(checksum->md5, bytes, piece);
        }
        bytes += piece;
        length -= piece;
    }
}

char *ostrel_google_drive_checksum_text(const ostrel_google_drive_checksum_t *checksum) noexcept
{
    OSTREL_GDC_REQUIRE(checksum != NULL);
    char text[33] = {};
    if (checksum->kind == ostrel_google_drive_checksum_s::Kind::md5) {
        EVP_MD_CTX *copy = EVP_MD_CTX_new();
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        const bool done = copy != nullptr && EVP_MD_CTX_copy_ex(copy, checksum->md5) == 1
                          && EVP_DigestFinal_ex(copy, digest, &size) == 1 && size == 16;
        EVP_MD_CTX_free(copy);
        if (!done) {
            return nullptr;
        }
        for (unsigned i = 0; i < 16; ++i) {
            std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
        }
    } else {
        std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(checksum->value & 0xffffffffUL));
    }
    return mem_strdup(text);
}

void ostrel_google_drive_checksum_free(ostrel_google_drive_checksum_t *checksum) noexcept
{
    if (checksum != nullptr) {
        EVP_MD_CTX_free(checksum->md5);
        std::free(checksum);
    }
}

size_t ostrel_google_drive_stripes(uint64_t size, unsigned streams, uint64_t min_stripe, uint64_t *offsets,
                                   uint64_t *lengths, size_t capacity) noexcept
{
    OSTREL_GDC_REQUIRE(offsets != NULL || capacity == 0);
    OSTREL_GDC_REQUIRE(lengths != NULL || capacity == 0);
    if (size == 0) {
        return 0;
    }
    const uint64_t unit = OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_UNIT;
    const uint64_t smallest = min_stripe != 0 ? min_stripe : unit;
    uint64_t count = streams != 0 ? streams : 1;
    const uint64_t most = (size + smallest - 1) / smallest;
    count = count < most ? count : most;
    count = count < capacity ? count : capacity;
    if (count == 0) {
        return 0;
    }
    // Equal stripes, each but the last a multiple of 256 KiB.
    uint64_t stripe = (size + count - 1) / count;
    stripe = (stripe + unit - 1) / unit * unit;
    size_t n = 0;
    for (uint64_t at = 0; at < size && n < count; ++n) {
        offsets[n] = at;
        lengths[n] = n + 1 == count || size - at < stripe ? size - at : stripe;
        at += lengths[n];
    }
    return n;
}
