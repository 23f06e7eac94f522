// test_stack.cc - how much thread stack an extraction takes, per archive
// nesting level and per directory level
//
// Hosts run extractions on worker threads whose stacks they size
// themselves, so the figures matter.  The shipped filter and the stand-in
// host (loaded as the tool loads them) extract on a thread whose stack was
// filled with a pattern beforehand; the deepest byte that no longer holds
// the pattern is the high-water mark.  The slope between a shallow and a
// deep archive is the cost of one level; the thread's own start-up and
// thread-local storage fall out of the difference.
#include <dlfcn.h>
#include <pthread.h>
#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "tests/e2e/e2e.h"
#include "vtq/zozaz.h"

namespace fs = std::filesystem;

namespace vtq::e2e {
namespace {

constexpr size_t kStack = size_t{16} << 20;
constexpr unsigned char kPaint = 0xA5;

using GetTextFn = decltype(GetTextWithErrCallback);

struct Job {
    GetTextFn *get_text;
    std::string archive, out;
    TxtOptions opts{};
    uint32_t code = 0;
};

void *RunJob(void *arg) {
    auto *job = static_cast<Job *>(arg);
    job->code = job->get_text(job->archive.c_str(), job->out.c_str(), &job->opts, nullptr, 0);
    return nullptr;
}

// The lowest painted byte that was overwritten; read without the address
// sanitizer's checks, which may still mark the dead thread's frames.
__attribute__((no_sanitize("address"))) size_t HighWater(const unsigned char *base) {
    size_t i = 0;
    while (i < kStack && base[i] == kPaint) ++i;
    return kStack - i;
}

class Stack : public ZiptextTest {
protected:
    void SetUp() override {
        ZiptextTest::SetUp();
        setenv("TMPDIR", Tmp().c_str(), 1);
        lib_ = dlopen(VTQ_FILTER_SO, RTLD_NOW);
        ASSERT_NE(lib_, nullptr) << dlerror();
        get_text_ = reinterpret_cast<GetTextFn *>(dlsym(lib_, "GetTextWithErrCallback"));
        ASSERT_NE(get_text_, nullptr);
    }
    void TearDown() override {
        if (lib_ != nullptr) dlclose(lib_);
        unsetenv("TMPDIR");
        ZiptextTest::TearDown();
    }

    // Extracts bytes on a painted 16 MiB stack; returns the bytes of stack
    // used, and the result code in *code.
    size_t Measure(const std::string &bytes, uint32_t mode, uint32_t *code) {
        const std::string run = Work("run");
        fs::remove_all(run);
        fs::create_directories(run);
        Job job{get_text_, run + "/a.zip", run + "/a.txt"};
        test::WriteFile(job.archive, bytes);
        job.opts.ModeFlags = VTQ_MODE_ENABLED | mode;
        job.opts.FormatFlags = VTQ_FMT_EOL_LF;

        void *mem = mmap(nullptr, kStack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                         -1, 0);
        EXPECT_NE(mem, MAP_FAILED);
        if (mem == MAP_FAILED) return 0;
        std::memset(mem, kPaint, kStack);
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setstack(&attr, mem, kStack);
        pthread_t th;
        EXPECT_EQ(pthread_create(&th, &attr, RunJob, &job), 0);
        pthread_join(th, nullptr);
        pthread_attr_destroy(&attr);
        const size_t used = HighWater(static_cast<const unsigned char *>(mem));
        munmap(mem, kStack);
        *code = job.code;
        return used;
    }

    void *lib_ = nullptr;
    GetTextFn *get_text_ = nullptr;
};

// levels archives, each inside the next; the innermost holds one text.
std::string Nested(int levels) {
    test::ZipArchive a;
    a.Add("leaf.txt", "leaf\n", 8);
    std::string bytes = a.Build();
    for (int i = 1; i < levels; ++i) {
        test::ZipArchive outer;
        outer.Add("inner.zip", bytes);
        bytes = outer.Build();
    }
    return bytes;
}

std::string DeepMember(int levels) {
    std::string name;
    for (int i = 0; i < levels; ++i) name += "d/";
    test::ZipArchive a;
    a.Add(name + "f.doc", "at the bottom\n");
    return a.Build();
}

// The stand-in host opens 16 archive levels; the deepest must fit well
// inside the stacks hosts give worker threads (ziptext: 8 MiB).
TEST_F(Stack, PerArchiveNestingLevel) {
    for (uint32_t mode : {VTQ_MODE_COMPOSE, 0u}) {
        uint32_t c1 = 0, c16 = 0;
        const size_t one = Measure(Nested(1), mode, &c1);
        const size_t sixteen = Measure(Nested(16), mode, &c16);
        EXPECT_EQ(c1, 0u);
        EXPECT_EQ(c16, 0u);
        const size_t per_level = (sixteen - one) / 15;
        const std::string what = mode == 0 ? "split" : "compose";
        std::cout << what << ": 1 level " << one << " bytes, 16 levels " << sixteen
                  << " bytes, " << per_level << " bytes per level\n";
        RecordProperty(what + "_bytes_per_nesting_level", std::to_string(per_level));
        EXPECT_LT(per_level, size_t{96} << 10) << what;
        EXPECT_LT(sixteen, size_t{2} << 20) << what;
    }
}

// Directory levels cost no stack: the tree is made and pruned without
// recursion, so 2000 levels take what one level takes.
TEST_F(Stack, PerDirectoryLevel) {
    uint32_t c1 = 0, c2000 = 0;
    const size_t one = Measure(DeepMember(1), 0, &c1);
    const size_t deep = Measure(DeepMember(2000), 0, &c2000);
    EXPECT_EQ(c1, 0u);
    EXPECT_EQ(c2000, 0u);
    std::cout << "split: 1 directory level " << one << " bytes, 2000 levels " << deep
              << " bytes\n";
    RecordProperty("bytes_for_2000_directory_levels_over_1",
                   std::to_string(static_cast<long>(deep) - static_cast<long>(one)));
    EXPECT_LT(deep, one + 1024);
}

} // namespace
} // namespace vtq::e2e
