// field_reader.cpp - little-endian field reads, one host byte read at a time
//
// These readers deliberately fetch each byte with its own host read: the
// host's file service buffers, and the record readers rely on a failed read
// leaving the output exactly as it was (see central_dir.cpp).
#include "vtq/zozaz.h"

#include "host/services.h"

// Returns 0 and stores the byte (0..255), or 25 and stores nothing when the
// host read delivers nothing.
extern "C" VTQ_FILTER_API uint32_t VtqZip_getByte(VTQ_FILE *file, uint32_t *value) {
    unsigned char byte = 0;
    if (VTQ_FileRead(&byte, 1, 1, file) == 0) return VTQ_E_IO;
    *value = byte;
    return VTQ_OK;
}

// Returns 0 and stores first + 256 * second, or 25 with the output untouched
// and the position after whatever byte was consumed.
extern "C" VTQ_FILTER_API uint32_t VtqZip_getWord(VTQ_FILE *file, uint32_t *value) {
    uint32_t lo = 0;
    uint32_t hi = 0;
    if (VtqZip_getByte(file, &lo) != VTQ_OK) return VTQ_E_IO;
    if (VtqZip_getByte(file, &hi) != VTQ_OK) return VTQ_E_IO;
    *value = lo + (hi << 8);
    return VTQ_OK;
}

// Returns 0 and stores first + 65536 * second word, or 25 as above.
extern "C" VTQ_FILTER_API uint32_t VtqZip_getDoubleWord(VTQ_FILE *file, uint32_t *value) {
    uint32_t lo = 0;
    uint32_t hi = 0;
    if (VtqZip_getWord(file, &lo) != VTQ_OK) return VTQ_E_IO;
    if (VtqZip_getWord(file, &hi) != VTQ_OK) return VTQ_E_IO;
    *value = lo + (hi << 16);
    return VTQ_OK;
}
