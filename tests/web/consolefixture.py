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
        self.proc = subprocess.Popen(
            [binary, "--link", self.link, "--period", str(period), "--events", "5",
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

    def __init__(self, qta504d, sim, names, users, period=500, tls=True, read_timeout=30):
        self.qta504d = qta504d
        self.tmp = tempfile.TemporaryDirectory(prefix="qta-web-")
        self.dir = self.tmp.name
        self.names = names
        self.sims = {n: Sim(sim, self.dir, n, period) for n in names}
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
        self.log_path = os.path.join(self.dir, "collector.log")
        self.log_file = open(self.log_path, "w")
        self.proc = subprocess.Popen([qta504d, "--config", self.config],
                                     stderr=self.log_file, stdout=subprocess.DEVNULL)
        self.base = f"{'https' if tls else 'http'}://127.0.0.1:{self.port}"
        wait_for("the console", lambda: "konsola: http" in self.log(), 15)
        wait_for("every controller read",
                 lambda: self.log().count("odczytany (identyfikator") >= len(names), read_timeout)

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
