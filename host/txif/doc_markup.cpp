// doc_markup.cpp - the visible text of HTML pages and XML documents (libxml2)
//
// Both are decoded to UTF-8 here first and handed to libxml2 as UTF-8 with
// the document's own encoding hints ignored: the encoding is decided once,
// by the rules of html_text (byte-order mark, declaration, detector), and a
// page whose <meta charset> is wrong for its bytes still gives text.
#include <libxml/HTMLparser.h>
#include <libxml/parser.h>

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>

#include "host/conf/charset_names.h"
#include "host/txif/doc_xml.h"
#include "host/txif/documents.h"

namespace vtq::txif {

// ------------------------------------------------------------ reader

void xml_library_init() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

namespace {

constexpr int kReaderOptions =
    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_COMPACT;

std::string_view view(const xmlChar *s) {
    return s ? std::string_view(reinterpret_cast<const char *>(s)) : std::string_view();
}

} // namespace

XmlReader::XmlReader(std::string_view doc, const char *encoding) {
    xml_library_init();
    // The reader takes an int length: a part of 2 GiB or more is refused
    // (failed from the first read).
    if (doc.size() > 0x7FFFFFFF) {
        failed_ = true;
        return;
    }
    reader_ = xmlReaderForMemory(doc.data(), static_cast<int>(doc.size()), nullptr, encoding,
                                 kReaderOptions | (encoding ? XML_PARSE_IGNORE_ENC : 0));
    if (reader_ == nullptr) failed_ = true;
}

XmlReader::~XmlReader() {
    if (reader_ != nullptr) xmlFreeTextReader(reader_);
}

bool XmlReader::next() {
    if (reader_ == nullptr || failed_) return false;
    if (held_) {
        held_ = false;
        return true;
    }
    const int r = xmlTextReaderRead(reader_);
    if (r < 0) failed_ = true;
    return r == 1;
}

void XmlReader::skip() {
    if (reader_ == nullptr || failed_ || held_) return;
    const int r = xmlTextReaderNext(reader_);
    if (r < 0) failed_ = true;
    // At the end of the document there is no node to hold, and the next
    // read says so again.
    held_ = r == 1;
}

int XmlReader::type() const { return xmlTextReaderNodeType(reader_); }
std::string_view XmlReader::local_name() const {
    return view(xmlTextReaderConstLocalName(reader_));
}
bool XmlReader::empty_element() const { return xmlTextReaderIsEmptyElement(reader_) == 1; }
std::string_view XmlReader::value() const { return view(xmlTextReaderConstValue(reader_)); }

std::string XmlReader::attribute(std::string_view local, bool namespaced) const {
    std::string found;
    if (xmlTextReaderMoveToFirstAttribute(reader_) != 1) return found;
    do {
        if (view(xmlTextReaderConstLocalName(reader_)) == local &&
            (xmlTextReaderConstNamespaceUri(reader_) != nullptr) == namespaced) {
            found = view(xmlTextReaderConstValue(reader_));
            break;
        }
    } while (xmlTextReaderMoveToNextAttribute(reader_) == 1);
    xmlTextReaderMoveToElement(reader_);
    return found;
}

// ------------------------------------------------------------ encoding

namespace {

// The value that follows key (and '=', blanks, an optional quote) in s.
std::string value_after(std::string_view s, std::size_t key_end) {
    std::size_t i = s.find_first_not_of(" \t\r\n", key_end);
    if (i == std::string_view::npos || s[i] != '=') return {};
    i = s.find_first_not_of(" \t\r\n\"'", i + 1);
    if (i == std::string_view::npos) return {};
    const std::size_t end = s.find_first_of(" \t\r\n\"';/>", i);
    return std::string(
        s.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i));
}

// The character set a document names for itself in its first 1024 bytes:
// the XML declaration's encoding, or a <meta> tag's charset (HTML5's
// <meta charset> and the older http-equiv content type alike); empty when
// it names none.  Only meaningful for encodings that keep ASCII as ASCII,
// which a byte-order mark rules out before this is asked.
std::string declared_charset(std::span<const unsigned char> bytes) {
    const std::string head = lower_ascii(
        {reinterpret_cast<const char *>(bytes.data()), std::min<std::size_t>(bytes.size(), 1024)});
    const std::string_view h = head;
    if (h.starts_with("<?xml")) {
        const std::string_view decl = h.substr(0, h.find("?>"));
        if (const std::size_t at = decl.find("encoding"); at != std::string_view::npos)
            return value_after(decl, at + 8);
    }
    for (std::size_t at = h.find("<meta"); at != std::string_view::npos;
         at = h.find("<meta", at + 5)) {
        const std::string_view tag = h.substr(at, h.find('>', at) - at);
        if (const std::size_t cs = tag.find("charset"); cs != std::string_view::npos) {
            std::string name = value_after(tag, cs + 7);
            if (!name.empty()) return name;
        }
    }
    return {};
}

// The document as UTF-8: in the encoding of its byte-order mark, else the
// one it declares when the bytes decode in it, else fallback's.  False
// when none of them decodes the bytes.
bool markup_utf8(std::span<const unsigned char> bytes, const TextEncoding &fallback,
                 std::string &utf8) {
    const auto decode = [&](const std::string &iconv_name, std::size_t skip) {
        utf8.clear();
        return decode_in_chunks(bytes.subspan(skip), iconv_name.c_str(),
                                [&](std::string_view piece) {
                                    utf8.append(piece);
                                    return true;
                                });
    };
    if (fallback.bom_len == 0)
        if (const std::string declared = declared_charset(bytes); !declared.empty())
            if (const auto set = conf::resolve_charset(declared); set && decode(set->iconv_name, 0))
                return true;
    return fallback.text() && decode(fallback.iconv_name, fallback.bom_len);
}

// ---------------------------------------------------------------- HTML

enum class HtmlRole : uint8_t { kInline, kBlock, kSkip, kBreak, kCell, kPre, kHead };

struct HtmlElement {
    std::string_view name;
    HtmlRole role;
};

// Elements that start and end a line, and those whose content is never
// shown: scripts, styles, templates, and the head (but for its title).
constexpr HtmlElement kHtmlElements[] = {
    {"address", HtmlRole::kBlock},    {"article", HtmlRole::kBlock},
    {"aside", HtmlRole::kBlock},      {"blockquote", HtmlRole::kBlock},
    {"br", HtmlRole::kBreak},         {"caption", HtmlRole::kBlock},
    {"center", HtmlRole::kBlock},     {"dd", HtmlRole::kBlock},
    {"details", HtmlRole::kBlock},    {"dialog", HtmlRole::kBlock},
    {"div", HtmlRole::kBlock},        {"dl", HtmlRole::kBlock},
    {"dt", HtmlRole::kBlock},         {"fieldset", HtmlRole::kBlock},
    {"figcaption", HtmlRole::kBlock}, {"figure", HtmlRole::kBlock},
    {"footer", HtmlRole::kBlock},     {"form", HtmlRole::kBlock},
    {"h1", HtmlRole::kBlock},         {"h2", HtmlRole::kBlock},
    {"h3", HtmlRole::kBlock},         {"h4", HtmlRole::kBlock},
    {"h5", HtmlRole::kBlock},         {"h6", HtmlRole::kBlock},
    {"head", HtmlRole::kHead},        {"header", HtmlRole::kBlock},
    {"hr", HtmlRole::kBlock},         {"iframe", HtmlRole::kSkip},
    {"legend", HtmlRole::kBlock},     {"li", HtmlRole::kBlock},
    {"main", HtmlRole::kBlock},       {"nav", HtmlRole::kBlock},
    {"noscript", HtmlRole::kSkip},    {"ol", HtmlRole::kBlock},
    {"option", HtmlRole::kBlock},     {"p", HtmlRole::kBlock},
    {"pre", HtmlRole::kPre},          {"script", HtmlRole::kSkip},
    {"section", HtmlRole::kBlock},    {"select", HtmlRole::kBlock},
    {"style", HtmlRole::kSkip},       {"summary", HtmlRole::kBlock},
    {"table", HtmlRole::kBlock},      {"td", HtmlRole::kCell},
    {"template", HtmlRole::kSkip},    {"textarea", HtmlRole::kBlock},
    {"th", HtmlRole::kCell},          {"title", HtmlRole::kBlock},
    {"tr", HtmlRole::kBlock},         {"ul", HtmlRole::kBlock},
};

static_assert(std::is_sorted(std::begin(kHtmlElements), std::end(kHtmlElements),
                             [](const HtmlElement &a, const HtmlElement &b) {
                                 return a.name < b.name;
                             }),
              "html_role looks names up by binary search");

HtmlRole html_role(const xmlNode *n) {
    const std::string_view name = view(n->name);
    const auto it =
        std::lower_bound(std::begin(kHtmlElements), std::end(kHtmlElements), name,
                         [](const HtmlElement &e, std::string_view k) { return e.name < k; });
    return it != std::end(kHtmlElements) && it->name == name ? it->role : HtmlRole::kInline;
}

bool is_cell(const xmlNode *n) {
    return n && n->type == XML_ELEMENT_NODE && html_role(n) == HtmlRole::kCell;
}

const xmlNode *find_title(const xmlNode *head) {
    for (const xmlNode *c = head->children; c != nullptr; c = c->next)
        if (c->type == XML_ELEMENT_NODE && view(c->name) == "title") return c;
    return nullptr;
}

struct DocDeleter {
    void operator()(xmlDoc *d) const { xmlFreeDoc(d); }
};

// Walks the tree without recursion (a page may nest elements thousands
// deep): enter() says whether to go into a node's children, leave() is
// called once for every node entered, after its children.
class HtmlWalk {
public:
    explicit HtmlWalk(TextBuilder &out) : out_(out) {}

    void run(const xmlNode *root) {
        const xmlNode *n = root->children;
        while (n != nullptr && !out_.stopped()) {
            if (enter(n) && n->children != nullptr) {
                n = n->children;
                continue;
            }
            for (;;) {
                leave(n);
                if (n->next != nullptr) {
                    n = n->next;
                    break;
                }
                n = n->parent;
                if (n == nullptr || n == root) return;
            }
        }
    }

private:
    bool enter(const xmlNode *n) {
        if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) {
            if (pre_ > 0)
                out_.text(view(n->content));
            else
                out_.flowing(view(n->content));
            return false;
        }
        if (n->type != XML_ELEMENT_NODE) return false; // comments, processing instructions
        switch (html_role(n)) {
        case HtmlRole::kSkip:
            return false;
        case HtmlRole::kHead:
            // Of the head only the title is shown, as the first line.
            if (const xmlNode *title = find_title(n); title != nullptr) {
                for (const xmlNode *c = title->children; c != nullptr; c = c->next)
                    if (c->type == XML_TEXT_NODE) out_.flowing(view(c->content));
                out_.end_line();
            }
            return false;
        case HtmlRole::kBreak:
            out_.line_break();
            return false;
        case HtmlRole::kCell: {
            const xmlNode *prev = n->prev;
            while (prev != nullptr && prev->type != XML_ELEMENT_NODE) prev = prev->prev;
            if (is_cell(prev)) out_.tab();
            return true;
        }
        case HtmlRole::kPre:
            ++pre_;
            out_.end_line();
            return true;
        case HtmlRole::kBlock:
            out_.end_line();
            return true;
        case HtmlRole::kInline:
            return true;
        }
        return true;
    }

    void leave(const xmlNode *n) {
        if (n->type != XML_ELEMENT_NODE) return;
        const HtmlRole role = html_role(n);
        if (role == HtmlRole::kPre) --pre_;
        if (role == HtmlRole::kBlock || role == HtmlRole::kPre) out_.end_line();
    }

    TextBuilder &out_;
    int pre_ = 0;
};

constexpr int kHtmlOptions = HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                             HTML_PARSE_COMPACT | HTML_PARSE_IGNORE_ENC;

DocResult html_utf8(std::string_view utf8, TextBuilder &out) {
    xml_library_init();
    if (utf8.size() > 0x7FFFFFFF) return doc_failed("HTML page too large");
    std::unique_ptr<xmlDoc, DocDeleter> doc(
        htmlReadMemory(utf8.data(), static_cast<int>(utf8.size()), nullptr, "UTF-8", kHtmlOptions));
    if (!doc) return doc_failed("unreadable HTML");
    HtmlWalk(out).run(reinterpret_cast<const xmlNode *>(doc.get()));
    return {};
}

} // namespace

DocResult html_text(std::span<const unsigned char> bytes, const TextEncoding &fallback,
                    TextBuilder &out) {
    std::string utf8;
    if (!markup_utf8(bytes, fallback, utf8)) return doc_failed("HTML in an unknown encoding");
    return html_utf8(utf8, out);
}

// ----------------------------------------------------------------- XML

// Character data in document order; every element starts and ends a line,
// so that the fields of a record each get one.  An XHTML document (root
// element "html") is read as HTML.
DocResult xml_text(std::span<const unsigned char> bytes, const TextEncoding &fallback,
                   TextBuilder &out) {
    std::string utf8;
    if (!markup_utf8(bytes, fallback, utf8)) return doc_failed("XML in an unknown encoding");
    XmlReader reader(utf8, "UTF-8");
    bool root_seen = false;
    while (!out.stopped() && reader.next()) {
        switch (reader.type()) {
        case XML_READER_TYPE_ELEMENT:
            if (!root_seen && reader.local_name() == "html") return html_utf8(utf8, out);
            root_seen = true;
            out.end_line();
            break;
        case XML_READER_TYPE_END_ELEMENT:
            out.end_line();
            break;
        case XML_READER_TYPE_TEXT:
        case XML_READER_TYPE_CDATA:
            out.flowing(reader.value());
            break;
        default:
            break;
        }
    }
    if (reader.failed()) return doc_failed("not well-formed XML");
    return {};
}

} // namespace vtq::txif
