/* Uses only the library's own symbols, so that under --as-needed the
 * program names no host library itself: the library must find them. */
#include <stdio.h>
#include <string.h>

#include <ostrel_google_drive_common.h>

int main(void)
{
    const char *extension = ostrel_google_drive_doc_extension("application/vnd.google-apps.document");
    printf("%s\n", extension);
    return strcmp(extension, ".gdoc") == 0 ? 0 : 1;
}
