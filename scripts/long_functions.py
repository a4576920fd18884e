#!/usr/bin/env python3
"""List C++ functions longer than a limit (default 80 lines).

Usage: scripts/long_functions.py [--limit N] [--all] [files or directories...]

A function's length is counted from the first line of its declaration to the
line of its closing brace.  Comments, string and character literals (raw strings
included) are blanked before the scan, so braces inside them do not count.
Lambdas and local classes count as part of the function that holds them.
Brace-initialised tables (`... = { ... }`) are data, not functions.
"""
import os
import re
import sys

EXTS = ('.cpp', '.h', '.hpp', '.cc')


def blank(src):
    """Return src with comments and literals replaced by spaces (newlines kept)."""
    out = []
    i, n = 0, len(src)
    while i < n:
        c = src[i]
        if src.startswith('//', i):
            j = src.find('\n', i)
            j = n if j < 0 else j
            out.append(' ' * (j - i))
            i = j
        elif src.startswith('/*', i):
            j = src.find('*/', i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r'[^\n]', ' ', src[i:j]))
            i = j
        elif c == 'R' and src.startswith('R"', i) and (i == 0 or not (src[i - 1].isalnum() or src[i - 1] == '_')
                                                      or src[i - 1] in 'u8LU'):
            m = re.match(r'R"([^(\s]{0,16})\(', src[i:])
            if not m:
                out.append(c)
                i += 1
                continue
            end = ')' + m.group(1) + '"'
            j = src.find(end, i + m.end())
            j = n if j < 0 else j + len(end)
            out.append('""' + re.sub(r'[^\n]', ' ', src[i + 2:j]))
            i = j
        elif c in '"\'':
            # a digit separator (1'000) is not a character literal
            if c == "'" and i > 0 and src[i - 1].isalnum() and re.match(r"[0-9a-fA-F]", src[i + 1:i + 2] or ' ') \
                    and re.search(r"\b0[xXbB]?[0-9a-fA-F']*$", src[max(0, i - 40):i]):
                out.append(' ')
                i += 1
                continue
            j = i + 1
            while j < n and src[j] != c and src[j] != '\n':
                j += 2 if src[j] == '\\' else 1
            j = min(j + 1, n)
            out.append(c + ' ' * (j - i - 2) + c if j - i >= 2 else src[i:j])
            i = j
        elif c == '#' and (i == 0 or src[src.rfind('\n', 0, i) + 1:i].strip() == ''):
            # preprocessor line (with continuations)
            j = i
            while True:
                k = src.find('\n', j)
                if k < 0:
                    k = n
                    break
                if src[k - 1] == '\\':
                    j = k + 1
                    continue
                break
            out.append(re.sub(r'[^\n]', ' ', src[i:k]))
            i = k
        else:
            out.append(c)
            i += 1
    return ''.join(out)


SCOPE_KW = re.compile(r'\b(namespace|class|struct|union|enum)\b|\bextern\s+""')


def top_level(text):
    """text with everything inside (), [], <> template args? -- only () and [] removed."""
    depth = 0
    res = []
    for ch in text:
        if ch in '([':
            depth += 1
            res.append(' ')
        elif ch in ')]':
            depth = max(0, depth - 1)
            res.append(' ')
        else:
            res.append(ch if depth == 0 else ' ')
    return ''.join(res)


def match_brace(s, i):
    depth = 0
    n = len(s)
    while i < n:
        if s[i] == '{':
            depth += 1
        elif s[i] == '}':
            depth -= 1
            if depth == 0:
                return i
        i += 1
    return n - 1


def functions(src):
    """Yield (name, first_line, last_line) for each function body in src."""
    s = blank(src)
    line_of = []
    ln = 1
    for ch in s:
        line_of.append(ln)
        if ch == '\n':
            ln += 1

    def scan(start, end):
        header_start = start
        i = start
        while i < end:
            ch = s[i]
            if ch in ';}':
                header_start = i + 1
                i += 1
                continue
            if ch != '{':
                i += 1
                continue
            header = s[header_start:i]
            top = top_level(header)
            close = match_brace(s, i)
            if '(' not in header or SCOPE_KW.search(top.split('(')[0] if '(' in top else top) and '(' not in header:
                pass
            if SCOPE_KW.search(top) and not re.search(r'\)\s*(const\b|noexcept\b|override\b|final\b|->|:(?!:)|$)',
                                                      header.rstrip()):
                # namespace / class / enum scope: descend
                if re.search(r'\benum\b', top):
                    i = close + 1
                    header_start = i
                    continue
                scan(i + 1, close)
                i = close + 1
                header_start = i
                continue
            if re.search(r'(?<![=!<>+\-*/%&|^])=(?!=)', top) and 'operator' not in top:
                # data initialiser: a table
                i = close + 1
                header_start = i
                continue
            if '(' not in header:
                i = close + 1
                header_start = i
                continue
            # constructor initialiser list: `) : a{1}, b{2} {`
            after_paren = header[header.rfind(')') + 1:] if ')' in header else ''
            stripped = header.rstrip()
            if re.search(r'(?<!:):(?!:)', top[top.rfind(' ') if False else 0:]) and \
                    re.search(r'\)\s*(noexcept\s*)?:(?!:)', header) and stripped and \
                    (stripped[-1].isalnum() or stripped[-1] in '_>'):
                i = close + 1
                continue
            first = header_start
            while first < i and s[first].isspace():
                first += 1
            name_m = re.findall(r'([~\w:]+(?:operator\s*[^\s(]+)?)\s*\(', top_level_names(header))
            name = name_m[0] if name_m else '?'
            yield_list.append((name, line_of[first], line_of[close]))
            i = close + 1
            header_start = i

    def top_level_names(header):
        # keep the outer-most call pattern: name followed by its parameter list
        depth = 0
        res = []
        for ch in header:
            if ch == '(':
                res.append('(' if depth == 0 else ' ')
                depth += 1
            elif ch == ')':
                depth = max(0, depth - 1)
                res.append(' ')
            else:
                res.append(ch if depth == 0 else ' ')
        return ''.join(res)

    yield_list = []
    scan(0, len(s))
    return yield_list


def main(argv):
    limit = 80
    show_all = False
    paths = []
    it = iter(argv)
    for a in it:
        if a == '--limit':
            limit = int(next(it))
        elif a == '--all':
            show_all = True
        else:
            paths.append(a)
    if not paths:
        paths = ['core', 'shell', 'gui']
    files = []
    for p in paths:
        if os.path.isdir(p):
            for root, _, names in os.walk(p):
                files += [os.path.join(root, f) for f in names if f.endswith(EXTS)]
        else:
            files.append(p)
    rows = []
    for f in sorted(files):
        with open(f, encoding='utf-8', errors='replace') as fh:
            src = fh.read()
        for name, a, b in functions(src):
            length = b - a + 1
            if show_all or length > limit:
                rows.append((length, f, a, name))
    for length, f, a, name in sorted(rows, reverse=True):
        print(f'{length:5d}  {f}:{a}  {name}')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
