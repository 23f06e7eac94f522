// extract.cpp - the member extraction loop: one pass over the central directory
//
// VtqZip_GetUnCompressFile walks the central directory once, in directory
// order.  Directory entries become work subdirectories (split mode); every
// file member is checked against its local header, read whole, decrypted
// when the context carries a password, copied or inflated into a buffer of
// its declared size, checked against its CRC-32, written to a member file of
// its own and handed to the host (DealTxtCompose / DealTxtSplit), which
// deletes the member file.
//
// Everything the walk holds (archive handle, buffers, inflate stream, the
// current name, the record array, the flat-mode node list) sits in an RAII
// holder, so that every return releases it; only a success hands the record
// array over to the caller.
//
// In extended mode (VTQ_MODE_EXTENDED) the walk takes its entries from the
// directory read whole (ext_directory.h), each name decoded to UTF-8
// (ext_name.h), and each member's bytes from the extended member reader
// (ext_member.h); naming, the member file and the hand-off are the
// documented ones, with the decoded name.  Every file member gets a BEGIN
// and an END event, and with KeepGoing a member that fails for its own
// reasons is recorded in DeferredError and skipped.
//
// Two rules keep member names from reaching outside the work directory in
// split mode: a name with a ".." component, and an empty name, are refused
// like an over-long path (27, or with KeepGoing the next member), and in
// compose mode a "/" in the three-byte suffix of the temporary member file
// becomes "_".
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "archive/ext_directory.h"
#include "archive/ext_member.h"
#include "archive/ext_name.h"
#include "archive/ext_read.h"
#include "archive/extension.h"
#include "archive/member_decode.h"
#include "archive/member_path.h"
#include "archive/zip_format.h"
#include "host/services.h"
#include "vtq/zozaz.h"

namespace vtq {
namespace {

namespace fmt = zipfmt;

// The zlib interface version handed to inflateInit2_.  zlib compares only
// its first character with its own, so any 1.x library accepts it.
constexpr char kZlibVersion[] = "1.2.3";
constexpr int kRawDeflateWindowBits = -15;

// The record array handed to the caller on success.  Owns the array and
// every Name in it until released.
class RecordArray {
public:
    RecordArray() = default;
    RecordArray(const RecordArray &) = delete;
    RecordArray &operator=(const RecordArray &) = delete;
    ~RecordArray() {
        if (records_ == nullptr) return;
        for (uint32_t i = 0; i < capacity_; ++i) VTQ_free(records_[i].Name);
        VTQ_free(records_);
    }
    // Room for count records, zero-filled.  False when no memory.  A count
    // of 0 still asks the host for a (0-byte) array.
    bool Allocate(uint32_t count) {
        const size_t bytes = size_t{count} * sizeof(MemberRecord);
        records_ = static_cast<MemberRecord *>(VTQ_malloc(bytes));
        if (records_ == nullptr) return false;
        std::memset(records_, 0, bytes);
        capacity_ = count;
        return true;
    }
    uint32_t capacity() const { return capacity_; }
    MemberRecord &operator[](uint32_t i) { return records_[i]; }
    MemberRecord *release() {
        MemberRecord *r = records_;
        records_ = nullptr;
        return r;
    }

private:
    MemberRecord *records_ = nullptr;
    uint32_t capacity_ = 0;
};

// Frees the flat-mode node list in ZipBus.SplitOutList when the walk ends,
// however it ends, and leaves the list head null.
class NodeList {
public:
    explicit NodeList(ZipBus *bus) : bus_(bus) {}
    NodeList(const NodeList &) = delete;
    NodeList &operator=(const NodeList &) = delete;
    ~NodeList() { FreeAll(); }
    void FreeAll() {
        while (bus_->SplitOutList != nullptr) {
            SplitOutNode *next = bus_->SplitOutList->Next;
            VTQ_free(bus_->SplitOutList);
            bus_->SplitOutList = next;
        }
    }
    // Appends a zero-filled node; null when no memory.
    SplitOutNode *Append() {
        auto *node = static_cast<SplitOutNode *>(VTQ_malloc(sizeof(SplitOutNode)));
        if (node == nullptr) return nullptr;
        std::memset(node, 0, sizeof *node);
        SplitOutNode **tail = &bus_->SplitOutList;
        while (*tail != nullptr) tail = &(*tail)->Next;
        *tail = node;
        return node;
    }
    // After a failed hand-off: removes the text file of every node except
    // those whose path is own's (the failed member's own text is left
    // alone), frees the nodes.
    void RemoveTextFilesExcept(const SplitOutNode *own) {
        for (SplitOutNode *n = bus_->SplitOutList; n != nullptr; n = n->Next)
            if (own == nullptr || std::strcmp(n->Path, own->Path) != 0) VTQ_ASC_remove(n->Path);
        FreeAll();
    }

private:
    ZipBus *bus_;
};

// A raw-deflate zlib stream, ended on every exit once started.
class Inflater {
public:
    Inflater() = default;
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;
    ~Inflater() { End(); }
    // Starts a fresh stream with zlib's default allocators.  False when zlib
    // refuses.
    bool Start() {
        std::memset(&z_, 0, sizeof z_);
        started_ = inflateInit2_(&z_, kRawDeflateWindowBits, kZlibVersion,
                                 static_cast<int>(sizeof(z_stream))) == Z_OK;
        return started_;
    }
    void End() {
        if (started_) inflateEnd(&z_);
        started_ = false;
    }
    bool started() const { return started_; }
    z_stream &stream() { return z_; }

private:
    z_stream z_{};
    bool started_ = false;
};

// What a step of a file member leaves the walk to do: go on with this
// member (kNamed, only from naming), go to the next entry, finish with
// success, or fail with code.
enum class Next { kNamed, kEntry, kFinish, kFail };
struct MemberResult {
    Next next;
    uint32_t code; // with kFail
};
constexpr MemberResult kNamed{Next::kNamed, VTQ_OK};
constexpr MemberResult kNextEntry{Next::kEntry, VTQ_OK};
constexpr MemberResult Fail(uint32_t code) { return {Next::kFail, code}; }

// What became of a member from its naming on: 0, the code it failed with
// (27, 22, 24, 12) or the hand-off's result, and the output bytes counted
// while it was with the host.
struct HandOffOutcome {
    uint32_t code = VTQ_OK;
    uint64_t text_bytes = 0;
    const char *reason = nullptr; // the member's own fault, where it has one
};

// The piece in which a streamed member passes from the archive to its
// member file: small enough to stay in the processor's cache between the
// read, the CRC and the write.
constexpr size_t kStreamPiece = 256 * 1024;

// The reason an END event gives for a hand-off's outcome, where the filter
// knows one.
const char *HandOffReason(uint32_t code) {
    switch (code) {
    case VTQ_E_PATH:
        return "its path is too long or leaves the work directory";
    case VTQ_E_OPEN:
        return "the member file cannot be created";
    case VTQ_E_SHORT_WRITE:
        return "the member file was written short";
    case VTQ_E_NO_FILTER:
        return "no text filter";
    case VTQ_E_SIZE_LIMIT:
        return "the output size limit was reached";
    default:
        return nullptr;
    }
}

class Extraction {
public:
    explicit Extraction(ZipBus *bus) : bus_(bus), mode_(bus->Options->ModeFlags), nodes_(bus) {}

    uint32_t Run(const char *archive, uint32_t *count, MemberRecord **members);

private:
    bool compose() const { return (mode_ & VTQ_MODE_COMPOSE) != 0; }
    bool flat() const { return (mode_ & VTQ_MODE_FLAT) != 0; }
    bool keep_going() const { return (mode_ & VTQ_MODE_KEEP_GOING) != 0; }
    const char *name() const { return name_.as<const char>(); }

    // Reads the central entry at pos_ into info_, name_, local_offset_.
    bool ReadEntry();
    // The documented walk, from the first entry read; 0 or the code to fail
    // with.
    uint32_t Walk();
    // The extended walk over dir_; 0 or the code to fail with.
    uint32_t WalkExtended();
    MemberResult ExtendedMember(const ext::Entry &e, const char *stored, const char *name_set);
    // Moves pos_ past the current central entry (32-bit arithmetic).
    void AdvancePastEntry() {
        pos_.CentralPos +=
            fmt::kCentralHeaderSize + info_.NameLen + info_.ExtraLen + info_.CommentLen;
    }
    void DirectoryEntry();
    // Split mode: the directories of the current name under the work
    // directory.
    void MakeDirectories();
    MemberResult FileMember();
    uint32_t Decode(bool encrypted);
    // Names, writes and hands off the member in record, whose bytes are in
    // member_, and evaluates the hand-off; *outcome says what became of it.
    MemberResult HandOver(uint32_t record, HandOffOutcome *outcome);
    // Writes the member's bytes, or streams them from the archive, into
    // file; 0, or the code to fail with (*reason set for a CRC mismatch).
    uint32_t WriteMemberFile(VTQ_FILE *file, uint32_t size, const char **reason);
    MemberResult NameMemberFile(uint32_t record);
    MemberResult PathRefused();
    void CleanUpAfterFailedHandOff();

    ZipBus *bus_;
    const uint32_t mode_;
    Extension ext_;      // the extended mode, when ext_.on
    ext::Directory dir_; // extended mode: the central directory
    Line line_;          // extended mode: the current member's reason
    HostFile archive_;
    ZipEntryInfo info_{};
    ZipDirPos pos_{};
    uint32_t entries_ = 0;      // end record's total, less the directory entries met
    uint32_t local_offset_ = 0; // of the current entry's local header
    HostBuffer name_;           // current entry's name until a record takes it
    RecordArray records_;
    uint32_t handled_ = 0; // file members handled = next record to fill
    NodeList nodes_;
    SplitOutNode *own_node_ = nullptr; // the current member's node (flat mode)
    // The current member's bytes.  Stored data that holds the whole member
    // is used where it was read, and the member buffer is then never
    // touched.
    MemberBytes member_;
    WholeInflater whole_;        // one-call decoding of intact streams
    HostBuffer piece_;           // a streamed member's piece, kept for the walk
    char path_[VTQ_PATH_MAX];    // the member file
    char scratch_[VTQ_PATH_MAX]; // directory prefixes
};

bool Extraction::ReadEntry() {
    char *name = nullptr;
    uint32_t data_offset = 0; // the estimate is not used: the local header decides
    name_.reset();
    if (VtqZip_GetCurrentFileInfo(archive_.get(), pos_, &info_, &local_offset_, &data_offset,
                                  &name) != VTQ_OK)
        return false;
    name_.reset(name);
    return true;
}

uint32_t Extraction::Run(const char *archive, uint32_t *count, MemberRecord **members) {
    if (const uint32_t code = ReadExtension(*bus_->Options, &ext_); code != VTQ_OK) return code;
    archive_.reset(VTQ_FileOpen(archive, "rb"));
    if (!archive_) return VTQ_E_OPEN;
    const int64_t size = VTQ_FileTellSize(archive_.get());
    if (size == -1) return VTQ_E_IO;
    if (ext_.on) {
        // Wherever the archive starts: the directory says where.
        if (size < 0) return VTQ_E_IO;
        if (const uint32_t code = dir_.Load(archive_.get(), static_cast<uint64_t>(size));
            code != VTQ_OK)
            return code;
        entries_ = dir_.file_members();
        // One record, for the member in hand: the member events carry each
        // member's name and size to the host, so nothing is kept per member
        // and memory stays flat however many members the archive has.
        if (!records_.Allocate(1)) return VTQ_E_NO_MEMORY;
    } else {
        // The file must start with a local header, in little-endian order;
        // the result of the read is not needed, a failed read leaves 0.
        uint32_t signature = 0;
        VtqZip_getDoubleWord(archive_.get(), &signature);
        if (signature != fmt::kLocalHeaderSig) return VTQ_E_NOT_ZIP;
        if (VtqZip_FormatChk(archive_.get(), &pos_, &entries_) != VTQ_OK) return VTQ_E_STRUCTURE;
        if (!records_.Allocate(entries_)) return VTQ_E_NO_MEMORY;
        if (!ReadEntry()) return VTQ_E_STRUCTURE;
    }
    // Split mode makes the work directory, once per context; zip_makepath
    // may rename it in place, and every path below starts from the result.
    // WorkDirMade says that this call made it (result 0): the entry points
    // prune or remove the directory on that word, and must never do so to
    // one that was there before, such as an existing path whose fresh name
    // would not fit (27).  A listing makes nothing.
    if (!compose() && !flat() && !ext_.list_only() && bus_->WorkDirMade == 0 &&
        zip_makepath(bus_, bus_->DstFileTmp, 1) == 0)
        bus_->WorkDirMade = 1;

    if (const uint32_t code = ext_.on ? WalkExtended() : Walk(); code != VTQ_OK) return code;
    member_.reset();
    nodes_.FreeAll();
    archive_.reset();
    *count = entries_;
    *members = ext_.on ? nullptr : records_.release();
    return VTQ_OK;
}

uint32_t Extraction::Walk() {
    for (;;) {
        const size_t len = std::strlen(name());
        if (len > 0 && name()[len - 1] == '/') {
            DirectoryEntry();
            if (handled_ == entries_) return VTQ_OK;
        } else {
            const MemberResult r = FileMember();
            if (r.next == Next::kFail) return r.code;
            if (r.next == Next::kFinish) return VTQ_OK;
            ++handled_;
            if (handled_ == entries_) return VTQ_OK;
            AdvancePastEntry();
        }
        if (!ReadEntry()) return VTQ_E_STRUCTURE;
        member_.reset();
    }
}

uint32_t Extraction::WalkExtended() {
    ext::Entry e;
    for (;;) {
        bool more = false;
        if (const uint32_t code = dir_.Next(&e, &more); code != VTQ_OK) return code;
        if (!more) break;
        // The current name, in UTF-8, with the name as stored behind it.
        const char *stored = nullptr;
        const char *name_set = nullptr;
        if (const uint32_t code =
                ext::DecodeName(e, *bus_->Options, ext_.record, &name_, &stored, &name_set);
            code != VTQ_OK)
            return code;
        if (e.directory) {
            if (!ext_.list_only()) MakeDirectories();
            continue;
        }
        const MemberResult r = ExtendedMember(e, stored, name_set);
        if (r.next == Next::kFail) return r.code;
        if (r.next == Next::kFinish) return VTQ_OK;
        ++handled_;
        member_.reset();
    }
    name_.reset();
    return VTQ_OK;
}

// One file member of the extended walk, between its BEGIN and END events.
// A member that fails before its hand-off for its own reasons is skipped
// with KeepGoing (DeferredError holds its code), and ends the walk without;
// a failure of the surroundings always ends it.
MemberResult Extraction::ExtendedMember(const ext::Entry &e, const char *stored,
                                        const char *name_set) {
    VtqMemberEvent event = ext::BeginEvent(e, stored, name(), name_set);
    ext_.Send(event);
    event.Kind = VTQ_EVENT_END;
    event.Encoding = nullptr;
    if (ext_.list_only()) {
        ext_.Send(event);
        return kNextEntry;
    }
    line_.Clear();
    const char *reason = e.reason;
    uint32_t code = e.refusal;
    if (code == VTQ_OK)
        code = ext::ReadMember({archive_.get(), bus_, &ext_.record, &whole_,
                                compose() && VTQ_HostStoreAdopt == nullptr},
                               e, &member_, &reason, &line_);
    if (code != VTQ_OK) {
        event.Code = code;
        event.Reason = reason;
        ext_.Send(event);
        if (!keep_going() || !ext::MemberFault(code, reason)) return Fail(code);
        bus_->DeferredError = code;
        return kNextEntry;
    }
    // The member's record keeps a copy of the name alone: the decoding
    // buffer has room for four bytes per byte and the stored name behind
    // it, and stays with the member's events until the next entry.
    const uint32_t record = 0;
    const size_t name_size = std::strlen(name()) + 1;
    HostBuffer kept(VTQ_malloc(name_size));
    if (!kept) {
        // Every BEGIN has its END, also when the walk ends here.
        event.Code = VTQ_E_NO_MEMORY;
        ext_.Send(event);
        return Fail(VTQ_E_NO_MEMORY);
    }
    std::memcpy(kept.get(), name(), name_size);
    records_[record].Name = static_cast<char *>(kept.release());
    records_[record].Size = member_.size;
    HandOffOutcome outcome;
    const MemberResult r = HandOver(record, &outcome);
    event.Code = outcome.code;
    event.Reason = outcome.reason != nullptr ? outcome.reason : HandOffReason(outcome.code);
    event.TextBytes = outcome.text_bytes;
    ext_.Send(event);
    VTQ_free(records_[record].Name);
    records_[record] = {};
    return r;
}

void Extraction::DirectoryEntry() {
    AdvancePastEntry();
    --entries_;
    MakeDirectories();
    name_.reset();
}

void Extraction::MakeDirectories() {
    if (!compose() && !flat() && !HasDotDotComponent(name()))
        MakeDirPrefixes(bus_, name(), scratch_);
}

// Reads the member's data once, decrypts it, and copies or inflates it into
// member_ while the CRC runs (DecodeMember).  Returns 0 or the code to fail
// with.
//
// Both buffers read as zero wherever nothing was put into them (a short
// read, a stream that ends early); only those parts are zeroed, so that no
// page of a large member is written twice.
uint32_t Extraction::Decode(bool encrypted) {
    const uint32_t csize = info_.CompressedSize;
    const uint32_t usize = info_.UncompressedSize;
    HostBuffer data(VTQ_malloc(csize));
    if (!data) return VTQ_E_NO_MEMORY;
    member_.buffer.reset(VTQ_malloc(usize));
    if (!member_.buffer) return VTQ_E_NO_MEMORY;

    // Method 0 is stored; every other method goes to the inflater, which
    // refuses what is not deflate.
    Inflater inflater;
    if (info_.Method != fmt::kMethodStored && !inflater.Start()) return VTQ_E_INFLATE;

    // An empty member reads nothing.
    const unsigned char *in = nullptr;
    uint32_t pending = 0;
    if (usize > 0) {
        const uint32_t at = local_offset_ + fmt::kLocalHeaderSize + info_.NameLen +
                            info_.LocalExtraLen + pos_.BytesBefore;
        if (VTQ_FileSeek(archive_.get(), at, 0) != 0) return VTQ_E_IO;
        // A short read is not detected: the missing bytes stay zero.
        const size_t got = VTQ_FileRead(data.get(), 1, csize, archive_.get());
        if (got == 0) return VTQ_E_IO;
        if (got < csize) std::memset(data.as<unsigned char>() + got, 0, csize - got);
        in = data.as<const unsigned char>();
        pending = csize;
        if (encrypted) {
            if (bus_->Password[0] == 0) return VTQ_E_EMPTY_PASSWORD;
            CryptDecodeBuffer(csize, data.as<unsigned char>(), &info_, bus_);
            // The encryption header is not content.  Data too short to
            // hold it leaves no content at all.
            const uint32_t header = csize < fmt::kCryptHeaderSize ? csize : fmt::kCryptHeaderSize;
            in += header;
            pending -= header;
        }
    }
    if (!inflater.started() && usize > 0 && pending >= usize) {
        // Stored data that holds the whole member is the member: checked
        // and written where it was read, as the copy would have been.
        if (Crc32(0, in, usize) != info_.Crc32) return VTQ_E_CRC;
        member_.bytes = in;
        member_.size = usize;
        member_.data.reset(data.release());
        return VTQ_OK;
    }
    const uint32_t code =
        DecodeMember(inflater.started() ? &inflater.stream() : nullptr, &whole_, in, pending,
                     member_.buffer.as<unsigned char>(), usize, info_.Crc32);
    if (code != VTQ_OK) return code;
    member_.bytes = member_.buffer.as<const unsigned char>();
    member_.size = usize;
    data.reset();
    inflater.End();
    return VTQ_OK;
}

MemberResult Extraction::FileMember() {
    if (VtqZip_CurFileCoherencyCheck(archive_.get(), pos_, &info_, local_offset_) != VTQ_OK)
        return Fail(VTQ_E_STRUCTURE);
    const bool encrypted = (info_.Flags & fmt::kFlagEncrypted) != 0;
    if (encrypted) {
        if (bus_->CryptOn == 0 || bus_->Password == nullptr) return Fail(VTQ_E_ENCRYPTED);
        // Keys never carry over from one member to the next.
        CryptInitKeys(bus_);
    }
    if (const uint32_t code = Decode(encrypted); code != VTQ_OK) return Fail(code);

    // The record array has room for the end record's count only; an end
    // record that counts fewer entries than the directory holds must not
    // let the walk write past it.
    if (handled_ >= records_.capacity()) return Fail(VTQ_E_STRUCTURE);
    const uint32_t record = handled_;
    records_[record].Name = static_cast<char *>(name_.release());
    records_[record].Size = info_.UncompressedSize;
    HandOffOutcome outcome;
    return HandOver(record, &outcome);
}

MemberResult Extraction::HandOver(uint32_t record, HandOffOutcome *outcome) {
    if (const MemberResult r = NameMemberFile(record); r.next != Next::kNamed) {
        outcome->code = r.next == Next::kFail ? r.code : VTQ_E_PATH;
        return r;
    }

    const uint32_t flags = bus_->Options->FormatFlags;
    // The log service takes printf-style text; the trailing 0 is part of how
    // these lines have always been written and is ignored.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-extra-args"
    vtq_logfprintf(flags, bus_->Log, "\r\nptxt=", 0);
    vtq_logfprint_path(flags, bus_->Log, path_);
    vtq_logfprintf(flags, bus_->Log, "\r\n", 0);
#pragma GCC diagnostic pop

    {
        HostFile file(VTQ_FileOpen(path_, "wb+"));
        if (!file) {
            outcome->code = std::strlen(path_) > kPathLenMax ? VTQ_E_PATH : VTQ_E_OPEN;
            return Fail(outcome->code);
        }
        const bool streamed = member_.streamed();
        const uint32_t code = WriteMemberFile(file.get(), records_[record].Size, &outcome->reason);
        file.reset();
        // The bytes live in the member file from here on.  Letting the
        // buffer go before the hand-off matters for nested archives: each
        // level would otherwise hold its member's bytes while the levels
        // below it decode theirs.
        member_.reset();
        // A streamed member that stopped part-way leaves no member file.
        if (code != VTQ_OK && streamed) VTQ_ASC_remove(path_);
        if (code == VTQ_E_CRC) {
            // Its CRC-32 differs: the member is skipped as if its data had
            // been read ahead.
            outcome->code = code;
            if (!keep_going()) return Fail(code);
            bus_->DeferredError = code;
            return kNextEntry;
        }
        if (code != VTQ_OK) {
            outcome->code = code;
            return Fail(code);
        }
    }

    // Split mode counts every member from 0.
    const uint32_t before = compose() ? bus_->Written : 0;
    const uint32_t r =
        compose() ? DealTxtCompose(bus_, path_, records_[record].Name) : DealTxtSplit(bus_, path_);
    outcome->code = r;
    outcome->text_bytes = bus_->Written - before;
    if (r == VTQ_OK) return kNextEntry;
    if (r == VTQ_E_SIZE_LIMIT) {
        bus_->LimitReached = 1;
        // One output is full; separate text files are not.
        return compose() ? MemberResult{Next::kFinish, VTQ_OK} : kNextEntry;
    }
    bus_->DeferredError = r;
    if (keep_going()) return kNextEntry;
    CleanUpAfterFailedHandOff();
    return Fail(r);
}

uint32_t Extraction::WriteMemberFile(VTQ_FILE *file, uint32_t size, const char **reason) {
    // In extended mode the block that holds a member's bytes becomes the
    // member file where the host can take it: a copy fewer, and the bytes
    // are not resident twice.  A host that can, takes stored members that
    // way too instead of their being streamed.
    HostBuffer *whole = member_.block();
    if (ext_.on && VTQ_HostStoreAdopt != nullptr && whole != nullptr && size > 0 &&
        size == member_.size && VTQ_HostStoreAdopt(file, whole->get(), size) == 1) {
        whole->release(); // the member file's now
        return VTQ_OK;
    }
    if (!member_.streamed())
        return VTQ_FileWrite(member_.bytes, 1, size, file) == size ? VTQ_OK : VTQ_E_SHORT_WRITE;
    if (!piece_) piece_.reset(VTQ_malloc(kStreamPiece));
    if (!piece_) return VTQ_E_NO_MEMORY;
    auto *piece = piece_.as<unsigned char>();
    uint32_t crc = 0;
    for (uint32_t done = 0; done < size;) {
        const size_t n = std::min<size_t>(kStreamPiece, size - done);
        if (!ext::ReadAt(archive_.get(), member_.stream_at + done, piece, n)) return VTQ_E_IO;
        crc = Crc32(crc, piece, n);
        if (VTQ_FileWrite(piece, 1, n, file) != n) return VTQ_E_SHORT_WRITE;
        done += static_cast<uint32_t>(n);
    }
    if (crc == member_.crc) return VTQ_OK;
    *reason = ext::kCrcMismatch;
    return VTQ_E_CRC;
}

// Over-long paths and names that would leave the work directory: the
// member is given up (its record stays filled and it counts as handled).
MemberResult Extraction::PathRefused() {
    bus_->DeferredError = VTQ_E_PATH;
    return keep_going() ? kNextEntry : Fail(VTQ_E_PATH);
}

// Forms path_ for the member in record (and its node in flat mode).
// Returns kNamed, PathRefused()'s result, or a failure.
MemberResult Extraction::NameMemberFile(uint32_t record) {
    const char *member = records_[record].Name;
    std::memset(path_, 0, sizeof path_);
    if (compose()) {
        const char *made = (mode_ & VTQ_MODE_TEMP_IN_PARENT) != 0
                               ? VTQ_ASC_tmpnam1(bus_->Parent, path_)
                               : VTQ_ASC_tmpnam(path_);
        // Without a temporary name the suffix alone would name a file in
        // the current directory: the member file cannot be made.
        if (made == nullptr || path_[0] == '\0') return Fail(VTQ_E_OPEN);
        char suffix[5];
        ComposeSuffix(member, suffix);
        PathBuilder path(path_, strnlen(path_, kPathLenMax));
        if (!path.Append(suffix)) return Fail(VTQ_E_PATH);
        return kNamed;
    }

    PathBuilder path(path_);
    const size_t name_len = std::strlen(member);
    if (!path.Append(bus_->DstFileTmp, strnlen(bus_->DstFileTmp, VTQ_PATH_MAX)) ||
        !path.Append("/"))
        return PathRefused();
    // No file of an empty name, and nothing above the work directory.
    if (name_len == 0 || HasDotDotComponent(member)) return PathRefused();
    if (!flat()) MakeDirPrefixes(bus_, member, scratch_);
    // The test looks at the whole name, also in flat mode where only the
    // base name is appended.
    if (name_len > kPathLenMax - path.size()) return PathRefused();
    if (!flat()) {
        path.Append(member, name_len); // fits: tested above
        return kNamed;
    }

    const char *base = BaseName(member);
    const char *dot = std::strrchr(base, '.');
    const size_t stem = dot == nullptr ? std::strlen(base) : static_cast<size_t>(dot - base);
    static constexpr char kTextExt[] = ".txt";
    // The node's text path replaces the extension by ".txt" and can be
    // longer than the member file path: it must fit as well.
    const size_t root = path.size();
    if (stem + (sizeof kTextExt - 1) > kPathLenMax - root) return PathRefused();
    path.Append(base); // shorter than the whole name: fits
    SplitOutNode *node = nodes_.Append();
    if (node == nullptr) return Fail(VTQ_E_NO_MEMORY);
    PathBuilder text(node->Path);
    text.Append(path_, root);
    text.Append(base, stem);
    text.Append(kTextExt);
    own_node_ = node;
    return kNamed;
}

void Extraction::CleanUpAfterFailedHandOff() {
    member_.reset();
    if (compose()) return;
    if (!flat())
        Zip_deletepath(bus_->DstFileTmp, bus_);
    else
        nodes_.RemoveTextFilesExcept(own_node_);
}

} // namespace
} // namespace vtq

// Extracts every member of the archive at path and hands each to the host
// (see the file comment).  Returns 0 with *count (file members, the end
// record's total less the directory entries met) and *members (records
// from VTQ_malloc, each non-null Name too; the caller frees them) filled.
// On failure returns the code and leaves *count and *members untouched:
// 22 the archive cannot be opened; 25 its size cannot be had, or a
// member's data cannot be reached or read; 2001 it does not start with a
// local header; 3100 bad end record, central entry or local header, or a
// file member beyond the end record's count; 12 no memory; 3001 an
// encrypted member without a password; 5001 an empty password; 3101 the
// inflater fails; 3102 a CRC mismatch, or stored data shorter than its
// member; 27 a split-mode member path that is too long or would leave the
// work directory (also an empty name), unless KeepGoing; 22/27 the member
// file cannot be opened (or named); 24 it was written short; any other
// non-zero result of the hand-off, unless KeepGoing, 3005 excepted.
extern "C" VTQ_FILTER_API uint32_t VtqZip_GetUnCompressFile(const char *archive, uint32_t *count,
                                                            MemberRecord **members, ZipBus *bus) {
    if (archive == nullptr || count == nullptr || members == nullptr || bus == nullptr ||
        bus->Options == nullptr)
        return VTQ_E_NO_RECORD;
    vtq::Extraction walk(bus);
    return walk.Run(archive, count, members);
}
