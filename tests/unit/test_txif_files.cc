// test_txif_files.cc - the text host's member files and split-mode text files
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "host/txif/internal.h"
#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"
#include "vtq/standin.h"

namespace vtq::test {
namespace {

using txif::FileBytes;

class TxifFiles : public HostTest {};

std::string_view View(const FileBytes &b) {
    return {reinterpret_cast<const char *>(b.bytes().data()), b.bytes().size()};
}

// A member file on disk is read, not mapped: when another process
// truncates it while its bytes are in use (two flat-mode runs into one
// folder), a mapping would raise SIGBUS at the next touch.  A FIFO in its
// place is refused without blocking.  A memory file is used in place.
TEST_F(TxifFiles, MemberBytesSurviveTheFile) {
    const std::string big(size_t{3} << 20, 'm');
    WriteFile(Path("m"), big);
    FileBytes bytes;
    ASSERT_EQ(bytes.load(Path("m").c_str()), FileBytes::Load::kOk);
    ASSERT_EQ(truncate(Path("m").c_str(), 0), 0);
    EXPECT_TRUE(View(bytes) == big);
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    EXPECT_EQ(bytes.load(Path("fifo").c_str()), FileBytes::Load::kOpenFailed);
    char name[VTQ_PATH_MAX];
    ASSERT_NE(VTQ_ASC_tmpnam(name), nullptr);
    VTQ_FILE *f = VTQ_FileOpen(name, "wb");
    ASSERT_EQ(VTQ_FileWrite("in memory", 1, 9, f), 9u);
    VTQ_FileClose(f);
    ASSERT_EQ(bytes.load(name), FileBytes::Load::kOk);
    const unsigned char *data = nullptr;
    uint64_t size = 0;
    ASSERT_EQ(VTQ_HostStoreView(name, &data, &size), 1);
    EXPECT_TRUE(bytes.bytes().data() == data && View(bytes) == "in memory");
    bytes.release();
    VTQ_ASC_remove(name);

    // A large memory file is copied, so that its pages do not count twice; an archive is used in
    // place (the nested walk maps it); one a write failed to complete is incomplete.
    for (const std::string head : {"text", "PK\x03\x04", "damaged"}) {
        SCOPED_TRACE(head);
        ASSERT_NE(VTQ_ASC_tmpnam(name), nullptr);
        f = VTQ_FileOpen(name, "wb");
        ASSERT_EQ(VTQ_FileWrite((head + big).data(), 1, head.size() + big.size(), f),
                  head.size() + big.size());
        if (head == "damaged") {
            setenv("VTQ_MAX_ALLOC", "1048576", 1);
            EXPECT_EQ(VTQ_FileWrite("more", 1, 4, f), 0u);
            unsetenv("VTQ_MAX_ALLOC");
        }
        VTQ_FileClose(f);
        EXPECT_EQ(bytes.load(name),
                  head == "damaged" ? FileBytes::Load::kIncomplete : FileBytes::Load::kOk);
        EXPECT_TRUE(View(bytes) == head + big);
        const bool in_place =
            VTQ_HostStoreView(name, &data, &size) == (head == "damaged" ? -1 : 1) &&
            bytes.bytes().data() == data;
        EXPECT_EQ(in_place, head[0] == 'P');
        bytes.release();
        VTQ_ASC_remove(name);
    }
}

} // namespace
} // namespace vtq::test
