// fuzz_documents.cc - the extended mode's document dispatch on any bytes, read
// as a member's (fuzz/README.md lists the checks)
#include "fuzz/fuzz_common.h"
#include "host/txif/documents.h"
#include "host/txif/internal.h"

using namespace vtq::fuzz;
namespace txif = vtq::txif;
using F = txif::DocFormat;

namespace {

// An output that refuses more after 64 KiB, as a full one does.
struct CheckedOut : txif::TextOut {
    bool put(std::string_view utf8) override {
        if (refused) Die("a block was put after the output refused one");
        refused = text.size() >= 64 * 1024;
        if (!refused) text.append(utf8);
        return !refused;
    }
    std::string text;
    bool refused = false;
};

const char *TextFault(const std::string &t, bool whole) {
    bool bad = false;
    const auto *p = reinterpret_cast<const unsigned char *>(t.data());
    if (txif::utf8_valid_prefix(p, t.size(), &bad) != t.size()) return "not UTF-8";
    for (unsigned char c : t)
        if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7F) return "a control character";
    if (t.starts_with('\n')) return "a line break first";
    if (t.find("\n\n\n") != std::string::npos) return "two empty lines in a row";
    if (whole && !t.empty() && !t.ends_with('\n')) return "no line break last";
    return nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::span<const unsigned char> bytes(data, size);
    const txif::MemberFormat f = txif::sniff_member(bytes, "");
    if (f.format != F::kNone && f.name == nullptr) Die("a format without a name");
    if ((f.format == F::kText || f.format == F::kHtml || f.format == F::kXml ||
         f.format == F::kMail) &&
        !f.encoding.text())
        Die("a text format without an encoding");
    if (f.format == F::kNone || f.format == F::kText || f.format == F::kZip) return 0;
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
    if (const char *fault = TextFault(out.text, !builder.stopped()))
        Die(std::string("text: ") + fault);
    return 0;
}
