/* vtq/zozaz.h - the ZIP text-extraction filter libvtq_zozaz.so.5
 *
 * A host loads the filter and calls one of the three entry points with an
 * archive; the filter extracts every member and hands each one back to the
 * host's per-member text extraction (vtq/host.h).  The building blocks
 * further down are exported too, for hosts and tests that drive the pieces
 * one by one; they all work on the per-call context ZipBus.  Plain C.
 */
#ifndef VTQ_ZOZAZ_H
#define VTQ_ZOZAZ_H

#include "vtq/types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifndef VTQ_FILTER_API
#define VTQ_FILTER_API __attribute__((visibility("default")))
#endif

#define VTQ_PATH_MAX 4096 /* every path buffer, NUL included */

/* ------------------------------------------------------------ records */

/* The fifteen words of one central directory entry. */
typedef struct ZipEntryInfo {
    uint32_t VersionMadeBy;
    uint32_t VersionNeeded;
    uint32_t Flags;
    uint32_t Method;
    uint32_t DosDateTime;
    uint32_t Crc32;
    uint32_t CompressedSize;
    uint32_t UncompressedSize;
    uint32_t NameLen;
    uint32_t ExtraLen;
    uint32_t CommentLen;
    uint32_t DiskStart;
    uint32_t InternalAttr;
    uint32_t ExternalAttr;
    uint32_t LocalExtraLen; /* from the local header, by the coherency check */
} ZipEntryInfo;

/* Where the central directory is, and how many bytes precede the archive. */
typedef struct ZipDirPos {
    uint32_t CentralPos;
    uint32_t BytesBefore;
} ZipDirPos;

/* One extracted file member: its name as stored, and its size. */
typedef struct MemberRecord {
    char *Name; /* from VTQ_malloc; null in a record never filled */
    uint32_t Size;
} MemberRecord;

/* Flat split mode: the text file recorded for one member. */
typedef struct SplitOutNode {
    char Path[VTQ_PATH_MAX];
    struct SplitOutNode *Next;
} SplitOutNode;

/* The ten option words derived from FormatFlags by TransOption. */
#define VTQ_OPT_SHARE_COUNT 3
#define VTQ_OPT_SIZE_LIMIT_ON 5
#define VTQ_OPT_LINE_BREAK_MODE 9
typedef uint32_t OptionWords[10];

/* The context of one extraction call, the first argument of most building
 * blocks below.  An entry point places it on its own stack, zeroes it, fills
 * it from its arguments and the host's options, and owns it for the call;
 * every routine keeps its working state here and nowhere else.  Each field
 * says who sets it: "entry" is the entry point that made the context,
 * "loop" VtqZip_GetUnCompressFile, "writer" myfwrite and the routines that
 * write through it, "hand-off" DealTxtSplit and DealTxtCompose.  A building
 * block called on a context that no entry point made reads the fields it
 * needs as its caller left them. */
typedef struct ZipBus {
    /* entry: the record shared with the host and nested levels; OwnParent
     * below at the top level, the enclosing level's in GetText4. */
    ParentInfo *Parent;
    /* The compose output file, opened "wb" on OutPath by the first writer
     * or hand-off that needs it and closed by the entry point; in split
     * mode handed to the host as it is. */
    VTQ_FILE *OutFile;
    /* entry: the archive, open only while its first four bytes are read. */
    VTQ_FILE *InFile;
    /* entry: 1 when the archive's first four bytes, read as one native
     * word, are 0x504b0304 (a byte-swapped local header signature), else 0. */
    uint32_t FileBigEndian;
    uint32_t CpuBigEndian; /* entry: IsCPUBigEndian() */
    /* entry: the converter's byte-swap flag, CpuBigEndian inverted when
     * FileBigEndian is 1. */
    uint32_t SwapBytes;
    /* 0 until the first conversion, which carries the converter's
     * first-output flag and sets it; the compose hand-off sets it too once
     * the running count is not 0, so that the output is not begun twice. */
    uint32_t LeadWritten;
    /* writer, hand-off: 1 once any text went out; the entry points turn
     * some calls that end with it 0 into 6002. */
    uint32_t TextWritten;
    /* hand-off: 1 while a fixed label is converted, which makes "?" the
     * substitution character. */
    uint32_t LabelMode;
    uint32_t OutOpenFailed;    /* writer: the lazy open of OutFile failed */
    OptionWords Option;        /* entry: TransOption of Options->FormatFlags */
    uint32_t SizeLimit;        /* entry: the low 32 bits of Options->MaxSize */
    const TxtOptions *Options; /* entry: the host's options, only read */
    const char *OutPath;       /* entry: the output path; null for a stream */
    /* writer, hand-off: this level's output bytes, counted against
     * SizeLimit.  Handed to Parent->Written before the host's extraction
     * of a member and taken back after it (and, in compose mode or with
     * ShareCount, handed out after each write), so that the host's text
     * and nested levels continue one count; a nested compose level starts
     * from its parent's. */
    uint32_t Written;
    /* writer, hand-off: the size limit stopped the output; the entry point
     * then returns 3005. */
    uint32_t LimitReached;
    /* entry: the log it opened, or the enclosing level's; null: no log. */
    VTQ_LOG *Log;
    /* The password for encrypted members.  No entry point sets these three,
     * so an encrypted member fails with 3001 unless a caller of the loop
     * fills them; Password is read as PasswordLen bytes. */
    uint32_t CryptOn;
    const unsigned char *Password;
    uint32_t PasswordLen;
    uint32_t Keys[3]; /* decryption: the three keys, at the current byte */
    /* zip_makepath: 0 until a work directory name was taken; then the
     * number the next fresh name ends in, after DirBase ("<name>DIR"). */
    uint32_t DirCounter;
    /* entry: the work directory that split mode extracts into (in compose
     * mode the archive's directory, only logged); logged as
     * "bus.DstFileTmp=". */
    char DstFileTmp[VTQ_PATH_MAX];
    char DirBase[VTQ_PATH_MAX]; /* zip_makepath: see DirCounter */
    /* loop: 1 once this call made the work directory, which the entry
     * point then prunes or removes; a directory made earlier is left. */
    uint32_t WorkDirMade;
    /* entry: the directory the work path was formed from. */
    char SrcDir[VTQ_PATH_MAX];
    /* entry: the archive's file name without its directory. */
    char SrcName[VTQ_PATH_MAX];
    /* loop: the code of the latest member whose hand-off failed or whose
     * path was too long, whether the walk went on (KeepGoing) or stopped. */
    uint32_t DeferredError;
    /* loop: flat split mode's list of the text files made so far, freed by
     * the loop when the walk ends. */
    SplitOutNode *SplitOutList;
    VTQ_STREAM *Stream;  /* entry: the host stream (stream entry point only) */
    uint32_t StreamMode; /* entry: 1 in the stream entry point */
    uint64_t UserData;   /* entry: the caller's word, passed on to the host */
    uint32_t FileMode;   /* entry: 1 in the two file entry points */
    /* entry: the top-level entry points' own shared record, zeroed whole. */
    ParentInfo OwnParent;
} ZipBus;

/* -------------------------------------------------------- entry points */

/* Text of a top-level archive into the file out_path (compose mode) or a
 * work directory beside it (split mode).  unused is never read. */
VTQ_FILTER_API uint32_t GetTextWithErrCallback(const char *archive, const char *out_path,
                                               const TxtOptions *opts, void *unused,
                                               uint64_t user_data);
/* Text of an archive found inside another one; parent is the record the
 * enclosing level handed to the host. */
VTQ_FILTER_API uint32_t GetText4WithErrCallback(const char *archive, const char *out_path,
                                                const TxtOptions *opts, void *unused,
                                                ParentInfo *parent, uint64_t user_data);
/* Text of a top-level archive into a host stream. */
VTQ_FILTER_API uint32_t GetTextStreamWithErrCallback(const char *archive, VTQ_STREAM *stream,
                                                     const TxtOptions *opts, void *unused,
                                                     uint64_t user_data);

/* ------------------------------------------------ context and options */

VTQ_FILTER_API void TransOption(uint32_t *words, uint32_t flags);
VTQ_FILTER_API uint32_t IsCPUBigEndian(void);

/* ------------------------------------------------ central directory */

VTQ_FILTER_API uint32_t VtqZip_getByte(VTQ_FILE *file, uint32_t *value);
VTQ_FILTER_API uint32_t VtqZip_getWord(VTQ_FILE *file, uint32_t *value);
VTQ_FILTER_API uint32_t VtqZip_getDoubleWord(VTQ_FILE *file, uint32_t *value);
VTQ_FILTER_API uint32_t VtqZip_SearchCentralDir(VTQ_FILE *file);
VTQ_FILTER_API uint32_t VtqZip_FormatChk(VTQ_FILE *file, ZipDirPos *pos, uint32_t *entries);
VTQ_FILTER_API uint32_t VtqZip_GetCurrentFileInfo(VTQ_FILE *file, ZipDirPos pos, ZipEntryInfo *info,
                                                  uint32_t *local_offset, uint32_t *data_offset,
                                                  char **name);
VTQ_FILTER_API uint32_t VtqZip_CurFileCoherencyCheck(VTQ_FILE *file, ZipDirPos pos,
                                                     ZipEntryInfo *info, uint32_t local_offset);
VTQ_FILTER_API uint32_t VtqZip_nextPathDelimiter(const char *path);

/* ------------------------------------------------ extraction loop */

/* In extended mode *members is null: the member events carry every
 * member's name and size, and no record is kept per member. */
VTQ_FILTER_API uint32_t VtqZip_GetUnCompressFile(const char *archive, uint32_t *count,
                                                 MemberRecord **members, ZipBus *bus);

/* ------------------------------------------------ decryption */

VTQ_FILTER_API uint32_t CryptCRC32(uint32_t crc, int byte);
VTQ_FILTER_API int CryptUpdateKeys(int byte, ZipBus *bus);
VTQ_FILTER_API void CryptInitKeys(ZipBus *bus);
VTQ_FILTER_API int CryptDecryptByte(ZipBus *bus);
VTQ_FILTER_API int CryptDecode(const unsigned char *byte, ZipBus *bus);
VTQ_FILTER_API void CryptDecodeBuffer(uint32_t count, unsigned char *buf, const ZipEntryInfo *info,
                                      ZipBus *bus);

/* ------------------------------------------------ work directories */

VTQ_FILTER_API int32_t zip_makepath(ZipBus *bus, char *path, int mode);
VTQ_FILTER_API int32_t Zip_deletepath(const char *path, ZipBus *bus);
VTQ_FILTER_API int32_t Zip_deletenullpath(const char *path, ZipBus *bus, uint32_t *kept);

/* ------------------------------------------------ text output */

VTQ_FILTER_API uint32_t DealTxtSplit(ZipBus *bus, const char *member_path);
VTQ_FILTER_API uint32_t DealTxtCompose(ZipBus *bus, const char *member_path,
                                       const char *member_name);
VTQ_FILTER_API uint32_t myfwrite(ZipBus *bus, const void *buf, uint32_t size, uint32_t count,
                                 VTQ_FILE *file);
VTQ_FILTER_API uint32_t WriteStrToFile(ZipBus *bus, const char *text, uint32_t len,
                                       const char *charset);
VTQ_FILTER_API uint32_t WriteCRLFToFile(ZipBus *bus);
VTQ_FILTER_API uint32_t TransUCSChar(ZipBus *bus, const char *src, char *dst, uint32_t len,
                                     const char *charset);
VTQ_FILTER_API uint32_t TransCRLF(ZipBus *bus, char *dst);
VTQ_FILTER_API uint32_t GetSrcGroupName_zip(const TxtOptions *opts, char *name);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* Layout checks, as for the records of vtq/types.h: the building blocks
 * take these records across the library boundary. */
VTQ_STATIC_ASSERT(offsetof(ZipEntryInfo, Method) == 12, "ZipEntryInfo layout");
VTQ_STATIC_ASSERT(offsetof(ZipEntryInfo, Crc32) == 20, "ZipEntryInfo layout");
VTQ_STATIC_ASSERT(offsetof(ZipEntryInfo, CompressedSize) == 24, "ZipEntryInfo layout");
VTQ_STATIC_ASSERT(offsetof(ZipEntryInfo, UncompressedSize) == 28, "ZipEntryInfo layout");
VTQ_STATIC_ASSERT(offsetof(ZipEntryInfo, NameLen) == 32, "ZipEntryInfo layout");
VTQ_STATIC_ASSERT(offsetof(ZipEntryInfo, LocalExtraLen) == 56, "ZipEntryInfo layout");
VTQ_STATIC_ASSERT(sizeof(ZipEntryInfo) == 60, "ZipEntryInfo layout");
VTQ_STATIC_ASSERT(offsetof(ZipDirPos, BytesBefore) == 4, "ZipDirPos layout");
VTQ_STATIC_ASSERT(sizeof(ZipDirPos) == 8, "ZipDirPos layout");
VTQ_STATIC_ASSERT(offsetof(MemberRecord, Size) == 8, "MemberRecord layout");
VTQ_STATIC_ASSERT(sizeof(MemberRecord) == 16, "MemberRecord layout");
VTQ_STATIC_ASSERT(offsetof(SplitOutNode, Next) == 4096, "SplitOutNode layout");
VTQ_STATIC_ASSERT(sizeof(SplitOutNode) == 4104, "SplitOutNode layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, OutFile) == 8, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, InFile) == 16, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, FileBigEndian) == 24, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, SwapBytes) == 32, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, LeadWritten) == 36, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, TextWritten) == 40, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, LabelMode) == 44, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, OutOpenFailed) == 48, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, Option) == 52, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, SizeLimit) == 92, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, Options) == 96, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, OutPath) == 104, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, Written) == 112, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, LimitReached) == 116, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, Log) == 120, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, CryptOn) == 128, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, Password) == 136, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, PasswordLen) == 144, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, Keys) == 148, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, DirCounter) == 160, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, DstFileTmp) == 164, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, DirBase) == 4260, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, WorkDirMade) == 8356, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, SrcDir) == 8360, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, SrcName) == 12456, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, DeferredError) == 16552, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, SplitOutList) == 16560, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, Stream) == 16568, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, StreamMode) == 16576, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, UserData) == 16584, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, FileMode) == 16592, "ZipBus layout");
VTQ_STATIC_ASSERT(offsetof(ZipBus, OwnParent) == 16600, "ZipBus layout");
VTQ_STATIC_ASSERT(sizeof(ZipBus) == 20784, "ZipBus layout");

#endif /* VTQ_ZOZAZ_H */
