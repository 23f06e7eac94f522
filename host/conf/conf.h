// conf.h - the stand-in host's character converter, on iconv
//
// The workings behind the C exports of libvtq_conf.so.5; same contracts as
// the exports in vtq/host.h.
#pragma once

#include "vtq/host.h"

namespace vtq::conf {

// The converter keeps its whole state (iconv descriptors, flags, the encoded
// substitution and line-break sequences) in ConvState::Private, within its
// first 16000 bytes.  The last 64 bytes of Private are never read or
// written: a host (the unit-test host does) may keep a marker of its own
// there across the four calls.

int init_convert(ConvState *st, ConvParams *params, const TxtOptions *opts);
int change_charset(ConvState *st, ConvSource *src, const char *charset);
int convert(ConvState *st);
int term_convert(ConvState *st);

} // namespace vtq::conf
