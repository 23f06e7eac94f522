// zip_builder.cpp - test-only ZIP writer
#include "tests/support/zip_builder.h"

#include <zlib.h>

#include <fstream>
#include <initializer_list>
#include <sstream>
#include <stdexcept>

namespace vtq::test {
namespace {

// Little-endian fields, as many bytes each as its digit in widths says.
template <class... V> void Put(std::string &s, const char *widths, V... values) {
    const uint64_t v[] = {static_cast<uint64_t>(values)...};
    for (size_t f = 0; widths[f] != '\0'; ++f)
        for (int i = 0; i < widths[f] - '0'; ++i) s.push_back(static_cast<char>(v[f] >> (8 * i)));
}
// A ZIP64 extra record of the given 64-bit values.
std::string Zip64Extra(std::initializer_list<uint64_t> values) {
    std::string x;
    Put(x, "22", 0x0001, 8 * values.size());
    for (uint64_t v : values) Put(x, "8", v);
    return x;
}

template <typename T, typename U> T Or(const std::optional<T> &o, U v) {
    return o ? *o : static_cast<T>(v);
}

struct Keys {
    uint32_t k0 = 0x12345678, k1 = 0x23456789, k2 = 0x34567890;
    void Update(uint8_t c) {
        const z_crc_t *t = get_crc_table();
        k0 = (k0 >> 8) ^ static_cast<uint32_t>(t[(k0 ^ c) & 0xff]);
        k1 = (k1 + (k0 & 0xff)) * 134775813u + 1;
        k2 = (k2 >> 8) ^ static_cast<uint32_t>(t[(k2 ^ (k1 >> 24)) & 0xff]);
    }
    uint8_t Stream() const {
        uint32_t t = (k2 & 0xffff) | 2;
        return static_cast<uint8_t>(((t * (t ^ 1)) >> 8) & 0xff);
    }
};

} // namespace

uint32_t Crc32(const std::string &data) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef *>(data.data()), static_cast<uInt>(data.size())));
}

std::string Deflate(const std::string &data, int level) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    int r = deflate(&z, Z_FINISH);
    deflateEnd(&z);
    if (r != Z_STREAM_END) throw std::runtime_error("deflate");
    out.resize(z.total_out);
    return out;
}

std::string PkEncrypt(const std::string &data, const std::string &password, uint8_t check_byte) {
    Keys k;
    for (unsigned char c : password) k.Update(c);
    std::string header(12, '\0');
    for (int i = 0; i < 11; ++i) header[i] = static_cast<char>(0x5a + i * 7);
    header[11] = static_cast<char>(check_byte);
    std::string plain = header + data, out;
    out.reserve(plain.size());
    for (unsigned char c : plain) {
        out.push_back(static_cast<char>(c ^ k.Stream()));
        k.Update(c);
    }
    return out;
}

std::string ZipArchive::Build() const {
    std::string out = stub, central;
    for (const ZipMember &m : members) {
        const uint32_t local_at = static_cast<uint32_t>(out.size() - stub.size());
        const uint32_t crc = Crc32(m.data);
        std::string stored = m.method == 8 ? Deflate(m.data) : m.data;
        uint16_t flags = 0;
        if (!m.password.empty()) {
            stored = PkEncrypt(stored, m.password, static_cast<uint8_t>(crc >> 24));
            flags |= 1;
        }
        if (m.bit3) flags |= 8;
        if (m.raw) stored = *m.raw;
        const uint16_t cflags = Or(m.flags, flags);
        const uint16_t lflags = Or(m.local_flags, cflags);
        const uint32_t ccrc = Or(m.crc, crc);
        uint32_t csize = Or(m.compressed_size, stored.size());
        uint32_t usize = Or(m.uncompressed_size, m.data.size());
        std::string extra = m.extra;
        std::string lextra = m.local_extra ? *m.local_extra : m.extra;
        uint32_t offset = Or(m.local_offset, local_at);
        if (m.zip64) {
            extra = Zip64Extra({usize, csize, offset}) + extra;
            lextra = Zip64Extra({usize, csize}) + lextra;
            csize = usize = offset = 0xFFFFFFFF;
        }

        // Local header: signature, version needed, flags, method, time and date, CRC, sizes,
        // name and extra lengths.
        Put(out, "4222444422", 0x04034b50, 20, lflags, Or(m.local_method, m.method), 0x00210000,
            Or(m.local_crc, m.bit3 ? 0 : ccrc), Or(m.local_compressed_size, m.bit3 ? 0 : csize),
            Or(m.local_uncompressed_size, m.bit3 ? 0 : usize), Or(m.local_name_len, m.name.size()),
            lextra.size());
        out += m.name + lextra + stored;
        if (m.data_descriptor) Put(out, "4444", 0x08074b50, ccrc, csize, usize);
        // Central header: the same made by Unix, then comment length, disk start, internal
        // and external attributes and the local header's offset.
        Put(central, "422224444224244", 0x02014b50, 0x031e, 20, cflags, m.method, 0x00210000, ccrc,
            csize, usize, Or(m.central_name_len, m.name.size()), extra.size(), 0, 0,
            m.name.empty() || m.name.back() != '/' ? 0x81a40000u : 0x41ed0010u, offset);
        central += m.name + extra;
    }
    const uint32_t cd_at = static_cast<uint32_t>(out.size() - stub.size());
    out += central;
    if (zip64) {
        // ZIP64 end record: size of the rest, made by and version needed, this disk and that
        // of the directory, counts, size and offset; its locator: disk, offset, disks.
        const uint64_t z64_at = out.size() - stub.size(), n = members.size();
        Put(out, "484888884484", 0x06064b50, 44, 45u << 16 | 0x031e, 0, n, n, central.size(), cd_at,
            0x07064b50, 0, z64_at, 1);
    }
    // End record: this disk, the directory's, entry counts, directory size and offset.
    const uint16_t entries = Or(entries_total, zip64 ? 0xFFFF : members.size());
    Put(out, "42222442", 0x06054b50, 0, Or(cd_disk, 0), entries, entries,
        Or(cd_size, zip64 ? 0xFFFFFFFF : central.size()), Or(cd_offset, zip64 ? 0xFFFFFFFF : cd_at),
        comment.size());
    out += comment;
    return out;
}

void WriteFile(const std::string &path, const std::string &bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

} // namespace vtq::test
