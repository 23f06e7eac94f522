// test_modes.cc - ziptext's modes, character sets, encodings and line breaks
#include <iconv.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tests/e2e/e2e.h"

namespace vtq::e2e {
namespace {

using e2e::PrintTo;
using test::ReadFile;
using Strings = std::vector<std::string>;

class Modes : public ZiptextTest {};

// a.txt (a member named *.txt keeps its text apart from itself in split
// mode), a directory entry, and a member two levels down.
TEST_F(Modes, ComposeSplitAndFlat) {
    const std::string zip = Zip({{"a.txt", "alpha\n"}, {"d/", ""}, {"d/e/b.md", "beta"}});
    test::WriteFile(Work("a.zip"), zip);
    const std::string composed = Block("a.txt", "alpha\n") + Block("d/e/b.md", "beta");
    RunResult r = Run({"a.zip"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, composed);
    r = Run({"a.zip", "-o", "out.txt"});
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(ReadFile(Work("out.txt")), composed);
    EXPECT_EQ(Run({"--no-labels", "a.zip"}).out, "alpha\n\nbeta\n");

    std::filesystem::create_directories(Work("in"));
    std::filesystem::rename(Work("a.zip"), Work("in/a.zip"));
    for (const char *d : {"split", "flat"}) std::filesystem::create_directories(Work(d));
    EXPECT_EQ(Run({"--split", "-o", "split/a.txt", "in/a.zip"}).status, 0);
    EXPECT_EQ(Tree(Work("split")),
              (Strings{"a.zip/", "a.zip/a.txt.txt", "a.zip/d/", "a.zip/d/e/", "a.zip/d/e/b.txt"}));
    EXPECT_EQ(ReadFile(Work("split/a.zip/d/e/b.txt")), "beta");
    EXPECT_EQ(Run({"--flat", "-o", "flat/a.txt", "in/a.zip"}).status, 0);
    EXPECT_EQ(Tree(Work("flat")), (Strings{"a.txt.txt", "b.txt"}));
    // Without -o the output is ./a.txt and the work directory ./a.zip.
    EXPECT_EQ(Run({"--split", "in/a.zip"}).status, 0);
    EXPECT_EQ(ReadFile(Work("a.zip/a.txt.txt")), "alpha\n");
}

// A member's text through the tool: read as UTF-8 when valid, else in the
// set --charset / --language choose (Shift_JIS by default); NUL bytes make
// it binary.  Written in --encoding with --eol for the tool's own breaks,
// while the member's own line breaks stay.  Rows with an iconv name give
// the expected output in UTF-8 with labels, converted for the comparison.
struct TextCase {
    const char *label;
    Strings args;
    std::string member;
    uint32_t code;
    std::string out;
    const char *iconv = nullptr;
    std::string bom = "";
};

std::string Iconv(const std::string &utf8, const char *to) {
    iconv_t cd = iconv_open(to, "UTF-8");
    std::string out(utf8.size() * 4 + 8, '\0');
    char *src = const_cast<char *>(utf8.data()), *dst = out.data();
    size_t left = utf8.size(), room = out.size();
    iconv(cd, &src, &left, &dst, &room);
    iconv_close(cd);
    out.resize(out.size() - room);
    return out;
}

std::string Repeat(const std::string &s, int n) {
    std::string out;
    while (n-- > 0) out += s;
    return out;
}

const std::string kSjis = "\x93\xfa\x96\x7b\x8c\xea"; // 日本語 in Shift_JIS
const Strings kNL{"--no-labels"};
Strings Enc(const char *encoding, const char *eol, bool labels = true) {
    Strings a{"--encoding", encoding, "--eol", eol};
    if (!labels) a.push_back("--no-labels");
    return a;
}
std::string Labelled(const std::string &text, const std::string &eol) {
    return "Filename: m.txt" + eol + "Content: " + eol + text + "\nline\n" + eol;
}

class Text : public ZiptextTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(Text, IsReadAndWrittenInTheChosenSets) {
    const TextCase &c = GetParam();
    const bool enc = c.iconv != nullptr;
    test::WriteFile(Work("a.zip"), Zip({{"m.txt", enc ? c.member + "\nline\n" : c.member}}));
    Strings args = c.args;
    args.insert(args.begin(), "--strict");
    args.push_back("a.zip");
    const RunResult r = Run(args);
    EXPECT_EQ(r.Code(), c.code) << r.err;
    EXPECT_EQ(r.status, c.code == 0 ? 0 : 1);
    EXPECT_EQ(r.out, enc ? c.bom + Iconv(c.out, c.iconv) : c.out);
}

INSTANTIATE_TEST_SUITE_P(
    E2E, Text,
    ::testing::Values(
        TextCase{"utf8", kNL, "caf\xc3\xa9", 0, "caf\xc3\xa9\n"},
        TextCase{"empty", kNL, "", 0, "\n"},
        TextCase{"sjis_default", kNL, kSjis, 0, "日本語\n"},
        // The same bytes are valid ISO-8859-1 too, and read so in English.
        TextCase{"sjis_as_latin1", {"--no-labels", "--language", "English"}, kSjis, 0,
                 "\xc2\x93\xc3\xba\xc2\x96{\xc2\x8c\xc3\xaa\n"},
        TextCase{"gbk_charset", {"--no-labels", "--charset", "gbk"}, "\xc8\xd5\xb1\xbe", 0, "日本\n"},
        TextCase{"nul_byte", {"--no-labels", "--language", "English"}, std::string("a\0b", 3), 6000, ""},
        TextCase{"undecodable", kNL, "\x80\x80", 6000, ""},
        // Longer than the host's 64 KiB chunks, characters across their edges.
        TextCase{"utf8_long", kNL, Repeat("日", 30000), 0, Repeat("日", 30000) + "\n"},
        TextCase{"sjis_long", kNL, std::string("a").append(Repeat("\x93\xfa", 40000)), 0,
                 std::string("a").append(Repeat("日", 40000)) + "\n"},
        // The size limit never cuts a character in half.
        TextCase{"limit_in_character", {"--no-labels", "--max-size", "4"}, "日本語", 3005, "日"},
        TextCase{"utf8_lf", Enc("utf-8", "lf"), "caf\xc3\xa9", 0, Labelled("café", "\n"), "UTF-8"},
        TextCase{"UTF8_crlf", Enc("UTF8", "crlf"), "café", 0, Labelled("café", "\r\n"), "UTF-8"},
        TextCase{"utf8bom_cr", Enc("utf-8-bom", "cr"), "café", 0, Labelled("café", "\r"), "UTF-8",
                 "\xef\xbb\xbf"},
        TextCase{"utf16le", Enc("utf-16le", "lf"), "日本", 0, Labelled("日本", "\n"), "UTF-16LE",
                 "\xff\xfe"},
        // Without labels the member's text starts the output and carries
        // the byte-order mark itself.
        TextCase{"utf16le_nolabels", Enc("utf-16le", "lf", false), "日本", 0, "日本\nline\n\n",
                 "UTF-16LE", "\xff\xfe"},
        TextCase{"utf32be_nolabels", Enc("utf-32be", "lf", false), "日本", 0, "日本\nline\n\n",
                 "UTF-32BE", std::string("\0\0\xfe\xff", 4)},
        TextCase{"shift_jis", Enc("shift_jis", "crlf"), "日本", 0, Labelled("日本", "\r\n"), "CP932"},
        TextCase{"euc_jp", Enc("euc-jp", "lf"), "日本", 0, Labelled("日本", "\n"), "EUC-JP"},
        TextCase{"gbk", Enc("gbk", "lf"), "日本", 0, Labelled("日本", "\n"), "GBK"},
        TextCase{"big5", Enc("big5", "lf"), "日本", 0, Labelled("日本", "\n"), "BIG5"},
        TextCase{"euc_kr", Enc("euc-kr", "lf"), "日本", 0, Labelled("日本", "\n"), "CP949"},
        TextCase{"latin1", Enc("latin1", "lf"), "café", 0, Labelled("café", "\n"), "ISO-8859-1"}),
    [](const auto &row) { return std::string(row.param.label); });

// The bundled sample with --strict, as the documented behaviour gives it: a
// nested archive and a Shift_JIS member name, which list reads the same way
// (and in English as ISO-8859-1).
TEST_F(Modes, SampleArchiveAndList) {
    const std::string sample =
        (std::filesystem::path(__FILE__).parent_path() / "../../samples/sample.zip").string();
    RunResult r = Run({"--strict", sample});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              Block("README.txt", "This is the sample archive of ziptext.\n"
                                  "Each member's text follows its name.\n") +
                  Block("docs/notes.txt", "Notes: café, naïve, 日本語, Ελληνικά.\n") +
                  Block("docs/inner.zip",
                        Block("inner/hello.txt", "Hello from the archive inside the archive.\n")) +
                  Block("報告.txt", "これはShift_JISで書かれた報告です。\n"));
    r = Run({"list", "--strict", sample});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("  no   docs/inner.zip\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  no   報告.txt\n"), std::string::npos) << r.out;
    r = Run({"list", "--strict", "--language", "English", sample});
    EXPECT_NE(r.out.find("  no   \xc2\x95\xc3\xb1\xc2\x8d\xc2\x90.txt\n"), std::string::npos) << r.out;
}

// An encrypted archive read with the password from each source, and from
// standard input ("-", or no archive at all); the password never shows in
// a message.  WinZip AES too, when 7z is there to write it.
TEST_F(Modes, PasswordsFromEachSourceAndStandardInput) {
    test::ZipArchive z;
    z.Add("a.txt", "alpha\n", 8).password = "Xyzzy42";
    z.Add("b.txt", "beta\n", 8).password = "Xyzzy42";
    test::WriteFile(Work("a.zip"), z.Build());
    test::WriteFile(Work("pw"), "Xyzzy42\r\nnot the password\n");
    const std::string text = "alpha\n\nbeta\n\n";
    struct Source {
        const char *label;
        Strings args;
        const char *env; // ZIPTEXT_PASSWORD, or null
        const char *in;  // standard input
    };
    const Source sources[] = {
        {"option", {"--password", "Xyzzy42", "a.zip"}, nullptr, ""},
        {"file", {"--password-file", "pw", "a.zip"}, nullptr, ""},
        {"descriptor", {"--password-fd", "0", "a.zip"}, nullptr, "pw"},
        {"environment", {"a.zip"}, "Xyzzy42", ""},
        {"stdin_dash", {"--password", "Xyzzy42", "-"}, nullptr, "a.zip"},
        {"stdin_no_archive", {"--password-file", "pw"}, nullptr, "a.zip"},
    };
    for (const Source &s : sources) {
        SCOPED_TRACE(s.label);
        stdin_ = s.in;
        Strings args{"--no-labels"};
        args.insert(args.end(), s.args.begin(), s.args.end());
        std::vector<std::pair<std::string, std::string>> env;
        if (s.env != nullptr) env.emplace_back("ZIPTEXT_PASSWORD", s.env);
        const RunResult r = Run(args, env);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out + r.err, text);
    }
    stdin_ = "";
    RunResult r = Run({"--password", "Xyzzy4", "a.zip"});
    EXPECT_EQ(r.err, "ziptext: a.zip: a.txt: wrong password (code 3102)\n"
                     "ziptext: a.zip: b.txt: wrong password (code 3102)\n"
                     "ziptext: a.zip: 2 of 2 members failed\n");
    r = Run({"a.zip"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("a.txt: encrypted, no password given (code 3001)\n"), std::string::npos) << r.err;
    // Standard input is held in memory up to the member-size cap.
    stdin_ = "a.zip";
    r = Run({"--max-member-size", "100", "-"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ziptext: -: standard input is larger than the member-size cap of 100 bytes "
                     "(see --max-member-size)\n");
    stdin_ = "";
    if (std::system("command -v 7z >/dev/null") != 0) GTEST_SKIP() << "no 7z: WinZip AES left out";
    test::WriteFile(Work("c.txt"), "gamma\n");
    ASSERT_EQ(std::system(("cd '" + Work() + "' && 7z a -bso0 -pXyzzy42 -mem=AES256 aes.zip c.txt").c_str()), 0);
    r = Run({"--no-labels", "--password", "Xyzzy42", "aes.zip"});
    EXPECT_EQ(r.out + r.err, "gamma\n\n");
    EXPECT_NE(Run({"list", "aes.zip"}).out.find("  aes256 "), std::string::npos);
}

// --json escapes what JSON does not allow raw, in names and texts alike.
TEST_F(Modes, JsonEscapesControlCharacters) {
    test::WriteFile(Work("a.zip"), Zip({{"a\x01" "b.txt", "tab\t\"q\" \\ \x1b[0m\n"}}));
    const RunResult r = Run({"--json", "a.zip"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(R"("path":["a\u0001b.txt"],)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(R"("text":"tab\t\"q\" \\ \u001b[0m\n"})"), std::string::npos) << r.out;
}

// list in extended mode: an archive behind a stub with ZIP64 records, sizes,
// method and encryption by name, the DOS time, and a total line as unzip -l
// gives; --verbose adds the set each name was read in.
TEST_F(Modes, ListShowsZip64AndPrefixedArchivesWithATotal) {
    test::ZipArchive z;
    z.stub = "#!/bin/sh\nexit 0\n";
    z.zip64 = true;
    z.Add("a.txt", "alpha\n", 8).zip64 = true;
    z.Add("d/");
    test::ZipMember &s = z.Add("d/s.txt", "secret\n");
    s.password = "pw";
    s.flags = 0x801; // encrypted, UTF-8 name
    test::WriteFile(Work("a.zip"), z.Build());
    const size_t packed_a = test::Deflate("alpha\n").size();
    char want[1024];
    std::snprintf(want, sizeof want,
                  "%12s %12s  %-9s %-9s %8s  %-19s  %s\n"
                  "%12d %12zu  deflate   -         %08x  1980-01-01 00:00:00  a.txt\n"
                  "%12d %12d  stored    zipcrypto %08x  1980-01-01 00:00:00  d/s.txt\n"
                  "------------ ------------%53s-------\n"
                  "%12d %12zu%53s2 files\n",
                  "Size", "Packed", "Method", "Enc", "CRC-32", "Modified", "Name", 6, packed_a,
                  test::Crc32("alpha\n"), 7, 7 + 12, test::Crc32("secret\n"), "", 13, packed_a + 19, "");
    RunResult r = Run({"list", "a.zip"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, want);
    r = Run({"list", "--verbose", "a.zip"});
    EXPECT_NE(r.out.find("  UTF-8         d/s.txt\n"), std::string::npos) << r.out;
}

} // namespace
} // namespace vtq::e2e
