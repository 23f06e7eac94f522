// exports.cpp - the C entry points of libvtq_comm.so.5
//
// Each forwards to its working in vtq::comm (comm.h); none can throw.
#include <cstdarg>

#include "host/comm/comm.h"

namespace cm = vtq::comm;

extern "C" {

int GetLogFileName(const char *out_path, const char *tag, char *buf) {
    return cm::log_file_name(out_path, tag, buf);
}
VTQ_LOG *vtq_logfopen(uint32_t flags, const char *name) { return cm::log_open(flags, name); }
int vtq_logfprintf(uint32_t flags, VTQ_LOG *log, const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int r = cm::log_vprintf(flags, log, fmt, args);
    va_end(args);
    return r;
}
int vtq_logfprint_path(uint32_t flags, VTQ_LOG *log, const char *path) {
    return cm::log_print_path(flags, log, path);
}
int vtq_logfclose(uint32_t flags, VTQ_LOG *log) { return cm::log_close(flags, log); }
VTQ_LOG *vtq_logfretain(VTQ_LOG *log) { return cm::log_retain(log); }
uint32_t CutStr(const char *text, uint32_t len, uint32_t budget, const TxtOptions *opts,
                VTQ_FILE *file, uint32_t count) {
    return cm::cut_str(text, len, budget, opts, file, count);
}

} // extern "C"
