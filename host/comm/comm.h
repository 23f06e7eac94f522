// comm.h - the stand-in host's common services (log, log names, CutStr)
//
// The workings behind the C exports of libvtq_comm.so.5; same contracts as
// the exports in vtq/host.h.
#pragma once

#include <cstdarg>

#include "vtq/host.h"

namespace vtq::comm {

int log_file_name(const char *out_path, const char *tag, char *buf);
VTQ_LOG *log_open(uint32_t flags, const char *name);
int log_vprintf(uint32_t flags, VTQ_LOG *log, const char *fmt, va_list args);
int log_print_path(uint32_t flags, VTQ_LOG *log, const char *path);
int log_close(uint32_t flags, VTQ_LOG *log);
VTQ_LOG *log_retain(VTQ_LOG *log);
uint32_t cut_str(const char *text, uint32_t len, uint32_t budget, const TxtOptions *opts,
                 VTQ_FILE *file, uint32_t count);

} // namespace vtq::comm
