// test_corpus.cc - ziptext on every archive of the public corpus
//
// The corpus holds archives other ZIP projects keep for their own tests:
// good ones, odd ones and hostile ones.  Whatever they hold, ziptext must
// end with a documented code (never a crash or a hang), leave no file
// behind, and list the same entries, in the same order, as Python's zipfile.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "tests/e2e/e2e.h"
#include "ziptext.h"

namespace vtq::e2e {
namespace {

struct CorpusEntry {
    std::string file, features, fmt_chk, expect, members;
};

std::vector<CorpusEntry> Manifest() {
    std::vector<CorpusEntry> out;
    std::ifstream in(std::string(VTQ_CORPUS_DIR) + "/MANIFEST.tsv");
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream ss(line);
        for (std::string col; std::getline(ss, col, '\t');) f.push_back(col);
        if (f.size() >= 12) out.push_back({f[0], f[4], f[8], f[9], f[10]});
    }
    return out;
}

// A code of the one table of result codes, other than success.
bool KnownCode(uint32_t code) { return code != 0 && zt_code_meaning(code) != nullptr; }

class Corpus : public ZiptextTest {
protected:
    void SetUp() override {
        ZiptextTest::SetUp();
        entries_ = Manifest();
        if (entries_.empty()) GTEST_SKIP() << "corpus not present";
    }
    static std::string At(const std::string &file) { return std::string(VTQ_CORPUS_DIR) + "/" + file; }
    std::vector<CorpusEntry> entries_;
};

TEST_F(Corpus, EveryArchiveEndsWithACodeAndLeavesNothingBehind) {
    static const std::regex kMessage(R"(ziptext: [^\n]+: [^\n]+ \(code ([0-9]+)\)\n)");
    for (const CorpusEntry &e : entries_) {
        for (bool to_file : {false, true}) {
            SCOPED_TRACE(e.file + (to_file ? " -o" : " stdout"));
            std::vector<std::string> args{"--strict", At(e.file)};
            if (to_file) args.insert(args.end(), {"-o", "out.txt"});
            const RunResult r = Run(args, {}, 30);
            ASSERT_FALSE(r.timed_out);
            ASSERT_EQ(r.signal, 0);
            const uint32_t code = r.status == 0 ? 0 : r.Code();
            EXPECT_TRUE(r.status == 0 ? r.err.empty()
                                      : r.status == 1 && std::regex_match(r.err, kMessage) && KnownCode(code))
                << r.err;
            // A failure the reader predicts comes out mapped, unless a
            // member before it had no text filter or the member-size cap
            // stopped it.  A good archive may still hold binary members
            // (6000), no file member (6002) or a damaged archive inside.
            if (e.expect == "ok") {
                EXPECT_TRUE(code == 0 || code == 6000 || (code == 6002 && e.members == "0") ||
                            (code == 6003 && e.features.find("nested") != std::string::npos)) << r.err;
            } else {
                uint32_t want = static_cast<uint32_t>(std::stoul(e.expect));
                if (want >= 3100 && want <= 3102) want = 6003;
                EXPECT_TRUE(code == want || code == 6000 || code == 12) << r.err;
            }
            const std::vector<std::string> left = Tree(Work());
            EXPECT_TRUE(left.empty() || left == std::vector<std::string>{"out.txt"}) << left.front();
            std::remove(Work("out.txt").c_str());
        }
    }
}

// Python's view of each archive: one word per entry in directory order,
// the name's raw bytes in hex when list shows them unchanged (valid UTF-8,
// no control character), else "-"; "ERR" when zipfile refuses the file.
std::map<std::string, std::vector<std::string>> PythonNames() {
    setenv("ZIPTEXT_PY", R"(
import sys, zipfile, os
def shown(i):
    raw = i.orig_filename.encode('utf-8' if i.flag_bits & 0x800 else 'cp437')
    try:
        ok = not any(c < 0x20 or c == 0x7f for c in raw) and raw.decode('utf-8') is not None
    except UnicodeDecodeError:
        ok = False
    return raw.hex() if ok else '-'
for f in sorted(os.listdir(sys.argv[1])):
    try:
        print(f + '\t' + ' '.join(shown(i) for i in zipfile.ZipFile(os.path.join(sys.argv[1], f)).infolist()))
    except Exception:
        print(f + '\tERR')
)", 1);
    std::map<std::string, std::vector<std::string>> out;
    FILE *p = popen(("python3 -c \"$ZIPTEXT_PY\" '" + std::string(VTQ_CORPUS_DIR) + "'").c_str(), "r");
    if (p == nullptr) return out;
    std::string all;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) all.append(buf, n);
    pclose(p);
    std::stringstream ss(all);
    for (std::string line; std::getline(ss, line);) {
        const size_t tab = line.find('\t');
        std::stringstream words(line.substr(tab + 1));
        for (std::string w; words >> w;) out[line.substr(0, tab)].push_back(w);
    }
    return out;
}

// The name column of list starts after fixed-width columns.  The reader
// walks as many entries as the end record counts (the manifest's entries=
// tag); Python walks the directory's bytes, so a count too low shows fewer.
TEST_F(Corpus, ListMatchesPythonZipfile) {
    constexpr size_t kNameColumn = 48;
    std::map<std::string, std::vector<std::string>> py = PythonNames();
    ASSERT_GT(py.size(), 100u) << "python3 did not run";
    size_t compared = 0;
    for (const CorpusEntry &e : entries_) {
        SCOPED_TRACE(e.file);
        const RunResult r = Run({"list", "--strict", At(e.file)}, {}, 30);
        ASSERT_FALSE(r.timed_out);
        ASSERT_EQ(r.signal, 0);
        if (e.fmt_chk != "ok") {
            EXPECT_EQ(r.Code(), static_cast<uint32_t>(std::stoul(e.fmt_chk))) << r.err;
            continue;
        }
        const std::vector<std::string> &names = py[e.file];
        if (r.status != 0) { // a central entry the reader refuses
            EXPECT_TRUE(KnownCode(r.Code())) << r.err;
            continue;
        }
        if (names.size() == 1 && names[0] == "ERR") continue;
        std::vector<std::string> lines;
        std::stringstream ss(r.out);
        for (std::string line; std::getline(ss, line);) lines.push_back(line);
        std::smatch m;
        ASSERT_TRUE(std::regex_search(e.features, m, std::regex(R"(entries=([0-9]+))")));
        const size_t counted = std::stoul(m[1]);
        ASSERT_EQ(lines.size(), counted + 1) << r.out;
        ASSERT_LE(counted, names.size());
        EXPECT_TRUE(counted == names.size() || e.features.find("count too low") != std::string::npos);
        for (size_t i = 0; i < counted; ++i) {
            if (names[i] == "-") continue; // decoded by the character set rules
            std::string raw;
            for (size_t k = 0; k + 1 < names[i].size(); k += 2)
                raw += static_cast<char>(std::stoi(names[i].substr(k, 2), nullptr, 16));
            ASSERT_GE(lines[i + 1].size(), kNameColumn);
            EXPECT_EQ(lines[i + 1].substr(kNameColumn), raw);
        }
        ++compared;
    }
    EXPECT_GT(compared, 60u);
}

// --json on every archive: each line parses with Python's json module, the
// members' objects come first and the archive's last, and every member's
// text is the text the composed output gives after that member's labels, in
// the same order.
TEST_F(Corpus, JsonParsesAndEachTextIsTheComposedOne) {
    setenv("ZIPTEXT_PY", R"(
import sys, json, os
d, bad, texts = sys.argv[1], 0, 0
for f in sorted(n[:-5] for n in os.listdir(d) if n.endswith('.json')):
    raw = open(os.path.join(d, f + '.json'), 'rb').read()
    composed = open(os.path.join(d, f + '.txt'), 'rb').read()
    try:
        objs = [json.loads(l) for l in raw.decode('utf-8').splitlines()]
        *members, summary = objs
        assert set(summary) == {'archive', 'members', 'failed', 'code', 'bytes', 'error'}, summary
        assert summary['members'] == len(members), summary
        at = 0
        for m in members:
            assert m['code'] == 0 or m['error'], m
            if m['text'] is None:
                continue
            block = ('Filename: ' + m['path'][-1] + '\nContent: \n' + m['text']).encode()
            at = composed.index(block, at) + len(block)
            texts += 1
    except Exception as e:
        bad += 1
        print(f, repr(e)[:300])
print('texts', texts, 'bad', bad)
)", 1);
    size_t runs = 0;
    for (const CorpusEntry &e : entries_) {
        SCOPED_TRACE(e.file);
        const RunResult j = Run({"--json", At(e.file), "-o", e.file + ".json"}, {}, 30);
        const RunResult c = Run({At(e.file), "-o", e.file + ".txt"}, {}, 30);
        ASSERT_TRUE(j.signal == 0 && c.signal == 0 && !j.timed_out && !c.timed_out);
        EXPECT_EQ(j.status, c.status) << j.err << c.err;
        // An output that the extraction left empty is not written.
        if (!std::filesystem::exists(Work(e.file + ".txt"))) test::WriteFile(Work(e.file + ".txt"), "");
        runs += j.status <= 1;
    }
    FILE *p = popen(("python3 -c \"$ZIPTEXT_PY\" '" + Work() + "'").c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string report;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) report.append(buf, n);
    pclose(p);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(report, m, std::regex(R"(texts ([0-9]+) bad 0\n$)"))) << report;
    EXPECT_GT(std::stoul(m[1]), 120u) << report;
    EXPECT_EQ(runs, entries_.size());
    std::filesystem::remove_all(Work());
    std::filesystem::create_directory(Work());
}

} // namespace
} // namespace vtq::e2e
