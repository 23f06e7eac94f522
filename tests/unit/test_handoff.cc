// test_handoff.cc - members handed to the host, and the compose output bytes
#include <filesystem>

#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"
#include "vtq/zozaz.h"

namespace vtq::test {
namespace {

namespace fs = std::filesystem;

// ASCII text in output code 0 (UTF-8) or 1 (UTF-16LE).
std::string Enc(const std::string &ascii, uint32_t out_code) {
    if (out_code == 0) return ascii;
    std::string s;
    for (char c : ascii) s += std::string{c, '\0'};
    return s;
}

class Handoff : public OutputTest {
protected:
    void SetUp() override {
        OutputTest::SetUp();
        opts_.ModeFlags = VTQ_MODE_COMPOSE;
        bus_->FileMode = 1;
        bus_->Option[VTQ_OPT_LINE_BREAK_MODE] = 2;
    }
    // Writes a member file and hands it over; the file must be gone after.
    uint32_t Hand(const std::string &name, const std::string &text, bool compose = true) {
        std::string path = Path(std::string("m").append(std::to_string(++members_)));
        WriteFile(path, text);
        uint32_t r = compose ? DealTxtCompose(bus_.get(), path.c_str(), name.c_str())
                             : DealTxtSplit(bus_.get(), path.c_str());
        EXPECT_FALSE(fs::exists(path)) << "member file left behind";
        return r;
    }
    int members_ = 0;
};

// Two members, byte for byte, one row per layout rule: the output code,
// the line-break mode (1 CRLF, 2 LF, 3 CR), labels, and FormatFlags bits 26
// and 27 (either puts a zero byte before each line break).  The byte-order
// mark comes with the first conversion of the call; without labels that is
// the line break after the first text, when the host's text has begun the
// output, so there is no mark at all.
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
    for (const auto &r : rows) {
        SCOPED_TRACE(testing::Message()
                     << r.out << " " << r.eol << " " << r.labels << " " << r.zero_bits);
        fs::remove(out_path_);
        *bus_ = ZipBus{};
        bus_->Options = &opts_, bus_->Parent = parent_.get(), bus_->OutPath = out_path_.c_str();
        bus_->FileMode = 1;
        opts_.OutCode = r.out;
        opts_.FormatFlags = r.zero_bits;
        opts_.ModeFlags = VTQ_MODE_COMPOSE | (r.labels ? 0 : VTQ_MODE_NO_LABELS);
        bus_->Option[VTQ_OPT_LINE_BREAK_MODE] = r.eol;
        const std::pair<std::string, std::string> members[] = {{"dir/a.txt", "one"},
                                                               {"b.txt", "two"}};
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

// What the host's result does to the flags and the trailing line break.
// Labels already written stay, and count as text written.
TEST_F(Handoff, HostResults) {
    const struct {
        uint32_t host_result;
        bool limit_on;
        uint32_t text_written, limit_reached;
        bool eol;
    } cases[] = {{0, false, 1, 0, true},
                 {3005, false, 1, 1, true},
                 {3005, true, 1, 1, false}, // the line break meets the reached limit
                 {6000, false, 0, 0, false},
                 {22, true, 0, 0, false}};
    const std::string labels = "Filename: a\nContent: \n";
    for (bool with_labels : {false, true}) {
        opts_.ModeFlags = VTQ_MODE_COMPOSE | (with_labels ? 0 : VTQ_MODE_NO_LABELS);
        for (const auto &c : cases) {
            SCOPED_TRACE(testing::Message() << c.host_result << " labels " << with_labels);
            VTQ_FileClose(bus_->OutFile);
            bus_->OutFile = nullptr;
            bus_->TextWritten = bus_->LimitReached = bus_->Written = 0;
            bus_->Option[VTQ_OPT_SIZE_LIMIT_ON] = c.limit_on ? 1 : 0;
            bus_->SizeLimit = 1000;
            host().member = [&](MemberCall &m) { return CopyMember(m), c.host_result; };
            EXPECT_EQ(Hand("a", "text"), c.host_result);
            EXPECT_EQ(bus_->TextWritten, with_labels ? 1u : c.text_written);
            EXPECT_EQ(bus_->LimitReached, c.limit_reached);
            EXPECT_EQ(Output(), (with_labels ? labels : "") + "text" + (c.eol ? "\n" : ""));
            // The host starts from the end of the labels, when they count.
            EXPECT_EQ(host().member_calls.back().written_before,
                      c.limit_on && with_labels ? labels.size() : 0u);
        }
    }
}

// With the limit at every byte position of two members' output, the output
// is exactly the bytes before it: the labels count, the host (keeping the
// limit as the real one does) continues the count, a character is never
// split (the second name's é is two bytes, and that member has no text to
// spend the byte the cut leaves), and after the cut nothing more goes out.
TEST_F(Handoff, LimitAtEveryByte) {
    const std::string full = "Filename: a\nContent: \nhello\nFilename: b\xC3\xA9\nContent: \n\n";
    for (uint32_t limit = 0; limit <= full.size() + 1; ++limit) {
        SCOPED_TRACE(limit);
        fs::remove(out_path_);
        bus_->Written = bus_->LimitReached = 0;
        bus_->Option[VTQ_OPT_SIZE_LIMIT_ON] = 1;
        bus_->SizeLimit = limit;
        host().member = [limit](MemberCall &c) {
            if (c.parent->Written >= limit) return uint32_t{VTQ_E_SIZE_LIMIT};
            const auto size = static_cast<uint32_t>(c.content.size());
            const uint32_t budget = limit - static_cast<uint32_t>(c.parent->Written);
            const uint32_t m =
                size <= budget ? size : CutStr(c.content.data(), size, budget, c.opts, c.out, size);
            VTQ_FileWrite(c.content.data(), 1, m, c.out);
            c.parent->Written += m;
            return m < size ? uint32_t{VTQ_E_SIZE_LIMIT} : uint32_t{VTQ_OK};
        };
        Hand("a", "hello");
        Hand("b\xC3\xA9", "");
        size_t kept = std::min<size_t>(limit, full.size());
        if (kept > 0 && full[kept - 1] == '\xC3') --kept;
        EXPECT_EQ(Output(), full.substr(0, kept));
        EXPECT_EQ(bus_->LimitReached, limit < full.size() ? 1u : 0u);
    }
}

} // namespace
} // namespace vtq::test
