#!/usr/bin/env python3
"""Fails when a finding's sentence would reach a user untranslated or broken.

  check_catalog.py SOURCE_ROOT

Extracts every sentence the diagnosis rules pass to say(), say_more() and
phrase() with xgettext, as the pot target does, and checks each catalog named
in po/LINGUAS: every msgid present, not fuzzy, with a non-empty msgstr whose
{} placeholders are the msgid's, in the same order; no translation of a
sentence the rules no longer say; and po/corvale.pot holding exactly the
extracted msgids. Prints one line per problem; exit status 1 on any.
"""
import glob
import json
import os
import re
import subprocess
import sys
import tempfile

KEYWORDS = ["--keyword", "--keyword=say:2", "--keyword=say_more:2", "--keyword=phrase:1"]
FIELD = re.compile(r"\{\{|\}\}|\{[^{}]*\}")


def placeholders(text):
    """The format fields of a fmt string, in order; {{ and }} are literal braces."""
    return [m for m in FIELD.findall(text) if m not in ("{{", "}}")]


def parse_po(text):
    """{msgid: (msgstr, fuzzy)} of the live entries; the header is left out."""
    entries, obsolete = {}, []
    for block in re.split(r"\n\s*\n", text.strip()):
        lines = block.splitlines()
        if all(l.startswith("#~") or not l.strip() for l in lines):
            obsolete.append(block)
            continue
        fuzzy = any(l.startswith("#,") and "fuzzy" in l for l in lines)
        parts, key = {"msgid": [], "msgstr": []}, None
        for line in lines:
            if line.startswith("#"):
                continue
            m = re.match(r"(msgid|msgstr) (\".*\")$", line)
            if m:
                key = m.group(1)
                parts[key].append(json.loads(m.group(2)))
            elif line.startswith('"') and key:
                parts[key].append(json.loads(line))
        msgid = "".join(parts["msgid"])
        if msgid:
            entries[msgid] = ("".join(parts["msgstr"]), fuzzy)
    return entries, obsolete


def problems(extracted, catalog, lang):
    """What is wrong with one language's entries against the extracted msgids."""
    out = []
    for msgid in extracted:
        if msgid not in catalog:
            out.append("%s: no translation of %r" % (lang, msgid))
            continue
        msgstr, fuzzy = catalog[msgid]
        if fuzzy:
            out.append("%s: fuzzy translation of %r" % (lang, msgid))
        if not msgstr:
            out.append("%s: empty translation of %r" % (lang, msgid))
        elif placeholders(msgstr) != placeholders(msgid):
            out.append("%s: placeholders %s of %r, not %s" %
                       (lang, placeholders(msgstr), msgid, placeholders(msgid)))
    for msgid in catalog:
        if msgid not in extracted:
            out.append("%s: translation of a sentence no rule says: %r" % (lang, msgid))
    return out


def extract(root):
    sources = sorted(os.path.relpath(p, root) for pattern in ("findings*.cc", "findings*.h")
                     for p in glob.glob(os.path.join(root, "src/facts", pattern)))
    if not sources:
        raise SystemExit("no rule sources under %s/src/facts" % root)
    with tempfile.TemporaryDirectory() as tmp:
        pot = os.path.join(tmp, "corvale.pot")
        subprocess.run(["xgettext", "--language=C++", "--from-code=UTF-8", *KEYWORDS,
                        "-o", pot, *sources], cwd=root, check=True)
        return list(parse_po(open(pot, encoding="utf-8").read())[0])


def main(root):
    extracted = extract(root)
    out = []
    if len(extracted) < 20:
        out.append("only %d sentences extracted: the keywords no longer match the rules"
                   % len(extracted))
    committed, _ = parse_po(open(os.path.join(root, "po/corvale.pot"), encoding="utf-8").read())
    if sorted(committed) != sorted(extracted):
        out.append("po/corvale.pot is stale: regenerate it (cmake --build build --target pot); "
                   "missing %s, extra %s" % (sorted(set(extracted) - set(committed))[:3],
                                             sorted(set(committed) - set(extracted))[:3]))
    langs = [l.strip() for l in open(os.path.join(root, "po/LINGUAS"))
             if l.strip() and not l.startswith("#")]
    if not langs:
        out.append("po/LINGUAS names no language")
    for lang in langs:
        catalog, obsolete = parse_po(open(os.path.join(root, "po", lang + ".po"),
                                          encoding="utf-8").read())
        out += problems(extracted, catalog, lang)
        if obsolete:
            out.append("%s: %d obsolete entries" % (lang, len(obsolete)))
    for line in out:
        print(line)
    print("%d sentences, %d language(s), %d problem(s)" % (len(extracted), len(langs), len(out)))
    return 1 if out else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    sys.exit(main(sys.argv[1]))
