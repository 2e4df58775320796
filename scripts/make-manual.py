#!/usr/bin/env python3
"""Writes the user manual shipped beside Tonefork.exe (manual.html) from the
user part of README.md: everything between the lines "<!-- manual -->" and
"<!-- /manual -->". Only the Markdown the README uses is understood:
headings, paragraphs, lists, fenced code, tables, `code`, **bold**, *emphasis*
and [links](address). Every heading gets an id made from its words, so that
"### Support" can be opened as manual.html#support.

usage: make-manual.py README.md manual.html
"""
import html
import re
import sys

START, END = "<!-- manual -->", "<!-- /manual -->"

STYLE = """
body { font-family: "Segoe UI", sans-serif; max-width: 46em; margin: 2em auto; padding: 0 1em;
       color: #f2f5fa; background: #262e38; line-height: 1.5; }
a { color: #478fff; }
code, pre { background: #1d232b; border-radius: 4px; }
code { padding: 0 0.25em; }
pre { padding: 0.75em; overflow-x: auto; }
table { border-collapse: collapse; }
th, td { border: 1px solid #4a5560; padding: 0.25em 0.6em; text-align: left; }
h1, h2, h3 { line-height: 1.2; }
"""


def slug(text):
    return re.sub(r"[^a-z0-9]+", "-", text.lower()).strip("-")


def inline(text):
    parts = re.split(r"(`[^`]*`)", text)
    out = []
    for part in parts:
        if part.startswith("`") and part.endswith("`") and len(part) >= 2:
            out.append("<code>" + html.escape(part[1:-1]) + "</code>")
            continue
        part = html.escape(part, quote=False)
        part = re.sub(r"\[([^\]]+)\]\(([^)\s]+)\)", r'<a href="\2">\1</a>', part)
        part = re.sub(r"\*\*([^*]+)\*\*", r"<strong>\1</strong>", part)
        part = re.sub(r"(?<![\w*])\*([^*\s][^*]*)\*(?![\w*])", r"<em>\1</em>", part)
        out.append(part)
    return "".join(out)


def table(rows):
    cells = [[c.strip() for c in row.strip().strip("|").split("|")] for row in rows]
    head, body = cells[0], [r for r in cells[2:]]
    out = ["<table>", "<tr>" + "".join("<th>" + inline(c) + "</th>" for c in head) + "</tr>"]
    out += ["<tr>" + "".join("<td>" + inline(c) + "</td>" for c in r) + "</tr>" for r in body]
    return out + ["</table>"]


LIST_ITEM = re.compile(r"^( *)([-*]|\d+\.) (.*)$")


def list_block(lines, i):
    """The items of the list starting at line i, as (indent, ordered, text),
    and the index of the first line after it. Continuation lines are indented."""
    items = []
    while i < len(lines):
        line = lines[i].rstrip("\n")
        match = LIST_ITEM.match(line)
        if match:
            items.append([len(match.group(1)), match.group(2)[0].isdigit(), match.group(3)])
        elif line.startswith(" ") and line.strip() and items:
            items[-1][2] += " " + line.strip()
        else:
            break
        i += 1
    return items, i


def render_list(items, at=0):
    """HTML for the items from `at` on that share its indent (with deeper
    ones nested inside), and the index after them."""
    indent, ordered = items[at][0], items[at][1]
    tag = "ol" if ordered else "ul"
    out = "<%s>" % tag
    while at < len(items) and items[at][0] == indent:
        out += "<li>" + inline(items[at][2])
        at += 1
        if at < len(items) and items[at][0] > indent:
            nested, at = render_list(items, at)
            out += nested
        out += "</li>"
    return out + "</%s>" % tag, at


def convert(lines):
    out, para = [], []

    def flush():
        nonlocal para
        if para:
            out.append("<p>" + inline(" ".join(para)) + "</p>")
            para = []

    i = 0
    while i < len(lines):
        stripped = lines[i].strip()
        if stripped.startswith("```"):
            flush()
            code = []
            i += 1
            while i < len(lines) and not lines[i].strip().startswith("```"):
                code.append(lines[i].rstrip("\n"))
                i += 1
            out.append("<pre><code>" + html.escape("\n".join(code)) + "</code></pre>")
            i += 1
        elif re.match(r"#{1,6} ", stripped):
            flush()
            level, text = len(stripped.split(" ")[0]), stripped.split(" ", 1)[1]
            out.append('<h%d id="%s">%s</h%d>' % (level, slug(text), inline(text), level))
            i += 1
        elif stripped.startswith("|"):
            flush()
            rows = []
            while i < len(lines) and lines[i].strip().startswith("|"):
                rows.append(lines[i])
                i += 1
            out += table(rows)
        elif LIST_ITEM.match(lines[i]):
            flush()
            items, i = list_block(lines, i)
            at = 0
            while at < len(items):
                html_list, at = render_list(items, at)
                out.append(html_list)
        elif stripped == "":
            flush()
            i += 1
        else:
            para.append(stripped)
            i += 1
    flush()
    return out


def main():
    source, target = sys.argv[1], sys.argv[2]
    with open(source, encoding="utf-8") as f:
        text = f.read()
    if START not in text or END not in text:
        sys.exit("make-manual: %s has no %s ... %s part" % (source, START, END))
    part = text.split(START, 1)[1].split(END, 1)[0]
    body = convert(part.splitlines())
    page = ["<!DOCTYPE html>", '<html lang="en">', "<head>", '<meta charset="utf-8">',
            "<title>Tonefork manual</title>", "<style>" + STYLE + "</style>", "</head>", "<body>"]
    page += body + ["</body>", "</html>"]
    with open(target, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(page) + "\n")


if __name__ == "__main__":
    main()
