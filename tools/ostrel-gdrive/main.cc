// ostrel-gdrive: what GridFTP clients see of a Drive folder, and which
// Drive file a client's name opens, answered by the plug-in's own library.
// This file wires the commands; each lives in a file of its own.
#include <CLI/CLI.hpp>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "commands.h"
#include "live.h"
#include "ls.h"
#include "output.h"
#include "tool.h"

namespace {

using namespace ostrel::gdrive;

constexpr const char *command_names =
    "ls, resolve, query, in, out, split, expand, formats, stat, get, put, mkdir, rm, rmdir, mv, md5";

// The first argument that looks like an option but is none of the tool's or
// of its command's; "" when there is none.
std::string unknown_option(CLI::App &app, int argc, char **argv)
{
    const CLI::App *command = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            break;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            for (const CLI::App *sub : app.get_subcommands([](const CLI::App *) { return true; })) {
                command = command == nullptr && sub->get_name() == arg ? sub : command;
            }
            continue;
        }
        const std::string name = arg.substr(0, arg.find('='));
        const CLI::Option *option = command != nullptr ? command->get_option_no_throw(name) : nullptr;
        option = option != nullptr ? option : std::as_const(app).get_option_no_throw(name);
        if (option == nullptr) {
            return name;
        }
        if (option->get_expected_min() > 0 && name.size() == arg.size()) {
            ++i;  // its value, whatever it looks like
        }
    }
    return "";
}

// CLI11's texts name neither what was typed nor what exists; these do.
std::string usage_text(CLI::App &app, const CLI::ParseError &error, int argc, char **argv)
{
    if (const std::string unknown = unknown_option(app, argc, argv); !unknown.empty()) {
        return "unknown option \"" + shown(unknown) + "\"";
    }
    if (app.get_subcommands().empty()) {
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            const bool takes_value = arg == "--export" || arg == "--config" || arg == "--debug";
            if (takes_value) {
                ++i;
            } else if (!arg.starts_with("-")) {
                return "unknown command \"" + shown(arg) + "\" (commands: " + command_names + ")";
            }
        }
        if (dynamic_cast<const CLI::RequiredError *>(&error) != nullptr) {
            return std::string("a command is required (commands: ") + command_names + ")";
        }
    }
    return shown(error.what());
}

// A command's --help shows the options every command takes as well.
class Help : public CLI::Formatter {
public:
    std::string make_footer(const CLI::App *app) const override
    {
        const CLI::App *parent = app->get_parent();
        if (parent == nullptr) {
            return CLI::Formatter::make_footer(app);
        }
        const std::vector<const CLI::Option *> common = parent->get_options([parent](const CLI::Option *option) {
            return option != parent->get_help_ptr() && option != parent->get_version_ptr();
        });
        std::string group = make_group("Options of every command", false, common);
        group.erase(0, group.find_first_not_of('\n'));
        return group + "\n" + CLI::Formatter::make_footer(app);
    }
};

// --debug is checked as the library reads it: a value it leaves without a
// stream was refused.
void check_debug(const std::string &value)
{
    if (value.empty() || ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle.stream != nullptr) {
        return;
    }
    // A trace file that cannot be opened is no syntax error: say what is
    // wrong with it. The file is not created here.
    const size_t comma = value.find(',');
    const std::string file = comma == std::string::npos ? "" : value.substr(comma + 1, value.find(',', comma + 1) - comma - 1);
    if (!file.empty()) {
        const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        const int error = errno;
        if (fd >= 0) {
            ::close(fd);
        } else if (error != ENOENT) {
            throw Failure{exit_usage, "--debug: cannot write the trace file \"" + shown(file) + "\": " + std::strerror(error)};
        } else {
            const size_t slash = file.rfind('/');
            const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
            struct stat status = {};
            if (::stat(directory.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
                throw Failure{exit_usage, "--debug: cannot write the trace file \"" + shown(file)
                                              + "\": its directory \"" + shown(directory) + "\" is missing"};
            }
            if (::access(directory.c_str(), W_OK | X_OK) != 0) {
                throw Failure{exit_usage, "--debug: cannot create the trace file \"" + shown(file) + "\": "
                                              + std::strerror(errno)};
            }
        }
    }
    throw Failure{exit_usage, "--debug: \"" + shown(value)
                                  + "\" is not LEVELS[,FILE[,FLAGS]]: LEVELS a decimal mask, level names (TRACE, "
                                    "DEBUG, INFO, WARN, ERROR) joined by \"|\", or ALL; FLAGS 0 to 3"};
}

}  // namespace

int main(int argc, char **argv)
{
    // A reader that goes away (ostrel-gdrive ls ... | head) ends the tool
    // quietly, as it does other Unix tools.
    std::signal(SIGPIPE, SIG_DFL);
    CLI::App app{"ostrel-gdrive: see a Google Drive folder as GridFTP clients will, through the plug-in's own "
                 "name translation.",
                 "ostrel-gdrive"};
    app.formatter(std::make_shared<Help>());
    app.set_version_flag("--version", std::string("ostrel-gdrive ") + OSTREL_GDRIVE_VERSION);
    app.require_subcommand(1);
    app.fallthrough();
    // The options of every command, each given at most once: every value is
    // kept, so that a repeated one can be said as such.
    std::vector<std::string> export_formats;
    std::vector<std::string> config;
    std::vector<std::string> debug;
    const auto once = [&app](const char *name, std::vector<std::string> &values, const char *help,
                             const char *type) {
        app.add_option(name, values, help)
            ->type_name(type)
            ->expected(1)
            ->allow_extra_args(false)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    };
    once("--export", export_formats,
         "Export formats: KIND=FORMAT,... with KIND documents, spreadsheets, presentations or drawings "
         "(e.g. documents=pdf,spreadsheets=xlsx); kinds not named are shown as stub files",
         "KIND=FORMAT,...");
    once("--config", config,
         "Plug-in configuration file to read export_documents, export_spreadsheets, "
         "export_presentations and export_drawings from; --export wins over it",
         "FILE");
    once("--debug", debug,
         "Trace the library to standard error: LEVELS[,FILE[,FLAGS]] as OSTREL_GOOGLE_DRIVE_DEBUG takes "
         "it, e.g. ALL or TRACE|ERROR",
         "LEVELS");
    app.footer(
        "A flag may repeat; an option that takes a value, or a kind within --export, given twice is a usage error.\n"
        "Exit status: 0 success, 1 refused input (bad listing, refused name, bad configuration file), Drive's refusal "
        "or output that cannot be written, 2 usage error.\n"
        "Examples:\n"
        "  ostrel-gdrive ls -l --export documents=pdf,spreadsheets=xlsx my-drive.json\n"
        "  ostrel-gdrive in --write 'notes{export-gdoc}.pdf'\n"
        "  ostrel-gdrive split /projects/report.{ID1AbC}.gdoc\n"
        "  ostrel-gdrive resolve my-drive-tree.json '/Projects/2024/Budget 2024.pdf'\n"
        "  OSTREL_GDRIVE_TOKEN=$(gcloud auth print-access-token) ostrel-gdrive ls -l drive:/\n");

    LsOptions ls;
    CLI::App *ls_command = app.add_subcommand(
        "ls", "List the names GridFTP clients see for a Drive file listing: files.list responses (read a page at a "
              "time), a JSON array of file resources (read whole), or one resource per line (streamed); - reads "
              "standard input; a live drive:/PATH lists that folder of Drive itself");
    ls_command
        ->add_option("LISTING", ls.listings,
                     "Listing files, read one after another as one listing (pages are read one at a time; a single "
                     "JSON array is read whole: give big ones as one resource per line); - for standard input")
        ->required();
    ls_command->add_flag("-l,--long", ls.long_format,
                         "Show type (folder, file, export [export MIME type], stub, no-content [MIME type]), size, "
                         "modification time (UTC) and, after <-, the Drive name when it differs");
    ls_command->add_flag("--json", ls.json,
                         "One JSON object per entry: driveName, clientName, type, mimeType, exportMimeType, id, size, "
                         "modifiedTime, trashed");
    ls_command->add_flag("--ids", ls.ids,
                         "Append the ID token to entries whose names collide (reads the whole listing first)");
    ls_command->add_flag("--trashed", ls.trashed,
                         "Include trashed files, marked (trashed) with -l and \"trashed\": true with --json");
    ls_command->add_option("--path", ls.path,
                           "List one folder of a tree listing (every file with its parents): the folder this client "
                           "path opens")
        ->type_name("PATH");
    ls_command->add_option("--root", ls.root,
                           "The tree's root folder id, with --path only (default: the one parent id that no listed file "
                           "has); for a live path, the folder or shared drive to start from")
        ->type_name("ID");

    std::string resolve_listing;
    std::vector<std::string> resolve_paths;
    std::string resolve_paths_from;
    std::string resolve_root;
    bool resolve_json = false;
    CLI::App *resolve_command = app.add_subcommand(
        "resolve", "For each client path, the Drive file it opens in a tree listing and the folders on the way");
    resolve_command->add_option("LISTING", resolve_listing, "The tree listing, or - for standard input")->required();
    resolve_command->add_option("PATH", resolve_paths, "Client paths (when LISTING is a live path, more live paths)");
    resolve_command
        ->add_option("--paths-from", resolve_paths_from,
                     "Also resolve the client paths of this file, one a line (- for standard input)")
        ->type_name("FILE");
    resolve_command->add_option("--root", resolve_root,
                                "The tree's root folder id (default: the one parent id that no listed file has)")
        ->type_name("ID");
    resolve_command->add_flag("--json", resolve_json,
                              "One JSON object per path: path, root, and steps, each with clientName, id, driveName, "
                              "mimeType");

    std::string query_parent;
    std::vector<std::string> query_names;
    CLI::App *query_command = app.add_subcommand(
        "query", "The Drive files.list query that finds a client name in a folder, and whether the folder must be "
                 "listed whole");
    query_command->add_option("--parent", query_parent, "The folder's id (root for My Drive)")
        ->type_name("ID")
        ->required();
    query_command->add_option("NAME", query_names, "Client names (single path elements)")->required();
    bool query_json = false;
    query_command->add_flag("--json", query_json, "One JSON object per name: clientName, wholeFolder, query");

    std::vector<std::string> in_names;
    bool in_write = false;
    CLI::App *in_command = app.add_subcommand("in", "Translate client names into Drive name, implied MIME type and id");
    in_command->add_option("NAME", in_names, "Client names (single path elements)")->required();
    in_command->add_flag("--write", in_write, "The names are to be written (export suffixes are refused)");
    bool in_json = false;
    in_command->add_flag("--json", in_json, "One JSON object per name: clientName, driveName, mimeType, id");

    std::string out_name;
    std::string out_mime;
    std::string out_id;
    CLI::App *out_command = app.add_subcommand("out", "The client name of one Drive file");
    out_command->add_option("--name", out_name, "The Drive name")->required();
    out_command->add_option("--mime", out_mime, "The Drive MIME type")->type_name("TYPE");
    out_command->add_option("--id", out_id, "The Drive file id, appended as an ID token")->type_name("ID");
    bool out_json = false;
    out_command->add_flag("--json", out_json, "One JSON object: driveName, mimeType, id, clientName");

    std::string split_path;
    bool split_write = false;
    CLI::App *split_command = app.add_subcommand("split", "Split a client path into translated elements");
    split_command->add_option("PATH", split_path, "The client path")->required();
    split_command->add_flag("--write", split_write, "The path is to be written (export suffixes are refused)");
    bool split_json = false;
    split_command->add_flag("--json", split_json, "One JSON object per element: element, driveName, mimeType, id");

    std::string expand_path;
    CLI::App *expand_command = app.add_subcommand("expand", "Expand $HOME and $LOGNAME of the current user (from the password database, not the environment) in a path");
    expand_command->add_option("PATH", expand_path, "The path")->required();

    CLI::App *formats_command =
        app.add_subcommand("formats", "The export formats each document kind may use, the one in use marked");
    bool formats_json = false;
    formats_command->add_flag("--json", formats_json,
                              "One JSON object per format: kind, kindMimeType, format, description, exportMimeType "
                              "(null for a stub), inUse");

    Live live;
    add_live_commands(app, ls_command, resolve_command, live);

    // Every option that takes a value keeps all it is given, so that a
    // repeated one is said: which of two values was meant cannot be known.
    // A flag may repeat.
    std::vector<CLI::App *> every_command = app.get_subcommands([](const CLI::App *) { return true; });
    every_command.push_back(&app);
    for (CLI::App *command : every_command) {
        for (CLI::Option *option : command->get_options()) {
            if (option->nonpositional() && option->get_expected_min() > 0) {
                option->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
            }
        }
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        if (e.get_exit_code() == 0) {
            app.exit(e);
            // Help that cannot be written is no success.
            if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
                say(std::string("standard output: ") + std::strerror(errno));
                return exit_refused;
            }
            return 0;
        }
        say(usage_text(app, e, argc, argv) + " (see --help)");
        return exit_usage;
    }
    for (const CLI::App *command : every_command) {
        for (const CLI::Option *option : command->get_options()) {
            if (option->nonpositional() && option->get_expected_min() > 0 && option->count() > 1) {
                say(option->get_name() + " given " + std::to_string(option->count())
                    + " times; give it once (see --help)");
                return exit_usage;
            }
        }
    }
    Common common;
    common.export_formats = export_formats.empty() ? "" : export_formats.front();
    common.config = config.empty() ? "" : config.front();
    common.debug = debug.empty() ? "" : debug.front();

    // The host's debug setup echoes a value it cannot use as it stands: one
    // that a terminal must not see never reaches it.
    const std::string debug_variable = "OSTREL_GOOGLE_DRIVE_DEBUG";
    const char *environment_debug = std::getenv(debug_variable.c_str());
    const std::string unshowable = " holds control, invisible or non-UTF-8 characters";
    if (!common.debug.empty() && safe(common.debug) != common.debug) {
        say("--debug: \"" + shown(common.debug) + "\"" + unshowable + " (see --help)");
        return exit_usage;
    }
    if (common.debug.empty() && environment_debug != nullptr && safe(environment_debug) != environment_debug) {
        say("warning: " + debug_variable + ": \"" + shown(environment_debug) + "\"" + unshowable + ": tracing off");
        unsetenv(debug_variable.c_str());
    }
    if (!common.debug.empty()) {
        setenv("OSTREL_GOOGLE_DRIVE_DEBUG", common.debug.c_str(), 1);
    }
    if (ostrel_module_activate(&ostrel_i_google_drive_common_module) != 0) {
        say("the library did not activate");
        return exit_refused;
    }
    int status = 0;
    try {
        check_debug(common.debug);
        configure(common);
        if (run_live(live, ls_command, ls, resolve_command, resolve_listing, resolve_paths, resolve_paths_from,
                     resolve_root, resolve_json, &status)) {
        } else if (*ls_command) {
            if (ls.json && ls.long_format) {
                throw Failure{exit_usage, "ls: choose one of -l and --json"};
            }
            run_ls(ls);
        } else if (*resolve_command) {
            status = run_resolve(resolve_listing, resolve_paths, resolve_paths_from, resolve_root, resolve_json);
        } else if (*query_command) {
            status = run_query(query_parent, query_names, query_json);
        } else if (*in_command) {
            status = run_in(in_names, in_write, in_json);
        } else if (*out_command) {
            status = run_out(out_name, out_mime, out_id, out_json);
        } else if (*split_command) {
            status = run_split(split_path, split_write, split_json);
        } else if (*expand_command) {
            status = run_expand(expand_path);
        } else if (*formats_command) {
            status = run_formats(formats_json);
        }
        finish_output();
    } catch (const Failure &failure) {
        std::fflush(stdout);
        say(failure.message);
        status = failure.status;
    } catch (const OutputError &failure) {
        if (failure.error == EPIPE) {
            std::raise(SIGPIPE);
        }
        say(std::string("standard output: ") + std::strerror(failure.error));
        status = exit_refused;
    }
    ostrel_module_deactivate(&ostrel_i_google_drive_common_module);
    return status;
}
