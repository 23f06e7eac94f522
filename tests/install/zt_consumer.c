/* zt_consumer.c - a program built against the installed libziptext: plain
 * C, the installed ziptext.h, the library linked by name.  It prints each
 * member of ARCHIVE as "path: text" (a nested member's names joined by
 * " > ") and exits with the archive's result code, 0 when it is 0. */
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
    if (argc != 2) {
        fprintf(stderr, "usage: zt_consumer ARCHIVE\n");
        return 2;
    }
    zt_options opts;
    memset(&opts, 0, sizeof opts);
    opts.size = sizeof opts;
    opts.on_member = print_member;
    zt_summary summary;
    memset(&summary, 0, sizeof summary);
    summary.size = sizeof summary;
    const uint32_t code = zt_members(argv[1], &opts, &summary);
    if (code != 0) fprintf(stderr, "zt_consumer: %s: %s (code %u)\n", argv[1], zt_code_meaning(code), (unsigned)code);
    return code == 0 ? 0 : 1;
}
