// writer.cpp - the filter's own output bytes, and the output size limit
//
// Every byte the filter itself writes (labels, member names, line breaks)
// goes through myfwrite, the one place where it meets the size limit.  The
// limit is counted in ZipBus.Written and, in compose mode or when the host
// shares counts, mirrored into ParentInfo.Written, which the member texts
// of the host and of nested archives continue.  Write errors of the host
// are not detected: bytes are counted as asked.
#include <cstdint>
#include <cstring>

#include "host/services.h"
#include "output/count.h"
#include "vtq/zozaz.h"

namespace vtq {
namespace {

// Mirrors the running count into the shared record, so that the host's
// text and nested levels continue from it.
void PropagateCount(ZipBus *bus) {
    if (bus->Option[VTQ_OPT_SHARE_COUNT] != 0 || (bus->Options->ModeFlags & VTQ_MODE_COMPOSE) != 0)
        HandCountOut(*bus);
}

// Sends n bytes to the host stream (stream mode) or the file.
void Emit(ZipBus *bus, const void *buf, uint32_t n, VTQ_FILE *file) {
    if (bus->StreamMode == 1)
        VTQ_WriteStream(bus->Stream, n, buf);
    else
        VTQ_FileWrite(buf, 1, n, file);
}

// Opens the compose output on first use.  Returns false, with OutOpenFailed
// set, when it is needed and cannot be opened; the next writer tries again.
bool OutputReady(ZipBus *bus) {
    if (bus->StreamMode == 1 || bus->OutFile != nullptr) return true;
    if (bus->OutPath != nullptr) bus->OutFile = VTQ_FileOpen(bus->OutPath, "wb");
    if (bus->OutFile != nullptr) return true;
    bus->OutOpenFailed = 1;
    return false;
}

constexpr unsigned char kZeroByte[1] = {0};

} // namespace
} // namespace vtq

// Writes size * count bytes of buf (32-bit product) to the host stream in
// stream mode, else to file.  With the size limit off every write goes out
// whole, uncounted.  With it on: returns 0 when the bytes fit within
// SizeLimit and were written and counted; returns 3005 when the limit was
// already reached (nothing written) or the write had to be cut (the leading
// bytes the host's CutStr allows are written and counted), and LimitReached
// is then 1.
extern "C" VTQ_FILTER_API uint32_t myfwrite(ZipBus *bus, const void *buf, uint32_t size,
                                            uint32_t count, VTQ_FILE *file) {
    uint32_t n = size * count;
    if (bus->Option[VTQ_OPT_SIZE_LIMIT_ON] == 0) {
        if (bus->StreamMode == 1)
            VTQ_WriteStream(bus->Stream, n, buf);
        else
            VTQ_FileWrite(buf, size, count, file);
        return 0;
    }
    if (bus->LimitReached != 0) return VTQ_E_SIZE_LIMIT;
    if (bus->Written >= bus->SizeLimit) {
        bus->LimitReached = 1;
        return VTQ_E_SIZE_LIMIT;
    }
    uint32_t budget = bus->SizeLimit - bus->Written;
    if (n <= budget) {
        vtq::Emit(bus, buf, n, file);
        bus->Written += n;
        vtq::PropagateCount(bus);
        return 0;
    }
    uint32_t m = CutStr(static_cast<const char *>(buf), n, budget, bus->Options, file, count);
    // The host's answer is trusted within the buffer it was given.
    if (m > n) m = n;
    vtq::Emit(bus, buf, m, file);
    bus->Written += m;
    vtq::PropagateCount(bus);
    bus->LimitReached = 1;
    return VTQ_E_SIZE_LIMIT;
}

// Converts len bytes of text (read in charset, or the set that the options
// choose when it is null) to the output encoding and writes the result with
// myfwrite.  Returns the number of bytes the conversion produced, also when
// the size limit refused them (TextWritten is then set all the same); 0
// when no memory could be had, the conversion produced nothing, or the
// output could not be opened, and nothing was written.
extern "C" VTQ_FILTER_API uint32_t WriteStrToFile(ZipBus *bus, const char *text, uint32_t len,
                                                  const char *charset) {
    // One source byte becomes at most 4 output bytes.
    vtq::HostBuffer out(VTQ_malloc(static_cast<size_t>(len) * 4));
    if (!out) return 0;
    uint32_t n = TransUCSChar(bus, text, out.as<char>(), len, charset);
    if (n == 0) return 0;
    if (static_cast<uint64_t>(n) > static_cast<uint64_t>(len) * 4) n = len * 4;
    if (!vtq::OutputReady(bus)) return 0;
    myfwrite(bus, out.get(), 1, n, bus->OutFile);
    bus->TextWritten = 1;
    return n;
}

// Writes one line break: a zero byte first when FormatFlags asks for one
// (bit 26, or bit 27 without bit 26), then the converted line break.
// Returns 0 in every case; only a failed open of the output (OutOpenFailed)
// leaves TextWritten untouched.
extern "C" VTQ_FILTER_API uint32_t WriteCRLFToFile(ZipBus *bus) {
    if (!vtq::OutputReady(bus)) return 0;
    uint32_t flags = bus->Options->FormatFlags;
    if ((flags & VTQ_FMT_ZERO_BYTE) != 0) myfwrite(bus, vtq::kZeroByte, 1, 1, bus->OutFile);
    if ((flags & (VTQ_FMT_ZERO_BYTE | VTQ_FMT_ZERO_BYTE2)) == VTQ_FMT_ZERO_BYTE2)
        myfwrite(bus, vtq::kZeroByte, 1, 1, bus->OutFile);
    bus->TextWritten = 1;
    char line_break[32];
    uint32_t n = TransCRLF(bus, line_break);
    if (n == 0) return 0;
    if (n > sizeof(line_break)) n = sizeof(line_break);
    myfwrite(bus, line_break, 1, n, bus->OutFile);
    bus->TextWritten = 1;
    return 0;
}
