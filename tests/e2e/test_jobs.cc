// test_jobs.cc - several archives on worker threads give what one-by-one runs give
//
// The filter and the host keep no global state; if they did, extractions
// running side by side would mix their temporary files, counts or logs.
// Forty archives of different shapes (nested, failing, size-limited by the
// shared count) run on four threads and are compared with sequential runs.
#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>

#include "tests/e2e/e2e.h"

namespace vtq::e2e {
namespace {

std::string Archive(int i) {
    std::string text = "archive " + std::to_string(i) + "\n" + std::string(i * 50, static_cast<char>('a' + i % 26));
    switch (i % 4) {
    case 0:
        return Zip({{"a.txt", text}, {"d/", ""}, {"d/b.txt", text + text}});
    case 1: // nested twice
        return Zip({{"outer.txt", text},
                    {"n.zip", Zip({{"mid.txt", text}, {"m.zip", Zip({{"in.txt", text}})}})}});
    case 2: // a member without a filter between two texts
        return Zip({{"a.txt", text}, {"b.bin", std::string("\0\1\2", 3)}, {"c.txt", text}});
    default: { // damaged after one good member
        test::ZipArchive z;
        z.Add("a.txt", text, 8);
        z.Add("b.txt", text, 8).crc = 1;
        return z.Build();
    }
    }
}

class Jobs : public ZiptextTest {};

TEST_F(Jobs, ParallelRunsEqualSequentialRuns) {
    constexpr int kArchives = 40;
    std::vector<std::string> args{"--jobs", "4", "--out-dir", "par", "--max-size", "3000"};
    std::vector<std::string> expected_out(kArchives);
    std::set<std::string> expected_ok, expected_err;
    for (int i = 0; i < kArchives; ++i) {
        std::string name = "z" + std::to_string(i) + ".zip";
        test::WriteFile(Work(name), Archive(i));
        args.push_back(name);
        RunResult r = Run({"--max-size", "3000", name, "-o", "seq.txt"});
        ASSERT_EQ(r.signal, 0);
        std::string seq_out = "seq.txt";
        std::error_code ec;
        expected_out[i] = std::filesystem::exists(Work(seq_out), ec) ? test::ReadFile(Work(seq_out))
                                                                     : "<none>";
        std::filesystem::remove(Work(seq_out), ec);
        if (r.status == 0)
            expected_ok.insert(name + ": ok (par/z" + std::to_string(i) + ".txt)");
        else
            expected_err.insert(r.err.substr(0, r.err.size() - 1));
    }
    // Every shape is there: successes, failures, and cuts at the limit.
    ASSERT_FALSE(expected_ok.empty());
    for (const char *code : {"(code 3005)", "(code 6000)", "(code 6003)"})
        ASSERT_TRUE(std::any_of(expected_err.begin(), expected_err.end(),
                                [&](const std::string &l) { return l.find(code) != l.npos; }))
            << code;

    RunResult r = Run(args);
    EXPECT_EQ(r.status, 1); // some archives fail
    std::set<std::string> got_ok, got_err;
    std::stringstream out(r.out), err(r.err);
    for (std::string line; std::getline(out, line);) got_ok.insert(line);
    for (std::string line; std::getline(err, line);) got_err.insert(line);
    EXPECT_EQ(got_ok, expected_ok);
    EXPECT_EQ(got_err, expected_err);
    for (int i = 0; i < kArchives; ++i) {
        std::string path = Work("par/z" + std::to_string(i) + ".txt");
        std::error_code ec;
        std::string got = std::filesystem::exists(path, ec) ? test::ReadFile(path) : "<none>";
        EXPECT_EQ(got, expected_out[i]) << "archive " << i;
    }
}

} // namespace
} // namespace vtq::e2e
