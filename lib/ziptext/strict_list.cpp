// strict_list.cpp - the central directory as the documented extraction walks it
//
// Read with the filter's own building blocks (VtqZip_FormatChk,
// VtqZip_GetCurrentFileInfo), so that the entries, and their order, are
// exactly those a documented extraction walks: as many as the end record
// counts, the first one read even when it counts none.  Names are shown in
// UTF-8: a name that is valid UTF-8 stays as it is (unless the charset
// names a group), others are decoded in the group the options choose.
#include <iconv.h>

#include <memory>

#include "host/txif/charsets.h"
#include "lib/ziptext/run.h"
#include "vtq/host.h"

namespace ziptext {
namespace {

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

std::string display_name(const std::string &raw, const TxtOptions &opts) {
    bool ascii = true;
    for (unsigned char c : raw) ascii = ascii && c < 0x80;
    if (ascii || (!vtq::txif::charset_explicit(opts) && valid_utf8(raw))) return raw;
    return decode_lossy(raw, vtq::txif::source_group(opts).iconv_name);
}

struct Closer {
    void operator()(VTQ_FILE *f) const { VTQ_FileClose(f); }
};

} // namespace

uint32_t strict_list(const Filter &f, const char *archive, const Settings &s, Collector &c) {
    std::unique_ptr<VTQ_FILE, Closer> file(VTQ_FileOpen(archive, "rb"));
    if (!file) return VTQ_E_OPEN;
    ZipDirPos pos{};
    uint32_t entries = 0;
    uint32_t code = f.format_chk(file.get(), &pos, &entries);
    if (code != VTQ_OK) return code;
    c.start(entries);
    const TxtOptions txt = txt_options(s, 0);
    for (uint32_t index = 0; index < entries || (index == 0 && entries == 0); ++index) {
        ZipEntryInfo info{};
        uint32_t local_offset = 0, data_offset = 0;
        char *name = nullptr;
        code = f.current_file_info(file.get(), pos, &info, &local_offset, &data_offset, &name);
        if (code != VTQ_OK) return code;
        Record r;
        r.name.assign(name, info.NameLen);
        VTQ_free(name);
        // The next central header follows the name, extra field and
        // comment; positions wrap at 4 GiB like the reader's own.
        pos.CentralPos += 46u + info.NameLen + info.ExtraLen + info.CommentLen;
        // As an extraction does, the first entry is read even when the end
        // record counts none (and must be there); it is then not shown.
        if (entries == 0) break;
        // A name holding a NUL byte is shown with it written out, as a
        // line shows any control character.
        std::string shown = display_name(r.name, txt);
        for (std::size_t nul; (nul = shown.find('\0')) != std::string::npos;)
            shown.replace(nul, 1, "\\x00");
        r.path.push_back(std::move(shown));
        r.uncompressed_size = info.UncompressedSize;
        r.compressed_size = info.CompressedSize;
        r.method = info.Method;
        r.method_name = method_name(info.Method);
        r.encryption = (info.Flags & 1u) ? VTQ_ENC_ZIPCRYPTO : VTQ_ENC_NONE;
        r.crc32 = info.Crc32;
        r.dos_date_time = info.DosDateTime;
        r.general_flags = info.Flags;
        c.deliver(r);
    }
    return VTQ_OK;
}

} // namespace ziptext
