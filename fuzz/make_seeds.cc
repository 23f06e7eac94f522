// make_seeds.cc - write the builder-made seed archives of the fuzz corpus
//
// Usage: make_seeds DIR [HARNESS].  Small archives that between them reach
// every branch of the reader and the loop the fuzzer should start from:
// stored, deflated, directories, encryption, data descriptors, a stub in
// front, a comment, nested archives, long and odd names.  For the inflate
// harness, raw-deflate streams instead (its input: the declared size in
// three bytes, then the stream) made with each of zlib's block strategies.
#include <zlib.h>

#include <cstdio>
#include <string>

#include "tests/support/zip_builder.h"

using vtq::test::ZipArchive;

namespace {

std::string Nested(int levels) {
    ZipArchive a;
    a.Add("leaf.txt", "the innermost text\n", 8);
    std::string bytes = a.Build();
    for (int i = 1; i < levels; ++i) {
        ZipArchive outer;
        outer.Add("note.txt", "level " + std::to_string(i) + "\n");
        outer.Add("inner.zip", bytes, i % 2 == 0 ? 0 : 8);
        bytes = outer.Build();
    }
    return bytes;
}

// The inflate harness's input for text deflated with zlib's strategy.
std::string Stream(const std::string &text, int level, int strategy) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy);
    std::string out(deflateBound(&z, static_cast<uLong>(text.size())), '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    const size_t n = text.size();
    return std::string{static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16)} + out;
}

void InflateSeeds(const std::string &dir) {
    std::string text;
    for (int i = 0; text.size() < 3000; ++i) text += "line " + std::to_string(i * 7919 % 1000) + " of the text\n";
    const struct {
        const char *name;
        int level, strategy;
    } kinds[] = {{"stored", 0, Z_DEFAULT_STRATEGY}, {"fixed", 6, Z_FIXED},
                 {"dynamic", 9, Z_DEFAULT_STRATEGY}, {"huffman", 6, Z_HUFFMAN_ONLY},
                 {"rle", 6, Z_RLE}};
    for (const auto &k : kinds) {
        vtq::test::WriteFile(dir + "/" + k.name + ".raw", Stream(text, k.level, k.strategy));
        vtq::test::WriteFile(dir + "/" + k.name + "-short.raw", Stream("abcabcabca", k.level, k.strategy));
    }
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: make_seeds DIR [HARNESS]\n");
        return 2;
    }
    const std::string dir = argv[1];
    if (argc == 3 && std::string(argv[2]) == "inflate") {
        InflateSeeds(dir);
        return 0;
    }
    auto seed = [&](const char *name, void (*fill)(ZipArchive &)) {
        ZipArchive a;
        fill(a);
        vtq::test::WriteFile(dir + "/" + name, a.Build());
    };
    seed("stored.zip", [](ZipArchive &a) { a.Add("a.txt", "alpha\n"); });
    seed("deflated.zip", [](ZipArchive &a) { a.Add("b.txt", std::string(300, 'b') + "\n", 8); });
    seed("dirs.zip", [](ZipArchive &a) {
        a.Add("d/");
        a.Add("d/e/");
        a.Add("d/e/f.txt", "deep\n", 8);
        a.Add("g.txt", "top\n");
    });
    seed("encrypted.zip", [](ZipArchive &a) {
        a.Add("s.txt", "secret text\n", 8).password = "pw";
        a.Add("p.txt", "plain\n");
    });
    seed("descriptor.zip", [](ZipArchive &a) {
        a.Add("dd.txt", "streamed\n", 8).bit3 = true;
        a.members.back().data_descriptor = true;
    });
    seed("stub_comment.zip", [](ZipArchive &a) {
        a.stub = "#!/bin/sh\nexit 0\n";
        a.comment = "an archive comment";
        a.Add("x.txt", "behind a stub\n");
    });
    seed("odd_names.zip", [](ZipArchive &a) {
        a.Add("empty.txt", "");
        a.Add("bin.dat", std::string("\0\1\2\3", 4));
        a.Add("\x83\x65\x83\x58\x83\x67.txt", "Shift_JIS name\n");
        a.Add(".profile", "dot\n");
    });
    seed("zeros.zip", [](ZipArchive &a) { a.Add("z.txt", std::string(20000, '\0'), 8); });
    seed("methods.zip", [](ZipArchive &a) {
        a.Add("r.txt", "raw\n", 8).raw = vtq::test::Deflate("raw\n", 9);
        a.Add("m.txt", "other method\n", 12);
    });
    vtq::test::WriteFile(dir + "/nested2.zip", Nested(2));
    vtq::test::WriteFile(dir + "/nested4.zip", Nested(4));
    return 0;
}
