// test_failures.cc - what ziptext reports for bad members, bad archives, bad usage
#include "tests/e2e/e2e.h"

namespace vtq::e2e {
namespace {

using e2e::PrintTo;
using Strings = std::vector<std::string>;

const std::string kBinary("\x89PNG\r\n\x1a\n\0\0\0\x0d", 12);

class Failures : public ZiptextTest {};

// KeepGoing (the default) extracts every member that can be read and
// reports the failed ones, each on a line of its own and then counted
// (--quiet: only the count), or --strict with the documented line;
// --stop-on-error stops there, and a composed output file is then removed.
TEST_F(Failures, KeepGoingAndStopOnError) {
    test::ZipArchive z;
    z.Add("a.txt", "alpha\n", 8);
    z.Add("bin.dat", kBinary, 8);
    z.Add("bad.txt", "beta\n", 8).crc = 1;
    z.Add("n.zip", Zip({{"x.dat", kBinary}, {"y.txt", "yes\n"}}));
    z.Add("c.txt", "gamma\n", 8);
    test::WriteFile(Work("a.zip"), z.Build());
    const std::string composed = Block("a.txt", "alpha\n") + "Filename: bin.dat\nContent: \n" +
                                 "Filename: n.zip\nContent: \nFilename: x.dat\nContent: \n" + Block("y.txt", "yes\n") +
                                 Block("c.txt", "gamma\n");
    const std::string count = "ziptext: a.zip: 3 of 7 members failed\n";
    RunResult r = Run({"a.zip"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ziptext: a.zip: bin.dat: no text filter for png (code 6000)\n"
                     "ziptext: a.zip: bad.txt: CRC mismatch, text skipped (code 3102)\n"
                     "ziptext: a.zip: n.zip: x.dat: no text filter for png (code 6000)\n" + count);
    EXPECT_EQ(r.out, composed);
    r = Run({"--quiet", "a.zip"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, count);
    EXPECT_EQ(r.out, composed);
    test::WriteFile(Work("a.zip"), Zip({{"a.txt", "alpha\n"}, {"bin.dat", kBinary}, {"c.txt", "gamma\n"}}));
    r = Run({"--strict", "a.zip"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ziptext: a.zip: a member has no text filter (neither text nor an archive) (code 6000)\n");
    EXPECT_EQ(r.out, Block("a.txt", "alpha\n") + "Filename: bin.dat\nContent: \n" + Block("c.txt", "gamma\n"));
    r = Run({"--strict", "--stop-on-error", "a.zip"});
    EXPECT_EQ(r.Code(), 6000u);
    EXPECT_EQ(r.out.find("gamma"), std::string::npos);
    EXPECT_EQ(Run({"--strict", "--stop-on-error", "a.zip", "-o", "out.txt"}).Code(), 6000u);
    EXPECT_EQ(Tree(Work()), Strings{"a.zip"});
    // One member without a filter: split mode removes the useless work
    // directory; composed without labels the empty output goes (6002).
    test::WriteFile(Work("b.zip"), Zip({{"bin.dat", kBinary}}));
    EXPECT_EQ(Run({"--strict", "--split", "b.zip"}).Code(), 6000u);
    EXPECT_EQ(Run({"--strict", "--no-labels", "b.zip", "-o", "out.txt"}).Code(), 6002u);
    EXPECT_EQ(Tree(Work()), (Strings{"a.zip", "b.zip"}));
}

// Each row: an archive and the one line ziptext prints for it.
struct BadArchive {
    const char *label;
    std::string bytes; // empty: no file at all
    Strings extra_args;
    std::string message;
};

class BadArchives : public ZiptextTest, public ::testing::WithParamInterface<BadArchive> {};

TEST_P(BadArchives, ReportOneLineWithTheCode) {
    const BadArchive &c = GetParam();
    if (!c.bytes.empty()) test::WriteFile(Work("x.zip"), c.bytes);
    for (bool to_file : {false, true}) {
        Strings args = c.extra_args;
        args.insert(args.begin(), "--strict");
        args.push_back("x.zip");
        if (to_file) args.insert(args.end(), {"-o", "out.txt"});
        const RunResult r = Run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "ziptext: " + c.message + "\n");
    }
}

std::string Edited(void (*edit)(test::ZipArchive &)) {
    test::ZipArchive z;
    z.Add("a.txt", "alpha\n", 8);
    edit(z);
    return z.Build();
}

INSTANTIATE_TEST_SUITE_P(
    E2E, BadArchives,
    ::testing::Values(
        BadArchive{"missing", "", {}, "cannot open 'x.zip': No such file or directory (code 22)"},
        BadArchive{"not_zip", "hello, world\n", {},
                   "x.zip: not a ZIP archive: the file does not begin with a local file header (code 2001)"},
        BadArchive{"encrypted", Edited([](test::ZipArchive &z) { z.Add("s.txt", "hidden\n", 8).password = "pw"; }),
                   {}, "x.zip: an encrypted member, and no password (code 3001)"},
        BadArchive{"bad_crc", Edited([](test::ZipArchive &z) { z.members[0].crc = 1; }), {},
                   "x.zip: the archive is damaged (code 6003)"},
        BadArchive{"directories_only", Zip({{"d/", ""}, {"d/e/", ""}}), {}, "x.zip: no text was produced (code 6002)"},
        // The member needs 10000 bytes; the cap allows 5000, enough for
        // everything else an extraction allocates.
        BadArchive{"member_over_cap", Zip({{"a.txt", std::string(10000, 'x')}}), {"--max-member-size", "5000"},
                   "x.zip: memory exhausted (a member may be larger than the member-size cap of 5000 bytes; "
                   "see --max-member-size) (code 12)"}),
    [](const auto &row) { return std::string(row.param.label); });

TEST_F(Failures, UsageErrorsExitWithTwo) {
    test::WriteFile(Work("a.zip"), Zip({{"a.txt", "alpha\n"}}));
    for (const Strings &args : {Strings{"-", "-"}, Strings{"--bogus", "a.zip"},
                                Strings{"--strict", "--password", "pw", "a.zip"}, Strings{"--json", "--split", "a.zip"}, Strings{"--encoding", "ebcdic", "a.zip"},
                                Strings{"--eol", "lfcr", "a.zip"}, Strings{"--max-size", "4294967296", "a.zip"},
                                Strings{"--jobs", "0", "--out-dir", "o", "a.zip"}, Strings{"a.zip", "a.zip"},
                                Strings{"list", "a.zip", "a.zip"}}) {
        const RunResult r = Run(args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("ziptext: ", 0), 0u) << r.err;
    }
    EXPECT_NE(Run({"--help"}).out.find("usage: ziptext"), std::string::npos);
    EXPECT_EQ(Run({"--version"}).out, "ziptext 5.0.0\n");
}

// A library file in the directory the tool runs in is never loaded: the
// run paths name the tool's own folders only, with no empty entry (which
// the loader takes as the current directory).
TEST_F(Failures, LibrariesInTheCurrentDirectoryAreNotLoaded) {
    test::WriteFile(Work("a.zip"), Zip({{"a.txt", "alpha\n"}}));
    for (const char *lib : {"libz.so.1", "libdeflate.so.0", "libstdc++.so.6", "libvtq_zozaz.so.5",
                            "libvtq_txif.so.5", "libvtq_oscomm.so.5"}) {
        test::WriteFile(Work(lib), "garbage");
    }
    const RunResult r = Run({"a.zip"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, Block("a.txt", "alpha\n"));
}

} // namespace
} // namespace vtq::e2e
