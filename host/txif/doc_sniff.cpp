// doc_sniff.cpp - decide a member's format by its content
//
// Names lie (a report.txt that is a PDF, a .docx renamed .zip) and a member
// name may have no extension at all, so only the bytes decide.  Binary
// containers first (a ZIP archive and the packages built on it, PDF), then
// whether the bytes are text at all (detect_encoding), then, for text, the
// formats that are text (HTML, XML, e-mail) by how they begin.  The kind of
// a binary file without a filter is named from its signature, for the
// member's reason ("no text filter for png"); a signature is only looked
// for in bytes that are no text, so text that happens to begin with "MZ"
// or "BM" stays text.
#include <algorithm>
#include <cstring>

#include "host/txif/documents.h"
#include "host/txif/internal.h"

namespace vtq::txif {

namespace {

using Bytes = std::span<const unsigned char>;

uint32_t le16(Bytes b, std::size_t at) { return b[at] | (b[at + 1] << 8); }
uint32_t le32(Bytes b, std::size_t at) {
    return le16(b, at) | (static_cast<uint32_t>(le16(b, at + 2)) << 16);
}
uint32_t be32(Bytes b, std::size_t at) {
    return (static_cast<uint32_t>(b[at]) << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
}

bool has_at(Bytes b, std::size_t at, std::string_view sig) {
    return b.size() >= at && b.size() - at >= sig.size() &&
           std::memcmp(b.data() + at, sig.data(), sig.size()) == 0;
}

// ---------------------------------------------------------- packages

constexpr std::size_t kEndRecord = 22;      // end of central directory record
constexpr std::size_t kCentralHeader = 46;  // central directory file header
constexpr std::size_t kLocalHeader = 30;    // local file header
constexpr std::size_t kMaxComment = 0xFFFF; // the end record's comment

// What a package's central directory shows about its kind.
struct PackageSigns {
    bool content_types = false; // "[Content_Types].xml": Office Open XML
    bool word = false, xl = false, ppt = false;
    std::string_view mimetype; // the stored first member "mimetype": OpenDocument
};

// The OpenDocument media type stored uncompressed as the first member.
std::string_view stored_mimetype(Bytes zip, std::size_t local) {
    if (local > zip.size() || zip.size() - local < kLocalHeader || !has_at(zip, local, "PK\3\4"))
        return {};
    const uint32_t method = le16(zip, local + 8), size = le32(zip, local + 18);
    const std::size_t data = local + kLocalHeader + le16(zip, local + 26) + le16(zip, local + 28);
    if (method != 0 || size > 128 || data > zip.size() || zip.size() - data < size) return {};
    return {reinterpret_cast<const char *>(zip.data() + data), size};
}

// Reads the central directory of a ZIP archive in memory: the end record
// nearest the end whose directory lies wholly before it, then every entry
// that fits.  Nothing is decompressed; a damaged directory gives what was
// read before the damage (at worst: a plain archive).
PackageSigns package_signs(Bytes zip) {
    PackageSigns signs;
    if (zip.size() < kEndRecord) return signs;
    const std::size_t lowest =
        zip.size() - kEndRecord > kMaxComment ? zip.size() - kEndRecord - kMaxComment : 0;
    for (std::size_t end = zip.size() - kEndRecord + 1; end-- > lowest;) {
        if (!has_at(zip, end, "PK\5\6")) continue;
        const std::size_t cd_size = le32(zip, end + 12);
        if (cd_size > end) continue;
        // Bytes in front of the archive move every offset alike: the
        // directory ends where the end record starts.
        const std::size_t cd = end - cd_size,
                          before = cd - std::min<std::size_t>(cd, le32(zip, end + 16));
        for (std::size_t at = cd, n = 0; end - at >= kCentralHeader && has_at(zip, at, "PK\1\2");
             ++n) {
            const std::size_t name_len = le16(zip, at + 28);
            const std::size_t next =
                at + kCentralHeader + name_len + le16(zip, at + 30) + le16(zip, at + 32);
            if (next > end) break;
            const std::string_view name(
                reinterpret_cast<const char *>(zip.data() + at + kCentralHeader), name_len);
            if (name == "[Content_Types].xml") signs.content_types = true;
            signs.word |= name.starts_with("word/");
            signs.xl |= name.starts_with("xl/");
            signs.ppt |= name.starts_with("ppt/");
            if (n == 0 && name == "mimetype")
                signs.mimetype = stored_mimetype(zip, before + le32(zip, at + 42));
            at = next;
        }
        return signs;
    }
    return signs;
}

DocFormat package_format(Bytes zip) {
    const PackageSigns s = package_signs(zip);
    if (s.content_types) {
        if (s.word) return DocFormat::kDocx;
        if (s.xl) return DocFormat::kXlsx;
        if (s.ppt) return DocFormat::kPptx;
    }
    constexpr std::string_view kOdf = "application/vnd.oasis.opendocument.";
    if (s.mimetype.starts_with(kOdf)) {
        const std::string_view kind = s.mimetype.substr(kOdf.size());
        if (kind.starts_with("text")) return DocFormat::kOdt;
        if (kind.starts_with("spreadsheet")) return DocFormat::kOds;
        // Drawings are pages of shapes, as presentations are.
        if (kind.starts_with("presentation") || kind.starts_with("graphics"))
            return DocFormat::kOdp;
    }
    return DocFormat::kZip;
}

// ------------------------------------------------------ text formats

bool header_name_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

// An e-mail message begins with header fields ("Name: value", continued on
// lines that start with blanks, an mbox "From " line allowed first) up to
// an empty line.  Two known fields, one of them one that only mail has,
// tell it from a text that starts with "Note: ..." lines.
bool looks_like_mail(std::string_view head) {
    static constexpr std::string_view kMailOnly[] = {
        "from", "date", "message-id", "received", "return-path", "mime-version", "delivered-to"};
    static constexpr std::string_view kOthers[] = {"to",       "cc",           "subject",
                                                   "reply-to", "content-type", "sender"};
    int known = 0, mail_only = 0;
    bool first = true;
    while (!head.empty()) {
        const std::size_t nl = head.find('\n');
        if (nl == std::string_view::npos) break; // a line cut off by the end of the head
        std::string_view line = head.substr(0, nl);
        head.remove_prefix(nl + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) break;
        if (first && line.starts_with("From ")) {
            first = false;
            continue;
        }
        first = false;
        if (line[0] == ' ' || line[0] == '\t') continue;
        const std::size_t colon = line.find(':');
        if (colon == 0 || colon == std::string_view::npos ||
            !std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(colon),
                         header_name_char))
            return false;
        const std::string name = lower_ascii(line.substr(0, colon));
        if (std::find(std::begin(kMailOnly), std::end(kMailOnly), name) != std::end(kMailOnly)) {
            ++known;
            ++mail_only;
        } else if (std::find(std::begin(kOthers), std::end(kOthers), name) != std::end(kOthers)) {
            ++known;
        }
    }
    return known >= 2 && mail_only >= 1;
}

// Skips white space, comments, processing instructions and the XML
// declaration at the start of markup.
std::string_view skip_prolog(std::string_view s) {
    for (;;) {
        const std::size_t text = s.find_first_not_of(" \t\r\n");
        if (text == std::string_view::npos) return {};
        s.remove_prefix(text);
        std::string_view close;
        if (s.starts_with("<!--"))
            close = "-->";
        else if (s.starts_with("<?"))
            close = "?>";
        else
            return s;
        const std::size_t end = s.find(close);
        if (end == std::string_view::npos) return {};
        s.remove_prefix(end + close.size());
    }
}

DocFormat text_format(std::string_view head) {
    if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
    const std::size_t text = head.find_first_not_of(" \t\r\n");
    if (text == std::string_view::npos) return DocFormat::kText;
    if (head[text] != '<') return looks_like_mail(head) ? DocFormat::kMail : DocFormat::kText;
    const std::string lower = lower_ascii(skip_prolog(head));
    static constexpr std::string_view kHtmlStarts[] = {"<!doctype html", "<html",  "<head", "<body",
                                                       "<meta",          "<title", "<div",  "<p>",
                                                       "<table",         "<h1"};
    for (std::string_view start : kHtmlStarts)
        if (lower.starts_with(start)) return DocFormat::kHtml;
    const bool declared = lower_ascii(head.substr(text, 5)) == "<?xml";
    if (declared || lower.starts_with("<!doctype")) return DocFormat::kXml;
    // Undeclared markup: an element that is closed somewhere in the head.
    if (lower.size() > 1 && ((lower[1] >= 'a' && lower[1] <= 'z') || lower[1] == '_') &&
        (lower.find("</") != std::string::npos || lower.find("/>") != std::string::npos))
        return DocFormat::kXml;
    return DocFormat::kText;
}

// How much of a text is decoded to tell its format.
constexpr std::size_t kHead = 4096;

// The start of text in encoding enc, decoded to UTF-8 (a character cut off
// by the end of the window is left out).
std::string decoded_head(Bytes bytes, const TextEncoding &enc) {
    const Bytes window = bytes.subspan(enc.bom_len, std::min(kHead, bytes.size() - enc.bom_len));
    std::string head;
    if (enc.iconv_name == "UTF-8") {
        // Most members: no converter to open (a lock and a table search in
        // the C library, per member).  The member is valid UTF-8, so the
        // window ends on a character's start once it leaves out the
        // continuation bytes the next byte would add to.
        std::size_t n = window.size();
        if (enc.bom_len + n < bytes.size())
            while (n > 0 && (bytes[enc.bom_len + n] & 0xC0) == 0x80) --n;
        return head.assign(reinterpret_cast<const char *>(window.data()), n);
    }
    LegacyDecoder dec(enc.iconv_name.c_str());
    bool bad = false;
    if (dec.ok())
        dec.decode(reinterpret_cast<const char *>(window.data()), window.size(), &head, &bad);
    return head;
}

const char *format_name(DocFormat f) {
    switch (f) {
    case DocFormat::kText:
        return "text";
    case DocFormat::kZip:
        return "zip";
    case DocFormat::kPdf:
        return "pdf";
    case DocFormat::kDocx:
        return "docx";
    case DocFormat::kXlsx:
        return "xlsx";
    case DocFormat::kPptx:
        return "pptx";
    case DocFormat::kOdt:
        return "odt";
    case DocFormat::kOds:
        return "ods";
    case DocFormat::kOdp:
        return "odp";
    case DocFormat::kHtml:
        return "html";
    case DocFormat::kXml:
        return "xml";
    case DocFormat::kMail:
        return "eml";
    case DocFormat::kNone:
        break;
    }
    return nullptr;
}

struct Signature {
    std::size_t at;
    std::string_view bytes;
    const char *kind;
};

using std::string_view_literals::operator""sv;
constexpr Signature kSignatures[] = {
    {0, "\x89PNG\r\n\x1A\n"sv, "png"},
    {0, "\xFF\xD8\xFF"sv, "jpeg"},
    {0, "GIF87a"sv, "gif"},
    {0, "GIF89a"sv, "gif"},
    {8, "WEBP"sv, "webp"},
    {8, "WAVE"sv, "wav"},
    {8, "AVI "sv, "avi"},
    {0, "II*\0"sv, "tiff"},
    {0, "MM\0*"sv, "tiff"},
    {0, "BM"sv, "bmp"},
    {0, "ID3"sv, "mp3"},
    {0, "OggS"sv, "ogg"},
    {0, "fLaC"sv, "flac"},
    {4, "ftypqt  "sv, "mov"},
    {4, "ftyp"sv, "mp4"},
    {0, "\x1A\x45\xDF\xA3"sv, "matroska"},
    {0, "\x7F\x45LF"sv, "elf"},
    {0, "MZ"sv, "pe"},
    {0, "\xFE\xED\xFA\xCE"sv, "mach-o"},
    {0, "\xFE\xED\xFA\xCF"sv, "mach-o"},
    {0, "\xCE\xFA\xED\xFE"sv, "mach-o"},
    {0, "\xCF\xFA\xED\xFE"sv, "mach-o"},
    {0, "\0asm"sv, "wasm"},
    {0, "\x1F\x8B"sv, "gzip"},
    {0, "BZh"sv, "bzip2"},
    {0, "\xFD\x37zXZ\0"sv, "xz"},
    {0, "\x28\xB5\x2F\xFD"sv, "zstd"},
    {0, "7z\xBC\xAF\x27\x1C"sv, "7z"},
    {0, "Rar!\x1A\x07"sv, "rar"},
    {257, "ustar"sv, "tar"},
    {0, "MSCF"sv, "cab"},
    {0, "SQLite format 3\0"sv, "sqlite"},
    {0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv, "ole2"},
    {0, "\0\1\0\0\0"sv, "truetype"},
    {0, "OTTO"sv, "opentype"},
    {0, "wOFF"sv, "woff"},
};

} // namespace

const char *binary_kind(Bytes bytes) {
    for (const Signature &s : kSignatures)
        if (has_at(bytes, s.at, s.bytes)) return s.kind;
    // 0xCAFEBABE starts both Java classes and universal Mach-O binaries:
    // a class file's major version (45 and up) stands where a universal
    // binary counts its few architectures.
    if (has_at(bytes, 0, "\xCA\xFE\xBA\xBE") && bytes.size() >= 8)
        return be32(bytes, 4) < 40 ? "mach-o" : "java-class";
    // MPEG audio without a tag: a frame header (sync, layer III).
    if (bytes.size() >= 2 && bytes[0] == 0xFF && (bytes[1] & 0xE6) == 0xE2) return "mp3";
    return nullptr;
}

MemberFormat sniff_member(Bytes bytes, std::string_view explicit_charset,
                          std::string_view language) {
    MemberFormat f;
    // An archive without members starts with its end record; in extended
    // mode the filter reads it as an empty archive.
    if (has_at(bytes, 0, "PK\3\4") || has_at(bytes, 0, "PK\5\6")) {
        f.format = package_format(bytes);
    } else {
        const Bytes head = bytes.subspan(0, std::min<std::size_t>(bytes.size(), 1024));
        static constexpr std::string_view kPdf = "%PDF-";
        if (std::search(head.begin(), head.end(), kPdf.begin(), kPdf.end()) != head.end()) {
            f.format = DocFormat::kPdf;
        } else if (f.encoding = detect_encoding(bytes, explicit_charset, language);
                   f.encoding.text()) {
            f.format = text_format(decoded_head(bytes, f.encoding));
        } else {
            f.name = binary_kind(bytes);
            return f;
        }
    }
    f.name = format_name(f.format);
    return f;
}

} // namespace vtq::txif
