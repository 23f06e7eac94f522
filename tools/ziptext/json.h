// json.h - members and archives as JSON Lines
//
// One object per member, in directory order (nested members after their
// archive member), then one per archive:
//   {"archive":"a.zip","path":["inner.zip","x.txt"],"size":12,"compressed_size":12,
//    "method":"deflate","encrypted":false,"encryption":null,"modified":"2024-01-02T03:04:06",
//    "encoding":"UTF-8","format":"text","code":0,"error":null,"text":"hello\n"}
//   {"archive":"a.zip","members":40,"failed":2,"code":6000,"bytes":1234,"error":"..."}
// Every string is valid JSON whatever its bytes: control characters are
// escaped, and a byte that is not part of valid UTF-8 becomes U+FFFD.
#pragma once

#include <string>
#include <string_view>

#include "tools/ziptext/commands.h"

namespace ziptext {

// Appends s as a JSON string (quotes included) to out.
void json_string(std::string &out, std::string_view s);

class JsonOut {
public:
    // direct: where the lines go as they come (one archive); null keeps
    // them until drain (several archives, whose objects stay together).
    explicit JsonOut(FdWriter *direct) : direct_(direct) {}
    void member(const zt_member &m);
    // The archive's object; error: why the result is not 0, or "".
    void summary(const std::string &archive, const zt_summary &s, const std::string &error);
    // Writes what is kept to out.
    void drain(FdWriter &out);

private:
    FdWriter *direct_;
    std::string buf_;
};

} // namespace ziptext
