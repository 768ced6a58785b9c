// Drive requests: every request built is valid against Drive v3's documented
// parameters and File fields, its queries parse under Drive's quote grammar
// back to the names meant, and reads ask for the right bytes.
#include <gtest/gtest.h>
#include <jansson.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "drive_request.h"
#include "exact_text.h"
#include "lookup.h"
#include "support/names.h"
#include "support/trace_capture.h"

namespace {

using ostrel::test::ModuleTest;
using ostrel::test::OwnedError;
using ostrel::test::text_or_null;
using Request = ostrel_google_drive_request_t;

class DriveRequest : public ModuleTest {
protected:
    void TearDown() override
    {
        EXPECT_EQ(ostrel_google_drive_export_set_config(nullptr, nullptr, nullptr, nullptr), OSTREL_SUCCESS);
        ModuleTest::TearDown();
    }
};

struct Freed {
    void operator()(Request *r) const { ostrel_google_drive_request_free(r); }
};
using Owned = std::unique_ptr<Request, Freed>;

// The v3 File resource's fields, and those of the resources inside it that
// the masks reach, from Drive's reference.
const std::set<std::string> file_fields = {
    "kind", "driveId", "fileExtension", "copyRequiresWriterPermission", "md5Checksum", "contentHints",
    "writersCanShare", "viewedByMe", "mimeType", "exportLinks", "parents", "thumbnailLink", "iconLink", "shared",
    "lastModifyingUser", "owners", "headRevisionId", "sharingUser", "webViewLink", "webContentLink", "size",
    "viewersCanCopyContent", "permissions", "hasThumbnail", "spaces", "folderColorRgb", "id", "name",
    "description", "starred", "trashed", "explicitlyTrashed", "createdTime", "modifiedTime", "modifiedByMeTime",
    "viewedByMeTime", "sharedWithMeTime", "quotaBytesUsed", "version", "originalFilename", "ownedByMe",
    "fullFileExtension", "properties", "appProperties", "isAppAuthorized", "capabilities",
    "hasAugmentedPermissions", "trashingUser", "thumbnailVersion", "trashedTime", "modifiedByMe",
    "permissionIds", "imageMediaMetadata", "videoMediaMetadata", "shortcutDetails", "contentRestrictions",
    "resourceKey", "linkShareMetadata", "labelInfo", "sha1Checksum", "sha256Checksum"};
const std::map<std::string, std::set<std::string>> nested_fields = {
    {"owners", {"kind", "displayName", "photoLink", "me", "permissionId", "emailAddress"}},
    {"capabilities", {"canEdit", "canComment", "canCopy", "canDelete", "canDownload", "canRename", "canTrash",
                      "canAddChildren", "canListChildren", "canRemoveChildren", "canShare"}},
};
const std::set<std::string> list_fields = {"kind", "nextPageToken", "incompleteSearch", "files"};

// The documented query parameters of each method, the system's "fields" included.
const std::map<std::string, std::set<std::string>> method_params = {
    {"GET /drive/v3/files",
     {"corpora", "driveId", "includeItemsFromAllDrives", "orderBy", "pageSize", "pageToken", "q", "spaces",
      "supportsAllDrives", "fields"}},
    {"GET /drive/v3/files/ID", {"acknowledgeAbuse", "supportsAllDrives", "alt", "fields"}},
    {"GET /drive/v3/files/ID/export", {"mimeType", "fields"}},
    {"POST /drive/v3/files", {"ignoreDefaultVisibility", "keepRevisionForever", "supportsAllDrives", "fields"}},
    {"POST /upload/drive/v3/files", {"uploadType", "supportsAllDrives", "fields"}},
    {"PATCH /drive/v3/files/ID", {"addParents", "removeParents", "supportsAllDrives", "fields"}},
    {"DELETE /drive/v3/files/ID", {"supportsAllDrives"}},
};

std::string percent_decoded(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            EXPECT_LE(i + 2, text.size() - 1) << text;
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

struct Url {
    std::string method_path;  // "GET /drive/v3/files/ID"
    std::string id;           // the id segment, decoded
    std::map<std::string, std::string> params;
};

// Reads a URL under base, checking that only unreserved characters and the
// delimiters stand unencoded.
Url parse_url(const Request &r, const std::string &base)
{
    const std::string url = r.url;
    EXPECT_EQ(url.rfind(base, 0), 0u) << url;
    for (const char c : url.substr(base.size())) {
        EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || std::strchr("-._~/?&=%", c) != nullptr) << url;
    }
    const std::string rest = url.substr(base.size());
    const size_t query = rest.find('?');
    std::string path = rest.substr(0, query);
    Url out;
    for (const char *prefix : {"/drive/v3/files/", "/upload/drive/v3/files/"}) {
        if (path.rfind(prefix, 0) == 0) {
            const std::string tail = path.substr(std::strlen(prefix));
            const size_t slash = tail.find('/');
            out.id = percent_decoded(tail.substr(0, slash));
            path = prefix + std::string("ID") + (slash == std::string::npos ? "" : tail.substr(slash));
        }
    }
    out.method_path = std::string(r.method) + " " + path;
    for (size_t at = query; at != std::string::npos && at < rest.size();) {
        const size_t end = rest.find('&', at + 1);
        const std::string pair = rest.substr(at + 1, end == std::string::npos ? end : end - at - 1);
        const size_t eq = pair.find('=');
        EXPECT_NE(eq, std::string::npos) << url;
        EXPECT_TRUE(out.params.emplace(pair.substr(0, eq), percent_decoded(pair.substr(eq + 1))).second) << url;
        at = end;
    }
    return out;
}

// A field mask's top-level items, with parentheses kept whole.
std::vector<std::string> mask_items(const std::string &mask)
{
    std::vector<std::string> items;
    int depth = 0;
    std::string item;
    for (const char c : mask) {
        depth += c == '(' ? 1 : c == ')' ? -1 : 0;
        if (c == ',' && depth == 0) {
            items.push_back(item);
            item.clear();
        } else {
            item += c;
        }
    }
    items.push_back(item);
    return items;
}

void check_file_mask(const std::string &mask)
{
    for (const std::string &item : mask_items(mask)) {
        const size_t slash = item.find('/');
        const std::string field = item.substr(0, slash);
        EXPECT_TRUE(file_fields.count(field)) << field << " in " << mask;
        if (slash != std::string::npos) {
            EXPECT_TRUE(nested_fields.count(field) && nested_fields.at(field).count(item.substr(slash + 1)))
                << item << " in " << mask;
        }
    }
}

void check_list_mask(const std::string &mask)
{
    for (const std::string &item : mask_items(mask)) {
        if (item.rfind("files(", 0) == 0 && item.back() == ')') {
            check_file_mask(item.substr(6, item.size() - 7));
        } else {
            EXPECT_TRUE(list_fields.count(item)) << item << " in " << mask;
        }
    }
}

// The literals of a Drive query in order, read under its grammar: between
// single quotes, with \' and \\ the only escapes. Fails on anything else.
bool query_literals(const std::string &query, std::vector<std::string> *literals)
{
    for (size_t i = 0; i < query.size(); ++i) {
        if (query[i] != '\'') {
            continue;
        }
        std::string literal;
        for (++i;; ++i) {
            if (i == query.size()) {
                return false;
            }
            if (query[i] == '\'') {
                break;
            }
            if (query[i] == '\\') {
                if (i + 1 == query.size() || (query[i + 1] != '\'' && query[i + 1] != '\\')) {
                    return false;
                }
                ++i;
            }
            literal += query[i];
        }
        literals->push_back(literal);
    }
    return true;
}

// Every request: valid against v3, and supportsAllDrives wherever the
// method takes it.
void check_request(const Request &r, const std::string &base)
{
    SCOPED_TRACE(r.url);
    const Url url = parse_url(r, base);
    ASSERT_TRUE(method_params.count(url.method_path)) << url.method_path;
    const std::set<std::string> &allowed = method_params.at(url.method_path);
    for (const auto &[name, value] : url.params) {
        EXPECT_TRUE(allowed.count(name)) << name;
    }
    if (allowed.count("supportsAllDrives")) {
        EXPECT_EQ(url.params.count("supportsAllDrives") ? url.params.at("supportsAllDrives") : "", "true");
    }
    if (url.params.count("fields")) {
        if (url.method_path == "GET /drive/v3/files") {
            check_list_mask(url.params.at("fields"));
        } else {
            check_file_mask(url.params.at("fields"));
        }
    }
    if (url.params.count("q")) {
        std::vector<std::string> literals;
        EXPECT_TRUE(query_literals(url.params.at("q"), &literals)) << url.params.at("q");
    }
    if (r.body != nullptr) {
        json_error_t error;
        json_t *body = json_loadb(r.body, r.body_length, 0, &error);
        EXPECT_TRUE(json_is_object(body)) << error.text;
        json_decref(body);
        ASSERT_EQ(r.header_count, 1u);
        EXPECT_STREQ(r.headers[0].name, "Content-Type");
    }
}

// Names with what quoting and encoding must get right.
std::string random_name(std::mt19937 &random)
{
    static const std::vector<std::string> pieces = {"a", "Z", "'", "\\", "\"", " ", "%", "&", "=", "+", "?", "#",
                                                    "\xc3\xa9", "\xe2\x82\xac", "\t", "\x01", "{", "}", "."};
    std::string name;
    const size_t length = 1 + random() % 8;
    for (size_t i = 0; i < length; ++i) {
        name += pieces[random() % pieces.size()];
    }
    return name;
}

TEST_F(DriveRequest, EveryRequestBuiltIsValidAgainstDriveV3)
{
    std::mt19937 random(20261209);
    const std::string base = "http://127.0.0.1:8080";
    for (int round = 0; round < 300; ++round) {
        const std::string name = random_name(random);
        SCOPED_TRACE(name);
        std::vector<Owned> built;
        const auto take = [&built](ostrel_result_t result, Request *&r) {
            if (result == OSTREL_SUCCESS) {
                built.emplace_back(r);
            } else {
                OwnedError discarded(result);
                EXPECT_EQ(r, nullptr);
            }
        };
        Request *r = nullptr;
        char *query = nullptr;
        bool whole = false;
        const ostrel_result_t looked_up = ostrel_google_drive_lookup_query("root", name.c_str(), &query, &whole);
        if (looked_up == OSTREL_SUCCESS) {
            take(ostrel_google_drive_request_list((base + "/").c_str(), query, name.c_str(), &r), r);
            std::free(query);
        } else {
            OwnedError discarded(looked_up);
        }
        // The walker's narrow query asks even for "'" and "\\" by name, escaped.
        const ostrel_result_t narrowed = ostrel::gdc::name_query("root", name.c_str(), true, &query, &whole);
        if (narrowed == OSTREL_SUCCESS) {
            std::vector<std::string> literals;
            EXPECT_TRUE(query_literals(query, &literals)) << query;
            const ostrel::test::Inbound in = ostrel::test::translate_in(name, false);
            ASSERT_EQ(in.result, OSTREL_SUCCESS) << name;
            EXPECT_EQ(literals.size() > 1 ? literals[1] : "", in.name) << query;
            take(ostrel_google_drive_request_list(base.c_str(), query, nullptr, &r), r);
            std::free(query);
        } else {
            OwnedError discarded(narrowed);
        }
        ASSERT_EQ(ostrel_google_drive_folder_query("a-B_9", round % 2 == 0, &query), OSTREL_SUCCESS);
        take(ostrel_google_drive_request_list(base.c_str(), query, nullptr, &r), r);
        std::free(query);
        take(ostrel_google_drive_request_get(base.c_str(), "root", nullptr, &r), r);
        take(ostrel_google_drive_request_get(base.c_str(), "f 1", "id", &r), r);
        take(ostrel_google_drive_request_create_folder(base.c_str(), "p1", name.c_str(), &r), r);
        take(ostrel_google_drive_request_update(base.c_str(), "f1", name.c_str(), "p1", "p2", &r), r);
        take(ostrel_google_drive_request_update(base.c_str(), "f1", nullptr, nullptr, nullptr, &r), r);
        take(ostrel_google_drive_request_trash(base.c_str(), "f1", &r), r);
        take(ostrel_google_drive_request_delete(base.c_str(), "f1", &r), r);
        take(ostrel::gdc::request_upload_start(base.c_str(), "p1", name.c_str(), &r), r);
        for (const char *mime : {"text/plain", "application/vnd.google-apps.document"}) {
            ostrel_google_metadata_t file = {};
            file.id = const_cast<char *>("f1");
            file.mime_type = const_cast<char *>(mime);
            uint64_t skip = 0;
            ASSERT_EQ(ostrel_google_drive_export_set_config(round % 2 == 0 ? "pdf" : nullptr, nullptr, nullptr,
                                                            nullptr),
                      OSTREL_SUCCESS);
            ASSERT_EQ(ostrel_google_drive_request_read(base.c_str(), &file, random() % 3, 0, &r, &skip),
                      OSTREL_SUCCESS);
            if (r != nullptr) {
                built.emplace_back(r);
            }
        }
        for (const Owned &request : built) {
            check_request(*request, base);
        }
    }
}

TEST_F(DriveRequest, QueriesAndBodiesCarryNamesExactly)
{
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        const std::string name = random_name(random);
        const ostrel::gdc::ExactText query = ostrel::gdc::exact_text([&name](auto &out) {
            out.put("'root' in parents and name = '");
            ostrel::gdc::put_query_quoted(out, name);
            out.put('\'');
        });
        std::vector<std::string> literals;
        ASSERT_TRUE(query_literals(query.text, &literals)) << query.text;
        EXPECT_EQ(literals, (std::vector<std::string>{"root", name}));
        std::free(query.text);

        // The created folder's name is the inbound translation of the client name.
        Request *r = nullptr;
        const ostrel::test::Inbound in = ostrel::test::translate_in(name, true);
        const ostrel_result_t result = ostrel_google_drive_request_create_folder(nullptr, "p1", name.c_str(), &r);
        ASSERT_EQ(result == OSTREL_SUCCESS, in.result == OSTREL_SUCCESS) << name;
        if (result != OSTREL_SUCCESS) {
            OwnedError first(in.result);
            OwnedError second(result);
            continue;
        }
        const Owned owned(r);
        json_t *body = json_loadb(r->body, r->body_length, 0, nullptr);
        ASSERT_NE(body, nullptr) << r->body;
        EXPECT_EQ(json_string_value(json_object_get(body, "name")), in.name);
        EXPECT_STREQ(json_string_value(json_object_get(body, "mimeType")), "application/vnd.google-apps.folder");
        EXPECT_STREQ(json_string_value(json_array_get(json_object_get(body, "parents"), 0)), "p1");
        json_decref(body);
        EXPECT_EQ(std::string(r->url), "https://www.googleapis.com/drive/v3/files?fields="
                                       "id%2Cname%2CdriveId%2CmimeType%2CcreatedTime%2CviewedByMeTime%2CmodifiedTime"
                                       "%2CownedByMe%2Cowners%2FemailAddress%2Ccapabilities%2FcanEdit"
                                       "%2Ccapabilities%2FcanDownload%2Ccapabilities%2FcanTrash%2Ccapabilities%2FcanDelete"
                                       "%2Ccapabilities%2FcanRename%2Ccapabilities%2FcanListChildren"
                                       "%2Ccapabilities%2FcanAddChildren%2Ccapabilities%2FcanRemoveChildren%2Cstarred"
                                       "%2Ctrashed%2CexplicitlyTrashed%2Cmd5Checksum%2Csize%2Cparents"
                                       "&supportsAllDrives=true");
    }
}

struct ReadCase {
    const char *mime_type;
    bool size_set;
    uint64_t size;
    uint64_t offset;
    uint64_t length;
    int code;           // 0: success
    const char *range;  // the Range header, "" for none, NULL for no request
    uint64_t skip;
};

TEST_F(DriveRequest, ReadsAskForTheBytesWantedAndRefuseWhatHasNone)
{
    ASSERT_EQ(ostrel_google_drive_export_set_config("pdf", nullptr, nullptr, nullptr), OSTREL_SUCCESS);
    constexpr uint64_t max = UINT64_MAX;
    const ReadCase cases[] = {
        {"text/plain", true, 100, 0, 0, 0, "", 0},
        {"text/plain", true, 100, 0, 100, 0, "", 0},
        {"text/plain", true, 100, 0, 10, 0, "bytes=0-9", 0},
        {"text/plain", true, 100, 10, 0, 0, "bytes=10-99", 0},
        {"text/plain", true, 100, 10, 500, 0, "bytes=10-99", 0},
        {"text/plain", true, 100, 10, max, 0, "bytes=10-99", 0},
        {"text/plain", true, 100, 99, 1, 0, "bytes=99-99", 0},
        {"text/plain", true, 100, 100, 0, 0, nullptr, 0},  // nothing left: no request
        {"text/plain", true, 100, 101, 0, 554, nullptr, 0},
        {"text/plain", true, 0, 0, 5, 0, nullptr, 0},  // nothing to read, and 416 on any range of it
        {"text/plain", true, 0, 1, 0, 554, nullptr, 0},
        {"text/plain", false, 0, 7, 0, 0, "bytes=7-", 0},
        {"text/plain", false, 0, 7, 3, 0, "bytes=7-9", 0},
        {"text/plain", false, 0, max, 2, 0, "bytes=18446744073709551615-", 0},
        {nullptr, false, 0, 0, 0, 0, "", 0},
        {"application/vnd.google-apps.document", false, 0, 30, 4, 0, "", 30},  // an export: no ranges
        {"application/vnd.google-apps.spreadsheet", false, 0, 5, 0, 0, nullptr, 5},  // a stub
        {"application/vnd.google-apps.shortcut", false, 0, 500, 0, 554, nullptr, 0},
        {"application/vnd.google-apps.folder", true, 0, 0, 0, 550, nullptr, 0},
        {"application/vnd.google-apps.form2", false, 0, 0, 0, 550, nullptr, 0},
    };
    for (const ReadCase &c : cases) {
        SCOPED_TRACE(std::string(c.mime_type ? c.mime_type : "NULL") + " at " + std::to_string(c.offset));
        ostrel_google_metadata_t file = {};
        file.id = const_cast<char *>("f1");
        file.name = const_cast<char *>("n");
        file.mime_type = const_cast<char *>(c.mime_type);
        file.size_set = c.size_set;
        file.size = c.size;
        Request *r = nullptr;
        uint64_t skip = 99999;
        const ostrel_result_t result = ostrel_google_drive_request_read(nullptr, &file, c.offset, c.length, &r, &skip);
        const Owned owned(r);
        EXPECT_EQ(skip, c.skip);
        if (c.code != 0) {
            OwnedError error(result);
            EXPECT_EQ(ostrel_gfs_error_get_ftp_response_code(error.error), c.code);
            EXPECT_EQ(r, nullptr);
            continue;
        }
        ASSERT_EQ(result, OSTREL_SUCCESS);
        ASSERT_EQ(r == nullptr, c.range == nullptr);
        if (r == nullptr) {
            continue;
        }
        const std::string range = r->header_count == 1 ? r->headers[0].value : "";
        EXPECT_EQ(range, c.range);
        EXPECT_EQ(std::string(r->url).find("/export?mimeType=application%2Fpdf") != std::string::npos,
                  std::strcmp(c.mime_type ? c.mime_type : "", "application/vnd.google-apps.document") == 0);
    }
}

TEST_F(DriveRequest, RefusesIdsOutsideTheIdSetAndExportSuffixesWhenWriting)
{
    Request *r = nullptr;
    for (const char *id : {"", "a'b", "a/b", "a\\"}) {
        OwnedError error(ostrel_google_drive_request_get(nullptr, id, nullptr, &r));
        EXPECT_STREQ(ostrel_gfs_error_get_ftp_response_error_code(error.error), "INVALID_PATH_NAME") << id;
        EXPECT_EQ(r, nullptr);
        char *query = nullptr;
        OwnedError folder(ostrel_google_drive_folder_query(id, false, &query));
        EXPECT_EQ(ostrel_gfs_error_get_ftp_response_code(folder.error), 553);
    }
    OwnedError suffix(ostrel_google_drive_request_create_folder(nullptr, "p", "a{export-gdoc}.pdf", &r));
    EXPECT_EQ(ostrel_gfs_error_get_ftp_response_code(suffix.error), 553);
    OwnedError upload(ostrel::gdc::request_upload_start(nullptr, "p", "a{export-gdoc}.pdf", &r));
    EXPECT_EQ(ostrel_gfs_error_get_ftp_response_code(upload.error), 553);
    // A client's name holding "/" is refused, not a stop.
    OwnedError slash(ostrel_google_drive_request_create_folder(nullptr, "p", "a/b", &r));
    EXPECT_STREQ(ostrel_google_drive_error_get_info(slash.error, "GD-Details"), "A path element cannot hold \"/\"");
    EXPECT_EQ(r, nullptr);
    OwnedError slash_upload(ostrel::gdc::request_upload_start(nullptr, "p", "a/b", &r));
    EXPECT_EQ(ostrel_gfs_error_get_ftp_response_code(slash_upload.error), 553);
}

// Each change asks for exactly itself: a move names both parents, since
// Drive no longer allows a second one; DELE's trash is a PATCH, not a DELETE.
TEST_F(DriveRequest, RenamesMovesTrashAndDeleteChangeOnlyWhatTheySay)
{
    using Params = std::map<std::string, std::string>;
    const std::string base = "http://127.0.0.1:1";
    const Params all_drives = {{"supportsAllDrives", "true"}};
    const Params move = {{"supportsAllDrives", "true"}, {"addParents", "p2"}, {"removeParents", "p1"}};
    const char *b = base.c_str();
    Request *r[5] = {};
    ASSERT_EQ(ostrel_google_drive_request_update(b, "f1", "new name", nullptr, nullptr, &r[0]), OSTREL_SUCCESS);
    ASSERT_EQ(ostrel_google_drive_request_update(b, "f1", nullptr, "p1", "p2", &r[1]), OSTREL_SUCCESS);
    ASSERT_EQ(ostrel_google_drive_request_update(b, "f1", "a{slash}b", "p1", "p2", &r[2]), OSTREL_SUCCESS);
    ASSERT_EQ(ostrel_google_drive_request_trash(b, "f1", &r[3]), OSTREL_SUCCESS);
    ASSERT_EQ(ostrel_google_drive_request_delete(b, "f1", &r[4]), OSTREL_SUCCESS);
    const struct {
        const char *method;
        Params params;  // besides fields
        const char *body;
    } cases[] = {
        {"PATCH", all_drives, "{\"name\": \"new name\"}"},
        {"PATCH", move, "{}"},
        {"PATCH", move, "{\"name\": \"a/b\"}"},
        {"PATCH", all_drives, "{\"trashed\": true}"},
        {"DELETE", all_drives, nullptr},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Owned owned(r[i]);
        SCOPED_TRACE(r[i]->url);
        Url url = parse_url(*r[i], base);
        url.params.erase("fields");
        EXPECT_EQ(url.method_path, std::string(cases[i].method) + " /drive/v3/files/ID");
        EXPECT_EQ(url.id, "f1");
        EXPECT_EQ(url.params, cases[i].params);
        EXPECT_EQ(text_or_null(r[i]->body), text_or_null(cases[i].body));
    }
}

TEST_F(DriveRequest, UploadSessionRequestsSayWhichBytes)
{
    Request *r = nullptr;
    const char *uri = "https://www.googleapis.com/upload/drive/v3/files?uploadType=resumable&upload_id=xa";
    ASSERT_EQ(ostrel::gdc::request_upload_chunk(uri, 262144, 262144, 600000, &r), OSTREL_SUCCESS);
    Owned chunk(r);
    EXPECT_STREQ(r->method, "PUT");
    EXPECT_STREQ(r->url, uri);
    EXPECT_STREQ(r->headers[0].value, "bytes 262144-524287/600000");
    EXPECT_EQ(r->data_offset, 262144u);
    EXPECT_EQ(r->data_length, 262144u);
    EXPECT_EQ(r->body, nullptr);
    ASSERT_EQ(ostrel::gdc::request_upload_status(uri, 600000, &r), OSTREL_SUCCESS);
    Owned status(r);
    EXPECT_STREQ(r->headers[0].value, "bytes */600000");
    EXPECT_EQ(r->data_length, 0u);
    for (const char *bad : {"", "ftp://x", "https://a b", "https://a\r\nX: y"}) {
        OwnedError error(ostrel::gdc::request_upload_status(bad, 1, &r));
        EXPECT_STREQ(ostrel_gfs_error_get_ftp_response_error_code(error.error), "DRIVE_ERROR") << bad;
    }
}

// The tool's ls -l types come from this: one table of every kind.
TEST_F(DriveRequest, KindFollowsTheMimeTypeAndTheExportConfiguration)
{
    ASSERT_EQ(ostrel_google_drive_export_set_config("pdf", nullptr, nullptr, nullptr), OSTREL_SUCCESS);
    const struct {
        const char *mime_type;
        ostrel_google_drive_kind_t kind;
        const char *export_mime;
    } cases[] = {
        {"application/vnd.google-apps.folder", OSTREL_GOOGLE_DRIVE_KIND_FOLDER, nullptr},
        {"text/plain", OSTREL_GOOGLE_DRIVE_KIND_FILE, nullptr},
        {nullptr, OSTREL_GOOGLE_DRIVE_KIND_FILE, nullptr},
        {"application/pdf", OSTREL_GOOGLE_DRIVE_KIND_FILE, nullptr},
        {"application/vnd.google-apps.document", OSTREL_GOOGLE_DRIVE_KIND_EXPORT, "application/pdf"},
        {"application/vnd.google-apps.spreadsheet", OSTREL_GOOGLE_DRIVE_KIND_STUB, nullptr},
        {"application/vnd.google-apps.shortcut", OSTREL_GOOGLE_DRIVE_KIND_STUB, nullptr},
        {"application/vnd.google-apps.form2", OSTREL_GOOGLE_DRIVE_KIND_NO_CONTENT, nullptr},
        {"application/vnd.google-apps.folderish", OSTREL_GOOGLE_DRIVE_KIND_NO_CONTENT, nullptr},
    };
    for (const auto &c : cases) {
        ostrel_google_metadata_t file = {};
        file.mime_type = const_cast<char *>(c.mime_type);
        const char *export_mime = "unset";
        EXPECT_EQ(ostrel_google_drive_kind(&file, &export_mime), c.kind) << text_or_null(c.mime_type);
        EXPECT_EQ(text_or_null(export_mime), text_or_null(c.export_mime)) << text_or_null(c.mime_type);
    }
}

TEST_F(DriveRequest, StubContentIsTheOpenLinkAndItsLengthIsKnownWithoutIt)
{
    ostrel_google_metadata_t file = {};
    file.id = const_cast<char *>("1aB_-");
    file.mime_type = const_cast<char *>("application/vnd.google-apps.form");
    char *content = nullptr;
    size_t length = 0;
    size_t counted = 0;
    ASSERT_EQ(ostrel_google_drive_stub_content(&file, &content, &length), OSTREL_SUCCESS);
    ASSERT_EQ(ostrel_google_drive_stub_content(&file, nullptr, &counted), OSTREL_SUCCESS);
    EXPECT_STREQ(content, "{\"url\": \"https://drive.google.com/open?id=1aB_-\", \"id\": \"1aB_-\", "
                          "\"mimeType\": \"application/vnd.google-apps.form\"}\n");
    EXPECT_EQ(length, std::strlen(content));
    EXPECT_EQ(counted, length);
    std::free(content);
    EXPECT_EQ(ostrel_google_drive_kind(&file, nullptr), OSTREL_GOOGLE_DRIVE_KIND_STUB);
    file.id = nullptr;
    OwnedError error(ostrel_google_drive_stub_content(&file, &content, &length));
    EXPECT_EQ(content, nullptr);
}

}  // namespace
