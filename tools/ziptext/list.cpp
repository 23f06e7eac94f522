// list.cpp - "ziptext list": one line per central directory entry
//
// Reads the central directory with the filter's own reader, so the list
// shows exactly the entries, in the order, that an extraction walks.
// Format (stable; columns separated by spaces, the name last so that it
// may hold spaces):
//
//       Size     Packed  Method     CRC-32  Enc  Name
//         12         12  stored   3610a686  no   hello.txt
#include <iconv.h>

#include <cerrno>
#include <cstdio>

#include "host/txif/charsets.h"
#include "tools/ziptext/central.h"
#include "tools/ziptext/commands.h"
#include "tools/ziptext/interrupt.h"
#include "vtq/host.h"

namespace ziptext {
namespace {

struct MethodName {
    uint32_t method;
    const char *name;
};
constexpr MethodName kMethods[] = {
    {0, "stored"}, {8, "deflate"}, {9, "deflate64"}, {12, "bzip2"}, {14, "lzma"},
    {93, "zstd"},  {95, "xz"},     {98, "ppmd"},     {99, "aes"},
};

std::string method_name(uint32_t method) {
    for (const MethodName &m : kMethods)
        if (m.method == method) return m.name;
    return std::to_string(method);
}

// Decodes raw in the iconv character set from, to UTF-8; a byte that does
// not decode becomes "?" and decoding goes on after it.
std::string decode_lossy(const std::string &raw, const char *from) {
    iconv_t cd = iconv_open("UTF-8", from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return raw;
    std::string out;
    std::string buf(raw.size() * 4 + 16, '\0');
    char *src = const_cast<char *>(raw.data());
    std::size_t left = raw.size();
    while (left > 0) {
        char *dst = buf.data();
        std::size_t room = buf.size();
        std::size_t r = iconv(cd, &src, &left, &dst, &room);
        out.append(buf.data(), buf.size() - room);
        if (r != static_cast<std::size_t>(-1)) break;
        // Undecodable or cut off at the end: one "?" for the byte.
        out += '?';
        ++src;
        --left;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
}

bool valid_utf8(const std::string &s) {
    iconv_t cd = iconv_open("UTF-8", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string buf(s.size() + 16, '\0');
    char *src = const_cast<char *>(s.data());
    std::size_t left = s.size();
    char *dst = buf.data();
    std::size_t room = buf.size();
    bool ok = iconv(cd, &src, &left, &dst, &room) != static_cast<std::size_t>(-1) && left == 0;
    iconv_close(cd);
    return ok;
}

} // namespace

std::string display_name(const std::string &raw, const TxtOptions &opts) {
    bool ascii = true;
    for (unsigned char c : raw) ascii = ascii && c < 0x80;
    std::string text;
    if (ascii || (!vtq::txif::charset_explicit(opts) && valid_utf8(raw)))
        text = raw;
    else
        text = decode_lossy(raw, vtq::txif::source_group(opts).iconv_name);
    // A control character would break the one-line-per-entry format.
    std::string shown;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02x", c);
            shown += esc;
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown;
}

bool CentralWalk::open(const std::string &archive, uint32_t *code) {
    file_.reset(VTQ_FileOpen(archive.c_str(), "rb"));
    if (!file_) {
        *code = VTQ_E_OPEN;
        return false;
    }
    *code = api_.format_chk(file_.get(), &pos_, &entries_);
    return *code == VTQ_OK;
}

bool CentralWalk::next(ZipEntryInfo *info, std::string *raw, uint32_t *code) {
    *code = VTQ_OK;
    if (index_ >= entries_ && !(index_ == 0 && entries_ == 0)) return false;
    uint32_t local_offset = 0, data_offset = 0;
    char *name = nullptr;
    *code = api_.current_file_info(file_.get(), pos_, info, &local_offset, &data_offset, &name);
    if (*code != VTQ_OK) return false;
    raw->assign(name, info->NameLen);
    VTQ_free(name);
    ++index_;
    // The next central header follows the name, extra field and comment;
    // positions wrap at 4 GiB like the reader's own.
    pos_.CentralPos += 46u + info->NameLen + info->ExtraLen + info->CommentLen;
    return entries_ != 0; // the entry is there, but not counted
}

int run_list(const FilterApi &api, const Options &opts) {
    const std::string &archive = opts.archives.front();
    TxtOptions txt = make_txt_options(opts);
    CentralWalk walk(api);
    uint32_t rc = VTQ_OK;
    if (!walk.open(archive, &rc)) {
        report_failure(archive, rc);
        return 1;
    }
    std::printf("%10s %10s  %-9s %8s  %-3s  %s\n", "Size", "Packed", "Method", "CRC-32", "Enc",
                "Name");
    ZipEntryInfo info{};
    std::string raw;
    while (walk.next(&info, &raw, &rc))
        std::printf("%10u %10u  %-9s %08x  %-3s  %s\n", info.UncompressedSize, info.CompressedSize,
                    method_name(info.Method).c_str(), info.Crc32,
                    (info.Flags & 1u) ? "yes" : "no", display_name(raw, txt).c_str());
    if (rc != VTQ_OK) {
        std::fflush(stdout);
        report_failure(archive, rc);
        return 1;
    }
    return flush_stdout() ? 0 : 1;
}

} // namespace ziptext
