// method_decode.cpp - the method table and the dispatcher (see method_decode.h)
//
// Stored, deflate (zlib, after the whole-stream decoder) and Deflate64 (the
// filter's own inflater) are decoded here; bzip2, LZMA, xz and zstd in a
// file per library.
#include "archive/method_decode.h"

#include <zlib.h>

#include <cstring>

#include "archive/member_decode.h"
#include "archive/method_stream.h"
#include "vtq/types.h"

namespace vtq {
namespace {

using method::Outcome;

// Every method with a name: for those decoded here the reason given for
// damaged data, for the others the reason they are refused with.
struct MethodInfo {
    uint32_t method;
    const char *name;
    const char *reason;
};
constexpr MethodInfo kMethods[] = {
    {0, "stored", "stored data is damaged"},
    {1, "shrink", "compression method 1 (shrink) is not supported"},
    {2, "reduce", "compression method 2 (reduce) is not supported"},
    {3, "reduce", "compression method 3 (reduce) is not supported"},
    {4, "reduce", "compression method 4 (reduce) is not supported"},
    {5, "reduce", "compression method 5 (reduce) is not supported"},
    {6, "implode", "compression method 6 (implode) is not supported"},
    {8, "deflate", "deflate data is damaged"},
    {9, "deflate64", "deflate64 data is damaged"},
    {10, "terse", "compression method 10 (terse) is not supported"},
    {12, "bzip2", "bzip2 data is damaged"},
    {14, "lzma", "lzma data is damaged"},
    {18, "terse", "compression method 18 (terse) is not supported"},
    {19, "lz77", "compression method 19 (lz77) is not supported"},
    {93, "zstd", "zstd data is damaged"},
    {95, "xz", "xz data is damaged"},
    {96, "jpeg", "compression method 96 (jpeg) is not supported"},
    {97, "wavpack", "compression method 97 (wavpack) is not supported"},
    {98, "ppmd", "compression method 98 (ppmd) is not supported"},
    // AES-encrypted data is decrypted first and then decoded with the
    // method its extra field names; it never reaches here on its own.
    {99, "aes", "AES-encrypted data without a usable AES extra field"},
};
constexpr char kUnknownMethod[] = "unknown compression method";
constexpr char kEndsEarly[] = "data ends before the declared size";
constexpr char kTooLong[] = "data holds more than the declared size";

const MethodInfo *Find(uint32_t method) {
    for (const MethodInfo &m : kMethods)
        if (m.method == method) return &m;
    return nullptr;
}

Outcome Stored(const unsigned char *in, size_t in_len, unsigned char *out, size_t out_len) {
    if (in_len < out_len) return Outcome::kEndsEarly;
    if (in_len > out_len) return Outcome::kTooLong;
    if (out_len > 0) std::memcpy(out, in, out_len);
    return Outcome::kOk;
}

// zlib, with its default allocators as in the documented walk, after the
// whole-stream decoder when there is one.
Outcome Deflate(const unsigned char *in, size_t in_len, unsigned char *out, size_t out_len,
                WholeInflater *whole) {
    if (whole != nullptr && out_len > 0 && whole->Decode(in, in_len, out, out_len))
        return Outcome::kOk;
    z_stream z{};
    const int init = inflateInit2(&z, -MAX_WBITS);
    if (init != Z_OK) return init == Z_MEM_ERROR ? Outcome::kNoMemory : Outcome::kDamaged;
    const Outcome outcome = method::Pump(
        [&z](const unsigned char *next_in, size_t in_avail, unsigned char *next_out,
             size_t out_avail) {
            z.next_in = const_cast<unsigned char *>(next_in);
            z.avail_in = method::ClampToUint(in_avail);
            z.next_out = next_out;
            z.avail_out = method::ClampToUint(out_avail);
            const uInt in_was = z.avail_in, out_was = z.avail_out;
            const int r = inflate(&z, Z_NO_FLUSH);
            method::Step step = method::Step::kDamaged;
            if (r == Z_OK || r == Z_BUF_ERROR) // no progress: Pump decides
                step = method::Step::kGoOn;
            else if (r == Z_STREAM_END)
                step = method::Step::kEnd;
            else if (r == Z_MEM_ERROR)
                step = method::Step::kNoMemory;
            return method::Progress{step, size_t{in_was - z.avail_in},
                                    size_t{out_was - z.avail_out}};
        },
        in, in_len, out, out_len);
    inflateEnd(&z);
    return outcome;
}

Outcome Deflate64(const unsigned char *in, size_t in_len, unsigned char *out, size_t out_len,
                  WholeInflater *whole) {
    WholeInflater own;
    switch ((whole != nullptr ? whole : &own)->DecodeDeflate64(in, in_len, out, out_len)) {
    case Deflate64Result::kOk:
        return Outcome::kOk;
    case Deflate64Result::kEndsEarly:
        return Outcome::kEndsEarly;
    case Deflate64Result::kTooLong:
        return Outcome::kTooLong;
    case Deflate64Result::kNoMemory:
        return Outcome::kNoMemory;
    case Deflate64Result::kDamaged:
        break;
    }
    return Outcome::kDamaged;
}

} // namespace

const char *MethodName(uint32_t method) {
    const MethodInfo *m = Find(method);
    return m != nullptr ? m->name : nullptr;
}

bool MethodDecodes(uint32_t method, const char **reason) {
    *reason = nullptr;
    switch (method) {
    case 0:
    case 8:
    case 9:
    case 12:
    case 14:
    case 93:
    case 95:
        return true;
    default:
        if (const MethodInfo *m = Find(method)) *reason = m->reason;
        return false;
    }
}

uint32_t DecodeMethod(uint32_t method, uint32_t flags, const unsigned char *in, size_t in_len,
                      unsigned char *out, size_t out_len, WholeInflater *whole,
                      const char **reason) {
    const MethodInfo *info = Find(method);
    *reason = info != nullptr ? info->reason : kUnknownMethod;
    Outcome outcome;
    switch (method) {
    case 0:
        outcome = Stored(in, in_len, out, out_len);
        break;
    case 8:
        outcome = Deflate(in, in_len, out, out_len, whole);
        break;
    case 9:
        outcome = Deflate64(in, in_len, out, out_len, whole);
        break;
    case 12:
        outcome = method::DecodeBzip2(in, in_len, out, out_len);
        break;
    case 14:
        outcome = method::DecodeLzma((flags & kFlagLzmaEndMarker) != 0, in, in_len, out, out_len);
        break;
    case 93:
        outcome = method::DecodeZstd(in, in_len, out, out_len);
        break;
    case 95:
        outcome = method::DecodeXz(in, in_len, out, out_len);
        break;
    default:
        return VTQ_E_INFLATE; // not supported: the reason says so
    }
    switch (outcome) {
    case Outcome::kOk:
        *reason = nullptr;
        return VTQ_OK;
    case Outcome::kNoMemory:
        *reason = nullptr;
        return VTQ_E_NO_MEMORY;
    case Outcome::kEndsEarly:
        *reason = kEndsEarly;
        break;
    case Outcome::kTooLong:
        *reason = kTooLong;
        break;
    case Outcome::kDamaged:
        break;
    }
    return VTQ_E_INFLATE;
}

} // namespace vtq
