// run.h - one archive through the filter and the stand-in host, to one kind of output
#pragma once

#include <cstdint>
#include <string>

#include "host/txif/filter_loader.h"
#include "lib/ziptext/records.h"
#include "lib/ziptext/settings.h"
#include "vtq/zozaz.h"
#include "ziptext.h"

namespace ziptext {

enum class Output {
    kMembers, // records with texts; the composed output is dropped
    kList,    // records of the directory, nothing extracted
    kWrite,   // composed text to a write callback
    kPath,    // composed text to a file, replaced when complete
    kSplit,   // one text file per member under a work directory
    kFlat,    // the texts in the output's folder
};

struct Destination {
    Output kind = Output::kMembers;
    const char *path = nullptr;  // kPath, kSplit, kFlat
    zt_write_fn write = nullptr; // kWrite
    void *write_user = nullptr;
};

// What a call ended with; the fields of zt_summary.
struct Result {
    uint32_t code = 0;
    uint64_t members = 0, failed = 0, bytes = 0;
    int output_errno = 0;
    std::string cause, message;
};

// The filter's entry points, looked up by name in the library loaded by
// soname, as any host finds a filter.
struct Filter {
    vtq::txif::FilterLibrary library;
    decltype(&GetTextWithErrCallback) get_text = nullptr;
    decltype(&GetTextStreamWithErrCallback) get_text_stream = nullptr;
    decltype(&VtqZip_FormatChk) format_chk = nullptr;
    decltype(&VtqZip_GetCurrentFileInfo) current_file_info = nullptr;
    // False with the loader's message when the library or a name is missing.
    bool load(std::string *error);
};

// Runs archive to d with opts.  Never throws: memory that runs out gives 12.
Result run_archive(const char *archive, const Destination &d, const zt_options *opts) noexcept;

// ZT_STRICT listing: the documented directory reader's entries, each handed
// to c as a record; the reader's code (0 at the end).
uint32_t strict_list(const Filter &f, const char *archive, const Settings &s, Collector &c);

} // namespace ziptext
