// test_corpus.cc - the reader and the extraction loop on archives made by
// others: per MANIFEST.tsv, what the end-record check alone returns
// (fmt_chk), and what the loop returns in compose mode (expect) with how
// many members it handed off (members)
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "vtq/zozaz.h"

namespace vtq::test {
namespace {

class Corpus : public HostTest {};

TEST_F(Corpus, EveryArchiveAsTheManifestSays) {
    const std::string dir = CorpusDir();
    if (dir.empty()) GTEST_SKIP() << "no corpus";
    std::ifstream manifest(dir + "/MANIFEST.tsv");
    auto code = [](const std::string &s) { return s == "ok" ? 0u : static_cast<uint32_t>(std::stoul(s)); };
    TxtOptions opts{};
    opts.ModeFlags = VTQ_MODE_ENABLED | VTQ_MODE_COMPOSE;
    const std::string out = Path("out.txt");
    size_t rows = 0;
    std::string line;
    std::getline(manifest, line); // the header
    while (std::getline(manifest, line)) {
        std::vector<std::string> c;
        std::stringstream ss(line);
        for (std::string col; std::getline(ss, col, '\t');) c.push_back(col);
        if (c.size() < 11) continue;
        SCOPED_TRACE(c[0]);
        ++rows;
        const std::string archive = dir + "/" + c[0];
        VTQ_FILE *f = VTQ_FileOpen(archive.c_str(), "rb");
        ZipDirPos pos{};
        uint32_t count = 0;
        EXPECT_EQ(VtqZip_FormatChk(f, &pos, &count), code(c[8]));
        VTQ_FileClose(f);
        auto bus = LoopBus(&opts, out);
        host().member_calls.clear();
        EXPECT_EQ(RunLoop(archive, bus.get()), code(c[9]));
        EXPECT_EQ(host().member_calls.size(), code(c[10]));
        EXPECT_EQ(host().live_allocs, 0);
        EXPECT_TRUE(MemoryFiles().empty());
    }
    EXPECT_GE(rows, 100u);
}

} // namespace
} // namespace vtq::test
