// What a client sees of a file beyond its name: listing facts and the
// client size, checksums, and download stripes.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "support/names.h"
#include "support/trace_capture.h"

namespace {

using ostrel::test::OwnedError;

constexpr unsigned ALL = 0xff;
constexpr const char *DOC = "application/vnd.google-apps.document";
constexpr const char *FOLDER = "application/vnd.google-apps.folder";

class Facts : public ostrel::test::ModuleTest {
protected:
    void TearDown() override
    {
        EXPECT_EQ(ostrel_google_drive_export_set_config(nullptr, nullptr, nullptr, nullptr), OSTREL_SUCCESS);
        ModuleTest::TearDown();
    }
};

TEST_F(Facts, FactsSizeAndPermFollowTheKindAndCapabilities)
{
    ASSERT_EQ(ostrel_google_drive_export_set_config("pdf", nullptr, nullptr, nullptr), OSTREL_SUCCESS);
    const struct {
        const char *mime_type;
        bool sized;
        unsigned capabilities;
        int modified_ms;
        const char *expected;
    } cases[] = {
        {"application/pdf", true, ALL, -1,
         "type=file;size=1024;modify=20240430170200;create=20240101000000;perm=rfwd;unique=1AbC;"
         "media-type=application/pdf;"},
        {"application/pdf", true, OSTREL_GOOGLE_DRIVE_CAN_DOWNLOAD, 5,
         "type=file;size=1024;modify=20240430170200.005;create=20240101000000;perm=r;unique=1AbC;"
         "media-type=application/pdf;"},
        {"application/pdf", false, OSTREL_GOOGLE_DRIVE_CAN_DELETE, -1,
         "type=file;modify=20240430170200;create=20240101000000;perm=d;unique=1AbC;media-type=application/pdf;"},
        {DOC, true, OSTREL_GOOGLE_DRIVE_CAN_DOWNLOAD | OSTREL_GOOGLE_DRIVE_CAN_EDIT, 999,
         "type=file;modify=20240430170200.999;create=20240101000000;perm=rw;unique=1AbC;media-type=application/pdf;"},
        {"application/vnd.google-apps.form", true, 0, -1,
         "type=file;size=111;modify=20240430170200;create=20240101000000;perm=r;unique=1AbC;"
         "media-type=application/vnd.google-apps.form;"},
        {"application/vnd.google-apps.script", true, ALL, -1,
         "type=file;modify=20240430170200;create=20240101000000;perm=fwd;unique=1AbC;"
         "media-type=application/vnd.google-apps.script;"},
        {FOLDER, true, ALL, -1, "type=dir;modify=20240430170200;create=20240101000000;perm=elcmpfd;unique=1AbC;"},
        {FOLDER, true, OSTREL_GOOGLE_DRIVE_CAN_LIST_CHILDREN, -1,
         "type=dir;modify=20240430170200;create=20240101000000;perm=el;unique=1AbC;"},
        {"text/plain; charset=x", true, 0, -1, "type=file;size=1024;modify=20240430170200;create=20240101000000;perm=;unique=1AbC;"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected);
        ostrel_google_metadata_t file = {};
        file.id = const_cast<char *>("1AbC");
        file.name = const_cast<char *>("x");
        file.mime_type = const_cast<char *>(c.mime_type);
        file.size = 1024;
        file.size_set = c.sized;
        file.modified_time = 1714496520;  // 2024-04-30T17:02:00Z
        file.modified_time_set = true;
        file.created_time = 1704067200;
        file.created_time_set = true;
        char *facts = nullptr;
        ASSERT_EQ(ostrel_google_drive_facts(&file, c.capabilities, c.modified_ms, -1, &facts), OSTREL_SUCCESS);
        EXPECT_STREQ(facts, c.expected);
        std::free(facts);
        uint64_t size = 1;
        const bool sized = ostrel_google_drive_client_size(&file, &size);
        EXPECT_EQ(sized, std::string(c.expected).find("size=") != std::string::npos);
    }
}

TEST(Checksum, KnownValuesIncrementallyAndTheRefusals)
{
    const struct {
        const char *algorithm;
        const char *abc;
        const char *empty;
    } cases[] = {
        {"MD5", "900150983cd24fb0d6963f7d28e17f72", "d41d8cd98f00b204e9800998ecf8427e"},
        {"crc32", "352441c2", "00000000"},
        {"Adler32", "024d0127", "00000001"},
    };
    std::mt19937 random(28);
    std::string text(100000, '\0');
    for (char &c : text) {
        c = static_cast<char>(random());
    }
    for (const auto &c : cases) {
        SCOPED_TRACE(c.algorithm);
        ostrel_google_drive_checksum_t *whole = nullptr;
        ostrel_google_drive_checksum_t *pieces = nullptr;
        ASSERT_EQ(ostrel_google_drive_checksum_create(c.algorithm, &whole), OSTREL_SUCCESS);
        ASSERT_EQ(ostrel_google_drive_checksum_create(c.algorithm, &pieces), OSTREL_SUCCESS);
        char *empty = ostrel_google_drive_checksum_text(whole);
        EXPECT_STREQ(empty, c.empty);
        std::free(empty);
        ostrel_google_drive_checksum_update(whole, "abc", 3);
        char *abc = ostrel_google_drive_checksum_text(whole);
        EXPECT_STREQ(abc, c.abc);
        std::free(abc);
        ostrel_google_drive_checksum_update(whole, text.data(), text.size());
        ostrel_google_drive_checksum_update(pieces, "abc", 3);
        for (size_t at = 0; at < text.size();) {
            const size_t n = std::min<size_t>(text.size() - at, random() % 5000);
            ostrel_google_drive_checksum_update(pieces, text.data() + at, n);
            at += n;
        }
        char *a = ostrel_google_drive_checksum_text(whole);
        char *b = ostrel_google_drive_checksum_text(pieces);
        EXPECT_STREQ(a, b);
        std::free(a);
        std::free(b);
        ostrel_google_drive_checksum_free(whole);
        ostrel_google_drive_checksum_free(pieces);
    }
    ostrel_google_drive_checksum_t *none = nullptr;
    OwnedError unknown(ostrel_google_drive_checksum_create("SHA1", &none));
    EXPECT_EQ(ostrel_gfs_error_get_ftp_response_code(unknown.error), 504);
    EXPECT_EQ(none, nullptr);
    // Drive's MD5 is of a whole ordinary file only.
    ostrel_google_metadata_t file = {};
    file.id = const_cast<char *>("f");
    file.size = 10;
    file.size_set = true;
    std::strcpy(file.md5_checksum, "0123456789abcdef0123456789abcdef");
    const char *md5 = nullptr;
    EXPECT_EQ(ostrel_google_drive_drive_md5(&file, 0, UINT64_MAX, &md5), OSTREL_SUCCESS);
    EXPECT_STREQ(md5, file.md5_checksum);
    EXPECT_EQ(ostrel_google_drive_drive_md5(&file, 0, 10, &md5), OSTREL_SUCCESS);
    OwnedError range(ostrel_google_drive_drive_md5(&file, 1, 9, &md5));
    EXPECT_STREQ(ostrel_gfs_error_get_ftp_response_error_code(range.error), "NO_CHECKSUM");
    file.mime_type = const_cast<char *>(DOC);
    OwnedError doc(ostrel_google_drive_drive_md5(&file, 0, UINT64_MAX, &md5));
    EXPECT_EQ(ostrel_gfs_error_get_ftp_response_code(doc.error), 550);
}

// Stripes cover the file once, in order, each but the last whole 256 KiB units.
TEST(Stripes, CoverTheFileInUnitsForAtMostTheStreams)
{
    std::mt19937_64 random(29);
    uint64_t offsets[16];
    uint64_t lengths[16];
    for (int round = 0; round < 2000; ++round) {
        const uint64_t size = random() % (round % 2 == 0 ? (64u << 20) : 600000u);
        const unsigned streams = 1 + random() % 12;
        const size_t n = ostrel_google_drive_stripes(size, streams, 0, offsets, lengths, std::size(offsets));
        ASSERT_LE(n, streams);
        uint64_t at = 0;
        for (size_t i = 0; i < n; ++i) {
            ASSERT_EQ(offsets[i], at);
            ASSERT_GT(lengths[i], 0u);
            if (i + 1 < n) {
                ASSERT_EQ(lengths[i] % OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_UNIT, 0u);
            }
            at += lengths[i];
        }
        ASSERT_EQ(at, size) << size << " " << streams;
    }
}

}  // namespace
