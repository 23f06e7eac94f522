// test_writer.cc - the size limit, the lazy output file and line breaks
#include <filesystem>

#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"
#include "vtq/zozaz.h"

namespace vtq::test {
namespace {

namespace fs = std::filesystem;

// A context writing to a string stream, or to a file (opened already, or
// left for the writers to open), with the limit off and output begun.
class Writer : public OutputTest {
protected:
    void Fresh(bool stream, bool open = true) {
        VTQ_FileClose(bus_->OutFile);
        *bus_ = ZipBus{};
        bus_->Options = &opts_;
        bus_->Parent = parent_.get();
        bus_->LeadWritten = 1;
        bus_->Option[VTQ_OPT_LINE_BREAK_MODE] = 2;
        stream_.data.clear();
        fs::remove(out_path_);
        bus_->StreamMode = stream ? 1 : 0;
        bus_->Stream = stream ? stream_.get() : nullptr;
        bus_->OutPath = stream ? nullptr : out_path_.c_str();
        if (!stream && open) bus_->OutFile = VTQ_FileOpen(out_path_.c_str(), "wb");
    }
};

// Each case on a file and a stream, with nothing sharing the count (0), in
// compose mode (1) and with ShareCount (2).  counts: the write reaches the
// counting (and sharing) step.
TEST_F(Writer, SizeLimit) {
    const struct {
        uint32_t on, limit, written, reached, n, result, written_after, out_len, reached_after;
        bool counts;
    } cases[] = {
        {1, 100, 90, 0, 20, 3005, 100, 10, 1, true}, // cut to the budget
        {1, 100, 80, 0, 20, 0, 100, 20, 0, true},    // ends exactly at the limit
        {1, 100, 100, 0, 0, 3005, 100, 0, 1, false}, // even 0 bytes are refused there
        {1, 0, 0, 0, 5, 3005, 0, 0, 1, false},
        {0, 100, 90, 1, 20, 0, 90, 20, 1, false},  // limit off: whole, uncounted
        {1, 100, 10, 1, 5, 3005, 10, 0, 1, false}, // already reached
        {1, 0xFFFFFFFF, 0xFFFFFFF0, 0, 0x20, 3005, 0xFFFFFFFF, 15, 1, true},
    };
    const std::string data(0x20, 'x');
    for (const auto &c : cases) {
        for (bool stream : {false, true}) {
            for (int share = 0; share < 3; ++share) {
                SCOPED_TRACE(testing::Message() << c.limit << " " << c.written << " " << c.n
                                                << " stream " << stream << " share " << share);
                opts_.ModeFlags = share == 1 ? VTQ_MODE_COMPOSE : 0;
                Fresh(stream);
                bus_->Option[VTQ_OPT_SHARE_COUNT] = share == 2 ? 1 : 0;
                bus_->Option[VTQ_OPT_SIZE_LIMIT_ON] = c.on;
                bus_->SizeLimit = c.limit;
                bus_->Written = c.written;
                bus_->LimitReached = c.reached;
                parent_->Written = 777;
                EXPECT_EQ(myfwrite(bus_.get(), data.data(), 1, c.n, bus_->OutFile), c.result);
                EXPECT_EQ(bus_->Written, c.written_after);
                EXPECT_EQ(bus_->LimitReached, c.reached_after);
                EXPECT_EQ(parent_->Written, c.counts && share != 0 ? c.written_after : 777u);
                if (c.on != 0 && c.reached_after != 0) {
                    EXPECT_EQ(myfwrite(bus_.get(), "y", 1, 1, bus_->OutFile), 3005u);
                }
                EXPECT_EQ(Output(), data.substr(0, c.out_len));
            }
        }
    }
}

// A converted string cut by the limit never ends inside a character, and
// after the cut nothing more goes out though the writers still report.
TEST_F(Writer, CutAtCharacterBoundary) {
    const struct {
        uint32_t out_code;
        std::string text;
        uint32_t limit;
        std::string out;
    } cases[] = {
        {0, "a\xC3\xA9", 2, "a"},
        {0, "a\xC3\xA9", 3, "a\xC3\xA9"},
        {9, "a\xC3\xA9", 5,
         "\xEF\xBB\xBF"
         "a"},
        {1, "a\xC3\xA9", 5,
         std::string("\xFF\xFE"
                     "a\0",
                     4)},
        {1, "a\xF0\x9F\x98\x80", 7,
         std::string("\xFF\xFE"
                     "a\0",
                     4)},
        {1, "a\xF0\x9F\x98\x80", 8,
         std::string("\xFF\xFE"
                     "a\0\x3D\xD8\x00\xDE",
                     8)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.out_code << " limit " << c.limit);
        opts_.OutCode = c.out_code;
        Fresh(false);
        bus_->LeadWritten = 0;
        bus_->Option[VTQ_OPT_SIZE_LIMIT_ON] = 1;
        bus_->SizeLimit = c.limit;
        uint32_t produced = WriteStrToFile(bus_.get(), c.text.data(),
                                           static_cast<uint32_t>(c.text.size()), nullptr);
        EXPECT_GE(produced, c.out.size());
        EXPECT_EQ(bus_->Written, c.out.size());
        EXPECT_EQ(bus_->TextWritten, 1u);
        bool cut = produced > c.out.size();
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

// The output file opens on first need; a failed open writes nothing, is
// reported in OutOpenFailed and retried by the next writer.
TEST_F(Writer, LazyOpenOfTheOutput) {
    Fresh(false, false);
    std::string missing = Path("no/out.txt");
    bus_->OutPath = missing.c_str();
    EXPECT_EQ(WriteCRLFToFile(bus_.get()), 0u);
    EXPECT_EQ(WriteStrToFile(bus_.get(), "x", 1, nullptr), 0u);
    EXPECT_EQ(bus_->OutOpenFailed, 1u);
    EXPECT_EQ(bus_->TextWritten, 0u);
    bus_->OutPath = out_path_.c_str();
    EXPECT_EQ(WriteStrToFile(bus_.get(), "x", 1, nullptr), 1u);
    EXPECT_EQ(Output(), "x");
}

} // namespace
} // namespace vtq::test
