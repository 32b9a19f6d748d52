#!/usr/bin/env python3
"""The catalog check against catalogs with one fault each: it must name the
fault, and pass the sound one."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_catalog  # noqa: E402

EXTRACTED = ["Gateway {} ({}) answers at {:.2f}.", "link"]
SOUND = '''msgid ""
msgstr ""
"Content-Type: text/plain; charset=UTF-8\\n"

msgid "Gateway {} ({}) answers at {:.2f}."
msgstr "网关 {}（{}）在 {:.2f} 有应答。"

#. a comment
msgid "link"
msgstr "链路"
'''

ROWS = [
    ("sound", SOUND, None),
    ("missing", SOUND.replace('#. a comment\nmsgid "link"\nmsgstr "链路"\n', ""), "no translation"),
    ("empty", SOUND.replace('msgstr "链路"', 'msgstr ""'), "empty translation"),
    ("fuzzy", SOUND.replace("#. a comment", "#, fuzzy"), "fuzzy translation"),
    ("placeholder lost", SOUND.replace("（{}）", ""), "placeholders"),
    ("placeholders swapped", SOUND.replace("{}（{}）在 {:.2f}", "{:.2f}（{}）在 {}"), "placeholders"),
    ("format specifier changed", SOUND.replace("{:.2f} 有", "{} 有"), "placeholders"),
    ("stale entry", SOUND + '\nmsgid "gone"\nmsgstr "没了"\n', "no rule says"),
    ("msgid over lines", SOUND.replace('msgid "Gateway {} ({}) answers at {:.2f}."',
                                       'msgid ""\n"Gateway {} ({}) "\n"answers at {:.2f}."'), None),
]

failures = 0
for name, text, want in ROWS:
    catalog, _ = check_catalog.parse_po(text)
    found = check_catalog.problems(EXTRACTED, catalog, "zz")
    ok = not found if want is None else any(want in p for p in found)
    print("%s: %s %s" % ("ok" if ok else "FAIL", name, found))
    failures += not ok
assert check_catalog.placeholders("{{literal}} {} {:g}") == ["{}", "{:g}"]
print("%d of %d rows failed" % (failures, len(ROWS)))
sys.exit(1 if failures else 0)
