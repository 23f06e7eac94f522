// fuzz_documents.cc - the extended mode's document dispatch on any bytes
//
// Each input is decided as a member would be (sniff_member) and, when it
// is a document, read by its parser (document_text) into a line builder
// whose output refuses more after 64 KiB, as a full output does.  A
// package (DOCX, ODT, ...) is read through the shipped filter, loaded with
// dlopen as the stand-in host loads it.  Checks:
//  - a format other than "none" has a name, and text formats an encoding;
//  - the text is valid UTF-8 without control characters other than tab and
//    line feed, never has two empty lines in a row, starts with no line
//    break and ends with one;
//  - nothing is put after the output refused a block;
//  - a parser that fails gives a one-line reason, and the nesting level it
//    raised (attachments) is back where it was.
// Leaks are left to LeakSanitizer.
#include <cstring>
#include <string>

#include "fuzz/fuzz_common.h"
#include "host/txif/documents.h"
#include "host/txif/internal.h"

namespace {

using vtq::fuzz::Die;
namespace txif = vtq::txif;

constexpr std::size_t kRefuseAfter = 64 * 1024;

class CheckedOut : public txif::TextOut {
public:
    bool put(std::string_view utf8) override {
        if (refused_) Die("a block was put after the output refused one");
        if (text.size() >= kRefuseAfter) {
            refused_ = true;
            return false;
        }
        text.append(utf8);
        return true;
    }
    std::string text;

private:
    bool refused_ = false;
};

// whole: the builder finished the text (it was not stopped half-way).
void CheckText(const std::string &t, bool whole) {
    bool bad = false;
    const auto *p = reinterpret_cast<const unsigned char *>(t.data());
    if (txif::utf8_valid_prefix(p, t.size(), &bad) != t.size()) Die("text is not UTF-8");
    for (unsigned char c : t)
        if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7F) Die("a control character in text");
    if (t.empty()) return;
    if (t.front() == '\n') Die("text starts with a line break");
    if (t.find("\n\n\n") != std::string::npos) Die("two empty lines in a row");
    if (whole && t.back() != '\n') Die("text does not end with a line break");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::span<const unsigned char> bytes(data, size);
    const txif::MemberFormat f = txif::sniff_member(bytes, "");
    if (f.format != txif::DocFormat::kNone && f.name == nullptr) Die("a format without a name");
    const bool texty = f.format == txif::DocFormat::kText || f.format == txif::DocFormat::kHtml ||
                       f.format == txif::DocFormat::kXml || f.format == txif::DocFormat::kMail;
    if (texty && !f.encoding.text()) Die("a text format without an encoding");
    if (f.format == txif::DocFormat::kNone || f.format == txif::DocFormat::kText ||
        f.format == txif::DocFormat::kZip)
        return 0;

    TxtOptions opts{};
    opts.ModeFlags = VTQ_MODE_ENABLED | VTQ_MODE_EXTENDED;
    ParentInfo parent{};
    parent.Reserved[0] = 1; // the member of a top-level archive
    txif::DocContext ctx{&opts, &parent};
    CheckedOut out;
    txif::TextBuilder builder(out);
    const txif::DocResult r = txif::document_text(f, bytes, nullptr, ctx, builder);
    builder.finish();
    if (parent.Reserved[0] != 1) Die("the nesting level was not given back");
    if (!r.ok && (r.reason.empty() || r.reason.find('\n') != std::string::npos))
        Die("a failure without a one-line reason");
    CheckText(out.text, !builder.stopped());
    return 0;
}
