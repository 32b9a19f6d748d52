#!/usr/bin/env python3
"""Checks one corvale report against the run's facts.json, the way a reader
(or a script) would trust it:

  report_check.py REPORT FACTS_JSON SCENARIO

- the file starts with a UTF-8 byte-order mark and decodes as UTF-8;
- the embedded payload (window.ND) parses and equals facts.json's "graph",
  key order included;
- the hash-linked chain recomputes from the page: every block's SHA-256 over
  its normalised content and the previous hash, 64 zeros before the first;
- the number of blocks fits the scenario (a tunnel adds its own block and
  its core's), and only a tunnel block is drawn selected;
- no host-chosen text with markup characters (process and adapter names)
  appears unescaped outside the payload;
- nothing is loaded from the network.

Prints one line per check; the exit status is the number of failures.
"""

import hashlib
import html
import json
import re
import sys

FAILS = 0


def ok(cond, what, detail=""):
    global FAILS
    if cond:
        print("ok: report: " + what, flush=True)
    else:
        FAILS += 1
        print("FAIL: report: " + what + (": " + detail if detail else ""), file=sys.stderr, flush=True)
    return cond


# Unicode's White_Space property.
WHITE = set("\t\n\v\f\r \x85\xa0\u1680\u2028\u2029\u202f\u205f\u3000") | {chr(c) for c in range(0x2000, 0x200B)}


def normalise(fragment):
    out, in_tag = [], False
    for ch in fragment:
        if ch == "<":
            in_tag = True
        elif ch == ">":
            in_tag = False
            out.append(" ")
        elif not in_tag:
            out.append(ch)
    words, cur = [], []
    for ch in "".join(out):
        if ch in WHITE:
            if cur:
                words.append("".join(cur))
                cur = []
        else:
            cur.append(ch)
    if cur:
        words.append("".join(cur))
    return " ".join(words)


BLOCK = re.compile(
    r'<div class="(block(?: selected)?)">\n'
    r'  <div class="bhead"><span class="height">#(\d+)</span>(.*?)</div>\n'
    r'  <div class="btitle">(.*?)</div>\n'
    r'  <div class="bsub">(.*?)</div>\n'
    r'  <div class="brows">(.*?)</div>\n'
    r'  <div class="bfoot">\n'
    r'    <div class="hrow" title="([0-9a-f]{64})"><span class="hlab">hash</span><span class="hval">([0-9a-f]{14})&hellip;</span></div>\n'
    r'    <div class="hrow" title="([0-9a-f]{64})"><span class="hlab">prev</span><span class="hval">([0-9a-f]{14})&hellip;</span></div>\n'
    r'  </div>\n'
    r'</div>')
ROW = re.compile(r'<div class="row">(.*?)</div>')


def check_chain(page, scenario):
    blocks = list(BLOCK.finditer(page))
    ok(page.count('<div class="block') == len(blocks) and blocks, "every chain block has the fixed shape",
       "%d parsed of %d" % (len(blocks), page.count('<div class="block')))
    prev = "0" * 64
    for i, m in enumerate(blocks, 1):
        cls, height, _pill, title, sub, rows, hsh, h14, prv, p14 = m.groups()
        rows_text = "; ".join(normalise(r) for r in ROW.findall(rows))
        content = "height=%s|title=%s|sub=%s|rows=%s|prev=%s" % (
            height, html.unescape(title), html.unescape(sub), rows_text, prev)
        want = hashlib.sha256(content.encode("utf-8")).hexdigest()
        ok(int(height) == i and prv == prev and p14 == prev[:14], "block #%d links to the one before" % i)
        ok(hsh == want and h14 == hsh[:14], "block #%d (%s) hash recomputes" % (i, html.unescape(title)),
           "page %s, computed %s over %r" % (hsh, want, content))
        prev = hsh
    titles = [html.unescape(m.group(4)) for m in blocks]
    selected = [html.unescape(m.group(4)) for m in blocks if m.group(1) == "block selected"]
    # A tunnel holds the preferred default route.
    if scenario in ("tun", "wireguard", "split", "stale-tun", "wg-quick", "autoroute", "stale-autoroute",
                    "verge-tun", "verge-tcp", "verge-hung", "sing-box"):
        ok(len(blocks) in (5, 6) and titles[1].endswith(" TUN"), "a tunnel block follows Applications", repr(titles))
        ok(selected == [titles[1]], "the tunnel block is the selected one", repr(selected))
    else:
        ok(titles == ["Applications", "Physical NIC", "LAN Gateway", "Internet / ISP"], "four blocks without a tunnel",
           repr(titles))
        ok(not selected, "no block selected without a tunnel")
    ok(page.count('<svg class="conn"') == max(len(blocks) - 1, 0), "one connector between each two blocks")


def keys_in_order(v):
    if isinstance(v, dict):
        return [(k, keys_in_order(x)) for k, x in v.items()]
    if isinstance(v, list):
        return [keys_in_order(x) for x in v]
    return None


def main():
    report, facts_path, scenario = sys.argv[1:4]
    raw = open(report, "rb").read()
    ok(raw.startswith(b"\xef\xbb\xbf"), "byte-order mark")
    try:
        page = raw[3:].decode("utf-8")
    except UnicodeDecodeError as e:
        ok(False, "decodes as UTF-8", str(e))
        return
    facts = json.load(open(facts_path, encoding="utf-8"))

    start = page.find("<script>window.ND = ")
    end = page.find(";</script>", start)
    ok(start >= 0 and end > start, "payload statement present")
    text = page[start + len("<script>window.ND = "):end]
    try:
        payload = json.loads(text)
    except ValueError as e:
        ok(False, "payload parses", str(e))
        payload = None
    if payload is not None:
        ok(payload == facts.get("graph"), "payload equals facts.json graph")
        ok(keys_in_order(payload) == keys_in_order(facts.get("graph")), "payload keys in the same order")
    ok("</" not in text and "<!--" not in text, "payload cannot close its script element")
    outside = page[:start] + page[end:]

    check_chain(page, scenario)

    names = {p.get("name", "") for p in facts.get("processes_by_pid", {}).values()}
    names |= {a.get("name", "") for a in facts.get("adapters", [])}
    marked = sorted(n for n in names if "<" in n and len(n) >= 3)
    for n in marked:
        ok(n not in outside, "host text %r never appears unescaped" % n)
    shown = {a.get("process_name", "") for a in facts.get("proxy_candidates", {}).get("assessments", [])}
    for n in sorted(shown & set(marked)):
        ok(html.escape(n, quote=True).replace("&#x27;", "&#39;") in outside, "listener owner %r shown escaped" % n)

    for loader in ("<script src", "<link", "@import", "<iframe", "url(http"):
        ok(loader not in page, "nothing loaded from the network (%s)" % loader)
    for tag in re.findall(r"<a\s[^>]*>", page):
        ok('rel="noopener noreferrer"' in tag, "outbound link opens without referrer", tag)
    ok("Generated by corvale " in page and "corvale.ps1" not in page, "footer names this program")


if __name__ == "__main__":
    try:
        main()
    except Exception as e:  # a crash is a failed check, not a pass
        ok(False, "report check ran", repr(e))
    sys.exit(min(FAILS, 100))
