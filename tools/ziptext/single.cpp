// single.cpp - extract one archive: to standard output, a file or a tree
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "tools/ziptext/commands.h"
#include "tools/ziptext/interrupt.h"
#include "tools/ziptext/progress.h"

namespace ziptext {

void extract_archive(const Input &in, Target &t, const Options &opts, const zt_options &base,
                     ArchiveRun &run) {
    zt_options o = base;
    o.archive_name = in.name.c_str();
    o.on_member = &ArchiveRun::on_member;
    // Only a failed member has anything to say here (JSON goes elsewhere):
    // a nested archive's members are not held until it ends.
    if (run.json == nullptr && (o.flags & ZT_STRICT) == 0) o.flags |= ZT_FAILED_ONLY;
    if (run.progress != nullptr) o.on_progress = &ArchiveRun::on_progress;
    o.user = &run;
    zt_summary s{};
    s.size = sizeof s;
    std::string error;
    if (!open_target(&t, &error)) {
        run.line("ziptext: " + error);
        return;
    }
    FdWriter out{t.fd};
    switch (t.kind) {
    case Target::Kind::kStream:
        zt_compose_callback(in.path.c_str(), &FdWriter::write, &out, &o, &s);
        break;
    case Target::Kind::kFile:
        zt_compose_path(in.path.c_str(), t.path.c_str(), &o, &s);
        break;
    case Target::Kind::kSplit:
        (opts.flat ? zt_flat : zt_split)(in.path.c_str(), t.path.c_str(), &o, &s);
        break;
    }
    close_target(&t);
    // An interruption takes this lock for good before it makes creations
    // fail: the failures it causes are never reported as the outcome, the
    // process dies of its signal here instead.
    { std::lock_guard<std::mutex> hold(install_lock()); }
    if (run.progress != nullptr) run.progress->clear();
    if (out.error != 0)
        run.line(t.path.empty()
                     ? "ziptext: " + in.name +
                           ": cannot write standard output: " + std::strerror(out.error)
                     : "ziptext: cannot write '" + t.path + "': " + std::strerror(out.error));
    run.close(s);
}

int run_single(const Options &opts, const zt_options &base) {
    Input in{opts.archives.front(), opts.archives.front()};
    Target target;
    std::string error;
    const Inputs inputs(opts.archives);
    if (!plan_target(opts.out ? &*opts.out : nullptr, in.name, opts.split, &target, &error) ||
        !refuse_inputs(target, in.name, opts.flat, inputs, opts.strict, &error)) {
        std::fprintf(stderr, "ziptext: %s\n", error.c_str());
        return 2;
    }
    if (in.name == "-" && !read_standard_input(&in, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    ArchiveRun run;
    run.archive = in.name;
    run.quiet = opts.quiet;
    run.live = true;
    // Only for a person watching the terminal, and not over the text itself.
    std::unique_ptr<Progress> progress;
    if (!opts.quiet && isatty(STDERR_FILENO) == 1 &&
        !(target.kind == Target::Kind::kStream && isatty(STDOUT_FILENO) == 1)) {
        progress = std::make_unique<Progress>(in.name);
        run.progress = progress.get();
    }
    extract_archive(in, target, opts, base, run);
    release_input(in);
    return run.failed ? 1 : 0;
}

} // namespace ziptext
