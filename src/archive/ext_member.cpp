// ext_member.cpp - one member read in extended mode (see ext_member.h)
#include "archive/ext_member.h"

#include "archive/ext_read.h"
#include "archive/method_decode.h"
#include "archive/zip_format.h"

namespace vtq::ext {
namespace {

namespace fmt = zipfmt;

constexpr uint32_t kMethodAes = 99;
constexpr uint32_t kMethodDeflate = 8, kMethodDeflate64 = 9;
constexpr uint32_t kFlagStrongEncryption = 0x0040;
// The member file is written, and the member counted, in 32 bits.
constexpr uint64_t kLargestMember = UINT32_MAX;

constexpr char kNoPassword[] = "encrypted, no password given";
constexpr char kEmptyPassword[] = "empty password";
constexpr char kWrongPassword[] = "wrong password";
constexpr char kNoLocalHeader[] = "no local header where the central directory says";
constexpr char kStrongEncryption[] = "strong encryption is not supported";
constexpr char kNoRoomForHeader[] = "encrypted data is too short to hold its header";
constexpr char kEndsEarly[] = "data ends before the declared size";
constexpr char kOver4GiB[] = "member larger than 4 GiB";

// The most bytes the method can make from in_len bytes of data: deflate's
// longest match (258 bytes) takes at least two bits, Deflate64's (65,538)
// eighteen; stored data is the member.  Other methods set no bound worth
// checking: their decoders stop at the declared size, and at the end of
// their data.
uint64_t MostOutput(uint32_t method, uint64_t in_len) {
    switch (method) {
    case fmt::kMethodStored:
        return in_len;
    case kMethodDeflate:
        return in_len <= UINT64_MAX / 1032 ? in_len * 1032 : UINT64_MAX;
    case kMethodDeflate64:
        return in_len <= (UINT64_MAX - 65538) / 29128 ? in_len * 29128 + 65538 : UINT64_MAX;
    default:
        return UINT64_MAX;
    }
}

// The traditional keys from the extension's password, through the
// context's own key set-up (which reads the context's password fields).
void InitKeys(ZipBus *bus, const VtqExtension &record) {
    const unsigned char *password = bus->Password;
    const uint32_t password_len = bus->PasswordLen;
    bus->Password = record.Password;
    bus->PasswordLen = record.PasswordLen;
    CryptInitKeys(bus);
    bus->Password = password;
    bus->PasswordLen = password_len;
}

// A buffer the host refused: the member is too large for its cap.
const char *TooLarge(Line *line, uint64_t bytes) {
    line->Clear();
    return line->Add("needs ").Add(bytes).Add(" bytes, more than the member-size cap").c_str();
}

} // namespace

Kind KindOf(const Entry &e) {
    Kind k;
    k.method = e.method;
    if (e.method == kMethodAes) {
        k.aes = true;
        k.aes_ok = ParseAesExtra(e.extra, e.extra_len, &k.aes_info);
        if (k.aes_ok) {
            k.method = k.aes_info.method;
            k.encryption = VTQ_ENC_AES128 + k.aes_info.strength - 1;
        }
    } else if ((e.flags & fmt::kFlagEncrypted) != 0) {
        k.encryption = VTQ_ENC_ZIPCRYPTO;
    }
    return k;
}

VtqMemberEvent BeginEvent(const Entry &e, const char *name, const char *display_name,
                          const char *name_set) {
    const Kind kind = KindOf(e);
    VtqMemberEvent event{};
    event.Kind = VTQ_EVENT_BEGIN;
    event.Name = name;
    event.DisplayName = display_name;
    event.CompressedSize = e.compressed_size;
    event.UncompressedSize = e.uncompressed_size;
    event.Method = kind.method;
    event.Flags = e.flags;
    event.Crc32 = e.crc32;
    event.DosDateTime = e.dos_date_time;
    event.Encryption = kind.encryption;
    event.Encoding = name_set;
    return event;
}

uint32_t ReadMember(const Source &src, const Entry &e, MemberBytes *out, const char **reason,
                    Line *line) {
    out->reset();
    *reason = nullptr;
    auto fail = [out, reason](uint32_t code, const char *why) {
        out->reset();
        *reason = why;
        return code;
    };
    const Kind kind = KindOf(e);
    const bool encrypted = kind.aes || (e.flags & fmt::kFlagEncrypted) != 0;
    if (e.compressed_size > kLargestMember || e.uncompressed_size > kLargestMember)
        return fail(VTQ_E_NO_MEMORY, kOver4GiB);
    // An AES member without its extra field keeps method 99, which names
    // the reason.
    if (const char *why = nullptr; !MethodDecodes(kind.method, &why)) {
        line->Clear();
        if (why == nullptr)
            why =
                line->Add("compression method ").Add(kind.method).Add(" is not supported").c_str();
        return fail(VTQ_E_INFLATE, why);
    }
    if (encrypted) {
        if ((e.flags & kFlagStrongEncryption) != 0) return fail(VTQ_E_INFLATE, kStrongEncryption);
        if (src.record->Password == nullptr) return fail(VTQ_E_ENCRYPTED, kNoPassword);
        if (src.record->PasswordLen == 0) return fail(VTQ_E_EMPTY_PASSWORD, kEmptyPassword);
    }

    // The local header lies inside the archive (CheckPlaces): a read that
    // fails is the archive's, not the member's.  Its name and extra field
    // lengths say where the data starts.
    unsigned char local[fmt::kLocalHeaderSize];
    if (!ReadAt(src.file, e.local_offset, local, sizeof local)) return fail(VTQ_E_IO, nullptr);
    if (Le32(local) != fmt::kLocalHeaderSig) return fail(VTQ_E_STRUCTURE, kNoLocalHeader);
    const uint64_t data_at =
        e.local_offset + fmt::kLocalHeaderSize + Le16(local + 26) + Le16(local + 28);
    const uint64_t csize = e.compressed_size;
    if (data_at > e.data_limit || csize > e.data_limit - data_at)
        return fail(VTQ_E_STRUCTURE, e.limit_is_directory ? kPastTheEnd : kOverlaps);
    const uint64_t overhead = kind.aes    ? AesOverhead(kind.aes_info)
                              : encrypted ? fmt::kCryptHeaderSize
                                          : 0;
    if (csize < overhead) return fail(VTQ_E_INFLATE, kNoRoomForHeader);
    const uint64_t in_len = csize - overhead;
    const uint32_t usize = static_cast<uint32_t>(e.uncompressed_size);
    if (usize > MostOutput(kind.method, in_len)) return fail(VTQ_E_INFLATE, kEndsEarly);

    if (src.stream_stored && !encrypted && kind.method == fmt::kMethodStored && in_len == usize &&
        usize >= kStreamFrom) {
        // The host's member-size cap decides this member as it decides one
        // read ahead: the buffer is asked for, and let go untouched.
        if (!HostBuffer(VTQ_malloc(usize))) return fail(VTQ_E_NO_MEMORY, TooLarge(line, usize));
        out->stream_at = data_at;
        out->size = usize;
        out->crc = e.crc32;
        return VTQ_OK;
    }
    out->data.reset(VTQ_malloc(csize));
    if (!out->data) return fail(VTQ_E_NO_MEMORY, TooLarge(line, csize));
    auto *data = out->data.as<unsigned char>();
    if (!ReadAt(src.file, data_at, data, csize)) return fail(VTQ_E_IO, nullptr);
    const unsigned char *in = data;
    if (kind.aes) {
        size_t plain_at = 0, plain_len = 0;
        const uint32_t code = AesDecrypt(src.record->Password, src.record->PasswordLen,
                                         kind.aes_info, data, csize, &plain_at, &plain_len, reason);
        if (code != VTQ_OK) return fail(code, *reason);
        in = data + plain_at;
    } else if (encrypted) {
        InitKeys(src.bus, *src.record);
        ZipEntryInfo info{};
        info.Flags = fmt::kFlagEncrypted;
        CryptDecodeBuffer(static_cast<uint32_t>(csize), data, &info, src.bus);
        // The last byte of the encryption header rejects most wrong
        // passwords before anything is decoded.
        if (!CryptHeaderMatches(data, e.flags, e.crc32, e.dos_date_time))
            return fail(VTQ_E_CRC, kWrongPassword);
        in = data + fmt::kCryptHeaderSize;
    }

    if (kind.method == fmt::kMethodStored && in_len == usize) {
        out->bytes = in; // the member itself, where it was read
    } else {
        out->buffer.reset(VTQ_malloc(usize));
        if (!out->buffer) return fail(VTQ_E_NO_MEMORY, TooLarge(line, usize));
        const uint32_t code =
            DecodeMethod(kind.method, e.flags, in, in_len, out->buffer.as<unsigned char>(), usize,
                         src.whole, reason);
        if (code != VTQ_OK) return fail(code, *reason);
        out->data.reset();
        out->bytes = out->buffer.as<const unsigned char>();
    }
    // AE-2 stores no CRC: its authentication code stands for it.
    const bool check_crc = !kind.aes || AesChecksCrc(kind.aes_info);
    if (check_crc && Crc32(0, out->bytes, usize) != e.crc32) return fail(VTQ_E_CRC, kCrcMismatch);
    out->size = usize;
    return VTQ_OK;
}

} // namespace vtq::ext
