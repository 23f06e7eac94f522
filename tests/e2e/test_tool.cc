// test_tool.cc - ziptext's modes, character sets, failures, nesting and list
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "tests/e2e/e2e.h"
#include "tests/support/text_samples.h"

namespace vtq::e2e {
namespace {

using test::ReadFile;

// A member's text: UTF-8 when valid, else in the set --charset / --language choose (Shift_JIS by
// default); NUL bytes make it binary.  Written in --encoding (set: out is encoded here, bom first)
// with --eol for the tool's own breaks, the member's own staying.
Row Text(const char *label, Strings args, const std::string &member, uint32_t code,
         const std::string &out, const char *set = nullptr, const std::string &bom = "") {
    args.insert(args.begin(), "--strict");
    args.push_back("a.zip");
    Row r = Ends(label, Fixed(Zip({{"m.txt", set ? member + "\nline\n" : member}})), args,
                 code ? 1 : 0, code);
    r.out = set ? bom + test::Encode(out, set) : out;
    return r;
}
std::string Repeat(const std::string &s, int n) {
    std::string out;
    while (n-- > 0) out += s;
    return out;
}
const std::string kSjis = "\x93\xfa\x96\x7b\x8c\xea"; // 日本語 in Shift_JIS
const Strings kNL{"--no-labels"};
Strings Enc(const char *encoding, const char *eol, bool labels = true) {
    return labels ? Strings{"--encoding", encoding, "--eol", eol}
                  : Strings{"--encoding", encoding, "--eol", eol, "--no-labels"};
}
std::string Labelled(const std::string &text, const std::string &eol) {
    return "Filename: m.txt" + eol + "Content: " + eol + text + "\nline\n" + eol;
}

const Row kTexts[] = {
    Text("utf8", kNL, "caf\xc3\xa9", 0, "caf\xc3\xa9\n"),
    Text("empty", kNL, "", 0, "\n"),
    Text("sjis_default", kNL, kSjis, 0, "日本語\n"),
    // The same bytes are valid ISO-8859-1 too, and read so in English.
    Text("sjis_as_latin1", {"--no-labels", "--language", "English"}, kSjis, 0,
         "\xc2\x93\xc3\xba\xc2\x96{\xc2\x8c\xc3\xaa\n"),
    Text("gbk_charset", {"--no-labels", "--charset", "gbk"}, "\xc8\xd5\xb1\xbe", 0, "日本\n"),
    Text("nul_byte", {"--no-labels", "--language", "English"}, std::string("a\0b", 3), 6000, ""),
    Text("undecodable", kNL, "\x80\x80", 6000, ""),
    // Longer than the host's 64 KiB chunks, characters across their edges.
    Text("utf8_long", kNL, Repeat("日", 30000), 0, Repeat("日", 30000) + "\n"),
    Text("sjis_long", kNL, "a" + Repeat("\x93\xfa", 40000), 0, "a" + Repeat("日", 40000) + "\n"),
    // The size limit never cuts a character in half.
    Text("limit_in_character", {"--no-labels", "--max-size", "4"}, "日本語", 3005, "日"),
    Text("utf8_lf", Enc("utf-8", "lf"), "caf\xc3\xa9", 0, Labelled("café", "\n"), "UTF-8"),
    Text("UTF8_crlf", Enc("UTF8", "crlf"), "café", 0, Labelled("café", "\r\n"), "UTF-8"),
    Text("utf8bom_cr", Enc("utf-8-bom", "cr"), "café", 0, Labelled("café", "\r"), "UTF-8",
         "\xef\xbb\xbf"),
    Text("utf16le", Enc("utf-16le", "lf"), "日本", 0, Labelled("日本", "\n"), "UTF-16LE",
         "\xff\xfe"),
    // Without labels the member's text starts the output and carries the byte-order mark itself.
    Text("utf16le_nolabels", Enc("utf-16le", "lf", false), "日本", 0, "日本\nline\n\n", "UTF-16LE",
         "\xff\xfe"),
    Text("utf32be_nolabels", Enc("utf-32be", "lf", false), "日本", 0, "日本\nline\n\n", "UTF-32BE",
         std::string("\0\0\xfe\xff", 4)),
    Text("shift_jis", Enc("shift_jis", "crlf"), "日本", 0, Labelled("日本", "\r\n"), "CP932"),
    // What the output set lacks becomes "?".
    Text("latin1_lacks", Enc("iso-8859-1", "lf", false), "café 日", 0, "café ?\nline\n\n",
         "ISO-8859-1"),
};
VTQ_ROWS(Text, kTexts);

std::string Edited(void (*edit)(test::ZipArchive &)) {
    test::ZipArchive z;
    z.Add("a.txt", "alpha\n", 8);
    edit(z);
    return z.Build();
}
const std::string kA = Zip({{"a.txt", "alpha\n"}});
const std::string kLocked = Edited([](test::ZipArchive &z) {
    z.members[0].password = "Xyzzy42";
    z.Add("b.txt", "beta\n", 8).password = "Xyzzy42";
});
const char *kPwText = "alpha\n\nbeta\n\n";
std::string kLargeText;
const std::string kLarge = [] { // 100,000 bytes stored, in members of 5,000
    test::ZipArchive z;
    for (int i = 0; i < 20; ++i) {
        const std::string text(5000, static_cast<char>('a' + i));
        z.Add("m" + std::to_string(i), text, 0);
        kLargeText += text + "\n";
    }
    return z.Build();
}();
const std::string kCp866 = Zip({{"\x8f\x90\x88\x82\x85\x92", "privet\n"}});
const char *kPrivet =
    "Filename: \xd0\x9f\xd0\xa0\xd0\x98\xd0\x92\xd0\x95\xd0\xa2\nContent: \nprivet\n\n";
// A run of a.zip (none when empty) with the password file pw beside it; err: "" says no message at
// all, null leaves the messages unchecked.
const std::string kMiB = [] {
    test::ZipArchive z;
    z.Add("d.txt", Repeat("deflated\n", 300000), 8);
    z.Add("s.txt", Repeat("stored\n", 300000));
    return z.Build();
}();
Row Case(const char *label, const std::string &zip, Strings args, int status, uint32_t code,
         std::string out, const char *err, const char *in = "", Env env = {}) {
    Row r = Ends(label, zip.empty() ? decltype(Row::archive)() : Fixed(zip), args, status, code, {},
                 err ? err : "", nullptr, [](const std::string &w) {
                     test::WriteFile(w + "/pw", "Xyzzy42\r\nnot the password\n");
                 });
    if (err && !*err)
        r.check = [](const RunResult &res, const std::string &) { EXPECT_EQ(res.err, ""); };
    r.out = out;
    r.in = in;
    r.env = env;
    return r;
}
Row Usage(const char *label, Strings args) { return Case(label, kA, args, 2, 0, "", "ziptext: "); }
// A nested archive's outcome is the member's code (KeepGoing goes on after it), except that one
// without file members counts as an empty text.
Row Inner(const char *label, const std::string &inner, uint32_t code, const std::string &out) {
    return Case(label, Zip({{"in.zip", inner}, {"z.txt", "last\n"}}),
                {"--strict", "--no-labels", "a.zip"}, code ? 1 : 0, code, out, nullptr);
}
const std::string kPng("\x89PNG\r\n\x1a\n\0\0\0\x0d", 12), kNoText =
                                                               "Filename: bin.dat\nContent: \n";
const std::string kFailing = Edited([](test::ZipArchive &z) {
    z.Add("bin.dat", kPng, 8);
    z.Add("bad.txt", "beta\n", 8).crc = 1;
    z.Add("n.zip", Zip({{"x.dat", kPng}, {"y.txt", "yes\n"}}));
    z.Add("c.txt", "gamma\n", 8);
});
const std::string kFailingText = Block("a.txt", "alpha\n") + kNoText +
                                 "Filename: n.zip\nContent: \nFilename: x.dat\nContent: \n" +
                                 Block("y.txt", "yes\n") + Block("c.txt", "gamma\n");
const std::string kOneFails = Zip({{"a.txt", "alpha\n"}, {"bin.dat", kPng}, {"c.txt", "gamma\n"}});
const char *kStopped =
    "ziptext: a.zip: a member has no text filter (neither text nor an archive) (code 6000)\n";
// A library in the current directory is never loaded: the run paths name the tool's own folders,
// with no empty entry.
Row LibrariesPlanted() {
    Row r = Case("libraries_in_work_not_loaded", kOneFails, {"--quiet", "a.zip"}, 1, 0,
                 Block("a.txt", "alpha\n") + kNoText + Block("c.txt", "gamma\n"),
                 "ziptext: a.zip: 1 of 3 members failed\n");
    r.plant = [](const std::string &w) {
        for (const char *lib : {"libz.so.1", "libdeflate.so.0", "libstdc++.so.6",
                                "libvtq_zozaz.so.5", "libvtq_txif.so.5", "libvtq_oscomm.so.5"})
            test::WriteFile(w + "/" + lib, "garbage");
    };
    return r;
}
const std::string kTree = Zip({{"a.txt", "alpha\n"}, {"d/", ""}, {"d/e/b.md", "beta"}});

const Row kCases[] = {
    // One line for a bad archive, with the code.
    Case("missing", "", {"--strict", "a.zip"}, 1, 22, "",
         "ziptext: cannot open 'a.zip': No such file or directory (code 22)\n"),
    Case("not_zip", "hello, world\n", {"--strict", "a.zip", "-o", "out.txt"}, 1, 2001, "",
         "ziptext: a.zip: not a ZIP archive: the file does not begin with a local file header "
         "(code 2001)\n"),
    // 10000 bytes needed; 5000 are enough for everything else.
    Case("member_over_cap", Zip({{"a.txt", std::string(10000, 'x')}}),
         {"--strict", "--max-member-size", "5000", "a.zip"}, 1, 12, "",
         "ziptext: a.zip: memory exhausted (a member may be larger than the member-size cap of "
         "5000 bytes; see --max-member-size) (code 12)\n"),
    // Compose mode into a file: each member's labels and text, a directory entry none.
    Ends("compose_to_file", Fixed(kTree), {"a.zip", "-o", "out/t.txt"}, 0, 0,
         {{"out/t.txt", Block("a.txt", "alpha\n") + Block("d/e/b.md", "beta")}}, "",
         [](const RunResult &r, const std::string &) { EXPECT_EQ(r.out + r.err, ""); }),
    // --json escapes what JSON does not allow raw, in names and texts alike.
    Ends("json_escapes",
         Fixed(Zip({{"a\x01"
                     "b.txt",
                     "tab\t\"q\" \\ \x1b[0m\n"}})),
         {"--json", "a.zip"}, 0, 0, {}, "",
         [](const RunResult &r, const std::string &) {
             EXPECT_NE(r.out.find(R"("path":["a\u0001b.txt"],)"), r.out.npos) << r.out << r.err;
             EXPECT_NE(r.out.find(R"("text":"tab\t\"q\" \\ \u001b[0m\n"})"), r.out.npos);
         }),
    // KeepGoing (the default) extracts what can be read and reports each failed member, then the
    // count (--quiet: only the count); --stop-on-error stops at the first, with --strict the
    // documented line, and removes the output file.
    Case("keep_going", kFailing, {"a.zip"}, 1, 0, kFailingText,
         "ziptext: a.zip: bin.dat: no text filter for png (code 6000)\n"
         "ziptext: a.zip: bad.txt: CRC mismatch, text skipped (code 3102)\n"
         "ziptext: a.zip: n.zip: x.dat: no text filter for png (code 6000)\n"
         "ziptext: a.zip: 3 of 7 members failed\n"),
    Case("keep_going_quiet", kFailing, {"--quiet", "a.zip"}, 1, 0, kFailingText,
         "ziptext: a.zip: 3 of 7 members failed\n"),
    Case("stop_on_error", kOneFails, {"--strict", "--stop-on-error", "a.zip"}, 1, 6000,
         Block("a.txt", "alpha\n") + kNoText, kStopped),
    Case("stop_on_error_removes_output", kOneFails,
         {"--strict", "--stop-on-error", "a.zip", "-o", "out.txt"}, 1, 6000, "", kStopped),
    LibrariesPlanted(),
    Inner("nested_directories_only", Zip({{"d/", ""}}), 0, "\nlast\n\n"),
    Inner("nested_binary_member", Zip({{"b", std::string(2, '\0')}, {"t", "kept"}}), 6000,
          "kept\nlast\n\n"),
    Inner("nested_damaged", Edited([](test::ZipArchive &z) { z.members[0].crc = 7; }), 6003,
          "last\n\n"),
    // The password from each source, the archive from standard input ("-" or none named); the
    // password never shows in a message.
    Case("password_fd", kLocked, {"--no-labels", "--password-fd", "0", "a.zip"}, 0, 0, kPwText, "",
         "pw"),
    Case("password_environment", kLocked, {"--no-labels", "a.zip"}, 0, 0, kPwText, "", "",
         {{"ZIPTEXT_PASSWORD", "Xyzzy42"}}),
    Case("stdin_dash", kLocked, {"--no-labels", "--password", "Xyzzy42", "-"}, 0, 0, kPwText, "",
         "a.zip"),
    Case("stdin_no_archive", kLocked, {"--no-labels", "--password-file", "pw"}, 0, 0, kPwText, "",
         "a.zip"),
    Case("wrong_password", kLocked, {"--no-labels", "--password", "Xyzzy4", "a.zip"}, 1, 0, "",
         "ziptext: a.zip: a.txt: wrong password (code 3102)\n"
         "ziptext: a.zip: b.txt: wrong password (code 3102)\n"
         "ziptext: a.zip: 2 of 2 members failed\n"),
    // Standard input past the member-size cap goes on into an unnamed temporary file.
    Case("stdin_over_cap", kLarge, {"--no-labels", "--max-member-size", "70000", "-"}, 0, 0,
         kLargeText, "", "a.zip"),
    // Names without the UTF-8 flag, in Russian (by option or locale) read as CP866; the
    // documented mode has no Russian.
    Case("russian_names", kCp866, {"--language", "Russian", "a.zip"}, 0, 0, kPrivet, ""),
    Case("russian_locale", kCp866, {"a.zip"}, 0, 0, kPrivet, "", "", {{"LC_ALL", "ru_RU.UTF-8"}}),
    // list --verbose names the set each name was read in.
    Case("russian_names_listed", kCp866, {"list", "--verbose", "--language", "Russian", "a.zip"}, 0,
         0,
         "        Size       Packed  Method    Enc         CRC-32  Modified             Names    "
         "     Name\n           7            9  deflate   -         080215c4  1980-01-01 00:00:00"
         "  CP866         ПРИВЕТ\n------------ ------------                                      "
         "                             -------\n           7            9                        "
         "                                           1 file\n",
         ""),
    // Six KOI8-R letters are too few for the statistical detector alone: the user's language
    // decides among its sets.  windows-1255 keeps back its last letter until the end; unmarked
    // UTF-16 without ASCII (so without NUL bytes) is read by the blocks its units fall in.
    Case("russian_short_text", Zip({{"m.txt", test::Encode("ПРИВЕТ", "KOI8-R")}}),
         {"--no-labels", "--language", "Russian", "a.zip"}, 0, 0, "ПРИВЕТ\n", ""),
    Case("cp1255_last_letter", Zip({{"m.txt", test::Encode("שלום עולם", "CP1255")}}),
         {"--no-labels", "--charset", "cp1255", "a.zip"}, 0, 0, "שלום עולם\n", ""),
    Case("utf16_unmarked_japanese",
         Zip({{"m.txt", test::Encode(test::kTextSamples[0].text, "UTF-16BE")}}),
         {"--no-labels", "a.zip"}, 0, 0, std::string(test::kTextSamples[0].text) + "\n", ""),
    // Members of a few MiB, deflated and stored: handed to the host whole.
    Case("large_members", kMiB, {"--no-labels", "a.zip"}, 0, 0,
         Repeat("deflated\n", 300000) + "\n" + Repeat("stored\n", 300000) + "\n", ""),
    Case("version", kA, {"--version"}, 0, 0, "ziptext 5.0.0\n", ""),
    Usage("strict_russian", {"--strict", "--language", "ru", "a.zip"}),
    Usage("unknown_option", {"--bogus", "a.zip"}),
    Usage("strict_with_password", {"--strict", "--password", "pw", "a.zip"}),
    Usage("size_over_32_bits", {"--max-size", "4294967296", "a.zip"}),
    Usage("two_archives", {"a.zip", "a.zip"}),
};
VTQ_ROWS(Tool, kCases);

class Tool : public ZiptextTest {};

// Split mode without -o: the texts in ./a.zip, named from the archive; a member named *.txt keeps
// its text apart from itself; a member two levels down.
TEST_F(Tool, SplitWithoutOutputAndHelp) {
    std::filesystem::create_directories(Work("in"));
    test::WriteFile(Work("in/a.zip"), kTree);
    EXPECT_EQ(Run({"--split", "in/a.zip"}).status, 0);
    EXPECT_EQ(Tree(Work("a.zip")), (Strings{"a.txt.txt", "d/", "d/e/", "d/e/b.txt"}));
    EXPECT_EQ(ReadFile(Work("a.zip/a.txt.txt")) + ReadFile(Work("a.zip/d/e/b.txt")), "alpha\nbeta");
    EXPECT_NE(Run({"--help"}).out.find("usage: ziptext"), std::string::npos);
}

// Three levels, text before and after each archive inside: the size limit counts every level's
// bytes in one count, the output (standard output or a file) stops exactly there.
TEST_F(Tool, NestedLevelsShareTheSizeLimit) {
    const std::string l3 = Zip({{"c.txt", "third level\n"}});
    const std::string l2 = Zip({{"b.txt", "second\n"}, {"l3.zip", l3}, {"b2.txt", "after\n"}});
    test::WriteFile(Work("a.zip"), Zip({{"a.txt", "first\n"}, {"l2.zip", l2}, {"z.md", "last\n"}}));
    const std::string text = Block("a.txt", "first\n") +
                             Block("l2.zip", Block("b.txt", "second\n") +
                                                 Block("l3.zip", Block("c.txt", "third level\n")) +
                                                 Block("b2.txt", "after\n")) +
                             Block("z.md", "last\n");
    const size_t full = text.size();
    for (size_t limit : {size_t{0}, text.find("third level") + 3, text.find("Filename: b.txt"),
                         text.find("Filename: b2.txt"), full - 1, full, full + 1}) {
        for (bool to_file : {false, true}) {
            SCOPED_TRACE("limit " + std::to_string(limit) + (to_file ? " file" : " stdout"));
            Strings args{"--strict", "--max-size", std::to_string(limit), "a.zip"};
            if (to_file) args.insert(args.end(), {"-o", "out.txt"});
            const RunResult r = Run(args);
            EXPECT_EQ(to_file ? ReadFile(Work("out.txt")) : r.out,
                      text.substr(0, std::min(limit, full)));
            EXPECT_EQ(r.Code(), limit >= full ? 0u : 3005u) << r.err;
        }
    }
    // Split mode: the nested level makes its own work directory beside the top-level one (named
    // from the output path) and leaves its texts there.
    test::WriteFile(Work("in.zip"),
                    Zip({{"a.txt", "first\n"}, {"l2.zip", Zip({{"b.txt", "second\n"}})}}));
    EXPECT_EQ(Run({"--split", "-o", "out.txt", "in.zip"}).status, 0);
    EXPECT_EQ(ReadFile(Work("in.zipDIR/a.txt.txt")) + ReadFile(Work("l2.zip/b.txt.txt")),
              "first\nsecond\n");
}

// Sixteen levels open, in both modes within the 1 MiB stack hosts give their workers; a ZIP member
// at the sixteenth gets 6000 like any member without a filter, and the rest of the text is still
// there.
TEST_F(Tool, NestingIsBoundedAtSixteenLevels) {
    if (!UnderMemcheck()) launcher_ = {"prlimit", "--stack=1048576", "--"};
    std::filesystem::create_directories(Work("s"));
    for (int levels : {16, 17}) {
        std::string inner = Zip({{"t.txt", "level " + std::to_string(levels)}});
        for (int k = levels - 1; k >= 1; --k)
            inner = Zip({{"t.txt", "level " + std::to_string(k)}, {"n.zip", inner}});
        test::WriteFile(Work("a.zip"), inner);
        const RunResult r = Run({"--strict", "--no-labels", "a.zip"});
        EXPECT_EQ(r.Code(), levels == 16 ? 0u : 6000u) << r.err;
        EXPECT_TRUE(r.out.find("level 16") != std::string::npos &&
                    r.out.find("level 17") == std::string::npos)
            << r.out;
        EXPECT_EQ(Run({"--split", "-o", "s/a.txt", "a.zip"}).status, levels == 16 ? 0 : 1);
    }
}

// List mode on the bundled sample: a nested archive, a Shift_JIS member name (in English read as
// ISO-8859-1).
TEST_F(Tool, ListTheSample) {
    const std::string sample =
        std::filesystem::path(__FILE__).parent_path() / "../../samples/sample.zip";
    RunResult r = Run({"list", "--strict", sample});
    EXPECT_TRUE(r.out.find("  no   docs/inner.zip\n") != r.out.npos &&
                r.out.find("  no   報告.txt\n") != r.out.npos)
        << r.out;
    r = Run({"list", "--strict", "--language", "English", sample});
    EXPECT_NE(r.out.find("  no   \xc2\x95\xc3\xb1\xc2\x8d\xc2\x90.txt\n"), r.out.npos) << r.out;
}

} // namespace
} // namespace vtq::e2e
