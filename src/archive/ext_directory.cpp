// ext_directory.cpp - the extended mode's central directory (see ext_directory.h)
#include "archive/ext_directory.h"

#include <cstring>

#include "archive/ext_read.h"
#include "archive/zip_format.h"
#include "vtq/types.h"

namespace vtq::ext {
namespace {

namespace fmt = zipfmt;

// The end record starts at most this far from the end of the file: its 22
// bytes and the largest comment.
constexpr uint64_t kTailSpan = 65535 + fmt::kEndRecordSize;

constexpr uint32_t kZip64LocatorSig = 0x07064b50;   // "PK\6\7"
constexpr uint32_t kZip64EndRecordSig = 0x06064b50; // "PK\6\6"
constexpr uint64_t kZip64LocatorSize = 20;
constexpr uint64_t kZip64EndRecordSize = 56; // without its extensible data
constexpr uint32_t kZip64ExtraId = 0x0001;

constexpr char kZip64Missing[] = "ZIP64 extra field is missing or too short";

// Where the end record says the directory is.
struct Place {
    uint64_t start = 0, size = 0, bytes_before = 0;
};

// The last bytes of the file, read once; small reads near the end record
// come from here instead of the file.
class Tail {
public:
    Tail(VTQ_FILE *file, uint64_t file_size) : file_(file), size_(file_size) {}
    // Reads the tail.  0, 12 or 25.
    uint32_t Load() {
        len_ = size_ < kTailSpan ? static_cast<size_t>(size_) : static_cast<size_t>(kTailSpan);
        at_ = size_ - len_;
        buf_.reset(VTQ_malloc(len_));
        if (!buf_) return VTQ_E_NO_MEMORY;
        return ReadAt(file_, at_, buf_.get(), len_) ? VTQ_OK : VTQ_E_IO;
    }
    const unsigned char *bytes() const { return buf_.as<const unsigned char>(); }
    size_t len() const { return len_; }
    uint64_t at() const { return at_; }
    uint64_t file_size() const { return size_; }
    // n bytes at file position pos into out.  False when they are not all
    // in the file; 25 in *io_code when a read of the file fails.
    bool Peek(uint64_t pos, void *out, size_t n, uint32_t *io_code) const {
        if (pos > size_ || n > size_ - pos) return false;
        if (pos >= at_) {
            std::memcpy(out, bytes() + (pos - at_), n);
            return true;
        }
        if (ReadAt(file_, pos, out, n)) return true;
        *io_code = VTQ_E_IO;
        return false;
    }

private:
    VTQ_FILE *file_;
    uint64_t size_;
    HostBuffer buf_;
    size_t len_ = 0;
    uint64_t at_ = 0;
};

// True when a central header signature is at file position pos.
bool CentralHeaderAt(const Tail &tail, uint64_t pos, uint32_t *io_code) {
    unsigned char sig[4];
    return tail.Peek(pos, sig, sizeof sig, io_code) && Le32(sig) == fmt::kCentralHeaderSig;
}

// Decides about the end record at file position pos (its 22 bytes in
// record).  True with *place filled when it is consistent (see
// Directory::Load).
bool Consistent(const Tail &tail, uint64_t pos, const unsigned char *record, Place *place,
                uint32_t *io_code) {
    uint64_t size = Le32(record + 12), offset = Le32(record + 16);
    uint64_t end = pos; // where the directory and anything after it end
    // A ZIP64 locator right before the end record points to the ZIP64 end
    // record, which writers put right before the locator; the locator's own
    // offset does not count the bytes in front of the archive.
    unsigned char locator[kZip64LocatorSize];
    if (pos >= kZip64LocatorSize &&
        tail.Peek(pos - kZip64LocatorSize, locator, sizeof locator, io_code) &&
        Le32(locator) == kZip64LocatorSig) {
        const uint64_t recorded = Le64(locator + 8);
        const uint64_t before_locator = pos - kZip64LocatorSize;
        const uint64_t candidates[] = {before_locator - kZip64EndRecordSize, recorded};
        for (uint64_t at : candidates) {
            unsigned char z64[kZip64EndRecordSize];
            if (before_locator < kZip64EndRecordSize || at > before_locator - kZip64EndRecordSize ||
                !tail.Peek(at, z64, sizeof z64, io_code) || Le32(z64) != kZip64EndRecordSig)
                continue;
            size = Le64(z64 + 40);
            offset = Le64(z64 + 48);
            end = at;
            break;
        }
    }
    // The directory cannot extend beyond what follows it.
    if (size > end || offset > end - size) return false;
    place->size = size;
    place->start = end - size;
    place->bytes_before = end - size - offset;
    // An archive without entries has nothing to point to: its record must
    // at least end the file with its comment, which a stray signature in
    // another record's comment seldom does.
    if (size == 0) return pos + fmt::kEndRecordSize + Le16(record + 20) == tail.file_size();
    return CentralHeaderAt(tail, place->start, io_code);
}

// The ZIP64 values of an entry whose 32-bit fields are all ones, from its
// 0x0001 extra record, in the order the format gives.  False when one that
// is needed is not there.
bool ApplyZip64(const unsigned char *extra, size_t extra_len, bool want_usize, bool want_csize,
                bool want_offset, Entry *e, uint64_t *offset) {
    Reader records(extra, extra_len);
    while (const unsigned char *head = records.Take(4)) {
        const unsigned char *data = records.Take(Le16(head + 2));
        if (data == nullptr) return false;
        if (Le16(head) != kZip64ExtraId) continue;
        Reader fields(data, Le16(head + 2));
        const bool wanted[] = {want_usize, want_csize, want_offset};
        uint64_t *const values[] = {&e->uncompressed_size, &e->compressed_size, offset};
        for (size_t i = 0; i < 3; ++i) {
            if (!wanted[i]) continue;
            const unsigned char *value = fields.Take(8);
            if (value == nullptr) return false;
            *values[i] = Le64(value);
        }
        return true;
    }
    return false;
}

} // namespace

uint32_t Directory::Load(VTQ_FILE *file, uint64_t file_size) {
    Tail tail(file, file_size);
    if (const uint32_t code = tail.Load(); code != VTQ_OK) return code;
    bool seen = false;
    const size_t len = tail.len();
    for (size_t i = len >= fmt::kEndRecordSize ? len - fmt::kEndRecordSize + 1 : 0; i-- > 0;) {
        const unsigned char *record = tail.bytes() + i;
        if (std::memcmp(record, fmt::kEndRecordSigBytes, 4) != 0) continue;
        seen = true;
        Place place;
        uint32_t io_code = VTQ_OK;
        const bool consistent = Consistent(tail, tail.at() + i, record, &place, &io_code);
        if (io_code != VTQ_OK) return io_code;
        if (!consistent) continue;
        file_ = file;
        start_ = place.start;
        size_ = place.size;
        bytes_before_ = place.bytes_before;
        // A piece as large as the directory when it is smaller than one.
        cap_ = size_ < kDirectoryChunk ? static_cast<size_t>(size_) : kDirectoryChunk;
        buf_.reset(VTQ_malloc(cap_ > 0 ? cap_ : 1));
        if (!buf_) return VTQ_E_NO_MEMORY;
        return Count();
    }
    return seen ? VTQ_E_STRUCTURE : VTQ_E_NOT_ZIP;
}

// The first two readings: the entries counted (the directory must be a
// sequence of whole central headers with nothing after them), then placed.
uint32_t Directory::Count() {
    Entry e;
    Rewind();
    while (read_ < size_ || buf_at_ < buf_len_) {
        if (const uint32_t code = Parse(&e); code != VTQ_OK) return code;
        // Entries beyond what a 32-bit count holds would take more memory
        // than any host grants; refuse them before counting past it.
        if (entries_ == UINT32_MAX) return VTQ_E_STRUCTURE;
        ++entries_;
        if (!e.directory) ++file_members_;
    }
    if (!places_.Reserve(entries_)) return VTQ_E_NO_MEMORY;
    Rewind();
    for (uint32_t i = 0; i < entries_; ++i) {
        if (const uint32_t code = Parse(&e); code != VTQ_OK) return code;
        places_.Add(e, i);
    }
    places_.Finish(start_);
    Rewind();
    return VTQ_OK;
}

uint32_t Directory::Next(Entry *e, bool *more) {
    *more = next_ < entries_;
    if (!*more) return VTQ_OK;
    if (const uint32_t code = Parse(e); code != VTQ_OK) return code;
    if (!places_.Apply(e, next_)) return VTQ_E_STRUCTURE;
    ++next_;
    return VTQ_OK;
}

void Directory::Rewind() {
    buf_at_ = buf_len_ = 0;
    read_ = 0;
    next_ = 0;
}

const unsigned char *Directory::Take(size_t n, uint32_t *code) {
    if (buf_len_ - buf_at_ < n) {
        // Keep what is left of the piece at the front and fill behind it.
        const size_t kept = buf_len_ - buf_at_;
        auto *buf = buf_.as<unsigned char>();
        std::memmove(buf, buf + buf_at_, kept);
        buf_at_ = 0;
        buf_len_ = kept;
        const uint64_t left = size_ - read_;
        const size_t fill = left < cap_ - kept ? static_cast<size_t>(left) : cap_ - kept;
        if (fill > 0) {
            if (!ReadAt(file_, start_ + read_, buf + kept, fill)) {
                *code = VTQ_E_IO;
                return nullptr;
            }
            read_ += fill;
            buf_len_ += fill;
        }
        if (buf_len_ < n) {
            *code = VTQ_E_STRUCTURE;
            return nullptr;
        }
    }
    const unsigned char *at = buf_.as<const unsigned char>() + buf_at_;
    buf_at_ += n;
    return at;
}

// One central header and its three fields; the name, extra field and
// comment lie behind the header in the same piece.
uint32_t Directory::Parse(Entry *out) {
    uint32_t code = VTQ_OK;
    const unsigned char *h = Take(fmt::kCentralHeaderSize, &code);
    if (h == nullptr) return code;
    if (Le32(h) != fmt::kCentralHeaderSig) return VTQ_E_STRUCTURE;
    Entry e;
    e.flags = Le16(h + 8);
    e.method = Le16(h + 10);
    e.dos_date_time = Le32(h + 12);
    e.crc32 = Le32(h + 16);
    e.compressed_size = Le32(h + 20);
    e.uncompressed_size = Le32(h + 24);
    const size_t name_len = Le16(h + 28), extra_len = Le16(h + 30);
    uint64_t offset = Le32(h + 42);
    const unsigned char *fields = Take(name_len + extra_len + Le16(h + 32), &code);
    if (fields == nullptr) return code;
    const unsigned char *name = fields, *extra = fields + name_len;
    const void *nul = std::memchr(name, 0, name_len);
    e.name = name;
    e.name_len = static_cast<uint32_t>(
        nul != nullptr ? static_cast<const unsigned char *>(nul) - name : name_len);
    e.extra = extra;
    e.extra_len = static_cast<uint32_t>(extra_len);
    e.directory = e.name_len > 0 && name[e.name_len - 1] == '/';
    const bool want_usize = e.uncompressed_size == UINT32_MAX;
    const bool want_csize = e.compressed_size == UINT32_MAX;
    const bool want_offset = offset == UINT32_MAX;
    if ((want_usize || want_csize || want_offset) &&
        !ApplyZip64(extra, extra_len, want_usize, want_csize, want_offset, &e, &offset)) {
        e.refusal = VTQ_E_STRUCTURE;
        e.reason = kZip64Missing;
    }
    // An offset that does not fit with the bytes in front cannot be in the
    // file: the places refuse it as past the end.
    e.local_offset = offset <= UINT64_MAX - bytes_before_ ? offset + bytes_before_ : UINT64_MAX;
    *out = e;
    return VTQ_OK;
}

} // namespace vtq::ext
