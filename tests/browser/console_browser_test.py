#!/usr/bin/python3
"""gwhost's console in headless Chromium: devices appear, an alarm from devsim reaches the feed,
an arm request from the form returns the OK document; a screenshot is saved.

Driven over the DevTools protocol with Debian's python3-websocket. Exit 77 (skipped) when
Chromium or the websocket module is missing."""
import argparse, json, os, shutil, signal, socket, subprocess, sys, tempfile, time, urllib.request

SKIP = 77
DEADLINE = time.monotonic() + 50
ARM = "/OVIX/SecurityCP/control/arm/1?format=json&ways=away"


def skip(why):
    print("SKIPPED: " + why)
    sys.exit(SKIP)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait(what, check, limit=20):
    end = min(DEADLINE, time.monotonic() + limit)
    while time.monotonic() < end:
        got = check()
        if got:
            return got
        time.sleep(0.2)
    raise AssertionError("timed out waiting for " + what)


class Page:
    def __init__(self, ws_url):
        import websocket
        self.ws = websocket.create_connection(ws_url, timeout=10, suppress_origin=True)
        self.next = 0

    def call(self, method, **params):
        self.next += 1
        self.ws.send(json.dumps({"id": self.next, "method": method, "params": params}))
        while True:
            msg = json.loads(self.ws.recv())
            if msg.get("id") == self.next:
                if "error" in msg:
                    raise AssertionError(method + ": " + json.dumps(msg["error"]))
                return msg.get("result", {})

    def js(self, expr):
        r = self.call("Runtime.evaluate", expression=expr, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in r:
            raise AssertionError("page script failed: " + json.dumps(r["exceptionDetails"])[:400])
        return r["result"].get("value")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True, help="folder holding gwhost and devsim")
    ap.add_argument("--out", required=True, help="where the screenshot goes")
    ap.add_argument("--docs", help="docs folder: the screenshot is copied there when VEXA_UPDATE_DOCS=1")
    args = ap.parse_args()
    chromium = os.environ.get("CHROMIUM", "/usr/bin/chromium")
    if not os.access(chromium, os.X_OK):
        skip("no Chromium at %s (Debian: apt-get install chromium)" % chromium)
    try:
        import websocket  # noqa: F401
    except ImportError:
        skip("python3-websocket is missing (Debian: apt-get install python3-websocket)")

    work = tempfile.mkdtemp(prefix="console-browser-")
    procs = []

    def start(cmd, name):
        out = open(os.path.join(work, name + ".out"), "w")
        procs.append(subprocess.Popen(cmd, stdout=out, stderr=subprocess.STDOUT, start_new_session=True))
        return os.path.join(work, name + ".out")

    try:
        reg, alarm, storage = free_port(), free_port(), free_port()
        host = {"listen": "127.0.0.1", "regPort": reg, "alarmPort": alarm, "storagePort": storage, "devices": [
            {"id": "panel1", "key": "12345678", "type": "SecurityCP", "protocol": "VEXA"},
            {"id": "camera1", "key": "12345678", "type": "encodingDev", "protocol": "aldonV5"}]}
        with open(os.path.join(work, "host.json"), "w") as f:
            json.dump(host, f)
        gw_out = start([os.path.join(args.bin, "gwhost"), "--hostfile", os.path.join(work, "host.json"),
                        "--console", "127.0.0.1:0", "--duration", "55"], "gwhost")

        def console_port():
            for line in open(gw_out, errors="replace"):
                if '"event":"console"' in line:
                    return json.loads(line)["port"]
        port = wait("the console to listen", console_port)
        devsim = os.path.join(args.bin, "devsim")
        common = ["--cms-port", str(reg), "--ams-port", str(alarm), "--duration", "50"]
        start([devsim, "--id-prefix", "panel", "--family", "vexa", "--alarm-rate", "1"] + common, "panel")
        start([devsim, "--id-prefix", "camera", "--family", "aldonv5"] + common, "camera")

        profile = os.path.join(work, "profile")
        start([chromium, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
               "--disable-extensions", "--disable-background-networking", "--remote-debugging-port=0",
               "--remote-allow-origins=*", "--user-data-dir=" + profile, "--window-size=1280,1100",
               "about:blank"], "chromium")
        active = os.path.join(profile, "DevToolsActivePort")
        devtools = wait("Chromium's DevTools port",
                        lambda: os.path.exists(active) and open(active).read().split("\n")[0].strip())
        targets = wait("a page target", lambda: [t for t in json.load(urllib.request.urlopen(
            "http://127.0.0.1:%s/json/list" % devtools, timeout=5)) if t.get("type") == "page"])
        page = Page(targets[0]["webSocketDebuggerUrl"])
        page.call("Page.enable")
        page.call("Page.navigate", url="http://127.0.0.1:%d/" % port)

        wait("both devices on line in the list",
             lambda: page.js("document.querySelectorAll('#devices tbody tr[data-status=\"0\"]').length") == 2)
        print("devices on line: " + page.js("[...document.querySelectorAll('#devices tbody tr')]"
                                             ".map(r => r.dataset.id).join(', ')"))
        wait("an alarm in the feed", lambda: page.js("document.querySelectorAll('#feed li.alarm').length") >= 1)
        print("first alarm: " + page.js("document.querySelector('#feed li.alarm .head').textContent"))

        page.js("""(() => { const set = (id, v) => { const e = document.getElementById(id); e.value = v;
                      e.dispatchEvent(new Event('change')); };
                   set('req-device', 'panel1'); set('req-method', 'PUT'); set('req-uri', %s);
                   document.getElementById('req-send').click(); })()""" % json.dumps(ARM))
        answer = wait("the arm answer", lambda: page.js(
            "document.getElementById('req-answer').dataset.ok === '1' && document.getElementById('req-answer').textContent"))
        doc = json.loads(answer)
        assert doc.get("statusCode") == 1 and doc.get("statusString") == "OK", answer
        print("arm answer: " + json.dumps(doc) + ", round trip " + page.js("document.getElementById('req-rtt').textContent"))

        page.js("[...document.querySelectorAll('#devices tr[data-id=\"camera1\"] button')]"
                ".find(b => b.textContent === 'Live view').click()")
        wait("live-view bytes from the camera", lambda: page.js(
            "/[1-9][0-9,.]* bytes/.test(document.getElementById('live').textContent)"))
        print("live view: " + page.js("document.getElementById('live').textContent"))
        time.sleep(1.5)  # a few more alarms and chart points for the picture
        shot = page.call("Page.captureScreenshot", format="png", captureBeyondViewport=True)
        import base64
        png = os.path.join(args.out, "console.png")
        with open(png, "wb") as f:
            f.write(base64.b64decode(shot["data"]))
        print("screenshot: " + png)
        if os.environ.get("VEXA_UPDATE_DOCS") == "1" and args.docs:
            shutil.copy(png, os.path.join(args.docs, "console.png"))
            print("copied to " + os.path.join(args.docs, "console.png"))
        print("PASSED")
        return 0
    except AssertionError as e:
        print("FAILED: %s" % e)
        for p in ("gwhost", "panel", "camera"):
            path = os.path.join(work, p + ".out")
            if os.path.exists(path):
                print("--- last lines of %s" % p)
                print("".join(open(path, errors="replace").readlines()[-15:]))
        return 1
    finally:
        for p in reversed(procs):
            try:
                os.killpg(p.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        for p in reversed(procs):
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                os.killpg(p.pid, signal.SIGKILL)
                p.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
