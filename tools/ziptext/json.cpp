// json.cpp - members and archives as JSON Lines
#include "tools/ziptext/json.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "lib/ziptext/out_file.h"
#include "tools/ziptext/interrupt.h"
#include "vtq/standin.h"

namespace ziptext {
namespace {

// The length of the valid UTF-8 sequence at p[0..n), or 0 when p[0] does
// not start one (overlong forms, surrogates and code points past U+10FFFF
// are not valid).
std::size_t utf8_sequence(const unsigned char *p, std::size_t n) {
    const unsigned char c = p[0];
    std::size_t len;
    uint32_t cp;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF)
        len = 2, cp = c & 0x1Fu;
    else if (c >= 0xE0 && c <= 0xEF)
        len = 3, cp = c & 0x0Fu;
    else if (c >= 0xF0 && c <= 0xF4)
        len = 4, cp = c & 0x07u;
    else
        return 0;
    if (n < len) return 0;
    for (std::size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (p[i] & 0x3Fu);
    }
    const bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
    if (overlong || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
    return len;
}

void add_number(std::string &out, const char *key, uint64_t v) {
    out += ",\"";
    out += key;
    out += "\":";
    out += std::to_string(v);
}

void add_string(std::string &out, const char *key, const char *v) {
    out += ",\"";
    out += key;
    out += "\":";
    if (v == nullptr)
        out += "null";
    else
        json_string(out, v);
}

} // namespace

void json_string(std::string &out, std::string_view s) {
    out += '"';
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = p[i];
        const std::size_t len = utf8_sequence(p + i, s.size() - i);
        if (len == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (len > 1) {
            out.append(s.data() + i, len);
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
        i += len;
    }
    out += '"';
}

void JsonOut::member(const zt_member &m) {
    std::string &o = buf_;
    o += "{\"archive\":";
    json_string(o, m.archive);
    o += ",\"path\":[";
    for (uint32_t i = 0; i <= m.depth; ++i) {
        if (i > 0) o += ',';
        json_string(o, m.path[i]);
    }
    o += ']';
    add_number(o, "size", m.uncompressed_size);
    add_number(o, "compressed_size", m.compressed_size);
    add_string(o, "method", m.method_name);
    o += m.encryption != ZT_ENC_NONE ? ",\"encrypted\":true" : ",\"encrypted\":false";
    add_string(o, "encryption", m.encryption_name);
    add_string(o, "modified", m.modified[0] != '\0' ? m.modified : nullptr);
    add_string(o, "encoding", m.encoding);
    add_string(o, "format", m.format);
    add_number(o, "code", m.code);
    add_string(o, "error", m.error);
    o += ",\"text\":";
    if (m.text == nullptr)
        o += "null";
    else
        json_string(o, std::string_view(m.text, m.text_len));
    o += "}\n";
    if (direct_ != nullptr && buf_.size() >= 64 * 1024) drain(*direct_);
}

void JsonOut::summary(const std::string &archive, const zt_summary &s, const std::string &error) {
    std::string &o = buf_;
    o += "{\"archive\":";
    json_string(o, archive);
    add_number(o, "members", s.members);
    add_number(o, "failed", s.failed);
    add_number(o, "code", s.code);
    add_number(o, "bytes", s.bytes);
    add_string(o, "error", error.empty() ? nullptr : error.c_str());
    o += "}\n";
    if (direct_ != nullptr) drain(*direct_);
}

void JsonOut::drain(FdWriter &out) {
    if (!buf_.empty()) FdWriter::write(&out, buf_.data(), buf_.size());
    buf_.clear();
}

namespace {

// Shared by the workers of one --json run; lives on run_json's stack.
struct JsonRun {
    const Options *opts;
    const zt_options *base;
    std::vector<Input> *inputs;
    FdWriter *out;
    std::mutex lock; // the output and standard error
    std::atomic<bool> any_failed{false};
};

void one_archive(void *user, std::size_t i) {
    JsonRun &run = *static_cast<JsonRun *>(user);
    const Input &in = (*run.inputs)[i];
    const bool alone = run.inputs->size() == 1;
    JsonOut json(alone ? run.out : nullptr);
    ArchiveRun a;
    a.archive = in.name;
    a.quiet = run.opts->quiet;
    a.live = alone;
    a.json = &json;
    zt_options o = *run.base;
    o.archive_name = in.name.c_str();
    o.on_member = &ArchiveRun::on_member;
    o.user = &a;
    zt_summary s{};
    s.size = sizeof s;
    zt_members(in.path.c_str(), &o, &s);
    a.close(s);
    json.summary(in.name, s, result_text(s));
    std::lock_guard<std::mutex> hold(run.lock);
    json.drain(*run.out);
    for (const std::string &line : a.lines) std::fprintf(stderr, "%s\n", line.c_str());
    if (a.failed) run.any_failed = true;
}

} // namespace

int run_json(const Options &opts, const zt_options &base) {
    Target target;
    std::string error;
    const Inputs inputs(opts.archives);
    bool ok =
        plan_target(opts.out ? &*opts.out : nullptr, opts.archives.front(), false, &target, &error);
    for (std::size_t i = 0; ok && i < opts.archives.size(); ++i)
        ok = refuse_inputs(target, opts.archives[i], false, inputs, false, &error);
    if (!ok) {
        std::fprintf(stderr, "ziptext: %s\n", error.c_str());
        return 2;
    }
    std::vector<Input> list;
    for (const std::string &a : opts.archives) {
        list.push_back({a, a});
        if (a == "-" && !read_standard_input(&list.back(), &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
    }
    // A file is written fresh beside OUT and put in place at the end.
    OutFile file;
    if (target.kind == Target::Kind::kFile) {
        if (!reserve_out_file(target.path, true, &file, &error)) {
            std::fprintf(stderr, "ziptext: %s\n", error.c_str());
            return 1;
        }
        target.fd = ::open(file.temp.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
        if (target.fd < 0) {
            std::fprintf(stderr, "ziptext: %s\n", cannot("create", target.path, errno).c_str());
            discard_out_file(file);
            return 1;
        }
    } else if (!open_target(&target, &error)) {
        std::fprintf(stderr, "ziptext: %s\n", error.c_str());
        return 1;
    }
    FdWriter out{target.fd};
    JsonRun run;
    run.opts = &opts;
    run.base = &base;
    run.inputs = &list;
    run.out = &out;
    run_pool(list.size(), opts.jobs, &one_archive, &run);
    for (const Input &in : list) release_input(in);
    bool failed = run.any_failed;
    const bool closed = ::close(target.fd) == 0;
    target.fd = -1;
    if (out.error != 0 || !closed) {
        const int err = out.error != 0 ? out.error : errno;
        const std::string where = target.path.empty() ? "standard output" : "'" + target.path + "'";
        std::fprintf(stderr, "ziptext: cannot write %s: %s\n", where.c_str(), std::strerror(err));
        failed = true;
    }
    if (target.kind == Target::Kind::kFile) {
        std::lock_guard<std::mutex> hold(install_lock());
        if (out.error != 0 || !closed || !install_out_file(file, &error)) {
            if (out.error == 0 && closed) std::fprintf(stderr, "ziptext: %s\n", error.c_str());
            discard_out_file(file);
            failed = true;
        }
        VTQ_HostKeepCreated();
    }
    return failed ? 1 : 0;
}

} // namespace ziptext
