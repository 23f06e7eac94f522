// test_workdir.cc - work directory names, tree removal and pruning, on disk
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "tests/support/fixture.h"
#include "vtq/zozaz.h"

namespace vtq::test {
namespace {

namespace fs = std::filesystem;
using Tree_ = std::vector<std::string>;

class Workdir : public HostTest {
protected:
    // Lays out entries under the test directory: "x/" a directory, "x" an
    // empty file, "x=text" a file holding text.
    void Build(const Tree_ &entries) {
        for (const std::string &e : entries) {
            if (e.back() == '/') {
                fs::create_directories(Path(e));
                continue;
            }
            size_t eq = e.find('=');
            std::ofstream(Path(e.substr(0, eq)), std::ios::binary)
                << (eq == std::string::npos ? "" : e.substr(eq + 1));
        }
    }
    // Empties the test directory (its tmp/ folder aside).
    void Clear() {
        for (const auto &e : fs::directory_iterator(dir()))
            if (e.path().filename() != "tmp") fs::remove_all(e.path());
    }
    std::unique_ptr<ZipBus> bus_ = std::make_unique<ZipBus>();
    char buf_[VTQ_PATH_MAX] = {};
    void SetBuf(const std::string &p) { std::snprintf(buf_, sizeof buf_, "%s", p.c_str()); }
};

TEST_F(Workdir, MakePathNaming) {
    // made: the directory that must exist afterwards, and the buffer;
    // dir_base "" when untouched; mkdir_fault: the nth VTQ_MkDir fails.
    const struct {
        const char *what;
        int mode;
        Tree_ existing;
        const char *request;
        int32_t result;
        const char *made;
        uint32_t dir_counter;
        const char *dir_base;
        int mkdir_fault = 0;
    } cases[] = {
        {"unique, free", 1, {}, "P", 0, "P", 0, ""},
        {"unique, file holds P", 1, {"P"}, "P", 0, "PDIR", 1, "PDIR"},
        {"unique, PDIR taken", 1, {"P/", "PDIR"}, "P", 0, "PDIR1", 2, "PDIR"},
        {"unique, PDIR1 taken", 1, {"P", "PDIR/", "PDIR1/"}, "P", 0, "PDIR2", 3, "PDIR"},
        {"unique, parent missing", 1, {}, "no/P", -1, "no/P", 0, ""},
        {"plain, free", 0, {}, "P", 0, "P", 0, ""},
        {"plain, file holds P", 0, {"P"}, "P", 0, "PDIR", 0, ""},
        {"plain, file holds PDIR too", 0, {"P", "PDIR"}, "P", 27, "PDIR", 0, ""},
        {"plain, already a directory", 0, {"P/"}, "P", -1, "P", 0, ""},
        {"plain, parent missing", 0, {}, "no/P", -1, "no/P", 0, ""},
        {"unique, refused with nothing there", 1, {}, "P", 0, "P", 0, "", 1},
        {"plain, DIR fallback refused", 0, {"P"}, "P", 27, "PDIR", 0, "", 2},
        {"unique, PDIR refused with nothing there", 1, {"P"}, "P", 0, "PDIR", 1, "PDIR", 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Clear();
        *bus_ = ZipBus{};
        Build(c.existing);
        SetBuf(Path(c.request));
        if (c.mkdir_fault != 0) host().Arm(kMkDir, static_cast<uint64_t>(c.mkdir_fault));
        EXPECT_EQ(zip_makepath(bus_.get(), buf_, c.mode), c.result);
        EXPECT_EQ(host().fired, c.mkdir_fault != 0 ? 1u : 0u);
        host().Disarm();
        EXPECT_EQ(std::string(buf_), Path(c.made));
        EXPECT_TRUE(c.result != 0 || fs::is_directory(Path(c.made)));
        EXPECT_EQ(bus_->DirCounter, c.dir_counter);
        EXPECT_EQ(std::string(bus_->DirBase), *c.dir_base ? Path(c.dir_base) : "");
    }
    // The numbering lives in the context: a later taken name continues the
    // first request's base.
    Build({"Q/"});
    SetBuf(Path("Q"));
    EXPECT_EQ(zip_makepath(bus_.get(), buf_, 1), 0);
    EXPECT_EQ(std::string(buf_), Path("PDIR1"));
}

// Each host call of the walks fails in one row (fault: the kind armed once
// at call nth; prune: Zip_deletenullpath, else Zip_deletepath).  One entry
// per level makes the listing order irrelevant; the wide tree shows that an
// emptied entry after a kept one does not clear the level's flag.
TEST_F(Workdir, RemovalAndPruning) {
    const Tree_ chain = {"t/", "t/s/", "t/s/f"};
    const Tree_ full = {"t/", "t/s/", "t/s/f=x"};
    const Tree_ wide = {"t/",    "t/e",  "t/n=1",  "t/s/",      "t/s/x/",
                        "t/s/e", "t/u/", "t/u/d/", "t/u/d/n=2", "t/u/e"};
    const struct {
        const char *what;
        Tree_ before;
        uint32_t fault;
        int nth;
        bool prune;
        uint32_t kept_in;
        int32_t result;
        uint32_t kept_out;
        Tree_ after;
    } cases[] = {
        {"delete: wide", wide, 0, 0, false, 0, 0, 0, {}},
        {"prune: wide", wide, 0, 0, true, 0, 0, 1, {"t/", "t/n", "t/u/", "t/u/d/", "t/u/d/n"}},
        {"delete: all of it", chain, 0, 0, false, 0, 0, 0, {}},
        {"delete: missing path", {}, 0, 0, false, 0, 0, 0, {}},
        {"delete: a file stays", chain, kRemove, 1, false, 0, 26, 0, {"t/", "t/s/", "t/s/f"}},
        {"delete: inner rmdir fails", chain, kRmDir, 1, false, 0, 26, 0, {"t/", "t/s/"}},
        {"delete: outer rmdir fails", chain, kRmDir, 2, false, 0, 26, 0, {"t/"}},
        {"delete: root not listed", chain, kOpenDir, 1, false, 0, 0, 0, {"t/", "t/s/", "t/s/f"}},
        {"delete: inner not listed", chain, kOpenDir, 2, false, 0, 26, 0, {"t/", "t/s/", "t/s/f"}},
        {"delete: no memory, root", chain, kAlloc, 1, false, 0, 26, 0, {"t/", "t/s/", "t/s/f"}},
        {"delete: no memory, inner", chain, kAlloc, 2, false, 0, 26, 0, {"t/", "t/s/", "t/s/f"}},
        {"prune: empty chain", chain, 0, 0, true, 0, 0, 0, {}},
        {"prune: content keeps the chain", full, 0, 0, true, 0, 0, 1, full},
        {"prune: flag 1 keeps the root", chain, 0, 0, true, 1, 0, 1, {"t/"}},
        {"prune: missing path leaves flag", {}, 0, 0, true, 1, 0, 1, {}},
        {"prune: unopenable file is kept", chain, kOpen, 1, true, 0, 0, 1, chain},
        {"prune: untold size is kept", chain, kTell, 1, true, 0, 0, 1, chain},
        {"prune: remove fails", chain, kRemove, 1, true, 0, 26, 0, chain},
        {"prune: rmdir fails", chain, kRmDir, 1, true, 0, 26, 0, {"t/", "t/s/"}},
        {"prune: no memory", chain, kAlloc, 2, true, 0, 26, 0, chain},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Clear();
        Build(c.before);
        if (c.fault != 0) host().Arm(c.fault, static_cast<uint64_t>(c.nth));
        uint32_t kept = c.kept_in;
        std::string t = Path("t");
        int32_t r = c.prune ? Zip_deletenullpath(t.c_str(), bus_.get(), &kept)
                            : Zip_deletepath(t.c_str(), bus_.get());
        EXPECT_EQ(host().fired, c.fault != 0 ? 1u : 0u);
        host().Disarm();
        EXPECT_EQ(r, c.result);
        EXPECT_EQ(kept, c.kept_out);
        Tree_ after;
        for (const std::string &e : c.after) after.push_back(e.substr(0, e.find('=')));
        std::sort(after.begin(), after.end());
        EXPECT_EQ(Tree(), after);
        EXPECT_EQ(host().live_allocs, 0);
    }
}

} // namespace
} // namespace vtq::test
