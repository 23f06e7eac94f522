// test_corpus.cc - the reader and the extraction loop on archives made by others
//
// Every archive of the bundled corpus, with the outcome its MANIFEST.tsv
// records: what the end-record check alone returns (fmt_chk), and what the
// extraction loop returns in compose mode with a host that accepts every
// member (expect), with how many members were handed off (members).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "vtq/zozaz.h"

namespace vtq::test {
namespace {

struct Row {
    std::string file;
    uint32_t fmt_chk = 0, expect = 0, members = 0;
};

// "ok" is 0; anything else is the number it spells.
uint32_t Code(const std::string &s) { return s == "ok" ? 0u : static_cast<uint32_t>(std::stoul(s)); }

// The manifest's rows, its columns found by their names in the first line.
std::vector<Row> Manifest(const std::string &dir) {
    std::ifstream in(dir + "/MANIFEST.tsv");
    std::vector<std::vector<std::string>> lines;
    for (std::string line; std::getline(in, line);) {
        std::stringstream ss(line);
        lines.emplace_back();
        for (std::string c; std::getline(ss, c, '\t');) lines.back().push_back(c);
    }
    std::vector<Row> rows;
    if (lines.empty()) return rows;
    const std::vector<std::string> &head = lines[0];
    auto at = [&](const char *name) { return std::find(head.begin(), head.end(), name) - head.begin(); };
    const auto file = at("file"), fmt_chk = at("fmt_chk"), expect = at("expect"), members = at("members");
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string> &c = lines[i];
        if (static_cast<size_t>(members) >= c.size()) continue;
        rows.push_back({c[file], Code(c[fmt_chk]), Code(c[expect]), Code(c[members])});
    }
    return rows;
}

class Corpus : public HostTest {};

TEST_F(Corpus, EveryArchiveAsTheManifestSays) {
    const std::string dir = CorpusDir();
    if (dir.empty()) GTEST_SKIP() << "no corpus";
    const std::vector<Row> rows = Manifest(dir);
    ASSERT_GE(rows.size(), 100u);
    TxtOptions opts{};
    opts.ModeFlags = VTQ_MODE_ENABLED | VTQ_MODE_COMPOSE;
    const std::string out = Path("out.txt");
    for (const Row &row : rows) {
        SCOPED_TRACE(row.file);
        const std::string archive = dir + "/" + row.file;
        VTQ_FILE *f = VTQ_FileOpen(archive.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        ZipDirPos pos{};
        uint32_t count = 0;
        EXPECT_EQ(VtqZip_FormatChk(f, &pos, &count), row.fmt_chk);
        VTQ_FileClose(f);

        auto bus = LoopBus(&opts, out);
        host().member_calls.clear();
        MemberRecord *records = nullptr;
        EXPECT_EQ(VtqZip_GetUnCompressFile(archive.c_str(), &count, &records, bus.get()), row.expect);
        VTQ_FileClose(bus->OutFile);
        EXPECT_EQ(host().member_calls.size(), row.members);
        for (uint32_t i = 0; records != nullptr && i < count; ++i) VTQ_free(records[i].Name);
        VTQ_free(records);
        EXPECT_EQ(host().live_allocs, 0);
        EXPECT_TRUE(TmpFiles().empty());
    }
}

} // namespace
} // namespace vtq::test
