// txif.h - the stand-in host's per-member text extraction
//
// The workings behind the C exports of libvtq_txif.so.5; same contracts as
// the exports in vtq/host.h.
#pragma once

#include "vtq/host.h"

namespace vtq::txif {

uint32_t member_text(const char *path, VTQ_FILE *out, const TxtOptions *opts, ParentInfo *parent,
                     uint32_t mode, uint64_t user_data);
uint32_t member_text_stream(const char *path, VTQ_STREAM *stream, const TxtOptions *opts,
                            ParentInfo *parent, uint32_t mode, uint64_t user_data);

} // namespace vtq::txif
