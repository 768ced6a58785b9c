// A client path walked to its Drive file, one request at a time: the root's
// record first, then one narrow name query a path element, and a whole
// folder listing only where a narrow miss cannot be trusted.
#include <cerrno>
#include <cstring>
#include <new>

#include "api.h"
#include "error_shapes.h"
#include "exact_text.h"
#include "lookup.h"
#include "memory.h"
#include "stop.h"
#include "utf8.h"

namespace {

using namespace ostrel::gdc;
using Metadata = ostrel_google_metadata_t;

constexpr const char *folder_type = "application/vnd.google-apps.folder";
constexpr const char *walk_operation = "Walking a GridFTP path";

// Records gathered from the pages of one narrow answer.
class Records {
public:
    Records() = default;
    Records(const Records &) = delete;
    Records &operator=(const Records &) = delete;
    ~Records() { clear(); }

    void clear() noexcept
    {
        for (size_t i = 0; i < count_; ++i) {
            ostrel_google_metadata_destroy(&items_[i]);
        }
        std::free(items_);
        items_ = nullptr;
        count_ = 0;
    }
    // Moves the page's records here; false without memory (the page keeps them).
    [[nodiscard]] bool take(ostrel_google_drive_page_t *page) noexcept
    {
        if (page->file_count == 0) {
            return true;
        }
        auto *grown = static_cast<Metadata *>(mem_realloc(items_, (count_ + page->file_count) * sizeof(Metadata)));
        if (grown == nullptr) {
            return false;
        }
        items_ = grown;
        std::memcpy(items_ + count_, page->files, page->file_count * sizeof(Metadata));
        // Emptied records are nothing to the page's destroy.
        std::memset(static_cast<void *>(page->files), 0, page->file_count * sizeof(Metadata));
        count_ += page->file_count;
        return true;
    }
    [[nodiscard]] const Metadata *items() const noexcept { return items_; }
    [[nodiscard]] size_t count() const noexcept { return count_; }

private:
    Metadata *items_ = nullptr;
    size_t count_ = 0;
};

// A folder listed whole, kept for the walker's life.
struct CachedFolder {
    char *id;
    Metadata *children;
    size_t count;
};

enum class Step { root, element, narrow, whole };

// FTP code/error_code whose Drive error cause names the walk and the path.
[[nodiscard]] ostrel_result_t walk_error(int code, const char *error_code, const char *path,
                                         const char *details) noexcept
{
    return drive_ftp_error(code, error_code, path,
                           {{"GD-Operation", walk_operation}, {"GD-Path", path}, {"GD-Details", details}});
}

void drop_error(ostrel_result_t result) noexcept
{
    ostrel_object_free(ostrel_error_get(result));
}

}  // namespace

struct ostrel_google_drive_walk_s {
    Owned<char> base_url;
    Owned<char> root_alias;
    unsigned attempts = 0;
    Metadata root{};
    bool root_known = false;
    CachedFolder *cache = nullptr;
    size_t cache_count = 0;
    size_t requests = 0;

    // The walk under way.
    bool started = false;
    bool to_parent = false;
    Owned<char> path;
    Owned<char> element_text;  // the path's copy, cut into elements
    Owned<const char *> elements;
    size_t element_count = 0;
    size_t target = 0;  // elements to look up
    size_t depth = 0;   // elements looked up
    Metadata reached{};
    Owned<Metadata> trail;  // the record of each element passed, for tables of a whole path
    bool done = false;

    // The element being looked up.
    Step step = Step::root;
    Owned<char> query;
    bool untrusted = false;  // a miss of the narrow answer needs the whole folder
    Owned<char> page_token;
    Records narrow;
    ostrel_google_drive_listing_t *listing = nullptr;
    unsigned failures = 0;
    unsigned long delay_ms = 0;

    ~ostrel_google_drive_walk_s()
    {
        drop_walk();
        ostrel_google_metadata_destroy(&root);
        for (size_t i = 0; i < cache_count; ++i) {
            std::free(cache[i].id);
            for (size_t k = 0; k < cache[i].count; ++k) {
                ostrel_google_metadata_destroy(&cache[i].children[k]);
            }
            std::free(cache[i].children);
        }
        std::free(cache);
    }

    void drop_element() noexcept
    {
        query.reset();
        page_token.reset();
        narrow.clear();
        ostrel_google_drive_listing_free(listing);
        listing = nullptr;
        failures = 0;
        delay_ms = 0;
        untrusted = false;
    }

    void drop_walk() noexcept
    {
        drop_element();
        path.reset();
        element_text.reset();
        elements.reset();
        for (size_t i = 0; i < depth && trail != nullptr; ++i) {
            ostrel_google_metadata_destroy(&trail.get()[i]);
        }
        trail.reset();
        element_count = target = depth = 0;
        ostrel_google_metadata_destroy(&reached);
        done = false;
        started = false;
    }

    [[nodiscard]] const CachedFolder *cached(const char *folder_id) const noexcept
    {
        for (size_t i = 0; i < cache_count; ++i) {
            if (std::strcmp(cache[i].id, folder_id) == 0) {
                return &cache[i];
            }
        }
        return nullptr;
    }

    // Every error of a walk names the whole client path.
    [[nodiscard]] ostrel_result_t on_path(ostrel_result_t result, bool as_walk = false) const noexcept
    {
        if (result != OSTREL_SUCCESS) {
            ostrel_google_drive_error_info_entry_t entries[] = {
                {const_cast<char *>("GD-Path"), path.get()},
                {const_cast<char *>("GD-Operation"), const_cast<char *>(walk_operation)},
            };
            const ostrel_google_drive_error_info_t info = {as_walk ? 2u : 1u, entries};
            // add_info reads only the error it is given: the Drive error is a cause.
            for (ostrel_object_t *e = ostrel_error_peek(result); e != nullptr; e = ostrel_error_get_cause(e)) {
                if (ostrel_object_upcast(e, &OSTREL_GOOGLE_DRIVE_ERROR_TYPE_DEFINITION) != nullptr) {
                    ostrel_google_drive_error_add_info(e, &info);
                    // add_info adds all or nothing: nothing for want of memory.
                    const char *added = ostrel_google_drive_error_get_info(e, "GD-Path");
                    if (added == nullptr || std::strcmp(added, path.get()) != 0) {
                        drop_error(result);
                        errno = ENOMEM;
                        return system_error("malloc");
                    }
                    break;
                }
            }
        }
        return result;
    }

    // The root, or the folder reached through the elements looked up.
    [[nodiscard]] ostrel_result_t begin_at_root() noexcept
    {
        for (size_t i = 0; i < depth; ++i) {
            ostrel_google_metadata_destroy(&trail.get()[i]);
        }
        ostrel_google_metadata_destroy(&reached);
        if (ostrel_google_metadata_copy(&reached, &root) != OSTREL_SUCCESS) {
            return system_error("malloc");
        }
        depth = 0;
        step = Step::element;
        done = target == 0;
        return OSTREL_SUCCESS;
    }

    [[nodiscard]] ostrel_result_t descend(const Metadata &record) noexcept
    {
        // Every element but the path's last is a folder to look in.
        if (depth + 1 < element_count
            && (record.mime_type == nullptr || std::strcmp(record.mime_type, folder_type) != 0)) {
            const char *const element = elements.get()[depth];
            ScratchText scratch;
            const ExactText details = exact_text(scratch, [element](auto &out) {
                out.put('"');
                out.put(element);
                out.put("\" is not a folder");
            });
            if (details.text == nullptr) {
                return system_error("malloc");
            }
            OSTREL_GDC_REQUIRE(details.written == details.counted);
            drop_element();
            step = Step::element;
            return walk_error(550, "NOT_A_FOLDER", path.get(), details.text);
        }
        Metadata copy{};
        Metadata step_copy{};
        if (ostrel_google_metadata_copy(&copy, &record) != OSTREL_SUCCESS) {
            return system_error("malloc");
        }
        if (ostrel_google_metadata_copy(&step_copy, &record) != OSTREL_SUCCESS) {
            ostrel_google_metadata_destroy(&copy);
            return system_error("malloc");
        }
        ostrel_google_metadata_destroy(&reached);
        reached = copy;
        trail.get()[depth] = step_copy;
        drop_element();
        ++depth;
        step = Step::element;
        done = depth == target;
        return OSTREL_SUCCESS;
    }

    [[nodiscard]] ostrel_result_t look_up(const Metadata *children, size_t count, bool *missp = nullptr) noexcept
    {
        size_t index = 0;
        const ostrel_result_t result = ostrel_google_drive_lookup(elements.get()[depth], children, count, &index);
        if (result != OSTREL_SUCCESS) {
            const char *code = ostrel_gfs_error_get_ftp_response_error_code(ostrel_error_peek(result));
            if (missp != nullptr && code != nullptr && std::strcmp(code, "PATH_NOT_FOUND") == 0) {
                *missp = true;
                drop_error(result);
                return OSTREL_SUCCESS;
            }
            drop_element();
            step = Step::element;
            return on_path(result);
        }
        return descend(children[index]);
    }

    [[nodiscard]] ostrel_result_t list_whole() noexcept
    {
        drop_element();
        step = Step::whole;
        return ostrel_google_drive_listing_create(base_url.get(), reached.id, false, attempts, &listing);
    }

    // The complete listing goes to the cache, then answers the lookup.
    [[nodiscard]] ostrel_result_t keep_listing() noexcept
    {
        auto *grown = static_cast<CachedFolder *>(mem_realloc(cache, (cache_count + 1) * sizeof(CachedFolder)));
        if (grown == nullptr) {
            return system_error("malloc");
        }
        cache = grown;
        CachedFolder entry{mem_strdup(reached.id), nullptr, 0};
        if (entry.id == nullptr) {
            return system_error("malloc");
        }
        const ostrel_result_t result =
            ostrel_google_drive_listing_take(listing, &entry.children, &entry.count, nullptr, nullptr, nullptr);
        if (result != OSTREL_SUCCESS) {
            std::free(entry.id);
            return result;
        }
        cache[cache_count++] = entry;
        ostrel_google_drive_listing_free(listing);
        listing = nullptr;
        return look_up(entry.children, entry.count);
    }
};

ostrel_result_t ostrel_google_drive_walk_create(const char *base_url, const char *root_id, unsigned attempts,
                                                ostrel_google_drive_walk_t **walkp) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(root_id != NULL);
    OSTREL_GDC_REQUIRE(walkp != NULL);
    *walkp = nullptr;
    ostrel_result_t result = OSTREL_SUCCESS;
    void *block = mem_malloc(sizeof(ostrel_google_drive_walk_t));
    if (block == nullptr) {
        result = system_error("malloc");
    } else {
        auto *walk = new (block) ostrel_google_drive_walk_t;
        walk->attempts = attempts != 0 ? attempts : OSTREL_GOOGLE_DRIVE_RETRY_ATTEMPTS;
        walk->root_alias.reset(mem_strdup(root_id));
        if (base_url != nullptr) {
            walk->base_url.reset(mem_strdup(base_url));
        }
        if (walk->root_alias == nullptr || (base_url != nullptr && walk->base_url == nullptr)) {
            result = system_error("malloc");
            ostrel_google_drive_walk_free(walk);
        } else {
            *walkp = walk;
        }
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

ostrel_result_t ostrel_google_drive_walk_start(ostrel_google_drive_walk_t *walk, const char *client_path,
                                               bool to_parent) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(walk != NULL);
    OSTREL_GDC_REQUIRE(client_path != NULL);
    walk->drop_walk();
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG, "Walking %s%s\n", client_path,
                                   to_parent ? " to its parent" : "");
    size_t slots = 1;
    for (const char *c = client_path; *c != '\0'; ++c) {
        slots += *c == '/' ? 1 : 0;
    }
    walk->path.reset(mem_strdup(client_path));
    walk->element_text.reset(mem_strdup(client_path));
    walk->elements.reset(static_cast<const char **>(mem_calloc(slots, sizeof(const char *))));
    walk->trail.reset(static_cast<Metadata *>(mem_calloc(slots, sizeof(Metadata))));
    ostrel_result_t result = OSTREL_SUCCESS;
    if (walk->path == nullptr || walk->element_text == nullptr || walk->elements == nullptr
        || walk->trail == nullptr) {
        result = system_error("malloc");
        walk->drop_walk();
    } else {
        size_t count = 0;
        char *element = walk->element_text.get();
        for (char *end = element;; element = end + 1) {
            end = std::strchr(element, '/');
            const bool last = end == nullptr;
            if (!last) {
                *end = '\0';
            }
            if (std::strcmp(element, "..") == 0) {
                count -= count != 0 ? 1 : 0;  // never above the root
            } else if (element[0] != '\0' && std::strcmp(element, ".") != 0) {
                walk->elements.get()[count++] = element;
            }
            if (last) {
                break;
            }
        }
        walk->element_count = count;
        walk->to_parent = to_parent;
        walk->target = to_parent && count != 0 ? count - 1 : count;
        walk->started = true;
        walk->step = Step::root;
        if (walk->root_known) {
            result = walk->begin_at_root();
        }
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

ostrel_result_t ostrel_google_drive_walk_next(ostrel_google_drive_walk_t *walk, ostrel_google_drive_request_t **requestp,
                                              unsigned long *delay_msp) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(walk != NULL);
    OSTREL_GDC_REQUIRE(requestp != NULL);
    OSTREL_GDC_REQUIRE(delay_msp != NULL);
    OSTREL_GDC_REQUIRE(walk->started);
    *requestp = nullptr;
    *delay_msp = 0;
    ostrel_result_t result = OSTREL_SUCCESS;
    while (result == OSTREL_SUCCESS && !walk->done && *requestp == nullptr) {
        switch (walk->step) {
        case Step::root:
            // The full record, not only the id: a walk to the root needs it.
            result = walk->on_path(ostrel_google_drive_request_get(walk->base_url.get(), walk->root_alias.get(),
                                                                   nullptr, requestp));
            *delay_msp = walk->delay_ms;
            break;
        case Step::element:
            if (const CachedFolder *folder = walk->cached(walk->reached.id)) {
                result = walk->look_up(folder->children, folder->count);
                break;
            }
            {
                char *query = nullptr;
                bool escaped = false;
                const char *const element = walk->elements.get()[walk->depth];
                result = walk->on_path(name_query(walk->reached.id, element, true, &query, &escaped));
                walk->query.reset(query);
                // Drive's comparison of these is undocumented.
                walk->untrusted = escaped || !is_ascii(element);
            }
            if (result == OSTREL_SUCCESS) {
                walk->step = Step::narrow;
            }
            break;
        case Step::narrow:
            result = walk->on_path(ostrel_google_drive_request_list(walk->base_url.get(), walk->query.get(),
                                                                    walk->page_token.get(), requestp));
            *delay_msp = walk->delay_ms;
            break;
        case Step::whole:
            result = walk->on_path(ostrel_google_drive_listing_next(walk->listing, requestp, delay_msp), true);
            if (result == OSTREL_SUCCESS && *requestp == nullptr) {
                result = walk->keep_listing();
            }
            break;
        }
    }
    if (*requestp != nullptr) {
        ++walk->requests;
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

ostrel_result_t ostrel_google_drive_walk_feed(ostrel_google_drive_walk_t *walk,
                                              const ostrel_google_drive_answer_t *answer) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(walk != NULL);
    OSTREL_GDC_REQUIRE(answer != NULL);
    OSTREL_GDC_REQUIRE(walk->started && !walk->done && walk->step != Step::element);
    ostrel_result_t result = OSTREL_SUCCESS;
    if (walk->step == Step::whole) {
        result = walk->on_path(ostrel_google_drive_listing_feed(walk->listing, answer), true);
        OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
        return result;
    }
    bool retry = false;
    result = ostrel_google_drive_answer_error(answer->status, answer->body, answer->length, walk_operation,
                                              walk->path.get(), &retry);
    if (result != OSTREL_SUCCESS && walk->step == Step::narrow && walk->untrusted && answer->status == 400) {
        // Drive may refuse what it mishandles: the folder is listed instead.
        drop_error(result);
        result = walk->list_whole();
    } else if (result != OSTREL_SUCCESS) {
        if (retry && ++walk->failures < walk->attempts) {
            walk->delay_ms = ostrel_google_drive_retry_delay_ms(walk->failures, answer->random_ms, answer->retry_after);
            drop_error(result);
            result = OSTREL_SUCCESS;
        } else {
            walk->failures = 0;
            walk->delay_ms = 0;
        }
    } else if (walk->step == Step::root) {
        walk->failures = 0;
        walk->delay_ms = 0;
        Metadata root{};
        result = walk->on_path(ostrel_google_drive_file_parse(answer->body, answer->length, &root), true);
        if (result == OSTREL_SUCCESS && (root.id == nullptr || root.id[0] == '\0')) {
            ostrel_google_metadata_destroy(&root);
            result = walk_error(451, "DRIVE_ERROR", walk->path.get(), "Drive's answer for the root holds no id");
        }
        if (result == OSTREL_SUCCESS) {
            walk->root = root;
            walk->root_known = true;
            result = walk->begin_at_root();
        }
    } else {
        walk->failures = 0;
        walk->delay_ms = 0;
        ostrel_google_drive_page_t page{};
        result = walk->on_path(ostrel_google_drive_page_parse(answer->body, answer->length, &page), true);
        if (result == OSTREL_SUCCESS && !walk->narrow.take(&page)) {
            result = system_error("malloc");
        }
        if (result == OSTREL_SUCCESS && page.next_page_token != nullptr) {
            walk->page_token.reset(page.next_page_token);
            page.next_page_token = nullptr;
        } else if (result == OSTREL_SUCCESS) {
            bool miss = false;
            result = walk->look_up(walk->narrow.items(), walk->narrow.count(), walk->untrusted ? &miss : nullptr);
            if (result == OSTREL_SUCCESS && miss) {
                result = walk->list_whole();
            }
        }
        ostrel_google_drive_page_destroy(&page);
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

const ostrel_google_metadata_t *ostrel_google_drive_walk_file(const ostrel_google_drive_walk_t *walk) noexcept
{
    OSTREL_GDC_REQUIRE(walk != NULL);
    return walk->started && walk->done ? &walk->reached : nullptr;
}

const char *ostrel_google_drive_walk_last_name(const ostrel_google_drive_walk_t *walk) noexcept
{
    OSTREL_GDC_REQUIRE(walk != NULL);
    return walk->started && walk->to_parent && walk->element_count != 0
               ? walk->elements.get()[walk->element_count - 1]
               : nullptr;
}

size_t ostrel_google_drive_walk_step_count(const ostrel_google_drive_walk_t *walk) noexcept
{
    OSTREL_GDC_REQUIRE(walk != NULL);
    return walk->started && walk->done ? walk->depth : 0;
}

const ostrel_google_metadata_t *ostrel_google_drive_walk_step(const ostrel_google_drive_walk_t *walk,
                                                              size_t index) noexcept
{
    OSTREL_GDC_REQUIRE(walk != NULL);
    return index < ostrel_google_drive_walk_step_count(walk) ? &walk->trail.get()[index] : nullptr;
}

size_t ostrel_google_drive_walk_request_count(const ostrel_google_drive_walk_t *walk) noexcept
{
    OSTREL_GDC_REQUIRE(walk != NULL);
    return walk->requests;
}

void ostrel_google_drive_walk_free(ostrel_google_drive_walk_t *walk) noexcept
{
    if (walk != nullptr) {
        walk->~ostrel_google_drive_walk_s();
        std::free(walk);
    }
}
