/* zt_consumer.c ARCHIVE - built against the installed libziptext: prints
 * each member as "path: text" (a nested member's names joined by " > ");
 * 0 when the archive's result code is 0. */
#include <stdio.h>
#include <string.h>

#include "ziptext.h"

static void print_member(void *user, const zt_member *m) {
    (void)user;
    for (uint32_t i = 0; i <= m->depth; ++i) printf("%s%s", i > 0 ? " > " : "", m->path[i]);
    printf(": %.*s", (int)m->text_len, m->text != NULL ? m->text : "");
    if (m->text_len == 0 || m->text[m->text_len - 1] != '\n') printf("\n");
}

int main(int argc, char **argv) {
    zt_options opts;
    memset(&opts, 0, sizeof opts);
    opts.size = sizeof opts;
    opts.on_member = print_member;
    zt_summary summary;
    memset(&summary, 0, sizeof summary);
    summary.size = sizeof summary;
    const uint32_t code = argc == 2 ? zt_members(argv[1], &opts, &summary) : 2;
    if (code != 0)
        fprintf(stderr, "zt_consumer: %s (code %u)\n", zt_code_meaning(code), (unsigned)code);
    return code == 0 ? 0 : 1;
}
