#!/usr/bin/env python3
"""Fails when the documents of --json disagree with the code.

  check_docs.py SOURCE_DIR

The finding codes of the rule tables (src/facts) against the schema's code
list, doc/json.md's findings table and the manual page's FINDINGS; the keys
that facts_to_json in src/facts/facts_json.cc sets on its document (and
"graph") against the schema's top-level keys and doc/json.md's key table.
Prints one line per mismatch and exits with their count.
"""

import json
import pathlib
import re
import sys

SEVERITY = {"kProblem": "PROBLEM", "kWarning": "WARNING", "kNote": "NOTE", "kOk": "OK"}


def function_body(source, name):
    """The text between the braces of the definition of `name`, or None.
    Braces inside string and character literals and comments do not count."""
    head = re.search(r"^[\w:<>]+[ \t]+%s\([^;{]*\)\s*\{" % re.escape(name), source, re.M)
    if not head:
        return None
    depth, i = 1, head.end()
    while i < len(source):
        ch = source[i]
        if source.startswith("//", i):
            i = source.find("\n", i)
            if i < 0:
                return None
        elif source.startswith("/*", i):
            i = source.find("*/", i)
            if i < 0:
                return None
            i += 1
        elif ch in "\"'":
            i += 1
            while i < len(source) and source[i] != ch:
                i += 2 if source[i] == "\\" else 1
        elif ch == "{":
            depth += 1
        elif ch == "}":
            depth -= 1
            if depth == 0:
                return source[head.end():i]
        i += 1
    return None


def document_keys(source):
    """The keys facts_to_json assigns on the object whose dump() it returns:
    what helpers or other objects set (a route's "table") is not the top
    level."""
    body = function_body(source, "facts_to_json")
    doc = body and re.search(r"\breturn\s+(\w+)\.dump\(", body)
    if not doc:
        return set()
    return set(re.findall(r'\b%s\["([a-z_0-9]+)"\]\s*=(?!=)' % doc.group(1), body))


def main(src):
    failures = []

    def same(what, expected, actual):
        if expected != actual:
            failures.append("%s: missing %s, unexpected %s" % (
                what, sorted(set(expected) - set(actual)), sorted(set(actual) - set(expected))))

    code_rows = {}
    for path in sorted((src / "src" / "facts").glob("*.cc")):
        for code, sev in re.findall(r'\{"([a-z0-9-]+)",\s*Severity::(k\w+)', path.read_text()):
            code_rows[code] = SEVERITY[sev]
    if len(code_rows) < 2:
        failures.append("no rule table found under src/facts")

    schema = json.loads((src / "doc" / "facts.schema.json").read_text())
    same("schema finding codes", set(code_rows), set(schema["$defs"]["finding_code"]["enum"]))

    json_md = (src / "doc" / "json.md").read_text()
    findings_md = json_md.split("## Findings", 1)[-1]
    md_rows = dict(re.findall(r"^\| `([a-z0-9-]+)` \| ([A-Z]+) \|", findings_md, re.M))
    same("doc/json.md findings", code_rows, md_rows)

    man = (src / "doc" / "corvale.1.in").read_text()
    section = man.split(".SH FINDINGS", 1)[-1].split("\n.SH ", 1)[0]
    man_codes = {c.replace("\\-", "-") for c in re.findall(r"^\.B ([a-z][a-z0-9\\-]*)$", section, re.M)}
    same("manual page FINDINGS", set(code_rows), man_codes)

    written = document_keys((src / "src/facts/facts_json.cc").read_text())
    if not written:
        failures.append("no top-level key found in facts_to_json (src/facts/facts_json.cc)")
    written.add("graph")
    same("schema top-level keys", written, set(schema["properties"]))
    same("schema required keys", written, set(schema["required"]))
    keys_md = json_md.split("## Top-level keys", 1)[-1].split("## Findings", 1)[0]
    md_keys = set()
    for cell in re.findall(r"^\| (`[^|]*`) \|", keys_md, re.M):
        md_keys.update(re.findall(r"`([a-z_0-9]+)`", cell))
    same("doc/json.md top-level keys", written, md_keys)

    for f in failures:
        print("FAIL:", f)
    print("%d check(s) failed" % len(failures) if failures else "documents agree with the code")
    return min(len(failures), 100)


if __name__ == "__main__":
    sys.exit(main(pathlib.Path(sys.argv[1])))
