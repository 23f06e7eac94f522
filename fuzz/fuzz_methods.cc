// fuzz_methods.cc - every method's decoder, and WinZip AES, over any stream
//
// The input is a selector byte, a declared size (two bytes, little endian,
// so at most 64 KiB of output) and a member's data.  The selector's low
// three bits choose the method (stored, deflate, Deflate64, bzip2, LZMA with
// and without end marker, zstd, xz); bit 4 makes the data an AES member
// (strength from bits 5-6, password "vtq-secret"), and bit 3 then puts in the
// right verifier and authentication code for it, so that the fuzzer's
// changes reach the decoder as changes of the plain data (counter mode).
// On every input: DecodeMethod returns 0, 3101 with a reason, or 12;
// never writes past the declared size; gives the same code and bytes with
// and without the whole-stream decoder; AesDecrypt returns 0, 3101 or 3102
// with a reason, or 12; every host allocation is given back.
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/member_decode.h"
#include "archive/method_decode.h"
#include "archive/winzip_aes.h"
#include "fuzz/fuzz_common.h"
#include "tests/support/test_host.h"
#include "vtq/types.h"

namespace {

using vtq::fuzz::Die;

struct Row {
    uint32_t method, flags;
};
constexpr Row kRows[8] = {{0, 0}, {8, 0}, {9, 0}, {12, 0}, {14, 2}, {14, 0}, {93, 0}, {95, 0}};
constexpr char kPassword[] = "vtq-secret"; // that of the AES archives in tests/data
constexpr size_t kGuard = 32;

// Writes into the AES member data[0..) the verifier and authentication
// code that the password gives with its salt.  False when the data cannot
// hold them.
bool FixUpAes(const vtq::AesInfo &info, std::string &data) {
    const size_t key = 8 + 8 * size_t{info.strength}, salt = 4 + 4 * size_t{info.strength};
    if (data.size() < vtq::AesOverhead(info)) return false;
    unsigned char keys[2 * 32 + 2];
    PKCS5_PBKDF2_HMAC(kPassword, sizeof kPassword - 1,
                      reinterpret_cast<const unsigned char *>(data.data()), static_cast<int>(salt),
                      1000, EVP_sha1(), static_cast<int>(2 * key + 2), keys);
    std::memcpy(&data[salt], keys + 2 * key, 2);
    const size_t body = data.size() - vtq::AesOverhead(info);
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned mac_len = 0;
    HMAC(EVP_sha1(), keys + key, static_cast<int>(key),
         reinterpret_cast<const unsigned char *>(&data[salt + 2]), body, mac, &mac_len);
    std::memcpy(&data[salt + 2 + body], mac, 10);
    return true;
}

struct Result {
    uint32_t code;
    std::string reason;
    std::vector<unsigned char> out;
};

Result Decode(const Row &row, const std::string &in, size_t size, vtq::WholeInflater *whole) {
    Result r{0, "", std::vector<unsigned char>(size + kGuard, 0xA5)};
    const char *reason = nullptr;
    r.code =
        vtq::DecodeMethod(row.method, row.flags, reinterpret_cast<const unsigned char *>(in.data()),
                          in.size(), r.out.data(), size, whole, &reason);
    if (r.code != VTQ_OK && r.code != VTQ_E_INFLATE && r.code != VTQ_E_NO_MEMORY)
        Die("DecodeMethod returned " + std::to_string(r.code));
    if ((r.code == VTQ_E_INFLATE) != (reason != nullptr && *reason != '\0'))
        Die("DecodeMethod's reason does not go with its code " + std::to_string(r.code));
    if (reason != nullptr) r.reason = reason;
    for (size_t i = size; i < size + kGuard; ++i)
        if (r.out[i] != 0xA5) Die("a decoder wrote past the declared size");
    r.out.resize(size);
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3) return 0;
    const uint8_t selector = data[0];
    const Row &row = kRows[selector & 7];
    const size_t declared = data[1] | data[2] << 8;
    std::string in(reinterpret_cast<const char *>(data + 3), size - 3);
    vtq::test::Host &host = vtq::test::host();
    host.Reset();
    if (selector & 0x10) {
        const vtq::AesInfo info{2, 1u + (selector >> 5 & 3) % 3, row.method};
        if ((selector & 0x08) && !FixUpAes(info, in)) return 0;
        size_t at = 0, len = 0;
        const char *reason = nullptr;
        const uint32_t code = vtq::AesDecrypt(
            reinterpret_cast<const unsigned char *>(kPassword), sizeof kPassword - 1, info,
            reinterpret_cast<unsigned char *>(in.data()), in.size(), &at, &len, &reason);
        if (code == VTQ_OK && (at > in.size() || len > in.size() - at))
            Die("AesDecrypt's content is outside its data");
        if ((code == VTQ_E_CRC || code == VTQ_E_INFLATE) != (reason != nullptr))
            Die("AesDecrypt gave " + std::to_string(code) + " with the wrong reason");
        if (code != VTQ_OK && code != VTQ_E_CRC && code != VTQ_E_INFLATE && code != VTQ_E_NO_MEMORY)
            Die("AesDecrypt returned " + std::to_string(code));
        if ((selector & 0x08) && code != VTQ_OK && code != VTQ_E_NO_MEMORY)
            Die("AesDecrypt refused data whose verifier and code are right");
        if (code != VTQ_OK) return 0;
        in = in.substr(at, len);
    }
    {
        vtq::WholeInflater whole;
        const Result with = Decode(row, in, declared, &whole);
        const Result without = Decode(row, in, declared, nullptr);
        if (with.code != without.code || with.reason != without.reason)
            Die("method " + std::to_string(row.method) + ": \"" + with.reason +
                "\" with the whole-stream decoder, \"" + without.reason + "\" without");
        if (with.code == VTQ_OK && with.out != without.out)
            Die("the two ways made different bytes");
    }
    if (host.live_allocs != 0)
        Die(std::to_string(host.live_allocs) + " host allocations not given back");
    return 0;
}
