// documents.h - text out of the documents people zip (extended mode)
//
// In extended mode the per-member extraction knows more than plain text and
// ZIP archives: PDF (through the libvtq_pdf plug-in), Office Open XML and
// OpenDocument (their parts read through the filter itself, never as
// nested archives), HTML and XML (libxml2) and e-mail (GMime).  A member's
// format is decided by its content, never by its name (doc_sniff.cpp); each
// parser hands UTF-8 pieces to a TextBuilder, which lays out lines and
// stops the parser once the output will take no more.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>

#include "host/txif/detect.h"
#include "vtq/types.h"

namespace vtq::txif {

// ------------------------------------------------------------ formats

enum class DocFormat : uint8_t {
    kNone, // no filter: binary, or bytes that read as no text
    kText, // plain text in some encoding
    kZip,  // an archive of its own: back to the filter
    kPdf,
    kDocx,
    kXlsx,
    kPptx,
    kOdt,
    kOds,
    kOdp,
    kHtml,
    kXml,
    kMail,
};

// What a member is, decided from its bytes.
struct MemberFormat {
    DocFormat format = DocFormat::kNone;
    // Text and the formats read as text (HTML, XML, e-mail): the encoding
    // the bytes read in; empty otherwise.
    TextEncoding encoding;
    // The name events and reasons use: "text", "zip", "pdf", "docx", ...;
    // for kNone the kind of file when its signature tells ("png", "elf",
    // "sqlite", ...), else null.
    const char *name = nullptr;
};

// Decides a member's format, in this order: a ZIP archive (an Office Open
// XML or OpenDocument package by its central directory), "%PDF-" within
// the first 1024 bytes, then text (detect_encoding with explicit_charset)
// and, for text, HTML, XML or an e-mail message by how it begins; bytes
// that are no text get the kind their signature names.
MemberFormat sniff_member(std::span<const unsigned char> bytes, std::string_view explicit_charset,
                          std::string_view language = {});

// The kind of a file that no filter here reads, by its signature ("png",
// "jpeg", "elf", "gzip", ...); null when no signature matches.
const char *binary_kind(std::span<const unsigned char> bytes);

// ------------------------------------------------------------- output

// Where a document's text goes: whole UTF-8 characters, piece by piece.
// put() returns false when the output will take no more (the size limit,
// a failed write); nothing is put after that.
class TextOut {
public:
    virtual ~TextOut() = default;
    virtual bool put(std::string_view utf8) = 0;
};

// Lays out a document's text in lines: parsers say where text, tabs, line
// breaks and paragraphs are, and the builder writes "\n" line breaks, never
// two empty lines in a row and none at the start, and drops control
// characters and invalid UTF-8 (U+FFFD for each bad sequence).  Output is
// handed on in blocks; once the output refused a block, stopped() is true
// and every later call does nothing.
class TextBuilder {
public:
    explicit TextBuilder(TextOut &out) : out_(out) {}
    TextBuilder(const TextBuilder &) = delete;
    TextBuilder &operator=(const TextBuilder &) = delete;

    // Text whose white space is kept as it is (line breaks included).
    void text(std::string_view utf8);
    // Text whose runs of white space become one space, none at the start
    // of a line (HTML and XML character data).
    void flowing(std::string_view utf8);
    // A tab before the next text on the same line (table cells): tabs
    // that no text follows are not written, at most 256 in a row are.
    void tab();
    // Ends the line, even an empty one.
    void line_break();
    // Ends the line when anything is on it.
    void end_line();
    // Ends the line and leaves one empty line before what follows (none
    // at the start of the output).
    void paragraph();
    bool stopped() const { return stopped_; }
    // Hands on what is held; call once at the end.
    void finish();

private:
    void emit(std::string_view s);
    void start_text();
    void flush();
    TextOut &out_;
    std::string buf_;
    bool stopped_ = false;
    bool space_pending_ = false; // flowing text left a space to write before more text
    std::size_t tabs_pending_ = 0;
    int newlines_ = 2;        // line breaks just written (2: as good as the output's start)
    int wanted_newlines_ = 0; // line breaks owed before the next text
};

// Plain text in encoding enc (its byte-order mark left out) through out,
// until out stops; nothing for bytes that are no text.
void plain_text(std::span<const unsigned char> bytes, const TextEncoding &enc, TextBuilder &out);

// ------------------------------------------------------------ parsers

// A parser's verdict: the text went to the builder (all of it, or up to
// where the builder stopped); when ok is false the member gets 6000 with
// reason, one line ("encrypted PDF", "damaged PDF", "not well-formed XML").
struct DocResult {
    bool ok = true;
    std::string reason;
};

inline DocResult doc_failed(std::string reason) { return {false, std::move(reason)}; }

// What a document may need besides its bytes: the extraction it belongs to
// (an Office or OpenDocument package is read through the filter with these
// options; its ParentInfo carries the depth, Reserved[0]).
struct DocContext {
    const TxtOptions *opts;
    ParentInfo *parent;
};

// The text of bytes whose format sniff_member decided (any but kNone, kText
// and kZip), written through out.  path names the member's file when there
// is one (the filter reads a package from it); null for bytes that exist
// only in memory (an e-mail's attachment).
DocResult document_text(const MemberFormat &format, std::span<const unsigned char> bytes,
                        const char *path, DocContext &ctx, TextBuilder &out);

// HTML and XML (doc_markup.cpp).  The bytes are read in, first, the
// encoding of a byte-order mark, then the one they declare (<meta charset>,
// the XML declaration), then fallback; each when the bytes decode in it.
DocResult html_text(std::span<const unsigned char> bytes, const TextEncoding &fallback,
                    TextBuilder &out);
DocResult xml_text(std::span<const unsigned char> bytes, const TextEncoding &fallback,
                   TextBuilder &out);

// A package's parts, by name, as read from its archive (doc_parts.cpp).
using PackageParts = std::map<std::string, std::string, std::less<>>;

// Reads the parts of a package that carry its text (XML parts and their
// relationships; media and the rest are passed over) through the filter in
// extended mode, one archive level down.  bytes are the package, path its
// file or null.  A part the filter cannot give is missing from parts.
DocResult read_package(std::span<const unsigned char> bytes, const char *path, DocContext &ctx,
                       PackageParts &parts);

// Office Open XML and OpenDocument from their parts (doc_office.cpp):
// paragraphs, headings and table rows one a line, table cells separated by
// tabs; a spreadsheet's sheets in workbook order, a presentation's slides
// in slide order, an empty line between sheets and between slides.
DocResult package_text(DocFormat format, const PackageParts &parts, TextBuilder &out);

// An e-mail message (doc_mail.cpp): From, To, Subject and Date, decoded,
// then the text of each part; HTML parts as html_text reads them, other
// attachments (a PDF, a DOCX) through document_text, each after a line
// naming it.
DocResult mail_text(std::span<const unsigned char> bytes, DocContext &ctx, TextBuilder &out);

// A PDF through the libvtq_pdf plug-in (doc_pdf.cpp): the pages' text in
// reading order, a line break after each page, until the builder stops.
// Without the plug-in: "no text filter for pdf".
DocResult pdf_text(std::span<const unsigned char> bytes, TextBuilder &out);

// s with ASCII letters in lower case (names of tags, headers, charsets).
std::string lower_ascii(std::string_view s);

// The depth bound for documents inside documents: e-mail attachments and
// packages count like archive levels (ParentInfo.Reserved[0]), so that one
// bound, kMaxArchiveLevels, holds for every kind of nesting.
bool document_level_free(const ParentInfo &parent);

} // namespace vtq::txif
