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

/* The context of one extraction call. */
typedef struct ZipBus {
    ParentInfo *Parent;
    VTQ_FILE *OutFile;
    VTQ_FILE *InFile;
    uint32_t FileBigEndian;
    uint32_t CpuBigEndian;
    uint32_t SwapBytes;
    uint32_t LeadWritten;
    uint32_t TextWritten;
    uint32_t LabelMode;
    uint32_t OutOpenFailed;
    OptionWords Option;
    uint32_t SizeLimit;
    const TxtOptions *Options;
    const char *OutPath;
    uint32_t Written;
    uint32_t LimitReached;
    VTQ_LOG *Log;
    uint32_t CryptOn;
    const unsigned char *Password;
    uint32_t PasswordLen;
    uint32_t Keys[3];
    uint32_t DirCounter;
    char DstFileTmp[VTQ_PATH_MAX];
    char DirBase[VTQ_PATH_MAX];
    uint32_t WorkDirMade;
    char SrcDir[VTQ_PATH_MAX];
    char SrcName[VTQ_PATH_MAX];
    uint32_t DeferredError;
    SplitOutNode *SplitOutList;
    VTQ_STREAM *Stream;
    uint32_t StreamMode;
    uint64_t UserData;
    uint32_t FileMode;
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
VTQ_FILTER_API uint32_t VtqZip_GetCurrentFileInfo(VTQ_FILE *file, ZipDirPos pos,
                                                  ZipEntryInfo *info, uint32_t *local_offset,
                                                  uint32_t *data_offset, char **name);
VTQ_FILTER_API uint32_t VtqZip_CurFileCoherencyCheck(VTQ_FILE *file, ZipDirPos pos,
                                                     ZipEntryInfo *info, uint32_t local_offset);
VTQ_FILTER_API uint32_t VtqZip_nextPathDelimiter(const char *path);

/* ------------------------------------------------ extraction loop */

VTQ_FILTER_API uint32_t VtqZip_GetUnCompressFile(const char *archive, uint32_t *count,
                                                 MemberRecord **members, ZipBus *bus);

/* ------------------------------------------------ decryption */

VTQ_FILTER_API uint32_t CryptCRC32(uint32_t crc, int byte);
VTQ_FILTER_API int CryptUpdateKeys(int byte, ZipBus *bus);
VTQ_FILTER_API void CryptInitKeys(ZipBus *bus);
VTQ_FILTER_API int CryptDecryptByte(ZipBus *bus);
VTQ_FILTER_API int CryptDecode(const unsigned char *byte, ZipBus *bus);
VTQ_FILTER_API void CryptDecodeBuffer(uint32_t count, unsigned char *buf,
                                      const ZipEntryInfo *info, ZipBus *bus);

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

#endif /* VTQ_ZOZAZ_H */
