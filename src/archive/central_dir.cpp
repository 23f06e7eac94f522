// central_dir.cpp - find the end record, read central entries, check local headers
//
// The archive is reached only through a host file handle opened "rb".  All
// positions, sizes and counts are unsigned 32-bit and sums wrap modulo 2^32
// on purpose: archives that lie about their offsets must produce the same
// (wrong) positions on every platform, and the checks below catch them.
//
// The record readers do not look at the results of their individual field
// reads; only seeks, signatures, comparisons and the name read decide.  A
// field whose read fails keeps the value it had, so a truncated record shows
// up as a mismatch (3100) or as stale values rather than as a read error.
#include <cstring>

#include "archive/zip_format.h"
#include "host/services.h"
#include "vtq/zozaz.h"

namespace {

namespace fmt = vtq::zipfmt;

// The end record must start within this many bytes of the end of the file.
constexpr uint32_t kTailSearchSpan = 65535;
// Windows of kTailWindow bytes, stepping back kTailStep bytes at a time, so
// that neighbouring windows overlap by exactly one signature's length.
constexpr uint32_t kTailStep = 1024;
constexpr uint32_t kTailWindow = kTailStep + sizeof fmt::kEndRecordSigBytes;

bool SeekTo(VTQ_FILE *file, uint32_t pos) { return VTQ_FileSeek(file, pos, 0) == 0; }

} // namespace

// Returns the file position of the end record nearest the end of the file,
// or 0 when none starts in the last 65535 bytes, when the search buffer
// cannot be had, or when a seek or read fails.  A record at position 0 is
// therefore indistinguishable from none.
extern "C" VTQ_FILTER_API uint32_t VtqZip_SearchCentralDir(VTQ_FILE *file) {
    // A failed size query reads as 0xFFFFFFFF; the reads past the end then
    // fail and the search ends with nothing found.
    const uint32_t size = static_cast<uint32_t>(VTQ_FileTellSize(file));
    const uint32_t max_back = size < kTailSearchSpan ? size : kTailSearchSpan;

    vtq::HostBuffer window(VTQ_malloc(kTailWindow));
    if (!window) return 0;
    const auto *buf = window.as<const unsigned char>();

    uint32_t back = sizeof fmt::kEndRecordSigBytes;
    uint32_t found = 0;
    while (found == 0 && back < max_back) {
        back = max_back - back > kTailStep ? back + kTailStep : max_back;
        const uint32_t read_pos = size - back;
        if (!SeekTo(file, read_pos)) break;
        const uint32_t want = size - read_pos < kTailWindow ? size - read_pos : kTailWindow;
        const size_t got = VTQ_FileRead(window.get(), 1, want, file);
        if (got == 0) break;
        // Scan only what the host delivered, from the window's end, so the
        // occurrence nearest the end of the file wins.
        const uint32_t avail = got < want ? static_cast<uint32_t>(got) : want;
        for (uint32_t i = avail >= 4 ? avail - 4 + 1 : 0; i-- > 0;) {
            if (std::memcmp(buf + i, fmt::kEndRecordSigBytes, 4) == 0) {
                found = read_pos + i;
                break;
            }
        }
    }
    return found;
}

// Locates and checks the end record.  Returns 0 with *pos and *entries
// filled; 11 without pos or entries; 23 when no end record is found; 25 when
// the seek to it fails; 3100 for a multi-disk record, disagreeing entry
// counts, or a central directory that does not end before the end record.
// *entries is already stored when the last check fails.
extern "C" VTQ_FILTER_API uint32_t VtqZip_FormatChk(VTQ_FILE *file, ZipDirPos *pos,
                                                    uint32_t *entries) {
    if (pos == nullptr || entries == nullptr) return VTQ_E_NO_RECORD;
    const uint32_t eocd = VtqZip_SearchCentralDir(file);
    if (eocd == 0) return VTQ_E_NO_END_RECORD;
    if (!SeekTo(file, eocd)) return VTQ_E_IO;

    // Fields cut off by the end of the file read as 0.
    uint32_t signature = 0, this_disk = 0, cd_disk = 0, entries_here = 0, total = 0;
    VtqZip_getDoubleWord(file, &signature); // found by the search, not compared
    VtqZip_getWord(file, &this_disk);
    VtqZip_getWord(file, &cd_disk);
    VtqZip_getWord(file, &entries_here);
    VtqZip_getWord(file, &total);
    // Archives spanning several disks are not supported.
    if (total != entries_here || cd_disk != 0 || this_disk != 0) return VTQ_E_STRUCTURE;
    *entries = total;

    uint32_t cd_size = 0, cd_offset = 0, comment_len = 0;
    VtqZip_getDoubleWord(file, &cd_size);
    VtqZip_getDoubleWord(file, &cd_offset);
    VtqZip_getWord(file, &comment_len);
    // The central directory cannot extend beyond the start of the end record.
    // Whatever lies before the recorded end of the directory and the end
    // record is taken as bytes in front of the archive (a stub).
    const uint32_t cd_end = cd_offset + cd_size;
    if (eocd < cd_end) return VTQ_E_STRUCTURE;
    pos->CentralPos = cd_offset;
    pos->BytesBefore = eocd - cd_end;
    return VTQ_OK;
}

// Reads the central entry at pos.CentralPos + pos.BytesBefore.  Returns 0
// with info words 0..13, *local_offset, *data_offset (when given; the local
// extra field is assumed to be as long as the central one) and *name (a
// NUL-terminated copy from VTQ_malloc that the caller frees) filled; 25 when
// the seek fails or the name cannot be read (a name length of 0 included);
// 3100 for a wrong signature; 12 when the name buffer cannot be had.  On
// failure no name is handed out, but info may hold fields already read.
extern "C" VTQ_FILTER_API uint32_t VtqZip_GetCurrentFileInfo(VTQ_FILE *file, ZipDirPos pos,
                                                             ZipEntryInfo *info,
                                                             uint32_t *local_offset,
                                                             uint32_t *data_offset, char **name) {
    if (!SeekTo(file, pos.CentralPos + pos.BytesBefore)) return VTQ_E_IO;
    uint32_t signature = 0;
    VtqZip_getDoubleWord(file, &signature);
    if (signature != fmt::kCentralHeaderSig) return VTQ_E_STRUCTURE;

    // A failed read leaves the previous entry's value in place.
    VtqZip_getWord(file, &info->VersionMadeBy);
    VtqZip_getWord(file, &info->VersionNeeded);
    VtqZip_getWord(file, &info->Flags);
    VtqZip_getWord(file, &info->Method);
    VtqZip_getDoubleWord(file, &info->DosDateTime);
    VtqZip_getDoubleWord(file, &info->Crc32);
    VtqZip_getDoubleWord(file, &info->CompressedSize);
    VtqZip_getDoubleWord(file, &info->UncompressedSize);
    VtqZip_getWord(file, &info->NameLen);
    VtqZip_getWord(file, &info->ExtraLen);
    VtqZip_getWord(file, &info->CommentLen);
    VtqZip_getWord(file, &info->DiskStart);
    VtqZip_getWord(file, &info->InternalAttr);
    VtqZip_getDoubleWord(file, &info->ExternalAttr);
    VtqZip_getDoubleWord(file, local_offset);
    if (data_offset != nullptr)
        *data_offset = *local_offset + fmt::kLocalHeaderSize + info->NameLen + info->ExtraLen;

    // NameLen is at most 65535, so the sum cannot overflow.  The buffer is
    // zeroed so that a name cut short by the end of the file ends early
    // instead of holding whatever the allocator left there.
    const size_t name_len = info->NameLen;
    vtq::HostBuffer buf(VTQ_malloc(name_len + 1));
    if (!buf) return VTQ_E_NO_MEMORY;
    std::memset(buf.get(), 0, name_len + 1);
    if (VTQ_FileRead(buf.get(), 1, name_len, file) == 0) return VTQ_E_IO;
    *name = static_cast<char *>(buf.release());
    return VTQ_OK;
}

// Checks the local header at local_offset + pos.BytesBefore against the
// central entry in info.  Returns 0 with info->LocalExtraLen stored and the
// file positioned at the local file name; 25 when the seek fails; 3100 for
// a wrong signature, a different method or name length, or (unless the
// local flag has bit 3) a different CRC or size.
extern "C" VTQ_FILTER_API uint32_t VtqZip_CurFileCoherencyCheck(VTQ_FILE *file, ZipDirPos pos,
                                                                ZipEntryInfo *info,
                                                                uint32_t local_offset) {
    if (!SeekTo(file, local_offset + pos.BytesBefore)) return VTQ_E_IO;
    // Every field but the flag goes through this one value, so a read that
    // fails leaves the previous field's value in it; the flag stays 0.
    uint32_t value = 0;
    uint32_t local_flags = 0;
    VtqZip_getDoubleWord(file, &value);
    if (value != fmt::kLocalHeaderSig) return VTQ_E_STRUCTURE;
    VtqZip_getWord(file, &value); // version needed, not compared
    VtqZip_getWord(file, &local_flags);
    VtqZip_getWord(file, &value);
    if (value != info->Method) return VTQ_E_STRUCTURE;
    VtqZip_getDoubleWord(file, &value); // time and date, not compared

    // A writer that streams sets bit 3 and leaves CRC and sizes for a data
    // descriptor; the central entry alone is trusted for them then.
    const bool streamed = (local_flags & fmt::kFlagDataDescriptor) != 0;
    VtqZip_getDoubleWord(file, &value);
    if (value != info->Crc32 && !streamed) return VTQ_E_STRUCTURE;
    VtqZip_getDoubleWord(file, &value);
    if (value != info->CompressedSize && !streamed) return VTQ_E_STRUCTURE;
    VtqZip_getDoubleWord(file, &value);
    if (value != info->UncompressedSize && !streamed) return VTQ_E_STRUCTURE;

    // The data offset depends on the name length; it must agree, always.
    VtqZip_getWord(file, &value);
    if (value != info->NameLen) return VTQ_E_STRUCTURE;
    VtqZip_getWord(file, &value);
    info->LocalExtraLen = value;
    return VTQ_OK;
}

// Returns the number of bytes before the first "/" or the terminating NUL:
// 0 for an empty string and for one that starts with "/".
extern "C" VTQ_FILTER_API uint32_t VtqZip_nextPathDelimiter(const char *path) {
    uint32_t n = 0;
    if (path == nullptr) return 0;
    while (path[n] != '\0' && path[n] != '/') ++n;
    return n;
}
