// test_nested.cc - archives inside archives: text, shared size limit, depth, log
#include <algorithm>

#include "tests/e2e/e2e.h"

namespace vtq::e2e {
namespace {

using e2e::PrintTo; // rows print as their label

using test::ReadFile;

std::string Block(const std::string &name, const std::string &text) {
    return "Filename: " + name + "\nContent: \n" + text + "\n";
}

// Three levels, each with text before and after the archive inside it.
struct ThreeLevels {
    std::string zip;
    std::string text; // the whole composed output
    ThreeLevels() {
        std::string l3 = Zip({{"c.txt", "third level\n"}});
        std::string l2 = Zip({{"b.txt", "second\n"}, {"l3.zip", l3}, {"b2.txt", "after third\n"}});
        zip = Zip({{"a.txt", "first\n"}, {"l2.zip", l2}, {"z.txt", "last\n"}});
        std::string t3 = Block("c.txt", "third level\n");
        std::string t2 = Block("b.txt", "second\n") + Block("l3.zip", t3) +
                         Block("b2.txt", "after third\n");
        text = Block("a.txt", "first\n") + Block("l2.zip", t2) + Block("z.txt", "last\n");
    }
};

class Nested : public ZiptextTest {};

TEST_F(Nested, ThreeLevelsComposeInOrder) {
    ThreeLevels t;
    test::WriteFile(Work("a.zip"), t.zip);
    RunResult r = Run({"a.zip"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, t.text);
    r = Run({"a.zip", "-o", "out.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(Work("out.txt")), t.text);
}

// The size limit counts every level's bytes in one running count: the
// output stops at exactly the limit wherever it falls (labels or text, at
// any level), and a limit equal to the whole output is not reached.
TEST_F(Nested, SizeLimitIsSharedAcrossLevels) {
    ThreeLevels t;
    test::WriteFile(Work("a.zip"), t.zip);
    const std::size_t full = t.text.size();
    const std::size_t in_l3_text = t.text.find("third level") + 3;
    const std::size_t at_l2_label = t.text.find("Filename: b.txt");
    const std::size_t after_l3 = t.text.find("Filename: b2.txt");
    for (std::size_t limit : {std::size_t{0}, in_l3_text, at_l2_label, after_l3, full - 1, full,
                              full + 1}) {
        for (bool to_file : {false, true}) {
            SCOPED_TRACE("limit " + std::to_string(limit) + (to_file ? " file" : " stdout"));
            std::vector<std::string> args{"--max-size", std::to_string(limit), "a.zip"};
            if (to_file) args.insert(args.end(), {"-o", "out.txt"});
            RunResult r = Run(args);
            std::string got = to_file ? ReadFile(Work("out.txt")) : r.out;
            EXPECT_EQ(got, t.text.substr(0, std::min(limit, full)));
            if (limit >= full) {
                EXPECT_EQ(r.status, 0) << r.err;
            } else {
                EXPECT_EQ(r.status, 1);
                EXPECT_EQ(r.Code(), 3005u) << r.err;
            }
        }
    }
}

// An archive nested n levels deep (the top level counting as 1), each
// level with one text and the next archive.
std::string Chain(int levels) {
    std::string inner = Zip({{"t" + std::to_string(levels) + ".txt", "level " +
                                                                       std::to_string(levels)}});
    for (int k = levels - 1; k >= 1; --k)
        inner = Zip({{"t" + std::to_string(k) + ".txt", "level " + std::to_string(k)},
                     {"n.zip", inner}});
    return inner;
}

// Sixteen levels open; a ZIP member at the sixteenth gets 6000 like any
// member without a filter, and the rest of the text is still there.
TEST_F(Nested, DepthIsBoundedAtSixteenLevels) {
    test::WriteFile(Work("d16.zip"), Chain(16));
    test::WriteFile(Work("d17.zip"), Chain(17));
    RunResult r = Run({"--no-labels", "d16.zip"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("level 16"), std::string::npos);

    r = Run({"--no-labels", "d17.zip"});
    EXPECT_EQ(r.Code(), 6000u) << r.err;
    EXPECT_NE(r.out.find("level 16"), std::string::npos);
    EXPECT_EQ(r.out.find("level 17"), std::string::npos);
}

// A nested level closes the log handle it shares with the level above; the
// enclosing level's later lines must still arrive, after the nested ones.
TEST_F(Nested, LogShowsBothLevelsInOrder) {
    std::string l2 = Zip({{"b.txt", "second\n"}});
    test::WriteFile(Work("a.zip"), Zip({{"a.txt", "first\n"}, {"l2.zip", l2}, {"z.md", "z\n"}}));
    RunResult r = Run({"--log", "run.log", "a.zip", "-o", "out.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string log = ReadFile(Work("run.log"));
    std::size_t top = log.find("vtq_zoZAZ gettext().\r\n");
    std::size_t nested = log.find("vtq_zoZAZ gettext4().\r\n");
    std::size_t last_member = log.rfind(".md\r\n"); // z.md's member file, the top level's last
    ASSERT_NE(top, std::string::npos) << log;
    ASSERT_NE(nested, std::string::npos) << log;
    ASSERT_NE(last_member, std::string::npos) << log;
    EXPECT_LT(top, nested);
    EXPECT_LT(nested, last_member);
    std::size_t members = 0;
    for (std::size_t p = log.find("ptxt="); p != std::string::npos; p = log.find("ptxt=", p + 1))
        ++members;
    EXPECT_EQ(members, 4u) << log; // a.txt, l2.zip, b.txt inside, z.md
}

// What a nested archive's own outcome makes of the whole extraction: its
// code is the member's code (KeepGoing goes on after it), except that a
// nested archive without file members counts as an empty text.
struct InnerCase {
    const char *label;
    std::string inner;
    uint32_t code;
    const char *inner_text; // expected in the output, or null
};

class NestedOutcome : public ZiptextTest, public ::testing::WithParamInterface<InnerCase> {};

TEST_P(NestedOutcome, BecomesTheMembersCode) {
    const InnerCase &c = GetParam();
    test::WriteFile(Work("a.zip"), Zip({{"in.zip", c.inner}, {"z.txt", "last\n"}}));
    RunResult r = Run({"--no-labels", "a.zip"});
    EXPECT_EQ(r.status == 0 ? 0u : r.Code(), c.code) << r.err;
    EXPECT_NE(r.out.find("last\n"), std::string::npos);
    if (c.inner_text != nullptr) {
        EXPECT_NE(r.out.find(c.inner_text), std::string::npos);
    }
}

std::string InnerWithBadCrc() {
    test::ZipArchive z;
    z.Add("x.txt", "x\n", 8).crc = 7;
    return z.Build();
}

INSTANTIATE_TEST_SUITE_P(
    E2E, NestedOutcome,
    ::testing::Values(InnerCase{"directories_only", Zip({{"d/", ""}}), 0, nullptr},
                      InnerCase{"binary_member", Zip({{"b", std::string(2, '\0')}, {"t", "kept"}}),
                                6000, "kept"},
                      InnerCase{"damaged", InnerWithBadCrc(), 6003, nullptr}),
    [](const auto &row) { return std::string(row.param.label); });

// Split mode: the nested level makes its own work directory beside the
// top-level one (from the top-level output path) and leaves its texts there.
TEST_F(Nested, SplitModeKeepsNestedTextsInTheirOwnDirectory) {
    std::string l2 = Zip({{"b.txt", "second\n"}});
    test::WriteFile(Work("in.zip"), Zip({{"a.txt", "first\n"}, {"l2.zip", l2}}));
    RunResult r = Run({"--split", "-o", "out.txt", "in.zip"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(Work("in.zipDIR/a.txt.txt")), "first\n");
    EXPECT_EQ(ReadFile(Work("l2.zip/b.txt.txt")), "second\n");
}

} // namespace
} // namespace vtq::e2e
