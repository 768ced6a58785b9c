// Each operation beside its floor, measured in the same run: a benchmark
// BM_<op> is paired with BM_<op>_Floor; bench/run prints their ratios.
#include <benchmark/benchmark.h>
#include <jansson.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "doc_types.h"
#include "ostrel_i_google_drive_common.h"

namespace {

struct Module {
    Module()
    {
        unsetenv("OSTREL_GOOGLE_DRIVE_DEBUG");
        ostrel_module_activate(&ostrel_i_google_drive_common_module);
        ostrel_google_drive_export_set_config("pdf", "xlsx", nullptr, nullptr);
    }
    ~Module() { ostrel_module_deactivate(&ostrel_i_google_drive_common_module); }
} module;

// Typical client names: ASCII and not, plain and escaped, with ID tokens,
// stub extensions and export suffixes.
const std::vector<std::string> client_names = {
    "quarterly-report-final.pdf",
    "Budget 2024 (draft v3).xlsx",
    "Meeting notes{export-gdoc}.pdf",
    "Projektübersicht März.docx",
    "Q1{slash}Q2 comparison.xlsx",
    "invoice.{ID1AbCdEfGh}.pdf",
    "All-hands presentation.gslides",
    "日本語の資料 第二版.pdf",
    "Network diagram v2.gdraw",
    "photo_2024-05-01_123456.jpg",
};

struct DriveName {
    const char *name;
    const char *mime_type;
    const char *id;
};
const std::vector<DriveName> drive_names = {
    {"quarterly-report-final.pdf", "application/pdf", nullptr},
    {"Budget 2024 (draft v3).xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", nullptr},
    {"Meeting notes", "application/vnd.google-apps.document", nullptr},
    {"Projektübersicht März.docx", "application/octet-stream", nullptr},
    {"Q1/Q2 comparison.xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", nullptr},
    {"invoice.pdf", "application/pdf", "1AbCdEfGh"},
    {"All-hands presentation", "application/vnd.google-apps.presentation", nullptr},
    {"日本語の資料 第二版.pdf", "application/pdf", nullptr},
    {"Network diagram v2", "application/vnd.google-apps.drawing", nullptr},
    {"photo_2024-05-01_123456.jpg", "image/jpeg", "1XyZ"},
};

void floor_copy(benchmark::State &state, const std::vector<std::string> &names)
{
    size_t i = 0;
    for (auto _ : state) {
        const std::string &name = names[i++ % names.size()];
        char *copy = strdup(name.c_str());
        benchmark::DoNotOptimize(std::strlen(copy));
        std::free(copy);
    }
}

void BM_TranslateIn(benchmark::State &state)
{
    size_t i = 0;
    for (auto _ : state) {
        char *name = nullptr;
        const char *mime_type = nullptr;
        char *id = nullptr;
        ostrel_google_drive_name_translate_in(client_names[i++ % client_names.size()].c_str(), &name, &mime_type, &id,
                                              false);
        benchmark::DoNotOptimize(name);
        std::free(name);
        std::free(id);
    }
}
BENCHMARK(BM_TranslateIn);

void BM_TranslateIn_Floor(benchmark::State &state)
{
    floor_copy(state, client_names);
}
BENCHMARK(BM_TranslateIn_Floor);

void BM_TranslateOut(benchmark::State &state)
{
    std::vector<ostrel_google_metadata_t> records(drive_names.size());
    for (size_t k = 0; k < drive_names.size(); ++k) {
        records[k].name = const_cast<char *>(drive_names[k].name);
        records[k].mime_type = const_cast<char *>(drive_names[k].mime_type);
        records[k].id = const_cast<char *>(drive_names[k].id);
        records[k].append_id = drive_names[k].id != nullptr;
    }
    size_t i = 0;
    for (auto _ : state) {
        char *name = nullptr;
        ostrel_google_drive_name_translate_out(&records[i++ % records.size()], &name);
        benchmark::DoNotOptimize(name);
        std::free(name);
    }
}
BENCHMARK(BM_TranslateOut);

void BM_TranslateOut_Floor(benchmark::State &state)
{
    std::vector<std::string> names;
    for (const DriveName &d : drive_names) {
        names.emplace_back(d.name);
    }
    floor_copy(state, names);
}
BENCHMARK(BM_TranslateOut_Floor);

const char *const ten_elements = "/projects/2024/finance/Budget 2024 (draft v3){export-gsheet}.xlsx/../reports/"
                                 "Q1{slash}Q2/archive.{ID1AbC}/notes/Meeting notes.gdoc";

void free_split(ostrel_google_drive_path_t *split)
{
    for (uint64_t k = 0; k < split->count; ++k) {
        std::free(split->elements[k].name);
        std::free(split->elements[k].id);
    }
    std::free(split->elements);
}

void BM_PathSplit(benchmark::State &state)
{
    for (auto _ : state) {
        ostrel_google_drive_path_t split = {0, nullptr};
        ostrel_google_drive_path_split(ten_elements, &split, false);
        benchmark::DoNotOptimize(split.elements);
        free_split(&split);
    }
}
BENCHMARK(BM_PathSplit);

// What the interface demands at least: the element array and a copy of
// each element's text.
void path_floor(benchmark::State &state)
{
    std::vector<std::string> elements;
    for (std::string_view rest = ten_elements;;) {
        const size_t slash = rest.find('/');
        elements.emplace_back(rest.substr(0, slash));
        if (slash == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(slash + 1);
    }
    for (auto _ : state) {
        auto *array = static_cast<ostrel_google_drive_path_element_t *>(
            std::calloc(elements.size(), sizeof(ostrel_google_drive_path_element_t)));
        for (size_t k = 0; k < elements.size(); ++k) {
            array[k].name = strdup(elements[k].c_str());
        }
        benchmark::DoNotOptimize(array);
        for (size_t k = 0; k < elements.size(); ++k) {
            std::free(array[k].name);
        }
        std::free(array);
    }
}

void BM_PathSplit_Floor(benchmark::State &state)
{
    path_floor(state);
}
BENCHMARK(BM_PathSplit_Floor);

void BM_PartialPath(benchmark::State &state)
{
    ostrel_google_drive_path_t split = {0, nullptr};
    ostrel_google_drive_path_split(ten_elements, &split, false);
    for (auto _ : state) {
        char *path = nullptr;
        ostrel_google_drive_partial_path_construct(&split, split.count, &path);
        benchmark::DoNotOptimize(path);
        std::free(path);
    }
    free_split(&split);
}
BENCHMARK(BM_PartialPath);

void BM_PartialPath_Floor(benchmark::State &state)
{
    path_floor(state);
}
BENCHMARK(BM_PartialPath_Floor);

// Variable expansion stays linear in the path: a long path of many
// variables must not cost the square of its length.
std::string variables(size_t tokens)
{
    std::string path;
    for (size_t i = 0; i < tokens; ++i) {
        path += "$HOME$x";
    }
    return path;
}

void BM_EvaluatePath(benchmark::State &state)
{
    const std::string path = variables(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        char *out = nullptr;
        ostrel_google_drive_evaluate_path(path.c_str(), &out);
        benchmark::DoNotOptimize(out);
        std::free(out);
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_EvaluatePath)->RangeMultiplier(4)->Range(1 << 10, 1 << 16)->Complexity(benchmark::oN);

// The floor copies the same text once.
void BM_EvaluatePath_Floor(benchmark::State &state)
{
    const std::string path = variables(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        char *out = strdup(path.c_str());
        benchmark::DoNotOptimize(out);
        std::free(out);
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_EvaluatePath_Floor)->RangeMultiplier(4)->Range(1 << 10, 1 << 16)->Complexity(benchmark::oN);

const char *const typical_resource = R"({
  "kind": "drive#file", "id": "1AbCdEfGhIjKlMnOpQrStUvWxYz012345", "name": "Budget 2024 (draft v3).xlsx",
  "driveId": "0AbCdEfGhIjKlUk9PVA", "mimeType": "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
  "createdTime": "2024-01-15T09:12:33.123Z", "viewedByMeTime": "2024-05-02T08:00:01.000Z",
  "modifiedTime": "2024-04-30T17:02:55.517Z", "ownedByMe": true,
  "owners": [{"kind": "drive#user", "displayName": "Ana Ruiz", "emailAddress": "ana.ruiz@example.org"}],
  "canEdit": true, "starred": false, "trashed": false, "explicitlyTrashed": false,
  "md5Checksum": "9e107d9d372bb6826bd81d3542a419d6", "size": "482133", "parents": ["0AFolderSharedXyz"]
})";

struct Resource {
    Resource() : json(json_loads(typical_resource, 0, nullptr)) {}
    ~Resource() { json_decref(json); }
    json_t *json;
};

void BM_MetadataParse(benchmark::State &state)
{
    Resource resource;
    for (auto _ : state) {
        ostrel_google_metadata_t metadata;
        ostrel_google_metadata_parse(resource.json, &metadata);
        benchmark::DoNotOptimize(metadata.name);
        ostrel_google_metadata_destroy(&metadata);
    }
}
BENCHMARK(BM_MetadataParse);

// The same keys looked up, the texts duplicated, the lists' texts too.
void BM_MetadataParse_Floor(benchmark::State &state)
{
    Resource resource;
    const char *const keys[] = {"id", "name", "driveId", "mimeType", "createdTime", "viewedByMeTime",
                                "modifiedTime", "ownedByMe", "owners", "canEdit", "starred", "trashed",
                                "explicitlyTrashed", "md5Checksum", "size", "parents"};
    for (auto _ : state) {
        char *texts[4];
        for (size_t k = 0; k < std::size(keys); ++k) {
            json_t *value = json_object_get(resource.json, keys[k]);
            benchmark::DoNotOptimize(value);
            if (k < 4) {
                texts[k] = strdup(json_string_value(value));
            }
        }
        char **owners = static_cast<char **>(std::calloc(1, sizeof(char *)));
        owners[0] = strdup(json_string_value(
            json_object_get(json_array_get(json_object_get(resource.json, "owners"), 0), "emailAddress")));
        char **parents = static_cast<char **>(std::calloc(1, sizeof(char *)));
        parents[0] = strdup(json_string_value(json_array_get(json_object_get(resource.json, "parents"), 0)));
        benchmark::DoNotOptimize(texts);
        for (char *text : texts) {
            std::free(text);
        }
        std::free(owners[0]);
        std::free(owners);
        std::free(parents[0]);
        std::free(parents);
    }
}
BENCHMARK(BM_MetadataParse_Floor);

// A files.list page of 1 000 typical files, as Drive sends it.
const std::string &thousand_file_page()
{
    static const std::string page = [] {
        std::string body = "{\"nextPageToken\": \"~!!~AI9FV7Q\", \"incompleteSearch\": false, \"files\": [";
        for (int i = 0; i < 1000; ++i) {
            std::string file = typical_resource;
            file.replace(file.find("\"canEdit\": true"), 15, "\"capabilities\": {\"canEdit\": true}");
            file.replace(file.find("012345"), 6, std::to_string(100000 + i));
            body += (i != 0 ? ", " : "") + file;
        }
        return body + "]}";
    }();
    return page;
}

void BM_PageParse(benchmark::State &state)
{
    const std::string &page = thousand_file_page();
    for (auto _ : state) {
        ostrel_google_drive_page_t parsed;
        if (ostrel_google_drive_page_parse(page.data(), page.size(), &parsed) != OSTREL_SUCCESS
            || parsed.file_count != 1000) {
            state.SkipWithError("the page did not parse into 1 000 records");
            break;
        }
        benchmark::DoNotOptimize(parsed.files);
        ostrel_google_drive_page_destroy(&parsed);
    }
}
BENCHMARK(BM_PageParse);

// Jansson's own parse of the same page, and nothing more.
void BM_PageParse_Floor(benchmark::State &state)
{
    const std::string &page = thousand_file_page();
    for (auto _ : state) {
        json_t *json = json_loadb(page.data(), page.size(), 0, nullptr);
        benchmark::DoNotOptimize(json);
        json_decref(json);
    }
}
BENCHMARK(BM_PageParse_Floor);

void BM_MetadataConvert(benchmark::State &state)
{
    Resource resource;
    ostrel_google_metadata_t metadata;
    ostrel_google_metadata_parse(resource.json, &metadata);
    for (auto _ : state) {
        json_t *json = nullptr;
        ostrel_google_metadata_convert(&metadata, &json);
        benchmark::DoNotOptimize(json);
        json_decref(json);
    }
    ostrel_google_metadata_destroy(&metadata);
}
BENCHMARK(BM_MetadataConvert);

// The same object built directly, its time texts already formatted.
void BM_MetadataConvert_Floor(benchmark::State &state)
{
    for (auto _ : state) {
        json_t *o = json_object();
        json_object_set_new(o, "id", json_string("1AbCdEfGhIjKlMnOpQrStUvWxYz012345"));
        json_object_set_new(o, "name", json_string("Budget 2024 (draft v3).xlsx"));
        json_object_set_new(o, "driveId", json_string("0AbCdEfGhIjKlUk9PVA"));
        json_object_set_new(o, "mimeType",
                            json_string("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"));
        json_object_set_new(o, "viewedByMeTime", json_string("2024-05-02T08:00:01Z"));
        json_object_set_new(o, "modifiedTime", json_string("2024-04-30T17:02:55Z"));
        json_object_set_new(o, "ownedByMe", json_true());
        json_t *owners = json_array();
        json_t *owner = json_object();
        json_object_set_new(owner, "emailAddress", json_string("ana.ruiz@example.org"));
        json_array_append_new(owners, owner);
        json_object_set_new(o, "owners", owners);
        json_object_set_new(o, "canEdit", json_true());
        json_object_set_new(o, "starred", json_false());
        json_object_set_new(o, "trashed", json_false());
        json_object_set_new(o, "explicitlyTrashed", json_false());
        json_object_set_new(o, "md5Checksum", json_string("9e107d9d372bb6826bd81d3542a419d6"));
        json_object_set_new(o, "size", json_string("482133"));
        json_t *parents = json_array();
        json_array_append_new(parents, json_string("0AFolderSharedXyz"));
        json_object_set_new(o, "parents", parents);
        benchmark::DoNotOptimize(o);
        json_decref(o);
    }
}
BENCHMARK(BM_MetadataConvert_Floor);

// A folder listing: 100 000 resources parsed and translated per iteration.
void BM_Listing100k(benchmark::State &state)
{
    json_t *files = json_array();
    for (int k = 0; k < 100000; ++k) {
        json_t *resource = json_loads(typical_resource, 0, nullptr);
        json_object_set_new(resource, "name", json_string(("report " + std::to_string(k) + ".pdf").c_str()));
        json_array_append_new(files, resource);
    }
    for (auto _ : state) {
        for (size_t k = 0; k < json_array_size(files); ++k) {
            ostrel_google_metadata_t metadata;
            ostrel_google_metadata_parse(json_array_get(files, k), &metadata);
            char *name = nullptr;
            ostrel_google_drive_name_translate_out(&metadata, &name);
            benchmark::DoNotOptimize(name);
            std::free(name);
            ostrel_google_metadata_destroy(&metadata);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 100000);
    json_decref(files);
}
BENCHMARK(BM_Listing100k)->Unit(benchmark::kMillisecond);

// One line of a newline-delimited listing: what ostrel-gdrive ls does per
// entry (JSON text to client name) against the JSON parse it cannot avoid.
void BM_ListingLine(benchmark::State &state)
{
    for (auto _ : state) {
        json_t *resource = json_loads(typical_resource, 0, nullptr);
        ostrel_google_metadata_t metadata;
        ostrel_google_metadata_parse(resource, &metadata);
        json_decref(resource);
        char *name = nullptr;
        ostrel_google_drive_name_translate_out(&metadata, &name);
        benchmark::DoNotOptimize(name);
        std::free(name);
        ostrel_google_metadata_destroy(&metadata);
    }
}
BENCHMARK(BM_ListingLine);

void BM_ListingLine_Floor(benchmark::State &state)
{
    for (auto _ : state) {
        json_t *resource = json_loads(typical_resource, 0, nullptr);
        benchmark::DoNotOptimize(resource);
        json_decref(resource);
    }
}
BENCHMARK(BM_ListingLine_Floor);

// A traced lookup with tracing off against the same lookup without tracing.
void BM_TracedLookupOff(benchmark::State &state)
{
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ostrel_google_drive_is_stub(client_names[i++ % client_names.size()].c_str()));
    }
}
BENCHMARK(BM_TracedLookupOff);

void BM_TracedLookupOff_Floor(benchmark::State &state)
{
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ostrel::gdc::is_stub_name(client_names[i++ % client_names.size()].c_str()));
    }
}
BENCHMARK(BM_TracedLookupOff_Floor);

// A folder of n files with realistic names, some of them shared.
struct Folder {
    explicit Folder(size_t n)
    {
        names.reserve(n);
        ids.reserve(n);
        for (size_t k = 0; k < n; ++k) {
            names.push_back("report " + std::to_string(k % (n - n / 10)) + (k % 7 == 0 ? " final.pdf" : ".pdf"));
            ids.push_back("1AbCdEfGhIjKlMnOp" + std::to_string(k));
        }
        for (size_t k = 0; k < n; ++k) {
            ostrel_google_metadata_t record = {};
            record.name = names[k].data();
            record.id = ids[k].data();
            record.mime_type = const_cast<char *>("application/pdf");
            records.push_back(record);
        }
    }
    std::vector<std::string> names;
    std::vector<std::string> ids;
    std::vector<ostrel_google_metadata_t> records;
};

// Lookup among 10 000 children against comparing the client name with
// every child's Drive name.
void BM_Lookup(benchmark::State &state)
{
    static const Folder folder(10000);
    const char *const wanted = "report 8123 final.pdf";
    for (auto _ : state) {
        size_t index = 0;
        benchmark::DoNotOptimize(
            ostrel_google_drive_lookup(wanted, folder.records.data(), folder.records.size(), &index));
        benchmark::DoNotOptimize(index);
    }
}
BENCHMARK(BM_Lookup);

void BM_Lookup_Floor(benchmark::State &state)
{
    static const Folder folder(10000);
    const char *const wanted = "report 8123 final.pdf";
    for (auto _ : state) {
        size_t same = 0;
        for (const ostrel_google_metadata_t &record : folder.records) {
            same += std::strcmp(record.name, wanted) == 0 ? 1 : 0;
        }
        benchmark::DoNotOptimize(same);
    }
}
BENCHMARK(BM_Lookup_Floor);

// Collision marking of 100 000 children; items are children.
void BM_MarkCollisions100k(benchmark::State &state)
{
    Folder folder(100000);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ostrel_google_drive_mark_collisions(folder.records.data(), folder.records.size()));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 100000);
}
BENCHMARK(BM_MarkCollisions100k)->Unit(benchmark::kMillisecond);

// Each kind of name on its own, so that none hides behind an average:
// BM_In_<kind> and BM_Out_<kind>, each beside the floor of one strdup +
// strlen + free of the same name.
struct Kind {
    const char *kind;
    const char *client_name;  // inbound
    DriveName drive;          // outbound
};
const Kind kinds[] = {
    {"plain", "quarterly-report-final-version-2024-approved.pdf",
     {"quarterly-report-final-version-2024-approved.pdf", "application/pdf", nullptr}},
    {"non_ascii", "Projekt\xc3\xbc" "bersicht M\xc3\xa4rz \xe6\x97\xa5\xe6\x9c\xac.docx",
     {"Projekt\xc3\xbc" "bersicht M\xc3\xa4rz \xe6\x97\xa5\xe6\x9c\xac.docx", "application/octet-stream", nullptr}},
    {"export_suffix", "Meeting notes{export-gdoc}.pdf", {"Meeting notes", "application/vnd.google-apps.document", nullptr}},
    {"stub", "All-hands presentation.gslides",
     {"All-hands presentation", "application/vnd.google-apps.presentation", nullptr}},
    {"slash", "Q1{slash}Q2{slash}Q3 comparison.xlsx", {"Q1/Q2/Q3 comparison.xlsx", "text/csv", nullptr}},
    {"id_token", "invoice.{ID1AbCdEfGhIjKlMn}.pdf", {"invoice.pdf", "application/pdf", "1AbCdEfGhIjKlMn"}},
    {"dot", "{dot}", {".", "text/plain", nullptr}},
    {"multi_dot", "archive.2024.05.01.backup.tar.gz", {"archive.2024.05.01.backup.tar.gz", "application/gzip", nullptr}},
};

void in_of(benchmark::State &state, const char *client_name)
{
    for (auto _ : state) {
        char *name = nullptr;
        const char *mime_type = nullptr;
        char *id = nullptr;
        ostrel_google_drive_name_translate_in(client_name, &name, &mime_type, &id, false);
        benchmark::DoNotOptimize(name);
        std::free(name);
        std::free(id);
    }
}

void out_of(benchmark::State &state, DriveName drive)
{
    ostrel_google_metadata_t record = {};
    record.name = const_cast<char *>(drive.name);
    record.mime_type = const_cast<char *>(drive.mime_type);
    record.id = const_cast<char *>(drive.id);
    record.append_id = drive.id != nullptr;
    for (auto _ : state) {
        char *name = nullptr;
        ostrel_google_drive_name_translate_out(&record, &name);
        benchmark::DoNotOptimize(name);
        std::free(name);
    }
}

void floor_of(benchmark::State &state, const char *name)
{
    for (auto _ : state) {
        char *copy = strdup(name);
        benchmark::DoNotOptimize(std::strlen(copy));
        std::free(copy);
    }
}


// The walker's cost a path element: a narrow request built, its answer
// parsed, the element looked up and the record kept; against the floor of
// one lookup over the same one-file answer.
constexpr const char *walk_elements[] = {"projects", "2026", "reports", "summary.txt"};

std::string narrow_answer(int i)
{
    const char *type = i < 3 ? "application/vnd.google-apps.folder" : "text/plain";
    return std::string("{\"files\":[{\"id\":\"1Id") + std::to_string(i) + "\",\"name\":\"" + walk_elements[i]
           + "\",\"mimeType\":\"" + type + "\",\"parents\":[\"1Id" + std::to_string(i - 1) + "\"]}]}";
}

void BM_WalkElement(benchmark::State &state)
{
    const Module module;
    const std::string root = "{\"id\":\"1Id-1\",\"name\":\"My Drive\",\"mimeType\":\"application/vnd.google-apps.folder\"}";
    std::vector<std::string> answers;
    for (int i = 0; i < 4; ++i) {
        answers.push_back(narrow_answer(i));
    }
    ostrel_google_drive_walk_t *walk = nullptr;
    (void) ostrel_google_drive_walk_create(nullptr, "root", 0, &walk);
    bool root_known = false;
    for (auto _ : state) {
        (void) ostrel_google_drive_walk_start(walk, "/projects/2026/reports/summary.txt", false);
        ostrel_google_drive_request_t *request = nullptr;
        unsigned long delay = 0;
        for (size_t i = 0; ostrel_google_drive_walk_next(walk, &request, &delay) == OSTREL_SUCCESS && request != nullptr;) {
            const std::string &body = root_known ? answers[i++] : root;
            root_known = true;
            ostrel_google_drive_answer_t answer = {};
            answer.status = 200;
            answer.body = body.c_str();
            answer.length = body.size();
            (void) ostrel_google_drive_walk_feed(walk, &answer);
            ostrel_google_drive_request_free(request);
        }
        benchmark::DoNotOptimize(ostrel_google_drive_walk_file(walk));
    }
    ostrel_google_drive_walk_free(walk);
    state.SetItemsProcessed(state.iterations() * 4);
}
BENCHMARK(BM_WalkElement);

void BM_WalkElement_Floor(benchmark::State &state)
{
    const Module module;
    ostrel_google_drive_page_t page = {};
    const std::string body = narrow_answer(3);
    (void) ostrel_google_drive_page_parse(body.c_str(), body.size(), &page);
    for (auto _ : state) {
        size_t index = 0;
        benchmark::DoNotOptimize(ostrel_google_drive_lookup(walk_elements[3], page.files, page.file_count, &index));
    }
    ostrel_google_drive_page_destroy(&page);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WalkElement_Floor);

}  // namespace

int main(int argc, char **argv)
{
    for (const Kind &k : kinds) {
        const std::string in = std::string("BM_In_") + k.kind;
        const std::string out = std::string("BM_Out_") + k.kind;
        benchmark::RegisterBenchmark(in.c_str(), in_of, k.client_name);
        benchmark::RegisterBenchmark((in + "_Floor").c_str(), floor_of, k.client_name);
        benchmark::RegisterBenchmark(out.c_str(), out_of, k.drive);
        benchmark::RegisterBenchmark((out + "_Floor").c_str(), floor_of, k.drive.name);
    }
    // What the id's own allocation costs: the interface hands the id out as
    // a text of its own, which the floor of the name does not include.
    benchmark::RegisterBenchmark("BM_IdAllocation", floor_of, "1AbCdEfGhIjKlMn");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
