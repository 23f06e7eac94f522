// extension.cpp - reading the host's extension record (see extension.h)
#include "archive/extension.h"

#include <cstring>

namespace vtq {
namespace {

// Where each field of VtqExtension ends, in order: a field counts only when
// the host's record reaches its end.
constexpr size_t kFieldEnds[] = {
    offsetof(VtqExtension, Password) + sizeof(VtqExtension::Password),
    offsetof(VtqExtension, PasswordLen) + sizeof(VtqExtension::PasswordLen),
    offsetof(VtqExtension, Flags) + sizeof(VtqExtension::Flags),
    offsetof(VtqExtension, OnMember) + sizeof(VtqExtension::OnMember),
    offsetof(VtqExtension, User) + sizeof(VtqExtension::User),
    offsetof(VtqExtension, NameCharset) + sizeof(VtqExtension::NameCharset),
    sizeof(VtqExtension),
};
constexpr size_t kMinimumSize = offsetof(VtqExtension, Password); // Size and Version

} // namespace

uint32_t ReadExtension(const TxtOptions &opts, Extension *out) {
    out->on = (opts.ModeFlags & VTQ_MODE_EXTENDED) != 0;
    std::memset(&out->record, 0, sizeof out->record);
    if (!out->on || opts.Extension == nullptr) return VTQ_OK;
    const VtqExtension &host = *opts.Extension;
    if (host.Size < kMinimumSize || host.Version != VTQ_EXTENSION_VERSION) return VTQ_E_NO_RECORD;
    // Only whole fields: a record that ends inside one is an older layout
    // that did not have it.
    size_t usable = kMinimumSize;
    for (size_t end : kFieldEnds)
        if (end <= host.Size) usable = end;
    std::memcpy(&out->record, &host, usable);
    out->record.NameCharset[sizeof out->record.NameCharset - 1] = '\0';
    return VTQ_OK;
}

Line &Line::Add(const char *text) {
    while (*text != '\0' && len_ + 1 < sizeof text_) text_[len_++] = *text++;
    text_[len_] = '\0';
    return *this;
}

Line &Line::Add(uint64_t number) {
    char digits[20];
    size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0);
    char text[21];
    for (size_t i = 0; i < n; ++i) text[i] = digits[n - 1 - i];
    text[n] = '\0';
    return Add(text);
}

} // namespace vtq
