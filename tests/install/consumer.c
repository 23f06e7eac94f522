/* consumer.c - a program built against the installed filter, as a host's
 * author builds one: plain C, the installed headers, the filter linked by
 * name.  It extracts the text of ARCHIVE into OUT in compose mode without
 * labels, through the installed stand-in host, and exits with 0 when the
 * filter returns 0. */
#include <stdio.h>
#include <string.h>

#include "vtq/zozaz.h"

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: consumer ARCHIVE OUT\n");
        return 2;
    }
    TxtOptions opts;
    memset(&opts, 0, sizeof opts);
    opts.FormatFlags = VTQ_FMT_EOL_LF;
    opts.ModeFlags = VTQ_MODE_ENABLED | VTQ_MODE_COMPOSE | VTQ_MODE_NO_LABELS;
    uint32_t r = GetTextWithErrCallback(argv[1], argv[2], &opts, NULL, 0);
    if (r != VTQ_OK) fprintf(stderr, "consumer: %s: code %u\n", argv[1], (unsigned)r);
    return r == VTQ_OK ? 0 : 1;
}
