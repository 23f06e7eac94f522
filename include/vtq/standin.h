/* vtq/standin.h - what the stand-in host offers beyond the filter's services
 *
 * The filter imports only the services of vtq/host.h.  A program that runs
 * the stand-in host (ziptext) also needs to know why a service failed, to
 * keep or take back what the host created for it, and the stand-in's own
 * text extraction reads memory files in place.  These functions are
 * exported by libvtq_oscomm.so.5.  Plain C.
 *
 * Three things stand behind them:
 *
 * Memory files.  VTQ_ASC_tmpnam and VTQ_ASC_tmpnam1 name files of a private
 * store inside the process: "/proc/self/vtqmem/<number>", a prefix under
 * which nothing can be created on disk, so a name that reaches a real system
 * call fails harmlessly.  Every file service (VTQ_FileOpen and the calls on
 * its handles, VTQ_GetFileSizeByPath, VTQ_IsExist, VTQ_IsDirectory,
 * VTQ_ASC_remove, VTQ_RmDir) treats any path under that prefix as a memory
 * file: "<name>.<suffix>" is one as well.  Their bytes live in the process
 * only and vanish with it.  One memory file is used by one thread at a time.
 *
 * Created objects.  Files on disk are created exclusively and never through
 * a symbolic link; every regular file that VTQ_FileOpen creates and every
 * directory that VTQ_MkDir makes is recorded, with the thread that made it.
 * VTQ_ASC_remove and VTQ_RmDir remove only such objects, so the host never
 * removes what this process did not create.  A recorded regular file may be
 * opened again with a "w" mode, which empties it.
 *
 * Failure records.  Each thread keeps, for each kind of service, the last
 * call of that kind that failed, and the first failure of a write, flush or
 * close since it last cleared its records.  A failed service also leaves
 * the recorded reason in errno.
 */
#ifndef VTQ_STANDIN_H
#define VTQ_STANDIN_H

#include "vtq/host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ----------------------------------------------------- failure records */

/* Kinds of failure, the first argument of VTQ_HostFailureGet. */
#define VTQ_HOST_FAIL_OPEN 1u   /* opening or creating a file */
#define VTQ_HOST_FAIL_READ 2u   /* reading, seeking, asking a handle's size */
#define VTQ_HOST_FAIL_WRITE 3u  /* writing, flushing, closing after writes */
#define VTQ_HOST_FAIL_REMOVE 4u /* removing a file or a directory */
#define VTQ_HOST_FAIL_MKDIR 5u  /* making a directory */
#define VTQ_HOST_FAIL_KINDS 5u

/* One failed call.  Op names the operation: "open" (an existing file),
 * "create" (a new file, or emptying one of ours), "read", "seek", "size",
 * "write", "close", "remove" or "mkdir".  Path is the object as the caller
 * named it, cut to 4095 bytes.  Errno is the system's reason, or the host's
 * own refusal:
 *   EEXIST  a "w" mode met an object that this process did not create, or
 *           (mode with "x") any existing object;
 *   EINVAL  a file to open for reading is not a regular file (a FIFO or a
 *           device would block or misbehave); EISDIR for a directory;
 *   EPERM   a removal of something this process did not create;
 *   EINTR   a creation after VTQ_HostRemoveCreated;
 *   EFBIG   a write that would grow a memory file past the allocation cap
 *           (VTQ_MAX_ALLOC); ENOMEM when memory ran out below it. */
typedef struct VTQ_HostFailure {
    uint32_t Kind;   /* VTQ_HOST_FAIL_* */
    int32_t Errno;   /* see above */
    char Op[16];     /* NUL-terminated */
    char Path[4096]; /* NUL-terminated */
} VTQ_HostFailure;

/* The calling thread's last failure of the given kind since it last called
 * VTQ_HostFailureClear.  Returns 1 and fills *out when there is one; 0 (and
 * *out untouched) when there is none, the kind is unknown or out is null.
 * Failures that extractions provoke on purpose are recorded too (opening a
 * file that is missing, making a directory that exists, removing a missing
 * file): a record explains a failure code, it does not prove one. */
VTQ_HOST_API int VTQ_HostFailureGet(uint32_t kind, VTQ_HostFailure *out);

/* The calling thread's first failed write, flush or close since it last
 * called VTQ_HostFailureClear: bytes given to the host that did not reach
 * their file.  Returns 1 and fills *out, or 0 when no data was lost.  Only
 * writes, flushes and closes land here, never a failed open, removal or
 * mkdir. */
VTQ_HOST_API int VTQ_HostWriteFailure(VTQ_HostFailure *out);

/* Forgets all of the calling thread's failure records. */
VTQ_HOST_API void VTQ_HostFailureClear(void);

/* ----------------------------------------------------- created objects */

/* The objects that the calling thread created through the host so far are
 * kept: they are forgotten, so no later VTQ_HostRemoveCreated removes them,
 * and VTQ_ASC_remove / VTQ_RmDir no longer remove them either.  A program
 * calls this when it is done with an extraction and keeps its outputs. */
VTQ_HOST_API void VTQ_HostKeepCreated(void);

/* For an interruption: from this call on every creation through the host
 * (VTQ_FileOpen creating a file, VTQ_MkDir) fails with EINTR, in every
 * thread, for the rest of the process; then every object still recorded,
 * of any thread, is removed: regular files first, then directories, the
 * deepest first.  Each is removed only when its path still shows the very
 * object that was created (device and inode), and a directory only when it
 * is empty: one that holds anything not removed here stays.  Returns the
 * number of recorded objects that were still there and could not be
 * removed.  Safe to call from any thread while others extract; not from a
 * signal handler (it takes a lock). */
VTQ_HOST_API uint32_t VTQ_HostRemoveCreated(void);

/* -------------------------------------------------------- memory files */

/* The largest single allocation the host grants, and so the largest member
 * file it holds: $VTQ_MAX_ALLOC as a whole decimal number of bytes, 512 MiB
 * when unset or unreadable.  Read on every call. */
VTQ_HOST_API uint64_t VTQ_HostAllocCap(void);

/* The bytes of the memory file at path, in place: *data and *size are set
 * and the bytes stay valid, unchanged, until that file is next written,
 * opened with a "w" mode or removed (a handle still open on it keeps it
 * alive; the view does not).  Returns 1 for a memory file; -1 for one that
 * a write failed to complete (its bytes are set all the same, and are not
 * what the writer meant); 0, with *data and *size untouched, when path names
 * no memory file (any path outside the store, a missing one, null
 * arguments) or when its bytes cannot be had (errno then says why). */
VTQ_HOST_API int VTQ_HostStoreView(const char *path, const unsigned char **data, uint64_t *size);

/* What VTQ_HostStoreView would return for path (1, -1 or 0), without
 * taking a view: a memory file read through VTQ_FileRead instead costs no
 * memory beyond the reader's buffer.  2 instead of 1 when the bytes are in
 * the process's heap, where a view costs no memory either. */
VTQ_HOST_API int VTQ_HostStoreState(const char *path);

/* Gives a block from VTQ_malloc of size bytes to the memory file that file
 * (opened with "wb" and not yet written) names, as its whole content,
 * instead of a copy: the store owns the block from then on and frees it
 * with the file, and the handle stands at the end.  1 when it took the
 * block; 0, the block still the caller's, for any other handle (a file on
 * disk, one already written, one that cannot write). */
VTQ_HOST_API int VTQ_HostStoreAdopt(VTQ_FILE *file, void *block, uint64_t size);

/* VTQ_free keeps the last large blocks it is given for the next VTQ_malloc
 * they fit; this gives them back to the system (a program that embeds the
 * host calls it when it is done extracting for a while). */
VTQ_HOST_API void VTQ_HostReleaseKept(void);

/* ---------------------------------------------- per-member extraction */

/* VTQ_TextHooks.Flags */
#define VTQ_HOOK_RAW_MEMBERS 0x1u /* members' bytes to OnRaw, no text extracted */

/* What a program hands the stand-in host's per-member extraction
 * (libvtq_txif) in extended mode, through VtqExtension.HostData: where each
 * member's text goes instead of the extraction's output, or that members
 * are wanted as they are.  The record reaches every nesting level with the
 * extension, so the hooks see the members of nested archives too, each
 * between its member's BEGIN and END events.  Only read; it must stay valid
 * for the call.  Fields past Size are taken as zero. */
typedef struct VTQ_TextHooks {
    uint32_t Size;  /* sizeof(VTQ_TextHooks) as the program was built */
    uint32_t Flags; /* VTQ_HOOK_* */
    /* Non-null: the member's text, in the output encoding and under the
     * size limit, piece by piece as it is produced, instead of going to the
     * output file or stream.  A nested archive's own member gets no text
     * of its own: its members' texts come through here one by one. */
    void (*OnText)(void *user, const void *data, size_t len);
    /* With VTQ_HOOK_RAW_MEMBERS: each file member's bytes, whole, in place
     * of its text (nothing is classified, converted or opened as an
     * archive; the member's result is 0). */
    void (*OnRaw)(void *user, const void *data, size_t len);
    void *User; /* handed to OnText and OnRaw */
} VTQ_TextHooks;

#ifdef __cplusplus
} /* extern "C" */
#endif

VTQ_STATIC_ASSERT(offsetof(VTQ_HostFailure, Kind) == 0, "VTQ_HostFailure layout");
VTQ_STATIC_ASSERT(offsetof(VTQ_HostFailure, Errno) == 4, "VTQ_HostFailure layout");
VTQ_STATIC_ASSERT(offsetof(VTQ_HostFailure, Op) == 8, "VTQ_HostFailure layout");
VTQ_STATIC_ASSERT(offsetof(VTQ_HostFailure, Path) == 24, "VTQ_HostFailure layout");
VTQ_STATIC_ASSERT(sizeof(VTQ_HostFailure) == 4120, "VTQ_HostFailure layout");

VTQ_STATIC_ASSERT(offsetof(VTQ_TextHooks, OnText) == 8, "VTQ_TextHooks layout");
VTQ_STATIC_ASSERT(offsetof(VTQ_TextHooks, OnRaw) == 16, "VTQ_TextHooks layout");
VTQ_STATIC_ASSERT(offsetof(VTQ_TextHooks, User) == 24, "VTQ_TextHooks layout");
VTQ_STATIC_ASSERT(sizeof(VTQ_TextHooks) == 32, "VTQ_TextHooks layout");

#endif /* VTQ_STANDIN_H */
