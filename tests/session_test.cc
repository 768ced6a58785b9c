// The Drive session: plug-in commands against a Drive in the process, the
// hostile answers a server meets, and operations fed random answers.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/drive_model.h"
#include "support/names.h"
#include "support/trace_capture.h"

namespace {

using ostrel::test::DriveModel;
using ostrel::test::OwnedError;
using ostrel::test::Served;

constexpr const char *folder_type = DriveModel::folder_type;
constexpr const char *DOC = "application/vnd.google-apps.document";

// A fault: may change the n-th answer (counted from 0) before it is fed;
// *cut says the body ended before its framing did.
using Fault = std::function<void(size_t n, const ostrel_google_drive_request_t &, Served &, bool *cut)>;

struct Outcome {
    ostrel_result_t result = OSTREL_SUCCESS;
    std::string content;  // the bytes a read delivered
    size_t requests = 0;
    std::vector<std::string> urls;
    std::string error_code() const
    {
        return ostrel::test::text_or_null(ostrel_gfs_error_get_ftp_response_error_code(ostrel_error_peek(result)));
    }
    int code() const { return ostrel_gfs_error_get_ftp_response_code(ostrel_error_peek(result)); }
};

// The caller's one loop, as a plug-in writes it; a 530 is met with a
// fresh token (nothing to do here) up to three times.
Outcome drive(DriveModel &model, ostrel_google_drive_op_t *op, const std::string &content = "",
              const Fault &fault = nullptr, uint64_t now = 0, size_t limit = 100000)
{
    Outcome out;
    int refused_tokens = 0;
    for (;;) {
        const ostrel_google_drive_request_t *request = nullptr;
        unsigned long delay = 0;
        out.result = ostrel_google_drive_op_next(op, &request, &delay);
        if (out.result != OSTREL_SUCCESS || request == nullptr || out.requests >= limit) {
            break;
        }
        out.urls.push_back(request->url);
        Served served = model.serve(*request, content);
        bool cut = false;
        if (fault) {
            fault(out.requests, *request, served, &cut);
        }
        ++out.requests;
        ostrel_result_t fed = OSTREL_SUCCESS;
        if (ostrel_google_drive_op_streams(op)) {
            bool deliver = false;
            uint64_t skip = 0;
            uint64_t count = 0;
            fed = ostrel_google_drive_op_feed_head(op, served.status, served.headers.c_str(), 0, now, &deliver,
                                                   &skip, &count);
            if (fed == OSTREL_SUCCESS && deliver) {
                if (skip < served.body.size()) {
                    out.content += served.body.substr(skip, count);
                }
                fed = ostrel_google_drive_op_feed_end(op, served.body.size(), !cut);
                if (ostrel_google_drive_op_discard(op)) {
                    out.content.clear();
                }
            } else if (fed == OSTREL_SUCCESS) {
                fed = ostrel_google_drive_op_feed_body(op, served.body.data(), served.body.size());
            }
        } else {
            fed = ostrel_google_drive_op_feed(op, served.status, served.headers.c_str(), served.body.data(),
                                              served.body.size(), 0, now);
        }
        if (fed != OSTREL_SUCCESS) {
            const int code = ostrel_gfs_error_get_ftp_response_code(ostrel_error_peek(fed));
            if (code == 530 && ++refused_tokens <= 3) {
                ostrel_object_free(ostrel_error_get(fed));
                continue;
            }
            out.result = fed;
            break;
        }
    }
    size_t length = 0;
    if (const char *stub = ostrel_google_drive_op_content(op, &length)) {
        out.content.assign(stub, length);
    }
    return out;
}

class Session : public ostrel::test::ModuleTest {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        ASSERT_EQ(ostrel_google_drive_session_create(DriveModel::base_url, nullptr, &session), OSTREL_SUCCESS);
        ostrel_google_drive_session_set_limits(session, 3, UINT64_MAX, 0, 0);
    }
    void TearDown() override
    {
        ostrel_google_drive_session_free(session);
        EXPECT_EQ(ostrel_google_drive_export_set_config(nullptr, nullptr, nullptr, nullptr), OSTREL_SUCCESS);
        ModuleTest::TearDown();
    }

    enum Kind { stat, list, read, write, mkdir, rename, remove, rmdir, get };

    // One command: the operation made, driven to its end, freed.
    Outcome run(Kind kind, const std::string &path, const std::string &other = "", const Fault &fault = nullptr,
                uint64_t a = 0, uint64_t b = 0)
    {
        ostrel_google_drive_op_t *op = nullptr;
        ostrel_result_t made = OSTREL_SUCCESS;
        std::string content;
        switch (kind) {
        case stat: made = ostrel_google_drive_op_stat(session, path.c_str(), now, &op); break;
        case list: made = ostrel_google_drive_op_list(session, path.c_str(), now, &op); break;
        case read: made = ostrel_google_drive_op_read(session, path.c_str(), a, b, true, now, &op); break;
        case write:
            content = other;
            made = ostrel_google_drive_op_write(session, path.c_str(), content.size(), OSTREL_GOOGLE_DRIVE_NO_TIME, now, &op);
            break;
        case mkdir: made = ostrel_google_drive_op_mkdir(session, path.c_str(), now, &op); break;
        case rename: made = ostrel_google_drive_op_rename(session, path.c_str(), other.c_str(), now, &op); break;
        case remove: made = ostrel_google_drive_op_delete(session, path.c_str(), a != 0, now, &op); break;
        case rmdir: made = ostrel_google_drive_op_rmdir(session, path.c_str(), a != 0, now, &op); break;
        case get: made = ostrel_google_drive_op_get(session, path.c_str(), now, &op); break;
        }
        EXPECT_EQ(made, OSTREL_SUCCESS);
        Outcome out = drive(model, op, content, fault, now);
        names.clear();
        for (size_t i = 0; i < ostrel_google_drive_op_entry_count(op); ++i) {
            names.push_back(ostrel_google_drive_op_entry_name(op, i));
        }
        const ostrel_google_metadata_t *file = ostrel_google_drive_op_file(op);
        last_id = file != nullptr ? file->id : "";
        ostrel_google_drive_op_free(op);
        return out;
    }

    // The folder's live files' Drive names, as the model holds them.
    std::multiset<std::string> truth(const std::string &parent) const
    {
        std::multiset<std::string> out;
        for (const ostrel::test::DriveFile &file : model.files) {
            if (file.parent == parent && !file.trashed) {
                out.insert(file.name);
            }
        }
        return out;
    }

    DriveModel model;
    ostrel_google_drive_session_t *session = nullptr;
    uint64_t now = 1000;
    std::vector<std::string> names;
    std::string last_id;
};

#define EXPECT_OK(outcome)                                                                         \
    do {                                                                                           \
        const Outcome &o_ = (outcome);                                                             \
        EXPECT_EQ(o_.result, OSTREL_SUCCESS) << OwnedError(o_.result).chain();                     \
    } while (0)

TEST_F(Session, EveryCommandOnOneSession)
{
    const std::string big(9 * 1024 * 1024 + 5, 'x');  // two chunks
    EXPECT_OK(run(mkdir, "/docs"));
    EXPECT_OK(run(write, "/docs/memo.gdoc", "plain bytes"));
    EXPECT_OK(run(write, "/docs/a{slash}b", "slash"));
    EXPECT_OK(run(write, "/docs/big.bin", big));
    EXPECT_EQ(truth(model.files[1].id), (std::multiset<std::string>{"memo.gdoc", "a/b", "big.bin"}));
    EXPECT_OK(run(list, "/docs"));
    EXPECT_EQ(std::multiset<std::string>(names.begin(), names.end()),
              (std::multiset<std::string>{"memo.gdoc", "a{slash}b", "big.bin"}));
    Outcome got = run(read, "/docs/memo.gdoc");
    EXPECT_OK(got);
    EXPECT_EQ(got.content, "plain bytes");
    got = run(read, "/docs/big.bin", "", nullptr, 100, 1000);
    EXPECT_OK(got);
    EXPECT_EQ(got.content, big.substr(100, 1000));
    // STOR onto the name replaces the content, same id.
    EXPECT_OK(run(stat, "/docs/memo.gdoc"));
    const std::string id = last_id;
    EXPECT_OK(run(write, "/docs/memo.gdoc", "new bytes"));
    EXPECT_EQ(last_id, id);
    EXPECT_EQ(run(read, "/docs/memo.gdoc").content, "new bytes");
    EXPECT_OK(run(get, id));
    EXPECT_OK(run(rename, "/docs/memo.gdoc", "/moved.txt"));
    EXPECT_OK(run(stat, "/moved.txt"));
    EXPECT_EQ(last_id, id);
    EXPECT_EQ(run(stat, "/docs/memo.gdoc").error_code(), "PATH_NOT_FOUND");
    EXPECT_EQ(run(rmdir, "/docs").error_code(), "FOLDER_NOT_EMPTY");
    EXPECT_EQ(run(remove, "/docs").error_code(), "IS_A_FOLDER");
    EXPECT_OK(run(remove, "/docs/a{slash}b"));
    EXPECT_OK(run(remove, "/docs/big.bin", "", nullptr, 1));
    EXPECT_OK(run(rmdir, "/docs"));
    EXPECT_EQ(run(stat, "/docs").error_code(), "PATH_NOT_FOUND");
    EXPECT_EQ(truth("0Root"), (std::multiset<std::string>{"moved.txt"}));
}

// What a client may send never stops the process.
TEST_F(Session, PathsAClientSteersAreErrors)
{
    model.add("0Root", "dup");
    model.add("0Root", "dup");
    const struct {
        Kind kind;
        const char *path;
        const char *error_code;
    } cases[] = {
        {write, "/", "INVALID_PATH_NAME"},        {mkdir, "/", "FILE_EXISTS"},
        {write, "", "INVALID_PATH_NAME"},         {mkdir, "/..", "FILE_EXISTS"},
        {remove, "/", "IS_A_FOLDER"},             {rmdir, "/", "PERMISSION_DENIED"},
        {write, "/dup", "AMBIGUOUS_PATH"},        {mkdir, "/dup", "AMBIGUOUS_PATH"},
        {write, "/x.{IDzzz}.txt", "INVALID_PATH_NAME"}, {write, "/x{export-gdoc}.pdf", "INVALID_PATH_NAME"},
        {write, "/a\nb", "INVALID_PATH_NAME"},    {stat, "/nope/x", "PATH_NOT_FOUND"},
        {read, "/", "NOT_A_FILE"},                {rename, "/", "INVALID_PATH_NAME"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        const size_t files = model.files.size();
        const Outcome out = run(c.kind, c.path, c.kind == rename ? "/y" : "");
        EXPECT_EQ(out.error_code(), c.error_code) << OwnedError(out.result).chain();
        EXPECT_EQ(model.files.size(), files);
        OwnedError drop(out.result);
    }
}

// A name written lists back as exactly that name, and leads back to its file.
TEST_F(Session, WrittenNamesListAsWritten)
{
    const std::vector<std::string> pieces = {"a", ".", "{dot}", "{slash}", "{slash+}", ".gdoc", ".pdf", "{x0a}",
                                             "{x0a+}", "\xc3\xa9", "'", "\\", " ", "{", "}", "+"};
    std::mt19937 random(27);
    std::set<std::string> written;
    for (int round = 0; round < 150; ++round) {
        std::string name;
        for (size_t n = 1 + random() % 4; n > 0; --n) {
            name += pieces[random() % pieces.size()];
        }
        const Outcome out = run(write, "/" + name, name);
        if (out.result != OSTREL_SUCCESS) {
            EXPECT_EQ(out.code(), 553) << name;  // not writable as such
            OwnedError drop(out.result);
            continue;
        }
        written.insert(name);
        const Outcome back = run(read, "/" + name);
        EXPECT_EQ(back.content, name) << name;
    }
    EXPECT_GT(written.size(), 40u);
    EXPECT_OK(run(list, "/"));
    for (const std::string &name : written) {
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    }
}

// Any sequence of writes and reads through one session sees its own writes,
// with the cache believed for ever.
TEST_F(Session, SeesItsOwnWrites)
{
    std::mt19937 random(28);
    const char *const pool[] = {"p", "q", "r", "s"};
    std::set<std::string> live;
    EXPECT_OK(run(list, "/"));  // the root's listing, now cached
    for (int step = 0; step < 200; ++step) {
        const std::string name = pool[random() % std::size(pool)];
        const std::string other = pool[random() % std::size(pool)];
        const bool exists = live.count(name) != 0;
        switch (random() % 5) {
        case 0:
            if (run(write, "/" + name, name + std::to_string(step)).result == OSTREL_SUCCESS) {
                live.insert(name);
            }
            break;
        case 1:
            (void) run(remove, "/" + name);
            live.erase(name);
            break;
        case 2: {
            const Outcome out = run(rename, "/" + name, "/" + other);
            OwnedError drop(out.result);
            if (out.result == OSTREL_SUCCESS && name != other) {
                live.erase(name);
                live.insert(other);
            }
            break;
        }
        case 3: {
            const Outcome out = run(stat, "/" + name);
            EXPECT_EQ(out.result == OSTREL_SUCCESS, exists) << name;
            OwnedError drop(out.result);
            break;
        }
        default:
            EXPECT_OK(run(list, "/"));
            EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), live);
        }
    }
}

// Each answer Drive should not give is an error, never a success, and never
// a request beyond the API's origin.
TEST_F(Session, HostileAnswersAreRefused)
{
    model.page_size = 1;
    const std::string folder = model.add("0Root", "f", folder_type);
    for (int i = 0; i < 3; ++i) {
        model.add(folder, "x" + std::to_string(i));
    }
    const std::string file = model.add("0Root", "data.bin");
    model.files.back().content = std::string(200000, 'd');
    const auto on_list = [](std::function<void(Served &)> change) {
        return [change](size_t, const ostrel_google_drive_request_t &request, Served &served, bool *) {
            if (std::strstr(request.url, "pageSize=") != nullptr) {
                change(served);
            }
        };
    };
    const auto on_media = [](std::function<void(Served &, bool *)> change) {
        return [change](size_t, const ostrel_google_drive_request_t &request, Served &served, bool *cut) {
            if (std::strstr(request.url, "alt=media") != nullptr) {
                change(served, cut);
            }
        };
    };
    const auto on_put = [](std::function<void(Served &)> change) {
        return [change](size_t, const ostrel_google_drive_request_t &request, Served &served, bool *) {
            if (std::strcmp(request.method, "PUT") == 0 || std::strstr(request.url, "uploadType") != nullptr) {
                change(served);
            }
        };
    };
    const struct {
        const char *what;
        Kind kind;
        const char *path;
        Fault fault;
        const char *details;  // a part of GD-Details
        uint64_t offset = 0;
    } cases[] = {
        {"a page token that repeats", list, "/f",
         on_list([](Served &s) {
             s.status = 200;
             s.body = "{\"files\": [], \"nextPageToken\": \"again\"}";
         }),
         "gave before"},
        {"an empty page token", list, "/f",
         on_list([](Served &s) { s.body.replace(s.body.find('{'), 1, "{\"nextPageToken\": \"\", "); }),
         "empty nextPageToken"},
        {"empty pages without end", list, "/f",
         on_list([](Served &s) {
             static int n = 0;
             s.status = 200;
             s.body = "{\"files\": [], \"nextPageToken\": \"t" + std::to_string(n++) + "\"}";
         }),
         "empty pages"},
        {"a page larger than asked", list, "/f",
         on_list([](Served &s) {
             std::string files;
             for (int i = 0; i < 1001; ++i) {
                 files += std::string(i ? "," : "") + "{\"id\": \"o" + std::to_string(i) + "\", \"name\": \"o\"}";
             }
             s.body = "{\"files\": [" + files + "]}";
         }),
         "1001 files in a page of at most 1000"},
        {"a wrong Content-Range", read, "/data.bin",
         on_media([](Served &s, bool *) { s.headers = "Content-Range: bytes 0-99/200000\r\n"; }), "Content-Range", 10},
        {"a 206 without Content-Range", read, "/data.bin", on_media([](Served &s, bool *) { s.headers.clear(); }),
         "Content-Range", 10},
        {"a 206 to no Range", read, "/data.bin", on_media([](Served &s, bool *) { s.status = 206; }),
         "Content-Range"},
        {"a body longer than the file", read, "/data.bin",
         on_media([](Served &s, bool *) { s.body += "extra"; }), "more bytes"},
        {"a 308 to a read", read, "/data.bin", on_media([](Served &s, bool *) { s.status = 308; }),
         "does not take"},
        {"a 199", stat, "/f",
         [](size_t n, const ostrel_google_drive_request_t &, Served &s, bool *) {
             if (n == 0) {
                 s.status = 199;
             }
         },
         "199"},
        {"a root without id", stat, "/f",
         [](size_t n, const ostrel_google_drive_request_t &, Served &s, bool *) {
             if (n == 0) {
                 s.body = "{\"name\": \"My Drive\", \"mimeType\": \"application/vnd.google-apps.folder\"}";
             }
         },
         "no usable \"id\""},
        {"a 308 to a folder's creation", mkdir, "/new",
         [](size_t, const ostrel_google_drive_request_t &r, Served &s, bool *) {
             if (std::strcmp(r.method, "POST") == 0) {
                 s.status = 308;
             }
         },
         "does not take"},
        {"an upload session elsewhere", write, "/up",
         on_put([](Served &s) {
             if (s.headers.rfind("Location", 0) == 0) {
                 s.headers = "Location: http://elsewhere.test/upload/session/0\r\n";
             }
         }),
         "origin"},
        {"a short upload taken as stored", write, "/up",
         on_put([](Served &s) {
             const size_t at = s.body.find("\"size\":\"5\"");
             if (s.status == 200 && at != std::string::npos) {
                 s.body.replace(at, std::strlen("\"size\":\"5"), "\"size\":\"4");
             }
         }),
         "bytes of the"},
        {"an upload Range that goes back", write, "/up",
         [](size_t, const ostrel_google_drive_request_t &r, Served &s, bool *) {
             static int puts = 0;
             if (std::strcmp(r.method, "PUT") == 0) {
                 s.status = 308;
                 s.headers = puts++ % 2 == 0 ? "Range: bytes=0-3\r\n" : "Range: bytes=0-1\r\n";
                 s.body.clear();
             }
         },
         "went back"},
        {"an upload Range that is not one", write, "/up",
         [](size_t, const ostrel_google_drive_request_t &r, Served &s, bool *) {
             if (std::strcmp(r.method, "PUT") == 0) {
                 s.status = 308;
                 s.headers = "Range: bytes=0-3x\r\n";
             }
         },
         "Range header"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ostrel_google_drive_session_free(session);
        ASSERT_EQ(ostrel_google_drive_session_create(DriveModel::base_url, nullptr, &session), OSTREL_SUCCESS);
        const std::string content = c.kind == write ? std::string(5, 'u') : "";
        const Outcome out = run(c.kind, c.path, content, c.fault, c.offset);
        ASSERT_NE(out.result, OSTREL_SUCCESS);
        OwnedError error(out.result);
        if (c.details != nullptr) {
            const char *details = ostrel_google_drive_error_get_info(
                error.error, std::strcmp(c.details, "199") == 0 ? "GD-HTTP-Status" : "GD-Details");
            EXPECT_NE(std::string(ostrel::test::text_or_null(details)).find(c.details), std::string::npos)
                << error.chain();
        }
        EXPECT_STREQ(ostrel_google_drive_error_get_info(error.error, "GD-Path"), c.path);
        for (const std::string &url : out.urls) {
            EXPECT_EQ(url.rfind(DriveModel::base_url, 0), 0u) << url;
        }
        EXPECT_LT(out.requests, 50u);
    }
}

// A narrow query Drive refuses, or answers with a file of another folder,
// is settled by the whole folder's listing.
TEST_F(Session, NarrowAnswersNotBelievedFallBackToTheFolder)
{
    const std::string folder = model.add("0Root", "f", folder_type);
    model.add(folder, "wanted");
    const std::string elsewhere = model.add("0Root", "wanted");
    for (const int status : {400, 200}) {
        SCOPED_TRACE(status);
        ostrel_google_drive_session_forget(session);
        size_t whole = 0;
        const Outcome out = run(stat, "/f/wanted", "", [&](size_t, const ostrel_google_drive_request_t &r, Served &s,
                                                           bool *) {
            const std::string url = r.url;
            const bool narrow = url.find("name%20%3D") != std::string::npos && url.find(folder) != std::string::npos;
            whole += url.find("name%20%3D") == std::string::npos && url.find("q=") != std::string::npos;
            if (narrow && status == 400) {
                s.status = 400;
                s.body = "{\"error\": {\"code\": 400, \"message\": \"Invalid Value\"}}";
            } else if (narrow) {  // a file of the root, as if it were the folder's
                s.body = "{\"files\": [{\"id\": \"" + elsewhere + "\", \"name\": \"wanted\", \"parents\": [\"0Root\"]}]}";
            }
        });
        EXPECT_OK(out);
        EXPECT_NE(last_id, elsewhere);
        EXPECT_EQ(whole, 1u);
    }
}

// Answers Drive may give that are not what was asked: taken for what they are.
TEST_F(Session, ReadsResumeAndSkip)
{
    const std::string content(300000, 'c');
    std::string varied = content;
    for (size_t i = 0; i < varied.size(); ++i) {
        varied[i] = static_cast<char>('a' + i % 26);
    }
    model.add("0Root", "data.bin");
    model.files.back().content = varied;
    model.add("0Root", "Notes", DOC);
    ASSERT_EQ(ostrel_google_drive_export_set_config("pdf", nullptr, nullptr, nullptr), OSTREL_SUCCESS);
    // A 200 to a Range: the offset's bytes are skipped here.
    Outcome out = run(read, "/data.bin", "", [&varied](size_t, const ostrel_google_drive_request_t &, Served &s, bool *) {
        if (s.status == 206) {
            s.status = 200;
            s.headers.clear();
            s.body = varied;
        }
    }, 1000, 500);
    EXPECT_OK(out);
    EXPECT_EQ(out.content, varied.substr(1000, 500));
    // Cut bodies read on from where they stopped.
    out = run(read, "/data.bin", "", [](size_t n, const ostrel_google_drive_request_t &, Served &s, bool *cut) {
        if (n >= 1 && n <= 3 && s.body.size() > 100000) {
            s.body.resize(100000);
            *cut = true;
        }
    });
    EXPECT_OK(out);
    EXPECT_EQ(out.content, varied);
    // A cut export starts again, and the caller drops what it had.
    out = run(read, "/Notes{export-gdoc}.pdf", "", [](size_t n, const ostrel_google_drive_request_t &, Served &s,
                                                       bool *cut) {
        if (n == 2) {
            s.body.resize(3);
            *cut = true;
        }
    });
    EXPECT_OK(out);
    EXPECT_EQ(out.content, "EXPORT of Notes");
    // A stub is the library's content.
    ASSERT_EQ(ostrel_google_drive_export_set_config(nullptr, nullptr, nullptr, nullptr), OSTREL_SUCCESS);
    out = run(read, "/Notes.gdoc", "", nullptr, 2, 5);
    EXPECT_OK(out);
    EXPECT_EQ(out.content, "url\":");
}

// Others' changes are seen once the listing is older than the bound set.
TEST_F(Session, OthersChangesAreSeenWithinTheBound)
{
    ostrel_google_drive_session_set_limits(session, 3, 1000, 0, 0);
    EXPECT_OK(run(list, "/"));
    const size_t asked = model.requests;
    model.add("0Root", "theirs");
    now += 999;
    EXPECT_OK(run(list, "/"));
    EXPECT_EQ(model.requests, asked);  // believed: no request
    EXPECT_TRUE(names.empty());
    now += 2;
    EXPECT_OK(run(list, "/"));
    EXPECT_EQ(names, std::vector<std::string>{"theirs"});
}

// A cut export is never spliced: without leave to start again, the read fails.
TEST_F(Session, ACutExportFailsWhenTheCallerCannotDiscard)
{
    model.add("0Root", "Notes", DOC);
    ASSERT_EQ(ostrel_google_drive_export_set_config("pdf", nullptr, nullptr, nullptr), OSTREL_SUCCESS);
    ostrel_google_drive_op_t *op = nullptr;
    ASSERT_EQ(ostrel_google_drive_op_read(session, "/Notes{export-gdoc}.pdf", 0, 0, false, now, &op), OSTREL_SUCCESS);
    const Outcome out = drive(model, op, "", [](size_t, const ostrel_google_drive_request_t &r, Served &, bool *cut) {
        *cut = std::strstr(r.url, "/export") != nullptr;
    });
    ostrel_google_drive_op_free(op);
    EXPECT_EQ(out.code(), 426);
    EXPECT_EQ(out.error_code(), "TRANSFER_ABORTED");
    OwnedError drop(out.result);
}

// MFMT, a write that keeps the client's time, and the facts a listing shows.
TEST_F(Session, TimesAndFactsRoundTrip)
{
    const int64_t when = 1714496520123;  // 2024-04-30T17:02:00.123Z
    ostrel_google_drive_op_t *op = nullptr;
    ASSERT_EQ(ostrel_google_drive_op_write(session, "/kept.txt", 2, when, now, &op), OSTREL_SUCCESS);
    EXPECT_OK(drive(model, op, "hi", nullptr, now));
    ostrel_google_drive_op_free(op);
    EXPECT_EQ(model.files.back().modified, "2024-04-30T17:02:00.123Z");
    ASSERT_EQ(ostrel_google_drive_op_set_time(session, "/kept.txt", when + 86400000, now, &op), OSTREL_SUCCESS);
    EXPECT_OK(drive(model, op, "", nullptr, now));
    ostrel_google_drive_op_free(op);
    EXPECT_EQ(model.files.back().modified, "2024-05-01T17:02:00.123Z");
    model.files.back().capabilities = OSTREL_GOOGLE_DRIVE_CAN_DOWNLOAD | OSTREL_GOOGLE_DRIVE_CAN_RENAME;
    ostrel_google_drive_session_forget(session);
    ASSERT_EQ(ostrel_google_drive_op_list(session, "/", now, &op), OSTREL_SUCCESS);
    EXPECT_OK(drive(model, op, "", nullptr, now));
    char *facts = ostrel_google_drive_op_facts(op, 0);
    EXPECT_STREQ(facts, ("type=file;size=2;modify=20240501170200.123;perm=rf;unique=" + model.files.back().id
                         + ";media-type=application/octet-stream;").c_str());
    std::free(facts);
    ostrel_google_drive_op_free(op);
    // Drive that keeps another time than it was given is no success.
    ASSERT_EQ(ostrel_google_drive_op_set_time(session, "/kept.txt", when, now, &op), OSTREL_SUCCESS);
    const Outcome out = drive(model, op, "", [](size_t, const ostrel_google_drive_request_t &r, Served &s, bool *) {
        if (std::strcmp(r.method, "PATCH") == 0) {
            const size_t at = s.body.find(".123Z");
            s.body.replace(at, 5, ".000Z");
        }
    }, now);
    ostrel_google_drive_op_free(op);
    EXPECT_EQ(out.error_code(), "DRIVE_ERROR");
    OwnedError drop(out.result);
}

// Blocks of parallel streams in any order, through the window, give the
// content a sequential upload gives, within the window's memory.
TEST_F(Session, TheWindowTurnsBlocksInAnyOrderIntoTheSameContent)
{
    std::mt19937 random(31);
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        std::string content((8u << 20) + random() % (10u << 20), '\0');
        for (char &c : content) {
            c = static_cast<char>(random());
        }
        // The blocks of each stream, in the order that stream sends them.
        const size_t streams = 1 + random() % 6;
        std::vector<std::vector<std::pair<size_t, size_t>>> queues(streams);
        for (size_t at = 0; at < content.size();) {
            const size_t n = std::min<size_t>(content.size() - at, 1 + random() % (1u << 20));
            queues[random() % streams].push_back({at, n});
            if (random() % 8 == 0) {
                queues[random() % streams].push_back({at, n});  // sent twice
            }
            at += n;
        }
        ostrel_google_drive_window_t *window = nullptr;
        ASSERT_EQ(ostrel_google_drive_window_create(OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_SIZE + (1u << 20), &window),
                  OSTREL_SUCCESS);
        const bool unknown = round % 2 == 0;
        ostrel_google_drive_op_t *op = nullptr;
        ASSERT_EQ(ostrel_google_drive_op_write(session, ("/w" + std::to_string(round)).c_str(),
                                               unknown ? OSTREL_GOOGLE_DRIVE_SIZE_UNKNOWN : content.size(),
                                               OSTREL_GOOGLE_DRIVE_NO_TIME, now, &op),
                  OSTREL_SUCCESS);
        std::vector<size_t> next(streams, 0);
        bool ended = false;
        // One block of a stream that is not held back; false when none is left.
        const auto deliver = [&]() {
            std::vector<size_t> open;
            for (size_t k = 0; k < streams; ++k) {
                if (next[k] < queues[k].size()) {
                    open.push_back(k);
                }
            }
            for (size_t tries = 0; tries < open.size() * 4; ++tries) {
                const size_t k = open[random() % open.size()];
                const auto [at, n] = queues[k][next[k]];
                bool wait = false;
                EXPECT_EQ(ostrel_google_drive_window_put(window, at, content.data() + at, n, &wait), OSTREL_SUCCESS);
                if (!wait) {
                    ++next[k];
                    return true;
                }
            }
            return false;
        };
        for (;;) {
            const ostrel_google_drive_request_t *request = nullptr;
            unsigned long delay = 0;
            ASSERT_EQ(ostrel_google_drive_op_next(op, &request, &delay), OSTREL_SUCCESS);
            if (request == nullptr) {
                break;
            }
            const uint64_t need = request->data_offset + request->data_length;
            while (ostrel_google_drive_window_ready(window) < need && deliver()) {
            }
            if (unknown && !ended && ostrel_google_drive_window_ready(window) == content.size()) {
                ended = true;
                ostrel_google_drive_op_write_end(op, content.size());
                continue;  // the pending chunk is built again
            }
            const char *bytes = ostrel_google_drive_window_bytes(window, request->data_offset, request->data_length);
            ASSERT_TRUE(request->data_length == 0 || bytes != nullptr) << need;
            const Served served = model.serve(*request, "", bytes);
            ASSERT_EQ(ostrel_google_drive_op_feed(op, served.status, served.headers.c_str(), served.body.data(),
                                                  served.body.size(), 0, now),
                      OSTREL_SUCCESS);
            ostrel_google_drive_window_commit(window, ostrel_google_drive_op_bytes(op));
        }
        EXPECT_EQ(ostrel_google_drive_op_bytes(op), content.size());
        EXPECT_EQ(model.files.back().content == content, true);
        ostrel_google_drive_op_free(op);
        ostrel_google_drive_window_free(window);
    }
    // Different bytes at one offset are a conflict, not a choice.
    ostrel_google_drive_window_t *window = nullptr;
    ASSERT_EQ(ostrel_google_drive_window_create(OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_SIZE, &window), OSTREL_SUCCESS);
    bool wait = false;
    EXPECT_EQ(ostrel_google_drive_window_put(window, 0, "abcdef", 6, &wait), OSTREL_SUCCESS);
    EXPECT_EQ(ostrel_google_drive_window_put(window, 2, "cd", 2, &wait), OSTREL_SUCCESS);
    OwnedError conflict(ostrel_google_drive_window_put(window, 4, "EF", 2, &wait));
    EXPECT_STREQ(ostrel_gfs_error_get_ftp_response_error_code(conflict.error), "CONFLICTING_BLOCKS");
    EXPECT_EQ(ostrel_google_drive_window_put(window, OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_SIZE, "x", 1, &wait),
              OSTREL_SUCCESS);
    EXPECT_TRUE(wait);
    EXPECT_EQ(ostrel_google_drive_window_ready(window), 6u);
    ostrel_google_drive_window_free(window);
}

// A create whose answer was lost is asked again with the same id: Drive
// refuses the id in use, and the file of that id is the first attempt's.
TEST_F(Session, ALostCreateAnswerMakesOneFolder)
{
    const Outcome out = run(mkdir, "/once", "", [](size_t, const ostrel_google_drive_request_t &r, Served &s, bool *) {
        static bool lost = false;
        if (std::strcmp(r.method, "POST") == 0 && !lost) {
            lost = true;
            s = Served{};  // created, but no answer came
        }
    });
    EXPECT_OK(out);
    EXPECT_EQ(truth("0Root"), (std::multiset<std::string>{"once"}));
    EXPECT_EQ(run(mkdir, "/once").error_code(), "FILE_EXISTS");
    // A lost last chunk's answer is asked of the session, never uploaded anew.
    const Outcome up = run(write, "/up", "bytes", [](size_t, const ostrel_google_drive_request_t &r, Served &s, bool *) {
        static bool lost = false;
        if (std::strcmp(r.method, "PUT") == 0 && !lost) {
            lost = true;
            s = Served{};
        }
    });
    EXPECT_OK(up);
    EXPECT_EQ(model.uploads.size(), 1u);
    EXPECT_EQ(truth("0Root"), (std::multiset<std::string>{"once", "up"}));
}

// What an administrator's tool asks beyond the plug-in's commands: the
// files a path opened, the trash, create-only writes, chunk sizes,
// restarts and what a listing left out.
TEST_F(Session, WhatAToolAsksBeyondTheCommands)
{
    EXPECT_OK(run(mkdir, "/d"));
    EXPECT_OK(run(write, "/d/f", "first"));
    EXPECT_OK(run(write, "/d/gone", "x"));
    EXPECT_OK(run(remove, "/d/gone"));
    const std::string content(1024 * 1024 + 1, 'c');
    // *opp read after the call made it.
    const auto start = [](ostrel_result_t made, ostrel_google_drive_op_t *const *opp) {
        EXPECT_EQ(made, OSTREL_SUCCESS);
        return std::unique_ptr<ostrel_google_drive_op_t, void (*)(ostrel_google_drive_op_t *)>(*opp, ostrel_google_drive_op_free);
    };
    ostrel_google_drive_op_t *raw = nullptr;
    {
        const auto op = start(ostrel_google_drive_op_stat(session, "/d/./f", now, &raw), &raw);
        EXPECT_OK(drive(model, op.get()));
        ASSERT_EQ(ostrel_google_drive_op_step_count(op.get()), 2u);
        EXPECT_EQ(std::string(ostrel_google_drive_op_step(op.get(), 0)->name), "d");
        EXPECT_EQ(std::string(ostrel_google_drive_op_step(op.get(), 1)->id), ostrel_google_drive_op_file(op.get())->id);
        EXPECT_EQ(ostrel_google_drive_op_step(op.get(), 2), nullptr);
    }
    {
        const auto op = start(ostrel_google_drive_op_list_trashed(session, "/d", now, &raw), &raw);
        EXPECT_OK(drive(model, op.get()));
        std::map<std::string, bool> trashed;
        for (size_t i = 0; i < ostrel_google_drive_op_entry_count(op.get()); ++i) {
            trashed[ostrel_google_drive_op_entry_name(op.get(), i)] = ostrel_google_drive_op_entry(op.get(), i)->trashed;
        }
        EXPECT_EQ(trashed, (std::map<std::string, bool>{{"f", false}, {"gone", true}}));
        EXPECT_OK(run(list, "/d"));
        EXPECT_EQ(names, std::vector<std::string>{"f"});  // the session's own listing stays without the trash
    }
    // Create only: a name held is refused before any byte is sent.
    for (const bool create_only : {true, false}) {
        const size_t uploads = model.uploads.size();
        const auto op = start(ostrel_google_drive_op_write(session, "/d/f", 5, OSTREL_GOOGLE_DRIVE_NO_TIME, now, &raw), &raw);
        if (create_only) {
            ostrel_google_drive_op_set_create_only(op.get());
        }
        const Outcome out = drive(model, op.get(), "again");
        EXPECT_EQ(out.error_code(), create_only ? "FILE_EXISTS" : "NULL") << OwnedError(out.result).chain();
        EXPECT_EQ(model.uploads.size(), uploads + (create_only ? 0 : 1));
    }
    // Chunks of the size asked, rounded down to the unit; an expired session begins again, counted.
    for (const uint64_t asked : {uint64_t{262144}, uint64_t{300000}, uint64_t{1}}) {
        const auto op = start(ostrel_google_drive_op_write(session, "/d/c", content.size(), OSTREL_GOOGLE_DRIVE_NO_TIME, now, &raw), &raw);
        ostrel_google_drive_op_set_chunk_size(op.get(), asked);
        size_t puts = 0;
        const Outcome out = drive(model, op.get(), content, [&puts](size_t, const ostrel_google_drive_request_t &r, Served &s, bool *) {
            if (std::strcmp(r.method, "PUT") == 0 && ++puts == 2) {
                s = Served{};
                s.status = 404;  // the upload session expired
                s.body = R"({"error": {"code": 404, "message": "Not Found"}})";
            }
        });
        EXPECT_OK(out);
        EXPECT_EQ(ostrel_google_drive_op_restarts(op.get()), 1u);
        EXPECT_EQ(puts, 2 + 5u);  // one chunk, the expired one, then five chunks of 256 KiB (the last one byte)
        EXPECT_EQ(model.files.back().content, content);
    }
    // Records a page holds that the listing cannot use are counted.
    const auto op = start(ostrel_google_drive_op_list(session, "/d", now + 60000, &raw), &raw);
    ostrel_google_drive_session_forget(session);
    const Outcome out = drive(model, op.get(), "", [](size_t, const ostrel_google_drive_request_t &r, Served &s, bool *) {
        const size_t files = s.body.find("\"files\":[");
        if (std::strstr(r.url, "pageSize") != nullptr && files != std::string::npos) {
            s.body.insert(files + 9, R"({"id": "bad/id", "name": "x"}, {"id": "1ok"}, )");
        }
    });
    EXPECT_OK(out);
    bool incomplete = true;
    EXPECT_EQ(ostrel_google_drive_op_left_out(op.get(), &incomplete), 2u);
    EXPECT_FALSE(incomplete);
}

// A refused token is the caller's to refresh; the operation goes on.
TEST_F(Session, ARefusedTokenIsHandedBackAndTheOperationGoesOn)
{
    model.add("0Root", "t");
    ostrel_google_drive_op_t *op = nullptr;
    ASSERT_EQ(ostrel_google_drive_op_stat(session, "/t", now, &op), OSTREL_SUCCESS);
    const ostrel_google_drive_request_t *request = nullptr;
    unsigned long delay = 0;
    ASSERT_EQ(ostrel_google_drive_op_next(op, &request, &delay), OSTREL_SUCCESS);
    const std::string first = request->url;
    OwnedError refused(ostrel_google_drive_op_feed(op, 401, nullptr, "{}", 2, 0, now));
    EXPECT_EQ(ostrel_gfs_error_get_ftp_response_code(refused.error), 530);
    ASSERT_EQ(ostrel_google_drive_op_next(op, &request, &delay), OSTREL_SUCCESS);
    EXPECT_EQ(request->url, first);
    EXPECT_OK(drive(model, op));
    EXPECT_STREQ(ostrel_google_drive_op_file(op)->name, "t");
    ostrel_google_drive_op_free(op);
}

// The reply line carries no raw control character of Drive's.
TEST_F(Session, TheReplyLineIsOneLine)
{
    const Outcome out = run(stat, "/x", "", [](size_t, const ostrel_google_drive_request_t &, Served &s, bool *) {
        s.status = 403;
        s.body = "{\"error\": {\"code\": 403, \"message\": \"no\\r\\n226 forged\", \"errors\": [{\"reason\": \"x\"}]}}";
    });
    int code = 0;
    char *line = ostrel_google_drive_reply(out.result, &code, false);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(code, 550);
    EXPECT_STREQ(line, "PERMISSION_DENIED: GridFTP-Path: /x: no\\r\\n226 forged");
    std::free(line);
    line = ostrel_google_drive_reply(out.result, &code, true);
    ASSERT_NE(line, nullptr);
    EXPECT_NE(std::string(line).find("\nGD-Path: /x"), std::string::npos) << line;
    EXPECT_EQ(std::string(line).find('\r'), std::string::npos);
    std::free(line);
    OwnedError error(out.result);
}

// Random answers: every operation ends within its bound, succeeds only on
// answers of success, and asks nothing beyond the API's origin.
TEST_F(Session, RandomAnswersEndWithinTheBound)
{
    const int statuses[] = {0, 200, 201, 204, 206, 308, 400, 401, 403, 404, 409, 410, 429, 500, 503};
    const char *const bodies[] = {
        "", "{}", "not json", "{\"files\": []}", "{\"files\": [{\"id\": \"a\", \"name\": \"x\"}], \"nextPageToken\": \"t\"}",
        "{\"id\": \"r\", \"name\": \"x\", \"mimeType\": \"application/vnd.google-apps.folder\"}",
        "{\"id\": \"gen1\", \"name\": \"x\", \"size\": \"3\"}", "{\"ids\": [\"gen1\"]}",
        "{\"error\": {\"code\": 403, \"message\": \"m\", \"errors\": [{\"reason\": \"rateLimitExceeded\"}]}}"};
    const char *const headers[] = {"", "Location: http://drive.test/upload/session/0\r\n", "Range: bytes=0-1\r\n",
                                   "Content-Range: bytes 0-2/3\r\n", "Location: http://evil.test/s\r\n",
                                   "Retry-After: 1\r\n"};
    std::mt19937 random(30);
    for (int round = 0; round < 400; ++round) {
        const Kind kind = static_cast<Kind>(round % 9);
        ostrel_google_drive_session_forget(session);
        ostrel_google_drive_session_t *fresh = nullptr;
        ASSERT_EQ(ostrel_google_drive_session_create(DriveModel::base_url, nullptr, &fresh), OSTREL_SUCCESS);
        std::swap(fresh, session);
        ostrel_google_drive_session_free(fresh);
        ostrel_google_drive_session_set_limits(session, 2, 0, 0, 3);
        bool any_success = false;
        const Outcome out = run(kind, "/x/y", "/z", [&](size_t, const ostrel_google_drive_request_t &, Served &s, bool *cut) {
            s.status = statuses[random() % std::size(statuses)];
            s.body = bodies[random() % std::size(bodies)];
            s.headers = headers[random() % std::size(headers)];
            *cut = random() % 4 == 0;
            any_success = any_success || (s.status >= 200 && s.status < 300) || s.status == 308;
        }, 0, 3);
        if (!any_success) {
            EXPECT_NE(out.result, OSTREL_SUCCESS) << round;
        }
        for (const std::string &url : out.urls) {
            EXPECT_EQ(url.rfind(DriveModel::base_url, 0), 0u) << url;
        }
        // The bound the header documents: a = 2, P = 3, d = 2 + 2 paths' elements.
        const size_t a = 2;
        const size_t bound = a * (2 + (2 + 2 + 2) * (2 * 3 + 1)) + 3 * a + a * (2 + 3 / 65536) + a * (3 + 3 / 262144);
        EXPECT_LE(out.requests, bound) << round;
        OwnedError drop(out.result);
    }
}

}  // namespace
