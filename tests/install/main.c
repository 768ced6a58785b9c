/* A C11 program built against the installed headers and libraries through
 * pkg-config: it activates the module, asks the fixed lookups and builds a
 * refused-name error the way the plug-in does. */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <ostrel_i_google_drive_common.h>

static int failures = 0;

static void expect(const char *what, const char *got, const char *want)
{
    const int ok = (got == NULL && want == NULL) || (got != NULL && want != NULL && strcmp(got, want) == 0);
    printf("%-52s %s\n", what, got != NULL ? got : "NULL");
    if (!ok) {
        fprintf(stderr, "  expected %s\n", want != NULL ? want : "NULL");
        ++failures;
    }
}

int main(void)
{
    if (ostrel_module_activate(&ostrel_i_google_drive_common_module) != 0) {
        fputs("activation failed\n", stderr);
        return 1;
    }
    printf("module %s %d.%d\n", ostrel_i_google_drive_common_module.module_name,
           ostrel_i_google_drive_common_module.version->major, ostrel_i_google_drive_common_module.version->minor);
    expect("stub extension of a spreadsheet", ostrel_google_drive_doc_extension("application/vnd.google-apps.spreadsheet"), ".gsheet");
    expect("MIME type of report.final.gdoc", ostrel_google_drive_doc_mime_type("report.final.gdoc"),
           "application/vnd.google-apps.document");
    expect("MIME type of export word gdraw", ostrel_i_google_drive_escape_name_to_mime("gdraw", "png"),
           "application/vnd.google-apps.drawing");
    expect("is notes.gdoc.txt a stub", ostrel_google_drive_is_stub("notes.gdoc.txt") ? "yes" : "no", "no");

    ostrel_google_drive_error_info_entry_t entry = {"GD-Details", "not valid UTF-8"};
    ostrel_google_drive_error_info_t info = {1, &entry};
    ostrel_result_t result = ostrel_error_put(ostrel_gfs_ftp_response_error_construct(
        NULL, ostrel_google_drive_error_construct(NULL, NULL, &info), 553, "INVALID_PATH_NAME",
        "GridFTP-Path: %s", "bad\xff"));
    ostrel_object_t *error = ostrel_error_get(result);
    expect("GD-Details of a refused name", ostrel_google_drive_error_get_info(error, "GD-Details"), "not valid UTF-8");
    char *chain = ostrel_error_print_chain(error);
    printf("error chain:\n%s\n", chain);
    free(chain);
    ostrel_object_free(error);

    if (ostrel_module_deactivate(&ostrel_i_google_drive_common_module) != 0) {
        fputs("deactivation failed\n", stderr);
        return 1;
    }
    printf("%s\n", failures == 0 ? "all as expected" : "FAILED");
    return failures == 0 ? 0 : 1;
}
