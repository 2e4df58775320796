#!/usr/bin/env python3
"""Writes the licence file shipped beside Tonefork.exe: the copyright lines
and licence texts of the third-party code built into the program, taken at
build time from where the build got that code (on Debian, the packages'
machine-readable copyright files), so that what is shipped always matches
what was linked.

usage: make-credits.py OUTPUT [--part TITLE FILE [FILES-PATTERN ...]] [--note TITLE TEXT]

A part whose FILE is a Debian copyright file (it starts with "Format:")
takes the paragraphs whose "Files:" field lists one of the patterns ("*" when
none are given) and the texts of the licences they name; any other FILE is
taken whole. A note is a short text of our own, for code whose licence asks
for no notice.
"""
import argparse
import re
import sys

HEADER = """Tonefork contains the third-party code below, each part under its own licence,
reproduced here as that licence asks. Tonefork's own code is not covered by
these licences.
"""


def paragraphs(text):
    """The paragraphs of a Debian copyright file as {field: [first line, continuation lines...]}."""
    result = []
    for block in re.split(r"\n\s*\n", text.strip()):
        fields, name = {}, None
        for line in block.splitlines():
            if line[:1] in (" ", "\t") and name:
                fields[name].append(line)
            else:
                name, _, value = line.partition(":")
                fields[name] = [value.strip()]
        result.append(fields)
    return result


def unfold(lines):
    """A field's continuation lines as plain text: one leading space off, "." for a blank line."""
    out = []
    for line in lines:
        line = line[1:] if line[:1] in (" ", "\t") else line
        out.append("" if line.strip() == "." else line.rstrip())
    return "\n".join(out)


def debian_part(text, patterns, source):
    paras = paragraphs(text)
    licences = {p["License"][0].lower(): unfold(p["License"][1:]) for p in paras
                if "License" in p and "Files" not in p}
    lines, texts = [], {}
    for pattern in patterns:
        matches = [p for p in paras if "Files" in p and pattern in " ".join(p["Files"]).split()]
        if not matches:
            sys.exit(f"make-credits: no 'Files: {pattern}' paragraph in {source}")
        para = matches[0]
        name = para["License"][0]
        copyright_lines = [para["Copyright"][0]] + [line.strip() for line in para["Copyright"][1:]]
        lines.append("Copyright " + "\n          ".join(copyright_lines))
        lines.append(f"License: {name}\n")
        if len(para["License"]) > 1:
            texts[name] = unfold(para["License"][1:])
            continue
        for alternative in re.split(r"\s+(?:or|and)\s+", name):
            if alternative.lower() not in licences:
                sys.exit(f"make-credits: licence '{alternative}' has no text in {source}")
            texts[alternative] = licences[alternative.lower()]
    body = [f"{name}:\n\n{text}" if len(texts) > 1 else text for name, text in texts.items()]
    return "\n".join(lines) + "\n" + "\n\n".join(body)


def part(source, patterns):
    with open(source, encoding="utf-8") as f:
        text = f.read()
    if text.startswith("Format:"):
        return debian_part(text, patterns or ["*"], source)
    return text.strip()


def section(title, body):
    rule = "=" * 78
    return f"{rule}\n{title}\n{rule}\n\n{body.strip()}\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output")
    parser.add_argument("--part", nargs="+", action="append", default=[], metavar="ARG")
    parser.add_argument("--note", nargs=2, action="append", default=[], metavar=("TITLE", "TEXT"))
    args = parser.parse_args()
    sections = [HEADER]
    for title, source, *patterns in (p for p in args.part if len(p) >= 2):
        sections.append(section(title, part(source, patterns)))
    sections += [section(title, text) for title, text in args.note]
    # Windows users open this in Notepad.
    with open(args.output, "w", encoding="utf-8", newline="\r\n") as f:
        f.write("\n".join(sections))


if __name__ == "__main__":
    main()
