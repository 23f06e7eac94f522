// test_writer.cc - the writers cut the output at the size limit on a character boundary
#include <filesystem>

#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"
#include "vtq/zozaz.h"

namespace vtq::test {
namespace {

namespace fs = std::filesystem;

// Fresh: a context writing to an open file, with the limit off, output begun and LF line breaks.
class Writer : public HostTest {
protected:
    void TearDown() override {
        VTQ_FileClose(bus_->OutFile);
        HostTest::TearDown();
    }
    void Fresh() {
        VTQ_FileClose(bus_->OutFile);
        out_path_ = Path("out.txt");
        *bus_ = ZipBus{};
        bus_->Options = &opts_;
        bus_->Parent = parent_.get();
        bus_->LeadWritten = 1;
        bus_->Option[VTQ_OPT_LINE_BREAK_MODE] = 2;
        fs::remove(out_path_);
        bus_->OutPath = out_path_.c_str();
        bus_->OutFile = VTQ_FileOpen(out_path_.c_str(), "wb");
    }
    std::string Output() { // what reached the output file (closes it)
        VTQ_FileClose(bus_->OutFile);
        bus_->OutFile = nullptr;
        return ReadFile(out_path_);
    }
    TxtOptions opts_{};
    std::unique_ptr<ParentInfo> parent_ = std::make_unique<ParentInfo>();
    std::unique_ptr<ZipBus> bus_ = std::make_unique<ZipBus>();
    std::string out_path_;
};

// A string cut by the limit never ends inside a character; after it the writers still report, and
// write nothing.
TEST_F(Writer, CutAtCharacterBoundary) {
    const std::string e_acute = "a\xC3\xA9", smiley = "a\xF0\x9F\x98\x80", bom16("\xFF\xFE", 2);
    const struct {
        uint32_t out_code;
        std::string text;
        uint32_t limit;
        std::string out;
    } cases[] = {
        {0, e_acute, 2, "a"},
        {0, e_acute, 3, e_acute},
        {9, e_acute, 5, "\xEF\xBB\xBF" + std::string("a")},
        {1, e_acute, 5, bom16 + std::string("a\0", 2)},
        {1, smiley, 7, bom16 + std::string("a\0", 2)},
        {1, smiley, 8, bom16 + std::string("a\0\x3D\xD8\x00\xDE", 6)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.out_code << " limit " << c.limit);
        opts_.OutCode = c.out_code;
        Fresh();
        bus_->LeadWritten = 0;
        bus_->Option[VTQ_OPT_SIZE_LIMIT_ON] = 1;
        bus_->SizeLimit = c.limit;
        const uint32_t produced = WriteStrToFile(bus_.get(), c.text.data(),
                                                 static_cast<uint32_t>(c.text.size()), nullptr);
        EXPECT_GE(produced, c.out.size());
        EXPECT_EQ(bus_->Written, c.out.size());
        EXPECT_EQ(bus_->TextWritten, 1u);
        const bool cut = produced > c.out.size();
        EXPECT_EQ(bus_->LimitReached, cut ? 1u : 0u);
        if (cut) {
            bus_->TextWritten = 0;
            EXPECT_EQ(WriteStrToFile(bus_.get(), "b", 1, nullptr), c.out_code == 1 ? 2u : 1u);
            EXPECT_EQ(bus_->TextWritten, 1u);
            WriteCRLFToFile(bus_.get());
            EXPECT_EQ(bus_->Written, c.out.size());
        }
        EXPECT_EQ(Output(), c.out);
    }
}

} // namespace
} // namespace vtq::test
