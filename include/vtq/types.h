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
#define VTQ_FMT_LOG 0x40000000u      /* stand-in host: logging on */

/* ------------------------------------------------------------- handles */

typedef struct VTQ_File VTQ_FILE;     /* host file handle */
typedef struct VTQ_Log VTQ_LOG;       /* host log handle */
typedef struct VTQ_Stream VTQ_STREAM; /* host output stream, see vtq/host.h */

/* ------------------------------------------------------------- records */

/* The host's options for one extraction; only read by the filter.  A host
 * may put its own fields after MaxSize; the filter reads nothing past it. */
typedef struct TxtOptions {
    char Charset[256];    /* source character set of member names, or "" */
    char Language[256];   /* "English", "Japanese", ... or "" */
    uint32_t OutCode;     /* output encoding, interpreted by the converter */
    uint32_t FormatFlags; /* VTQ_FMT_* and the host's own switches */
    uint32_t ModeFlags;   /* VTQ_MODE_* */
    uint32_t Reserved;    /* not read */
    uint64_t MaxSize;     /* output size limit in bytes (low 32 bits used) */
} TxtOptions;

/* Travels down through nested extractions. */
typedef struct ParentInfo {
    char Path[4160];   /* top-level output path (archive path for streams) */
    uint64_t Written;  /* running output byte count shared by all levels */
    VTQ_LOG *Log;      /* top-level log handle, or null */
    uint8_t Reserved[8];
} ParentInfo;

/* The converter's working record.  The filter fills the leading fields
 * before cconvConvert; the rest belongs to the converter. */
typedef struct ConvState {
    const char *Src;      /* 0 */
    uint32_t Zero0;       /* 8 */
    uint32_t SrcLen;      /* 12 */
    uint32_t Zero1;       /* 16 */
    uint32_t Unused;      /* 20: never written by the filter */
    char *Dst;            /* 24 */
    uint32_t Produced;    /* 32: bytes produced, set by the converter */
    uint32_t DstCap;      /* 36 */
    uint32_t Zero2;       /* 40 */
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
VTQ_STATIC_ASSERT(sizeof(TxtOptions) == 536, "TxtOptions layout");
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

#endif /* VTQ_TYPES_H */
