/* consumer.c ARCHIVE OUT - built against the installed filter as a host's
 * author builds one (plain C, the installed headers, linked by name): the
 * text of ARCHIVE into OUT, composed without labels; 0 when the filter
 * returns 0. */
#include <stdio.h>
#include <string.h>

#include "vtq/zozaz.h"

int main(int argc, char **argv) {
    TxtOptions opts;
    memset(&opts, 0, sizeof opts);
    opts.FormatFlags = VTQ_FMT_EOL_LF;
    opts.ModeFlags = VTQ_MODE_ENABLED | VTQ_MODE_COMPOSE | VTQ_MODE_NO_LABELS;
    uint32_t r = argc == 3 ? GetTextWithErrCallback(argv[1], argv[2], &opts, NULL, 0) : 2;
    if (r != VTQ_OK) fprintf(stderr, "consumer: code %u\n", (unsigned)r);
    return r == VTQ_OK ? 0 : 1;
}
