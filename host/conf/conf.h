// conf.h - the stand-in host's character converter, on iconv
//
// The workings behind the C exports of libvtq_conf.so.5; same contracts as
// the exports in vtq/host.h.
#pragma once

#include "vtq/host.h"

namespace vtq::conf {

int init_convert(ConvState *st, ConvParams *params, const TxtOptions *opts);
int change_charset(ConvState *st, ConvSource *src, const char *charset);
int convert(ConvState *st);
int term_convert(ConvState *st);

} // namespace vtq::conf
