// test_convert.cc - what the conversions hand the host's converter, field
// by field as the test host records it
#include <algorithm>
#include <cstring>
#include <tuple>
#include <memory>

#include "tests/support/fixture.h"
#include "vtq/zozaz.h"

namespace vtq::test {
namespace {

constexpr uint32_t kOutCode = 7, kLineBreakMode = 3;

class Convert : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        host().record_conv = true;
        opts_.OutCode = kOutCode;
        bus_->Options = &opts_;
        bus_->SwapBytes = 1;
        bus_->Option[VTQ_OPT_LINE_BREAK_MODE] = kLineBreakMode;
    }
    void SetNames(const char *charset, const char *language) {
        std::snprintf(opts_.Charset, sizeof opts_.Charset, "%s", charset);
        std::snprintf(opts_.Language, sizeof opts_.Language, "%s", language);
    }
    // The one conversion recorded since the last call.
    ConvCall Last() {
        EXPECT_EQ(host().conv_calls.size(), 1u);
        ConvCall c = host().conv_calls.empty() ? ConvCall{} : host().conv_calls.back();
        host().conv_calls.clear();
        return c;
    }
    TxtOptions opts_{};
    std::unique_ptr<ZipBus> bus_ = std::make_unique<ZipBus>();
    char dst_[64] = {};
};

// text: TransUCSChar's words, else TransCRLF's.
void CheckCall(const ConvCall &c, uint32_t first, bool text, char subst, const std::string &charset,
               const std::string &src, uint32_t swap) {
    const ConvParams &p = c.params;
    EXPECT_EQ(
        std::tuple(p.OutCode, p.FirstOutput, p.TextConv, p.LineBreakConv, p.LineBreakMode, p.Zero),
        std::tuple(kOutCode, first, text ? 1u : 0u, text ? 0u : 1u, kLineBreakMode, 0u));
    const std::string s{subst, '\0'}, zeros(sizeof p.String, '\0');
    EXPECT_EQ(std::string(p.Subst, 2) + std::string(p.Subst2, 2), s + s);
    EXPECT_EQ(std::string(p.String, sizeof p.String), zeros);
    EXPECT_EQ(std::tuple(c.source.Swap, c.source.Word1, c.source.Word2, c.charset, c.src),
              std::tuple(swap, 0u, 1u, charset, src));
    EXPECT_EQ(c.dst_cap, text ? 4 * src.size() : 32u);
    EXPECT_EQ(c.zero0 | c.zero1 | c.zero2 | c.produced_before, 0u);
    EXPECT_TRUE(c.converted && c.terminated);
}

// Line breaks: a carriage return read as ISO-8859-1, "?" only for labels;
// the first conversion of a call, of either kind, carries the flag.  A
// named source set is used as given, cut to 255 bytes; an empty text
// converts nothing into a buffer of no room.
TEST_F(Convert, LineBreaksFirstOutputAndNamedSources) {
    SetNames("ISO-8859-1", "English");
    bus_->SwapBytes = 0;
    EXPECT_GT(TransCRLF(bus_.get(), dst_), 0u);
    CheckCall(Last(), 1, false, 0, "ISO-8859-1", "\r", 1);
    EXPECT_EQ(bus_->LeadWritten, 1u);
    bus_->LabelMode = 1;
    EXPECT_GT(TransCRLF(bus_.get(), dst_), 0u);
    CheckCall(Last(), 0, false, '?', "ISO-8859-1", "\r", 1);
    EXPECT_GT(TransUCSChar(bus_.get(), "F", dst_, 1, nullptr), 0u);
    CheckCall(Last(), 0, true, '?', "ISO-8859-1", "F", 0);
    const std::string longname(300, 'X');
    TransUCSChar(bus_.get(), "a", dst_, 1, longname.c_str());
    EXPECT_EQ(Last().charset, longname.substr(0, 255));
    EXPECT_EQ(TransUCSChar(bus_.get(), "", dst_, 0, nullptr), 0u);
    EXPECT_EQ(Last().dst_cap, 0u);
}

} // namespace
} // namespace vtq::test
