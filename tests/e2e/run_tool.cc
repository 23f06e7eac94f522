// run_tool.cc - start ziptext in a private directory and collect its output
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "tests/e2e/e2e.h"

namespace fs = std::filesystem;

namespace vtq::e2e {

uint32_t RunResult::Code() const {
    static const std::regex kLine(R"(\(code ([0-9]+)\)\n?$)");
    std::smatch m;
    return std::regex_search(err, m, kLine) ? static_cast<uint32_t>(std::stoul(m[1])) : 0;
}

namespace {

// The peak resident memory of pid once it runs ziptext (not while it is
// still this program between fork and exec).
long PeakRssKib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line, name;
    long hwm = 0;
    while (std::getline(status, line)) {
        if (line.rfind("Name:", 0) == 0) name = line.substr(line.find_first_not_of(" \t", 5));
        if (line.rfind("VmHWM:", 0) == 0) hwm = std::stol(line.substr(6));
    }
    return name == "ziptext" ? hwm : 0;
}

} // namespace

void ZiptextTest::SetUp() {
    std::string tmpl = fs::temp_directory_path().string() + "/ziptext-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    root_ = tmpl;
    fs::create_directory(root_ + "/work");
    fs::create_directory(root_ + "/tmp");
}

void ZiptextTest::TearDown() {
    EXPECT_EQ(Tree(Tmp()), std::vector<std::string>{}) << "files left in TMPDIR";
    std::error_code ec;
    if (!HasFailure()) fs::remove_all(root_, ec);
    else std::cerr << "kept test directory " << root_ << "\n";
}

std::vector<std::string> ZiptextTest::Tree(const std::string &dir) {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
         it.increment(ec))
        out.push_back(fs::relative(it->path(), dir).string() + (it->is_directory() ? "/" : ""));
    std::sort(out.begin(), out.end());
    return out;
}

pid_t ZiptextTest::Start(const std::vector<std::string> &args, int out_fd, const Env &env) const {
    const std::string err_file = root_ + "/stderr", vg_log = root_ + "/valgrind.log";
    const std::string work = Work(), tmp = Tmp();
    std::vector<std::string> argv_s = launcher_;
    if (UnderMemcheck()) {
        const std::string supp = (fs::path(__FILE__).parent_path() / "valgrind.supp").string();
        argv_s.insert(argv_s.end(), {"valgrind", "--tool=memcheck", "--quiet", "--leak-check=full",
                                     "--errors-for-leak-kinds=definite", "--suppressions=" + supp,
                                     "--log-file=" + vg_log});
    }
    argv_s.push_back(VTQ_ZIPTEXT);
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : argv_s) argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) { // setenv is safe here: no other thread touches the environment
        int fd_err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd_err < 0 || chdir(work.c_str()) != 0) _exit(127);
        if (!stdin_.empty()) {
            const int fd_in = open(stdin_.c_str(), O_RDONLY);
            if (fd_in < 0 || dup2(fd_in, 0) < 0) _exit(127);
        }
        dup2(out_fd, 1);
        dup2(fd_err, 2);
        setenv("TMPDIR", tmp.c_str(), 1);
        unsetenv("VTQ_MAX_ALLOC");
        unsetenv("VTQ_LOG_FILE");
        for (const auto &[k, v] : env) setenv(k.c_str(), v.c_str(), 1);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

RunResult ZiptextTest::Run(const std::vector<std::string> &args, const Env &env, int timeout_s) const {
    RunResult r;
    const std::string out_file = root_ + "/stdout", vg_log = root_ + "/valgrind.log";
    const bool memcheck = UnderMemcheck();
    if (memcheck) timeout_s *= 20;
    const int fd_out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t pid = fd_out < 0 ? -1 : Start(args, fd_out, env);
    if (fd_out >= 0) close(fd_out);
    if (pid < 0) return r;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, WNOHANG) != pid) {
        r.max_rss_kib = std::max(r.max_rss_kib, PeakRssKib(pid));
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
            r.timed_out = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
    r.out = test::ReadFile(out_file);
    r.err = test::ReadFile(root_ + "/stderr");
    if (memcheck) { // --quiet leaves the log empty unless memcheck found something
        std::string line = "ziptext";
        for (const std::string &a : args) line += " " + a;
        EXPECT_EQ(fs::exists(vg_log) ? test::ReadFile(vg_log) : "no report", "")
            << "memcheck report for: " << line;
        fs::remove(vg_log);
    }
    return r;
}

bool UnderMemcheck() {
    const char *v = std::getenv("VTQ_E2E_MEMCHECK");
    return v != nullptr && *v != '\0' && *v != '0';
}

std::string Zip(const std::vector<std::pair<std::string, std::string>> &members) {
    test::ZipArchive zip;
    for (const auto &[name, data] : members)
        zip.Add(name, data, name.empty() || name.back() == '/' ? 0 : 8);
    return zip.Build();
}

} // namespace vtq::e2e
