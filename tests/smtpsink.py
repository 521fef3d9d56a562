#!/usr/bin/python3
"""A mail server for the tests (Debian's python3-aiosmtpd) on 127.0.0.1.

Every message it accepts is written to DIR as NNNN.eml (the message as
received) with NNNN.json beside it (the envelope); every login attempt is a
line of DIR/auth.log ("ok USER" or "refused USER"). With --tls-cert and
--tls-key it requires STARTTLS; with --user it requires a login, whose
password it reads from --password-file.

    smtpsink.py --port P --dir DIR [--tls-cert C --tls-key K]
                [--user U --password-file F]
"""
import argparse
import json
import os
import signal
import ssl
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


class Sink:
    def __init__(self, folder):
        self.folder = folder
        self.count = len([n for n in os.listdir(folder) if n.endswith(".eml")])

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, "%04d" % self.count)
        with open(base + ".json.tmp", "w") as f:
            json.dump({"from": envelope.mail_from, "to": envelope.rcpt_tos}, f)
        os.rename(base + ".json.tmp", base + ".json")
        with open(base + ".eml.tmp", "wb") as f:
            f.write(envelope.original_content or envelope.content)
        os.rename(base + ".eml.tmp", base + ".eml")
        return "250 OK"


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--dir", required=True)
    p.add_argument("--tls-cert")
    p.add_argument("--tls-key")
    p.add_argument("--user")
    p.add_argument("--password-file")
    a = p.parse_args()
    os.makedirs(a.dir, exist_ok=True)

    kwargs = {}
    if a.tls_cert:
        ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        ctx.load_cert_chain(a.tls_cert, a.tls_key)
        kwargs.update(tls_context=ctx, require_starttls=True)
    if a.user:
        with open(a.password_file, "rb") as f:
            password = f.readline().rstrip(b"\r\n")
        log = os.path.join(a.dir, "auth.log")

        def authenticator(server, session, envelope, mechanism, data):
            ok = (isinstance(data, LoginPassword) and data.login == a.user.encode()
                  and data.password == password)
            user = data.login.decode(errors="replace") if isinstance(data, LoginPassword) else "?"
            with open(log, "a") as f:
                f.write("%s %s\n" % ("ok" if ok else "refused", user))
            return AuthResult(success=ok, handled=False)

        kwargs.update(authenticator=authenticator, auth_required=True,
                      auth_require_tls=bool(a.tls_cert))

    controller = Controller(Sink(a.dir), hostname="127.0.0.1", port=a.port, **kwargs)
    controller.start()
    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: done.set())
    signal.signal(signal.SIGINT, lambda *_: done.set())
    print("smtpsink: listening on 127.0.0.1:%d" % a.port, flush=True)
    done.wait()
    controller.stop()


if __name__ == "__main__":
    main()
