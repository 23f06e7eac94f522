// fuzz_methods.cc - every method's decoder, and WinZip AES, over a selector byte,
// a declared size (two bytes, little endian) and the data; see fuzz/README.md
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "archive/member_decode.h"
#include "archive/method_decode.h"
#include "archive/winzip_aes.h"
#include "fuzz/fuzz_common.h"
#include "tests/support/test_host.h"

using namespace vtq::fuzz;

namespace {

// Stored, deflate, Deflate64, bzip2, LZMA with and without end marker, zstd, xz.
constexpr uint32_t kMethods[8][2] = {{0, 0},  {8, 0},  {9, 0},  {12, 0},
                                     {14, 2}, {14, 0}, {93, 0}, {95, 0}};
constexpr char kPassword[] = "vtq-secret"; // that of the AES archives in tests/data
constexpr size_t kGuard = 32;

// Writes in the verifier and authentication code; false when they do not fit.
bool FixUpAes(const vtq::AesInfo &info, std::string &data) {
    const size_t key = 8 + 8 * size_t{info.strength}, salt = 4 + 4 * size_t{info.strength};
    if (data.size() < vtq::AesOverhead(info)) return false;
    const size_t body = data.size() - vtq::AesOverhead(info);
    unsigned char keys[2 * 32 + 2], mac[EVP_MAX_MD_SIZE];
    auto *at = reinterpret_cast<unsigned char *>(data.data());
    PKCS5_PBKDF2_HMAC(kPassword, sizeof kPassword - 1, at, static_cast<int>(salt), 1000, EVP_sha1(),
                      static_cast<int>(2 * key + 2), keys);
    std::memcpy(at + salt, keys + 2 * key, 2);
    HMAC(EVP_sha1(), keys + key, static_cast<int>(key), at + salt + 2, body, mac, nullptr);
    std::memcpy(at + salt + 2 + body, mac, 10);
    return true;
}

// DecodeMethod's code with its reason or its bytes; nothing past `size` written.
std::string Decode(const uint32_t *method, const std::string &in, size_t size,
                   vtq::WholeInflater *whole) {
    std::vector<unsigned char> out(size + kGuard, 0xA5);
    const char *reason = nullptr;
    const uint32_t code =
        vtq::DecodeMethod(method[0], method[1], reinterpret_cast<const unsigned char *>(in.data()),
                          in.size(), out.data(), size, whole, &reason);
    Expect("DecodeMethod", code, {VTQ_OK, VTQ_E_INFLATE, VTQ_E_NO_MEMORY});
    const std::string said = std::to_string(code) + " " + (reason != nullptr ? reason : "");
    if ((code == VTQ_E_INFLATE) != (reason != nullptr && *reason != '\0'))
        Die("DecodeMethod returned " + said);
    for (size_t i = size; i < size + kGuard; ++i)
        if (out[i] != 0xA5) Die("a decoder wrote past the declared size");
    return code != VTQ_OK ? said : said + std::string(out.begin(), out.end() - kGuard);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3) return 0;
    const uint8_t selector = data[0];
    const uint32_t *method = kMethods[selector & 7];
    std::string in(reinterpret_cast<const char *>(data + 3), size - 3);
    const AllGivenBack guard(vtq::test::host());
    if (selector & 0x10) {
        const vtq::AesInfo info{2, 1u + (selector >> 5 & 3) % 3, method[0]};
        if ((selector & 0x08) && !FixUpAes(info, in)) return 0;
        size_t at = 0, len = 0;
        const char *reason = nullptr;
        const uint32_t code = vtq::AesDecrypt(
            reinterpret_cast<const unsigned char *>(kPassword), sizeof kPassword - 1, info,
            reinterpret_cast<unsigned char *>(in.data()), in.size(), &at, &len, &reason);
        // 0 with its content inside, 3101/3102 with a reason (not when fixed up), 12.
        Expect("AesDecrypt", code, {VTQ_OK, VTQ_E_CRC, VTQ_E_INFLATE, VTQ_E_NO_MEMORY});
        const bool refused = code == VTQ_E_CRC || code == VTQ_E_INFLATE;
        if (refused != (reason != nullptr) || ((selector & 0x08) && refused) ||
            (code == VTQ_OK && (at > in.size() || len > in.size() - at)))
            Die("AesDecrypt returned " + std::to_string(code) + " for " + std::to_string(len) +
                " bytes at " + std::to_string(at));
        if (code != VTQ_OK) return 0;
        in = in.substr(at, len);
    }
    vtq::WholeInflater whole;
    const size_t declared = data[1] | data[2] << 8;
    if (const std::string with = Decode(method, in, declared, &whole);
        with != Decode(method, in, declared, nullptr))
        Die("method " + std::to_string(method[0]) + ": " + with.substr(0, 80) +
            " only with the whole-stream decoder");
    return 0;
}
