// detect.h - which text encoding a member's bytes are in, or that they are no text
//
// The extended mode's answer to "is this member text, and how is it
// decoded": a byte-order mark, then UTF-8, then the user's character set,
// then the NUL pattern of UTF-16/32, then a statistical detector (uchardet).
// The documented mode does not use it: classify() keeps its own rule there.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace vtq::txif {

// A decision about a member's bytes.
struct TextEncoding {
    std::string iconv_name;   // what iconv decodes the text with; empty: not text
    std::string display_name; // "UTF-8", "UTF-16LE", "Shift_JIS", ...; "binary" when not text
    std::size_t bom_len = 0;  // bytes of byte-order mark in front of the text
    bool text() const { return !iconv_name.empty(); }
};

// Decides the encoding of bytes that are not a ZIP archive, in this order:
// 1. a byte-order mark (UTF-32LE/BE, UTF-8, UTF-16LE/BE): text in that
//    encoding even with NUL bytes, if the rest decodes strictly in it (not
//    text otherwise);
// 2. valid UTF-8 without a NUL byte (empty bytes included): UTF-8; 7-bit
//    bytes with the escape sequences of ISO-2022-JP that decode in it are
//    ISO-2022-JP;
// 3. explicit_charset (a name resolve_charset() knows; "" or "auto" for
//    none) when the bytes read as text in it;
// 4. bytes with a NUL byte: UTF-32 or UTF-16 without a mark when they read
//    as text in it (byte order from the pattern), not text otherwise;
// 5. uchardet's answer (taken from a window of at most 16 KiB), when the
//    bytes read as text in it; not text when it has none.  A short text
//    (fewer than kShortText bytes past ASCII) whose answer is not a set of
//    the user's language, for a language whose sets the detector confuses
//    with other scripts' (Russian: KOI8-R, windows-1251, ISO-8859-5), is
//    read in the set of that language ICU's detector names instead, when
//    it names one and the bytes read as text in it.
// "Read as text" means: the whole of the bytes decodes strictly, with no
// NUL character and at most one other control character (C0 but TAB, LF,
// VT, FF, CR, SUB, ESC; DEL; C1; U+FFFE/U+FFFF) per 100 characters.  That,
// with uchardet naming a set only when one of its probers is confident
// enough, is the threshold below which bytes are no text.
TextEncoding detect_encoding(std::span<const unsigned char> bytes,
                             std::string_view explicit_charset, std::string_view language = {});

// Below this many bytes past ASCII, a statistical answer is a guess: six
// Cyrillic letters score as well in Hebrew as in any Cyrillic set.
inline constexpr std::size_t kShortText = 64;

// Decodes bytes in the iconv encoding iconv_name to UTF-8, strictly, kChunk
// bytes at a time (a character cut off by a chunk's end goes with the next
// chunk); piece, when set, gets each chunk's UTF-8 and stops the decoding
// by returning false.  True when every byte was decoded and piece never
// said stop; false for an unknown encoding, an invalid sequence, bytes
// that end inside a character, or a stop.
bool decode_in_chunks(std::span<const unsigned char> bytes, const char *iconv_name,
                      const std::function<bool(std::string_view)> &piece);

} // namespace vtq::txif
