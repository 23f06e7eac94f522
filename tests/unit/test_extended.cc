// test_extended.cc - the extraction loop in extended mode: what common ZIP tools read, salvage
// with a reason per member, events, methods and passwords, names; the corpus as zipfile reads it
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"
#include "vtq/zozaz.h"

namespace fs = std::filesystem;

namespace vtq::test {
namespace {

constexpr uint32_t kKeepGoing = VTQ_MODE_KEEP_GOING;
using Strings = std::vector<std::string>;

VtqExtension Ext() {
    VtqExtension ext{};
    ext.Size = sizeof ext;
    ext.Version = VTQ_EXTENSION_VERSION;
    return ext;
}

// Walks an archive in extended compose mode (mode bits besides), with password (null: none);
// walked_ and deferred_ say what happened, Handed() the contents the host got, in order.
class Extended : public HostTest {
protected:
    uint32_t Walk(const ZipArchive &a, uint32_t mode = kKeepGoing, const char *password = nullptr) {
        WriteFile(Path("a.zip"), a.Build());
        return WalkFile(Path("a.zip"), mode, password);
    }
    uint32_t WalkFile(const std::string &path, uint32_t mode, const char *password = nullptr) {
        VtqExtension ext = Ext();
        ext.Password = reinterpret_cast<const unsigned char *>(password);
        ext.PasswordLen = password != nullptr ? static_cast<uint32_t>(strlen(password)) : 0;
        const uint32_t code = RunExtended(path, Path("out.txt"), ext, mode, &walked_, &deferred_);
        EXPECT_EQ(host().live_allocs, 0);
        return code;
    }
    Strings Handed() const {
        Strings v;
        for (const Walked &w : walked_)
            if (w.handed) v.push_back(w.content);
        return v;
    }
    std::vector<Walked> walked_;
    uint32_t deferred_ = 0;
};

// A member that fails for its own reasons: with KeepGoing it is reported and skipped, and the
// members around it are read; without, the walk stops there.  Its bytes never reach the host.  A
// member over the member-size cap (VTQ_MAX_ALLOC) is such a failure, found before it is read.
TEST_F(Extended, SalvagesMembersThatFail) {
    const std::tuple<const char *, void (*)(ZipMember &), uint32_t, std::string> rows[] = {
        {"CRC", [](ZipMember &m) { m.crc = 7; }, 3102, "CRC mismatch, text skipped"},
        {"PPMd", [](ZipMember &m) { m.method = 98; }, 3101,
         "compression method 98 (ppmd) is not supported"},
        {"unknown method", [](ZipMember &m) { m.method = 77; }, 3101,
         "compression method 77 is not supported"},
        {"encrypted", [](ZipMember &m) { m.password = "pw"; }, 3001,
         "encrypted, no password given"},
        {"damaged", [](ZipMember &m) { m.raw = "\xff\xff\xff"; }, 3101, "deflate data is damaged"},
        {"stream ends early", [](ZipMember &m) { m.uncompressed_size = 20000; }, 3101,
         "data ends before the declared size"},
        {"more than declared", [](ZipMember &m) { m.uncompressed_size = 5; }, 3101,
         "data holds more than the declared size"},
        {"on another's header", [](ZipMember &m) { m.local_offset = 0; }, 3100,
         "overlaps another member's data"},
        {"past the end", [](ZipMember &m) { m.local_offset = 0x7FFFFFF0; }, 3100,
         "data runs past the end of the archive"},
        {"ZIP64 extra missing", [](ZipMember &m) { m.compressed_size = 0xFFFFFFFF; }, 3100,
         "ZIP64 extra field is missing or too short"},
        {"over the cap", [](ZipMember &m) { m.data.assign(2u << 20, 'z'); }, 12,
         "needs 2097152 bytes, more than the member-size cap"},
        {"stored, over the cap",
         [](ZipMember &m) {
             m.data.assign(2u << 20, 'z');
             m.method = 0;
         },
         12, "needs 2097152 bytes, more than the member-size cap"},
    };
    setenv("VTQ_MAX_ALLOC", "1048576", 1);
    for (const auto &[what, edit, code, reason] : rows) {
        SCOPED_TRACE(what);
        ZipArchive a;
        a.Add("a.txt", "alpha");
        edit(a.Add("b.txt", std::string(3000, 'b'), 8));
        a.Add("c.txt", "gamma");
        EXPECT_EQ(Walk(a), 0u);
        EXPECT_EQ(Handed(), (Strings{"alpha", "gamma"}));
        ASSERT_EQ(walked_.size(), 3u);
        EXPECT_EQ(walked_[1].code, code);
        EXPECT_EQ(walked_[1].reason, reason);
        EXPECT_EQ(deferred_, code);
        EXPECT_EQ(Walk(a, 0), code);
        EXPECT_EQ(Handed(), Strings{"alpha"});
        EXPECT_EQ(walked_.size(), 2u);
        EXPECT_EQ(deferred_, 0u);
    }
    unsetenv("VTQ_MAX_ALLOC");
}

// 7-Zip's Deflate64 and AES archives (tests/data) through the walk.
TEST_F(Extended, SevenZipArchives) {
    const fs::path data = fs::path(__FILE__).parent_path() / "../data";
    EXPECT_EQ(WalkFile((data / "deflate64.zip").string(), kKeepGoing), 0u);
    EXPECT_EQ(Handed().size(), 2u);
    for (const char *file : {"aes128.zip", "aes192.zip", "aes256.zip", "aes256_stored.zip"}) {
        EXPECT_EQ(WalkFile((data / file).string(), kKeepGoing, "vtq-secret"), 0u);
        EXPECT_EQ(Handed(), Strings{ReadFile((data / "note.txt").string())}) << file;
    }
}

// Names come out in UTF-8, the same in the member events, the compose
// labels and the split-mode member files: from the UTF-8 flag, a Unicode
// Path field made for the name, a name that is valid UTF-8, else the set
// the options choose; what the set cannot decode is escaped.
struct NameRow {
    std::string file, stored, extra; // a corpus archive, or one member named stored
    uint16_t flags;
    const char *name_charset, *charset, *language;
    Strings names;
};
NameRow Corpus(const char *file, const char *charset, const char *language, Strings names) {
    return {file, "", "", 0, "", charset, language, names};
}
NameRow Stored(std::string name, uint16_t flags, std::string extra, const char *name_charset,
               const char *language, Strings names) {
    return {"", name, extra, flags, name_charset, "", language, names};
}
// A Unicode Path extra field (version 1) holding utf8, made for a name of CRC-32 crc.
std::string UnicodePath(const std::string &utf8, uint32_t crc) {
    std::string field = std::string("\x75\x70\0\0\1", 5) + std::string(4, '\0') + utf8;
    field[2] = static_cast<char>(field.size() - 4);
    for (int i = 0; i < 4; ++i) field[5 + i] = static_cast<char>(crc >> (8 * i));
    return field;
}

TEST_F(Extended, NamesComeOutInUtf8) {
    const std::string bad = "bad\x80\xe4\xb8\x96.txt", cafe = "caf\x82.txt";
    const NameRow rows[] = {
        Corpus("libarchive-filename_cp866.zip", "", "Russian", {"ПРИВЕТ", "привет"}),
        // a CP932 trail byte like a backslash
        Corpus("libarchive-filename_cp932.zip", "", "Japanese",
               {"表だよ/一覧表.txt", "表だよ/漢字.txt"}),
        Corpus("cpython-zip_cp437_header.zip", "Auto", "",
               {"filename_with_æoå.txt", "filename_without.txt"}),
        Corpus("libarchive-7075_utf8_paths.zip", "", "",
               {"File 1.txt", "File 2 - ö.txt", "File 3 - ä.txt", "File 4 - å.txt"}),
        Corpus("go-utf8-osx.zip", "", "Japanese", {"世界"}),
        Corpus("libarchive-filename_utf8_jp.zip", "ChineseGBK", "",
               {"表だよ/一覧表.txt", "表だよ/漢字.txt"}),
        Stored(bad, 0x800, "", "CP1252", "", {"bad%80%E4%B8%96.txt"}),
        Stored(bad, 0, "", "CP1252", "", {"bad€ä¸–.txt"}),
        Stored("x\x81 .txt", 0, "", "", "Japanese", {"x%81 .txt"}),
        Stored(cafe, 0, UnicodePath("naïve.txt", Crc32(cafe)), "", "Japanese", {"naïve.txt"}),
        Stored(cafe, 0, UnicodePath("naïve.txt", Crc32("cafe.txt")), "", "", {"café.txt"}),
    };
    for (const NameRow &row : rows) {
        SCOPED_TRACE(row.names[0]);
        std::string archive = CorpusDir() + "/" + row.file;
        if (row.file.empty()) {
            ZipArchive a;
            ZipMember &m = a.Add(row.stored, "text");
            m.flags = row.flags;
            m.extra = row.extra;
            WriteFile(archive = Path("a.zip"), a.Build());
        } else if (CorpusDir().empty()) {
            continue;
        }
        Strings seen, labels, files;
        VtqExtension ext = Ext();
        ext.OnMember = [](void *user, const VtqMemberEvent *e) {
            if (e->Kind == VTQ_EVENT_BEGIN) static_cast<Strings *>(user)->push_back(e->DisplayName);
        };
        ext.User = &seen;
        std::snprintf(ext.NameCharset, sizeof ext.NameCharset, "%s", row.name_charset);
        TxtOptions opts{};
        std::snprintf(opts.Charset, sizeof opts.Charset, "%s", row.charset);
        std::snprintf(opts.Language, sizeof opts.Language, "%s", row.language);
        opts.ModeFlags = VTQ_MODE_ENABLED | VTQ_MODE_EXTENDED | VTQ_MODE_COMPOSE | kKeepGoing;
        opts.Extension = &ext;
        const auto run = [&](const std::string &out) {
            return GetTextWithErrCallback(archive.c_str(), Path(out).c_str(), &opts, nullptr, 0);
        };
        EXPECT_EQ(run("out.txt"), 0u);
        EXPECT_EQ(seen, row.names);
        std::istringstream text(ReadFile(Path("out.txt")));
        for (std::string line; std::getline(text, line);)
            if (line.rfind("Filename: ", 0) == 0)
                labels.push_back(line.substr(10, line.size() - 11));
        EXPECT_EQ(labels, row.names);
        host().member_calls.clear();
        opts.ModeFlags &= ~VTQ_MODE_COMPOSE;
        fs::create_directories(Path("split"));
        EXPECT_EQ(run("split/a.txt"), 0u);
        const std::string split = Path("split/"); // below the work directory
        for (const MemberCall &c : host().member_calls)
            files.push_back(c.path.substr(c.path.find('/', split.size()) + 1));
        EXPECT_EQ(files, row.names);
    }
}

// Every corpus archive Python's zipfile reads gives, member for member, the bytes zipfile gives
// (corpus_members.py: their CRC-32 and size); what zipfile cannot read fails here too.
TEST_F(Extended, CorpusAsPythonReadsIt) {
    const std::string dir = CorpusDir();
    if (dir.empty()) GTEST_SKIP() << "no corpus";
    const std::string script = fs::path(__FILE__).parent_path() / "corpus_members.py";
    FILE *pipe = popen(("python3 '" + script + "' '" + dir + "' 2>/dev/null").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::map<std::string, std::string> python;
    for (char line[1 << 16]; std::fgets(line, sizeof line, pipe) != nullptr;) {
        const std::string l(line);
        const size_t tab = l.find('\t');
        if (tab != std::string::npos)
            python[l.substr(0, tab)] = l.substr(tab + 1, l.size() - tab - 2);
    }
    if (pclose(pipe) != 0 || python.empty()) GTEST_SKIP() << "no python3 with zipfile";
    size_t members = 0;
    for (const auto &[file, words] : python) {
        SCOPED_TRACE(file);
        const uint32_t code = WalkFile(dir + "/" + file, kKeepGoing);
        bool failed = code != 0;
        for (const Walked &w : walked_) failed = failed || w.code != 0;
        if (words == "unreadable") {
            EXPECT_TRUE(failed);
            continue;
        }
        std::istringstream in(words);
        size_t i = 0;
        for (std::string word; in >> word; ++i) {
            const Walked *w = i < walked_.size() ? &walked_[i] : nullptr;
            // "!": zipfile does not hold a member to its declared size; it is refused here.
            EXPECT_TRUE(word[0] != '!' || (w != nullptr && w->code != 0 && !w->handed))
                << "member " << i;
            if (word == "-" || word[0] == '!') continue;
            ++members;
            char crc[32];
            std::snprintf(crc, sizeof crc, "%08x:", w != nullptr ? Crc32(w->content) : 0);
            EXPECT_TRUE(w != nullptr && w->code == 0 &&
                        crc + std::to_string(w->content.size()) == word)
                << "member " << i << (w ? " " + w->name + ": " + w->reason : "");
        }
        // Every member has its events, unless the archive was refused whole.
        EXPECT_TRUE((code != 0 && walked_.empty()) || walked_.size() == i);
    }
    EXPECT_GT(members, 100u);
}

} // namespace
} // namespace vtq::test
