// test_hostile.cc - a small archive cut short at every byte, in compose,
// split and flat mode: the cut decides the code, and every allocation comes
// back with nothing left in the temporary store or outside out/
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"
#include "vtq/zozaz.h"

namespace vtq::test {
namespace {

class Truncated : public HostTest {};

TEST_F(Truncated, EveryPrefixEndsWithADocumentedCode) {
    ZipArchive a;
    a.Add("d/");
    a.Add("d/a.txt", "stored text\n");
    a.Add("b.txt", std::string(400, 'b') + "\n", 8);
    a.comment = "cut";
    const std::string whole = a.Build(), archive = Path("in/a.zip"), out = Path("out/a.txt");
    const size_t end_record = whole.rfind("PK\x05\x06");
    std::filesystem::create_directories(Path("in"));
    for (uint32_t mode : {VTQ_MODE_COMPOSE, 0u, VTQ_MODE_FLAT}) {
        for (size_t cut = 0; cut < whole.size(); ++cut) {
            SCOPED_TRACE("mode " + std::to_string(mode) + ", " + std::to_string(cut) + " bytes");
            std::filesystem::remove_all(Path("out"));
            std::filesystem::create_directories(Path("out"));
            WriteFile(archive, whole.substr(0, cut));
            TxtOptions opts{};
            opts.ModeFlags = VTQ_MODE_ENABLED | VTQ_MODE_KEEP_GOING | mode;
            // No local signature: no archive; until the end record's
            // directory offset is whole, no directory (6003); past it, only
            // the comment is cut.
            EXPECT_EQ(GetTextWithErrCallback(archive.c_str(), out.c_str(), &opts, nullptr, 0),
                      cut < 4 ? 2001u : cut < end_record + 20 ? 6003u : 0u);
            EXPECT_EQ(host().live_allocs, 0);
            EXPECT_TRUE(MemoryFiles().empty());
            for (const std::string &p : Tree())
                EXPECT_TRUE(p == "in/" || p == "in/a.zip" || p.rfind("out/", 0) == 0) << p;
        }
    }
}

} // namespace
} // namespace vtq::test
