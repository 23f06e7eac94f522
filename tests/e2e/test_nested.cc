// test_nested.cc - archives inside archives: text, shared size limit, depth, log
#include <algorithm>

#include "tests/e2e/e2e.h"

namespace vtq::e2e {
namespace {

using e2e::PrintTo;
using test::ReadFile;

class Nested : public ZiptextTest {};

// Three levels, each with text before and after the archive inside it.
// The size limit counts every level's bytes in one running count: the
// output stops at exactly the limit wherever it falls (labels or text, at
// any level), and a limit of the whole output is not reached.  The nested
// levels write to the log the top level opened, between its lines.
TEST_F(Nested, ThreeLevelsShareTheSizeLimitAndTheLog) {
    const std::string l3 = Zip({{"c.txt", "third level\n"}});
    const std::string l2 = Zip({{"b.txt", "second\n"}, {"l3.zip", l3}, {"b2.txt", "after\n"}});
    test::WriteFile(Work("a.zip"), Zip({{"a.txt", "first\n"}, {"l2.zip", l2}, {"z.md", "last\n"}}));
    const std::string t2 = Block("b.txt", "second\n") +
                           Block("l3.zip", Block("c.txt", "third level\n")) + Block("b2.txt", "after\n");
    const std::string text = Block("a.txt", "first\n") + Block("l2.zip", t2) + Block("z.md", "last\n");
    const size_t full = text.size();
    for (size_t limit : {size_t{0}, text.find("third level") + 3, text.find("Filename: b.txt"),
                         text.find("Filename: b2.txt"), full - 1, full, full + 1}) {
        for (bool to_file : {false, true}) {
            SCOPED_TRACE("limit " + std::to_string(limit) + (to_file ? " file" : " stdout"));
            std::vector<std::string> args{"--strict", "--max-size", std::to_string(limit), "a.zip"};
            if (to_file) args.insert(args.end(), {"-o", "out.txt", "--log", "run.log"});
            const RunResult r = Run(args);
            EXPECT_EQ(to_file ? ReadFile(Work("out.txt")) : r.out, text.substr(0, std::min(limit, full)));
            EXPECT_EQ(r.Code(), limit >= full ? 0u : 3005u) << r.err;
        }
    }
    const std::string log = ReadFile(Work("run.log")); // the last run's, appended to
    const size_t last_run = log.rfind("vtq_zoZAZ gettext().\r\n");
    const size_t nested = log.find("vtq_zoZAZ gettext4().\r\n", last_run);
    ASSERT_NE(nested, std::string::npos) << log;
    EXPECT_LT(nested, log.rfind(".md\r\n")) << log; // z.md's member file comes last
    size_t members = 0; // a.txt, l2.zip, z.md; b.txt, l3.zip, b2.txt; c.txt
    for (size_t p = log.find("ptxt=", last_run); p != std::string::npos; p = log.find("ptxt=", p + 1))
        ++members;
    EXPECT_EQ(members, 7u) << log;
}

// An archive nested n levels deep (the top level counting as 1).
std::string Chain(int levels) {
    std::string inner = Zip({{"t.txt", "level " + std::to_string(levels)}});
    for (int k = levels - 1; k >= 1; --k)
        inner = Zip({{"t.txt", "level " + std::to_string(k)}, {"n.zip", inner}});
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
    r = Run({"--strict", "--no-labels", "d17.zip"});
    EXPECT_EQ(r.Code(), 6000u) << r.err;
    EXPECT_NE(r.out.find("level 16"), std::string::npos);
    EXPECT_EQ(r.out.find("level 17"), std::string::npos);
}

// A nested archive's outcome is the member's code (KeepGoing goes on after
// it), except that one without file members counts as an empty text.
struct InnerCase {
    const char *label;
    std::string inner;
    uint32_t code;
    const char *inner_text;
};

class NestedOutcome : public ZiptextTest, public ::testing::WithParamInterface<InnerCase> {};

TEST_P(NestedOutcome, BecomesTheMembersCode) {
    const InnerCase &c = GetParam();
    test::WriteFile(Work("a.zip"), Zip({{"in.zip", c.inner}, {"z.txt", "last\n"}}));
    const RunResult r = Run({"--strict", "--no-labels", "a.zip"});
    EXPECT_EQ(r.Code(), c.code) << r.err;
    EXPECT_NE(r.out.find("last\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(c.inner_text), std::string::npos) << r.out;
}

std::string BadCrc() {
    test::ZipArchive z;
    z.Add("x.txt", "x\n", 8).crc = 7;
    return z.Build();
}

INSTANTIATE_TEST_SUITE_P(
    E2E, NestedOutcome,
    ::testing::Values(InnerCase{"directories_only", Zip({{"d/", ""}}), 0, ""},
                      InnerCase{"binary_member", Zip({{"b", std::string(2, '\0')}, {"t", "kept"}}), 6000, "kept"},
                      InnerCase{"damaged", BadCrc(), 6003, ""}),
    [](const auto &row) { return std::string(row.param.label); });

// Split mode: the nested level makes its own work directory beside the
// top-level one (from the top-level output path) and leaves its texts there.
TEST_F(Nested, SplitModeKeepsNestedTextsInTheirOwnDirectory) {
    test::WriteFile(Work("in.zip"), Zip({{"a.txt", "first\n"}, {"l2.zip", Zip({{"b.txt", "second\n"}})}}));
    const RunResult r = Run({"--split", "-o", "out.txt", "in.zip"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(Work("in.zipDIR/a.txt.txt")), "first\n");
    EXPECT_EQ(ReadFile(Work("l2.zip/b.txt.txt")), "second\n");
}

} // namespace
} // namespace vtq::e2e
