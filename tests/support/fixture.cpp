// fixture.cpp - per-test work directory and host reset
#include "tests/support/fixture.h"
#include "host/oscomm/oscomm.h"
#include "tests/support/zip_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <span>

namespace fs = std::filesystem;

namespace vtq::test {

void HostTest::SetUp() {
    host().Reset();
    const char *base = std::getenv("VTQ_TEST_TMP");
    std::string tmpl =
        std::string(base ? base : fs::temp_directory_path().string()) + "/vtqtest-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) FAIL() << "mkdtemp failed";
    dir_ = tmpl;
}

void HostTest::TearDown() {
    EXPECT_EQ(host().live_allocs, 0) << "host allocations leaked";
    // Memory files left behind go with the test, and the host forgets what
    // it created: the directory goes by hand, and a later test may get the
    // same inode numbers.
    for (const std::string &p : MemoryFiles()) VTQ_ASC_remove(p.c_str());
    vtq::oscomm::keep_created();
    host().Reset();
    std::error_code ec;
    if (HasFailure())
        std::cerr << "kept test directory " << dir_ << "\n";
    else if (!dir_.empty())
        fs::remove_all(dir_, ec);
}

std::vector<std::string> HostTest::Tree(const std::string &under) const {
    const std::string root = under.empty() ? dir_ : Path(under);
    std::vector<std::string> out;
    std::error_code ec;
    if (!fs::exists(root, ec)) return out;
    for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::end(it); it.increment(ec))
        out.push_back(fs::relative(it->path(), root).string() + (it->is_directory() ? "/" : ""));
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> HostTest::MemoryFiles() const {
    std::vector<std::string> left;
    for (const std::string &p : host().memory_files)
        if (VTQ_IsExist(p.c_str())) left.push_back(p);
    return left;
}

std::unique_ptr<ZipBus> LoopBus(TxtOptions *opts, const std::string &out, const std::string &work) {
    auto bus = std::make_unique<ZipBus>();
    bus->Options = opts;
    bus->Parent = &bus->OwnParent;
    bus->FileMode = 1;
    bus->OutPath = out.c_str();
    std::snprintf(bus->OwnParent.Path, sizeof bus->OwnParent.Path, "%s", out.c_str());
    std::snprintf(bus->DstFileTmp, sizeof bus->DstFileTmp, "%s", work.c_str());
    return bus;
}

uint32_t RunLoop(const std::string &archive, ZipBus *bus) {
    MemberRecord sentinel{};
    MemberRecord *records = &sentinel;
    uint32_t count = 0xEEEE;
    const uint32_t r = VtqZip_GetUnCompressFile(archive.c_str(), &count, &records, bus);
    if (bus->OutFile != nullptr) VTQ_FileClose(bus->OutFile);
    bus->OutFile = nullptr;
    EXPECT_EQ(bus->SplitOutList, nullptr);
    if (r != 0) {
        EXPECT_EQ(count, 0xEEEEu);
        EXPECT_EQ(records, &sentinel);
        return r;
    }
    // The extended walk keeps no records.
    for (const MemberRecord &m : std::span(records, records != nullptr ? count : 0))
        VTQ_free(m.Name);
    VTQ_free(records);
    return r;
}

uint32_t RunExtended(const std::string &archive, const std::string &out, VtqExtension ext,
                     uint32_t mode, std::vector<Walked> *walked, uint32_t *deferred,
                     const std::function<uint32_t(MemberCall &)> &nested) {
    struct Recorder {
        std::vector<Walked> *walked;
        std::vector<size_t> open; // members between their BEGIN and END
        static void OnMember(void *user, const VtqMemberEvent *e) {
            auto *r = static_cast<Recorder *>(user);
            EXPECT_EQ(e->Size, sizeof *e);
            if (e->Kind == VTQ_EVENT_BEGIN) {
                r->open.push_back(r->walked->size());
                r->walked->push_back({e->Name, "", "", 0, false, *e});
                return;
            }
            ASSERT_EQ(e->Kind, VTQ_EVENT_END);
            ASSERT_FALSE(r->open.empty()) << "END without BEGIN";
            Walked &w = (*r->walked)[r->open.back()];
            r->open.pop_back();
            EXPECT_EQ(w.name, e->Name) << "END names another member";
            w.code = e->Code;
            w.reason = e->Reason != nullptr ? e->Reason : "";
            // A member the walk refused says why; the host's codes may come
            // without a reason.
            if (e->Code == 0 || !w.handed) {
                EXPECT_EQ(e->Code != 0, e->Reason != nullptr) << w.name;
            }
        }
    } recorder{walked, {}};
    walked->clear();
    ext.OnMember = Recorder::OnMember;
    ext.User = &recorder;
    TxtOptions opts{};
    opts.ModeFlags = VTQ_MODE_ENABLED | VTQ_MODE_EXTENDED | VTQ_MODE_COMPOSE | mode;
    opts.Extension = &ext;
    auto bus = LoopBus(&opts, out);
    const auto saved = host().member;
    host().member = [&](MemberCall &call) {
        if (!recorder.open.empty()) {
            Walked &w = (*walked)[recorder.open.back()];
            w.content = call.content;
            w.handed = true;
        }
        return nested ? nested(call) : CopyMember(call);
    };
    const uint32_t code = RunLoop(archive, bus.get());
    host().member = saved;
    EXPECT_TRUE(recorder.open.empty()) << "BEGIN without END";
    if (deferred != nullptr) *deferred = bus->DeferredError;
    std::error_code ec;
    fs::remove(out, ec);
    return code;
}

size_t OpenFds() {
    return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), {}));
}

std::string CorpusDir() {
    std::error_code ec;
    return fs::exists(VTQ_CORPUS_DIR "/MANIFEST.tsv", ec) ? VTQ_CORPUS_DIR : "";
}

} // namespace vtq::test
