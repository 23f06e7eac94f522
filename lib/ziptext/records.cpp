// records.cpp - member events turned into one record per member, in directory order
#include "lib/ziptext/records.h"

#include <cstdio>
#include <new>

namespace ziptext {
namespace {

struct MethodName {
    uint32_t method;
    const char *name;
};
constexpr MethodName kMethods[] = {
    {0, "stored"}, {1, "shrink"},  {2, "reduce"},  {3, "reduce"},    {4, "reduce"},
    {5, "reduce"}, {6, "implode"}, {8, "deflate"}, {9, "deflate64"}, {12, "bzip2"},
    {14, "lzma"},  {93, "zstd"},   {95, "xz"},     {98, "ppmd"},     {99, "aes"},
};

const char *kEncryptions[] = {nullptr, "zipcrypto", "aes128", "aes192", "aes256"};

// The reason of a failed member.  For a member without text the host knows
// best ("encrypted PDF"; else what it found the member to be: "no text
// filter for png"); otherwise the walk's own words, else the code's meaning.
std::string reason_of(const VtqMemberEvent &e, const Record &r) {
    if (e.Code == VTQ_E_NO_FILTER) {
        if (r.host_reason) return *r.host_reason;
        if (r.format && *r.format != "text" && *r.format != "zip")
            return "no text filter for " + *r.format;
    }
    if (e.Reason != nullptr && *e.Reason != '\0') return e.Reason;
    const char *reason = zt_code_reason(e.Code);
    return reason != nullptr ? reason : "result " + std::to_string(e.Code);
}

} // namespace

std::string method_name(uint32_t method) {
    for (const MethodName &m : kMethods)
        if (m.method == method) return m.name;
    return std::to_string(method);
}

const char *encryption_name(uint32_t encryption) {
    return encryption < sizeof kEncryptions / sizeof kEncryptions[0] ? kEncryptions[encryption]
                                                                     : "unknown";
}

std::string iso_time(uint32_t dos) {
    const uint32_t date = dos >> 16, time = dos & 0xFFFFu;
    const uint32_t year = 1980 + (date >> 9), month = (date >> 5) & 15, day = date & 31;
    const uint32_t hour = time >> 11, minute = (time >> 5) & 63, second = (time & 31) * 2;
    if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) return "";
    static constexpr uint32_t kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    if (day > kDays[month - 1] || (month == 2 && day == 29 && !leap)) return "";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02u", year, month, day, hour, minute,
                  second);
    return buf;
}

Collector::Collector(const std::string &archive, bool texts, bool listing, bool failed_only,
                     zt_member_fn on_member, zt_progress_fn on_progress, void *user)
    : archive_(archive), texts_(texts), listing_(listing), failed_only_(failed_only),
      on_member_(on_member), on_progress_(on_progress), user_(user) {}

void Collector::on_event(void *user, const VtqMemberEvent *event) {
    auto *self = static_cast<Collector *>(user);
    if (self->broken_ || event == nullptr) return;
    // The filter is C below this frame: nothing may be thrown through it.
    try {
        switch (event->Kind) {
        case VTQ_EVENT_BEGIN:
            self->begin(*event);
            break;
        case VTQ_EVENT_END:
            self->end(*event);
            break;
        case VTQ_EVENT_DETAIL:
            if (self->open_.empty()) break;
            if (event->Format != nullptr) self->open_.back().record.format = event->Format;
            if (event->Reason != nullptr && *event->Reason != '\0')
                self->open_.back().record.host_reason = event->Reason;
            if (event->Encoding == nullptr) break;
            if (self->listing_)
                self->open_.back().record.name_encoding = event->Encoding;
            else
                self->open_.back().record.encoding = event->Encoding;
            break;
        default:
            break;
        }
    } catch (...) {
        self->broken_ = true;
        self->open_.clear();
    }
}

void Collector::on_text(void *user, const void *data, size_t len) {
    auto *self = static_cast<Collector *>(user);
    if (self->broken_ || self->open_.empty()) return;
    Record &r = self->open_.back().record;
    r.got_text = true;
    self->text_bytes_ += len;
    if (!self->texts_) return;
    try {
        r.text.append(static_cast<const char *>(data), len);
    } catch (...) {
        self->broken_ = true;
        self->open_.clear();
    }
}

void Collector::begin(const VtqMemberEvent &e) {
    Frame f;
    Record &r = f.record;
    if (!open_.empty()) r.path = open_.back().record.path;
    r.name = e.Name != nullptr ? e.Name : "";
    r.path.push_back(e.DisplayName != nullptr ? e.DisplayName : r.name);
    r.uncompressed_size = e.UncompressedSize;
    r.compressed_size = e.CompressedSize;
    r.method = e.Method;
    r.method_name = method_name(e.Method);
    r.encryption = e.Encryption;
    r.crc32 = e.Crc32;
    r.dos_date_time = e.DosDateTime;
    r.general_flags = e.Flags;
    if (e.Encoding != nullptr) r.name_encoding = e.Encoding;
    open_.push_back(std::move(f));
}

void Collector::end(const VtqMemberEvent &e) {
    if (open_.empty()) return;
    Frame f = std::move(open_.back());
    open_.pop_back();
    Record &r = f.record;
    r.code = e.Code;
    if (e.Code != VTQ_OK) r.error = reason_of(e, r);
    if (!r.got_text) text_bytes_ += texts_ ? 0 : e.TextBytes;
    r.nested = f.inside_count;
    r.failed = e.Code != VTQ_OK && !f.inside_failed;
    // A member gave text when some came, or when it ended well (an empty
    // text) as text: not as an archive of its own.
    r.got_text = r.got_text || ((e.Code == VTQ_OK || e.Code == VTQ_E_SIZE_LIMIT) && r.nested == 0 &&
                                (!r.format || *r.format == "text"));
    if (!open_.empty()) {
        Frame &to = open_.back();
        to.inside_count += 1 + f.inside_count;
        to.inside_failed = to.inside_failed || r.failed || f.inside_failed;
        if (!failed_only_ || r.failed) to.inside.push_back(std::move(r));
        for (Record &in : f.inside) to.inside.push_back(std::move(in));
        return;
    }
    deliver(r);
    for (const Record &in : f.inside) deliver(in);
    // The members inside that were not kept count all the same.
    members_ += f.inside_count - f.inside.size();
    progress_.members_done += 1;
    progress_.bytes_done += r.uncompressed_size;
    if (on_progress_ != nullptr) on_progress_(user_, &progress_);
}

void Collector::deliver(const Record &r) {
    ++members_;
    if (r.failed) ++failed_;
    if (on_member_ == nullptr || (failed_only_ && !r.failed)) return;
    std::vector<const char *> path;
    const zt_member m = member_view(r, archive_, texts_, &path);
    on_member_(user_, &m);
}

zt_member member_view(const Record &r, const std::string &archive, bool with_text,
                      std::vector<const char *> *path) {
    zt_member m{};
    m.size = sizeof m;
    path->clear();
    for (const std::string &p : r.path) path->push_back(p.c_str());
    m.depth = static_cast<uint32_t>(r.path.size() - 1);
    m.archive = archive.c_str();
    m.path = path->data();
    m.name = r.name.c_str();
    m.uncompressed_size = r.uncompressed_size;
    m.compressed_size = r.compressed_size;
    m.method = r.method;
    m.encryption = r.encryption;
    m.method_name = r.method_name.c_str();
    m.encryption_name = encryption_name(r.encryption);
    m.crc32 = r.crc32;
    m.dos_date_time = r.dos_date_time;
    const std::string iso = iso_time(r.dos_date_time);
    std::snprintf(m.modified, sizeof m.modified, "%s", iso.c_str());
    m.general_flags = r.general_flags;
    m.code = r.code;
    m.error = r.error ? r.error->c_str() : nullptr;
    m.encoding = r.encoding ? r.encoding->c_str() : nullptr;
    m.format = r.format ? r.format->c_str() : nullptr;
    m.name_encoding = r.name_encoding ? r.name_encoding->c_str() : nullptr;
    if (with_text && r.got_text) {
        m.text = r.text.c_str();
        m.text_len = r.text.size();
    }
    m.nested = r.nested;
    m.failed = r.failed ? 1 : 0;
    return m;
}

} // namespace ziptext
