// test_handoff.cc - the writers (size limit, lazy output file, characters cut whole), members
// handed to the host, and the compose output bytes
#include <filesystem>

#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"
#include "vtq/zozaz.h"

namespace vtq::test {
namespace {

namespace fs = std::filesystem;

// Fresh: a context writing to a string stream, or to a file (opened already, or left for the
// writers to open), with the limit off, output begun and LF line breaks.
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

// Each case on a file and a stream, with nothing sharing the count (0), in compose mode (1) and
// with ShareCount (2).  counts: the write reaches the counting (and sharing) step.
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
        for (int run = 0; run < 6; ++run) {
            const bool stream = run & 1;
            const int share = run / 2;
            SCOPED_TRACE(testing::Message() << c.limit << " " << c.written << " run " << run);
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
        Fresh(false);
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

// ASCII text in output code 0 (UTF-8) or 1 (UTF-16LE).
std::string Enc(const std::string &ascii, uint32_t out_code) {
    std::string s;
    for (char c : ascii) s += out_code == 0 ? std::string{c} : std::string{c, '\0'};
    return s;
}

// A compose-mode file output; Hand writes a member file and hands it over, and the file must
// be gone after.
class Handoff : public Writer {
protected:
    void SetUp() override {
        Writer::SetUp();
        Fresh(false, false);
        opts_.ModeFlags = VTQ_MODE_COMPOSE;
        bus_->FileMode = 1;
        bus_->LeadWritten = 0;
    }
    uint32_t Hand(const std::string &name, const std::string &text) {
        const std::string path = Path("m" + std::to_string(++members_));
        WriteFile(path, text);
        const uint32_t r = DealTxtCompose(bus_.get(), path.c_str(), name.c_str());
        EXPECT_FALSE(fs::exists(path)) << "member file left behind";
        return r;
    }
    int members_ = 0;
};

// Two members, byte for byte, one row per layout rule: output code, line breaks (1 CRLF, 2 LF,
// 3 CR), labels, FormatFlags bits 26 and 27 (a zero byte before each line break).  The byte-order
// mark comes with the first conversion, and without labels the host's text has begun the output.
TEST_F(Handoff, ComposeBytes) {
    const struct {
        uint32_t out, eol;
        bool labels;
        uint32_t zero_bits;
    } rows[] = {{0, 1, true, 0},
                {1, 2, true, 0x4000000},
                {0, 3, false, 0x8000000},
                {1, 1, false, 0xC000000},
                {1, 3, true, 0}};
    const std::pair<std::string, std::string> members[] = {{"dir/a.txt", "one"}, {"b.txt", "two"}};
    for (const auto &r : rows) {
        SCOPED_TRACE(testing::Message() << r.out << " " << r.eol << " " << r.labels);
        Fresh(false, false);
        bus_->LeadWritten = 0;
        bus_->FileMode = 1;
        opts_.OutCode = r.out;
        opts_.FormatFlags = r.zero_bits;
        opts_.ModeFlags = VTQ_MODE_COMPOSE | (r.labels ? 0 : VTQ_MODE_NO_LABELS);
        bus_->Option[VTQ_OPT_LINE_BREAK_MODE] = r.eol;
        for (const auto &[name, text] : members) EXPECT_EQ(Hand(name, Enc(text, r.out)), 0u);
        const std::string eol = (r.zero_bits ? std::string(1, '\0') : "") + Enc(r.eol == 1 ? "\r\n"
                                                                                : r.eol == 2 ? "\n"
                                                                                             : "\r",
                                                                                r.out);
        std::string expected = r.out == 1 && r.labels ? "\xFF\xFE" : "";
        for (const auto &[name, text] : members) {
            if (r.labels)
                expected += Enc("Filename: " + name, r.out) + eol + Enc("Content: ", r.out) + eol;
            expected += Enc(text, r.out) + eol;
        }
        EXPECT_EQ(Output(), expected);
        EXPECT_EQ(bus_->TextWritten, 1u);
    }
}

} // namespace
} // namespace vtq::test
