// extended.cpp - what the extended mode asks of a hand-off, and its member events
//
// The filter passes TxtOptions on unchanged, Extension included, so the
// host reads the program's extension record itself: the member-event
// callback for DETAIL events, and the stand-in host's text hooks
// (VTQ_TextHooks, vtq/standin.h) behind HostData.  Both records may come
// from a program built against older, shorter versions: a field counts only
// when it lies wholly within its record's Size.
#include <cstddef>

#include "host/txif/detect.h"
#include "host/txif/internal.h"

namespace vtq::txif {

namespace {

// rec.*field when that field lies wholly within the first size bytes of
// rec, else zero.  Only the field's address is formed before the check, so
// a shorter record is never read past its end.
template <typename Rec, typename Field>
Field field_within(const Rec &rec, uint32_t size, Field Rec::*field) {
    const auto *base = reinterpret_cast<const char *>(&rec);
    const auto end =
        static_cast<std::size_t>(reinterpret_cast<const char *>(&(rec.*field)) - base) +
        sizeof(Field);
    return end <= size ? rec.*field : Field{};
}

} // namespace

Extended read_extended(const TxtOptions &opts) {
    Extended ext;
    ext.on = (opts.ModeFlags & VTQ_MODE_EXTENDED) != 0;
    if (!ext.on || opts.Extension == nullptr) return ext;
    const VtqExtension &rec = *opts.Extension;
    ext.on_member = field_within(rec, rec.Size, &VtqExtension::OnMember);
    ext.member_user = field_within(rec, rec.Size, &VtqExtension::User);
    const auto *hooks =
        static_cast<const VTQ_TextHooks *>(field_within(rec, rec.Size, &VtqExtension::HostData));
    if (hooks == nullptr) return ext;
    ext.hook_flags = field_within(*hooks, hooks->Size, &VTQ_TextHooks::Flags);
    ext.on_text = field_within(*hooks, hooks->Size, &VTQ_TextHooks::OnText);
    ext.on_raw = field_within(*hooks, hooks->Size, &VTQ_TextHooks::OnRaw);
    ext.hook_user = field_within(*hooks, hooks->Size, &VTQ_TextHooks::User);
    return ext;
}

void send_detail(const Extended &ext, const char *format, const char *encoding,
                 const char *reason) {
    if (ext.on_member == nullptr) return;
    VtqMemberEvent event{};
    event.Size = sizeof event;
    event.Kind = VTQ_EVENT_DETAIL;
    event.Format = format;
    event.Encoding = encoding;
    event.Reason = reason;
    ext.on_member(ext.member_user, &event);
}

MemberDecision decide_extended(std::span<const unsigned char> bytes, std::string_view charset,
                               std::string_view language) {
    MemberFormat found = sniff_member(bytes, charset, language);
    MemberDecision d{MemberKind::kNoFilter, "", 0, found.name ? found.name : "", "", {}};
    if (found.encoding.text()) d.encoding = found.encoding.display_name;
    switch (found.format) {
    case DocFormat::kNone:
        break;
    case DocFormat::kZip:
        d.kind = MemberKind::kZip;
        break;
    case DocFormat::kText:
        // UTF-8, its mark aside, goes out as it stands; every other
        // encoding through iconv, as the legacy sets do.
        d.kind =
            found.encoding.iconv_name == "UTF-8" ? MemberKind::kUtf8Text : MemberKind::kLegacyText;
        d.iconv_name = found.encoding.iconv_name;
        d.skip = found.encoding.bom_len;
        break;
    default:
        d.kind = MemberKind::kDocument;
        d.document = std::move(found);
        break;
    }
    return d;
}

} // namespace vtq::txif
