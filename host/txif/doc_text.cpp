// doc_text.cpp - lay out a document's text in lines, and send a document to its parser
#include <algorithm>

#include "host/txif/documents.h"
#include "host/txif/internal.h"

namespace vtq::txif {

namespace {

// Output goes on in blocks of about this size: big enough that the
// converter and the writer see few calls, small enough that a parser
// notices a full output soon after it happened.
constexpr std::size_t kBlock = 64 * 1024;

// Tabs before the next text on a line: a spreadsheet row whose next value
// lies thousands of empty cells away still gives a line of bounded length.
constexpr std::size_t kMaxTabs = 256;

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD

bool is_space(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// A control character that has no place in extracted text (tab and line
// feed are handled by the callers).
bool is_control(unsigned char c) { return c < 0x20 || c == 0x7F; }

// Appends s to out without control characters, with U+FFFD for each
// invalid or cut-off UTF-8 sequence.
void append_clean(std::string &out, std::string_view s) {
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    std::size_t i = 0;
    while (i < s.size()) {
        bool bad = false;
        const std::size_t valid = utf8_valid_prefix(p + i, s.size() - i, &bad);
        for (std::size_t k = i; k < i + valid; ++k)
            if (!is_control(p[k]) || p[k] == '\t') out.push_back(static_cast<char>(p[k]));
        i += valid;
        if (i == s.size()) break;
        out.append(kReplacement);
        // An invalid lead or continuation byte goes alone; a sequence cut
        // off by the end of the piece goes whole.
        i = bad ? i + 1 : s.size();
    }
}

} // namespace

void TextBuilder::emit(std::string_view s) {
    if (stopped_) return;
    buf_.append(s);
    if (buf_.size() >= kBlock) flush();
}

void TextBuilder::flush() {
    if (stopped_ || buf_.empty()) return;
    if (!out_.put(buf_)) stopped_ = true;
    buf_.clear();
}

// Writes the line breaks owed and, after text on the same line, the space
// that flowing text left pending.
void TextBuilder::start_text() {
    if (wanted_newlines_ > 0) {
        emit(std::string(static_cast<std::size_t>(wanted_newlines_), '\n'));
        newlines_ += wanted_newlines_;
        wanted_newlines_ = 0;
        space_pending_ = false;
    }
    if (tabs_pending_ > 0) {
        emit(std::string(tabs_pending_, '\t'));
        tabs_pending_ = 0;
        space_pending_ = false;
    }
    if (space_pending_ && newlines_ == 0) emit(" ");
    space_pending_ = false;
}

void TextBuilder::text(std::string_view utf8) {
    while (!utf8.empty() && !stopped_) {
        const std::size_t nl = utf8.find('\n');
        const std::string_view line = utf8.substr(0, nl);
        std::string clean;
        append_clean(clean, line); // a carriage return before the line feed goes too
        if (!clean.empty()) {
            start_text();
            emit(clean);
            newlines_ = 0;
        }
        if (nl == std::string_view::npos) break;
        line_break();
        utf8.remove_prefix(nl + 1);
    }
}

void TextBuilder::flowing(std::string_view utf8) {
    std::size_t i = 0;
    while (i < utf8.size() && !stopped_) {
        if (is_space(static_cast<unsigned char>(utf8[i]))) {
            space_pending_ = true;
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < utf8.size() && !is_space(static_cast<unsigned char>(utf8[end]))) ++end;
        std::string clean;
        append_clean(clean, utf8.substr(i, end - i));
        if (!clean.empty()) {
            start_text();
            emit(clean);
            newlines_ = 0;
        }
        i = end;
    }
}

void TextBuilder::tab() {
    space_pending_ = false;
    if (tabs_pending_ < kMaxTabs) ++tabs_pending_;
}

void TextBuilder::line_break() {
    tabs_pending_ = 0;
    if (newlines_ + wanted_newlines_ < 2) ++wanted_newlines_;
    space_pending_ = false;
}

void TextBuilder::end_line() {
    tabs_pending_ = 0;
    if (newlines_ + wanted_newlines_ == 0) wanted_newlines_ = 1;
    space_pending_ = false;
}

void TextBuilder::paragraph() {
    tabs_pending_ = 0;
    wanted_newlines_ = std::max(wanted_newlines_, 2 - std::min(newlines_, 2));
    space_pending_ = false;
}

void TextBuilder::finish() {
    // The last line ends like every other; breaks owed beyond it are not
    // written, so a document never ends in empty lines.
    if (newlines_ == 0) emit("\n");
    wanted_newlines_ = 0;
    flush();
}

std::string lower_ascii(std::string_view s) {
    std::string out(s);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

void plain_text(std::span<const unsigned char> bytes, const TextEncoding &enc, TextBuilder &out) {
    if (!enc.text()) return;
    decode_in_chunks(bytes.subspan(std::min(enc.bom_len, bytes.size())), enc.iconv_name.c_str(),
                     [&](std::string_view utf8) {
                         out.text(utf8);
                         return !out.stopped();
                     });
}

// ------------------------------------------------------------ dispatch

bool document_level_free(const ParentInfo &parent) {
    return parent.Reserved[0] + 1 < kMaxArchiveLevels;
}

DocResult document_text(const MemberFormat &format, std::span<const unsigned char> bytes,
                        const char *path, DocContext &ctx, TextBuilder &out) {
    switch (format.format) {
    case DocFormat::kPdf:
        return pdf_text(bytes, out);
    case DocFormat::kDocx:
    case DocFormat::kXlsx:
    case DocFormat::kPptx:
    case DocFormat::kOdt:
    case DocFormat::kOds:
    case DocFormat::kOdp: {
        PackageParts parts;
        DocResult read = read_package(bytes, path, ctx, parts);
        if (!read.ok) return read;
        return package_text(format.format, parts, out);
    }
    case DocFormat::kHtml:
        return html_text(bytes, format.encoding, out);
    case DocFormat::kXml:
        return xml_text(bytes, format.encoding, out);
    case DocFormat::kMail:
        return mail_text(bytes, ctx, out);
    case DocFormat::kNone:
    case DocFormat::kText:
    case DocFormat::kZip:
        break;
    }
    return doc_failed(std::string("no text filter for ") +
                      (format.name ? format.name : "this format"));
}

} // namespace vtq::txif
