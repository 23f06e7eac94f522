// test_library.cc - the built filter loaded and called by a host of its own
//
// This test is the host: it loads the filter (which brings the stand-in
// host libraries in by soname) and calls the entry points itself, as hosts
// do that size their workers' stacks or ask for split mode on a stream.
#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "tests/e2e/e2e.h"
#include "tests/support/text_samples.h"
#include "vtq/host.h"
#include "vtq/standin.h"
#include "vtq/zozaz.h"

namespace vtq::e2e {
namespace {

class Library : public ZiptextTest {
protected:
    void SetUp() override {
        ZiptextTest::SetUp();
        setenv("TMPDIR", Tmp().c_str(), 1);
        lib_ = dlopen(VTQ_FILTER_SO, RTLD_NOW);
        ASSERT_NE(lib_, nullptr) << dlerror();
    }
    void TearDown() override {
        if (lib_ != nullptr) dlclose(lib_);
        unsetenv("TMPDIR");
        ZiptextTest::TearDown();
    }
    template <typename Fn> Fn *Get(const char *name) { return reinterpret_cast<Fn *>(dlsym(lib_, name)); }
    void *lib_ = nullptr;
};

struct Job {
    decltype(&GetTextWithErrCallback) get_text;
    std::string archive, out;
    TxtOptions opts{};
    uint32_t code = 99;
};

// Extracts on a thread with a 1 MiB stack, the size hosts give workers;
// running off its end kills the test.
uint32_t OnWorkerStack(Job &job) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, size_t{1} << 20);
    pthread_t th;
    auto run = [](void *p) -> void * {
        auto *j = static_cast<Job *>(p);
        j->code = j->get_text(j->archive.c_str(), j->out.c_str(), &j->opts, nullptr, 0);
        return nullptr;
    };
    EXPECT_EQ(pthread_create(&th, &attr, run, &job), 0);
    pthread_join(th, nullptr);
    pthread_attr_destroy(&attr);
    return job.code;
}

// The sixteen archive levels the stand-in host opens, in both modes, and a
// member 2000 directories down fit the stack of a worker thread.
TEST_F(Library, DeepestExtractionsFitAWorkerStack) {
    test::ZipArchive deep;
    std::string name;
    for (int i = 0; i < 2000; ++i) name += "d/";
    deep.Add(name + "f.doc", "at the bottom\n");
    std::string nested = Zip({{"leaf.txt", "leaf\n"}});
    for (int i = 1; i < 16; ++i) nested = Zip({{"inner.zip", nested}});
    const struct { const char *what; std::string bytes; uint32_t mode; } rows[] = {
        {"16 levels, compose", nested, VTQ_MODE_COMPOSE},
        {"16 levels, split", nested, 0},
        {"2000 directories", deep.Build(), 0},
    };
    for (const auto &row : rows) {
        std::filesystem::remove_all(Work("run"));
        std::filesystem::create_directories(Work("run"));
        Job job{Get<decltype(GetTextWithErrCallback)>("GetTextWithErrCallback"), Work("run/a.zip"), Work("run/a.txt")};
        test::WriteFile(job.archive, row.bytes);
        job.opts.ModeFlags = VTQ_MODE_ENABLED | row.mode;
        EXPECT_EQ(OnWorkerStack(job), 0u) << row.what;
    }
    std::filesystem::remove_all(Work("run"));
}

int Collect(void *user, const void *buf, uint32_t len) {
    static_cast<std::string *>(user)->append(static_cast<const char *>(buf), len);
    return 0;
}

// ziptext never asks for split mode on a stream.  Each member's text goes
// to the stream, the size limit restarts per member (a nested archive
// counts as one member), the nested members are composed without labels,
// and the work directory in the current directory is pruned.
TEST_F(Library, StreamInSplitModeSendsEveryMembersText) {
    test::WriteFile(Work("a.zip"), Zip({{"a.txt", "alpha\n"}, {"in.zip", Zip({{"b.txt", "beta\n"}})},
                                        {"c.md", "gamma\n"}}));
    auto *get_text = Get<decltype(GetTextStreamWithErrCallback)>("GetTextStreamWithErrCallback");
    ASSERT_NE(get_text, nullptr);
    const std::string cwd = std::filesystem::current_path();
    for (const auto &[max_size, code, text] : {std::tuple{0u, 0u, "alpha\nbeta\n\ngamma\n"},
                                               std::tuple{3u, 3005u, "alpbetgam"}}) {
        TxtOptions opts{};
        opts.ModeFlags = VTQ_MODE_ENABLED | VTQ_MODE_KEEP_GOING;
        opts.FormatFlags = VTQ_FMT_EOL_LF | (max_size ? VTQ_FMT_SIZE_LIMIT : 0);
        opts.MaxSize = max_size;
        std::string got;
        VTQ_STREAM stream{&Collect, &got};
        ASSERT_EQ(chdir(Work().c_str()), 0);
        EXPECT_EQ(get_text("a.zip", &stream, &opts, nullptr, 0), code);
        ASSERT_EQ(chdir(cwd.c_str()), 0);
        EXPECT_EQ(got, text);
        EXPECT_EQ(Tree(Work()), std::vector<std::string>{"a.zip"});
    }
}

// What a program hears from the extended mode's per-member extraction: a
// member per DETAIL event, with the text OnText hands over after it, and
// the bytes OnRaw hands over.
struct Heard {
    struct Member {
        std::string format, encoding, text, reason;
    };
    std::vector<Member> members;
    std::vector<std::string> raw;
    // A DETAIL with a reason after one of the same format without: the
    // parser's word on that member.
    static void OnMember(void *user, const VtqMemberEvent *e) {
        if (e->Kind != VTQ_EVENT_DETAIL) return;
        auto &members = static_cast<Heard *>(user)->members;
        const std::string format = e->Format ? e->Format : "-", reason = e->Reason ? e->Reason : "";
        if (!reason.empty() && !members.empty() && members.back().format == format &&
            members.back().reason.empty())
            members.back().reason = reason;
        else
            members.push_back({format, e->Encoding ? e->Encoding : "-", "", reason});
    }
    static void OnText(void *user, const void *data, size_t len) {
        auto &members = static_cast<Heard *>(user)->members;
        if (members.empty()) members.push_back({"no event", "", "", ""});
        members.back().text.append(static_cast<const char *>(data), len);
    }
    static void OnRaw(void *user, const void *data, size_t len) {
        static_cast<Heard *>(user)->raw.emplace_back(static_cast<const char *>(data), len);
    }
    // Each member as "format encoding text|".
    std::string Summary() const {
        std::string all;
        for (const Member &m : members) all += m.format + " " + m.encoding + " " + m.text + "|";
        return all;
    }
    // The bytes of out and of the texts heard.
    std::size_t Taken(const std::string &out) const {
        std::size_t n = out.size();
        for (const Member &m : members) n += m.text.size();
        return n;
    }
};

// An extension record whose callback and text hooks report to a Heard.
struct Hooked {
    VTQ_TextHooks hooks{};
    VtqExtension ext{};
    Hooked(Heard &heard, uint32_t hook_flags) {
        hooks = {sizeof hooks, hook_flags, &Heard::OnText, &Heard::OnRaw, &heard};
        ext.Size = sizeof ext;
        ext.Version = VTQ_EXTENSION_VERSION;
        ext.OnMember = &Heard::OnMember;
        ext.User = &heard;
        ext.HostData = &hooks;
    }
};

// A member's part of a composed output: its labels and, when it gave
// text, the text and a line break.
std::string Composed(const std::string &name, bool gave_text, const std::string &text) {
    return gave_text ? Block(name, text) : "Filename: " + name + "\nContent: \n";
}

class Extended : public Library {
protected:
    // Composes a.zip into a string with KeepGoing and LF line breaks.
    uint32_t Compose(uint32_t mode, const VtqExtension *ext, std::string &out,
                     uint32_t max_size = 0) {
        TxtOptions opts{};
        opts.ModeFlags = VTQ_MODE_ENABLED | VTQ_MODE_COMPOSE | VTQ_MODE_KEEP_GOING | mode;
        opts.FormatFlags = VTQ_FMT_EOL_LF | (max_size ? VTQ_FMT_SIZE_LIMIT : 0);
        opts.MaxSize = max_size;
        opts.Extension = ext;
        VTQ_STREAM stream{&Collect, &out};
        auto *get_text =
            Get<decltype(GetTextStreamWithErrCallback)>("GetTextStreamWithErrCallback");
        return get_text(Work("a.zip").c_str(), &stream, &opts, nullptr, 0);
    }
};

// The table of texts in nine languages, each in the legacy sets of its
// writers, in UTF-8, and in UTF-16LE/BE with and without a byte-order mark,
// as members of one archive.  In extended mode every member's text must
// come back as written, through the text hook and into the output alike;
// the statistical detector's misses are counted and printed.  Without the
// bit the same archive, extension and all, gives what the documented rule
// gives: UTF-8, else Shift_JIS (the default language's set), else no text.
TEST_F(Extended, EveryEncodingOfTheSampleTable) {
    struct Form {
        std::string name, set, text, bytes;
        bool by_rule; // decided without the statistical detector
    };
    std::vector<Form> forms;
    test::ZipArchive zip;
    int n = 0;
    for (const auto &sample : test::kTextSamples) {
        const std::string text = sample.text, tag = "s" + std::to_string(n++);
        std::vector<std::pair<std::string, std::string>> sets; // set, mark
        for (std::string_view rest = sample.legacy; !rest.empty();) {
            sets.emplace_back(rest.substr(0, rest.find(' ')), "");
            rest.remove_prefix(std::min(rest.size(), sets.back().first.size() + 1));
        }
        sets.insert(sets.end(), {{"UTF-8", ""},
                                 {"UTF-16LE", "\xFF\xFE"},
                                 {"UTF-16LE", ""},
                                 {"UTF-16BE", "\xFE\xFF"},
                                 {"UTF-16BE", ""}});
        for (const auto &[set, mark] : sets) {
            Form f{tag + "." + set + (mark.empty() ? "" : ".bom") + ".txt", set, text,
                   mark + test::Encode(text, set.c_str()), false};
            ASSERT_GT(f.bytes.size(), mark.size()) << f.name;
            // UTF-16 without a mark is found by its NUL bytes, which texts
            // without an ASCII character lack.
            f.by_rule = set == "UTF-8" || set == "ISO-2022-JP" || !mark.empty() ||
                        (set.starts_with("UTF-16") && f.bytes.find('\0') != std::string::npos);
            zip.Add(f.name, f.bytes, 8);
            forms.push_back(std::move(f));
        }
    }
    test::WriteFile(Work("a.zip"), zip.Build());

    Heard heard;
    Hooked hooked(heard, 0);
    std::string labels_only;
    const uint32_t code = Compose(VTQ_MODE_EXTENDED, &hooked.ext, labels_only);
    ASSERT_EQ(heard.members.size(), forms.size());
    std::string composed, expected, labels;
    EXPECT_EQ(Compose(VTQ_MODE_EXTENDED, nullptr, composed), code);
    int statistical = 0, hits = 0;
    for (std::size_t i = 0; i < forms.size(); ++i) {
        const Form &f = forms[i];
        const Heard::Member &m = heard.members[i];
        expected += Composed(f.name, m.format == "text", m.text);
        labels += Composed(f.name, m.format == "text", "");
        const bool right = m.format == "text" && m.text == f.text;
        if (f.by_rule) {
            EXPECT_TRUE(right) << f.name << " read as " << m.encoding;
            EXPECT_EQ(m.encoding, f.set) << f.name;
            continue;
        }
        ++statistical;
        hits += right;
        if (!right)
            std::printf("detector miss: %s read as %s\n", f.name.c_str(), m.encoding.c_str());
    }
    std::printf("statistical detection: %d of %d right (%zu members)\n", hits, statistical,
                forms.size());
    // The misses are the unmarked UTF-16 forms of the two Japanese texts,
    // which have no NUL byte: 4 of the table's forms.
    EXPECT_GE(hits + 4, statistical);
    const bool all_text = std::all_of(heard.members.begin(), heard.members.end(),
                                      [](const Heard::Member &m) { return m.format == "text"; });
    EXPECT_EQ(code, all_text ? 0u : 6000u);
    // The texts went to the hook, only the labels to the output.
    EXPECT_EQ(composed, expected);
    EXPECT_EQ(labels_only, labels);

    heard.members.clear();
    std::string documented;
    Compose(0, &hooked.ext, documented);
    EXPECT_TRUE(heard.members.empty()) << "an event without the extended mode";
    expected.clear();
    for (const Form &f : forms) {
        std::string text = f.bytes;
        const bool utf8 =
            text == test::Encode(text, "UTF-8") && text.find('\0') == std::string::npos;
        if (!utf8)
            text =
                text.find('\0') == std::string::npos ? test::Convert(text, "CP932", "UTF-8") : "";
        expected += Composed(f.name, utf8 || !text.empty(), text);
    }
    EXPECT_EQ(documented, expected);
}

// The hooks over an archive with a nested one and a binary member: texts
// (the nested archive's members' too) go to OnText after their DETAIL
// events; with VTQ_HOOK_RAW_MEMBERS every member's bytes go to OnRaw as
// they are, nothing else; a hooks record from an older program, too short
// to hold the hooks, leaves the texts in the output.
TEST_F(Extended, TextHooks) {
    const std::string inner = Zip({{"b.txt", "beta\n"}}),
                      binary("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    test::WriteFile(
        Work("a.zip"),
        Zip({{"a.txt", "alpha\n"}, {"in.zip", inner}, {"bin", binary}, {"c.txt", "gamma\n"}}));
    const struct {
        const char *label;
        uint32_t flags, hooks_size, code;
        std::string members; // Heard::Summary()
        std::vector<std::string> raw;
        bool texts_in_output;
    } rows[] = {
        {"texts",
         0,
         sizeof(VTQ_TextHooks),
         6000,
         "text UTF-8 alpha\n|zip - |text UTF-8 beta\n|png - |text UTF-8 gamma\n|",
         {},
         false},
        {"raw members",
         VTQ_HOOK_RAW_MEMBERS,
         sizeof(VTQ_TextHooks),
         0,
         "",
         {"alpha\n", inner, binary, "gamma\n"},
         false},
        {"older hooks record",
         0,
         offsetof(VTQ_TextHooks, OnText),
         6000,
         "text UTF-8 |zip - |text UTF-8 |png - |text UTF-8 |",
         {},
         true},
    };
    for (const auto &row : rows) {
        Heard heard;
        Hooked hooked(heard, row.flags);
        hooked.hooks.Size = row.hooks_size;
        std::string out;
        EXPECT_EQ(Compose(VTQ_MODE_EXTENDED, &hooked.ext, out), row.code) << row.label;
        EXPECT_EQ(heard.Summary(), row.members) << row.label;
        EXPECT_EQ(heard.raw, row.raw) << row.label;
        EXPECT_EQ(out.find("gamma") != std::string::npos, row.texts_in_output) << row.label;
    }

    // The size limit counts what the hook took, across the nested level: a
    // limit three bytes below the whole cuts the last text (its line break
    // and the line break after it).
    Heard heard;
    Hooked hooked(heard, 0);
    std::string out;
    Compose(VTQ_MODE_EXTENDED, &hooked.ext, out);
    const std::size_t whole = heard.Taken(out);
    heard.members.clear();
    out.clear();
    EXPECT_EQ(Compose(VTQ_MODE_EXTENDED, &hooked.ext, out, static_cast<uint32_t>(whole - 3)),
              3005u);
    EXPECT_EQ(heard.Taken(out), whole - 3);
    EXPECT_EQ(heard.members.back().text, "gamm");
}

// The documents people zip, each made by its own library where installed
// (make_documents.py), in one archive with a PNG image: in extended mode
// each gives its text and none of its markup, its format in the DETAIL
// event, and what gives no text says why; without the bit the same
// archive gives what the documented rule gives (the packages opened as
// nested archives, their XML in the output).
TEST_F(Extended, Documents) {
    const std::string script = std::filesystem::path(__FILE__).parent_path() / "make_documents.py";
    std::filesystem::create_directories(Work("docs"));
    FILE *p = popen(("/usr/bin/python3 " + script + " " + Work("docs")).c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string made;
    for (char buf[256]; fgets(buf, sizeof buf, p) != nullptr;) made += buf;
    if (pclose(p) != 0) GTEST_SKIP() << "no /usr/bin/python3 to make the documents";
    test::WriteFile(Work("docs/logo.png"), std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
    made += "logo.png\n";
    struct Row {
        const char *name, *format;
        std::vector<std::string> words; // in this order
        const char *reason = "";
    };
    const Row rows[] = {
        {"report.docx",
         "docx",
         {"Quarterly report\n", "Sales rose in every region.\n", "North\t12"}},
        {"prices.xlsx", "xlsx", {"Fig\t2.5\n", "\nApples\t40\n"}},
        {"talk.pptx", "pptx", {"First slide\n", "\nSecond slide\n"}},
        {"memo.pdf", "pdf", {"Memo page one\n", "Memo page two\n"}},
        {"locked.pdf", "pdf", {}, "encrypted PDF"},
        {"notes.odt", "odt", {"Meeting notes\nBring the minutes.\n"}},
        {"stock.ods", "ods", {"Pears\t7\n"}},
        {"page.html", "html", {"Web page\nFish & chips\n"}},
        {"feed.xml", "xml", {"Feed title\n"}},
        {"mail.eml",
         "eml",
         {"From: Ann <ann@example.com>\nTo: bob@example.com\nSubject: Caf\u00e9 plans\n",
          "\nHTML body\n", "Attachment: a.html\nAttached page\n",
          "Attachment: report.docx\nQuarterly report\n"}},
        {"logo.png", "png", {}, "no text filter for png"},
    };
    test::ZipArchive zip;
    std::vector<const Row *> in_zip;
    for (const Row &row : rows) {
        if (made.find(std::string(row.name) + "\n") == std::string::npos) continue;
        zip.Add(row.name, test::ReadFile(Work("docs/") + row.name), 8);
        in_zip.push_back(&row);
    }
    test::WriteFile(Work("a.zip"), zip.Build());

    Heard heard;
    Hooked hooked(heard, 0);
    std::string labels;
    EXPECT_EQ(Compose(VTQ_MODE_EXTENDED, &hooked.ext, labels), 6000u);
    ASSERT_EQ(heard.members.size(), in_zip.size()) << heard.Summary();
    for (std::size_t i = 0; i < in_zip.size(); ++i) {
        const Heard::Member &m = heard.members[i];
        const Row &row = *in_zip[i];
        EXPECT_EQ(m.format, row.format);
        EXPECT_EQ(m.reason, row.reason) << row.name;
        std::size_t at = 0;
        for (const std::string &w : row.words) {
            const std::size_t found = m.text.find(w, at);
            EXPECT_NE(found, std::string::npos) << row.name << ": no \"" << w << "\" in order in\n"
                                                << m.text;
            at = found == std::string::npos ? at : found + w.size();
        }
        if (row.words.empty()) {
            EXPECT_EQ(m.text, "") << row.name;
        }
        for (const char *markup :
             {"</", "<?", "/>", "&amp;", "hidden", "color:", "Plain body", "xmlns"})
            EXPECT_EQ(m.text.find(markup), std::string::npos) << row.name << ": " << markup;
    }
    std::string documented;
    Compose(0, nullptr, documented);
    if (made.find("report.docx") != std::string::npos) {
        EXPECT_NE(documented.find("<w:t>Quarterly report</w:t>"), std::string::npos);
    }
}

} // namespace
} // namespace vtq::e2e
