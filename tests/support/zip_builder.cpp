// zip_builder.cpp - test-only ZIP writer
#include "tests/support/zip_builder.h"

#include <zlib.h>

#include <fstream>
#include <initializer_list>
#include <sstream>
#include <stdexcept>

namespace vtq::test {
namespace {

// Little-endian fields.
void PutN(std::string &s, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>(v >> (8 * i) & 0xff));
}
void Put16(std::string &s, uint32_t v) { PutN(s, v, 2); }
void Put32(std::string &s, uint32_t v) { PutN(s, v, 4); }
void Put64(std::string &s, uint64_t v) { PutN(s, v, 8); }
// A ZIP64 extra record of the given 64-bit values.
std::string Zip64Extra(std::initializer_list<uint64_t> values) {
    std::string x;
    Put16(x, 0x0001);
    Put16(x, static_cast<uint32_t>(8 * values.size()));
    for (uint64_t v : values) Put64(x, v);
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

        Put32(out, 0x04034b50); // local file header
        Put16(out, 20);         // version needed
        Put16(out, lflags);
        Put16(out, Or(m.local_method, m.method));
        Put32(out, 0x00210000); // time, date
        Put32(out, Or(m.local_crc, m.bit3 ? 0 : ccrc));
        Put32(out, Or(m.local_compressed_size, m.bit3 ? 0 : csize));
        Put32(out, Or(m.local_uncompressed_size, m.bit3 ? 0 : usize));
        Put16(out, Or(m.local_name_len, m.name.size()));
        Put16(out, static_cast<uint32_t>(lextra.size()));
        out += m.name + lextra + stored;
        if (m.data_descriptor) {
            for (uint32_t v : {0x08074b50u, ccrc, csize, usize}) Put32(out, v);
        }
        Put32(central, 0x02014b50); // central directory header
        Put16(central, 0x031e);     // made by: Unix
        Put16(central, 20);         // version needed
        Put16(central, cflags);
        Put16(central, m.method);
        for (uint32_t v : {0x00210000u, ccrc, csize, usize}) Put32(central, v);
        Put16(central, Or(m.central_name_len, m.name.size()));
        Put16(central, static_cast<uint32_t>(extra.size()));
        Put32(central, 0); // comment length, disk start
        Put16(central, 0); // internal attributes
        Put32(central, m.name.empty() || m.name.back() != '/' ? 0x81a40000u : 0x41ed0010u);
        Put32(central, offset);
        central += m.name + extra;
    }
    const uint32_t cd_at = static_cast<uint32_t>(out.size() - stub.size());
    out += central;
    if (zip64) {
        const uint64_t z64_at = out.size() - stub.size();
        Put32(out, 0x06064b50);
        Put64(out, 44);                 // size of the rest
        Put32(out, 45u << 16 | 0x031e); // made by, version needed
        Put64(out, 0);                  // this disk, disk of the directory
        for (uint64_t v : {members.size(), members.size(), central.size(), size_t{cd_at}})
            Put64(out, v);
        Put32(out, 0x07064b50); // locator
        Put32(out, 0);
        Put64(out, z64_at);
        Put32(out, 1); // disks
    }
    Put32(out, 0x06054b50);
    Put16(out, 0); // this disk
    Put16(out, Or(cd_disk, 0));
    Put16(out, Or(entries_total, zip64 ? 0xFFFF : members.size()));
    Put16(out, Or(entries_total, zip64 ? 0xFFFF : members.size()));
    Put32(out, Or(cd_size, zip64 ? 0xFFFFFFFF : central.size()));
    Put32(out, Or(cd_offset, zip64 ? 0xFFFFFFFF : cd_at));
    Put16(out, static_cast<uint32_t>(comment.size()));
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
