// test_host.cpp - fault-injecting, recording host for the unit tests (see test_host.h)
#include "tests/support/test_host.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <fstream>
#include <sstream>

#include "host/comm/comm.h"
#include "host/conf/conf.h"
#include "host/oscomm/internal.h"
#include "host/oscomm/oscomm.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers" // designated initializers

namespace vtq::test {

Host &host() {
    static Host h;
    return h;
}

namespace {

// True when this call of kind k is to fail.
bool Fault(HostCall k) {
    Host &h = host();
    if ((h.mask & k) == 0 || h.fail_at == 0) return false;
    ++h.calls;
    const bool fail = h.calls == h.fail_at || (h.persistent && h.calls > h.fail_at);
    h.fired += fail;
    return fail;
}

int StringStreamWrite(void *user, const void *buf, uint32_t len) {
    return static_cast<StringStream *>(user)->data.append(static_cast<const char *>(buf), len), 0;
}

// The stand-in host removes, and empties with a "w" open, only what it
// created; the tests build trees by hand, so what a removal or a "w" open
// names becomes the host's own first.
void Adopt(const char *path) {
    if (path != nullptr) vtq::oscomm::record_created(path);
}

// The bytes of a file: a memory file of the host, or one on disk.
std::string FileContent(const std::string &path) {
    const unsigned char *data = nullptr;
    uint64_t size = 0;
    if (vtq::oscomm::store_view(path.c_str(), &data, &size) != 0)
        return std::string(reinterpret_cast<const char *>(data), size);
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

uint32_t RunMember(MemberCall &call) {
    call.content = FileContent(call.path);
    const uint32_t r = host().member ? host().member(call) : CopyMember(call);
    host().member_calls.push_back(call);
    return r;
}

} // namespace

StringStream::StringStream() : stream{StringStreamWrite, this} {}

// Split mode: the text goes beside the member file, its last extension
// replaced by ".txt" (".txt" added once more when that is the member file).
uint32_t CopyMember(MemberCall &call) {
    const std::string &text = call.content;
    if (call.stream_call) {
        if (!text.empty())
            VTQ_WriteStream(call.stream, static_cast<uint32_t>(text.size()), text.data());
    } else if (call.mode == 1) {
        const size_t slash = call.path.rfind('/'), dot = call.path.rfind('.');
        std::string t = (dot != std::string::npos && (slash == std::string::npos || dot > slash)
                             ? call.path.substr(0, dot)
                             : call.path) +
                        ".txt";
        std::ofstream(t == call.path ? t + ".txt" : t, std::ios::binary) << text;
    } else if (call.out != nullptr && !text.empty()) {
        VTQ_FileWrite(text.data(), 1, text.size(), call.out);
    }
    call.parent->Written += text.size();
    return 0;
}

} // namespace vtq::test

using vtq::test::Adopt;
using vtq::test::Fault;
using vtq::test::host;
namespace T = vtq::test;
namespace os = vtq::oscomm;

extern "C" {

VTQ_FILE *VTQ_FileOpen(const char *path, const char *mode) {
    if (Fault(T::kOpen)) return nullptr;
    if (mode != nullptr && mode[0] == 'w' && std::strchr(mode, 'x') == nullptr) Adopt(path);
    if (os::is_store_path(path)) host().memory_files.insert(path);
    return os::file_open(path, mode);
}
int VTQ_FileClose(VTQ_FILE *file) { return os::file_close(file); }
size_t VTQ_FileRead(void *buf, size_t size, size_t count, VTQ_FILE *file) {
    if (Fault(T::kRead)) return 0;
    const size_t limit = host().read_limit;
    if (limit != 0 && size != 0) count = std::min(count, std::max<size_t>(1, limit / size));
    return os::file_read(buf, size, count, file);
}
size_t VTQ_FileWrite(const void *buf, size_t size, size_t count, VTQ_FILE *file) {
    return Fault(T::kWrite) ? 0 : os::file_write(buf, size, count, file);
}
int VTQ_FileSeek(VTQ_FILE *file, int64_t pos, int origin) {
    return Fault(T::kSeek) ? -1 : os::file_seek(file, pos, origin);
}
int64_t VTQ_FileTellSize(VTQ_FILE *file) { return Fault(T::kTell) ? -1 : os::file_tell_size(file); }
int64_t VTQ_GetFileSizeByPath(const char *path) { return os::file_size_by_path(path); }
int32_t VTQ_getPathBreak(const char *path) { return os::path_break(path); }
void *VTQ_malloc(size_t size) {
    if (Fault(T::kAlloc)) return nullptr;
    void *p = os::mem_alloc(size);
    if (p == nullptr) return p;
    ++host().live_allocs;
    return std::memset(p, 0xa5, size); // poisoned, so that code relying on zeroed memory shows up
}
void VTQ_free(void *ptr) {
    if (ptr != nullptr) --host().live_allocs;
    os::mem_free(ptr);
}
int VTQ_MkDir(const char *path) { return Fault(T::kMkDir) ? -1 : os::mkdir_(path); }
int VTQ_RmDir(const char *path) {
    if (Fault(T::kRmDir)) return -1;
    Adopt(path);
    return os::rmdir_(path);
}
int VTQ_IsExist(const char *path) { return os::is_exist(path); }
int VTQ_IsDirectory(const char *path) { return os::is_directory(path); }
int VTQ_ASC_opendir(const char *pattern, void *state) {
    return Fault(T::kOpenDir) ? 0 : os::dir_open(pattern, state);
}
int VTQ_ASC_readdir(void *state, void *entry) { return os::dir_read(state, entry); }
void VTQ_ASC_closedir(void *state) { os::dir_close(state); }
int VTQ_ASC_remove(const char *path) {
    if (Fault(T::kRemove)) return -1;
    Adopt(path);
    return os::remove_file(path);
}
char *VTQ_ASC_tmpnam(char *buf) {
    return Fault(T::kTmpName) ? (buf[0] = 0, nullptr) : os::tmp_name(buf);
}
char *VTQ_ASC_tmpnam1(const ParentInfo *parent, char *buf) {
    return Fault(T::kTmpName) ? (buf[0] = 0, nullptr) : os::tmp_name_in(parent, buf);
}
int VTQ_WriteStream(VTQ_STREAM *stream, uint32_t len, const void *buf) {
    return os::write_stream(stream, len, buf);
}
int VTQ_HostStoreView(const char *path, const unsigned char **data, uint64_t *size) {
    return os::store_view(path, data, size);
}
int VTQ_HostStoreState(const char *path) { return os::store_state(path); }
void VTQ_HostReleaseKept(void) { os::mem_release_kept(); }

int GetLogFileName(const char *out_path, const char *tag, char *buf) {
    return vtq::comm::log_file_name(out_path, tag, buf);
}
VTQ_LOG *vtq_logfopen(uint32_t flags, const char *name) { return vtq::comm::log_open(flags, name); }
int vtq_logfprintf(uint32_t flags, VTQ_LOG *log, const char *fmt, ...) {
    if (host().literal_log) return vtq::comm::log_print_path(flags, log, fmt);
    va_list args;
    va_start(args, fmt);
    const int r = vtq::comm::log_vprintf(flags, log, fmt, args);
    va_end(args);
    return r;
}
int vtq_logfprint_path(uint32_t flags, VTQ_LOG *log, const char *path) {
    return vtq::comm::log_print_path(flags, log, path);
}
int vtq_logfclose(uint32_t flags, VTQ_LOG *log) { return vtq::comm::log_close(flags, log); }
VTQ_LOG *vtq_logfretain(VTQ_LOG *log) { return vtq::comm::log_retain(log); }
uint32_t CutStr(const char *text, uint32_t len, uint32_t budget, const TxtOptions *opts,
                VTQ_FILE *file, uint32_t count) {
    return vtq::comm::cut_str(text, len, budget, opts, file, count);
}

int cconvInitConvert(ConvState *st, ConvParams *params, const TxtOptions *opts) {
    return Fault(T::kConv) ? 1 : vtq::conf::init_convert(st, params, opts);
}
int cconvChgCharset(ConvState *st, ConvSource *src, const char *charset) {
    return Fault(T::kConv) ? 1 : vtq::conf::change_charset(st, src, charset);
}
int cconvConvert(ConvState *st) { return Fault(T::kConv) ? 1 : vtq::conf::convert(st); }
int cconvTermConvert(ConvState *st) { return vtq::conf::term_convert(st); }

uint32_t VTQ_GetCompressFileTextWithErrCallback(const char *path, VTQ_FILE *out,
                                                const TxtOptions *opts, ParentInfo *parent,
                                                uint32_t mode, uint64_t user_data) {
    T::MemberCall c{.path = path, .out = out, .opts = opts, .parent = parent, .mode = mode};
    c.user_data = user_data;
    return T::RunMember(c);
}
uint32_t VTQ_GetCompressFileTextStreamWithErrCallback(const char *path, VTQ_STREAM *stream,
                                                      const TxtOptions *opts, ParentInfo *parent,
                                                      uint32_t mode, uint64_t user_data) {
    T::MemberCall c{.path = path, .stream = stream, .stream_call = true, .opts = opts};
    c.parent = parent;
    c.mode = mode;
    c.user_data = user_data;
    return T::RunMember(c);
}

} // extern "C"
