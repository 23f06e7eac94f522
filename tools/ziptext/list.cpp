// list.cpp - "ziptext list": one line per member, as the extraction walks them
//
// Extended mode lists the file members the filter's listing reports, with
// 64-bit sizes, the method and encryption by name and the modification
// time, and a total line (columns separated by spaces, the name last so
// that it may hold spaces):
//
//         Size       Packed  Method    Enc         CRC-32  Modified             Name
//           12           12  stored    -         3610a686  2024-01-02 03:04:06  hello.txt
// ------------ ------------                                                     -------
//           12           12                                                     1 file
//
// --verbose adds a "Names" column before the name: the character set the
// name was read in, where known.  --strict keeps the documented reader's
// list exactly: every central entry, directories included, as many as the
// end record counts:
//
//       Size     Packed  Method     CRC-32  Enc  Name
//         12         12  stored   3610a686  no   hello.txt
#include <cstdio>
#include <string>

#include "tools/ziptext/commands.h"
#include "tools/ziptext/interrupt.h"

namespace ziptext {
namespace {

struct Listing {
    bool strict, verbose;
    uint64_t files = 0, size = 0, packed = 0;
    bool headed = false;

    // The header comes once the directory is found (the first progress
    // report, or the first line): an archive that cannot be read gets none.
    void header() {
        if (headed) return;
        headed = true;
        if (strict)
            std::printf("%10s %10s  %-9s %8s  %-3s  %s\n", "Size", "Packed", "Method", "CRC-32",
                        "Enc", "Name");
        else
            std::printf("%12s %12s  %-9s %-9s %8s  %-19s  %s%s\n", "Size", "Packed", "Method",
                        "Enc", "CRC-32", "Modified", verbose ? "Names         " : "", "Name");
    }

    static void line(void *user, const zt_member *m) {
        auto *self = static_cast<Listing *>(user);
        self->header();
        const std::string name = shown(m->path[m->depth]);
        if (self->strict) {
            std::printf("%10u %10u  %-9s %08x  %-3s  %s\n",
                        static_cast<uint32_t>(m->uncompressed_size),
                        static_cast<uint32_t>(m->compressed_size), m->method_name, m->crc32,
                        (m->general_flags & 1u) ? "yes" : "no", name.c_str());
            return;
        }
        std::string when = m->modified[0] != '\0' ? m->modified : "-";
        if (when.size() > 10 && when[10] == 'T') when[10] = ' ';
        std::printf("%12llu %12llu  %-9s %-9s %08x  %-19s  ",
                    static_cast<unsigned long long>(m->uncompressed_size),
                    static_cast<unsigned long long>(m->compressed_size), m->method_name,
                    m->encryption_name != nullptr ? m->encryption_name : "-", m->crc32,
                    when.c_str());
        if (self->verbose)
            std::printf("%-12s  ", m->name_encoding != nullptr ? m->name_encoding : "-");
        std::printf("%s\n", name.c_str());
        ++self->files;
        self->size += m->uncompressed_size;
        self->packed += m->compressed_size;
    }
    static void found(void *user, const zt_progress *) { static_cast<Listing *>(user)->header(); }
    // The width of the columns before the name.
    int name_column() const { return verbose ? 92 : 78; }
};

} // namespace

int run_list(const Options &opts, const zt_options &base) {
    Input in{opts.archives.front(), opts.archives.front()};
    std::string error;
    if (in.name == "-" && !read_standard_input(&in, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    Listing listing{opts.strict, opts.verbose};
    zt_options o = base;
    o.archive_name = in.name.c_str();
    o.on_member = &Listing::line;
    o.on_progress = &Listing::found;
    o.user = &listing;
    zt_summary s{};
    s.size = sizeof s;
    zt_list(in.path.c_str(), &o, &s);
    release_input(in);
    if (s.code == 0) listing.header();
    if (!opts.strict && s.code == 0) {
        std::printf("------------ ------------%*s-------\n", listing.name_column() - 25, "");
        std::printf("%12llu %12llu%*s%llu file%s\n", static_cast<unsigned long long>(listing.size),
                    static_cast<unsigned long long>(listing.packed), listing.name_column() - 25, "",
                    static_cast<unsigned long long>(listing.files), listing.files == 1 ? "" : "s");
    }
    if (s.code != 0) {
        std::fflush(stdout);
        ArchiveRun run;
        run.archive = in.name;
        run.live = true;
        run.close(s);
        return 1;
    }
    return flush_stdout() ? 0 : 1;
}

} // namespace ziptext
