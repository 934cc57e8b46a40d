#!/usr/bin/env python3
"""Every relative link of README.md and docs/*.md leads somewhere: its file exists and,
when it names a heading (#anchor), that heading is in the file, as GitHub names headings.
Usage: tests/links_test.py [ROOT] (the checkout's root; by default this file's parent's)."""
import os
import re
import sys

root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)\)")


def prose(path):
    """The lines of a Markdown file outside fenced code, with code spans blanked."""
    inside = False
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        if line.lstrip().startswith("```"):
            inside = not inside
            continue
        if not inside:
            yield number, re.sub(r"`[^`]*`", "``", line)


def anchors(path):
    """The anchors GitHub makes of a file's headings: lower case, punctuation dropped,
    spaces as hyphens, a repeated one numbered."""
    seen = {}
    made = set()
    for _, line in prose(path):
        heading = re.match(r"#{1,6}\s+(.*?)\s*#*\s*$", line)
        if not heading:
            continue
        text = re.sub(r"[^\w\- ]", "", heading.group(1).replace("``", "").lower())
        slug = text.replace(" ", "-")
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        made.add(slug if count == 0 else f"{slug}-{count}")
    return made


documents = [os.path.join(root, "README.md")] + sorted(
    os.path.join(root, "docs", name) for name in os.listdir(os.path.join(root, "docs")) if name.endswith(".md"))
broken = []
checked = 0
for document in documents:
    for number, line in prose(document):
        for target in LINK.findall(line):
            if re.match(r"[a-z][a-z0-9+.-]*:", target):  # https:, mailto: ...
                continue
            checked += 1
            path, _, anchor = target.partition("#")
            where = os.path.normpath(os.path.join(os.path.dirname(document), path)) if path else document
            place = f"{os.path.relpath(document, root)}:{number}: {target}"
            if not os.path.exists(where):
                broken.append(f"{place}: no such file")
            elif anchor and (not where.endswith(".md") or anchor not in anchors(where)):
                broken.append(f"{place}: no such heading")
for line in broken:
    print(line)
print(f"links: {checked} checked, {len(broken)} broken")
sys.exit(1 if broken or checked == 0 else 0)
