// test_jobs.cc - archives on worker threads give what one-by-one runs give
//
// The filter and the host keep no global state; if they did, extractions
// side by side would mix their temporary files, counts or logs.  Forty
// archives of different shapes (nested, failing, cut by the size limit)
// run on four threads and are compared with sequential runs.
#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>

#include "tests/e2e/e2e.h"

namespace vtq::e2e {
namespace {

std::string Archive(int i) {
    const std::string text = "archive " + std::to_string(i) + "\n" + std::string(i * 50, static_cast<char>('a' + i % 26));
    switch (i % 4) {
    case 0: return Zip({{"a.txt", text}, {"d/", ""}, {"d/b.txt", text + text}});
    case 1: return Zip({{"outer.txt", text}, {"n.zip", Zip({{"mid.txt", text}, {"m.zip", Zip({{"in.txt", text}})}})}});
    case 2: return Zip({{"a.txt", text}, {"b.bin", std::string("\0\1\2", 3)}, {"c.txt", text}});
    default: {
        test::ZipArchive z;
        z.Add("a.txt", text, 8);
        z.Add("b.txt", text, 8).crc = 1;
        return z.Build();
    }
    }
}

std::string ReadOr(const std::string &path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec) ? test::ReadFile(path) : "<none>";
}

class Jobs : public ZiptextTest {};

TEST_F(Jobs, ParallelRunsEqualSequentialRuns) {
    constexpr int kArchives = 40;
    std::vector<std::string> args{"--jobs", "4", "--out-dir", "par", "--max-size", "3000"};
    std::vector<std::string> expected_out(kArchives);
    std::set<std::string> expected_ok, expected_err, got_ok, got_err;
    for (int i = 0; i < kArchives; ++i) {
        const std::string name = std::string("z").append(std::to_string(i)) + ".zip";
        test::WriteFile(Work(name), Archive(i));
        args.push_back(name);
        const RunResult r = Run({"--max-size", "3000", name, "-o", "seq.txt"});
        expected_out[i] = ReadOr(Work("seq.txt"));
        std::filesystem::remove(Work("seq.txt"));
        if (r.status == 0) expected_ok.insert(name + ": ok (par/z" + std::to_string(i) + ".txt)");
        std::stringstream err(r.err);
        for (std::string line; std::getline(err, line);) expected_err.insert(line);
    }
    // Every shape is there: successes, failures, and cuts at the limit.
    ASSERT_FALSE(expected_ok.empty());
    for (const char *code : {"(code 3005)", "(code 6000)", "(code 3102)"})
        ASSERT_TRUE(std::any_of(expected_err.begin(), expected_err.end(),
                                [&](const std::string &l) { return l.find(code) != l.npos; })) << code;

    const RunResult r = Run(args);
    EXPECT_EQ(r.status, 1);
    std::stringstream out(r.out), err(r.err);
    for (std::string line; std::getline(out, line);) got_ok.insert(line);
    for (std::string line; std::getline(err, line);) got_err.insert(line);
    EXPECT_EQ(got_ok, expected_ok);
    EXPECT_EQ(got_err, expected_err);
    for (int i = 0; i < kArchives; ++i)
        EXPECT_EQ(ReadOr(Work("par/z" + std::to_string(i) + ".txt")), expected_out[i]) << i;
}

} // namespace
} // namespace vtq::e2e
