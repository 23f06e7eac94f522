// options.h - the entry points' byte-order probe of an archive
#pragma once

#include "vtq/zozaz.h"

namespace vtq::entry {

// Opens archive with "rb" into bus.InFile, reads its first four bytes as
// one native word and closes it again; sets bus.FileBigEndian (1 only for
// the byte-swapped local header signature, else left as it was),
// bus.CpuBigEndian and bus.SwapBytes.  A file shorter than four bytes is
// probed on what was read.  Returns false, with nothing set, when the
// archive cannot be opened.
bool ProbeByteOrder(ZipBus &bus, const char *archive);

} // namespace vtq::entry
