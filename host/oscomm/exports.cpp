// exports.cpp - the C entry points of libvtq_oscomm.so.5
//
// Each forwards to its working in vtq::oscomm (oscomm.h); none can throw.
#include "host/oscomm/oscomm.h"

namespace os = vtq::oscomm;

extern "C" {

VTQ_FILE *VTQ_FileOpen(const char *path, const char *mode) { return os::file_open(path, mode); }
int VTQ_FileClose(VTQ_FILE *file) { return os::file_close(file); }
size_t VTQ_FileRead(void *buf, size_t size, size_t count, VTQ_FILE *file) {
    return os::file_read(buf, size, count, file);
}
size_t VTQ_FileWrite(const void *buf, size_t size, size_t count, VTQ_FILE *file) {
    return os::file_write(buf, size, count, file);
}
int VTQ_FileSeek(VTQ_FILE *file, int64_t pos, int origin) {
    return os::file_seek(file, pos, origin);
}
int64_t VTQ_FileTellSize(VTQ_FILE *file) { return os::file_tell_size(file); }
int64_t VTQ_GetFileSizeByPath(const char *path) { return os::file_size_by_path(path); }
int32_t VTQ_getPathBreak(const char *path) { return os::path_break(path); }
void *VTQ_malloc(size_t size) { return os::mem_alloc(size); }
void VTQ_free(void *ptr) { os::mem_free(ptr); }
int VTQ_MkDir(const char *path) { return os::mkdir_(path); }
int VTQ_RmDir(const char *path) { return os::rmdir_(path); }
int VTQ_IsExist(const char *path) { return os::is_exist(path); }
int VTQ_IsDirectory(const char *path) { return os::is_directory(path); }
int VTQ_ASC_opendir(const char *pattern, void *state) { return os::dir_open(pattern, state); }
int VTQ_ASC_readdir(void *state, void *entry) { return os::dir_read(state, entry); }
void VTQ_ASC_closedir(void *state) { os::dir_close(state); }
int VTQ_ASC_remove(const char *path) { return os::remove_file(path); }
char *VTQ_ASC_tmpnam(char *buf) { return os::tmp_name(buf); }
char *VTQ_ASC_tmpnam1(const ParentInfo *parent, char *buf) { return os::tmp_name_in(parent, buf); }
int VTQ_WriteStream(VTQ_STREAM *stream, uint32_t len, const void *buf) {
    return os::write_stream(stream, len, buf);
}

int VTQ_HostFailureGet(uint32_t kind, VTQ_HostFailure *out) { return os::failure_get(kind, out); }
int VTQ_HostWriteFailure(VTQ_HostFailure *out) { return os::write_failure(out); }
void VTQ_HostFailureClear(void) { os::failure_clear(); }
void VTQ_HostKeepCreated(void) { os::keep_created(); }
uint32_t VTQ_HostRemoveCreated(void) { return os::remove_all_created(); }
uint64_t VTQ_HostAllocCap(void) { return os::alloc_cap(); }
int VTQ_HostStoreView(const char *path, const unsigned char **data, uint64_t *size) {
    return os::store_view(path, data, size);
}
int VTQ_HostStoreState(const char *path) { return os::store_state(path); }
int VTQ_HostStoreAdopt(VTQ_FILE *file, void *block, uint64_t size) {
    return os::file_adopt(file, block, size);
}
void VTQ_HostReleaseKept(void) { os::mem_release_kept(); }

} // extern "C"
