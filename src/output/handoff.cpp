// handoff.cpp - hand one extracted member to the host's text extraction
//
// The extraction loop writes each member into a file of its own and hands
// it over here.  The host turns it into text (through this filter again when
// it is an archive itself), continuing the running byte count that travels
// in ParentInfo.Written; the context's count is handed over before and
// taken back after the call, so the size limit spans the filter's own bytes,
// the host's text and nested levels.  The member file is consumed: it is
// deleted whatever happened.
#include <cstdint>
#include <cstring>

#include "host/services.h"
#include "output/count.h"
#include "vtq/zozaz.h"

namespace vtq {
namespace {

constexpr uint32_t kSplitMode = 1;
constexpr uint32_t kComposeMode = 2;
constexpr size_t kLabelBufferSize = 4096;
constexpr char kFilenameLabel[] = "Filename: ";
constexpr char kContentLabel[] = "Content: ";

// The host's per-member extraction into the stream or the output file,
// with the running count handed to the host before and taken back after.  A
// context with neither (no entry point of its own) gets no call, as if the
// member had no text.
uint32_t ExtractMember(ZipBus *bus, const char *member_path, uint32_t mode) {
    HandCountOut(*bus);
    uint32_t r = VTQ_OK;
    if (bus->StreamMode == 1)
        r = VTQ_GetCompressFileTextStreamWithErrCallback(member_path, bus->Stream, bus->Options,
                                                         bus->Parent, mode, bus->UserData);
    else if (bus->FileMode == 1)
        r = VTQ_GetCompressFileTextWithErrCallback(member_path, bus->OutFile, bus->Options,
                                                   bus->Parent, mode, bus->UserData);
    TakeCountBack(*bus);
    return r;
}

// After the host: 0 and 3005 mean text came out; 3005 also that the limit
// stopped it.
void NoteHostResult(ZipBus *bus, uint32_t r) {
    if (r != VTQ_OK && r != VTQ_E_SIZE_LIMIT) return;
    bus->TextWritten = 1;
    if (r == VTQ_E_SIZE_LIMIT) bus->LimitReached = 1;
}

// Writes one label (plain ASCII, shown with "?" for what the output cannot
// show) from the zeroed label buffer.
template <size_t N> void WriteLabel(ZipBus *bus, char *buf, const char (&label)[N]) {
    std::memset(buf, 0, kLabelBufferSize);
    std::memcpy(buf, label, N - 1);
    bus->LabelMode = 1;
    WriteStrToFile(bus, buf, N - 1, nullptr);
    bus->LabelMode = 0;
}

} // namespace
} // namespace vtq

// Split mode: the host writes the member's text into a file of its own.
// The byte count, and with it the size limit, restarts at 0 for every
// member.  Returns the host's result unchanged; Written is afterwards the
// low 32 bits of ParentInfo.Written.  The member file is gone on return.
extern "C" VTQ_FILTER_API uint32_t DealTxtSplit(ZipBus *bus, const char *member_path) {
    bus->Written = 0;
    uint32_t r = vtq::ExtractMember(bus, member_path, vtq::kSplitMode);
    vtq::NoteHostResult(bus, r);
    VTQ_ASC_remove(member_path);
    return r;
}

// Compose mode: the member goes into the one output, as a "Filename: " line
// with member_name (read in UTF-8 in extended mode, else in the set
// GetSrcGroupName_zip chooses), a "Content: " line (both left out with the no-labels
// mode flag), the host's text and a line break after it when the host
// succeeded or stopped at the limit.  Returns the host's result unchanged,
// or 12 when the label buffer could not be had (no host call then).  The
// member file is gone on return.
extern "C" VTQ_FILTER_API uint32_t DealTxtCompose(ZipBus *bus, const char *member_path,
                                                  const char *member_name) {
    // A failed open is the writers' to report: they try again and set
    // OutOpenFailed.
    if (bus->StreamMode != 1 && bus->OutFile == nullptr && bus->OutPath != nullptr)
        bus->OutFile = VTQ_FileOpen(bus->OutPath, "wb");
    if ((bus->Options->ModeFlags & VTQ_MODE_NO_LABELS) == 0) {
        vtq::HostBuffer label(VTQ_malloc(vtq::kLabelBufferSize));
        if (!label) {
            VTQ_ASC_remove(member_path);
            return VTQ_E_NO_MEMORY;
        }
        // The writes' results are not needed: a write the limit refuses
        // leaves LimitReached set for the caller to see.
        vtq::WriteLabel(bus, label.as<char>(), vtq::kFilenameLabel);
        // The extended walk hands over names it has decoded to UTF-8.
        const bool decoded = (bus->Options->ModeFlags & VTQ_MODE_EXTENDED) != 0;
        WriteStrToFile(bus, member_name, static_cast<uint32_t>(std::strlen(member_name)),
                       decoded ? "UTF-8" : nullptr);
        WriteCRLFToFile(bus);
        vtq::WriteLabel(bus, label.as<char>(), vtq::kContentLabel);
        WriteCRLFToFile(bus);
    }
    // The host counts on from the end of the labels.
    uint32_t r = vtq::ExtractMember(bus, member_path, vtq::kComposeMode);
    // Output has begun once anything is counted: later conversions must not
    // start it again.
    if (bus->Written != 0) bus->LeadWritten = 1;
    if (r == VTQ_OK || r == VTQ_E_SIZE_LIMIT) {
        vtq::NoteHostResult(bus, r);
        WriteCRLFToFile(bus);
    }
    VTQ_ASC_remove(member_path);
    return r;
}
