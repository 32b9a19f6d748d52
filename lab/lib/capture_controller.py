"""Run on the lab laptop by the tun scenario's capture: saves the proxy core
controller's answers (127.0.0.1:9090) to OUTDIR and appends to commands.tsv
(FILE, HTTP status, request).

  capture_controller.py OUTDIR SECRET
"""

import sys
import urllib.error
import urllib.request


def get(path, secret):
    req = urllib.request.Request("http://127.0.0.1:9090" + path)
    if secret:
        req.add_header("Authorization", "Bearer " + secret)
    try:
        with urllib.request.urlopen(req, timeout=3) as r:
            return r.status, r.read()
    except urllib.error.HTTPError as e:
        return e.code, e.read()


def main():
    out, secret = sys.argv[1], sys.argv[2]
    for name, path, auth in (
        ("mihomo_version.json", "/version", True),
        ("mihomo_configs.json", "/configs", True),
        ("mihomo_connections.json", "/connections", True),
        ("mihomo_unauthorized.json", "/version", False),
    ):
        status, body = get(path, secret if auth else "")
        with open(out + "/" + name, "wb") as f:
            f.write(body)
        with open(out + "/commands.tsv", "a") as f:
            f.write("%s\t%d\tGET http://127.0.0.1:9090%s%s\n"
                    % (name, status, path, " (Authorization: Bearer <secret>)" if auth else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
