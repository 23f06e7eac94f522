// exports.cpp - the C entry points of libvtq_txif.so.5
//
// Forward to the workings in namespace vtq::txif; nothing may escape into
// the filter's C frames, so a C++ exception (memory exhausted in a host
// container) ends as a result code here.
#include <new>

#include "host/txif/txif.h"

extern "C" {

VTQ_HOST_API uint32_t VTQ_GetCompressFileTextWithErrCallback(const char *path, VTQ_FILE *out,
                                                             const TxtOptions *opts,
                                                             ParentInfo *parent, uint32_t mode,
                                                             uint64_t user_data) {
    try {
        return vtq::txif::member_text(path, out, opts, parent, mode, user_data);
    } catch (const std::bad_alloc &) {
        return VTQ_E_NO_MEMORY;
    } catch (...) {
        return VTQ_E_IO;
    }
}

VTQ_HOST_API uint32_t VTQ_GetCompressFileTextStreamWithErrCallback(
    const char *path, VTQ_STREAM *stream, const TxtOptions *opts, ParentInfo *parent, uint32_t mode,
    uint64_t user_data) {
    try {
        return vtq::txif::member_text_stream(path, stream, opts, parent, mode, user_data);
    } catch (const std::bad_alloc &) {
        return VTQ_E_NO_MEMORY;
    } catch (...) {
        return VTQ_E_IO;
    }
}

} // extern "C"
