/* vtq/host.h - the services a host provides to the ZIP filter
 *
 * The filter imports these by name from libvtq_oscomm.so.5 (runtime),
 * libvtq_comm.so.5 (log, text cutting), libvtq_conf.so.5 (character
 * converter) and libvtq_txif.so.5 (per-member text extraction).  A host that
 * embeds the filter provides all of them; this project's stand-in host is
 * one such host.  Plain C.
 */
#ifndef VTQ_HOST_H
#define VTQ_HOST_H

#include "vtq/types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifndef VTQ_HOST_API
#define VTQ_HOST_API __attribute__((visibility("default")))
#endif

/* A host output stream: the stream entry point hands text to it.  The
 * stand-in host calls Write(User, buf, len) and ignores its result. */
struct VTQ_Stream {
    int (*Write)(void *user, const void *buf, uint32_t len);
    void *User;
};

/* ----------------------------------------------- runtime (libvtq_oscomm) */

/* Open a file: mode "rb", "wb" or "wb+".  Null on failure. */
VTQ_HOST_API VTQ_FILE *VTQ_FileOpen(const char *path, const char *mode);
/* Close a handle (null is accepted).  0 on success. */
VTQ_HOST_API int VTQ_FileClose(VTQ_FILE *file);
/* Read count items of size bytes.  Returns the number of whole items read;
 * 0 is a failure, also for a request of 0 items. */
VTQ_HOST_API size_t VTQ_FileRead(void *buf, size_t size, size_t count, VTQ_FILE *file);
/* Write count items of size bytes; returns the number of items written. */
VTQ_HOST_API size_t VTQ_FileWrite(const void *buf, size_t size, size_t count, VTQ_FILE *file);
/* Seek to an absolute position (origin 0 = from the start).  0 on success. */
VTQ_HOST_API int VTQ_FileSeek(VTQ_FILE *file, int64_t pos, int origin);
/* Size of the file in bytes, -1 on failure; the position does not move. */
VTQ_HOST_API int64_t VTQ_FileTellSize(VTQ_FILE *file);
/* Size of the file at path; 0 for an empty file, -1 when it is missing. */
VTQ_HOST_API int64_t VTQ_GetFileSizeByPath(const char *path);
/* Index of the last "/" in path, 0 when there is none. */
VTQ_HOST_API int32_t VTQ_getPathBreak(const char *path);
/* Memory.  A request of 0 bytes yields a usable non-null pointer.  A
 * request above the stand-in host's cap (see README) is refused. */
VTQ_HOST_API void *VTQ_malloc(size_t size);
VTQ_HOST_API void VTQ_free(void *ptr);
/* Directories: 0 on success, negative on failure. */
VTQ_HOST_API int VTQ_MkDir(const char *path);
VTQ_HOST_API int VTQ_RmDir(const char *path);
/* Non-zero when the path exists / is a directory. */
VTQ_HOST_API int VTQ_IsExist(const char *path);
VTQ_HOST_API int VTQ_IsDirectory(const char *path);

#define VTQ_DIRSTATE_SIZE 80
#define VTQ_DIRENTRY_SIZE 520
#define VTQ_DIRENTRY_NAME 8 /* offset of the entry's path in its record */
/* Directory listing.  pattern is a directory path followed by "/" "*"; state is
 * 80 bytes and entry 520 bytes, both zeroed by the caller.  readdir stores
 * the entry's full path, NUL-terminated, at entry + 8 (at most 512 bytes
 * with the NUL); see the README for paths that do not fit.  Non-zero while
 * the listing is open / an entry was delivered. */
VTQ_HOST_API int VTQ_ASC_opendir(const char *pattern, void *state);
VTQ_HOST_API int VTQ_ASC_readdir(void *state, void *entry);
VTQ_HOST_API void VTQ_ASC_closedir(void *state);
/* Remove a file.  0 on success. */
VTQ_HOST_API int VTQ_ASC_remove(const char *path);
/* Fill a 4096-byte buffer with a fresh temporary path.  Returns buf, or null
 * with buf[0] = 0 when no name could be reserved. */
VTQ_HOST_API char *VTQ_ASC_tmpnam(char *buf);
/* The same, placed in the directory of parent->Path. */
VTQ_HOST_API char *VTQ_ASC_tmpnam1(const ParentInfo *parent, char *buf);
/* Append len bytes to a host stream. */
VTQ_HOST_API int VTQ_WriteStream(VTQ_STREAM *stream, uint32_t len, const void *buf);

/* -------------------------------------------- common (libvtq_comm) */

/* Fill a 4096-byte buffer with the log file name for an output path. */
VTQ_HOST_API int GetLogFileName(const char *out_path, const char *tag, char *buf);
/* Open the log; null when logging is off (FormatFlags lacks VTQ_FMT_LOG)
 * or the file cannot be opened. */
VTQ_HOST_API VTQ_LOG *vtq_logfopen(uint32_t flags, const char *name);
/* Append printf-formatted text; a null handle writes nothing. */
VTQ_HOST_API int vtq_logfprintf(uint32_t flags, VTQ_LOG *log, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
/* Append a path; a null handle writes nothing. */
VTQ_HOST_API int vtq_logfprint_path(uint32_t flags, VTQ_LOG *log, const char *path);
/* Release one reference to the log; the file closes with the last one. */
VTQ_HOST_API int vtq_logfclose(uint32_t flags, VTQ_LOG *log);
/* Stand-in host: take one more reference to a log handle (null accepted),
 * for a nested level that will close it. */
VTQ_HOST_API VTQ_LOG *vtq_logfretain(VTQ_LOG *log);
/* The number of leading bytes of text (len bytes, in the output encoding of
 * opts->OutCode) that fit in budget bytes without cutting a character. */
VTQ_HOST_API uint32_t CutStr(const char *text, uint32_t len, uint32_t budget,
                             const TxtOptions *opts, VTQ_FILE *file, uint32_t count);

/* -------------------------------------------- converter (libvtq_conf) */

/* All return 0 on success.  See the README for OutCode values, line-break
 * modes and source character set names. */
VTQ_HOST_API int cconvInitConvert(ConvState *st, ConvParams *params, const TxtOptions *opts);
VTQ_HOST_API int cconvChgCharset(ConvState *st, ConvSource *src, const char *charset);
VTQ_HOST_API int cconvConvert(ConvState *st);
VTQ_HOST_API int cconvTermConvert(ConvState *st);

/* ------------------------------------- per-member text (libvtq_txif) */

/* Extract the text of one file (mode 1 split, 2 compose) into out (compose)
 * or a text file beside it (split), continuing parent->Written.  Returns 0,
 * 3005 when the size limit stopped it, 6000 when no filter fits, or another
 * code.
 *
 * In extended mode (VTQ_MODE_EXTENDED in opts->ModeFlags) the filter has
 * sent the member's VTQ_EVENT_BEGIN before this call and sends its END
 * after it; a host that reads opts->Extension may, during the call, hand
 * its OnMember any number of VTQ_EVENT_DETAIL events (Format, Encoding) for
 * this member, and passes opts on unchanged to a nested filter call, whose
 * members' events then arrive in between as well. */
VTQ_HOST_API uint32_t VTQ_GetCompressFileTextWithErrCallback(const char *path, VTQ_FILE *out,
                                                             const TxtOptions *opts,
                                                             ParentInfo *parent, uint32_t mode,
                                                             uint64_t user_data);
/* The same, writing to a host stream. */
VTQ_HOST_API uint32_t VTQ_GetCompressFileTextStreamWithErrCallback(
    const char *path, VTQ_STREAM *stream, const TxtOptions *opts, ParentInfo *parent, uint32_t mode,
    uint64_t user_data);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* VTQ_HOST_H */
