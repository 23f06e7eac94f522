// oscomm.h - the stand-in host's runtime services (files, memory, listings)
//
// The workings behind the C exports of libvtq_oscomm.so.5.  Each function
// has exactly the contract of its VTQ_ export in vtq/host.h or
// vtq/standin.h; exports.cpp only forwards.  Kept separate so that the tests can put fault
// injection in front of the same workings.
#pragma once

#include "vtq/standin.h"

namespace vtq::oscomm {

VTQ_FILE *file_open(const char *path, const char *mode);
int file_close(VTQ_FILE *file);
size_t file_read(void *buf, size_t size, size_t count, VTQ_FILE *file);
size_t file_write(const void *buf, size_t size, size_t count, VTQ_FILE *file);
int file_seek(VTQ_FILE *file, int64_t pos, int origin);
int64_t file_tell_size(VTQ_FILE *file);
int64_t file_size_by_path(const char *path);
int32_t path_break(const char *path);
void *mem_alloc(size_t size);
void mem_free(void *ptr);
int mkdir_(const char *path);
int rmdir_(const char *path);
int is_exist(const char *path);
int is_directory(const char *path);
int dir_open(const char *pattern, void *state);
int dir_read(void *state, void *entry);
void dir_close(void *state);
int remove_file(const char *path);
char *tmp_name(char *buf);
char *tmp_name_in(const ParentInfo *parent, char *buf);
int write_stream(VTQ_STREAM *stream, uint32_t len, const void *buf);

int failure_get(uint32_t kind, VTQ_HostFailure *out);
int write_failure(VTQ_HostFailure *out);
void failure_clear();
void keep_created();
uint32_t remove_all_created();
int store_view(const char *path, const unsigned char **data, uint64_t *size);
int store_state(const char *path);
int file_adopt(VTQ_FILE *file, void *block, uint64_t size);
void mem_release_kept();

// Requests up to this size are granted without asking the cap: the cap is
// for the large blocks that declared sizes ask for, and reading the
// environment for each of the small ones (several per member) was a tenth
// of the time on archives of tiny members.
inline constexpr size_t kUncappedAlloc = 4096;

// The largest single allocation mem_alloc grants.  It is read from the
// environment variable VTQ_MAX_ALLOC (bytes) and defaults to 512 MiB;
// ziptext sets it from --max-member-size before any extraction starts.
size_t alloc_cap();

} // namespace vtq::oscomm
