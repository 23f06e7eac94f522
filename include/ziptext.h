/* ziptext.h - the text of every member of a ZIP archive, for programs
 *
 * libziptext runs one archive through the ZIP filter (libvtq_zozaz.so.5,
 * loaded the way any host loads it) and the stand-in host, and hands the
 * result back as plain records: one per member, with its text, or the
 * composed text of the whole archive written to a descriptor, a file or a
 * callback, or the split and flat text trees on disk.  A program never
 * deals with the filter's option records, output files or temporary names.
 *
 * Extended mode (the default) reads what common ZIP tools read, goes on
 * past members it cannot read, and reports each member's outcome; with
 * ZT_STRICT every code, byte and file is the filter's documented one.
 *
 * Each call runs one archive on the calling thread; calls on different
 * threads for different archives run side by side.  Records handed to a
 * callback are valid only during the callback.  No call keeps state
 * between calls, and no C++ exception leaves one.  Plain C.
 */
#ifndef ZIPTEXT_H
#define ZIPTEXT_H

#include <stddef.h>
#include <stdint.h>

#ifndef ZT_API
#define ZT_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------ options */

/* zt_options.flags */
#define ZT_STRICT 0x1u        /* the documented behaviour exactly */
#define ZT_STOP_ON_ERROR 0x2u /* stop at the first failing member (default: go on) */
#define ZT_NO_LABELS 0x4u     /* compose without the "Filename:" and "Content:" lines */
#define ZT_SIZE_LIMIT 0x8u    /* max_size is in force */
#define ZT_LOG 0x10u          /* the host's extraction log, to $VTQ_LOG_FILE */
/* on_member for failed members only: the records of a nested archive's
 * members then need not be held until the archive member ends, and memory
 * stays flat however many members it has. */
#define ZT_FAILED_ONLY 0x20u

/* zt_options.eol: the line breaks the labels and separators get; a
 * member's own text keeps its own. */
#define ZT_EOL_LF 0u
#define ZT_EOL_CRLF 1u
#define ZT_EOL_CR 2u

/* zt_member.encryption */
#define ZT_ENC_NONE 0u
#define ZT_ENC_ZIPCRYPTO 1u
#define ZT_ENC_AES128 2u
#define ZT_ENC_AES192 3u
#define ZT_ENC_AES256 4u

struct zt_member;
struct zt_progress;
typedef void (*zt_member_fn)(void *user, const struct zt_member *member);
typedef void (*zt_progress_fn)(void *user, const struct zt_progress *progress);
/* Takes len bytes of output; returns 0, or an errno value after which
 * nothing more is written and the value lands in zt_summary.output_errno. */
typedef int (*zt_write_fn)(void *user, const void *data, size_t len);

/* How to run an archive.  Zero-filled with size set is the default: extended
 * mode, go on past failing members, labels, LF, no limit, UTF-8 output,
 * character sets detected, the language of the locale.  Fields past size are
 * taken as zero.  Only read, during the call. */
typedef struct zt_options {
    uint32_t size;  /* sizeof(zt_options) as the caller was built */
    uint32_t flags; /* ZT_* */
    /* The password of encrypted members, password_len raw bytes (extended
     * mode only).  Null: none. */
    const unsigned char *password;
    uint32_t password_len;
    uint32_t eol;      /* ZT_EOL_* */
    uint64_t max_size; /* with ZT_SIZE_LIMIT: output limit in bytes, at most 4294967295 */
    /* Character set of member names and texts that are not UTF-8: any name
     * iconv knows, with the usual aliases ("shift-jis", "cp866", "latin1");
     * "" or "auto": detected per member (strict: by the language).  Strict
     * mode knows only the sets of its six documented groups. */
    char charset[64];
    /* English, Japanese, Korean, "Simplified Chinese", "Traditional
     * Chinese", Russian (not strict) (or en, ja, ko, zh-cn, zh-tw, ru); "":
     * from the locale (LC_ALL, LC_CTYPE, LANG), strict mode: the
     * documented default. */
    char language[32];
    /* Output encoding: utf-8 (""), utf-8-bom, utf-16le, utf-16be, utf-32le,
     * utf-32be, shift_jis, euc-jp, gbk, big5, euc-kr, iso-8859-1 (and
     * aliases).  zt_members always gives UTF-8. */
    char encoding[32];
    /* The name records and messages give the archive; null: the path as
     * given to the call. */
    const char *archive_name;
    /* Called once per member in directory order, nested members after
     * their archive member (extended mode only; null: no records). */
    zt_member_fn on_member;
    /* Called as members finish, for a progress display (extended mode;
     * the totals come from a listing first); zt_list in strict mode calls
     * it once, when the directory is found. */
    zt_progress_fn on_progress;
    void *user; /* handed to on_member and on_progress */
    uint8_t reserved[64];
} zt_options;

/* ------------------------------------------------------------ records */

/* One member.  Strings are UTF-8 and NUL-terminated unless said otherwise;
 * null where the text says so. */
typedef struct zt_member {
    uint32_t size;  /* sizeof(zt_member) as the library was built */
    uint32_t depth; /* 0 for a member of the archive itself, 1 inside one of its archives, ... */
    const char *archive;     /* the archive, as zt_options.archive_name names it */
    const char *const *path; /* depth + 1 names, the outermost archive's member first */
    const char *name;        /* the member's name as stored (bytes, cut at a NUL) */
    uint64_t uncompressed_size;
    uint64_t compressed_size;    /* as stored, encryption overhead included */
    uint32_t method;             /* compression method; for WinZip AES the one inside */
    uint32_t encryption;         /* ZT_ENC_* */
    const char *method_name;     /* "stored", "deflate", "bzip2", ..., or the number */
    const char *encryption_name; /* null, "zipcrypto", "aes128", "aes192", "aes256" */
    uint32_t crc32;
    uint32_t dos_date_time; /* time in the low 16 bits, date in the high */
    /* "YYYY-MM-DDTHH:MM:SS" from the DOS date and time, no zone; "" when
     * they are no valid date. */
    char modified[20];
    uint32_t general_flags; /* the general purpose bit flag */
    uint32_t code;          /* 0, or the member's result code */
    /* Why the member gave no (or not all of its) text: one line, null when
     * code is 0. */
    const char *error;
    /* The text encoding and the kind of content the host found ("text",
     * "zip", "pdf", ...); null when unknown.  name_encoding: how the name
     * was decoded, when known. */
    const char *encoding;
    const char *format;
    const char *name_encoding;
    /* zt_members: the member's text in UTF-8, text_len bytes (no NUL
     * counted); null for a member that gave none (failed, binary, an archive
     * whose members' texts follow as their own records) and in every other
     * call. */
    const char *text;
    size_t text_len;
    /* Members inside this one (an archive member), all levels. */
    uint32_t nested;
    /* 1 when the member failed for its own reasons: code is not 0 and, for
     * an archive member, no member inside it failed (their records say why). */
    uint32_t failed;
} zt_member;

/* Progress of one archive: the members (of the archive itself, not nested
 * ones) and their uncompressed bytes done, of the totals its directory
 * gives. */
typedef struct zt_progress {
    uint32_t size;
    uint32_t reserved;
    uint64_t members_done, members_total;
    uint64_t bytes_done, bytes_total;
} zt_progress;

/* What a call ended with.  The caller sets size; the library fills the
 * fields that lie within it. */
typedef struct zt_summary {
    uint32_t size; /* sizeof(zt_summary) as the caller was built */
    /* The result: the filter's documented code for the archive (0
     * success; zt_code_meaning says what each means). */
    uint32_t code;
    uint64_t members; /* records sent (or that would have been), nested ones included */
    uint64_t failed;  /* of them, those with failed set */
    /* Output bytes: written to the descriptor, callback or file; in split
     * and flat mode and for zt_members, the members' texts. */
    uint64_t bytes;
    /* The first error of a write to the output (descriptor, callback), or 0. */
    int32_t output_errno;
    uint32_t reserved;
    /* For a code of the host's services (22, 24, 25, 26, 27), what failed
     * and why, when the host recorded it: "cannot create 'out/a.txt':
     * Permission denied"; the filter could not be loaded: "cannot load the
     * ZIP filter: ..." (22).  "" otherwise. */
    char cause[4352];
    /* Failures beside the code, one line each ending in '\n', in order:
     * data lost in a file ("cannot write 'PATH': REASON"), an output that
     * could not be put in place, a failed write to the output.  "" when
     * none. */
    char message[8192];
} zt_summary;

/* ---------------------------------------------------------------- calls */

/* Each runs the archive at path (a memory file's name from
 * zt_memory_archive too) and returns the result code, also kept in
 * *summary when summary is not null.  opts null means the defaults.
 * Options that zt_check_options refuses give 11 and the reason in cause. */

/* Every member's record with its text, through opts->on_member; nothing is
 * written anywhere.  The size limit applies to the texts, counted as a
 * composed output without labels counts them.  Extended mode only: with
 * ZT_STRICT, 11. */
ZT_API uint32_t zt_members(const char *archive, const zt_options *opts, zt_summary *summary);

/* The same for an archive held in memory: the bytes are copied into a memory
 * file of the stand-in host, so nothing touches the disk.  12 when they are
 * more than the member-size cap. */
ZT_API uint32_t zt_members_memory(const void *data, size_t size, const zt_options *opts,
                                  zt_summary *summary);

/* Every member's record without text, extracting nothing: the central
 * directory as the extraction walks it.  Extended mode: the filter's
 * listing of the file members.  ZT_STRICT: the documented directory
 * reader's entries, directories included, as many as the end record counts,
 * names decoded by the charset and language rules (undecodable bytes as
 * "?"), encryption only as bit 0 of the flags. */
ZT_API uint32_t zt_list(const char *archive, const zt_options *opts, zt_summary *summary);

/* The composed text ("Filename: NAME", "Content: ", the text, a line break,
 * for each member) to descriptor fd, buffered, as the filter's stream entry
 * point gives it.  The descriptor is not closed.  Records (without text)
 * go to opts->on_member as members finish. */
ZT_API uint32_t zt_compose_fd(const char *archive, int fd, const zt_options *opts,
                              zt_summary *summary);
/* The same, to write (in pieces of up to 64 KiB). */
ZT_API uint32_t zt_compose_callback(const char *archive, zt_write_fn write, void *write_user,
                                    const zt_options *opts, zt_summary *summary);
/* The same, to the regular file at out_path: written as a fresh file beside
 * it, which replaces out_path (with its permissions) only when the
 * extraction left it and no write to it failed; otherwise out_path stays as
 * it was.  A path that names anything but a regular file or nothing: 22. */
ZT_API uint32_t zt_compose_path(const char *archive, const char *out_path, const zt_options *opts,
                                zt_summary *summary);

/* Split mode: each member's text in a file of its own, under a work
 * directory named after the archive in out_path's directory; flat mode:
 * the texts in out_path's directory itself.  out_path is never written. */
ZT_API uint32_t zt_split(const char *archive, const char *out_path, const zt_options *opts,
                         zt_summary *summary);
ZT_API uint32_t zt_flat(const char *archive, const char *out_path, const zt_options *opts,
                        zt_summary *summary);

/* Copies size bytes into a fresh memory file of the stand-in host and puts
 * its name (under 64 bytes) in path[0..cap), to be given to any call above
 * in this process.  0, 12 when the bytes are more than the member-size cap
 * or memory ran out, 11 when path is too small.  The file lives until
 * zt_memory_release or the end of the process. */
ZT_API uint32_t zt_memory_archive(const void *data, size_t size, char *path, size_t cap);
ZT_API void zt_memory_release(const char *path);

/* 0 when opts can be run; else 11 with the reason (one line, NUL-terminated,
 * cut to cap bytes) in why, which may be null. */
ZT_API uint32_t zt_check_options(const zt_options *opts, char *why, size_t cap);

/* The meaning of a result code, as one line; null for a code that neither
 * the filter nor the host gives.  zt_code_reason: the same, said of one
 * member ("no text filter", "CRC mismatch"), for codes a member can get. */
ZT_API const char *zt_code_meaning(uint32_t code);
ZT_API const char *zt_code_reason(uint32_t code);

/* The largest single allocation the host grants, and so the largest member
 * (and in-memory archive) it holds: $VTQ_MAX_ALLOC bytes, 512 MiB when unset.
 * zt_set_member_size_cap sets it for the process: call it before any other
 * thread runs an archive. */
ZT_API uint64_t zt_member_size_cap(void);
ZT_API void zt_set_member_size_cap(uint64_t bytes);

#ifdef __cplusplus
} /* extern "C" */
#define ZT_STATIC_ASSERT static_assert
#else
#define ZT_STATIC_ASSERT _Static_assert
#endif

/* Layout checks: the records cross the library's boundary (x86-64). */
ZT_STATIC_ASSERT(offsetof(zt_options, password) == 8, "zt_options layout");
ZT_STATIC_ASSERT(offsetof(zt_options, max_size) == 24, "zt_options layout");
ZT_STATIC_ASSERT(offsetof(zt_options, charset) == 32, "zt_options layout");
ZT_STATIC_ASSERT(offsetof(zt_options, language) == 96, "zt_options layout");
ZT_STATIC_ASSERT(offsetof(zt_options, encoding) == 128, "zt_options layout");
ZT_STATIC_ASSERT(offsetof(zt_options, archive_name) == 160, "zt_options layout");
ZT_STATIC_ASSERT(offsetof(zt_options, user) == 184, "zt_options layout");
ZT_STATIC_ASSERT(sizeof(zt_options) == 256, "zt_options layout");
ZT_STATIC_ASSERT(offsetof(zt_member, archive) == 8, "zt_member layout");
ZT_STATIC_ASSERT(offsetof(zt_member, uncompressed_size) == 32, "zt_member layout");
ZT_STATIC_ASSERT(offsetof(zt_member, method_name) == 56, "zt_member layout");
ZT_STATIC_ASSERT(offsetof(zt_member, crc32) == 72, "zt_member layout");
ZT_STATIC_ASSERT(offsetof(zt_member, modified) == 80, "zt_member layout");
ZT_STATIC_ASSERT(offsetof(zt_member, general_flags) == 100, "zt_member layout");
ZT_STATIC_ASSERT(offsetof(zt_member, error) == 112, "zt_member layout");
ZT_STATIC_ASSERT(offsetof(zt_member, text) == 144, "zt_member layout");
ZT_STATIC_ASSERT(offsetof(zt_member, nested) == 160, "zt_member layout");
ZT_STATIC_ASSERT(sizeof(zt_member) == 168, "zt_member layout");
ZT_STATIC_ASSERT(sizeof(zt_progress) == 40, "zt_progress layout");
ZT_STATIC_ASSERT(offsetof(zt_summary, output_errno) == 32, "zt_summary layout");
ZT_STATIC_ASSERT(offsetof(zt_summary, cause) == 40, "zt_summary layout");
ZT_STATIC_ASSERT(offsetof(zt_summary, message) == 4392, "zt_summary layout");
ZT_STATIC_ASSERT(sizeof(zt_summary) == 12584, "zt_summary layout");

#endif /* ZIPTEXT_H */
