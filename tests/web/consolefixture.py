"""A collector with simulated controllers and its site console, for the
console's browser test, its screenshots and its benchmark: qta504-sim
processes on pseudo-terminals (commands on their standard input), users
added with `qta504d --user add`, the collector on a free loopback port with
a certificate made here, and headless Chromium through chromedriver."""

import os
import re
import signal
import socket
import ssl
import subprocess
import tempfile
import time
import http.client
import json

CHROMEDRIVER = "/usr/bin/chromedriver"
CHROMIUM = "/usr/bin/chromium"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(what, predicate, timeout=15.0, step=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    raise AssertionError(f"timed out waiting for {what}")


class Sim:
    def __init__(self, binary, folder, name, period=500, extra=()):
        self.link = os.path.join(folder, name + ".pty")
        events = [] if "--events-file" in extra else ["--events", "5"]
        self.proc = subprocess.Popen(
            [binary, "--link", self.link, "--period", str(period), *events,
             "--id", name[:6], *extra],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.proc.stdout.readline()
        if "ready" not in line:
            raise RuntimeError(f"qta504-sim did not start: {line!r}")

    def command(self, text):
        self.proc.stdin.write(text + "\n")
        self.proc.stdin.flush()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
        self.proc.stdin.close()
        self.proc.stdout.close()


class Site:
    """Controllers `names` behind one collector with [web] on TLS."""

    def __init__(self, qta504d, sim, names, users, period=500, tls=True, read_timeout=30,
                 sim_extra=None, before_start=None):
        self.qta504d = qta504d
        self.tmp = tempfile.TemporaryDirectory(prefix="qta-web-")
        self.dir = self.tmp.name
        self.names = names
        self.sims = {n: Sim(sim, self.dir, n, period, (sim_extra or {}).get(n, ()))
                     for n in names}
        self.port = free_port()
        self.tls = tls
        self.config = os.path.join(self.dir, "collector.ini")
        data = os.path.join(self.dir, "dane")
        os.mkdir(data)
        lines = ["[collector]", f"DataRoot={data}", ""]
        for n in names:
            lines += [f"[{n}]", f"Port={self.sims[n].link}", ""]
        lines += ["[web]", f"Listen=127.0.0.1:{self.port}"]
        if tls:
            cert, key = os.path.join(self.dir, "cert.pem"), os.path.join(self.dir, "key.pem")
            subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                            "ec_paramgen_curve:P-256", "-nodes", "-days", "2", "-subj",
                            "/CN=localhost", "-keyout", key, "-out", cert],
                           check=True, capture_output=True)
            os.chmod(key, 0o600)
            lines += [f"CertFile={cert}", f"KeyFile={key}"]
        with open(self.config, "w") as f:
            f.write("\n".join(lines) + "\n")
        self.data = data
        for user, (role, password) in users.items():
            self.add_user(user, role, password)
        if before_start:
            before_start(self)
        self.log_path = os.path.join(self.dir, "collector.log")
        self.log_file = open(self.log_path, "w")
        self.base = f"{'https' if tls else 'http'}://127.0.0.1:{self.port}"
        self.start(read_timeout)

    def start(self, read_timeout=30):
        """Starts the collector (again) and waits until it has read every controller."""
        consoles = self.log().count("konsola: http")
        reads = self.log().count("odczytany (identyfikator")
        self.proc = subprocess.Popen([self.qta504d, "--config", self.config],
                                     stderr=self.log_file, stdout=subprocess.DEVNULL)
        wait_for("the console", lambda: self.log().count("konsola: http") > consoles, 15)
        wait_for("every controller read",
                 lambda: self.log().count("odczytany (identyfikator") >= reads + len(self.names),
                 read_timeout)

    def log(self):
        with open(self.log_path) as f:
            return f.read()

    def add_user(self, user, role, password):
        subprocess.run([self.qta504d, "--config", self.config, "--user", "add", user,
                        "--role", role], input=password + "\n", text=True, check=True,
                       capture_output=True)

    def remove_user(self, user):
        subprocess.run([self.qta504d, "--config", self.config, "--user", "del", user],
                       text=True, check=True, capture_output=True)

    def reload(self):
        self.proc.send_signal(signal.SIGHUP)

    def folder(self, name):
        return os.path.join(self.data, name)

    def connection(self):
        if self.tls:
            ctx = ssl.create_default_context()
            ctx.check_hostname = False
            ctx.verify_mode = ssl.CERT_NONE
            return http.client.HTTPSConnection("127.0.0.1", self.port, context=ctx, timeout=30)
        return http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)

    def request(self, method, path, body=None, headers=None):
        """(status, headers, body) of one request on a new connection."""
        c = self.connection()
        h = dict(headers or {})
        data = None
        if body is not None:
            data = body if isinstance(body, (bytes, str)) else json.dumps(body)
            h.setdefault("Content-Type", "application/json")
        c.request(method, path, body=data, headers=h)
        r = c.getresponse()
        out = (r.status, r.getheaders(), r.read())
        c.close()
        return out

    def sign_in(self, user, password):
        """(cookie value, csrf token, Set-Cookie) of a new session."""
        status, headers, body = self.request("POST", "/api/login",
                                             {"user": user, "password": password},
                                             {"Origin": self.base})
        if status != 200:
            raise AssertionError(f"sign-in of {user}: {status} {body!r}")
        set_cookie = dict(headers)["Set-Cookie"]
        cookie = re.match(r"qta_sesja=([0-9a-f]+)", set_cookie).group(1)
        return cookie, json.loads(body)["csrf"], set_cookie

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
        self.log_file.close()
        for s in self.sims.values():
            s.stop()
        self.tmp.cleanup()


def browser(width=1280, height=800):
    from selenium import webdriver
    from selenium.webdriver.chrome.options import Options
    from selenium.webdriver.chrome.service import Service
    o = Options()
    for a in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
              "--ignore-certificate-errors", f"--window-size={width},{height}",
              "--lang=pl-PL", "--disable-extensions", "--no-first-run"):
        o.add_argument(a)
    o.binary_location = CHROMIUM
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=o)


def sign_in_browser(driver, site, user, password):
    from selenium.webdriver.common.by import By
    driver.get(site.base + "/login")
    driver.find_element(By.ID, "user").send_keys(user)
    driver.find_element(By.ID, "password").send_keys(password)
    driver.find_element(By.ID, "submit").click()


def websocket_handshake(site, origin, cookie):
    """The status line of a WebSocket upgrade of /ws with `origin`."""
    raw = socket.create_connection(("127.0.0.1", site.port), timeout=10)
    if site.tls:
        ctx = ssl.create_default_context()
        ctx.check_hostname = False
        ctx.verify_mode = ssl.CERT_NONE
        raw = ctx.wrap_socket(raw)
    req = (f"GET /ws HTTP/1.1\r\nHost: 127.0.0.1:{site.port}\r\nUpgrade: websocket\r\n"
           "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
           f"Sec-WebSocket-Version: 13\r\nOrigin: {origin}\r\nCookie: qta_sesja={cookie}\r\n\r\n")
    raw.sendall(req.encode())
    data = b""
    while b"\r\n" not in data:
        chunk = raw.recv(4096)
        if not chunk:
            break
        data += chunk
    raw.close()
    return data.split(b"\r\n", 1)[0].decode()


def dbf_read(path):
    """(field names, rows as lists of stripped texts) of a dBase table."""
    import struct
    with open(path, "rb") as f:
        data = f.read()
    count, header, length = struct.unpack("<IHH", data[4:12])
    fields = []
    at, offset = 32, 1
    while data[at] != 0x0D:
        name = data[at:at + 11].split(b"\0")[0].decode()
        width = data[at + 16]
        fields.append((name, offset, width))
        offset += width
        at += 32
    rows = []
    for r in range(count):
        rec = data[header + r * length: header + (r + 1) * length]
        rows.append([rec[o:o + w].decode("cp1250").strip() for _, o, w in fields])
    return [n for n, _, _ in fields], rows


def dbf_append(path, rows):
    """Appends rows (dicts of field name to text) to a dBase table of text
    fields, as a test's seed of an event log."""
    import struct
    with open(path, "r+b") as f:
        data = bytearray(f.read())
        count, header, length = struct.unpack("<IHH", data[4:12])
        fields = []
        at = 32
        while data[at] != 0x0D:
            fields.append((data[at:at + 11].split(b"\0")[0].decode(), chr(data[at + 11]),
                           data[at + 16]))
            at += 32
        body = bytearray()
        for row in rows:
            rec = b" "
            for name, kind, width in fields:
                text = str(row.get(name, "")).encode("cp1250")[:width]
                rec += text.rjust(width, b" ") if kind == "N" else text.ljust(width, b" ")
            body += rec
        end = header + count * length
        data[end:] = body + b"\x1a"
        data[4:8] = struct.pack("<I", count + len(rows))
        f.seek(0)
        f.truncate()
        f.write(data)


def linia_rows(path, line=None):
    """(wall-clock ms, voltages or None) of every row of a line-voltage table:
    all nine, or the three of `line` (1..3)."""
    import struct
    with open(path, "rb") as f:
        data = f.read()
    count, header, length = struct.unpack("<IHH", data[4:12])
    first, n = (0, 9) if line is None else (3 * (line - 1), 3)
    fmt = struct.Struct("<xii" + "5s" * 9 + f"{length - 54}x")
    out = []
    for rec in fmt.iter_unpack(data[header:header + count * length]):
        volts = [int(v) if v.strip() else None for v in rec[2 + first:2 + first + n]]
        out.append(((rec[0] - 2440588) * 86400000 + rec[1], volts))
    return out
