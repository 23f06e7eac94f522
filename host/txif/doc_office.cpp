// doc_office.cpp - the text of Office Open XML and OpenDocument packages, from their parts
//
// A package is a ZIP archive of XML parts.  Office Open XML names its main
// part in [Content_Types].xml and reaches every other part through
// relationship parts (_rels/*.rels): a workbook lists its sheets, a
// presentation its slides, in the order people see them, which is not the
// order of the archive.  OpenDocument keeps the whole body in content.xml.
// The XML is streamed (doc_xml.h), never built into a tree, so a sheet of a
// million cells costs no more memory than its part.
#include <algorithm>
#include <map>
#include <vector>

#include "host/txif/doc_xml.h"
#include "host/txif/documents.h"

namespace vtq::txif {

namespace {

// --------------------------------------------------------------- parts

// The part of that name; part names compare without regard to ASCII case,
// as the packaging rules say, so "word/Document.xml" is found too.
const std::string *find_part(const PackageParts &parts, std::string_view name) {
    if (const auto it = parts.find(name); it != parts.end()) return &it->second;
    const std::string lower = lower_ascii(name);
    for (const auto &[part, bytes] : parts)
        if (lower_ascii(part) == lower) return &bytes;
    return nullptr;
}

std::string_view dir_of(std::string_view part) {
    const std::size_t slash = part.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : part.substr(0, slash);
}

// A relationship's target as a part name: absolute ("/xl/sheet1.xml") from
// the package's root, else relative to the source part's folder, with "."
// and ".." resolved.
std::string resolve_target(std::string_view source_dir, std::string_view target) {
    std::vector<std::string_view> segments;
    const auto add = [&](std::string_view path) {
        while (!path.empty()) {
            const std::size_t slash = path.find('/');
            const std::string_view seg = path.substr(0, slash);
            if (seg == "..") {
                if (!segments.empty()) segments.pop_back();
            } else if (!seg.empty() && seg != ".") {
                segments.push_back(seg);
            }
            if (slash == std::string_view::npos) break;
            path.remove_prefix(slash + 1);
        }
    };
    if (!target.starts_with('/')) add(source_dir);
    add(target);
    std::string out;
    for (std::string_view seg : segments) {
        if (!out.empty()) out += '/';
        out += seg;
    }
    return out;
}

// The relationships of a part: id to target part, in document order.
struct Relationship {
    std::string id, type, target;
};

std::vector<Relationship> relationships(const PackageParts &parts, std::string_view source) {
    std::vector<Relationship> rels;
    const std::string_view dir = dir_of(source);
    const std::string name = std::string(dir) + (dir.empty() ? "" : "/") + "_rels/" +
                             std::string(source.substr(dir.empty() ? 0 : dir.size() + 1)) + ".rels";
    const std::string *xml = find_part(parts, name);
    if (xml == nullptr) return rels;
    XmlReader r(*xml);
    while (r.next())
        if (r.type() == XML_READER_TYPE_ELEMENT && r.local_name() == "Relationship" &&
            r.attribute("TargetMode", false) != "External")
            rels.push_back({r.attribute("Id", false), r.attribute("Type", false),
                            resolve_target(dir, r.attribute("Target", false))});
    return rels;
}

const Relationship *rel_by_id(const std::vector<Relationship> &rels, std::string_view id) {
    for (const Relationship &rel : rels)
        if (rel.id == id) return &rel;
    return nullptr;
}

// The main part: the one [Content_Types].xml gives a content type ending
// in "main+xml" of the package's kind ("...wordprocessingml.document.main+xml",
// macro-enabled and template variants too), else the usual name.
std::string main_part(const PackageParts &parts, DocFormat format) {
    std::string_view kinds[2], usual;
    switch (format) {
    case DocFormat::kXlsx:
        kinds[0] = "spreadsheetml", kinds[1] = "ms-excel", usual = "xl/workbook.xml";
        break;
    case DocFormat::kPptx:
        kinds[0] = "presentationml", kinds[1] = "ms-powerpoint", usual = "ppt/presentation.xml";
        break;
    default:
        kinds[0] = "wordprocessingml", kinds[1] = "ms-word", usual = "word/document.xml";
        break;
    }
    if (const std::string *types = find_part(parts, "[Content_Types].xml")) {
        XmlReader r(*types);
        while (r.next()) {
            if (r.type() != XML_READER_TYPE_ELEMENT || r.local_name() != "Override") continue;
            const std::string type = r.attribute("ContentType", false);
            if (type.ends_with("main+xml") && (type.find(kinds[0]) != std::string::npos ||
                                               type.find(kinds[1]) != std::string::npos))
                return resolve_target("", r.attribute("PartName", false));
        }
    }
    return std::string(usual);
}

// ------------------------------------------------------- running text

// What an element means for the text, by local name.
enum class Role : uint8_t {
    kNone,
    kText, // its character data is text (w:t, a:t)
    kPara, // a paragraph: ends a line (in a table cell: a space)
    kTab,
    kBreak,
    kSpaces, // ODF text:s, text:c spaces (default 1)
    kRow,    // a table row: one line, cells separated by tabs
    kCell,
    kPage, // a slide or drawing page: an empty line before it
    kSkip, // nothing inside is shown: tab stops, deleted text, notes, comments
};

struct ElementRole {
    std::string_view name;
    Role role;
};

// WordprocessingML and DrawingML (documents, text boxes, slides, tables
// in either).  Deleted text (w:delText) and field codes (w:instrText) have
// names of their own and are never read as text.
constexpr ElementRole kOoxmlRoles[] = {
    {"br", Role::kBreak},  {"cr", Role::kBreak}, {"p", Role::kPara},
    {"t", Role::kText},    {"tab", Role::kTab},  {"tabLst", Role::kSkip},
    {"tabs", Role::kSkip}, {"tc", Role::kCell},  {"tr", Role::kRow},
};

// OpenDocument's content.xml: text, tables, drawing pages; speaker notes,
// comments and tracked deletions are not part of the visible text.
constexpr ElementRole kOdfRoles[] = {
    {"annotation", Role::kSkip}, {"covered-table-cell", Role::kCell},
    {"h", Role::kPara},          {"line-break", Role::kBreak},
    {"list-item", Role::kPara},  {"note-citation", Role::kSkip},
    {"notes", Role::kSkip},      {"p", Role::kPara},
    {"page", Role::kPage},       {"s", Role::kSpaces},
    {"tab", Role::kTab},         {"table-cell", Role::kCell},
    {"table-row", Role::kRow},   {"tracked-changes", Role::kSkip},
};

struct Dialect {
    std::span<const ElementRole> roles;
    // Where character data counts: only inside kText elements, taken as it
    // stands (Office Open XML); or inside paragraphs, with runs of white
    // space as one (OpenDocument, whose extra spaces are text:s).
    Role text_in;
};

constexpr Dialect kOoxml{kOoxmlRoles, Role::kText};
constexpr Dialect kOdf{kOdfRoles, Role::kPara};

Role role_of(const Dialect &d, std::string_view name) {
    for (const ElementRole &e : d.roles)
        if (e.name == name) return e.role;
    return Role::kNone;
}

// Walks one part's XML as running text: paragraphs, tables, pages.
class RunningText {
public:
    RunningText(const Dialect &d, TextBuilder &out) : dialect_(d), out_(out) {}

    // False when the part is not well-formed XML (the text before the
    // damage has gone out).
    bool walk(std::string_view xml) {
        XmlReader r(xml);
        while (!out_.stopped() && r.next()) {
            switch (r.type()) {
            case XML_READER_TYPE_ELEMENT: {
                const Role role = role_of(dialect_, r.local_name());
                if (role == Role::kSkip) {
                    if (!r.empty_element()) r.skip();
                    break;
                }
                start(role, r);
                if (r.empty_element()) end(role);
                break;
            }
            case XML_READER_TYPE_END_ELEMENT:
                end(role_of(dialect_, r.local_name()));
                break;
            case XML_READER_TYPE_TEXT:
            case XML_READER_TYPE_CDATA:
            case XML_READER_TYPE_SIGNIFICANT_WHITESPACE:
            case XML_READER_TYPE_WHITESPACE:
                if (text_depth_ > 0) {
                    if (dialect_.text_in == Role::kText)
                        out_.text(r.value());
                    else
                        out_.flowing(r.value());
                }
                break;
            default:
                break;
            }
        }
        return !r.failed();
    }

private:
    void start(Role role, const XmlReader &r) {
        if (role == dialect_.text_in) ++text_depth_;
        switch (role) {
        case Role::kTab:
            out_.tab();
            break;
        case Role::kBreak:
            out_.line_break();
            break;
        case Role::kSpaces: {
            const std::string c = r.attribute("c", true);
            const unsigned long n = c.empty() ? 1 : std::strtoul(c.c_str(), nullptr, 10);
            out_.text(std::string(std::min<unsigned long>(n, 64), ' '));
            break;
        }
        case Role::kRow:
            out_.end_line();
            cells_.push_back(0);
            break;
        case Role::kCell:
            if (!cells_.empty()) {
                if (cells_.back() > 0) out_.tab();
                // ODF: an empty cell repeated stands for as many cells.
                const std::string repeat = r.attribute("number-columns-repeated", true);
                const unsigned long n =
                    repeat.empty() ? 1 : std::strtoul(repeat.c_str(), nullptr, 10);
                for (unsigned long k = 1; k < std::min<unsigned long>(n, 256); ++k) out_.tab();
                ++cells_.back();
            }
            ++in_cell_;
            break;
        case Role::kPage:
            out_.paragraph();
            break;
        default:
            break;
        }
    }

    void end(Role role) {
        if (role == dialect_.text_in && text_depth_ > 0) --text_depth_;
        switch (role) {
        case Role::kPara:
            if (in_cell_ > 0)
                out_.flowing(" ");
            else
                out_.end_line();
            break;
        case Role::kRow:
            if (!cells_.empty()) cells_.pop_back();
            out_.end_line();
            break;
        case Role::kCell:
            if (in_cell_ > 0) --in_cell_;
            break;
        default:
            break;
        }
    }

    const Dialect &dialect_;
    TextBuilder &out_;
    int text_depth_ = 0;
    int in_cell_ = 0;
    std::vector<unsigned> cells_; // cells so far in each open row
};

DocResult running_text(const Dialect &d, const std::string *xml, std::string_view name,
                       TextBuilder &out) {
    if (xml == nullptr) return doc_failed("no " + std::string(name) + " in the package");
    if (!RunningText(d, out).walk(*xml))
        return doc_failed(std::string(name) + " is not well-formed XML");
    return {};
}

// The parts a main part lists in order (a presentation's slides, a
// workbook's sheets): elements named list_item, whose namespaced "id"
// attribute (r:id) names a relationship of the main part.
std::vector<std::string> listed_parts(const PackageParts &parts, const std::string &main,
                                      std::string_view list_item) {
    std::vector<std::string> listed;
    const std::string *xml = find_part(parts, main);
    if (xml == nullptr) return listed;
    const std::vector<Relationship> rels = relationships(parts, main);
    XmlReader r(*xml);
    while (r.next())
        if (r.type() == XML_READER_TYPE_ELEMENT && r.local_name() == list_item)
            if (const Relationship *rel = rel_by_id(rels, r.attribute("id", true)))
                listed.push_back(rel->target);
    return listed;
}

// ------------------------------------------------------------- sheets

// The shared strings of a workbook: each <si>'s text, its rich-text runs
// joined, phonetic guides (<rPh>) left out.
std::vector<std::string> shared_strings(const std::string *xml) {
    std::vector<std::string> strings;
    if (xml == nullptr) return strings;
    XmlReader r(*xml);
    int in_t = 0;
    while (r.next()) {
        const int type = r.type();
        if (type == XML_READER_TYPE_ELEMENT) {
            const std::string_view name = r.local_name();
            if (name == "si") strings.emplace_back();
            if (name == "rPh" && !r.empty_element()) r.skip();
            if (name == "t" && !r.empty_element()) ++in_t;
        } else if (type == XML_READER_TYPE_END_ELEMENT && r.local_name() == "t") {
            in_t = std::max(0, in_t - 1);
        } else if (in_t > 0 && !strings.empty() && type != XML_READER_TYPE_END_ELEMENT) {
            strings.back().append(r.value());
        }
    }
    return strings;
}

// Column number (0 for A) of a cell reference such as "AB12"; -1 when
// there is none.
long column_of(std::string_view ref) {
    long col = 0;
    std::size_t i = 0;
    for (; i < ref.size() && i < 3 && ref[i] >= 'A' && ref[i] <= 'Z'; ++i)
        col = col * 26 + (ref[i] - 'A' + 1);
    return i == 0 ? -1 : col - 1;
}

// One worksheet: each row with a value one line, the values at their
// columns separated by tabs; numbers as stored, booleans TRUE/FALSE,
// strings from the shared table or inline.
bool sheet_text(const std::string &xml, const std::vector<std::string> &strings, TextBuilder &out) {
    XmlReader r(xml);
    long prev_col = -1;
    std::string cell_type, value;
    long cell_col = -1;
    bool in_value = false;
    while (!out.stopped() && r.next()) {
        const int type = r.type();
        if (type == XML_READER_TYPE_ELEMENT) {
            const std::string_view name = r.local_name();
            if (name == "row") {
                out.end_line();
                prev_col = -1;
            } else if (name == "c") {
                cell_type = r.attribute("t", false);
                cell_col = column_of(r.attribute("r", false));
                value.clear();
            } else if ((name == "v" || name == "t") && !r.empty_element()) {
                in_value = true;
            } else if (name == "rPh" && !r.empty_element()) {
                r.skip();
            }
            if (name != "c" || !r.empty_element()) continue;
        } else if (type == XML_READER_TYPE_END_ELEMENT) {
            const std::string_view name = r.local_name();
            if (name == "v" || name == "t") in_value = false;
            if (name == "row") out.end_line();
            if (name != "c") continue;
        } else {
            if (in_value) value.append(r.value());
            continue;
        }
        // The end of a cell.
        if (cell_type == "s") {
            const unsigned long index =
                value.empty() ? strings.size() : std::strtoul(value.c_str(), nullptr, 10);
            value = index < strings.size() ? strings[index] : std::string();
        } else if (cell_type == "b") {
            value = value == "1" ? "TRUE" : value == "0" ? "FALSE" : value;
        }
        if (value.empty()) continue;
        // A tab for every column boundary crossed since the last value
        // (leading empty columns too); a cell out of order, or without a
        // reference, is still one cell further.
        // The builder keeps at most 256 tabs in a row: a row of cells far
        // apart costs no more than that each.
        const long col = cell_col > prev_col ? cell_col : prev_col + 1;
        const long from = prev_col < 0 ? 0 : prev_col;
        for (long k = from; k < col && k - from <= 256; ++k) out.tab();
        out.text(value);
        prev_col = col;
    }
    return !r.failed();
}

DocResult workbook_text(const PackageParts &parts, TextBuilder &out) {
    const std::string main = main_part(parts, DocFormat::kXlsx);
    if (find_part(parts, main) == nullptr) return doc_failed("no workbook in the package");
    const std::vector<Relationship> rels = relationships(parts, main);
    const std::string *strings_xml = nullptr;
    for (const Relationship &rel : rels)
        if (rel.type.ends_with("/sharedStrings")) strings_xml = find_part(parts, rel.target);
    const std::vector<std::string> strings = shared_strings(strings_xml);
    for (const std::string &sheet : listed_parts(parts, main, "sheet")) {
        if (out.stopped()) break;
        const std::string *xml = find_part(parts, sheet);
        if (xml == nullptr) continue; // a chart sheet, or a sheet the archive could not give
        out.paragraph();
        if (!sheet_text(*xml, strings, out)) return doc_failed(sheet + " is not well-formed XML");
    }
    return {};
}

DocResult presentation_text(const PackageParts &parts, TextBuilder &out) {
    const std::string main = main_part(parts, DocFormat::kPptx);
    if (find_part(parts, main) == nullptr) return doc_failed("no presentation in the package");
    for (const std::string &slide : listed_parts(parts, main, "sldId")) {
        if (out.stopped()) break;
        out.paragraph();
        if (DocResult r = running_text(kOoxml, find_part(parts, slide), slide, out); !r.ok)
            return r;
    }
    return {};
}

} // namespace

DocResult package_text(DocFormat format, const PackageParts &parts, TextBuilder &out) {
    switch (format) {
    case DocFormat::kDocx: {
        const std::string main = main_part(parts, format);
        return running_text(kOoxml, find_part(parts, main), main, out);
    }
    case DocFormat::kXlsx:
        return workbook_text(parts, out);
    case DocFormat::kPptx:
        return presentation_text(parts, out);
    case DocFormat::kOdt:
    case DocFormat::kOds:
    case DocFormat::kOdp:
        return running_text(kOdf, find_part(parts, "content.xml"), "content.xml", out);
    default:
        return doc_failed("not a package");
    }
}

} // namespace vtq::txif
