// test_failures.cc - what ziptext reports for bad members, bad archives, bad usage
#include "tests/e2e/e2e.h"

namespace vtq::e2e {
namespace {

using e2e::PrintTo; // rows print as their label

using test::ReadFile;

const std::string kBinary("\x89PNG\0\0\0\x0d", 8);

class Failures : public ZiptextTest {};

// KeepGoing (the default) extracts every member that can be read and
// reports the failed one; --stop-on-error stops there, and a composed
// output file is then removed.
TEST_F(Failures, KeepGoingAndStopOnError) {
    test::WriteFile(Work("a.zip"),
                    Zip({{"a.txt", "alpha\n"}, {"bin.dat", kBinary}, {"c.txt", "gamma\n"}}));
    RunResult r = Run({"a.zip"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "ziptext: a.zip: a member has no text filter (neither text nor an archive) "
              "(code 6000)\n");
    EXPECT_EQ(r.out, "Filename: a.txt\nContent: \nalpha\n\n"
                     "Filename: bin.dat\nContent: \n"
                     "Filename: c.txt\nContent: \ngamma\n\n");

    r = Run({"--stop-on-error", "a.zip"});
    EXPECT_EQ(r.Code(), 6000u);
    EXPECT_EQ(r.out.find("gamma"), std::string::npos);

    r = Run({"--stop-on-error", "a.zip", "-o", "out.txt"});
    EXPECT_EQ(r.Code(), 6000u);
    EXPECT_EQ(Tree(Work()), std::vector<std::string>{"a.zip"});

    // Split mode, KeepGoing, a single member without a filter: 6000 and
    // the then useless work directory is gone.
    test::WriteFile(Work("b.zip"), Zip({{"bin.dat", kBinary}}));
    r = Run({"--split", "b.zip"});
    EXPECT_EQ(r.Code(), 6000u);
    // Composed without labels, nothing at all reaches the output file:
    // it is removed and the result is 6002.
    r = Run({"--no-labels", "b.zip", "-o", "out.txt"});
    EXPECT_EQ(r.Code(), 6002u);
    EXPECT_EQ(Tree(Work()), (std::vector<std::string>{"a.zip", "b.zip"}));
}

// Each row: an archive and the line ziptext prints for it.
struct BadArchive {
    const char *label;
    std::function<std::string()> bytes; // null: no file at all
    std::vector<std::string> extra_args;
    std::string message;
};

class BadArchives : public ZiptextTest, public ::testing::WithParamInterface<BadArchive> {};

TEST_P(BadArchives, ReportOneLineWithTheCode) {
    const BadArchive &c = GetParam();
    if (c.bytes) test::WriteFile(Work("x.zip"), c.bytes());
    std::vector<std::string> args = c.extra_args;
    args.push_back("x.zip");
    for (bool to_file : {false, true}) {
        std::vector<std::string> a = args;
        if (to_file) a.insert(a.end(), {"-o", "out.txt"});
        RunResult r = Run(a);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.err, "ziptext: x.zip: " + c.message + "\n");
    }
}

std::string Encrypted() {
    test::ZipArchive z;
    z.Add("a.txt", "alpha\n", 8);
    z.Add("secret.txt", "hidden\n", 8).password = "pw";
    return z.Build();
}
std::string BadCrc() {
    test::ZipArchive z;
    z.Add("a.txt", "alpha\n", 8).crc = 0x12345678;
    return z.Build();
}
std::string BadDeflate() {
    test::ZipArchive z;
    z.Add("a.txt", "alpha alpha alpha\n", 8).raw = std::string("\xff\xff\xff\xff", 4);
    return z.Build();
}
std::string DirectoriesOnly() {
    test::ZipArchive z;
    z.Add("d/");
    z.Add("d/e/");
    return z.Build();
}

INSTANTIATE_TEST_SUITE_P(
    E2E, BadArchives,
    ::testing::Values(
        BadArchive{"missing", nullptr, {}, "a file could not be opened (code 22)"},
        BadArchive{"not_zip", [] { return std::string("hello, world\n"); }, {},
                   "not a ZIP archive: the file does not begin with a local file header "
                   "(code 2001)"},
        BadArchive{"encrypted", Encrypted, {}, "an encrypted member, and no password (code 3001)"},
        BadArchive{"bad_crc", BadCrc, {}, "the archive is damaged (code 6003)"},
        BadArchive{"bad_deflate", BadDeflate, {}, "the archive is damaged (code 6003)"},
        BadArchive{"truncated", [] { return Zip({{"a.txt", "alpha\n"}}).substr(0, 40); }, {},
                   "the archive is damaged (code 6003)"},
        BadArchive{"directories_only", DirectoriesOnly, {}, "no text was produced (code 6002)"},
        // The member needs 10000 bytes; the cap allows 5000, enough for
        // everything else an extraction allocates.
        BadArchive{"member_over_cap", [] { return Zip({{"a.txt", std::string(10000, 'x')}}); },
                   {"--max-member-size", "5000"},
                   "memory exhausted (a member may be larger than the member-size cap of 5000 "
                   "bytes; see --max-member-size) (code 12)"}),
    [](const auto &row) { return std::string(row.param.label); });

TEST_F(Failures, UsageErrorsExitWithTwo) {
    test::WriteFile(Work("a.zip"), Zip({{"a.txt", "alpha\n"}}));
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {},
             {"--bogus", "a.zip"},
             {"--encoding", "ebcdic", "a.zip"},
             {"--eol", "lfcr", "a.zip"},
             {"--max-size", "4294967296", "a.zip"},
             {"--jobs", "0", "--out-dir", "o", "a.zip"},
             {"a.zip", "a.zip"},
             {"list", "a.zip", "a.zip"}}) {
        RunResult r = Run(args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("ziptext: ", 0), 0u) << r.err;
    }
    RunResult r = Run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("usage: ziptext"), std::string::npos);
    r = Run({"--version"});
    EXPECT_EQ(r.out, "ziptext 5.0.0\n");
}

} // namespace
} // namespace vtq::e2e
