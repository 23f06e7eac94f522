// sink.cpp - write member text to a host file or stream, under the size limit
#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "host/txif/internal.h"

namespace vtq::txif {

namespace {

// The length of p[0..n), valid UTF-8 but for a character that the end may
// cut off, without that character.
std::size_t utf8_whole_prefix(const unsigned char *p, std::size_t n) {
    for (std::size_t back = 1; back <= 4 && back <= n; ++back) {
        const unsigned char c = p[n - back];
        if ((c & 0xC0) == 0x80) continue; // a continuation byte: look further back
        const std::size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        return len > back ? n - back : n;
    }
    return n;
}

} // namespace

bool Sink::put(const char *p, std::size_t n) const {
    if (n == 0) return true;
    if (on_text != nullptr) {
        on_text(text_user, p, n);
        return true;
    }
    if (stream != nullptr) {
        // The stream takes 32-bit lengths; our chunks are far smaller, but
        // a caller's large block is split rather than truncated.
        while (n > 0) {
            uint32_t part = n > 0x40000000u ? 0x40000000u : static_cast<uint32_t>(n);
            VTQ_WriteStream(stream, part, p);
            p += part;
            n -= part;
        }
        return true;
    }
    return VTQ_FileWrite(p, 1, n, file) == n;
}

LimitedWriter::LimitedWriter(const Sink &sink, const TxtOptions &opts, uint64_t start_count)
    : sink_(sink), opts_(opts), count_(start_count),
      limit_on_((opts.FormatFlags & VTQ_FMT_SIZE_LIMIT) != 0),
      limit_(static_cast<uint32_t>(opts.MaxSize & 0xFFFFFFFFu)) {}

LimitedWriter::Result LimitedWriter::write(const char *p, std::size_t n) {
    if (!limit_on_) {
        if (!sink_.put(p, n)) return Result::kWriteFailed;
        count_ += n;
        return Result::kOk;
    }
    if (cut_) return Result::kCut;
    uint64_t budget = count_ < limit_ ? limit_ - count_ : 0;
    if (n <= budget) {
        if (!sink_.put(p, n)) return Result::kWriteFailed;
        count_ += n;
        return Result::kOk;
    }
    // Text that ends exactly at the limit is whole; only text that would
    // pass it is cut, at a character boundary chosen by the host's CutStr.
    // n is a chunk (well below 4 GiB) and budget < n, so both fit 32 bits.
    uint32_t fit = CutStr(p, static_cast<uint32_t>(n), static_cast<uint32_t>(budget), &opts_,
                          sink_.file, static_cast<uint32_t>(n));
    if (fit > budget) fit = static_cast<uint32_t>(budget); // never trust a cut past the budget
    cut_ = true;
    if (!sink_.put(p, fit)) return Result::kWriteFailed;
    count_ += fit;
    return Result::kCut;
}

// ---------------------------------------------------------------- encoder

namespace {

// The line-break mode the filter derives from the same format flags; the
// converter wants it even though member text keeps its own line breaks.
uint32_t line_break_mode(uint32_t flags) {
    if (flags & VTQ_FMT_EOL_CRLF) return 1;
    if (flags & VTQ_FMT_EOL_LF) return 2;
    if (flags & VTQ_FMT_EOL_CR) return 3;
    if (flags & VTQ_FMT_EOL_LS) return 4;
    if (flags & VTQ_FMT_EOL_NEL) return 5;
    return 1;
}

} // namespace

Encoder::Encoder(const TxtOptions &opts) : opts_(opts) {}

bool Encoder::run(const char *src, std::size_t n, bool first, std::string &out) {
    // ConvState is 16 KiB: keep it off the stack, which nested archives
    // share (16 levels on one thread).
    auto state = std::make_unique<ConvState>();
    ConvParams params{};
    params.OutCode = opts_.OutCode;
    params.FirstOutput = first ? 1 : 0;
    params.TextConv = 1;
    // Characters the output encoding lacks become "?" rather than vanish.
    params.Subst[0] = '?';
    params.Subst2[0] = '?';
    params.LineBreakConv = 0;
    params.LineBreakMode = line_break_mode(opts_.FormatFlags);
    if (cconvInitConvert(state.get(), &params, &opts_) != 0) return false;
    ConvSource source{0, 0, 1};
    if (cconvChgCharset(state.get(), &source, "UTF-8") != 0) {
        cconvTermConvert(state.get());
        return false;
    }
    // UTF-8 in, at most 4 bytes out per input byte (UTF-32 of ASCII), plus
    // room for a byte-order mark.
    std::vector<char> dst(n * 4 + 16);
    state->Src = src;
    state->Zero0 = 0;
    state->SrcLen = static_cast<uint32_t>(n);
    state->Zero1 = 0;
    state->Dst = dst.data();
    state->Produced = 0;
    state->DstCap = static_cast<uint32_t>(dst.size());
    state->Zero2 = 0;
    int rc = cconvConvert(state.get());
    uint32_t produced = state->Produced;
    cconvTermConvert(state.get());
    if (rc != 0 || produced > dst.size()) return false;
    out.append(dst.data(), produced);
    return true;
}

bool Encoder::convert(const char *utf8, std::size_t n, std::string &out) {
    if (opts_.OutCode == 0) {
        out.append(utf8, n);
        first_ = false;
        return true;
    }
    if (n == 0) return true;
    bool first = first_;
    first_ = false;
    return run(utf8, n, first, out);
}

bool Encoder::byte_order_mark(std::string &bom) {
    bom.clear();
    if (opts_.OutCode == 0) return true;
    // The mark is whatever a first output has in front of the same text
    // converted as a later output.
    std::string with, without;
    if (!run("A", 1, true, with) || !run("A", 1, false, without)) return false;
    if (with.size() > without.size() &&
        with.compare(with.size() - without.size(), without.size(), without) == 0)
        bom = with.substr(0, with.size() - without.size());
    return true;
}

// ------------------------------------------------------------ write_text

uint32_t write_text(std::span<const unsigned char> bytes, MemberKind kind,
                    const char *legacy_iconv_name, Encoder &encoder, LimitedWriter &writer) {
    std::optional<LegacyDecoder> legacy;
    if (kind == MemberKind::kLegacyText) {
        legacy.emplace(legacy_iconv_name);
        if (!legacy->ok()) return VTQ_E_NO_TEXT;
    }
    const auto *p = reinterpret_cast<const char *>(bytes.data());
    if (kind == MemberKind::kUtf8Text && encoder.passthrough() && writer.takes_any_size()) {
        // UTF-8 text to a UTF-8 output that neither cuts nor hands out
        // pieces: the chunks would add up to the member's bytes, so they
        // go out in one write, straight from where they lie.
        if (!bytes.empty() && writer.write(p, bytes.size()) != LimitedWriter::Result::kOk)
            return VTQ_E_SHORT_WRITE;
        return VTQ_OK;
    }
    std::string utf8, encoded;
    const auto put = [&](const char *text, std::size_t len) {
        LimitedWriter::Result r;
        if (encoder.passthrough()) {
            // UTF-8 out: the text goes as it stands, from the file's bytes.
            r = writer.write(text, len);
        } else {
            encoded.clear();
            if (!encoder.convert(text, len, encoded)) return VTQ_E_NO_TEXT;
            r = writer.write(encoded.data(), encoded.size());
        }
        switch (r) {
        case LimitedWriter::Result::kOk:
            break;
        case LimitedWriter::Result::kCut:
            return VTQ_E_SIZE_LIMIT;
        case LimitedWriter::Result::kWriteFailed:
            return VTQ_E_SHORT_WRITE;
        }
        return VTQ_OK;
    };
    // Chunks end where the file's reads of kChunk bytes once ended, cut
    // back to the last whole character; the rest goes with the next chunk.
    std::size_t start = 0, read_end = 0;
    while (read_end < bytes.size()) {
        read_end += std::min(kChunk, bytes.size() - read_end);
        const std::size_t n = read_end - start;
        std::size_t whole;
        bool bad = false;
        const char *text = p + start; // the chunk's UTF-8
        if (legacy) {
            utf8.clear();
            whole = legacy->decode(p + start, n, &utf8, &bad);
            text = utf8.data();
        } else {
            // classify() found these very bytes valid UTF-8: only a
            // character cut off by the chunk's end needs finding.
            whole = utf8_whole_prefix(bytes.data() + start, n);
        }
        if (bad || n - whole > 8) return VTQ_E_IO;
        start += whole;
        if (const uint32_t rc = put(text, legacy ? utf8.size() : whole); rc != VTQ_OK) return rc;
    }
    if (legacy && start == bytes.size()) {
        utf8.clear();
        legacy->finish(&utf8);
        if (const uint32_t rc = put(utf8.data(), utf8.size()); rc != VTQ_OK) return rc;
    }
    return start == bytes.size() ? VTQ_OK : VTQ_E_IO;
}

} // namespace vtq::txif
