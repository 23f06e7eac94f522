// test_modes.cc - ziptext's three modes, encodings and line breaks, end to end
#include <iconv.h>

#include <filesystem>

#include "tests/e2e/e2e.h"

namespace vtq::e2e {
namespace {

using e2e::PrintTo; // rows print as their label

using test::ReadFile;

// The compose-mode block of one member: its labels, its text, a line break.
std::string Block(const std::string &name, const std::string &text,
                  const std::string &eol = "\n") {
    return "Filename: " + name + eol + "Content: " + eol + text + eol;
}

// a.txt (a member named *.txt keeps its text apart from itself in split
// mode), a directory entry, and a member two levels down.
const test::ZipArchive &ThreeEntries() {
    static const test::ZipArchive zip = [] {
        test::ZipArchive z;
        z.Add("a.txt", "alpha\n", 8);
        z.Add("d/");
        z.Add("d/e/b.md", "beta", 8);
        return z;
    }();
    return zip;
}

class Modes : public ZiptextTest {};

TEST_F(Modes, ComposeToStandardOutputAndToAFileGiveTheSameBytes) {
    WriteZip("a.zip", ThreeEntries());
    const std::string expected = Block("a.txt", "alpha\n") + Block("d/e/b.md", "beta");
    RunResult r = Run({"a.zip"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");

    r = Run({"a.zip", "-o", "out.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadFile(Work("out.txt")), expected);
    EXPECT_EQ(Tree(Work()), (std::vector<std::string>{"a.zip", "out.txt"}));

    r = Run({"--no-labels", "a.zip"});
    EXPECT_EQ(r.out, "alpha\n\nbeta\n");
}

TEST_F(Modes, SplitAndFlatWriteOneTextPerMember) {
    WriteZip("in/a.zip", ThreeEntries());
    std::filesystem::create_directories(Work("split"));
    std::filesystem::create_directories(Work("flat"));

    RunResult r = Run({"--split", "-o", "split/a.txt", "in/a.zip"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Tree(Work("split")), (std::vector<std::string>{"a.zip/", "a.zip/a.txt.txt",
                                                              "a.zip/d/", "a.zip/d/e/",
                                                              "a.zip/d/e/b.txt"}));
    EXPECT_EQ(ReadFile(Work("split/a.zip/a.txt.txt")), "alpha\n");
    EXPECT_EQ(ReadFile(Work("split/a.zip/d/e/b.txt")), "beta");

    r = Run({"--flat", "-o", "flat/a.txt", "in/a.zip"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Tree(Work("flat")), (std::vector<std::string>{"a.txt.txt", "b.txt"}));

    // Without -o the output path is ./a.txt, so the work directory is
    // ./a.zip: free here, since the archive lives in in/.
    r = Run({"--split", "in/a.zip"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(Work("a.zip/d/e/b.txt")), "beta");
}

// Text members: valid UTF-8 passes through; other text is read in the
// character set chosen by --charset / --language (Shift_JIS by default);
// NUL bytes make a member binary whatever the character set.
struct SourceCase {
    const char *label;
    std::vector<std::string> args;
    std::string member; // member bytes
    uint32_t code;      // expected result
    std::string out;    // expected standard output (UTF-8, no labels)
};

class SourceText : public ZiptextTest, public ::testing::WithParamInterface<SourceCase> {};

TEST_P(SourceText, IsReadInTheChosenCharacterSet) {
    const SourceCase &c = GetParam();
    test::ZipArchive z;
    z.Add("m.txt", c.member, 8);
    WriteZip("a.zip", z);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--no-labels", "a.zip"});
    RunResult r = Run(args);
    EXPECT_EQ(r.Code(), c.code) << r.err;
    EXPECT_EQ(r.status, c.code == 0 ? 0 : 1);
    EXPECT_EQ(r.out, c.out);
}

std::string Repeat(const std::string &s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

const std::string kSjisNihongo = "\x93\xfa\x96\x7b\x8c\xea"; // 日本語 in Shift_JIS

INSTANTIATE_TEST_SUITE_P(
    E2E, SourceText,
    ::testing::Values(
        SourceCase{"utf8", {}, "caf\xc3\xa9", 0, "caf\xc3\xa9\n"},
        SourceCase{"empty", {}, "", 0, "\n"},
        SourceCase{"sjis_default", {}, kSjisNihongo, 0, "日本語\n"},
        // The same bytes are valid ISO-8859-1 too, and read so in English.
        SourceCase{"sjis_as_latin1", {"--language", "English"}, kSjisNihongo, 0,
                   "\xc2\x93\xc3\xba\xc2\x96{\xc2\x8c\xc3\xaa\n"},
        SourceCase{"gbk_charset", {"--charset", "gbk"}, "\xc8\xd5\xb1\xbe", 0, "日本\n"},
        SourceCase{"nul_byte", {"--language", "English"}, std::string("a\0b", 3), 6000, ""},
        // 0x80 alone is neither UTF-8 nor Shift_JIS.
        SourceCase{"undecodable", {}, "\x80\x80", 6000, ""},
        // Texts longer than the host's 64 KiB chunks, with characters
        // across the chunk boundaries.
        SourceCase{"utf8_long", {}, Repeat("日", 30000), 0, Repeat("日", 30000) + "\n"},
        SourceCase{"sjis_long", {}, "a" + Repeat("\x93\xfa", 40000), 0,
                   "a" + Repeat("日", 40000) + "\n"},
        // The size limit never cuts a character in half.
        SourceCase{"limit_in_character", {"--max-size", "4"}, "日本語", 3005, "日"}),
    [](const auto &row) { return std::string(row.param.label); });

// Output encodings and line breaks: the labels and the tool's line breaks
// follow --encoding and --eol; a member's own text keeps its line breaks.
struct EncodingCase {
    bool labels;
    const char *encoding;
    const char *iconv_name;
    const char *eol;
    std::string eol_bytes;
    std::string bom;
    std::string text; // representable in the encoding
};

std::string Iconv(const std::string &utf8, const char *to) {
    iconv_t cd = iconv_open(to, "UTF-8");
    std::string out(utf8.size() * 4 + 8, '\0');
    char *src = const_cast<char *>(utf8.data());
    char *dst = out.data();
    size_t left = utf8.size(), room = out.size();
    iconv(cd, &src, &left, &dst, &room);
    iconv_close(cd);
    out.resize(out.size() - room);
    return out;
}

void PrintTo(const EncodingCase &c, std::ostream *os) { *os << c.encoding << " " << c.eol; }

class Encodings : public ZiptextTest, public ::testing::WithParamInterface<EncodingCase> {};

TEST_P(Encodings, ConvertLabelsAndText) {
    const EncodingCase &c = GetParam();
    test::ZipArchive z;
    z.Add("a.txt", c.text + "\nsecond line\n", 8);
    WriteZip("a.zip", z);
    std::vector<std::string> args{"--encoding", c.encoding, "--eol", c.eol, "a.zip"};
    if (!c.labels) args.push_back("--no-labels");
    RunResult r = Run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    std::string expected = c.text + "\nsecond line\n" + c.eol_bytes;
    if (c.labels) expected = "Filename: a.txt" + c.eol_bytes + "Content: " + c.eol_bytes + expected;
    EXPECT_EQ(r.out, c.bom + Iconv(expected, c.iconv_name));
}

INSTANTIATE_TEST_SUITE_P(
    E2E, Encodings,
    ::testing::Values(EncodingCase{true, "utf-8", "UTF-8", "lf", "\n", "", "caf\xc3\xa9"},
                      EncodingCase{true, "UTF8", "UTF-8", "crlf", "\r\n", "", "caf\xc3\xa9"},
                      EncodingCase{true, "utf-8-bom", "UTF-8", "cr", "\r", "\xef\xbb\xbf", "caf\xc3\xa9"},
                      EncodingCase{true, "utf-16le", "UTF-16LE", "lf", "\n", "\xff\xfe", "日本"},
                      // Without labels the member's text starts the output
                      // and carries the byte-order mark itself.
                      EncodingCase{false, "utf-16le", "UTF-16LE", "lf", "\n", "\xff\xfe", "日本"},
                      EncodingCase{false, "utf-32be", "UTF-32BE", "lf", "\n",
                                   std::string("\0\0\xfe\xff", 4), "日本"},
                      EncodingCase{true, "shift_jis", "CP932", "crlf", "\r\n", "", "日本"},
                      EncodingCase{true, "euc-jp", "EUC-JP", "lf", "\n", "", "日本"},
                      EncodingCase{true, "gbk", "GBK", "lf", "\n", "", "日本"},
                      EncodingCase{true, "big5", "BIG5", "lf", "\n", "", "日本"},
                      EncodingCase{true, "euc-kr", "CP949", "lf", "\n", "", "日本"},
                      EncodingCase{true, "latin1", "ISO-8859-1", "lf", "\n", "", "caf\xc3\xa9"}),
    [](const auto &row) {
        std::string n = std::string(row.param.encoding) + "_" + row.param.eol +
                        (row.param.labels ? "" : "_nolabels");
        for (char &ch : n)
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

// The bundled sample: a nested archive and a Shift_JIS member name.
TEST_F(Modes, SampleArchive) {
    std::string sample =
        (std::filesystem::path(__FILE__).parent_path() / "../../samples/sample.zip").string();
    RunResult r = Run({sample});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              Block("README.txt", "This is the sample archive of ziptext.\n"
                                  "Each member's text follows its name.\n") +
                  Block("docs/notes.txt", "Notes: café, naïve, 日本語, Ελληνικά.\n") +
                  Block("docs/inner.zip",
                        Block("inner/hello.txt", "Hello from the archive inside the archive.\n")) +
                  Block("報告.txt", "これはShift_JISで書かれた報告です。\n"));

    // The list reads the Shift_JIS name the same way; in English it is
    // read as ISO-8859-1 instead.
    r = Run({"list", sample});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("  no   docs/inner.zip\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  no   報告.txt\n"), std::string::npos) << r.out;
    r = Run({"list", "--language", "English", sample});
    EXPECT_NE(r.out.find("  no   \xc2\x95\xc3\xb1\xc2\x8d\xc2\x90.txt\n"), std::string::npos)
        << r.out;
}

} // namespace
} // namespace vtq::e2e
