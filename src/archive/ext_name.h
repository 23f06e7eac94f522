// ext_name.h - a member's name in extended mode: decoded to UTF-8 once, for
// events, labels and the files and directories of split and flat mode
//
// The documented walk passes names on as stored and leaves their character
// set to the labels' converter (GetSrcGroupName_zip).  The extended walk
// decodes each name once, so that every place that shows or writes it
// agrees, and a file written for a member never has a name in a legacy
// character set.
#pragma once

#include <cstdint>

#include "archive/ext_directory.h"
#include "host/services.h"
#include "vtq/types.h"

namespace vtq::ext {

// Decodes the name of e into *out, a VTQ_malloc buffer holding two
// NUL-terminated strings: first the name in UTF-8, then, at *stored, the
// name as stored.  The name is UTF-8 when the entry's UTF-8 flag says so,
// when its Unicode Path extra field (0x7075) belongs to this name (its
// CRC-32 is the stored name's), or when the stored name is valid UTF-8;
// otherwise it is read in record.NameCharset, else in opts.Charset unless
// that is "" or "auto", else in the set of opts.Language, else in CP437,
// the set the ZIP format names.  A name that does not decode whole comes
// out with every non-ASCII byte as "%XX".  *charset names the set the name
// was read in ("UTF-8", or the legacy set as chosen), null for an ASCII
// name and an escaped one.  Returns 0, or 12 when the buffer cannot be had
// (*out empty then).
uint32_t DecodeName(const Entry &e, const TxtOptions &opts, const VtqExtension &record,
                    HostBuffer *out, const char **stored, const char **charset);

} // namespace vtq::ext
