// test_documents.cc - the extended mode's document formats: detection and text
//
// Each document is written for this test with the traps its format sets
// for a text extractor: script and style in HTML, entities (an entity
// bomb, an external entity) in XML, deleted text and field codes in DOCX,
// phonetic runs and sheets listed out of archive order in XLSX, encoded
// words and an alternative in e-mail.  The bytes alone decide the format;
// the packages start from parts, as the filter hands them over (the whole
// path, through the filter, is in the end-to-end test).
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "host/txif/documents.h"
#include "tests/support/zip_builder.h"

namespace vtq::test {
namespace {

using txif::DocFormat;
using std::string_literals::operator""s;

// Collects what a builder puts; refuses everything after refuse_after puts.
struct StringOut : txif::TextOut {
    bool put(std::string_view utf8) override {
        if (refuse_after >= 0 && puts >= refuse_after) return false;
        ++puts;
        text.append(utf8);
        return true;
    }
    std::string text;
    int puts = 0, refuse_after = -1;
};

// The text a parser gives a fresh builder, or "failed: " and its reason.
template <class Parse> std::string Text(Parse parse) {
    StringOut out;
    txif::TextBuilder builder(out);
    const txif::DocResult r = parse(builder);
    builder.finish();
    return r.ok ? out.text : "failed: " + r.reason;
}

std::span<const unsigned char> Bytes(const std::string &s) {
    return {reinterpret_cast<const unsigned char *>(s.data()), s.size()};
}

std::string Package(std::vector<std::pair<std::string, std::string>> members) {
    ZipArchive zip;
    for (auto &[name, data] : members) zip.Add(name, data);
    return zip.Build();
}

TEST(Documents, BytesDecideTheFormat) {
    const std::string odf = "application/vnd.oasis.opendocument.";
    const std::pair<std::string, const char *> rows[] = {
        // bytes, format (null: unknown)
        {"%PDF-1.7\n%\xE2\xE3\n1 0 obj", "pdf"},
        {std::string(1000, ' ') + "%PDF-1.4", "pdf"},
        {std::string(1020, ' ') + "%PDF-1.4", "text"}, // the mark too late
        {Package({{"[Content_Types].xml", "<Types/>"}, {"word/document.xml", "<d/>"}}), "docx"},
        {Package({{"xl/workbook.xml", "<w/>"}, {"[Content_Types].xml", "<Types/>"}}), "xlsx"},
        {Package({{"[Content_Types].xml", "<Types/>"}, {"ppt/presentation.xml", "<p/>"}}), "pptx"},
        {Package({{"[Content_Types].xml", "<Types/>"}, {"lib/a.dll", "MZ"}}), "zip"},
        {Package({{"mimetype", odf + "spreadsheet"}, {"content.xml", "<c/>"}}), "ods"},
        {Package({{"content.xml", "<c/>"}, {"mimetype", odf + "text"}}), "zip"}, // not first
        {"\xEF\xBB\xBF<!-- x -->\n<!DOCTYPE html><p>x</p>", "html"},
        {"<?xml version=\"1.0\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\"/>", "html"},
        {"<?xml version=\"1.0\"?><r/>", "xml"},
        {"<note><to>Tove</to></note>", "xml"},
        {"<3 to all\n", "text"},
        {"From: a@example.com\nTo: b@example.com\nSubject: hi\n\nbody\n", "eml"},
        {"Subject: minutes\nNote: none\n\nbody\n", "text"},
        {"\x89PNG\r\n\x1A\n\0\0\0\rIHDR"s, "png"},
        {"\177ELF\2\1\1\0\0\0"s, "elf"},
        {"MZ is a postcode\n", "text"},
        {"\x01\x02\x00\x03\xFE\xFF\x00\x10"s, nullptr},
    };
    for (const auto &[bytes, name] : rows) {
        const char *got = txif::sniff_member(Bytes(bytes), "").name;
        EXPECT_EQ(std::string(got ? got : "(none)"), name ? name : "(none)")
            << ::testing::PrintToString(bytes);
    }
}

#define W "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\""
#define R "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\""
#define RELS                                                                                       \
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
#define ODF                                                                                        \
    "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "  \
    "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "                               \
    "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\"><office:body>"

// The visible text of documents, and of packages from their parts, in
// reading order.
TEST(Documents, VisibleTextOnly) {
    const std::pair<std::string, std::string> documents[] = {
        {"<!DOCTYPE html><html><head><title>Price &amp; list</title><style>p{color:red}</style>"
         "<script>var x=\"hidden\";</script></head>\n<body><h1>Fruit</h1><!-- a comment --><p>"
         "Apples &lt;3&gt; and&nbsp;pears,\n   <b>fresh</b>.</p><table><tr><th>Name</th><th>Price"
         "</th></tr><tr><td>Fig</td><td>2</td></tr></table><pre>a  b\nc</pre>x<br>y<script>"
         "document.write(\"no\")</script></body></html>",
         "Price & list\nFruit\nApples <3> and\u00A0pears, fresh.\nName\tPrice\nFig\t2\na  "
         "b\nc\nx\ny\n"},
        {"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\""
         "></head><body><p>Caf\xE9 cr\xE8me br\xFBl\xE9\x65, \x93quoted\x94</p></body></html>",
         "Caf\u00E9 cr\u00E8me br\u00FBl\u00E9e, \u201Cquoted\u201D\n"},
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<!DOCTYPE r [<!ENTITY a \"lol\">"
         "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY x SYSTEM \"file:///etc/passwd\">]>\n<r>"
         "<a>caf\xE9</a><b><![CDATA[x<y]]></b><!-- hidden --><c>&b;&x;</c><d>1 &amp; 2</d></r>",
         "caf\u00E9\nx<y\n1 & 2\n"},
        {"From: =?UTF-8?B?w4lsaXNl?= <elise@example.com>\r\nTo: Bob <bob@example.com>\r\nSubject: "
         "=?ISO-8859-1?Q?R=E9union?= notes\r\nDate: Mon, 1 Jan 2024 10:00:00 +0000\r\nMIME-Version:"
         " 1.0\r\nContent-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n--b1\r\nContent-Type: "
         "multipart/alternative; boundary=\"b2\"\r\n\r\n--b2\r\nContent-Type: text/plain; "
         "charset=utf-8\r\n\r\nplain version\r\n--b2\r\nContent-Type: text/html; charset=iso-8859-1"
         "\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n<html><body><p>Caf=E9 <b>HTML</b>"
         "</p><script>x()</script></body></html>\r\n--b2--\r\n--b1\r\nContent-Type: "
         "application/octet-stream; name=\"notes.html\"\r\nContent-Disposition: attachment; "
         "filename=\"notes.html\"\r\nContent-Transfer-Encoding: base64\r\n\r\nPCFET0NUWVBFIGh0bWw+P"
         "HA+QXR0YWNoZWQgcGFnZTwvcD4=\r\n--b1--\r\n",
         "From: \u00C9lise <elise@example.com>\nTo: Bob <bob@example.com>\nSubject: R\u00E9union "
         "notes\nDate: Mon, 1 Jan 2024 10:00:00 +0000\n\nCaf\u00E9 HTML\n\nAttachment: "
         "notes.html\nAttached page\n"},
    };
    for (const auto &doc : documents) {
        TxtOptions opts{};
        ParentInfo parent{};
        txif::DocContext ctx{&opts, &parent};
        EXPECT_EQ(Text([&](auto &b) {
                      const auto s = Bytes(doc.first);
                      return txif::document_text(txif::sniff_member(s, ""), s, nullptr, ctx, b);
                  }),
                  doc.second);
        EXPECT_EQ(parent.Reserved[0], 0) << "an attachment's level is given back";
    }

    const struct {
        DocFormat format;
        txif::PackageParts parts;
        std::string text;
    } packages[] = {
        {DocFormat::kDocx,
         {{"word/document.xml",
           "<w:document " W
           "><w:body>\n<w:p><w:pPr><w:tabs><w:tab w:val=\"left\" w:pos=\"720\"/></w:tabs></w:pPr>"
           "<w:r><w:t>Quarterly</w:t></w:r><w:r><w:t xml:space=\"preserve\"> report</w:t></w:r>"
           "</w:p>\n<w:p><w:r><w:t>a</w:t><w:tab/><w:t>b</w:t><w:br/><w:t>c</w:t></w:r><w:del>"
           "<w:r><w:delText>gone</w:delText></w:r></w:del><w:r><w:instrText>PAGE</w:instrText>"
           "</w:r></w:p>\n<w:tbl><w:tr><w:tc><w:p><w:r><w:t>x</w:t></w:r></w:p><w:p><w:r><w:t>y"
           "</w:t></w:r></w:p></w:tc><w:tc><w:p><w:r><w:t>z</w:t></w:r></w:p></w:tc></w:tr>"
           "</w:tbl>\n</w:body></w:document>"}},
         "Quarterly report\na\tb\nc\nx y\tz\n"},
        {DocFormat::kXlsx,
         {{"[Content_Types].xml",
           "<Types><Override PartName=\"/xl/workbook.xml\" ContentType=\"application/vnd.openxmlfor"
           "mats-officedocument.spreadsheetml.sheet.main+xml\"/></Types>"},
          {"xl/workbook.xml",
           "<workbook " R "><sheets><sheet name=\"Prices\" sheetId=\"2\" r:id=\"rId2\"/><sheet "
           "name=\"Notes\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
          {"xl/_rels/workbook.xml.rels", RELS
           "<Relationship Id=\"rId1\" Type=\"t/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
           "<Relationship Id=\"rId2\" Type=\"t/worksheet\" Target=\"/xl/worksheets/sheet2.xml\"/>"
           "<Relationship Id=\"rId3\" Type=\"t/sharedStrings\" Target=\"sharedStrings.xml\"/>"
           "</Relationships>"},
          {"xl/sharedStrings.xml", "<sst><si><t>Fig</t></si><si><r><t>Ri</t></r><r><t>ch</t></r>"
                                   "<rPh><t>ruby</t></rPh></si></sst>"},
          {"xl/worksheets/sheet1.xml",
           "<worksheet><sheetData><row r=\"1\"><c r=\"A1\" t=\"str\"><f>A</f><v>note</v></c></row>"
           "</sheetData></worksheet>"},
          {"xl/worksheets/sheet2.xml",
           "<worksheet><sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" "
           "s=\"3\"/><c r=\"C1\"><v>2.5</v></c></row><row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is>"
           "<t>Inline</t></is></c><c r=\"B2\" t=\"s\"><v>1</v></c><c r=\"D2\" t=\"b\"><v>1</v></c>"
           "</row></sheetData></worksheet>"}},
         "Fig\t\t2.5\nInline\tRich\t\tTRUE\n\nnote\n"},
        {DocFormat::kPptx,
         {{"ppt/presentation.xml",
           "<p:presentation xmlns:p=\"p\" " R "><p:sldIdLst><p:sldId id=\"257\" r:id=\"rId3\"/>"
           "<p:sldId id=\"256\" r:id=\"rId2\"/></p:sldIdLst>"
           "</p:presentation>"},
          {"ppt/_rels/presentation.xml.rels",
           RELS "<Relationship Id=\"rId2\" Target=\"slides/slide1.xml\"/><Relationship "
                "Id=\"rId3\" Target=\"slides/slide2.xml\"/></Relationships>"},
          {"ppt/slides/slide1.xml",
           "<p:sld xmlns:p=\"p\" xmlns:a=\"a\"><a:p><a:r><a:t>Title one</a:t></a:r></a:p></p:sld>"},
          {"ppt/slides/slide2.xml",
           "<p:sld xmlns:p=\"p\" xmlns:a=\"a\"><a:p><a:r><a:t>Second</a:t></a:r><a:br/><a:r><a:t>"
           "first</a:t></a:r></a:p></p:sld>"}},
         "Second\nfirst\n\nTitle one\n"},
        {DocFormat::kOds,
         {{"content.xml", ODF
           "<office:text>\n<text:h>Heading</text:h><text:p>one<text:s text:c=\"3\"/>two<text:tab/>"
           "three<office:annotation><text:p>comment</text:p></office:annotation></text:p>\n"
           "<text:p>line<text:line-break/>next</text:p>\n<table:table><table:table-row>"
           "<table:table-cell><text:p>a</text:p></table:table-cell><table:table-cell "
           "table:number-columns-repeated=\"2\"/><table:table-cell><text:p>d</text:p>"
           "</table:table-cell><table:table-cell table:number-columns-repeated=\"1000\"/>"
           "</table:table-row></table:table></office:text></office:body></office:document-content"
           ">"}},
         "Heading\none   two\tthree\nline\nnext\na\t\t\td\n"},
    };
    for (const auto &p : packages)
        EXPECT_EQ(Text([&](auto &b) { return txif::package_text(p.format, p.parts, b); }), p.text);
}

// A parser stops once the output refuses more: a page of a million
// paragraphs gives no second block after the first refusal, and whatever
// is damaged gives a reason instead of text.
TEST(Documents, StopsAndFails) {
    std::string page = "<html><body>";
    for (int i = 0; i < 100000; ++i) page += "<p>paragraph " + std::to_string(i) + "</p>";
    StringOut out;
    out.refuse_after = 1;
    txif::TextBuilder builder(out);
    EXPECT_TRUE(txif::html_text(Bytes(page), {"UTF-8", "UTF-8", 0}, builder).ok);
    builder.finish();
    EXPECT_TRUE(builder.stopped());
    EXPECT_EQ(out.puts, 1);
    EXPECT_LT(out.text.size(), 70u * 1024);

    StringOut damaged_out;
    txif::TextBuilder damaged(damaged_out);
    EXPECT_FALSE(txif::xml_text(Bytes("<r><a>open</r>"), {"UTF-8", "UTF-8", 0}, damaged).ok);
    EXPECT_FALSE(
        txif::package_text(DocFormat::kDocx, {{"word/document.xml", "<w:document"}}, damaged).ok);
    EXPECT_FALSE(txif::package_text(DocFormat::kOdt, {}, damaged).ok);
    // An e-mail that could nest more than 100 parts deep never reaches
    // GMime, a folded Content-Type counted too.
    for (const int levels : {99, 100}) {
        std::string mail =
            "From: a@example.com\nDate: x\nContent-Type: multipart/mixed; boundary=b\n";
        for (int i = 0; i < levels; ++i)
            mail += "\n--b\nContent-Type:\n Multipart/Mixed; boundary=b\n";
        TxtOptions opts{};
        ParentInfo parent{};
        txif::DocContext ctx{&opts, &parent};
        EXPECT_EQ(txif::mail_text(Bytes(mail), ctx, damaged).ok, levels < 100) << levels;
    }
}

} // namespace
} // namespace vtq::test
