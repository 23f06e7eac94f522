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
#include <memory>

#include "host/txif/charsets.h"
#include "tools/ziptext/commands.h"
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

struct HostFileCloser {
    void operator()(VTQ_FILE *f) const { VTQ_FileClose(f); }
};

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

int run_list(const FilterApi &api, const Options &opts) {
    const std::string &archive = opts.archives.front();
    TxtOptions txt = make_txt_options(opts);
    std::unique_ptr<VTQ_FILE, HostFileCloser> file(VTQ_FileOpen(archive.c_str(), "rb"));
    if (!file) {
        report_failure(archive, VTQ_E_OPEN);
        return 1;
    }
    ZipDirPos pos{};
    uint32_t entries = 0;
    if (uint32_t rc = api.format_chk(file.get(), &pos, &entries); rc != VTQ_OK) {
        report_failure(archive, rc);
        return 1;
    }
    std::printf("%10s %10s  %-9s %8s  %-3s  %s\n", "Size", "Packed", "Method", "CRC-32", "Enc",
                "Name");
    ZipEntryInfo info{};
    // An extraction reads the first central entry even when the end record
    // counts none, and fails when it is not there; so does the list, so
    // that it succeeds exactly for the directories an extraction can walk.
    for (uint32_t i = 0; i < entries || i == 0; ++i) {
        uint32_t local_offset = 0, data_offset = 0;
        char *name = nullptr;
        uint32_t rc =
            api.current_file_info(file.get(), pos, &info, &local_offset, &data_offset, &name);
        if (rc != VTQ_OK) {
            std::fflush(stdout);
            report_failure(archive, rc);
            return 1;
        }
        std::string raw(name, info.NameLen);
        VTQ_free(name);
        if (entries == 0) break; // the entry is there, but not counted
        std::printf("%10u %10u  %-9s %08x  %-3s  %s\n", info.UncompressedSize, info.CompressedSize,
                    method_name(info.Method).c_str(), info.Crc32,
                    (info.Flags & 1u) ? "yes" : "no", display_name(raw, txt).c_str());
        // The next central header follows the name, extra field and
        // comment; positions wrap at 4 GiB like the reader's own.
        pos.CentralPos += 46u + info.NameLen + info.ExtraLen + info.CommentLen;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace ziptext
