// floor.cpp - the least work that extracting an archive's text can take
//
//   vtq_bench_floor [--engine zlib|libdeflate] [--fresh] ARCHIVE
//
// Maps the archive, walks its central directory and decodes every member
// into memory, checking its CRC-32; an inflated member that starts with a
// local header signature is walked the same way (nested archives).  Nothing
// is written anywhere.  The time this takes is the floor under any tool
// that must decode and check the same bytes: what is left above it is
// files, copies and bookkeeping.
//
// By default one output buffer is reused for all members of a level (grown
// when a member needs more); --fresh allocates and frees one per member, to
// show what fresh memory costs on the machine.  The engine is libdeflate
// when the harness was built with it, else zlib.
//
// Exit status 0 when every member decoded and matched its CRC, 1 otherwise
// (with a message), 2 for a usage error.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#ifdef VTQ_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

enum class Engine { kZlib, kLibdeflate };

struct Settings {
    Engine engine;
    bool fresh = false;
#ifdef VTQ_HAVE_LIBDEFLATE
    libdeflate_decompressor *decompressor = nullptr;
#endif
};

uint32_t Le16(const unsigned char *p) { return p[0] | (p[1] << 8); }
uint32_t Le32(const unsigned char *p) { return Le16(p) | (Le16(p + 2) << 16); }

uint32_t Crc(Engine e, const unsigned char *p, size_t n) {
#ifdef VTQ_HAVE_LIBDEFLATE
    if (e == Engine::kLibdeflate) return libdeflate_crc32(0, p, n);
#endif
    (void)e;
    return static_cast<uint32_t>(crc32_z(0, p, n));
}

// Decodes the raw deflate stream in[0..in_len) into out[0..out_len).
// True when it produced exactly out_len bytes.
bool Inflate(const Settings &s, const unsigned char *in, size_t in_len, unsigned char *out,
             size_t out_len) {
#ifdef VTQ_HAVE_LIBDEFLATE
    if (s.engine == Engine::kLibdeflate) {
        size_t got = 0;
        return libdeflate_deflate_decompress(s.decompressor, in, in_len, out, out_len, &got) ==
                   LIBDEFLATE_SUCCESS &&
               got == out_len;
    }
#endif
    (void)s;
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    z.next_in = const_cast<unsigned char *>(in);
    z.avail_in = static_cast<uInt>(in_len);
    z.next_out = out;
    z.avail_out = static_cast<uInt>(out_len);
    int r = inflate(&z, Z_FINISH);
    bool ok = (r == Z_STREAM_END || (r == Z_OK && z.avail_out == 0)) && z.total_out == out_len;
    inflateEnd(&z);
    return ok;
}

// Walks the archive in zip[0..size).  Returns the number of members (text
// members of nested archives included) or -1 after printing why not.
long Walk(const Settings &s, const unsigned char *zip, size_t size, const std::string &where) {
    if (size < 22) {
        std::fprintf(stderr, "vtq_bench_floor: %s: too small\n", where.c_str());
        return -1;
    }
    size_t eocd = size - 22;
    const size_t stop = size > 22 + 65535 ? size - 22 - 65535 : 0;
    while (Le32(zip + eocd) != 0x06054b50) {
        if (eocd == stop) {
            std::fprintf(stderr, "vtq_bench_floor: %s: no end record\n", where.c_str());
            return -1;
        }
        --eocd;
    }
    const uint32_t entries = Le16(zip + eocd + 10);
    size_t pos = Le32(zip + eocd + 16);
    std::vector<unsigned char> reused;
    long members = 0;
    for (uint32_t i = 0; i < entries; ++i) {
        if (pos > size - 46 || Le32(zip + pos) != 0x02014b50) {
            std::fprintf(stderr, "vtq_bench_floor: %s: bad central entry %u\n", where.c_str(), i);
            return -1;
        }
        const unsigned char *c = zip + pos;
        const uint32_t method = Le16(c + 10), crc = Le32(c + 16), csize = Le32(c + 20),
                       usize = Le32(c + 24), name_len = Le16(c + 28), local = Le32(c + 42);
        const std::string name(reinterpret_cast<const char *>(c + 46), name_len);
        pos += 46 + name_len + Le16(c + 30) + Le16(c + 32);
        if (!name.empty() && name.back() == '/') continue;
        if (local > size - 30 || Le32(zip + local) != 0x04034b50) {
            std::fprintf(stderr, "vtq_bench_floor: %s: bad local header\n", name.c_str());
            return -1;
        }
        const size_t data = size_t{local} + 30 + Le16(zip + local + 26) + Le16(zip + local + 28);
        if (data > size || csize > size - data) {
            std::fprintf(stderr, "vtq_bench_floor: %s: data past the end\n", name.c_str());
            return -1;
        }
        const unsigned char *member = zip + data;
        std::unique_ptr<unsigned char[]> fresh;
        if (method != 0) {
            unsigned char *out;
            if (s.fresh) {
                fresh.reset(new unsigned char[usize == 0 ? 1 : usize]);
                out = fresh.get();
            } else {
                if (reused.size() < usize) reused.resize(usize);
                out = reused.data();
            }
            if (!Inflate(s, member, csize, out, usize)) {
                std::fprintf(stderr, "vtq_bench_floor: %s: does not inflate\n", name.c_str());
                return -1;
            }
            member = out;
        } else if (csize != usize) {
            std::fprintf(stderr, "vtq_bench_floor: %s: stored sizes differ\n", name.c_str());
            return -1;
        }
        if (Crc(s.engine, member, usize) != crc) {
            std::fprintf(stderr, "vtq_bench_floor: %s: CRC mismatch\n", name.c_str());
            return -1;
        }
        ++members;
        if (usize >= 4 && Le32(member) == 0x04034b50) {
            // A nested archive: its own walk, with buffers of its own.
            const std::vector<unsigned char> copy(member, member + usize);
            long inner = Walk(s, copy.data(), copy.size(), where + "/" + name);
            if (inner < 0) return -1;
            members += inner - 1;
        }
    }
    return members;
}

} // namespace

int main(int argc, char **argv) {
#ifdef VTQ_HAVE_LIBDEFLATE
    Settings s{Engine::kLibdeflate};
#else
    Settings s{Engine::kZlib};
#endif
    const char *path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--fresh") {
            s.fresh = true;
        } else if (a == "--engine" && i + 1 < argc) {
            const std::string e = argv[++i];
            if (e == "zlib") {
                s.engine = Engine::kZlib;
            } else if (e == "libdeflate") {
#ifdef VTQ_HAVE_LIBDEFLATE
                s.engine = Engine::kLibdeflate;
#else
                std::fprintf(stderr, "vtq_bench_floor: built without libdeflate\n");
                return 2;
#endif
            } else {
                path = nullptr;
                break;
            }
        } else if (path == nullptr && a[0] != '-') {
            path = argv[i];
        } else {
            path = nullptr;
            break;
        }
    }
    if (path == nullptr) {
        std::fprintf(stderr,
                     "usage: vtq_bench_floor [--engine zlib|libdeflate] [--fresh] ARCHIVE\n");
        return 2;
    }
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || st.st_size == 0) {
        std::fprintf(stderr, "vtq_bench_floor: %s: cannot open\n", path);
        return 1;
    }
    const auto size = static_cast<size_t>(st.st_size);
    void *map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    close(fd);
    if (map == MAP_FAILED) {
        std::fprintf(stderr, "vtq_bench_floor: %s: cannot map\n", path);
        return 1;
    }
#ifdef VTQ_HAVE_LIBDEFLATE
    s.decompressor = libdeflate_alloc_decompressor();
    if (s.decompressor == nullptr) return 1;
#endif
    const long members = Walk(s, static_cast<const unsigned char *>(map), size, path);
#ifdef VTQ_HAVE_LIBDEFLATE
    libdeflate_free_decompressor(s.decompressor);
#endif
    munmap(map, size);
    return members < 0 ? 1 : 0;
}
