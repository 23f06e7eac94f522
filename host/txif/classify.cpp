// classify.cpp - decide whether a member file is text, an archive or neither
//
// The host has exactly two filters: plain text and ZIP.  A file is an
// archive when it starts with a local file header signature, text when it
// holds no NUL byte and is valid UTF-8 or valid in the legacy character set
// chosen from TxtOptions, and has no filter otherwise.  The NUL rule keeps
// binary data out even under ISO-8859-1, where every byte is defined.
#include <cerrno>
#include <cstring>
#include <vector>

#include "host/txif/internal.h"

namespace vtq::txif {

std::size_t utf8_valid_prefix(const unsigned char *p, std::size_t n, bool *bad) {
    std::size_t i = 0;
    while (i < n) {
        unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t len;
        unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0; // no overlong forms
            if (c == 0xED) hi = 0x9F; // no UTF-16 surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90; // no overlong forms
            if (c == 0xF4) hi = 0x8F; // nothing above U+10FFFF
        } else {
            *bad = true; // 0x80-0xC1 cannot start a sequence, 0xF5-0xFF never occur
            return i;
        }
        // Check the bytes that are there; a sequence cut off by the end
        // of the buffer is incomplete, not invalid.
        std::size_t avail = n - i;
        for (std::size_t k = 1; k < len && k < avail; ++k) {
            unsigned char b = p[i + k];
            unsigned char blo = k == 1 ? lo : 0x80, bhi = k == 1 ? hi : 0xBF;
            if (b < blo || b > bhi) {
                *bad = true;
                return i;
            }
        }
        if (avail < len) return i;
        i += len;
    }
    return i;
}

LegacyDecoder::LegacyDecoder(const char *iconv_name) : cd_(iconv_open("UTF-8", iconv_name)) {}

LegacyDecoder::~LegacyDecoder() {
    if (ok()) iconv_close(cd_);
}

bool LegacyDecoder::ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

std::size_t LegacyDecoder::decode(const char *in, std::size_t n, std::string *out, bool *bad) {
    // No legacy character here decodes to more than 4 UTF-8 bytes per
    // input byte, so one pass over a 4n buffer never runs out of room.
    std::vector<char> buf(n * 4 + 16);
    char *src = const_cast<char *>(in);
    std::size_t src_left = n;
    char *dst = buf.data();
    std::size_t dst_left = buf.size();
    // EINVAL is a character cut off at the end of the buffer, left for
    // the next call; EILSEQ an undefined sequence.  E2BIG cannot happen
    // with 4n bytes of room, so it too counts as invalid.
    if (iconv(cd_, &src, &src_left, &dst, &dst_left) == static_cast<std::size_t>(-1) &&
        errno != EINVAL)
        *bad = true;
    if (out != nullptr) out->append(buf.data(), buf.size() - dst_left);
    return n - src_left;
}

namespace {

// Pass one: NUL bytes and UTF-8 validity over the whole file.
bool scan_utf8(std::FILE *f, bool &has_nul, bool &utf8_ok) {
    std::vector<unsigned char> buf(kChunk + 4);
    std::size_t pending = 0; // bytes of an incomplete sequence carried over
    has_nul = false;
    utf8_ok = true;
    for (;;) {
        std::size_t got = std::fread(buf.data() + pending, 1, kChunk, f);
        if (got == 0) {
            if (std::ferror(f)) return false;
            break;
        }
        if (std::memchr(buf.data() + pending, 0, got) != nullptr) {
            has_nul = true;
            return true;
        }
        std::size_t n = pending + got;
        if (utf8_ok) {
            bool bad = false;
            std::size_t valid = utf8_valid_prefix(buf.data(), n, &bad);
            if (bad) {
                utf8_ok = false;
                pending = 0;
            } else {
                pending = n - valid;
                std::memmove(buf.data(), buf.data() + valid, pending);
            }
        }
    }
    if (pending != 0) utf8_ok = false; // the file ends inside a sequence
    return true;
}

// Pass two: validity in the legacy character set.
bool scan_legacy(std::FILE *f, const char *iconv_name, bool &legacy_ok) {
    LegacyDecoder dec(iconv_name);
    legacy_ok = false;
    if (!dec.ok()) return true;
    std::vector<char> buf(kChunk + 8);
    std::size_t pending = 0;
    for (;;) {
        std::size_t got = std::fread(buf.data() + pending, 1, kChunk, f);
        if (got == 0) {
            if (std::ferror(f)) return false;
            break;
        }
        std::size_t n = pending + got;
        bool bad = false;
        std::size_t used = dec.decode(buf.data(), n, nullptr, &bad);
        if (bad) return true;
        pending = n - used;
        if (pending > 8) return true; // no character of these sets is that long
        std::memmove(buf.data(), buf.data() + used, pending);
    }
    legacy_ok = pending == 0;
    return true;
}

} // namespace

bool classify(std::FILE *f, const char *legacy_iconv_name, MemberKind &kind) {
    unsigned char sig[4] = {};
    std::size_t got = std::fread(sig, 1, sizeof sig, f);
    if (got < sizeof sig && std::ferror(f)) return false;
    if (got == sizeof sig && sig[0] == 'P' && sig[1] == 'K' && sig[2] == 3 && sig[3] == 4) {
        kind = MemberKind::kZip;
        return true;
    }
    if (std::fseek(f, 0, SEEK_SET) != 0) return false;
    bool has_nul = false, utf8_ok = false;
    if (!scan_utf8(f, has_nul, utf8_ok)) return false;
    if (has_nul) {
        kind = MemberKind::kNoFilter;
        return true;
    }
    if (utf8_ok) {
        kind = MemberKind::kUtf8Text;
        return true;
    }
    if (std::fseek(f, 0, SEEK_SET) != 0) return false;
    bool legacy_ok = false;
    if (!scan_legacy(f, legacy_iconv_name, legacy_ok)) return false;
    kind = legacy_ok ? MemberKind::kLegacyText : MemberKind::kNoFilter;
    return true;
}

} // namespace vtq::txif
