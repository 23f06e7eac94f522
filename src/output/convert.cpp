// convert.cpp - labels, member names and line breaks in the output encoding
//
// The filter's own bytes in compose mode (the two labels, the member names
// and the line breaks) must come out in the encoding the host asked for,
// like the member texts around them.  Every such string goes once through
// the host's converter: set up, told the source character set, run over
// the whole string, released.  Nothing carries over from one conversion to
// the next but LeadWritten, which tells the converter that the output has
// begun (so that, for instance, a byte-order mark is written only once).
//
// Stack: one conversion holds its ConvState (16608 bytes), ConvParams (4124
// bytes) and a 256-byte charset name on the stack, about 21 KiB in all; the
// conversions never nest.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "host/services.h"
#include "vtq/zozaz.h"

namespace vtq {
namespace {

constexpr size_t kCharsetNameSize = 256;

// Source character sets the converter accepts by name as they stand.
constexpr std::string_view kGroupNames[] = {
    "ISO-8859-1", "ChineseGBK", "ChineseBIG5", "KoreanKSC", "Shift_JIS", "WINDOWS31J",
};

struct LanguageGroup {
    std::string_view language;
    std::string_view group;
};
// The source character set taken for a language when Charset names none of
// the groups.  Anything not listed, the empty name included, is read as
// Shift_JIS.
constexpr LanguageGroup kLanguageGroups[] = {
    {"English", "ISO-8859-1"},
    {"Japanese", "Shift_JIS"},
    {"Korean", "KoreanKSC"},
    {"Simplified Chinese", "ChineseGBK"},
    {"Traditional Chinese", "ChineseBIG5"},
};
constexpr std::string_view kDefaultGroup = "Shift_JIS";

// A NUL-terminated name held in a fixed field of the host's record.
std::string_view FieldText(const char (&field)[256]) {
    return {field, strnlen(field, sizeof(field))};
}

void CopyName(std::string_view from, char *name) {
    std::memcpy(name, from.data(), from.size());
    name[from.size()] = '\0';
}

// The line-break source: a single carriage return, read as ISO-8859-1 and
// turned by the converter into the line break of the output.
constexpr char kCarriageReturn = 0x0D;
constexpr char kLineBreakCharset[] = "ISO-8859-1";
constexpr uint32_t kLineBreakCap = 32;

enum class Kind { kText, kLineBreak };

// ConvParams for one conversion.  The first conversion of a call carries
// the first-output flag, and LeadWritten is set here, before the converter
// runs, so that even a conversion that then fails uses up the flag.
void PrepareParams(ZipBus *bus, Kind kind, ConvParams *params) {
    const TxtOptions &opts = *bus->Options;
    std::memset(params, 0, sizeof(*params));
    params->OutCode = opts.OutCode;
    if (bus->LeadWritten == 0) {
        params->FirstOutput = 1;
        bus->LeadWritten = 1;
    }
    // A label is plain ASCII and a name read as ISO-8859-x is single-byte:
    // what the output encoding cannot show becomes "?".  Elsewhere the
    // converter's own rule applies.
    bool substitute = bus->LabelMode == 1;
    if (kind == Kind::kText && std::memcmp(opts.Charset, "ISO-8859-", 9) == 0) substitute = true;
    if (substitute) {
        params->Subst[0] = '?';
        params->Subst2[0] = '?';
    }
    params->TextConv = kind == Kind::kText ? 1 : 0;
    params->LineBreakConv = kind == Kind::kLineBreak ? 1 : 0;
    params->LineBreakMode = bus->Option[VTQ_OPT_LINE_BREAK_MODE];
}

struct Conversion {
    const char *src;
    uint32_t src_len;
    char *dst;
    uint32_t dst_cap;
    const char *charset;
};

// Runs the four converter calls in their fixed order.  Returns false when
// the converter could not be set up (no cconvConvert was made).  Otherwise
// *produced is what the converter reported at offset 32, and *converted
// whether cconvConvert succeeded.
bool RunConverter(ZipBus *bus, ConvParams *params, ConvSource *source, const Conversion &c,
                  uint32_t *produced, bool *converted) {
    // The converter initialises its record itself; only the leading fields
    // below are the caller's.
    ConvState st;
    if (cconvInitConvert(&st, params, bus->Options) != 0) return false;
    if (cconvChgCharset(&st, source, c.charset) != 0) {
        cconvTermConvert(&st);
        return false;
    }
    st.Src = c.src;
    st.Zero0 = 0;
    st.SrcLen = c.src_len;
    st.Zero1 = 0;
    st.Dst = c.dst;
    st.Produced = 0;
    st.DstCap = c.dst_cap;
    st.Zero2 = 0;
    *converted = cconvConvert(&st) == 0;
    *produced = st.Produced;
    cconvTermConvert(&st);
    return true;
}

} // namespace
} // namespace vtq

// Writes into name (256 bytes) the source character set of member names and
// labels: TxtOptions.Charset when it is one of the group names exactly,
// else the group of TxtOptions.Language.  Returns 0.
extern "C" VTQ_FILTER_API uint32_t GetSrcGroupName_zip(const TxtOptions *opts, char *name) {
    std::string_view charset = vtq::FieldText(opts->Charset);
    for (std::string_view g : vtq::kGroupNames) {
        if (charset == g) {
            vtq::CopyName(g, name);
            return 0;
        }
    }
    std::string_view language = vtq::FieldText(opts->Language);
    std::string_view group = vtq::kDefaultGroup;
    for (const auto &lg : vtq::kLanguageGroups) {
        if (language == lg.language) {
            group = lg.group;
            break;
        }
    }
    vtq::CopyName(group, name);
    return 0;
}

// Converts len bytes of src, read in charset (or, when charset is null, in
// the set GetSrcGroupName_zip chooses), into dst, which holds 4 bytes per
// source byte.  Returns the number of bytes the converter reports produced
// (it is not asked whether the conversion itself succeeded), or 0 when the
// converter could not be set up.
extern "C" VTQ_FILTER_API uint32_t TransUCSChar(ZipBus *bus, const char *src, char *dst,
                                                uint32_t len, const char *charset) {
    ConvSource source{bus->SwapBytes, 0, 1};
    ConvParams params;
    vtq::PrepareParams(bus, vtq::Kind::kText, &params);
    char name[vtq::kCharsetNameSize] = {};
    if (charset != nullptr)
        std::memcpy(name, charset, strnlen(charset, sizeof(name) - 1));
    else
        GetSrcGroupName_zip(bus->Options, name);
    // dst holds 4 * len bytes; past 4 GiB the 32-bit capacity stops short
    // of it rather than wrapping round to a small number.
    uint32_t cap = len <= UINT32_MAX / 4 ? len * 4 : UINT32_MAX;
    uint32_t produced = 0;
    bool converted = false;
    if (!vtq::RunConverter(bus, &params, &source, {src, len, dst, cap, name}, &produced,
                           &converted))
        return 0;
    return produced;
}

// Converts one line break (a carriage return under the context's line-break
// mode) into dst, which holds at least 32 bytes.  Returns the number of
// bytes produced, 0 when any converter call failed.
extern "C" VTQ_FILTER_API uint32_t TransCRLF(ZipBus *bus, char *dst) {
    ConvSource source{1, 0, 1};
    ConvParams params;
    vtq::PrepareParams(bus, vtq::Kind::kLineBreak, &params);
    uint32_t produced = 0;
    bool converted = false;
    if (!vtq::RunConverter(
            bus, &params, &source,
            {&vtq::kCarriageReturn, 1, dst, vtq::kLineBreakCap, vtq::kLineBreakCharset}, &produced,
            &converted) ||
        !converted)
        return 0;
    return produced;
}
