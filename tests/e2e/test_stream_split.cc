// test_stream_split.cc - the stream entry point in split mode, as another host calls it
//
// ziptext never asks for split mode on a stream, so this test is the host:
// it loads the built filter (which brings the stand-in host libraries in
// by soname) and calls GetTextStreamWithErrCallback itself.  Each member's
// text goes to the stream, the size limit restarts per member, and a
// nested archive's members reach the stream too, composed without labels.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "tests/e2e/e2e.h"
#include "vtq/host.h"
#include "vtq/zozaz.h"

namespace vtq::e2e {
namespace {

using e2e::PrintTo; // rows print as their label

struct StreamCase {
    const char *label;
    uint64_t max_size; // 0: no limit
    uint32_t code;
    std::string text;
};

class StreamSplit : public ZiptextTest, public ::testing::WithParamInterface<StreamCase> {};

int Collect(void *user, const void *buf, uint32_t len) {
    static_cast<std::string *>(user)->append(static_cast<const char *>(buf), len);
    return 0;
}

TEST_P(StreamSplit, SendsEveryMembersTextToTheStream) {
    const StreamCase &c = GetParam();
    test::WriteFile(Work("a.zip"), Zip({{"a.txt", "alpha\n"},
                                        {"in.zip", Zip({{"b.txt", "beta\n"}})},
                                        {"c.md", "gamma\n"}}));
    void *filter = dlopen(VTQ_FILTER_SO, RTLD_NOW);
    ASSERT_NE(filter, nullptr) << dlerror();
    auto *get_text = reinterpret_cast<decltype(&GetTextStreamWithErrCallback)>(
        dlsym(filter, "GetTextStreamWithErrCallback"));
    ASSERT_NE(get_text, nullptr);

    TxtOptions opts{};
    opts.ModeFlags = VTQ_MODE_ENABLED | VTQ_MODE_KEEP_GOING;
    opts.FormatFlags = VTQ_FMT_EOL_LF | (c.max_size ? VTQ_FMT_SIZE_LIMIT : 0);
    opts.MaxSize = c.max_size;
    std::string got;
    VTQ_STREAM stream{&Collect, &got};
    // Split mode on a stream works in a fresh directory of the current one.
    std::string cwd = std::filesystem::current_path().string();
    const char *old_tmp = std::getenv("TMPDIR");
    std::string saved_tmp = old_tmp ? old_tmp : "";
    setenv("TMPDIR", Tmp().c_str(), 1);
    ASSERT_EQ(chdir(Work().c_str()), 0);
    uint32_t code = get_text("a.zip", &stream, &opts, nullptr, 0);
    ASSERT_EQ(chdir(cwd.c_str()), 0);
    if (old_tmp)
        setenv("TMPDIR", saved_tmp.c_str(), 1);
    else
        unsetenv("TMPDIR");
    dlclose(filter);

    EXPECT_EQ(code, c.code);
    EXPECT_EQ(got, c.text);
    EXPECT_EQ(Tree(Work()), std::vector<std::string>{"a.zip"}); // the work directory is pruned
}

INSTANTIATE_TEST_SUITE_P(
    E2E, StreamSplit,
    ::testing::Values(StreamCase{"whole", 0, 0, "alpha\nbeta\n\ngamma\n"},
                      // Three bytes of each member: the nested archive
                      // counts as one member of the level above.
                      StreamCase{"limit_per_member", 3, 3005, "alpbetgam"}),
    [](const auto &row) { return std::string(row.param.label); });

} // namespace
} // namespace vtq::e2e
