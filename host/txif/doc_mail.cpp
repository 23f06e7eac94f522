// doc_mail.cpp - the text of an e-mail message (RFC 822 and MIME, through GMime)
//
// The message's From, To, Subject and Date come first, decoded (RFC 2047
// encoded words, address lists), then each part in order: text as text,
// HTML as html_text reads it, of an alternative the last part that is
// either (the richest, by MIME's rule), a forwarded message with its own
// headers, and any other attachment through the same dispatch as an
// archive's members (a PDF, a DOCX, a page), each after a line that names
// it.  Attachments count as a level of nesting, like archives.
#include <gmime/gmime.h>

#include <algorithm>
#include <memory>
#include <mutex>

#include "host/conf/charset_names.h"
#include "host/txif/documents.h"
#include "host/txif/internal.h"

namespace vtq::txif {

namespace {

void gmime_init() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

struct Unref {
    void operator()(void *p) const { g_object_unref(p); }
};
template <typename T> using GPtr = std::unique_ptr<T, Unref>;

struct GFree {
    void operator()(char *p) const { g_free(p); }
};

// GMime's parser descends once per nested multipart or message; a message
// built to nest thousands deep would exhaust the stack before anything is
// shown.  Every "multipart/" and "message/" in the message, in any case and
// wherever it stands (a Content-Type folded over lines, or one GMime
// tolerates that the rules do not), is counted as a level it might open:
// more than 100 and the message is refused, with no change to GMime.
constexpr int kMaxContainers = 100;

bool too_many_containers(std::span<const unsigned char> bytes) {
    const auto at = [&](std::size_t i, std::string_view word) {
        if (bytes.size() - i < word.size()) return false;
        for (std::size_t k = 0; k < word.size(); ++k)
            if ((bytes[i + k] | 0x20) != word[k]) return false;
        return true;
    };
    int containers = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if ((bytes[i] | 0x20) == 'm' && (at(i, "multipart/") || at(i, "message/")) &&
            ++containers > kMaxContainers)
            return true;
    return false;
}

// A part's content with its transfer encoding (base64, quoted-printable)
// undone.
std::string part_bytes(GMimePart *part) {
    std::string bytes;
    GMimeDataWrapper *content = g_mime_part_get_content(part);
    if (content == nullptr) return bytes;
    GPtr<GMimeStream> mem(g_mime_stream_mem_new());
    if (g_mime_data_wrapper_write_to_stream(content, mem.get()) < 0) return bytes;
    const GByteArray *array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
    if (array != nullptr && array->len > 0)
        bytes.assign(reinterpret_cast<const char *>(array->data), array->len);
    return bytes;
}

std::span<const unsigned char> as_bytes(const std::string &s) {
    return {reinterpret_cast<const unsigned char *>(s.data()), s.size()};
}

// The encoding of a text part: its charset parameter when the bytes decode
// in it, else what the detector finds.
TextEncoding part_encoding(GMimeObject *part, const std::string &bytes) {
    if (const char *charset = g_mime_object_get_content_type_parameter(part, "charset"))
        if (const auto set = conf::resolve_charset(charset))
            if (decode_in_chunks(as_bytes(bytes), set->iconv_name.c_str(), nullptr))
                return {set->iconv_name, set->display_name, 0};
    return detect_encoding(as_bytes(bytes), "");
}

// Raises the document level for an attachment's text.
class AttachmentLevel {
public:
    explicit AttachmentLevel(ParentInfo &parent) : level_(parent.Reserved[0]) { ++level_; }
    AttachmentLevel(const AttachmentLevel &) = delete;
    AttachmentLevel &operator=(const AttachmentLevel &) = delete;
    ~AttachmentLevel() { --level_; }

private:
    uint8_t &level_;
};

class MailWalk {
public:
    MailWalk(DocContext &ctx, TextBuilder &out) : ctx_(ctx), out_(out) {}

    void message(GMimeMessage *msg) {
        header("From", g_mime_message_get_from(msg));
        header("To", g_mime_message_get_to(msg));
        header("Subject", g_mime_message_get_subject(msg));
        header("Date", g_mime_object_get_header(GMIME_OBJECT(msg), "Date"));
        out_.paragraph();
        if (GMimeObject *body = g_mime_message_get_mime_part(msg)) object(body);
    }

private:
    void header(const char *name, const char *value) {
        if (value == nullptr || *value == '\0') return;
        out_.text(name);
        out_.text(": ");
        out_.flowing(value);
        out_.end_line();
    }

    void header(const char *name, InternetAddressList *list) {
        if (list == nullptr || internet_address_list_length(list) == 0) return;
        std::unique_ptr<char, GFree> s(internet_address_list_to_string(list, nullptr, FALSE));
        header(name, s.get());
    }

    void object(GMimeObject *obj) {
        if (out_.stopped()) return;
        if (GMIME_IS_MULTIPART(obj)) {
            GMimeMultipart *multi = GMIME_MULTIPART(obj);
            const int n = g_mime_multipart_get_count(multi);
            if (g_mime_content_type_is_type(g_mime_object_get_content_type(obj), "multipart",
                                            "alternative")) {
                for (int i = n; i-- > 0;) {
                    GMimeObject *alt = g_mime_multipart_get_part(multi, i);
                    if (readable_text(alt)) return object(alt);
                }
            }
            for (int i = 0; i < n; ++i) object(g_mime_multipart_get_part(multi, i));
        } else if (GMIME_IS_MESSAGE_PART(obj)) {
            if (GMimeMessage *inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(obj))) {
                out_.paragraph();
                message(inner);
            }
        } else if (GMIME_IS_PART(obj)) {
            part(GMIME_PART(obj));
        }
    }

    static bool readable_text(GMimeObject *obj) {
        GMimeContentType *type = g_mime_object_get_content_type(obj);
        return GMIME_IS_PART(obj) && (g_mime_content_type_is_type(type, "text", "plain") ||
                                      g_mime_content_type_is_type(type, "text", "html"));
    }

    void part(GMimePart *part) {
        GMimeObject *obj = GMIME_OBJECT(part);
        GMimeContentType *type = g_mime_object_get_content_type(obj);
        // Signatures are no text of the message.
        if (g_mime_content_type_is_type(type, "application", "pgp-signature") ||
            g_mime_content_type_is_type(type, "application", "pkcs7-signature") ||
            g_mime_content_type_is_type(type, "application", "x-pkcs7-signature"))
            return;
        const std::string bytes = part_bytes(part);
        if (!g_mime_part_is_attachment(part) && readable_text(obj)) {
            const TextEncoding enc = part_encoding(obj, bytes);
            if (g_mime_content_type_is_type(type, "text", "html"))
                html_text(as_bytes(bytes), enc, out_);
            else
                plain_text(as_bytes(bytes), enc, out_);
            out_.paragraph();
            return;
        }
        attachment(part, bytes);
    }

    // An attachment: a line that names it, then its text by its content,
    // whatever its declared type says.
    void attachment(GMimePart *part, const std::string &bytes) {
        const char *name = g_mime_part_get_filename(part);
        out_.text("Attachment: ");
        out_.flowing(name != nullptr ? name : "(no name)");
        out_.end_line();
        if (!document_level_free(*ctx_.parent)) return;
        AttachmentLevel level(*ctx_.parent);
        const MemberFormat format = sniff_member(as_bytes(bytes), "");
        if (format.format == DocFormat::kText) {
            plain_text(as_bytes(bytes), format.encoding, out_);
        } else if (format.format != DocFormat::kNone && format.format != DocFormat::kZip) {
            document_text(format, as_bytes(bytes), nullptr, ctx_, out_);
        }
        out_.paragraph();
    }

    DocContext &ctx_;
    TextBuilder &out_;
};

} // namespace

DocResult mail_text(std::span<const unsigned char> bytes, DocContext &ctx, TextBuilder &out) {
    if (too_many_containers(bytes)) return doc_failed("e-mail of more than 100 nested parts");
    gmime_init();
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(
        reinterpret_cast<const char *>(bytes.data()), bytes.size()));
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    GPtr<GMimeMessage> msg(g_mime_parser_construct_message(parser.get(), nullptr));
    if (!msg) return doc_failed("unreadable e-mail");
    MailWalk(ctx, out).message(msg.get());
    return {};
}

} // namespace vtq::txif
