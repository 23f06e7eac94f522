/* vtq/types.h - records and codes shared by the ZIP filter and its host
 *
 * Everything here is a binary interface between separately built libraries:
 * the layouts are fixed (x86-64, little-endian, 64-bit pointers) and checked
 * at compile time at the bottom of this file.  Plain C, no C++.
 */
#ifndef VTQ_TYPES_H
#define VTQ_TYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------- codes */

/* Result codes: unsigned 32-bit, 0 is success. */
#define VTQ_OK 0u
#define VTQ_E_NO_RECORD 11u        /* a required record was not given */
#define VTQ_E_NO_MEMORY 12u        /* memory exhausted */
#define VTQ_E_OPEN 22u             /* a file could not be opened */
#define VTQ_E_NO_END_RECORD 23u    /* no end record in the last 65535 bytes */
#define VTQ_E_SHORT_WRITE 24u      /* fewer bytes of a member written than its size */
#define VTQ_E_IO 25u               /* a read, seek or size query failed */
#define VTQ_E_REMOVE 26u           /* a file or directory could not be removed */
#define VTQ_E_PATH 27u             /* a path is too long, or a directory could not be made */
#define VTQ_E_NOT_ZIP 2001u        /* the file does not begin with a local file header */
#define VTQ_E_ENCRYPTED 3001u      /* an encrypted member and no password */
#define VTQ_E_NOT_ENABLED 3003u    /* TxtOptions does not enable this filter */
#define VTQ_E_SIZE_LIMIT 3005u     /* the output size limit was reached */
#define VTQ_E_STRUCTURE 3100u      /* the archive's structure is invalid */
#define VTQ_E_INFLATE 3101u        /* decompression failed */
#define VTQ_E_CRC 3102u            /* CRC mismatch */
#define VTQ_E_EMPTY_PASSWORD 5001u /* an empty password */
#define VTQ_E_NO_FILTER 6000u      /* the host has no filter for a member */
#define VTQ_E_NO_TEXT 6002u        /* no text was produced */
#define VTQ_E_DAMAGED 6003u        /* the archive is damaged (final form of 3100-3102) */
#define VTQ_E_REFUSED 6006u        /* TxtOptions refuses archives */

/* ------------------------------------------------------------ flag bits */

/* TxtOptions.ModeFlags */
#define VTQ_MODE_TEMP_IN_PARENT 0x1u
#define VTQ_MODE_ENABLED 0x100u
#define VTQ_MODE_REFUSED 0x200u
#define VTQ_MODE_COMPOSE 0x400u
#define VTQ_MODE_KEEP_GOING 0x800u
#define VTQ_MODE_FLAT 0x1000u
#define VTQ_MODE_NO_LABELS 0x4000u
/* Extended mode: beyond the documented behaviour (see "Extended mode"
 * below).  Without this bit every code, byte, file and log line is the
 * documented one, and the filter reads nothing past TxtOptions.MaxSize. */
#define VTQ_MODE_EXTENDED 0x10000u

/* TxtOptions.FormatFlags bits with a meaning in the filter or the host. */
#define VTQ_FMT_EOL_CRLF 0x8u        /* line-break mode 1 (also the default) */
#define VTQ_FMT_EOL_LF 0x10u         /* line-break mode 2 */
#define VTQ_FMT_EOL_CR 0x20u         /* line-break mode 3 */
#define VTQ_FMT_EOL_LS 0x40u         /* line-break mode 4: U+2028 */
#define VTQ_FMT_EOL_NEL 0x80u        /* line-break mode 5: U+0085 */
#define VTQ_FMT_SHARE_GROUP 0x1000u  /* option word 1 */
#define VTQ_FMT_SHARE_COUNT 0x4000u  /* option word 3, only with word 1 */
#define VTQ_FMT_SIZE_LIMIT 0x400000u /* option word 5: enforce MaxSize */
#define VTQ_FMT_ZERO_BYTE 0x4000000u /* a zero byte before each line break */
#define VTQ_FMT_ZERO_BYTE2 0x8000000u
#define VTQ_FMT_LOG 0x40000000u /* stand-in host: logging on */

/* ------------------------------------------------------------- handles */

typedef struct VTQ_File VTQ_FILE;     /* host file handle */
typedef struct VTQ_Log VTQ_LOG;       /* host log handle */
typedef struct VTQ_Stream VTQ_STREAM; /* host output stream, see vtq/host.h */

/* ------------------------------------------------------------- records */

struct VtqExtension;

/* The host's options for one extraction; only read by the filter.  The
 * documented record ends with MaxSize (536 bytes): without
 * VTQ_MODE_EXTENDED the filter reads nothing past it, so a host that knows
 * nothing of Extension may pass a record of 536 bytes, or use the bytes
 * from 536 on as it likes. */
typedef struct TxtOptions {
    char Charset[256];    /* source character set of member names, or "" */
    char Language[256];   /* "English", "Japanese", ... or "" */
    uint32_t OutCode;     /* output encoding, interpreted by the converter */
    uint32_t FormatFlags; /* VTQ_FMT_* and the host's own switches */
    uint32_t ModeFlags;   /* VTQ_MODE_* */
    uint32_t Reserved;    /* not read */
    uint64_t MaxSize;     /* output size limit in bytes (low 32 bits used) */
    /* Read only with VTQ_MODE_EXTENDED: the host's extension record, or
     * null for the extended behaviour with no password, no events and
     * defaults.  The host copies the whole record for a nested call, so
     * the same extension reaches every nesting level. */
    const struct VtqExtension *Extension;
} TxtOptions;

/* Travels down through nested extractions. */
typedef struct ParentInfo {
    char Path[4160];  /* top-level output path (archive path for streams) */
    uint64_t Written; /* running output byte count shared by all levels */
    VTQ_LOG *Log;     /* top-level log handle, or null */
    uint8_t Reserved[8];
} ParentInfo;

/* The converter's working record.  The filter fills the leading fields
 * before cconvConvert; the rest belongs to the converter. */
typedef struct ConvState {
    const char *Src;        /* 0 */
    uint32_t Zero0;         /* 8 */
    uint32_t SrcLen;        /* 12 */
    uint32_t Zero1;         /* 16 */
    uint32_t Unused;        /* 20: never written by the filter */
    char *Dst;              /* 24 */
    uint32_t Produced;      /* 32: bytes produced, set by the converter */
    uint32_t DstCap;        /* 36 */
    uint32_t Zero2;         /* 40 */
    uint8_t Private[16564]; /* 44: the converter's own state */
} ConvState;

/* Conversion parameters, second argument of cconvInitConvert. */
typedef struct ConvParams {
    uint32_t OutCode;       /* 0 */
    uint32_t FirstOutput;   /* 4: first conversion of the output */
    uint32_t TextConv;      /* 8 */
    char Subst[2];          /* 12: substitution character, or two zeros */
    char Subst2[2];         /* 14 */
    char String[4096];      /* 16 */
    uint32_t LineBreakConv; /* 4112 */
    uint32_t LineBreakMode; /* 4116 */
    uint32_t Zero;          /* 4120 */
} ConvParams;

/* Source description, second argument of cconvChgCharset. */
typedef struct ConvSource {
    uint32_t Swap;  /* byte-swap flag */
    uint32_t Word1; /* 0 */
    uint32_t Word2; /* 1 */
} ConvSource;

/* ------------------------------------------------------- extended mode */

/* With VTQ_MODE_EXTENDED the filter reads what common ZIP tools read and
 * goes on past members it cannot read:
 *  - the end record is searched in the last 65535 + 22 bytes and taken only
 *    when the central directory it points to is where it says; bytes in
 *    front of the archive are allowed; ZIP64 end records, locators and
 *    extra fields give 64-bit sizes, offsets and counts; an archive without
 *    entries is a success without text (0);
 *  - members of every method the filter decodes (stored, deflate,
 *    Deflate64, bzip2, LZMA, zstd, xz), traditionally or WinZip AES
 *    encrypted with Extension->Password;
 *  - a member whose data overlaps another member's, runs past the end of
 *    the archive, or would make more than its data can hold, is refused
 *    before anything is decoded, so an archive causes work in proportion
 *    to its size;
 *  - with KeepGoing, a member that fails for its own reasons (3001, 3100,
 *    3101, 3102, 5001, or 12 when the member does not fit the memory the
 *    host grants) is reported, recorded in DeferredError as a failed
 *    hand-off is, and the walk goes on; the bytes of a member whose CRC-32
 *    is wrong never reach the host.  Failures of the surroundings (reading
 *    the archive, writing member files, memory outside a member's own
 *    buffers) end the walk as documented.  Without KeepGoing the walk
 *    stops at the first failure, as documented, after reporting it.
 * The result is the documented mapping of the last failure. */

#define VTQ_EXTENSION_VERSION 1u

/* VtqMemberEvent.Kind */
#define VTQ_EVENT_BEGIN 1u  /* the walk comes to a file member */
#define VTQ_EVENT_END 2u    /* the member's outcome */
#define VTQ_EVENT_DETAIL 3u /* from the host's per-member extraction */

/* VtqMemberEvent.Encryption */
#define VTQ_ENC_NONE 0u
#define VTQ_ENC_ZIPCRYPTO 1u /* traditional PKWARE encryption */
#define VTQ_ENC_AES128 2u    /* WinZip AES, 128-bit key */
#define VTQ_ENC_AES192 3u
#define VTQ_ENC_AES256 4u

/* VtqExtension.Flags */
#define VTQ_EXT_LIST_ONLY 0x1u /* walk the directory, send events, extract nothing */

/* One event about one file member, handed to VtqExtension.OnMember.  Every
 * file member gets exactly one BEGIN and, after it, exactly one END, in
 * directory order; a member that fails before it reaches the host gets its
 * END right after its BEGIN.  Between the two come the host's DETAIL events
 * for the member and, for a member that is an archive itself, the events of
 * its members (nested archives bracket inside their member: a consumer keeps
 * a stack of names).  Directory entries get no events.  No event is sent
 * without VTQ_MODE_EXTENDED or without OnMember.  Every pointer is valid
 * only during the callback; the callback must not call back into the
 * filter for the same extraction. */
typedef struct VtqMemberEvent {
    uint32_t Size; /* sizeof(VtqMemberEvent) as the sender was built */
    uint32_t Kind; /* VTQ_EVENT_* */
    /* BEGIN and END (zero in DETAIL events): the member as the central
     * directory describes it. */
    const char *Name;        /* as stored, cut at its first NUL byte */
    const char *DisplayName; /* UTF-8, as labels and member files have it (%XX: undecodable) */
    uint64_t CompressedSize; /* the data as stored, encryption overhead included */
    uint64_t UncompressedSize;
    uint32_t Method;      /* compression method; for WinZip AES the one inside */
    uint32_t Flags;       /* general purpose bit flag */
    uint32_t Crc32;       /* the central directory's CRC-32 */
    uint32_t DosDateTime; /* modification time (low 16 bits) and date */
    uint32_t Encryption;  /* VTQ_ENC_* */
    /* END: 0, or the member's code, as the walk or the host gave it (3100,
     * 3101 and 3102 are not mapped to 6003); 3005 when the size limit
     * stopped the member's text. */
    uint32_t Code;
    /* END: null, or why, as one line of UTF-8 ("compression method 98
     * (ppmd) is not supported", "CRC mismatch, text skipped").  DETAIL:
     * null, or why the host gives the member no text, in words more
     * precise than the code's ("no text filter for png", "encrypted PDF");
     * a member whose parser gives up after its text began gets a second
     * DETAIL event that says so. */
    const char *Reason;
    /* END: the output bytes counted while the member was with the host (in
     * compose mode its labels and line break included); 0 when it failed
     * before. */
    uint64_t TextBytes;
    /* DETAIL (null in BEGIN and END): what the host found the member to be
     * ("text", "zip", "pdf"; null when it does not know). */
    const char *Format;
    /* DETAIL: the text encoding the host read the member in (null when
     * none).  BEGIN: the character set the name was read in ("UTF-8", or
     * the legacy set chosen for it; null for an ASCII name and one shown
     * with %XX escapes).  Null in END. */
    const char *Encoding;
} VtqMemberEvent;

typedef void (*VtqMemberCallback)(void *user, const VtqMemberEvent *event);

/* What a host passes to the extended mode, through TxtOptions.Extension.
 * The filter reads only the fields that lie wholly within the first Size
 * bytes (an older, shorter record gets the defaults, zero, for the rest),
 * and refuses a record with a Size below 8 or a Version other than
 * VTQ_EXTENSION_VERSION with 11 at every entry point, before anything is
 * opened.  The record is only read, and must stay valid for the call. */
typedef struct VtqExtension {
    uint32_t Size;    /* sizeof(VtqExtension) as the host was built */
    uint32_t Version; /* VTQ_EXTENSION_VERSION */
    /* The password of encrypted members, PasswordLen raw bytes (no NUL
     * needed).  Null: encrypted members fail with 3001 "encrypted, no
     * password given"; PasswordLen 0: with 5001 "empty password". */
    const unsigned char *Password;
    uint32_t PasswordLen;
    uint32_t Flags;             /* VTQ_EXT_* */
    VtqMemberCallback OnMember; /* null: no events */
    void *User;                 /* handed to OnMember */
    /* The character set of member names stored without the UTF-8 flag;
     * "" lets the filter choose. */
    char NameCharset[64];
    /* The host's own: the filter never reads it, and it reaches every
     * nesting level with the record, so a host can hand its per-member
     * extraction a context of its own (the stand-in host's: VTQ_TextHooks,
     * vtq/standin.h).  Null when the host has none. */
    void *HostData;
    uint8_t Reserved[56]; /* zero */
} VtqExtension;

#ifdef __cplusplus
} /* extern "C" */
#endif

/* Layout checks: these records cross library boundaries. */
#ifdef __cplusplus
#define VTQ_STATIC_ASSERT static_assert
#else
#define VTQ_STATIC_ASSERT _Static_assert
#endif
VTQ_STATIC_ASSERT(sizeof(void *) == 8, "64-bit pointers required");
VTQ_STATIC_ASSERT(offsetof(TxtOptions, Charset) == 0, "TxtOptions layout");
VTQ_STATIC_ASSERT(offsetof(TxtOptions, Language) == 256, "TxtOptions layout");
VTQ_STATIC_ASSERT(offsetof(TxtOptions, OutCode) == 512, "TxtOptions layout");
VTQ_STATIC_ASSERT(offsetof(TxtOptions, FormatFlags) == 516, "TxtOptions layout");
VTQ_STATIC_ASSERT(offsetof(TxtOptions, ModeFlags) == 520, "TxtOptions layout");
VTQ_STATIC_ASSERT(offsetof(TxtOptions, MaxSize) == 528, "TxtOptions layout");
VTQ_STATIC_ASSERT(offsetof(TxtOptions, Extension) == 536, "TxtOptions layout");
VTQ_STATIC_ASSERT(sizeof(TxtOptions) == 544, "TxtOptions layout");
VTQ_STATIC_ASSERT(offsetof(ParentInfo, Written) == 4160, "ParentInfo layout");
VTQ_STATIC_ASSERT(offsetof(ParentInfo, Log) == 4168, "ParentInfo layout");
VTQ_STATIC_ASSERT(sizeof(ParentInfo) == 4184, "ParentInfo layout");
VTQ_STATIC_ASSERT(offsetof(ConvState, SrcLen) == 12, "ConvState layout");
VTQ_STATIC_ASSERT(offsetof(ConvState, Zero1) == 16, "ConvState layout");
VTQ_STATIC_ASSERT(offsetof(ConvState, Dst) == 24, "ConvState layout");
VTQ_STATIC_ASSERT(offsetof(ConvState, Produced) == 32, "ConvState layout");
VTQ_STATIC_ASSERT(offsetof(ConvState, DstCap) == 36, "ConvState layout");
VTQ_STATIC_ASSERT(offsetof(ConvState, Zero2) == 40, "ConvState layout");
VTQ_STATIC_ASSERT(sizeof(ConvState) == 16608, "ConvState layout");
VTQ_STATIC_ASSERT(offsetof(ConvParams, FirstOutput) == 4, "ConvParams layout");
VTQ_STATIC_ASSERT(offsetof(ConvParams, TextConv) == 8, "ConvParams layout");
VTQ_STATIC_ASSERT(offsetof(ConvParams, Subst) == 12, "ConvParams layout");
VTQ_STATIC_ASSERT(offsetof(ConvParams, Subst2) == 14, "ConvParams layout");
VTQ_STATIC_ASSERT(offsetof(ConvParams, String) == 16, "ConvParams layout");
VTQ_STATIC_ASSERT(offsetof(ConvParams, LineBreakConv) == 4112, "ConvParams layout");
VTQ_STATIC_ASSERT(offsetof(ConvParams, LineBreakMode) == 4116, "ConvParams layout");
VTQ_STATIC_ASSERT(offsetof(ConvParams, Zero) == 4120, "ConvParams layout");
VTQ_STATIC_ASSERT(sizeof(ConvParams) == 4124, "ConvParams layout");
VTQ_STATIC_ASSERT(sizeof(ConvSource) == 12, "ConvSource layout");
VTQ_STATIC_ASSERT(offsetof(VtqMemberEvent, Kind) == 4, "VtqMemberEvent layout");
VTQ_STATIC_ASSERT(offsetof(VtqMemberEvent, Name) == 8, "VtqMemberEvent layout");
VTQ_STATIC_ASSERT(offsetof(VtqMemberEvent, DisplayName) == 16, "VtqMemberEvent layout");
VTQ_STATIC_ASSERT(offsetof(VtqMemberEvent, CompressedSize) == 24, "VtqMemberEvent layout");
VTQ_STATIC_ASSERT(offsetof(VtqMemberEvent, UncompressedSize) == 32, "VtqMemberEvent layout");
VTQ_STATIC_ASSERT(offsetof(VtqMemberEvent, Method) == 40, "VtqMemberEvent layout");
VTQ_STATIC_ASSERT(offsetof(VtqMemberEvent, Flags) == 44, "VtqMemberEvent layout");
VTQ_STATIC_ASSERT(offsetof(VtqMemberEvent, Crc32) == 48, "VtqMemberEvent layout");
VTQ_STATIC_ASSERT(offsetof(VtqMemberEvent, DosDateTime) == 52, "VtqMemberEvent layout");
VTQ_STATIC_ASSERT(offsetof(VtqMemberEvent, Encryption) == 56, "VtqMemberEvent layout");
VTQ_STATIC_ASSERT(offsetof(VtqMemberEvent, Code) == 60, "VtqMemberEvent layout");
VTQ_STATIC_ASSERT(offsetof(VtqMemberEvent, Reason) == 64, "VtqMemberEvent layout");
VTQ_STATIC_ASSERT(offsetof(VtqMemberEvent, TextBytes) == 72, "VtqMemberEvent layout");
VTQ_STATIC_ASSERT(offsetof(VtqMemberEvent, Format) == 80, "VtqMemberEvent layout");
VTQ_STATIC_ASSERT(offsetof(VtqMemberEvent, Encoding) == 88, "VtqMemberEvent layout");
VTQ_STATIC_ASSERT(sizeof(VtqMemberEvent) == 96, "VtqMemberEvent layout");
VTQ_STATIC_ASSERT(offsetof(VtqExtension, Version) == 4, "VtqExtension layout");
VTQ_STATIC_ASSERT(offsetof(VtqExtension, Password) == 8, "VtqExtension layout");
VTQ_STATIC_ASSERT(offsetof(VtqExtension, PasswordLen) == 16, "VtqExtension layout");
VTQ_STATIC_ASSERT(offsetof(VtqExtension, Flags) == 20, "VtqExtension layout");
VTQ_STATIC_ASSERT(offsetof(VtqExtension, OnMember) == 24, "VtqExtension layout");
VTQ_STATIC_ASSERT(offsetof(VtqExtension, User) == 32, "VtqExtension layout");
VTQ_STATIC_ASSERT(offsetof(VtqExtension, NameCharset) == 40, "VtqExtension layout");
VTQ_STATIC_ASSERT(offsetof(VtqExtension, HostData) == 104, "VtqExtension layout");
VTQ_STATIC_ASSERT(offsetof(VtqExtension, Reserved) == 112, "VtqExtension layout");
VTQ_STATIC_ASSERT(sizeof(VtqExtension) == 168, "VtqExtension layout");

#endif /* VTQ_TYPES_H */
