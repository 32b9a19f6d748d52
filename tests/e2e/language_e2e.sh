#!/usr/bin/env bash
# The findings in the user's language (gnome-proxy-left): Simplified Chinese
# in section 12 and in the report's findings block when the locale asks for
# zh_CN, while --json's text, the codes and every other line of the console
# stay as an English run prints them.
set -uo pipefail
CORVALE=$1
source "$(dirname "$0")/lib.sh"
export CORVALE_NO_OPEN=1
unset LANGUAGE LC_ALL LC_MESSAGES LANG
cd "$E2E_TMP"

# ./dev test generates the locale; without it gettext stays English and
# every check below would be about nothing.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  fail "the zh_CN.UTF-8 locale is missing (localedef -i zh_CN -f UTF-8 zh_CN.UTF-8)"
  finish
fi

run() { # dir env...
  local dir=$1; shift
  mkdir -p "$dir"
  (cd "$dir" && env "$@" "$CORVALE" --json facts.json >out.txt 2>err.txt; echo $? >status.txt)
  expect_eq 0 "$(cat "$dir/status.txt")" "exit status ($dir)"
}
run zh LANGUAGE=zh_CN LC_ALL=zh_CN.UTF-8
run messages LC_MESSAGES=zh_CN.UTF-8
run en LANG=C.UTF-8

zh="PROBLEM  GNOME 系统代理指向 127.0.0.1:7897，但那里没有程序接受连接：遵循它的浏览器和桌面程序无法连接（可能是已退出的代理图形界面没有关掉它）。请启动代理，或关闭系统代理（设置 → 网络 → 网络代理，或运行：gsettings set org.gnome.system.proxy mode 'none'）。"
en="PROBLEM  The GNOME system proxy points at 127.0.0.1:7897, where nothing accepts the connection: browsers and desktop programs that follow it cannot connect (a proxy GUI that quit may have left it on). Start the proxy, or turn the system proxy off in Settings → Network → Network Proxy (or: gsettings set org.gnome.system.proxy mode 'none')."
expect_contains zh/out.txt "$zh" "section 12 in Chinese under LANGUAGE and LC_ALL"
expect_contains messages/out.txt "$zh" "section 12 in Chinese under LC_MESSAGES alone"
expect_contains en/out.txt "$en" "section 12 in English under C.UTF-8"

ZH=$zh EN=$en python3 - "$E2E_DIR" <<'PY'
import glob, html, json, os, re, subprocess, sys
fails = 0
def check(ok, what, detail=""):
    global fails
    print(("ok: " if ok else "FAIL: ") + what + ("" if ok else ": " + detail))
    fails += not ok
zh, en = os.environ["ZH"], os.environ["EN"]
mask = lambda d: subprocess.run([sys.executable, sys.argv[1] + "/mask_console.py", d + "/out.txt"],
                                capture_output=True, text=True, check=True).stdout
# Every line but the finding is byte for byte the English run's: section
# labels, tables and the report line do not follow the locale.
for d in ("zh", "messages"):
    got = mask(d).replace(zh, en)
    check(got == mask("en"), "console of %s otherwise as in English" % d,
          "".join(l for l in __import__("difflib").unified_diff(
              mask("en").splitlines(True), got.splitlines(True)))[:2000])
    check("  12. Diagnosis" in got, "section label of %s stays English" % d)
findings = {d: json.load(open(d + "/facts.json"))["findings"] for d in ("zh", "messages", "en")}
check(findings["zh"] == findings["en"] == findings["messages"], "--json findings the same in every language",
      json.dumps(findings["zh"], ensure_ascii=False)[:600])
check([x["text"] for x in findings["zh"] if x["code"] == "system-proxy-dead"] == [en[len("PROBLEM  "):]],
      "--json text stays English")
def block(d):
    report = open(glob.glob(d + "/corvale-report-*.html")[0], encoding="utf-8-sig").read()
    m = re.search(r'<div class="finding problem" data-code="system-proxy-dead"><b>PROBLEM</b> (.*?)</div>', report)
    return html.unescape(m.group(1)) if m else None
check(block("zh") == zh[len("PROBLEM  "):], "report's findings block in Chinese", repr(block("zh")))
check(block("en") == en[len("PROBLEM  "):], "report's findings block in English", repr(block("en")))
sys.exit(1 if fails else 0)
PY
E2E_FAILS=$((E2E_FAILS + $?))
finish
