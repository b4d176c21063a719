#!/usr/bin/env python3
"""Lists the longest C++ function definitions of the project.

Usage:
  scripts/function_lengths.py [--min N] [--top K] [--fail-over N] [PATH ...]

PATH is a file or a folder (searched for *.cpp and *.h); without one, every tracked C++
file of the project except tests/, bench/ and fuzz targets. Each row gives the length, the
place and the name:

  112  explorer/tree_folder_reader.cpp:314  ReadFolderChildren

The length counts every line from the one that starts the definition (the line of the
function's name, or of a template<> above it) to the line of its closing brace, comments
and blank lines included: what a reader has to take in. Lambdas and local classes count
towards the function that holds them; member functions defined inside a class body count
on their own.

--min N        only functions of at least N lines (default 60)
--top K        at most K rows (default: all)
--fail-over N  exit status 1 when a function is longer than N lines and the comment just
               above its definition does not say why (a comment line containing "long:"),
               e.g. "// long: one switch over every command id, split it and the table goes"

The scanner knows comments, string and character literals (raw strings too), preprocessor
lines, namespaces, classes, enums and brace initialisers; it does not expand macros, so a
macro that opens a brace without closing it can confuse the rows after it.
"""

import argparse
import os
import re
import subprocess
import sys

IDENT = re.compile(r"[A-Za-z_~][A-Za-z_0-9]*")


def blank_non_code(text):
    """Replaces comments, literals and preprocessor lines by spaces; keeps newlines.

    Returns (code, comment_lines): the cleaned text and the set of 1-based line numbers
    that hold a comment together with its text, for the "long:" reasons.
    """
    out = []
    comments = {}
    i = 0
    n = len(text)
    line = 1
    at_line_start = True

    def keep_newlines(s):
        return "".join(c if c == "\n" else " " for c in s)

    while i < n:
        c = text[i]
        if at_line_start and c in " \t":
            out.append(c)
            i += 1
            continue
        if at_line_start and c == "#":
            # A preprocessor line, with its continuations.
            j = i
            while j < n:
                k = text.find("\n", j)
                if k < 0:
                    j = n
                    break
                if k > 0 and text[k - 1] == "\\":
                    j = k + 1
                    continue
                j = k
                break
            chunk = text[i:j]
            out.append(keep_newlines(chunk))
            line += chunk.count("\n")
            i = j
            continue
        at_line_start = False
        if c == "\n":
            out.append(c)
            line += 1
            i += 1
            at_line_start = True
            continue
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            comments.setdefault(line, []).append(text[i:j])
            out.append(" " * (j - i))
            i = j
            continue
        if text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            chunk = text[i:j]
            for offset, part in enumerate(chunk.split("\n")):
                comments.setdefault(line + offset, []).append(part)
            out.append(keep_newlines(chunk))
            line += chunk.count("\n")
            i = j
            continue
        raw = re.match(r'(?:u8|u|U|L)?R"([^()\\ \t\n]{0,16})\(', text[i:i + 24])
        if raw and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            end = text.find(")" + raw.group(1) + '"', i + raw.end())
            j = n if end < 0 else end + len(raw.group(1)) + 2
            chunk = text[i:j]
            out.append(keep_newlines(chunk))
            line += chunk.count("\n")
            i = j
            continue
        if c in "\"'":
            # A digit separator (1'000'000) is no character literal.
            if c == "'" and i > 0 and text[i - 1].isalnum() and i + 1 < n and text[i + 1].isalnum():
                if re.match(r"[0-9A-Fa-fxXbB']", text[i - 1]):
                    out.append(" ")
                    i += 1
                    continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + " " * (j - i - 2) + c if j - i >= 2 else " " * (j - i))
            i = j
            continue
        out.append(c)
        i += 1
    return "".join(out), comments


def function_name(head):
    """The qualified name of a definition head, or None when the head defines no function."""
    text = " ".join(head.split())
    text = re.sub(r"^(template\s*<[^{;]*?>\s*)+", "", text)
    # Attributes like [[nodiscard]].
    text = re.sub(r"\[\[.*?\]\]", " ", text)
    first = text.split(" ", 1)[0] if text else ""
    if first in ("namespace", "class", "struct", "union", "enum", "extern", "typedef", "using"):
        return None
    if "(" not in text:
        return None
    # The name is the last identifier (with its qualification) before the first "(" at
    # depth 0 of the head; "operator" names keep their symbol.
    depth = 0
    for pos, ch in enumerate(text):
        if ch == "<":
            depth += 1
        elif ch == ">" and depth > 0:
            depth -= 1
        elif ch == "(" and depth == 0:
            before = text[:pos].rstrip()
            op = re.search(r"((?:[A-Za-z_][A-Za-z_0-9]*\s*(?:<[^()]*>)?\s*::\s*)*operator\s*"
                           r"(?:\(\s*\)|[^\s(]+|\s+[A-Za-z_][A-Za-z_0-9 :*&<>]*))$", before)
            if op:
                return re.sub(r"\s+", "", op.group(1)).replace("operator", "operator ")
            m = re.search(r"((?:[A-Za-z_~][A-Za-z_0-9]*\s*(?:<[^()]*>)?\s*::\s*)*~?"
                          r"[A-Za-z_][A-Za-z_0-9]*)$", before)
            if not m:
                return None
            name = re.sub(r"\s+", "", m.group(1))
            if "=" in text[:pos]:
                return None  # an initialiser such as "auto x = Make(...) {" is no definition
            if name in ("if", "for", "while", "switch", "catch", "return", "sizeof", "decltype",
                        "alignof", "static_assert"):
                return None
            return name
    return None


def is_member_init_brace(head):
    """Whether a "{" after this function head opens a member's brace initialiser."""
    depth = 0
    for pos, ch in enumerate(head):
        if ch == "(":
            depth += 1
        elif ch == ")":
            depth -= 1
            if depth == 0:
                rest = head[pos + 1:].strip()
                rest = re.sub(r"^(const|noexcept|override|final|mutable|\s)*", "", rest)
                if not (rest.startswith(":") and not rest.startswith("::")):
                    return False
                return re.search(r"[A-Za-z_0-9>]$", head.rstrip()) is not None
    return False


def scan(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    code, comments = blank_non_code(text)
    results = []
    # Scopes: "ns" (namespace, class, extern block: definitions may start here, and a class
    # names its members), "body" (a function), "data" (an initialiser, an enum), "init" (a
    # member's brace initialiser inside a constructor's head), "inner" (any brace inside the
    # others). Nothing inside a non-"ns" scope is a definition of its own.
    stack = []
    head_start = 0
    line = 1
    head_line = None
    for i, c in enumerate(code):
        if c == "\n":
            line += 1
            continue
        in_ns = all(entry[0] == "ns" for entry in stack)
        if c == "{":
            if not in_ns:
                stack.append(("inner", None, line))
                continue
            head = code[head_start:i]
            stripped = " ".join(head.split())
            start_line = head_line if head_line is not None else line
            name = function_name(head)
            scope = re.match(r"^(?:template\s*<.*>\s*)?(namespace|class|struct|union|extern)\b"
                             r"\s*(?:\[\[.*?\]\]\s*)?([A-Za-z_][A-Za-z_0-9:]*)?", stripped)
            if scope and "=" not in stripped and (scope.group(1) != "extern" or "(" not in
                                                  re.sub(r'extern\s*"[^"]*"', "", stripped)):
                kind = scope.group(1)
                owner = scope.group(2) if kind in ("class", "struct", "union") else None
                stack.append(("ns", owner, start_line))
            elif name and is_member_init_brace(stripped):
                # "Foo() : m_x{1}, m_y(2) {": the first braces initialise a member.
                stack.append(("init", None, line))
                continue
            elif name:
                owners = [entry[1] for entry in stack if entry[0] == "ns" and entry[1]]
                if "::" not in name and owners:
                    name = "::".join(owners) + "::" + name
                stack.append(("body", name, start_line))
            else:
                stack.append(("data", None, start_line))
            head_start = i + 1
            head_line = None
            continue
        if c == "}":
            if not stack:
                continue
            kind, name, start_line = stack.pop()
            if kind == "body":
                results.append((line - start_line + 1, start_line, name))
            if kind != "init" and all(entry[0] == "ns" for entry in stack):
                head_start = i + 1
                head_line = None
            continue
        if not in_ns:
            continue
        if c == ";":
            head_start = i + 1
            head_line = None
            continue
        if c == ":" and head_line is not None:
            # "public:" and friends end a head inside a class.
            prefix = " ".join(code[head_start:i].split())
            if prefix in ("public", "private", "protected", "signals", "public slots",
                          "private slots", "protected slots", "Q_SIGNALS", "Q_SLOTS"):
                head_start = i + 1
                head_line = None
                continue
        if head_line is None and not c.isspace():
            head_line = line
    return results, comments


def reason_above(comments, start_line):
    """Whether a comment in the lines just above start_line gives a "long:" reason."""
    at = start_line - 1
    while at in comments:
        if any("long:" in part for part in comments[at]):
            return True
        at -= 1
    return any("long:" in part for part in comments.get(start_line, []))


def project_files(root):
    try:
        listed = subprocess.run(["git", "ls-files", "*.cpp", "*.h"], cwd=root, check=True,
                                capture_output=True, text=True).stdout.split()
    except (OSError, subprocess.CalledProcessError):
        listed = []
        for folder, dirs, files in os.walk(root):
            dirs[:] = [d for d in dirs if not d.startswith((".", "build"))]
            for name in files:
                if name.endswith((".cpp", ".h")):
                    listed.append(os.path.relpath(os.path.join(folder, name), root))
    return [p for p in listed if not p.startswith(("tests/", "bench/")) and "fuzz" not in p]


def expand(paths):
    files = []
    for p in paths:
        if os.path.isdir(p):
            for folder, dirs, names in os.walk(p):
                dirs[:] = sorted(d for d in dirs if not d.startswith("."))
                files += [os.path.join(folder, n) for n in sorted(names)
                          if n.endswith((".cpp", ".h"))]
        else:
            files.append(p)
    return files


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter,
                                     epilog=__doc__.split("\n", 1)[1])
    parser.add_argument("paths", nargs="*")
    parser.add_argument("--min", type=int, default=60)
    parser.add_argument("--top", type=int, default=0)
    parser.add_argument("--fail-over", type=int, default=0)
    args = parser.parse_args()
    root = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    if args.paths:
        files = expand(args.paths)
    else:
        files = [os.path.join(root, p) for p in project_files(root)]
    rows = []
    unexplained = []
    for path in files:
        try:
            results, comments = scan(path)
        except OSError as e:
            print(f"{path}: {e.strerror}", file=sys.stderr)
            return 2
        shown = os.path.relpath(path, root) if path.startswith(root) else path
        for length, start, name in results:
            if length >= args.min:
                rows.append((length, shown, start, name))
            if args.fail_over and length > args.fail_over and not reason_above(comments, start):
                unexplained.append((length, shown, start, name))
    rows.sort(key=lambda r: (-r[0], r[1], r[2]))
    if args.top:
        rows = rows[:args.top]
    for length, shown, start, name in rows:
        print(f"{length:5d}  {shown}:{start}  {name}")
    if unexplained:
        print(f"{len(unexplained)} function(s) over {args.fail_over} lines without a "
              f"\"long:\" comment above them", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
