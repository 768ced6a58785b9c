// Path walking and resumable uploads, driven against an in-process Drive:
// every file is reached by the name its folder's listing gives it, at one
// narrow request an element; uploads go on from what Drive holds.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/drive_model.h"
#include "support/names.h"
#include "support/trace_capture.h"

namespace {

using ostrel::test::DriveModel;
using ostrel::test::ModuleTest;
using ostrel::test::OwnedError;

constexpr const char *DOC = "application/vnd.google-apps.document";
constexpr const char *SHEET = "application/vnd.google-apps.spreadsheet";
constexpr const char *FORM = "application/vnd.google-apps.form";

class Walk : public ModuleTest {
protected:
    void TearDown() override
    {
        EXPECT_EQ(ostrel_google_drive_export_set_config(nullptr, nullptr, nullptr, nullptr), OSTREL_SUCCESS);
        ModuleTest::TearDown();
    }
};

// What a failed result says, taken and freed.
struct Failure {
    std::string code, path, details, text;
};
Failure failure(ostrel_result_t result)
{
    const OwnedError owned(result);
    char *text = ostrel_error_print_chain(owned.error);
    Failure out = {ostrel::test::text_or_null(ostrel_gfs_error_get_ftp_response_error_code(owned.error)),
                   ostrel::test::text_or_null(ostrel_google_drive_error_get_info(owned.error, "GD-Path")),
                   ostrel::test::text_or_null(ostrel_google_drive_error_get_info(owned.error, "GD-Details")),
                   ostrel::test::text_or_null(text)};
    std::free(text);
    return out;
}

struct Outcome {
    ostrel_result_t result = OSTREL_SUCCESS;
    std::string id;  // of the file reached
    std::vector<unsigned long> delays;
};

// The loop every caller writes: next, send, feed, until no request.
Outcome run(ostrel_google_drive_walk_t *walk, DriveModel &drive, const std::string &path, bool to_parent = false)
{
    Outcome out;
    EXPECT_EQ(ostrel_google_drive_walk_start(walk, path.c_str(), to_parent), OSTREL_SUCCESS);
    for (;;) {
        ostrel_google_drive_request_t *request = nullptr;
        unsigned long delay = 0;
        out.result = ostrel_google_drive_walk_next(walk, &request, &delay);
        if (out.result != OSTREL_SUCCESS || request == nullptr) {
            break;
        }
        out.delays.push_back(delay);
        const ostrel_google_drive_answer_t answer = drive.answer(*request);
        out.result = ostrel_google_drive_walk_feed(walk, &answer);
        ostrel_google_drive_request_free(request);
        if (out.result != OSTREL_SUCCESS) {
            break;
        }
    }
    if (const ostrel_google_metadata_t *file = ostrel_google_drive_walk_file(walk); out.result == OSTREL_SUCCESS) {
        EXPECT_NE(file, nullptr) << path;
        out.id = file != nullptr && file->id != nullptr ? file->id : "";
    }
    return out;
}

struct Walker {
    ostrel_google_drive_walk_t *walk = nullptr;
    Walker() { EXPECT_EQ(ostrel_google_drive_walk_create(DriveModel::base_url, "root", 3, &walk), OSTREL_SUCCESS); }
    ~Walker() { ostrel_google_drive_walk_free(walk); }
};

// The client names of a folder's files, as a listing shows them.
std::map<std::string, std::string> listed(const DriveModel &drive, const std::string &folder_id)
{
    std::vector<ostrel_google_metadata_t> records;
    for (const ostrel::test::DriveFile &file : drive.files) {
        if (file.parent == folder_id && !file.trashed) {
            ostrel_google_metadata_t r = {};
            r.id = const_cast<char *>(file.id.c_str());
            r.name = const_cast<char *>(file.name.c_str());
            r.mime_type = const_cast<char *>(file.mime_type.c_str());
            records.push_back(r);
        }
    }
    EXPECT_EQ(ostrel_google_drive_mark_collisions(records.data(), records.size()), OSTREL_SUCCESS);
    std::map<std::string, std::string> names;
    for (const ostrel_google_metadata_t &r : records) {
        char *name = nullptr;
        EXPECT_EQ(ostrel_google_drive_name_translate_out(&r, &name), OSTREL_SUCCESS);
        names[name] = r.id;
        std::free(name);
    }
    return names;
}

constexpr const char *name_pieces[] = {"a",  "b",         "O'Brien", "back\\slash", "\xc3\xa9t\xc3\xa9", "\xe6\x97\xa5",
                                       ".",  "..",        "{dot}",   "x/y",          "notes.gdoc",        "r{export-gdoc}.pdf",
                                       " ", "list.{IDq}", "s.csv"};
constexpr const char *types[] = {DriveModel::folder_type, "text/plain", DOC, SHEET, FORM,
                                 "application/vnd.google-apps.shortcut"};

void grow(DriveModel &drive, std::mt19937 &random, const std::string &parent, int depth)
{
    const int count = 1 + static_cast<int>(random() % 6);
    for (int i = 0; i < count; ++i) {
        std::string name = name_pieces[random() % std::size(name_pieces)];
        if (random() % 3 == 0) {
            name += name_pieces[random() % std::size(name_pieces)];
        }
        const char *type = types[random() % std::size(types)];
        const std::string id = drive.add(parent, name, type);
        drive.files.back().trashed = random() % 11 == 0;
        if (type == DriveModel::folder_type && depth < 3) {
            grow(drive, random, id, depth + 1);
        }
    }
}

TEST_F(Walk, ReachesEveryFileOfGeneratedTreesByItsListedNameUnderEveryExportConfiguration)
{
    struct Config {
        const char *doc, *sheet, *slides, *drawing;
    } configs[] = {{nullptr, nullptr, nullptr, nullptr}, {"pdf", "csv", "pptx", "svg"}, {"docx", nullptr, nullptr, "png"}};
    std::mt19937 random(20261209);
    for (int tree = 0; tree < 12; ++tree) {
        DriveModel drive;
        drive.mishandles_names = tree % 2 == 0;
        grow(drive, random, "0Root", 0);
        for (const Config &c : configs) {
            ASSERT_EQ(ostrel_google_drive_export_set_config(c.doc, c.sheet, c.slides, c.drawing), OSTREL_SUCCESS);
            Walker walker;
            std::vector<std::pair<std::string, std::string>> folders = {{"", "0Root"}};
            for (size_t f = 0; f < folders.size(); ++f) {
                const auto [folder_path, folder_id] = folders[f];
                for (const auto &[name, id] : listed(drive, folder_id)) {
                    const std::string path = folder_path + "/" + name;
                    SCOPED_TRACE(path);
                    const Outcome walked = run(walker.walk, drive, path);
                    ASSERT_EQ(walked.result, OSTREL_SUCCESS) << failure(walked.result).text;
                    EXPECT_EQ(walked.id, id);
                    for (const ostrel::test::DriveFile &file : drive.files) {
                        if (file.id == id && file.mime_type == DriveModel::folder_type) {
                            folders.emplace_back(path, id);
                        }
                    }
                }
            }
        }
    }
}

TEST_F(Walk, CostsOneNarrowRequestAnElementForPlainNamesInABigFolder)
{
    DriveModel drive;
    std::string big = drive.add("0Root", "big", DriveModel::folder_type);
    for (int i = 0; i < 200; ++i) {
        drive.add(big, "f" + std::to_string(i));
    }
    const std::string sub = drive.add(big, "sub", DriveModel::folder_type);
    const std::string file = drive.add(sub, "data.bin");
    const std::string quoted = drive.add(big, "it's");
    Walker walker;
    const Outcome first = run(walker.walk, drive, "/big/sub/data.bin");
    EXPECT_EQ(first.id, file);
    EXPECT_EQ(ostrel_google_drive_walk_request_count(walker.walk), 4u);  // the root, then three elements
    EXPECT_EQ(run(walker.walk, drive, "./big//sub/../sub/data.bin").id, file);
    EXPECT_EQ(ostrel_google_drive_walk_request_count(walker.walk), 7u);  // the root's id is known now
    // The same walk gives what each element opened, ".." folded away.
    std::vector<std::string> steps;
    for (size_t i = 0; i < ostrel_google_drive_walk_step_count(walker.walk); ++i) {
        steps.emplace_back(ostrel_google_drive_walk_step(walker.walk, i)->id);
    }
    EXPECT_EQ(steps, (std::vector<std::string>{big, sub, file}));
    EXPECT_EQ(ostrel_google_drive_walk_step(walker.walk, 3), nullptr);
    // A name Drive may mishandle: the narrow miss is confirmed by listing
    // the folder whole (101 pages of two), which is then kept...
    EXPECT_EQ(run(walker.walk, drive, "/big/it's").id, quoted);
    EXPECT_EQ(ostrel_google_drive_walk_request_count(walker.walk), 7u + 1 + 1 + 101);
    // ...so the folder's names cost nothing more, even a miss.
    EXPECT_EQ(run(walker.walk, drive, "/big/f7").id, drive.files[9].id);
    const Outcome missing = run(walker.walk, drive, "/big/f7000");
    EXPECT_EQ(ostrel_google_drive_walk_request_count(walker.walk), 7u + 1 + 1 + 101 + 1 + 1);
    EXPECT_EQ(failure(missing.result).code, "PATH_NOT_FOUND");
}

TEST_F(Walk, ErrorsNameTheWholeClientPath)
{
    DriveModel drive;
    const std::string folder = drive.add("0Root", "folder", DriveModel::folder_type);
    drive.add(folder, "file");
    drive.add(folder, "twin");
    drive.add(folder, "twin");
    struct Case {
        const char *path;
        const char *code;
        const char *details;  // a part of GD-Details
    } cases[] = {
        {"/folder/file/deeper", "NOT_A_FOLDER", "\"file\" is not a folder"},
        {"/folder/none", "PATH_NOT_FOUND", "No file in the folder has this name"},
        {"/folder/twin", "AMBIGUOUS_PATH", "2 files in the folder"},
        {"/../../folder/gone/file", "PATH_NOT_FOUND", "No file"},
    };
    Walker walker;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        const Outcome walked = run(walker.walk, drive, c.path);
        const Failure error = failure(walked.result);
        EXPECT_EQ(error.code, c.code);
        EXPECT_EQ(error.path, c.path);
        EXPECT_NE(error.details.find(c.details), std::string::npos) << error.details;
        EXPECT_EQ(ostrel_google_drive_walk_file(walker.walk), nullptr);
    }
}

TEST_F(Walk, ToParentGivesTheFolderAndTheLastName)
{
    DriveModel drive;
    const std::string folder = drive.add("0Root", "folder", DriveModel::folder_type);
    Walker walker;
    EXPECT_EQ(run(walker.walk, drive, "/folder/new.txt", true).id, folder);
    EXPECT_STREQ(ostrel_google_drive_walk_last_name(walker.walk), "new.txt");
    EXPECT_EQ(run(walker.walk, drive, "/", true).id, "0Root");
    EXPECT_EQ(ostrel_google_drive_walk_last_name(walker.walk), nullptr);
    // The root's record is whole, not only its id.
    EXPECT_STREQ(ostrel_google_drive_walk_file(walker.walk)->name, "My Drive");
    EXPECT_EQ(run(walker.walk, drive, "/folder").id, folder);
    EXPECT_EQ(ostrel_google_drive_walk_last_name(walker.walk), nullptr);
}

TEST_F(Walk, RetriesAfterTheDelayUntilItsAttemptsAreSpent)
{
    DriveModel drive;
    const std::string folder = drive.add("0Root", "folder", DriveModel::folder_type);
    Walker walker;  // three attempts
    drive.faults = {503, 0};
    const Outcome retried = run(walker.walk, drive, "/folder");
    EXPECT_EQ(retried.id, folder);
    EXPECT_EQ(retried.delays, (std::vector<unsigned long>{0, 1500, 2500, 0}));
    drive.faults = {500, 429, 503};
    const Outcome spent = run(walker.walk, drive, "/folder");
    const Failure spent_failure = failure(spent.result);
    EXPECT_EQ(spent_failure.code, "DRIVE_UNAVAILABLE") << spent_failure.text;
    // A failed walker stays where it was: going on asks the same again.
    ostrel_google_drive_request_t *request = nullptr;
    unsigned long delay = 0;
    ASSERT_EQ(ostrel_google_drive_walk_next(walker.walk, &request, &delay), OSTREL_SUCCESS);
    EXPECT_EQ(delay, 0u);
    const ostrel_google_drive_answer_t answer = drive.answer(*request);
    ostrel_google_drive_request_free(request);
    EXPECT_EQ(ostrel_google_drive_walk_feed(walker.walk, &answer), OSTREL_SUCCESS);
    EXPECT_EQ(ostrel_google_drive_walk_file(walker.walk)->id, folder);
}

// A resumable session in memory: it keeps what it is sent, and may take
// only part of a chunk, fail, or forget the session.
struct UploadDrive {
    enum Fault { none, fail_after_half, fail, no_range, expire };
    std::vector<Fault> chunk_faults;  // per chunk PUT, in order
    std::string stored;
    int sessions = 0;
    uint64_t sent = 0;  // bytes the caller sent
    std::string range, location, body;

    ostrel_google_drive_answer_t answer(const ostrel_google_drive_request_t &request, const std::string &content)
    {
        ostrel_google_drive_answer_t out = {};
        out.random_ms = 0;
        range.clear();
        if (std::string(request.method) == "POST") {
            ++sessions;
            stored.clear();
            location = "http://drive.test/upload/session" + std::to_string(sessions);
            out.status = 200;
            out.location = location.c_str();
            return out;
        }
        EXPECT_EQ(request.url, location);
        const Fault fault = request.data_length != 0 && !chunk_faults.empty() ? chunk_faults.front() : none;
        if (request.data_length != 0 && !chunk_faults.empty()) {
            chunk_faults.erase(chunk_faults.begin());
        }
        if (fault == expire) {
            out.status = 404;
            return out;
        }
        if (request.data_length != 0) {
            EXPECT_EQ(request.data_offset, stored.size()) << "a byte sent twice or skipped";
            sent += request.data_length;
            const uint64_t taken = fault == fail_after_half ? request.data_length / 2
                                   : fault == fail            ? 0
                                                              : request.data_length;
            stored += content.substr(request.data_offset, taken);
            if (fault == fail_after_half || fault == fail) {
                out.status = 503;
                return out;
            }
        }
        if (stored.size() == content.size()) {
            body = "{\"id\":\"up1\",\"name\":\"new.bin\",\"size\":\"" + std::to_string(stored.size()) + "\"}";
            out.status = 201;
            out.body = body.c_str();
            out.length = body.size();
            return out;
        }
        out.status = 308;
        if (fault != no_range && !stored.empty()) {
            range = "bytes=0-" + std::to_string(stored.size() - 1);
            out.range = range.c_str();
        }
        if (fault == no_range) {
            stored.clear();
        }
        return out;
    }
};

struct Uploaded {
    ostrel_result_t result;
    std::vector<std::string> requests;  // "POST", "PUT bytes A-B/T"
    unsigned restarts;
};

Uploaded upload(UploadDrive &drive, const std::string &content, unsigned attempts = 3)
{
    ostrel_google_drive_upload_t *up = nullptr;
    Uploaded out = {};
    EXPECT_EQ(ostrel_google_drive_upload_create(DriveModel::base_url, "0Folder", "new.bin", content.size(),
                                                OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_UNIT, attempts, &up),
              OSTREL_SUCCESS);
    for (;;) {
        ostrel_google_drive_request_t *request = nullptr;
        unsigned long delay = 0;
        out.result = ostrel_google_drive_upload_next(up, &request, &delay);
        if (out.result != OSTREL_SUCCESS || request == nullptr) {
            break;
        }
        std::string shown = request->method;
        for (size_t i = 0; i < request->header_count; ++i) {
            if (std::string(request->headers[i].name) == "Content-Range") {
                shown += std::string(" ") + request->headers[i].value;
            }
        }
        out.requests.push_back(shown);
        const ostrel_google_drive_answer_t answer = drive.answer(*request, content);
        out.result = ostrel_google_drive_upload_feed(up, &answer);
        ostrel_google_drive_request_free(request);
        if (out.result != OSTREL_SUCCESS) {
            break;
        }
    }
    out.restarts = ostrel_google_drive_upload_restarts(up);
    if (out.result == OSTREL_SUCCESS) {
        EXPECT_EQ(ostrel_google_drive_upload_stored(up), content.size());
        EXPECT_STREQ(ostrel_google_drive_upload_file(up)->id, "up1");
        EXPECT_EQ(drive.stored, content);
    }
    ostrel_google_drive_upload_free(up);
    return out;
}

TEST_F(Walk, UploadsGoOnFromWhatDriveHolds)
{
    constexpr uint64_t unit = OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_UNIT;
    std::string content(2 * unit + 100, 'x');
    for (size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>('a' + i % 26);
    }
    const std::string total = "/" + std::to_string(content.size());
    const std::string second = "bytes 262144-524287" + total;
    const std::string last = "bytes 524288-524387" + total;
    struct Case {
        const char *name;
        std::vector<UploadDrive::Fault> faults;
        std::vector<std::string> requests;
        unsigned restarts;
    } cases[] = {
        {"in chunks", {}, {"POST", "PUT bytes 0-262143" + total, "PUT " + second, "PUT " + last}, 0},
        {"a 5xx mid-way: asked, then resumed at the half Drive took",
         {UploadDrive::none, UploadDrive::fail_after_half},
         {"POST", "PUT bytes 0-262143" + total, "PUT " + second, "PUT bytes */" + total.substr(1),
          "PUT bytes 393216-524387" + total},
         0},
        {"308 without Range: Drive holds nothing",
         {UploadDrive::no_range},
         {"POST", "PUT bytes 0-262143" + total, "PUT bytes 0-262143" + total, "PUT " + second, "PUT " + last},
         0},
        {"an expired session: again from byte 0",
         {UploadDrive::none, UploadDrive::expire},
         {"POST", "PUT bytes 0-262143" + total, "PUT " + second, "POST", "PUT bytes 0-262143" + total,
          "PUT " + second, "PUT " + last},
         1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        UploadDrive drive;
        drive.chunk_faults = c.faults;
        const Uploaded done = upload(drive, content);
        ASSERT_EQ(done.result, OSTREL_SUCCESS) << failure(done.result).text;
        EXPECT_EQ(done.requests, c.requests);
        EXPECT_EQ(done.restarts, c.restarts);
    }
}

TEST_F(Walk, UploadsFailWhenRetriesAreSpentOrTheNameIsAnExport)
{
    UploadDrive drive;
    drive.chunk_faults = {UploadDrive::none, UploadDrive::fail, UploadDrive::fail, UploadDrive::fail};
    const Uploaded spent = upload(drive, std::string(OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_UNIT * 4, 'z'), 3);
    const Failure spent_failure = failure(spent.result);
    EXPECT_EQ(spent_failure.code, "DRIVE_UNAVAILABLE") << spent_failure.text;
    EXPECT_EQ(spent.requests.size(), 1u + 1 + 3 + 2);  // three tries of the chunk, two questions between

    ASSERT_EQ(ostrel_google_drive_export_set_config("pdf", nullptr, nullptr, nullptr), OSTREL_SUCCESS);
    ostrel_google_drive_upload_t *up = nullptr;
    EXPECT_EQ(failure(ostrel_google_drive_upload_create(nullptr, "0Folder", "report.{export-gdoc}.pdf", 10, 0, 0, &up))
                  .code,
              "INVALID_PATH_NAME");
    EXPECT_EQ(up, nullptr);
    const OwnedError odd_chunk(ostrel_google_drive_upload_create(nullptr, "0Folder", "a", 10, 1000, 0, &up));
    EXPECT_EQ(ostrel_error_get_errno(odd_chunk.error), EINVAL);
}

}  // namespace
