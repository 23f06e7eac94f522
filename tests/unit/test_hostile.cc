// test_hostile.cc - a small archive cut short at every byte
//
// Every prefix of a small archive (directories, stored and deflated
// members, a comment) goes through the file entry point in compose, split
// and flat mode.  Each must end with a documented code, give back every
// allocation, leave nothing in the temporary directory and nothing outside
// the output directory.  Where the cut falls decides the code.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"
#include "vtq/zozaz.h"

namespace fs = std::filesystem;

namespace vtq::test {
namespace {

class Truncated : public HostTest {};

TEST_F(Truncated, EveryPrefixEndsWithADocumentedCode) {
    ZipArchive a;
    a.Add("d/");
    a.Add("d/a.txt", "stored text\n");
    a.Add("b.txt", std::string(400, 'b') + "\n", 8);
    a.comment = "cut";
    const std::string whole = a.Build();
    const size_t end_record = whole.rfind("PK\x05\x06");
    ASSERT_NE(end_record, std::string::npos);

    fs::create_directories(Path("in"));
    fs::create_directories(Path("out"));
    const std::string archive = Path("in/a.zip"), out = Path("out/a.txt");
    for (uint32_t mode : {VTQ_MODE_COMPOSE, 0u, VTQ_MODE_FLAT}) {
        for (size_t cut = 0; cut < whole.size(); ++cut) {
            const std::string trace = "mode " + std::to_string(mode) + ", " +
                                      std::to_string(cut) + " of " +
                                      std::to_string(whole.size()) + " bytes";
            WriteFile(archive, whole.substr(0, cut));
            TxtOptions opts{};
            opts.ModeFlags = VTQ_MODE_ENABLED | VTQ_MODE_KEEP_GOING | mode;
            const uint32_t r = GetTextWithErrCallback(archive.c_str(), out.c_str(), &opts,
                                                      nullptr, 0);
            EXPECT_EQ(host().live_allocs, 0) << trace;
            EXPECT_TRUE(MemoryFiles().empty()) << trace;
            for (const std::string &p : Tree())
                EXPECT_TRUE(p == "in/" || p == "in/a.zip" || p.rfind("out/", 0) == 0)
                    << trace << ": " << p;
            // Where the cut falls decides the code: without the local
            // header's signature the file is no archive (2001); until the
            // end record's directory offset is whole there is no directory
            // to read (no signature: 23, or fields cut off that read as 0
            // and disagree: 3100; both 3100 from the loop, reported as
            // 6003); with only the comment length or the comment cut off
            // the archive is whole.
            const uint32_t want = cut < 4 ? 2001 : cut < end_record + 20 ? 6003 : 0;
            EXPECT_EQ(r, want) << trace;
            for (const auto &e : fs::directory_iterator(Path("out"))) fs::remove_all(e.path());
        }
    }
}

} // namespace
} // namespace vtq::test
