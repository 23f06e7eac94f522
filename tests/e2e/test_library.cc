// test_library.cc - the built filter loaded and called by a host of its own
//
// This test is the host: it loads the filter (which brings the stand-in host libraries in by
// soname) and calls the entry points itself, as hosts do that stream the text or hook the texts.
#include <dlfcn.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <filesystem>

#include "tests/e2e/e2e.h"
#include "tests/support/zip_builder.h"
#include "vtq/host.h"
#include "vtq/standin.h"
#include "vtq/zozaz.h"
#include "ziptext.h"

namespace vtq::e2e {
namespace {

// What a host hears in extended mode: a member per DETAIL event (a second one with a reason is the
// parser's word on it), the text OnText hands over after it, the bytes OnRaw hands over.
struct Heard {
    struct Member {
        std::string format, encoding, text, reason;
    };
    std::vector<Member> members;
    Strings raw;
    VTQ_TextHooks hooks;
    VtqExtension ext;

    explicit Heard(uint32_t flags = 0, uint32_t hooks_size = sizeof(VTQ_TextHooks))
        : hooks{hooks_size, flags, &OnText, &OnRaw, this}, ext{sizeof ext, VTQ_EXTENSION_VERSION,
                                                               nullptr,    0,
                                                               0,          &OnMember,
                                                               this,       {},
                                                               &hooks,     {}} {}
    static void OnMember(void *user, const VtqMemberEvent *e) {
        if (e->Kind != VTQ_EVENT_DETAIL) return;
        auto &m = static_cast<Heard *>(user)->members;
        const std::string format = e->Format ? e->Format : "-", reason = e->Reason ? e->Reason : "";
        if (!reason.empty() && !m.empty() && m.back().format == format && m.back().reason.empty())
            m.back().reason = reason;
        else
            m.push_back({format, e->Encoding ? e->Encoding : "-", "", reason});
    }
    static void OnText(void *user, const void *data, size_t len) {
        auto &m = static_cast<Heard *>(user)->members;
        if (m.empty()) m.push_back({"no event", "", "", ""});
        m.back().text.append(static_cast<const char *>(data), len);
    }
    static void OnRaw(void *user, const void *data, size_t len) {
        static_cast<Heard *>(user)->raw.emplace_back(static_cast<const char *>(data), len);
    }
    std::string Summary() const { // each member as "format encoding text|"
        std::string all;
        for (const Member &m : members) all += m.format + " " + m.encoding + " " + m.text + "|";
        return all;
    }
};

class Library : public ZiptextTest {
protected:
    void SetUp() override {
        ZiptextTest::SetUp();
        setenv("TMPDIR", Tmp().c_str(), 1);
        lib_ = dlopen(VTQ_FILTER_SO, RTLD_NOW);
        ASSERT_NE(lib_, nullptr) << dlerror();
        stream_ = reinterpret_cast<decltype(&GetTextStreamWithErrCallback)>(
            dlsym(lib_, "GetTextStreamWithErrCallback"));
        ASSERT_NE(stream_, nullptr);
    }
    void TearDown() override {
        if (lib_ != nullptr) dlclose(lib_);
        unsetenv("TMPDIR");
        ZiptextTest::TearDown();
    }
    // a.zip of work/ into out with LF line breaks, KeepGoing and mode (extended with heard).
    uint32_t Stream(uint32_t mode, std::string &out, uint32_t max_size = 0,
                    Heard *heard = nullptr) {
        TxtOptions opts{};
        opts.ModeFlags = VTQ_MODE_ENABLED | VTQ_MODE_KEEP_GOING | mode |
                         (heard ? VTQ_MODE_COMPOSE | VTQ_MODE_EXTENDED : 0);
        opts.FormatFlags = VTQ_FMT_EOL_LF | (max_size ? VTQ_FMT_SIZE_LIMIT : 0);
        opts.MaxSize = max_size;
        opts.Extension = heard ? &heard->ext : nullptr;
        VTQ_STREAM stream{[](void *user, const void *buf, uint32_t len) {
                              static_cast<std::string *>(user)->append(
                                  static_cast<const char *>(buf), len);
                              return 0;
                          },
                          &out};
        return stream_(Work("a.zip").c_str(), &stream, &opts, nullptr, 0);
    }
    void *lib_ = nullptr;
    decltype(&GetTextStreamWithErrCallback) stream_ = nullptr;
};

// Split mode on a stream (ziptext never asks for it): each member's text goes to the stream, the
// size limit restarts per member (a nested archive counts as one), nested members come without
// labels, and the work directory in the current directory is pruned.
TEST_F(Library, StreamInSplitModeSendsEveryMembersText) {
    test::WriteFile(
        Work("a.zip"),
        Zip({{"a.txt", "alpha\n"}, {"in.zip", Zip({{"b.txt", "beta\n"}})}, {"c.md", "gamma\n"}}));
    const std::string cwd = std::filesystem::current_path();
    std::string whole, cut;
    ASSERT_EQ(chdir(Work().c_str()), 0);
    EXPECT_EQ(Stream(0, whole), 0u);
    EXPECT_EQ(Stream(0, cut, 3), 3005u);
    ASSERT_EQ(chdir(cwd.c_str()), 0);
    EXPECT_EQ(whole + "|" + cut, "alpha\nbeta\n\ngamma\n|alpbetgam");
    EXPECT_EQ(Tree(Work()), Strings{"a.zip"});
}

// Texts (the nested archive's members' too) go to OnText after their DETAIL events; with
// VTQ_HOOK_RAW_MEMBERS every member's bytes go to OnRaw as they are; a hooks record too short to
// hold the hooks leaves the texts in the output.  The size limit counts what the hook took.
// ZT_FAILED_ONLY: on_member hears only the members that failed, nested ones included, so a nested
// archive's records need not be held; without it, every member in directory order.
TEST_F(Library, FailedOnlyReportsTheFailedMembers) {
    test::ZipArchive inner, outer;
    inner.Add("ok.txt", "fine\n");
    inner.Add("bad.txt", "beta\n", 8).crc = 1;
    outer.Add("a.txt", "alpha\n");
    outer.Add("in.zip", inner.Build());
    outer.Add("worse.txt", "gamma\n", 8).crc = 2;
    test::WriteFile(Work("a.zip"), outer.Build());
    for (const uint32_t flags : {0u, ZT_FAILED_ONLY}) {
        std::string heard;
        zt_options opts{};
        opts.size = sizeof opts;
        opts.flags = flags;
        opts.user = &heard;
        opts.on_member = [](void *user, const zt_member *m) {
            for (uint32_t i = 0; i <= m->depth; ++i)
                *static_cast<std::string *>(user) += std::string(i ? "/" : "") + m->path[i];
            *static_cast<std::string *>(user) += m->failed != 0 ? "! " : " ";
        };
        zt_summary summary{};
        summary.size = sizeof summary;
        zt_members(Work("a.zip").c_str(), &opts, &summary);
        EXPECT_EQ(heard, flags ? "in.zip/bad.txt! worse.txt! "
                               : "a.txt in.zip in.zip/ok.txt in.zip/bad.txt! worse.txt! ")
            << flags;
    }
}

TEST_F(Library, TextHooks) {
    const std::string inner = Zip({{"b.txt", "beta\n"}}),
                      binary("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    test::WriteFile(
        Work("a.zip"),
        Zip({{"a.txt", "alpha\n"}, {"in.zip", inner}, {"bin", binary}, {"c.txt", "gamma\n"}}));
    Heard hooked, raw(VTQ_HOOK_RAW_MEMBERS), short_record(0, offsetof(VTQ_TextHooks, OnText)), cut;
    std::string out, raw_out, short_out, cut_out;
    EXPECT_EQ(Stream(0, out, 0, &hooked), 6000u);
    EXPECT_EQ(hooked.Summary(),
              "text UTF-8 alpha\n|zip - |text UTF-8 beta\n|png - |text UTF-8 gamma\n|");
    EXPECT_EQ(out.find("gamma"), out.npos) << out;
    EXPECT_EQ(Stream(0, raw_out, 0, &raw), 0u);
    EXPECT_EQ(raw.Summary(), "");
    EXPECT_EQ(raw_out.find("alpha"), raw_out.npos) << raw_out;
    EXPECT_EQ(raw.raw, (Strings{"alpha\n", inner, binary, "gamma\n"}));
    EXPECT_EQ(Stream(0, short_out, 0, &short_record), 6000u);
    EXPECT_EQ(short_record.Summary(), "text UTF-8 |zip - |text UTF-8 |png - |text UTF-8 |");
    EXPECT_NE(short_out.find("gamma"), short_out.npos) << short_out;
    // A limit three bytes below the output and the texts together cuts the last text.
    std::size_t n = out.size();
    for (const auto &m : hooked.members) n += m.text.size();
    EXPECT_EQ(Stream(0, cut_out, static_cast<uint32_t>(n - 3), &cut), 3005u);
    EXPECT_EQ(cut.Summary(), "text UTF-8 alpha\n|zip - |text UTF-8 beta\n|png - |text UTF-8 gamm|");
}

// Documents (make_documents.py) and a PNG: in extended mode each gives its text in reading order
// and none of its markup, its format in the DETAIL event, and what gives no text says why; without
// the bit a package is an archive.
TEST_F(Library, Documents) {
    const std::string script = std::filesystem::path(__FILE__).parent_path() / "make_documents.py";
    FILE *p = popen(("/usr/bin/python3 " + script + " " + Work()).c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string made = "logo.png\n";
    for (char buf[256]; fgets(buf, sizeof buf, p) != nullptr;) made += buf;
    if (pclose(p) != 0) GTEST_SKIP() << "no /usr/bin/python3 to make the documents";
    test::WriteFile(Work("logo.png"), std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
    const struct {
        const char *name, *heard, *reason; // heard: as Heard::Summary() gives the member
    } rows[] = {
        {"talk.pptx", "pptx - First slide\n\nSecond slide\n|", ""},
        {"memo.pdf", "pdf - Memo page one\n\nMemo page two\n|", ""},
        {"locked.pdf", "pdf - |", "encrypted PDF"},
        {"page.html", "html UTF-8 Web page\nFish & chips\n|", ""},
        {"feed.xml", "xml UTF-8 Feed title\n|", ""},
        {"mail.eml",
         "eml UTF-8 From: Ann <ann@example.com>\nTo: bob@example.com\nSubject: Caf\u00e9 plans\n"
         "Date: Mon, 01 Jan 2024 10:00:00 +0000\n\nHTML body\n\nAttachment: a.html\nAttached page\n"
         "\nAttachment: talk.pptx\n\nFirst slide\n\nSecond slide\n|",
         ""},
        {"logo.png", "png - |", "no text filter for png"},
    };
    test::ZipArchive zip;
    std::string heard_all, reasons, got_reasons, labels, documented;
    for (const auto &row : rows)
        if (made.find(std::string(row.name) + "\n") != std::string::npos) {
            zip.Add(row.name, test::ReadFile(Work(row.name)), 8);
            heard_all += row.heard;
            reasons += std::string(row.reason) + "|";
        }
    test::WriteFile(Work("a.zip"), zip.Build());
    Heard heard;
    EXPECT_EQ(Stream(0, labels, 0, &heard), 6000u);
    EXPECT_EQ(heard.Summary(), heard_all);
    for (const auto &m : heard.members) got_reasons += m.reason + "|";
    EXPECT_EQ(got_reasons, reasons);
    Stream(VTQ_MODE_COMPOSE, documented);
    EXPECT_NE(documented.find("<a:t>Second slide</a:t>"), std::string::npos);
}

} // namespace
} // namespace vtq::e2e
