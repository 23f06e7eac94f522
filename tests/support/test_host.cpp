// test_host.cpp - fault-injecting, recording host for the unit tests
#include "tests/support/test_host.h"

#include <cstdarg>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unordered_map>

#include "host/comm/comm.h"
#include "host/conf/conf.h"
#include "host/oscomm/oscomm.h"

namespace vtq::test {

Host &host() {
    static Host h;
    return h;
}

void Host::Reset() {
    Disarm();
    live_allocs = 0;
    total_allocs = 0;
    member = nullptr;
    member_calls.clear();
    record_conv = false;
    conv_calls.clear();
    conv_override = nullptr;
}

namespace {

// True when this call of kind k is to fail.
bool Fault(HostCall k) {
    Host &h = host();
    if ((h.mask & k) == 0 || h.fail_at == 0) return false;
    ++h.calls;
    if (h.calls == h.fail_at || (h.persistent && h.calls > h.fail_at)) {
        ++h.fired;
        return true;
    }
    return false;
}

std::string ReadWhole(const char *path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Split mode: the text file beside a member file, its last extension
// replaced by ".txt" (and ".txt" added once more when that is the member
// file itself).
std::string TextPathFor(const std::string &member) {
    size_t slash = member.rfind('/');
    size_t dot = member.rfind('.');
    std::string stem =
        (dot != std::string::npos && (slash == std::string::npos || dot > slash))
            ? member.substr(0, dot)
            : member;
    std::string t = stem + ".txt";
    return t == member ? t + ".txt" : t;
}

int StringStreamWrite(void *user, const void *buf, uint32_t len) {
    static_cast<StringStream *>(user)->data.append(static_cast<const char *>(buf), len);
    return 0;
}

} // namespace

StringStream::StringStream() {
    stream.Write = StringStreamWrite;
    stream.User = this;
}

uint32_t CopyMember(MemberCall &call) {
    const std::string &text = call.content;
    if (call.stream_call) {
        if (!text.empty())
            VTQ_WriteStream(call.stream, static_cast<uint32_t>(text.size()), text.data());
    } else if (call.mode == 1) {
        std::ofstream(TextPathFor(call.path), std::ios::binary) << text;
    } else if (call.out != nullptr && !text.empty()) {
        VTQ_FileWrite(text.data(), 1, text.size(), call.out);
    }
    call.parent->Written += text.size();
    return 0;
}

namespace {

uint32_t RunMember(MemberCall &call) {
    Host &h = host();
    call.content = ReadWhole(call.path.c_str());
    call.written_before = call.parent->Written;
    uint32_t r = h.member ? h.member(call) : CopyMember(call);
    h.member_calls.push_back(call);
    return r;
}

// Converter recording: the record of the conversion under way lives in the
// ConvState's private area (an index into conv_calls, plus one).
uint32_t &ConvIndex(ConvState *st) {
    return *reinterpret_cast<uint32_t *>(st->Private + sizeof(st->Private) - 4);
}

} // namespace
} // namespace vtq::test

using vtq::test::Fault;
using vtq::test::host;
namespace T = vtq::test;

extern "C" {

VTQ_FILE *VTQ_FileOpen(const char *path, const char *mode) {
    return Fault(T::kOpen) ? nullptr : vtq::oscomm::file_open(path, mode);
}
int VTQ_FileClose(VTQ_FILE *file) { return vtq::oscomm::file_close(file); }
size_t VTQ_FileRead(void *buf, size_t size, size_t count, VTQ_FILE *file) {
    return Fault(T::kRead) ? 0 : vtq::oscomm::file_read(buf, size, count, file);
}
size_t VTQ_FileWrite(const void *buf, size_t size, size_t count, VTQ_FILE *file) {
    return Fault(T::kWrite) ? 0 : vtq::oscomm::file_write(buf, size, count, file);
}
int VTQ_FileSeek(VTQ_FILE *file, int64_t pos, int origin) {
    return Fault(T::kSeek) ? -1 : vtq::oscomm::file_seek(file, pos, origin);
}
int64_t VTQ_FileTellSize(VTQ_FILE *file) {
    return Fault(T::kTell) ? -1 : vtq::oscomm::file_tell_size(file);
}
int64_t VTQ_GetFileSizeByPath(const char *path) { return vtq::oscomm::file_size_by_path(path); }
int32_t VTQ_getPathBreak(const char *path) { return vtq::oscomm::path_break(path); }
void *VTQ_malloc(size_t size) {
    if (Fault(T::kAlloc)) return nullptr;
    void *p = vtq::oscomm::mem_alloc(size);
    if (p != nullptr) {
        ++host().live_allocs;
        ++host().total_allocs;
        // Poison fresh memory, as zlib's coverage test does, so that code
        // relying on unzeroed memory shows up.
        std::memset(p, 0xa5, size);
    }
    return p;
}
void VTQ_free(void *ptr) {
    if (ptr != nullptr) --host().live_allocs;
    vtq::oscomm::mem_free(ptr);
}
int VTQ_MkDir(const char *path) { return Fault(T::kMkDir) ? -1 : vtq::oscomm::mkdir_(path); }
int VTQ_RmDir(const char *path) { return Fault(T::kRmDir) ? -1 : vtq::oscomm::rmdir_(path); }
int VTQ_IsExist(const char *path) { return vtq::oscomm::is_exist(path); }
int VTQ_IsDirectory(const char *path) { return vtq::oscomm::is_directory(path); }
int VTQ_ASC_opendir(const char *pattern, void *state) {
    return Fault(T::kOpenDir) ? 0 : vtq::oscomm::dir_open(pattern, state);
}
int VTQ_ASC_readdir(void *state, void *entry) { return vtq::oscomm::dir_read(state, entry); }
void VTQ_ASC_closedir(void *state) { vtq::oscomm::dir_close(state); }
int VTQ_ASC_remove(const char *path) {
    return Fault(T::kRemove) ? -1 : vtq::oscomm::remove_file(path);
}
char *VTQ_ASC_tmpnam(char *buf) {
    if (Fault(T::kTmpName)) {
        buf[0] = 0;
        return nullptr;
    }
    return vtq::oscomm::tmp_name(buf);
}
char *VTQ_ASC_tmpnam1(const ParentInfo *parent, char *buf) {
    if (Fault(T::kTmpName)) {
        buf[0] = 0;
        return nullptr;
    }
    return vtq::oscomm::tmp_name_in(parent, buf);
}
int VTQ_WriteStream(VTQ_STREAM *stream, uint32_t len, const void *buf) {
    return vtq::oscomm::write_stream(stream, len, buf);
}

int GetLogFileName(const char *out_path, const char *tag, char *buf) {
    return vtq::comm::log_file_name(out_path, tag, buf);
}
VTQ_LOG *vtq_logfopen(uint32_t flags, const char *name) { return vtq::comm::log_open(flags, name); }
int vtq_logfprintf(uint32_t flags, VTQ_LOG *log, const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int r = vtq::comm::log_vprintf(flags, log, fmt, args);
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
    T::Host &h = host();
    if (h.record_conv) {
        T::ConvCall c;
        c.params = *params;
        h.conv_calls.push_back(c);
        T::ConvIndex(st) = static_cast<uint32_t>(h.conv_calls.size());
    } else {
        T::ConvIndex(st) = 0;
    }
    if (Fault(T::kConv)) return 1;
    return vtq::conf::init_convert(st, params, opts);
}
int cconvChgCharset(ConvState *st, ConvSource *src, const char *charset) {
    T::Host &h = host();
    uint32_t i = T::ConvIndex(st);
    if (h.record_conv && i != 0) {
        h.conv_calls[i - 1].source = *src;
        h.conv_calls[i - 1].charset = charset;
    }
    if (Fault(T::kConv)) return 1;
    return vtq::conf::change_charset(st, src, charset);
}
int cconvConvert(ConvState *st) {
    T::Host &h = host();
    uint32_t i = T::ConvIndex(st);
    if (h.record_conv && i != 0) {
        T::ConvCall &c = h.conv_calls[i - 1];
        c.converted = true;
        c.src.assign(st->Src, st->SrcLen);
        c.src_len = st->SrcLen;
        c.dst_cap = st->DstCap;
        c.zero0 = st->Zero0;
        c.zero1 = st->Zero1;
        c.zero2 = st->Zero2;
        c.produced_before = st->Produced;
    }
    if (Fault(T::kConv)) return 1;
    if (h.conv_override && h.conv_override(st)) return 0;
    return vtq::conf::convert(st);
}
int cconvTermConvert(ConvState *st) {
    T::Host &h = host();
    uint32_t i = T::ConvIndex(st);
    if (h.record_conv && i != 0) h.conv_calls[i - 1].terminated = true;
    return vtq::conf::term_convert(st);
}

uint32_t VTQ_GetCompressFileTextWithErrCallback(const char *path, VTQ_FILE *out,
                                                const TxtOptions *opts, ParentInfo *parent,
                                                uint32_t mode, uint64_t user_data) {
    T::MemberCall c;
    c.path = path;
    c.out = out;
    c.opts = opts;
    c.parent = parent;
    c.mode = mode;
    c.user_data = user_data;
    return T::RunMember(c);
}
uint32_t VTQ_GetCompressFileTextStreamWithErrCallback(const char *path, VTQ_STREAM *stream,
                                                      const TxtOptions *opts, ParentInfo *parent,
                                                      uint32_t mode, uint64_t user_data) {
    T::MemberCall c;
    c.path = path;
    c.stream = stream;
    c.stream_call = true;
    c.opts = opts;
    c.parent = parent;
    c.mode = mode;
    c.user_data = user_data;
    return T::RunMember(c);
}

} // extern "C"
