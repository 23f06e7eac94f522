// test_library.cc - the built filter loaded and called by a host of its own
//
// This test is the host: it loads the filter (which brings the stand-in
// host libraries in by soname) and calls the entry points itself, as hosts
// do that size their workers' stacks or ask for split mode on a stream.
#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "tests/e2e/e2e.h"
#include "vtq/host.h"
#include "vtq/zozaz.h"

namespace vtq::e2e {
namespace {

class Library : public ZiptextTest {
protected:
    void SetUp() override {
        ZiptextTest::SetUp();
        setenv("TMPDIR", Tmp().c_str(), 1);
        lib_ = dlopen(VTQ_FILTER_SO, RTLD_NOW);
        ASSERT_NE(lib_, nullptr) << dlerror();
    }
    void TearDown() override {
        if (lib_ != nullptr) dlclose(lib_);
        unsetenv("TMPDIR");
        ZiptextTest::TearDown();
    }
    template <typename Fn> Fn *Get(const char *name) { return reinterpret_cast<Fn *>(dlsym(lib_, name)); }
    void *lib_ = nullptr;
};

struct Job {
    decltype(&GetTextWithErrCallback) get_text;
    std::string archive, out;
    TxtOptions opts{};
    uint32_t code = 99;
};

// Extracts on a thread with a 1 MiB stack, the size hosts give workers;
// running off its end kills the test.
uint32_t OnWorkerStack(Job &job) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, size_t{1} << 20);
    pthread_t th;
    auto run = [](void *p) -> void * {
        auto *j = static_cast<Job *>(p);
        j->code = j->get_text(j->archive.c_str(), j->out.c_str(), &j->opts, nullptr, 0);
        return nullptr;
    };
    EXPECT_EQ(pthread_create(&th, &attr, run, &job), 0);
    pthread_join(th, nullptr);
    pthread_attr_destroy(&attr);
    return job.code;
}

// The sixteen archive levels the stand-in host opens, in both modes, and a
// member 2000 directories down fit the stack of a worker thread.
TEST_F(Library, DeepestExtractionsFitAWorkerStack) {
    test::ZipArchive deep;
    std::string name;
    for (int i = 0; i < 2000; ++i) name += "d/";
    deep.Add(name + "f.doc", "at the bottom\n");
    std::string nested = Zip({{"leaf.txt", "leaf\n"}});
    for (int i = 1; i < 16; ++i) nested = Zip({{"inner.zip", nested}});
    const struct { const char *what; std::string bytes; uint32_t mode; } rows[] = {
        {"16 levels, compose", nested, VTQ_MODE_COMPOSE},
        {"16 levels, split", nested, 0},
        {"2000 directories", deep.Build(), 0},
    };
    for (const auto &row : rows) {
        std::filesystem::remove_all(Work("run"));
        std::filesystem::create_directories(Work("run"));
        Job job{Get<decltype(GetTextWithErrCallback)>("GetTextWithErrCallback"), Work("run/a.zip"), Work("run/a.txt")};
        test::WriteFile(job.archive, row.bytes);
        job.opts.ModeFlags = VTQ_MODE_ENABLED | row.mode;
        EXPECT_EQ(OnWorkerStack(job), 0u) << row.what;
    }
    std::filesystem::remove_all(Work("run"));
}

int Collect(void *user, const void *buf, uint32_t len) {
    static_cast<std::string *>(user)->append(static_cast<const char *>(buf), len);
    return 0;
}

// ziptext never asks for split mode on a stream.  Each member's text goes
// to the stream, the size limit restarts per member (a nested archive
// counts as one member), the nested members are composed without labels,
// and the work directory in the current directory is pruned.
TEST_F(Library, StreamInSplitModeSendsEveryMembersText) {
    test::WriteFile(Work("a.zip"), Zip({{"a.txt", "alpha\n"}, {"in.zip", Zip({{"b.txt", "beta\n"}})},
                                        {"c.md", "gamma\n"}}));
    auto *get_text = Get<decltype(GetTextStreamWithErrCallback)>("GetTextStreamWithErrCallback");
    ASSERT_NE(get_text, nullptr);
    const std::string cwd = std::filesystem::current_path();
    for (const auto &[max_size, code, text] : {std::tuple{0u, 0u, "alpha\nbeta\n\ngamma\n"},
                                               std::tuple{3u, 3005u, "alpbetgam"}}) {
        TxtOptions opts{};
        opts.ModeFlags = VTQ_MODE_ENABLED | VTQ_MODE_KEEP_GOING;
        opts.FormatFlags = VTQ_FMT_EOL_LF | (max_size ? VTQ_FMT_SIZE_LIMIT : 0);
        opts.MaxSize = max_size;
        std::string got;
        VTQ_STREAM stream{&Collect, &got};
        ASSERT_EQ(chdir(Work().c_str()), 0);
        EXPECT_EQ(get_text("a.zip", &stream, &opts, nullptr, 0), code);
        ASSERT_EQ(chdir(cwd.c_str()), 0);
        EXPECT_EQ(got, text);
        EXPECT_EQ(Tree(Work()), std::vector<std::string>{"a.zip"});
    }
}

} // namespace
} // namespace vtq::e2e
