// text_path.cpp - where a split-mode member's text goes (see internal.h)
//
// The text of a member goes beside its member file, named after it.  Two
// members can ask for one name (x.md and x.csv, or the same name twice in
// an archive), and in flat mode the output folder may already hold a file
// or a link of that name; a text never replaces any of them, it takes a
// fresh name.
#include <cerrno>
#include <string>
#include <string_view>

#include "host/txif/internal.h"

namespace vtq::txif {

bool split_text_path(const char *member_path, std::string &text_path) {
    std::string_view path(member_path);
    std::size_t base = path.rfind('/');
    base = base == std::string_view::npos ? 0 : base + 1;
    std::size_t dot = path.rfind('.');
    // The last extension of the base name; a name with no "." keeps all
    // of it ("README" -> "README.txt"), a leading "." counts like any
    // other (".profile" -> ".txt"), as the filter forms the same names.
    std::size_t stem_len = dot != std::string_view::npos && dot >= base ? dot : path.size();
    text_path.assign(path.substr(0, stem_len));
    text_path += ".txt";
    // A member named *.txt would have its text written over itself and
    // then deleted with it by the hand-off.
    if (text_path == path) text_path += ".txt";
    return text_path.size() < VTQ_PATH_MAX;
}

VTQ_FILE *create_text_file(std::string &text_path, uint32_t *code) {
    *code = VTQ_E_OPEN;
    // "x" in the mode: not even a file this process made (an earlier
    // member's text) may be emptied.
    VTQ_FILE *f = VTQ_FileOpen(text_path.c_str(), "wbx");
    if (f != nullptr || errno != EEXIST) return f;
    const std::string_view stem(text_path.data(), text_path.size() - 4); // less ".txt"
    for (unsigned n = 2; n <= kMaxTextNames; ++n) {
        std::string fresh(stem);
        fresh += " (" + std::to_string(n) + ").txt";
        if (fresh.size() >= VTQ_PATH_MAX) {
            *code = VTQ_E_PATH;
            return nullptr;
        }
        f = VTQ_FileOpen(fresh.c_str(), "wbx");
        if (f != nullptr) {
            text_path = std::move(fresh);
            return f;
        }
        if (errno != EEXIST) return nullptr;
    }
    return nullptr;
}

} // namespace vtq::txif
