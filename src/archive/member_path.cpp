// member_path.cpp - member file names, work directory prefixes, text paths
#include "archive/member_path.h"

#include <cstring>

namespace vtq {

bool PathBuilder::Append(const char *s, size_t n) {
    if (n > kPathLenMax - len_) return false;
    std::memcpy(buf_ + len_, s, n);
    len_ += n;
    buf_[len_] = '\0';
    return true;
}

bool PathBuilder::Append(const char *s) { return Append(s, std::strlen(s)); }

void PathBuilder::Truncate(size_t n) {
    len_ = n;
    buf_[len_] = '\0';
}

bool HasDotDotComponent(const char *name) {
    for (const char *c = name;;) {
        const uint32_t n = VtqZip_nextPathDelimiter(c);
        if (n == 2 && c[0] == '.' && c[1] == '.') return true;
        if (c[n] == '\0') return false;
        c += n + 1;
    }
}

const char *BaseName(const char *name) {
    const char *slash = std::strrchr(name, '/');
    return slash == nullptr ? name : slash + 1;
}

void ComposeSuffix(const char *name, char *out) {
    const size_t len = std::strlen(name);
    const size_t take = len < 3 ? len : 3;
    out[0] = '.';
    for (size_t i = 0; i < take; ++i) {
        const char c = name[len - take + i];
        out[1 + i] = c == '/' ? '_' : c;
    }
    out[1 + take] = '\0';
}

void MakeDirPrefixes(ZipBus *bus, const char *name, char *scratch) {
    const size_t len = std::strlen(name);
    PathBuilder path(scratch);
    if (len == 0 || !path.Append(bus->DstFileTmp, strnlen(bus->DstFileTmp, VTQ_PATH_MAX)) ||
        !path.Append("/"))
        return;
    const size_t root = path.size();
    // The prefix of k bytes; zip_makepath may rewrite the buffer, so each
    // prefix is formed afresh.  Returns false when it does not fit: the
    // prefixes only grow, so none after it would.
    auto make = [&](size_t k) {
        path.Truncate(root);
        if (!path.Append(name, k)) return false;
        zip_makepath(bus, scratch, 0);
        return true;
    };
    // k = 0 first, then the index of every "/" in name, in order.
    if (!make(0)) return;
    for (size_t i = 0;;) {
        i += VtqZip_nextPathDelimiter(name + i);
        if (i >= len || !make(i)) return;
        ++i;
    }
}

} // namespace vtq
