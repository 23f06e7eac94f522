// run_tool.cc - start ziptext in a private directory and collect its output
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <set>
#include <thread>

#include "tests/e2e/e2e.h"

namespace fs = std::filesystem;

namespace vtq::e2e {

uint32_t RunResult::Code() const {
    static const std::regex kLine(R"(\(code ([0-9]+)\)\n?$)");
    std::smatch m;
    return std::regex_search(err, m, kLine) ? static_cast<uint32_t>(std::stoul(m[1])) : 0;
}

bool UnderMemcheck() {
    const char *v = std::getenv("VTQ_E2E_MEMCHECK");
    return v != nullptr && *v != '\0' && *v != '0';
}

void ZiptextTest::SetUp() {
    std::string tmpl = fs::temp_directory_path().string() + "/ziptext-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    root_ = tmpl;
    fs::create_directory(Work());
    fs::create_directory(Tmp());
}

void ZiptextTest::TearDown() {
    EXPECT_EQ(Tree(Tmp()), Strings{}) << "files left in TMPDIR";
    std::error_code ec;
    if (!HasFailure())
        fs::remove_all(root_, ec);
    else
        std::cerr << "kept test directory " << root_ << "\n";
}

Strings ZiptextTest::Tree(const std::string &dir) {
    Strings out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
         it.increment(ec))
        out.push_back(fs::relative(it->path(), dir).string() + (it->is_directory() ? "/" : ""));
    std::sort(out.begin(), out.end());
    return out;
}

pid_t ZiptextTest::Start(const Strings &args, int out_fd, const Env &env) const {
    Strings argv_s = launcher_;
    if (UnderMemcheck())
        argv_s.insert(
            argv_s.end(),
            {"valgrind", "--tool=memcheck", "--quiet", "--leak-check=full",
             "--errors-for-leak-kinds=definite", "--log-file=" + root_ + "/valgrind.log",
             "--suppressions=" + (fs::path(__FILE__).parent_path() / "valgrind.supp").string()});
    argv_s.push_back(VTQ_ZIPTEXT);
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : argv_s) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string err_file = root_ + "/stderr", work = Work(), tmp = Tmp();
    const pid_t pid = fork();
    if (pid == 0) { // setenv is safe here: no other thread touches the environment
        const int fd_err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd_err < 0 || chdir(work.c_str()) != 0) _exit(127);
        const int fd_in = stdin_.empty() ? 0 : open(stdin_.c_str(), O_RDONLY);
        if (fd_in < 0 || dup2(fd_in, 0) < 0) _exit(127);
        dup2(out_fd, 1);
        dup2(fd_err, 2);
        setenv("TMPDIR", tmp.c_str(), 1);
        unsetenv("VTQ_MAX_ALLOC");
        unsetenv("VTQ_LOG_FILE");
        for (const auto &[k, v] : env) setenv(k.c_str(), v.c_str(), 1);
        // As a shell starts it, whether or not the tests run in the background.
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) signal(sig, SIG_DFL);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

RunResult ZiptextTest::Run(const Strings &args, const Env &env, int timeout_s) const {
    RunResult r;
    const std::string out_file = root_ + "/stdout", vg_log = root_ + "/valgrind.log";
    const int fd_out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t pid = fd_out < 0 ? -1 : Start(args, fd_out, env);
    if (fd_out >= 0) close(fd_out);
    if (pid < 0) return r;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::seconds(timeout_s * (UnderMemcheck() ? 20 : 1));
    int wstatus = 0;
    while (waitpid(pid, &wstatus, WNOHANG) != pid) {
        // The peak resident memory once it runs ziptext (not this program before exec).
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        for (bool tool = false; std::getline(status, line);) {
            tool = tool || line == "Name:\tziptext";
            if (tool && line.rfind("VmHWM:", 0) == 0)
                r.max_rss_kib = std::max(r.max_rss_kib, std::stol(line.substr(6)));
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
            r.timed_out = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    r.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
    r.out = test::ReadFile(out_file);
    r.err = test::ReadFile(root_ + "/stderr");
    if (UnderMemcheck()) { // --quiet leaves the log empty unless memcheck found something
        EXPECT_EQ(fs::exists(vg_log) ? test::ReadFile(vg_log) : "no report", "")
            << testing::PrintToString(args);
        fs::remove(vg_log);
    }
    return r;
}

std::string What(const std::string &path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return "<none>";
    if (S_ISREG(st.st_mode)) return test::ReadFile(path);
    return S_ISFIFO(st.st_mode)  ? "<fifo>"
           : S_ISLNK(st.st_mode) ? "<link>"
           : S_ISCHR(st.st_mode) ? "<device>"
                                 : "<directory>";
}

TEST_P(Runs, EndAsExpected) {
    const Row &row = GetParam();
    if (row.needs_root && geteuid() != 0) GTEST_SKIP() << "mknod and mount need root";
    if (row.archive) test::WriteFile(Work("a.zip"), row.archive(Work()));
    fs::create_directory(Work("out"));
    if (row.plant) row.plant(Work());
    if (IsSkipped() || HasFatalFailure()) return;
    if (row.read_only_out) {
        fs::permissions(Work("out"),
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
        if (geteuid() == 0) { // root without these two capabilities is held to the permissions
            if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "root, and no setpriv";
            launcher_ = {"/usr/bin/setpriv", "--bounding-set=-dac_override,-dac_read_search", "--"};
        }
    }
    auto top = [](const std::string &dir) { // not below: walking 2000-level trees takes minutes
        std::set<std::string> names;
        for (const auto &e : fs::directory_iterator(dir))
            names.insert(e.path().filename().string() + (e.is_directory() ? "/" : ""));
        return names;
    };
    const std::set<std::string> work = top(Work()), root = top(Work() + "/..");
    std::future<std::string> fifo; // a reader still waiting is let go by an empty writer
    if (row.fifo != nullptr) fifo = std::async(std::launch::async, test::ReadFile, Work(row.fifo));
    stdin_ = row.in;
    const RunResult r = Run(row.args, row.env, 120);
    while (fifo.valid() &&
           fifo.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
        close(open(Work(row.fifo).c_str(), O_WRONLY | O_NONBLOCK));
    fs::permissions(Work("out"), fs::perms::owner_all, fs::perm_options::add);
    ASSERT_FALSE(r.timed_out);
    ASSERT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_EQ(row.code ? r.Code() : 0u, row.code.value_or(0)) << r.err;
    const bool part =
        row.err.empty() || (row.err.back() != '\n' && r.err.find(row.err) != r.err.npos);
    EXPECT_EQ(part ? row.err : r.err, row.err); // in the messages, or all of them
    EXPECT_EQ(!row.out ? "" : row.fifo ? fifo.get() : r.out, row.out.value_or(""));
    EXPECT_TRUE(UnderMemcheck() || r.max_rss_kib <= row.max_rss_kib) << r.max_rss_kib;
    for (const auto &[path, what] : row.after) EXPECT_EQ(What(Work(path)), what) << path;
    EXPECT_EQ(top(Work()), work);
    std::set<std::string> now = top(Work() + "/..");
    now.erase("stdout");
    now.erase("stderr");
    EXPECT_EQ(now, root);
    if (row.check) row.check(r, Work());
}

std::string Zip(const std::vector<std::pair<std::string, std::string>> &members) {
    test::ZipArchive zip;
    for (const auto &[name, data] : members)
        zip.Add(name, data, name.empty() || name.back() == '/' ? 0 : 8);
    return zip.Build();
}

} // namespace vtq::e2e
