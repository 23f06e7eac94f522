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

void send_detail(const Extended &ext, const char *format, const char *encoding) {
    if (ext.on_member == nullptr) return;
    VtqMemberEvent event{};
    event.Size = sizeof event;
    event.Kind = VTQ_EVENT_DETAIL;
    event.Format = format;
    event.Encoding = encoding;
    ext.on_member(ext.member_user, &event);
}

MemberDecision decide_extended(std::span<const unsigned char> bytes, std::string_view charset) {
    if (starts_like_zip(bytes)) return {MemberKind::kZip, "", 0, "zip", ""};
    TextEncoding enc = detect_encoding(bytes, charset);
    if (!enc.text()) return {MemberKind::kNoFilter, "", 0, "", ""};
    // UTF-8, its mark aside, goes out as it stands; every other encoding
    // through iconv, as the legacy sets do.
    const MemberKind kind =
        enc.iconv_name == "UTF-8" ? MemberKind::kUtf8Text : MemberKind::kLegacyText;
    return {kind, std::move(enc.iconv_name), enc.bom_len, "text", std::move(enc.display_name)};
}

} // namespace vtq::txif
