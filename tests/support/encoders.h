// encoders.h - the unit tests' compressors (each method's own library) and
// WinZip AES (libcrypto), for archives that ZipArchive builds
#pragma once

#include <cstdint>
#include <string>

#include "tests/support/zip_builder.h"

namespace vtq::test {

// Makes m, holding its text in m.data, a member of method (0, 8, 12) with
// encryption VTQ_ENC_* under password: m.raw, m.method, m.flags, m.extra
// and for AES (AE-2, no CRC) m.crc are set.
void Encode(ZipMember &m, uint16_t method, uint32_t encryption, const std::string &password);

} // namespace vtq::test
