#!/usr/bin/env python3
"""mutate.py - mutation testing of the filter and the stand-in host

Applies one small fault at a time to the C++ sources of src/ and host/,
rebuilds what links the changed file, runs the tests that use it and counts
the faults the suite catches.  It never touches the checkout it is run from:
it works in a detached git worktree of its own with its own CMake build,
both under the work folder (default build/mutate/ of the checkout).

  scripts/mutate.py --list                 the sample, without running it
  scripts/mutate.py                        run the sample (resumes)
  scripts/mutate.py --shard 1/2            every second mutant from the first
  scripts/mutate.py --first-kill           score only: a mutant's tests stop at
                                           the first failure
  scripts/mutate.py --only ID              run one mutant again, show its diff
  scripts/mutate.py --report [--merge F]   score, survivors, unique kills

A mutant is "killed" when a test fails or crashes with it, "timeout" when the
tests run past the limit (counted as killed), "survived" when every affected
test passes and "invalid" when it does not compile (not in the score).  Each
result is one JSON line in <work>/results.jsonl, keyed by commit and mutant
id, so an interrupted run picks up where it stopped.  Python 3 standard
library only.
"""

import argparse
import fcntl
import fnmatch
import hashlib
import json
import os
import random
import re
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SOURCE_DIRS = ("src", "host")
SOURCE_SUFFIXES = (".cpp", ".h")
NICE = ["nice", "-n", "10"]
LINK_RULE = re.compile(r"_LINKER__|^CMAKE_SYMLINK_")
OPERATORS = ("rel", "lit", "logic", "arith", "drop", "ret0", "negif")


class Interrupted(Exception):
    """SIGINT, SIGTERM or SIGHUP: unwind, so that the worktree is restored."""


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, text=True, **kw)


def git(repo, *args):
    return run(["git", "-C", str(repo), *args], capture_output=True).stdout


# ---------------------------------------------------------------- tokens
# Good enough for this code base: identifiers, numbers, string and character
# literals (raw strings included), punctuators; comments and preprocessor
# lines are dropped, so no mutant lands in them.

PUNCTUATORS = sorted(
    "<=> <<= >>= ->* ... :: -> ++ -- << >> <= >= == != && || += -= *= /= %= &= |= ^= .* "
    "{ } [ ] ( ) ; : ? , . + - * / % ^ & | ~ ! = < > #".split(), key=len, reverse=True)
NUMBER_RE = re.compile(r"\.?[0-9](?:[eEpP][+-]|[0-9a-zA-Z_.'])*")
IDENT_RE = re.compile(r"[A-Za-z_][A-Za-z_0-9]*")
INT_RE = re.compile(r"^(0[xX][0-9a-fA-F']+|0[bB][01']+|[0-9][0-9']*)([uUlLzZ]*)$")
STRING_PREFIX_RE = re.compile(r"(?:u8|u|U|L)?R?$")


class Token:
    __slots__ = ("kind", "text", "start", "end", "line", "col")

    def __init__(self, kind, text, start, end, line, col):
        self.kind, self.text, self.start, self.end = kind, text, start, end
        self.line, self.col = line, col

    def __repr__(self):
        return f"{self.kind}:{self.text!r}@{self.line}:{self.col}"


def compiler_macros():
    """Macros defined in the build this tool makes: the compiler's own and
    the project's (libdeflate is on)."""
    out = subprocess.run(["c++", "-dM", "-E", "-x", "c++", "/dev/null"], capture_output=True,
                         text=True).stdout
    return {line.split()[1] for line in out.splitlines() if line.startswith("#define ")} | {
        "VTQ_HAVE_LIBDEFLATE"}


def directive_active(line, defined):
    """Whether an #if/#ifdef/#ifndef line's condition holds; None when the
    condition is more than one macro test (then the code counts as built)."""
    m = re.match(r"#\s*(ifdef|ifndef|if|elif)\s+(.*)", line)
    kind, cond = m.group(1), m.group(2).split("//")[0].strip()
    if kind in ("ifdef", "ifndef"):
        return (cond in defined) == (kind == "ifdef")
    m = re.fullmatch(r"(!?)\s*defined\s*\(?\s*(\w+)\s*\)?", cond)
    if m:
        return (m.group(2) in defined) != bool(m.group(1))
    return None


def tokenize(text, defined=frozenset()):
    """The tokens of a source file that the build compiles: code in an #if
    branch that is off (given the macros in defined) gives no tokens."""
    tokens = []
    i, n = 0, len(text)
    line_starts = [0] + [m.end() for m in re.finditer("\n", text)]
    line = 1
    at_line_start = True
    branches = []           # per open #if: [active, some branch taken]

    def position(off):
        nonlocal line
        while line < len(line_starts) and line_starts[line] <= off:
            line += 1
        return line, off - line_starts[line - 1] + 1

    def directive(d):
        word = re.match(r"#\s*(\w*)", d).group(1)
        if word in ("if", "ifdef", "ifndef"):
            on = directive_active(d, defined)
            branches.append([on is not False, on is not False])
        elif word == "elif" and branches:
            on = directive_active(d, defined)
            branches[-1] = [not branches[-1][1] and on is not False,
                            branches[-1][1] or on is not False]
        elif word == "else" and branches:
            branches[-1] = [not branches[-1][1], True]
        elif word == "endif" and branches:
            branches.pop()

    while i < n:
        c = text[i]
        if c == "\n":
            at_line_start = True
            i += 1
            continue
        if c in " \t\r\f\v" or (c == "\\" and text.startswith("\n", i + 1)):
            i += 1 if c != "\\" else 2
            continue
        if text.startswith("//", i):
            j = text.find("\n", i)
            i = n if j < 0 else j
            continue
        if text.startswith("/*", i):
            j = text.find("*/", i + 2)
            i = n if j < 0 else j + 2
            continue
        if c == "#" and at_line_start:
            # A preprocessor line, with its continuations.
            j = i
            while (k := text.find("\n", j)) >= 0 and text[k - 1] == "\\":
                j = k + 1
            j = n if k < 0 else k
            directive(text[i:j].replace("\\\n", " "))
            i = j
            continue
        at_line_start = False
        start = i
        m = IDENT_RE.match(text, i)
        if c in "\"'" or (m and text.startswith('"', m.end()) and STRING_PREFIX_RE.match(m.group())):
            # A string or character literal, with its prefix.
            prefix = m.group() if c not in "\"'" else ""
            i += len(prefix)
            quote = text[i]
            if prefix.endswith("R"):
                close = text.find("(", i)
                delim = ")" + text[i + 1:close] + '"'
                end = text.find(delim, close)
                i = n if end < 0 else end + len(delim)
            else:
                i += 1
                while i < n and text[i] != quote:
                    i += 2 if text[i] == "\\" else 1
                i += 1
            kind = "char" if quote == "'" else "string"
        elif m:
            i = m.end()
            kind = "ident"
        elif (m := NUMBER_RE.match(text, i)):
            i = m.end()
            kind = "number"
        else:
            p = next((p for p in PUNCTUATORS if text.startswith(p, i)), c)
            i += len(p)
            kind = "punct"
        if all(active for active, _ in branches):
            ln, col = position(start)
            tokens.append(Token(kind, text[start:i], start, i, ln, col))
    return tokens


# --------------------------------------------------------------- mutants

KEYWORDS_BEFORE_EXPR = {"return", "case", "throw", "co_return", "sizeof", "else", "do"}
TYPE_KEYWORDS = {"const", "constexpr", "static", "auto", "unsigned", "signed", "int", "char",
                 "bool", "void", "long", "short", "float", "double", "struct", "class", "enum",
                 "union", "typename", "volatile", "inline", "thread_local", "extern", "using",
                 "typedef", "template", "namespace", "friend", "virtual", "explicit", "mutable",
                 "static_assert", "operator", "goto", "break", "continue", "default", "case",
                 "if", "for", "while", "switch", "do", "else", "return", "try", "catch",
                 "public", "private", "protected", "register", "alignas", "concept",
                 "requires", "decltype"}
TEMPLATE_OPENERS = {"static_cast", "reinterpret_cast", "const_cast", "dynamic_cast",
                    "bit_cast", "template"}
RELATIONAL = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
ARITH = {"+": "-", "-": "+", "+=": "-=", "-=": "+="}


def operand_end(tok):
    """True when tok can end an operand, so a following + or - is binary."""
    if tok.kind == "ident":
        return tok.text not in KEYWORDS_BEFORE_EXPR
    return tok.kind in ("number", "string", "char") or tok.text in (")", "]")


def template_brackets(tokens):
    """Indices of the < and > (and >>) tokens that are template brackets: a
    '<' after a name whose '>' comes before anything that would end a
    comparison ('(' is allowed after a cast)."""
    marks = set()
    for i, t in enumerate(tokens):
        if t.text != "<" or i == 0 or tokens[i - 1].kind != "ident":
            continue
        prev = tokens[i - 1].text
        if prev == "operator" or (i > 1 and tokens[i - 2].text == "operator"):
            continue
        depth, j, inner = 1, i + 1, []
        while j < len(tokens) and depth > 0:
            x = tokens[j].text
            if x == "<":
                depth += 1
                inner.append(j)
            elif x in (">", ">>"):
                depth -= 1 if x == ">" else 2
                inner.append(j)
            elif x in (";", "{", "}", "&&", "||", ")", "?") or (x == "(" and prev not in TEMPLATE_OPENERS):
                break
            j += 1
        if depth <= 0:
            marks.add(i)
            marks.update(inner)
    return marks


LOW_PRECEDENCE = {";", ",", "?", ":", "=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<<=",
                  ">>=", "return", "{", "}"}


def bracket_depths(tokens):
    """Each token's bracket depth; a bracket has the depth outside it."""
    depth, out = 0, []
    for t in tokens:
        if t.text in (")", "]", "}"):
            depth -= 1
        out.append(depth)
        if t.text in ("(", "[", "{"):
            depth += 1
    return out


def logic_flip(tokens, depths, i, text):
    """(start, end, replacement) that turns the && or || at tokens[i] into
    the other.  In a chain of them the new operator's grouping, the one C++
    gives it, is written out in parentheses: the compiler refuses a && within
    a || without them (-Wparentheses), and the meaning is the same."""
    d = depths[i]

    def edge(j, step):
        while 0 <= j < len(tokens) and depths[j] >= d and not (
                depths[j] == d and tokens[j].text in LOW_PRECEDENCE):
            j += step
        return j - step
    lo, hi = edge(i - 1, -1), edge(i + 1, 1)
    ops = [j for j in range(lo, hi + 1) if depths[j] == d and tokens[j].text in ("&&", "||")]
    new = "||" if tokens[i].text == "&&" else "&&"
    if len(ops) == 1 or any(tokens[j].text != tokens[i].text for j in ops):
        return tokens[i].start, tokens[i].end, new
    bounds = [lo] + [j + 1 for j in ops]            # first token of each operand
    ends = [j - 1 for j in ops] + [hi]              # last token of each operand
    k = ops.index(i)
    src = lambda a, b: text[tokens[a].start:tokens[b].end]
    wrap = lambda a, b: src(a, b) if a == b else "(" + src(a, b) + ")"
    if new == "&&":                                 # binds to its two neighbours
        return (tokens[bounds[k]].start, tokens[ends[k + 1]].end,
                "(" + src(bounds[k], ends[k]) + " && " + src(bounds[k + 1], ends[k + 1]) + ")")
    left, right = (wrap(bounds[0], ends[k]) if k else src(bounds[0], ends[0]),
                   wrap(bounds[k + 1], ends[-1]) if k + 1 < len(ops) else src(bounds[-1], ends[-1]))
    return tokens[lo].start, tokens[hi].end, left + " || " + right


def spans_of(tokens, opener):
    """Index ranges [i, j] from each `opener (` to its closing ')'."""
    out = []
    for i, t in enumerate(tokens):
        if t.text == opener and i + 1 < len(tokens) and tokens[i + 1].text == "(":
            depth = 0
            for j in range(i + 1, len(tokens)):
                depth += {"(": 1, ")": -1}.get(tokens[j].text, 0)
                if depth == 0:
                    out.append((i, j))
                    break
    return out


def int_literal(text):
    """(value, base, prefix, digits, suffix) of an integer literal, or None."""
    m = INT_RE.match(text)
    if not m:
        return None
    body, suffix = m.group(1).replace("'", ""), m.group(2)
    lower = body.lower()
    if lower.startswith(("0x", "0b")):
        base, prefix, digits = (16 if lower[1] == "x" else 2), body[:2], body[2:]
    elif len(body) > 1 and body.startswith("0"):
        base, prefix, digits = 8, "0", body[1:]
    else:
        base, prefix, digits = 10, "", body
    return int(digits, base), base, prefix, digits, suffix


def int_neighbour(text):
    """The replacement of an integer literal, or None: 0->1, 1->0, n->n-1 (a
    smaller size or limit is the fault that matters; a larger one is mostly
    harmless), written in the literal's base, case and suffix."""
    lit = int_literal(text)
    if lit is None:
        return None
    value, base, prefix, digits, suffix = lit
    s = {16: "{:x}", 2: "{:b}", 8: "{:o}", 10: "{:d}"}[base].format(1 if value == 0 else value - 1)
    if base == 16 and digits != digits.lower():
        s = s.upper()
    return prefix + s + suffix


def is_declaration(toks):
    """A statement's tokens (without ';') that declare something: a type,
    qualified and templated, then an identifier."""
    j = 0
    while j < len(toks) and toks[j].text == "::":
        j += 1
    while j < len(toks) and toks[j].kind == "ident":
        j += 1
        if j < len(toks) and toks[j].text == "<":
            depth = 0
            while j < len(toks):
                depth += {"<": 1, ">": -1, ">>": -2}.get(toks[j].text, 0)
                j += 1
                if depth <= 0:
                    break
        if j < len(toks) and toks[j].text == "::":
            j += 1
            continue
        break
    if j == 0:
        return False
    while j < len(toks) and toks[j].text in ("*", "&", "const", "&&"):
        j += 1
    return j < len(toks) and toks[j].kind == "ident"


def statement_lines(tokens):
    """(first, last) tokens of each line that holds exactly one simple
    statement: no declaration, no braces, ending in ';' and starting after
    ';', '{', '}' or a case label (so never the body of a braceless if)."""
    by_line = {}
    for i, t in enumerate(tokens):
        by_line.setdefault(t.line, []).append(i)
    out = []
    for idx in by_line.values():
        toks = [tokens[i] for i in idx]
        body = toks[:-1]
        if not body or toks[-1].text != ";" or any(t.text in ("{", "}", ";") for t in body):
            continue
        if sum({"(": 1, ")": -1, "[": 1, "]": -1}.get(t.text, 0) for t in body) != 0:
            continue
        prev = tokens[idx[0] - 1] if idx[0] > 0 else None
        if prev is None:
            continue
        if prev.text == ":":
            label = [t for t in tokens[max(0, idx[0] - 8):idx[0]] if t.line == prev.line]
            if label[0].text not in ("case", "default"):
                continue
        elif prev.text not in (";", "{", "}"):
            continue
        head = body[0].text
        if head == "return":
            if len(body) != 1:
                continue  # a value return: dropping it does not compile
        elif head in TYPE_KEYWORDS or (head != "delete" and is_declaration(body)):
            continue
        out.append((toks[0], toks[-1]))
    return out


def mutants_of(path, text, defined=frozenset()):
    """Every candidate mutant of one file, as dicts."""
    tokens = tokenize(text, defined)
    found = []

    def add(op, tok, start, end, repl):
        found.append({"file": path, "line": tok.line, "col": tok.col, "op": op,
                      "start": start, "end": end, "orig": text[start:end], "repl": repl})

    skip = set()
    for i, j in spans_of(tokens, "static_assert") + spans_of(tokens, "alignas"):
        skip.update(range(i, j + 1))
    brackets = template_brackets(tokens)
    depths = bracket_depths(tokens)
    for i, t in enumerate(tokens):
        if i in skip:
            continue
        prev = tokens[i - 1] if i > 0 else None
        if t.text in RELATIONAL and i not in brackets and not (prev and prev.text == "operator"):
            add("rel", t, t.start, t.end, RELATIONAL[t.text])
        elif t.kind == "number" and int_neighbour(t.text):
            add("lit", t, t.start, t.end, int_neighbour(t.text))
        elif t.text in ("&&", "||") and prev and operand_end(prev):
            add("logic", t, *logic_flip(tokens, depths, i, text))
        elif t.text in ARITH and prev and (len(t.text) == 2 or operand_end(prev)):
            add("arith", t, t.start, t.end, ARITH[t.text])
        elif t.text == "return" and i + 2 < len(tokens):
            # return CODE; / return N; / return -N;  ->  return 0;
            k = i + 1 + (tokens[i + 1].text == "-")
            e = tokens[k]
            if k + 1 < len(tokens) and tokens[k + 1].text == ";" and (
                    (e.kind == "ident" and e.text.startswith("VTQ_E_")) or
                    (e.kind == "number" and (int_literal(e.text) or (0,))[0] != 0)):
                add("ret0", t, tokens[i + 1].start, e.end, "0")
        elif t.text == "if" and i + 1 < len(tokens) and tokens[i + 1].text == "(":
            depth, j, semi = 0, i + 1, None
            while j < len(tokens):
                depth += {"(": 1, ")": -1}.get(tokens[j].text, 0)
                if depth == 1 and tokens[j].text == ";":
                    semi = j
                if depth == 0:
                    break
                j += 1
            first = (semi or i + 1) + 1
            cond = text[tokens[first].start:tokens[j - 1].end]
            add("negif", t, tokens[first].start, tokens[j - 1].end, "!(" + cond + ")")
    for first, last in statement_lines(tokens):
        add("drop", first, first.start, last.end, "")
    unique = {}
    for m in found:
        unique.setdefault((m["start"], m["end"], m["repl"]), m)
    return list(unique.values())


def mutant_id(m):
    key = "\0".join(str(m[k]) for k in ("file", "line", "col", "op", "orig", "repl"))
    return hashlib.sha1(key.encode()).hexdigest()[:10]


def enumerate_mutants(repo, sha):
    """Every candidate mutant of src/ and host/ at commit sha, sorted by file,
    line, column and operator, each with its stable id."""
    names = git(repo, "ls-tree", "-r", "--name-only", sha, "--", *SOURCE_DIRS).split()
    out, defined = [], compiler_macros()
    for name in sorted(n for n in names if n.endswith(SOURCE_SUFFIXES)):
        text = git(repo, "show", f"{sha}:{name}")
        out.extend(mutants_of(name, text, defined))
    out.sort(key=lambda m: (m["file"], m["line"], m["col"], OPERATORS.index(m["op"]), m["repl"]))
    for m in out:
        m["id"] = mutant_id(m)
    return out


def take_sample(candidates, size, seed):
    """A fixed-size sample (random.Random(seed)), back in candidate order."""
    if size >= len(candidates):
        return list(candidates)
    picked = sorted(random.Random(seed).sample(range(len(candidates)), size))
    return [candidates[i] for i in picked]


def one_line(s, width=60):
    s = " ".join(s.split())
    return s if len(s) <= width else s[:width - 3] + "..."


def describe(m):
    repl = m["repl"] if m["repl"] else "(line removed)"
    return f"{m['file']}:{m['line']}:{m['col']} {m['op']:5} {one_line(m['orig'])} -> {one_line(repl)}"


# ------------------------------------------------------- work tree, build

class Workspace:
    """The tool's own worktree and CMake build under the work folder."""

    def __init__(self, repo, work, sha, jobs):
        self.repo, self.work, self.sha, self.jobs = repo, work, sha, jobs
        self.tree = work / "tree"
        self.build = work / "build"
        self.results = work / "results.jsonl"
        self.pending = work / "applied.json"
        self.dirty = set()      # restored files whose objects are not rebuilt yet
        self.graph = None

    def prepare(self, reset):
        self.work.mkdir(parents=True, exist_ok=True)
        if not (self.tree / ".git").exists():
            git(self.repo, "worktree", "prune")
            git(self.repo, "worktree", "add", "--detach", str(self.tree), self.sha)
        head = git(self.tree, "rev-parse", "HEAD").strip()
        if head != self.sha:
            if not reset:
                sys.exit(f"mutate: {self.tree} is at {head[:12]}, not {self.sha[:12]}; "
                         "run with --reset to move it (results of other commits are kept)")
            git(self.tree, "checkout", "--quiet", "--force", "--detach", self.sha)
        self.restore_all()
        # The tests find the public corpus at ../shared/corpus from the source
        # tree; give the worktree the checkout's.
        shared = self.repo.parent / "shared"
        link = self.work / "shared"
        if shared.is_dir() and not link.exists():
            link.symlink_to(shared.resolve())
        # Warnings are errors, as in the presets: a mutant the compiler
        # rejects never reaches the tests (invalid, not counted).
        if not (self.build / "build.ninja").exists():
            run(["cmake", "-S", str(self.tree), "-B", str(self.build), "-G", "Ninja",
                 "--no-warn-unused-cli", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                 "-DVTQ_BUILD_TESTS=ON", "-DVTQ_BUILD_BENCHMARKS=OFF", "-DVTQ_BUILD_FUZZERS=OFF",
                 "-DVTQ_WERROR=ON"], stdout=subprocess.DEVNULL)

    def restore_all(self):
        """Undo whatever an interrupted run left applied (from git)."""
        if git(self.tree, "status", "--porcelain", "--untracked-files=no").strip():
            print("mutate: restoring the worktree's files from git")
            git(self.tree, "checkout", "--quiet", "--", ".")
        if self.pending.exists():
            self.dirty.add(json.loads(self.pending.read_text())["file"])
            self.pending.unlink()

    def ninja(self, targets, log):
        cmd = NICE + ["ninja", "-C", str(self.build), f"-j{self.jobs}", *targets]
        with open(log, "w") as out:
            return subprocess.run(cmd, stdout=out, stderr=subprocess.STDOUT).returncode == 0

    def build_all(self):
        log = self.work / "build.log"
        if not self.ninja([], log):
            sys.exit(f"mutate: the unmutated tree does not build; see {log}")
        self.dirty.clear()
        self.graph = BuildGraph(self.build)

    def apply(self, m):
        path = self.tree / m["file"]
        text = path.read_text()
        if text[m["start"]:m["end"]] != m["orig"]:
            raise RuntimeError(f"{m['file']}: source differs from the sample's commit")
        self.pending.write_text(json.dumps({"file": m["file"]}))
        path.write_text(text[:m["start"]] + m["repl"] + text[m["end"]:])
        return text

    def restore(self, m, original):
        (self.tree / m["file"]).write_text(original)
        self.dirty.add(m["file"])
        self.pending.unlink()


def ninja_paths(s):
    """Split a ninja path list, honouring $-escapes."""
    out, cur, i = [], [], 0
    while i < len(s):
        c = s[i]
        if c == "$" and i + 1 < len(s):
            cur.append(s[i + 1])
            i += 2
            continue
        if c == " ":
            if cur:
                out.append("".join(cur))
                cur = []
        else:
            cur.append(c)
        i += 1
    if cur:
        out.append("".join(cur))
    return out


class BuildGraph:
    """Who takes what in build.ninja (explicit, implicit and order-only
    inputs: the last carries add_dependencies, i.e. the end-to-end tests'
    use of ziptext and the filter), and the headers each object includes."""

    def __init__(self, build):
        self.build = build
        self.users = {}    # input path -> outputs of the edges that take it
        self.rule = {}     # output path -> rule
        text = (build / "build.ninja").read_text().replace("$\n", "")
        for line in text.splitlines():
            if not line.startswith("build "):
                continue
            m = re.match(r"build ((?:[^:$]|\$.)*):\s*(\S+)\s*(.*)$", line)
            outs, rule, rest = m.group(1), m.group(2), m.group(3)
            explicit = outs.split(" | ")[0]
            outs = [self.abs(p) for p in ninja_paths(outs) if p != "|"]
            ins = [self.abs(p) for p in ninja_paths(rest) if p not in ("|", "||")]
            for o in ninja_paths(explicit):
                self.rule[self.abs(o)] = rule
            for p in ins:
                self.users.setdefault(p, set()).update(outs)
        deps = subprocess.run(["ninja", "-C", str(build), "-t", "deps"], capture_output=True,
                              text=True).stdout
        obj = None
        for line in deps.splitlines():
            if line and not line.startswith(" "):
                obj = self.abs(line.split(":")[0])
            elif line.strip() and obj:
                self.users.setdefault(self.abs(line.strip()), set()).add(obj)

    def abs(self, p):
        return os.path.realpath(os.path.join(self.build, p))

    def dependents(self, source):
        seen, todo = set(), [os.path.realpath(source)]
        while todo:
            for o in self.users.get(todo.pop(), ()):
                if o not in seen:
                    seen.add(o)
                    todo.append(o)
        return seen

    def targets(self, dependents):
        """The executables and libraries among dependents: what to ask ninja
        for (never the install edges, which also take everything)."""
        return sorted(os.path.relpath(p, self.build) for p in dependents
                      if LINK_RULE.search(self.rule.get(p, "")))


# ----------------------------------------------------------------- tests

class TestGroup:
    """One process that runs tests: a GoogleTest executable (all its cases,
    or one part of them) or ctest over one of the other entries (fuzz
    replays, checks)."""

    def __init__(self, name, argv, cwd, paths, gtest, part=None):
        self.name, self.argv, self.cwd, self.paths, self.gtest = name, argv, cwd, paths, gtest
        self.key = name if part is None else f"{name}.{part}"


def split_groups(groups, case_times, times, parts):
    """Splits each GoogleTest executable that takes longer than 10 s into
    parts of about equal time (by its cases' unmutated times), so that the
    parts run side by side."""
    out = []
    for g in groups:
        cases = case_times.get(g.name, {})
        if not g.gtest or parts < 2 or times.get(g.name, 0) < 10 or len(cases) < parts:
            out.append(g)
            continue
        bins = [[0.0, []] for _ in range(parts)]
        for case, secs in sorted(cases.items(), key=lambda kv: (-kv[1], kv[0])):
            b = min(bins, key=lambda b: b[0])
            b[0] += secs
            b[1].append(case)
        for i, (_, names) in enumerate(bins, 1):
            argv = g.argv + ["--gtest_filter=" + ":".join(sorted(names))]
            out.append(TestGroup(g.name, argv, g.cwd, g.paths, True, i))
    return out


def test_groups(build):
    """The suite as ctest knows it, without the valgrind (memcheck) entries:
    one group per GoogleTest executable, one ctest run per other entry."""
    show = run(["ctest", "--test-dir", str(build), "--show-only=json-v1"],
               capture_output=True).stdout
    gtests, plain = {}, []
    for t in json.loads(show)["tests"]:
        props = {p["name"]: p["value"] for p in t.get("properties", [])}
        if "memcheck" in props.get("LABELS", []):
            continue
        cmd = t["command"]
        cwd = props.get("WORKING_DIRECTORY", str(build))
        if any(a.startswith("--gtest_filter=") for a in cmd[1:]):
            gtests.setdefault(os.path.realpath(cmd[0]), cwd)
        else:
            plain.append((t["name"], cmd))
    groups = []
    for exe, cwd in sorted(gtests.items()):
        short = Path(exe).name.removeprefix("vtq_").removesuffix("_tests")
        groups.append(TestGroup(short, [exe], cwd, {exe}, True))
    for name, cmd in plain:
        paths = {os.path.realpath(a.split("=", 1)[-1]) for a in cmd if "/" in a}
        groups.append(TestGroup("ctest:" + name, ["ctest", "--test-dir", str(build),
                                                  "--output-on-failure", "-R",
                                                  "^" + re.escape(name) + "$"],
                                str(build), paths, False))
    return groups


def affected(group, dependents, source):
    """Whether the group runs a binary that takes the mutated file, or is
    handed one of those binaries, or checks the folder the file is in."""
    if group.paths & dependents:
        return True
    return any(source.startswith(p + os.sep) for p in group.paths)


def gtest_failures(stdout, report, crashed):
    """Names of the failed cases: from the JSON report when the run finished,
    else from the console (with the case that was running when it died)."""
    if report.exists() and not crashed:
        data = json.loads(report.read_text(errors="replace"))
        return sorted(f"{s['name']}.{c['name']}" for s in data.get("testsuites", [])
                      for c in s.get("testsuite", []) if c.get("failures"))
    failed, running = set(), None
    for line in stdout.splitlines():
        if line.startswith("[ RUN      ] "):
            running = line[13:].strip()
        elif line.startswith(("[       OK ] ", "[  FAILED  ] ", "[  SKIPPED ] ")):
            name = line[13:].split(" (")[0].split(",")[0].strip()
            if line.startswith("[  FAILED  ] ") and name == running:
                failed.add(name)
            if name == running:
                running = None
    if crashed and running:
        failed.add(running)
    return sorted(failed)


def gtest_times(report):
    """{case name: seconds} of a finished GoogleTest run."""
    data = json.loads(report.read_text(errors="replace"))
    return {f"{s['name']}.{c['name']}": float(c.get("time", "0s").rstrip("s"))
            for s in data.get("testsuites", []) for c in s.get("testsuite", [])}


def default_signals():
    """In a test process: the stop signals' default actions.  A run started
    with nohup or as a background job ignores SIGHUP or SIGINT, and tests
    that stop the tool with them would fail now and then for it."""
    for sig in (signal.SIGINT, signal.SIGHUP, signal.SIGTERM, signal.SIGQUIT):
        signal.signal(sig, signal.SIG_DFL)


class Runner:
    """Runs groups of tests side by side, each in its own process group so
    that a timeout or Ctrl-C takes their children too."""

    def __init__(self, work, jobs):
        self.work, self.jobs = work, jobs
        self.live = []

    def remove_scratch(self):
        """Removes the tests' temporary folder, also one that a killed run
        left behind."""
        note = self.work / "scratch"
        if note.exists():
            # rm, not shutil.rmtree: a mutant can leave a 2000-level tree.
            subprocess.run(["rm", "-rf", note.read_text()])
            note.unlink()

    def kill_all(self):
        for p, *_ in self.live:
            try:
                os.killpg(p.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            p.wait()
        self.live = []

    def run(self, groups, limit, order=None, first_kill=False):
        """Returns ({group name: failed case names}, timed_out, seconds,
        {group name: {case: seconds}}).  A crash without a named case counts
        as 'name:crash', a timeout without one as 'name:timeout'.  With
        first_kill the run stops at the first group that fails: enough for
        the score, not for the report of what each test alone kills."""
        tmp = Path(tempfile.mkdtemp(prefix="vtq-mutate-", dir="/dev/shm"
                                    if os.path.isdir("/dev/shm") else None))
        (self.work / "scratch").write_text(str(tmp))
        # Every temporary file of the tests (and of the fuzz replays, which
        # keep their work folder when they fail) lands in one folder, removed
        # after the mutant whatever the tests left behind.
        env = dict(os.environ, TMPDIR=str(tmp), VTQ_FUZZ_TMP=str(tmp))
        queue = sorted(groups, key=lambda g: -(order or {}).get(g.key, 0))
        failures, names, timed_out = {}, {}, False
        start = time.monotonic()
        deadline = start + limit
        try:
            while queue or self.live:
                while queue and len(self.live) < self.jobs:
                    g = queue.pop(0)
                    out = self.work / "logs" / (g.key.replace(":", "_") + ".out")
                    out.parent.mkdir(exist_ok=True)
                    report = out.with_suffix(".json")
                    report.unlink(missing_ok=True)
                    argv = g.argv + ([f"--gtest_output=json:{report}"] if g.gtest else
                                     ["--timeout", str(int(limit) + 1)])
                    fh = open(out, "w")
                    p = subprocess.Popen(NICE + argv, cwd=g.cwd, env=env, stdout=fh,
                                         stderr=subprocess.STDOUT, start_new_session=True,
                                         preexec_fn=default_signals)
                    self.live.append((p, g, out, report, fh))
                time.sleep(0.05)
                if time.monotonic() > deadline:
                    timed_out = True
                    for p, g, out, report, fh in self.live:
                        fh.close()
                        found = gtest_failures(out.read_text(errors="replace"), report, True) if g.gtest else []
                        failures.setdefault(g.name, []).extend(found or [f"{g.name}:timeout"])
                    self.kill_all()
                    break
                for entry in list(self.live):
                    p, g, out, report, fh = entry
                    if p.poll() is None:
                        continue
                    self.live.remove(entry)
                    fh.close()
                    crashed = p.returncode not in (0, 1)
                    if g.gtest:
                        found = gtest_failures(out.read_text(errors="replace"), report, crashed)
                        if report.exists() and not crashed:
                            names.setdefault(g.name, {}).update(gtest_times(report))
                        if p.returncode != 0 and not found:
                            found = [f"{g.name}:crash"]
                    else:
                        found = [] if p.returncode == 0 else [g.name]
                        names[g.name] = {g.name: 0.0}
                    if found:
                        failures.setdefault(g.name, []).extend(found)
                if first_kill and failures:
                    break
        finally:
            self.kill_all()
            self.remove_scratch()
        return failures, timed_out, time.monotonic() - start, names


# ------------------------------------------------------------- the run

def qualified(group, case):
    """A case's name in reports: 'unit:Suite.Case', 'ctest:name'."""
    return case if group.startswith("ctest:") or case.startswith(group + ":") \
        else f"{group}:{case}"


def load_results(paths, sha):
    """The last result of each mutant at commit sha, from results files."""
    out = {}
    for path in paths:
        if not Path(path).exists():
            continue
        for line in Path(path).read_text().splitlines():
            if line.strip():
                r = json.loads(line)
                if r.get("rev") == sha:
                    out[r["id"]] = r
    return out


def baseline(ws, runner, groups, remeasure):
    """Times the unmutated suite once per commit: each group alone (its cases
    and their times), then all of it side by side as a mutant runs it.  The
    default per-mutant time limit is a multiple of the latter."""
    path = ws.work / "baseline.json"
    if path.exists() and not remeasure:
        data = json.loads(path.read_text())
        if data.get("rev") == ws.sha:
            return data, split_groups(groups, data["cases"], data["times"], runner.jobs)
    print("mutate: timing the unmutated suite ...", flush=True)
    times, cases, failing = {}, {}, {}
    for g in groups:
        fails, timed_out, secs, found = runner.run([g], 3600)
        times[g.name] = round(secs, 1)
        cases.update(found)
        if fails or timed_out:
            failing[g.name] = fails.get(g.name, ["timeout"])
    parts = split_groups(groups, cases, times, runner.jobs)
    fails, _, wall, found = runner.run(parts, 3600, times)
    for g in parts:
        if g.key != g.name:
            times[g.key] = round(sum(found.get(g.name, {}).get(c, 0) for c in
                                     g.argv[-1].split("=", 1)[1].split(":")), 1)
    data = {"rev": ws.sha, "times": times, "wall": round(wall, 1), "cases": cases,
            "failing": failing}
    path.write_text(json.dumps(data, indent=1))
    return data, parts


def run_mutant(ws, runner, groups, base, m, limit, first_kill=False):
    started = time.monotonic()
    source = str(ws.tree / m["file"])
    deps = ws.graph.dependents(source)
    wanted = set(deps)
    for f in ws.dirty:
        wanted |= ws.graph.dependents(str(ws.tree / f))
    if not ws.graph.targets(deps):
        raise RuntimeError(f"{m['file']} is in no executable or library of the build")
    original = ws.apply(m)
    try:
        ok = ws.ninja(ws.graph.targets(wanted), ws.work / "mutant-build.log")
        built = time.monotonic()
        result = {"id": m["id"], "rev": ws.sha, "file": m["file"], "line": m["line"],
                  "col": m["col"], "op": m["op"], "orig": m["orig"], "repl": m["repl"],
                  "build_s": round(built - started, 1)}
        if not ok:
            log = (ws.work / "mutant-build.log").read_text(errors="replace")
            if "\nFAILED: " not in log:
                raise RuntimeError(f"ninja failed without a failed edge; see {ws.work}/mutant-build.log")
            err = next((l for l in log.splitlines() if "error:" in l), "")
            result.update(status="invalid", killers=[], test_s=0.0, note=one_line(err, 200))
            return result
        ws.dirty.clear()
        mine = [g for g in groups if affected(g, deps, os.path.realpath(source))]
        fails, timed_out, secs, _ = runner.run(mine, limit, base["times"], first_kill)
        killers = sorted(qualified(g, c) for g, cs in fails.items() for c in cs
                         if c not in base["failing"].get(g, []))
        status = "timeout" if timed_out else "killed" if killers else "survived"
        result.update(status=status, killers=killers, test_s=round(secs, 1),
                      groups=[g.name for g in mine])
        return result
    finally:
        ws.restore(m, original)


def report(sample, results, base, out=sys.stdout, without=()):
    done = [results[m["id"]] for m in sample if m["id"] in results]
    count = {s: sum(r["status"] == s for r in done)
             for s in ("killed", "timeout", "survived", "invalid")}
    scored = count["killed"] + count["timeout"] + count["survived"]
    p = lambda *a: print(*a, file=out)
    p(f"mutants: {len(done)} of {len(sample)} in the sample have results")
    if scored:
        caught = count["killed"] + count["timeout"]
        p(f"score: {100.0 * caught / scored:.1f}% = {caught} caught / {scored} "
          f"({count['killed']} killed, {count['timeout']} timed out, {count['survived']} "
          f"survived); {count['invalid']} invalid (did not compile, not counted)")
    ran = [r for r in done if r["status"] != "invalid"]
    if done:
        total = [r["build_s"] + r["test_s"] for r in done]
        p(f"cost per mutant: build median {statistics.median(r['build_s'] for r in done):.1f} s, "
          f"tests median {statistics.median(r['test_s'] for r in ran) if ran else 0:.1f} s, "
          f"mean total {statistics.mean(total):.1f} s, sum {sum(total) / 60:.1f} min")
    by_op = {}
    for r in done:
        by_op.setdefault(r["op"], {"caught": 0, "survived": 0, "invalid": 0})
        k = "caught" if r["status"] in ("killed", "timeout") else r["status"]
        by_op[r["op"]][k] += 1
    if by_op:
        p("by operator: " + ", ".join(f"{op} {c['caught']}/{c['caught'] + c['survived']}"
                                      + (f" ({c['invalid']} invalid)" if c["invalid"] else "")
                                      for op, c in sorted(by_op.items())))
    survivors = [r for r in done if r["status"] == "survived"]
    p(f"\nsurvivors ({len(survivors)}):")
    for r in survivors:
        p(f"  {r['id']}  {describe(r)}")
    unique = {}
    for r in ran:
        if len(r["killers"]) == 1 and not r.get("first_kill"):
            unique.setdefault(r["killers"][0], []).append(r["id"])
    p(f"\ntests that alone kill a mutant ({len(unique)}):")
    for name, ids in sorted(unique.items(), key=lambda kv: (-len(kv[1]), kv[0])):
        p(f"  {len(ids):3}  {name}  ({' '.join(ids)})")
    if base:
        # Grouped by test, the instances of a parameterised test together.
        cases = [qualified(g, c) for g, cs in base["cases"].items() for c in cs]
        test_of = lambda c: c.rsplit("/", 1)[0] if "/" in c.split(".", 1)[-1] else c
        total, none = {}, {}
        for c in cases:
            total[test_of(c)] = total.get(test_of(c), 0) + 1
            if c not in unique:
                none[test_of(c)] = none.get(test_of(c), 0) + 1
        p(f"\ntests that kill no mutant alone: {sum(none.values())} of {len(cases)} cases "
          "(instances without a unique kill / instances):")
        for t, k in sorted(none.items()):
            p(f"  {t}" + (f"  {k}/{total[t]}" if total[t] > 1 else ""))
    if without:
        # What a cut would cost, from the runs that recorded every failing
        # case: the caught mutants whose every killer matches a pattern.
        full = [r for r in ran if r["status"] != "survived" and not r.get("first_kill")]
        gone = lambda k: any(fnmatch.fnmatchcase(k, w) for w in without)
        lost = [r["id"] for r in full if all(gone(k) for k in r["killers"])]
        p(f"\nwithout {' '.join(without)}: {len(lost)} of {len(full)} caught mutants "
          f"(full runs) keep no killer" + (f": {' '.join(lost)}" if lost else ""))


def parse_shard(s):
    m = re.fullmatch(r"(\d+)/(\d+)", s or "")
    if not m or not 1 <= int(m.group(1)) <= int(m.group(2)):
        raise argparse.ArgumentTypeError("--shard takes K/N with 1 <= K <= N")
    return int(m.group(1)), int(m.group(2))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                 formatter_class=argparse.RawDescriptionHelpFormatter,
                                 epilog=__doc__.split("\n\n", 1)[1])
    ap.add_argument("--repo", type=Path, help="the checkout (default: the one holding the "
                    "current directory)")
    ap.add_argument("--rev", default="HEAD", help="commit to mutate (default HEAD)")
    ap.add_argument("--work", type=Path, help="work folder (default <repo>/build/mutate)")
    ap.add_argument("--reset", action="store_true", help="move an existing worktree to --rev")
    ap.add_argument("--sample", type=int, default=300, help="mutants in the sample (300)")
    ap.add_argument("--seed", type=int, default=1, help="seed of the sample (1)")
    ap.add_argument("--shard", type=parse_shard, help="K/N: every N-th mutant from the K-th")
    ap.add_argument("--timeout", type=float, help="seconds of tests per mutant (default: 3 "
                    "times the unmutated suite's, plus 10)")
    ap.add_argument("--jobs", type=int, default=2, help="ninja jobs and test processes (2)")
    ap.add_argument("--first-kill", action="store_true", help="stop a mutant's tests at the "
                    "first failure: the same score in less time, but the report of the "
                    "mutants each test alone kills then covers only full runs")
    ap.add_argument("--max", type=int, help="stop after this many new mutants")
    ap.add_argument("--list", action="store_true", help="print the sample and stop")
    ap.add_argument("--only", action="append", metavar="ID", help="run this mutant (again)")
    ap.add_argument("--report", action="store_true", help="print the report and stop")
    ap.add_argument("--without", action="append", default=[], metavar="PATTERN",
                    help="with --report: the caught mutants that would keep no killer if the "
                    "cases matching these patterns (fnmatch, e.g. 'unit:Oscomm.*') were gone")
    ap.add_argument("--merge", action="append", default=[], metavar="FILE",
                    help="also read these results files (other shards' work folders)")
    ap.add_argument("--remeasure", action="store_true", help="time the unmutated suite again")
    args = ap.parse_args()
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)  # --list | head

    repo = (args.repo or Path(git(Path.cwd(), "rev-parse", "--show-toplevel").strip())).resolve()
    repo = Path(git(repo, "rev-parse", "--show-toplevel").strip())
    sha = git(repo, "rev-parse", "--verify", args.rev + "^{commit}").strip()
    work = (args.work or repo / "build" / "mutate").resolve()

    candidates = enumerate_mutants(repo, sha)
    sample = take_sample(candidates, args.sample, args.seed)
    if args.shard:
        k, n = args.shard
        sample = sample[k - 1::n]
    if args.only:
        by_id = {m["id"]: m for m in candidates}
        missing = [i for i in args.only if i not in by_id]
        if missing:
            sys.exit(f"mutate: no mutant {' '.join(missing)} at {sha[:12]}")
        sample = [by_id[i] for i in args.only]
    results_files = [work / "results.jsonl", *args.merge]
    base_path = work / "baseline.json"
    base = json.loads(base_path.read_text()) if base_path.exists() else None
    if base and base.get("rev") != sha:
        base = None

    if args.list:
        ops = {}
        for m in candidates:
            ops[m["op"]] = ops.get(m["op"], 0) + 1
        print(f"{len(candidates)} candidate mutants at {sha[:12]} ("
              + ", ".join(f"{op} {ops.get(op, 0)}" for op in OPERATORS) + f"); "
              f"sample of {len(sample)}, seed {args.seed}:")
        for m in sample:
            print(f"{m['id']}  {describe(m)}")
        return 0
    if args.report:
        report(sample, load_results(results_files, sha), base, without=args.without)
        return 0

    def on_signal(signum, _frame):
        raise Interrupted(signal.Signals(signum).name)
    # Unwind on each of these, so that the worktree is restored; a signal
    # ignored from the start (nohup, a background job) stays ignored.
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        if signal.getsignal(sig) != signal.SIG_IGN:
            signal.signal(sig, on_signal)

    # Two runs in one work folder would undo each other's mutants.
    work.mkdir(parents=True, exist_ok=True)
    lock = open(work / "lock", "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        sys.exit(f"mutate: another run is using {work}; give each shard its own --work")
    ws = Workspace(repo, work, sha, args.jobs)
    runner = Runner(work, args.jobs)
    try:
        ws.prepare(args.reset)
        runner.remove_scratch()
        print(f"mutate: building {ws.build} at {sha[:12]} ...", flush=True)
        ws.build_all()
        base, groups = baseline(ws, runner, test_groups(ws.build), args.remeasure)
        for g, fails in base["failing"].items():
            print(f"mutate: warning: {g} fails unmutated ({one_line(' '.join(fails), 200)}); "
                  "those cases kill nothing")
        limit = args.timeout or 3 * base["wall"] + 10
        done = load_results([ws.results], sha)
        todo = [m for m in sample if args.only or m["id"] not in done]
        print(f"mutate: {len(todo)} mutants to run" + ("" if args.only else
              f" ({len(sample) - len(todo)} of the {'shard' if args.shard else 'sample'} done)")
              + f"; unmutated suite {base['wall']:.0f} s, limit {limit:.0f} s", flush=True)
        if args.max is not None:
            todo = todo[:args.max]
        for n, m in enumerate(todo, 1):
            r = run_mutant(ws, runner, groups, base, m, limit, args.first_kill)
            if args.first_kill:
                r["first_kill"] = True
            with open(ws.results, "a") as f:
                f.write(json.dumps(r) + "\n")
            kill = f" by {', '.join(r['killers'][:3])}" + ("..." if len(r["killers"]) > 3 else "") \
                if r["killers"] else ""
            print(f"[{n}/{len(todo)}] {r['id']} {r['status']:8} {r['build_s']:5.1f}+"
                  f"{r['test_s']:5.1f} s  {describe(m)}{kill}", flush=True)
            if args.only:
                text = (ws.tree / m["file"]).read_text()
                mutated = text[:m["start"]] + m["repl"] + text[m["end"]:]
                with tempfile.NamedTemporaryFile("w", suffix=".cpp") as a:
                    a.write(mutated)
                    a.flush()
                    diff = subprocess.run(["diff", "-u", "--label", "a/" + m["file"], "--label",
                                           "b/" + m["file"], str(ws.tree / m["file"]), a.name],
                                          capture_output=True, text=True)
                print(diff.stdout, end="")
                if r.get("note"):
                    print(r["note"])
    except (KeyboardInterrupt, Interrupted) as e:
        print(f"\nmutate: stopped ({e or 'SIGINT'}); the worktree is restored", file=sys.stderr)
        return 130
    finally:
        runner.kill_all()
    print()
    report(take_sample(candidates, args.sample, args.seed) if not args.only else sample,
           load_results(results_files, sha), base)
    return 0


if __name__ == "__main__":
    sys.exit(main())
