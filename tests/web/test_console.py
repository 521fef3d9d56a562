"""The site console in a real browser against a real collector with three
simulated controllers (TLS with a given certificate):
    python3 test_console.py QTA504D QTA504_SIM
Each case names the behaviour it checks; they share one site and run in
order (the sign-in limit of the sixth case counts per address)."""

import glob
import json
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from consolefixture import Site, browser, sign_in_browser, wait_for, websocket_handshake  # noqa: E402

from selenium.common.exceptions import StaleElementReferenceException  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402

NAMES = ["N1-szpital", "N2-serwerownia", "N3-kotlownia"]
USERS = {"jan": ("operator", "haslo-jana-1"), "ewa": ("viewer", "haslo-ewy-12"),
         "ala": ("admin", "haslo-ali-123"), "ola": ("operator", "haslo-oli-123")}
site = None


def setUpModule():
    global site
    site = Site(sys.argv[1], sys.argv[2], NAMES, USERS)


def tearDownModule():
    if site:
        site.stop()


def tile_text(driver, name, cls):
    try:
        els = driver.find_elements(By.CSS_SELECTOR, f'.tile[data-name="{name}"] .{cls}')
        return els[0].text if els else None
    except StaleElementReferenceException:  # replaced by a newer tile meanwhile
        return None


def activity():
    with open(os.path.join(site.data, "aktywnosc.jsonl")) as f:
        return f.read()


class Console(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.driver = browser()

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()

    def fresh(self):
        self.driver.delete_all_cookies()

    def test_1_sign_in_refused_then_accepted_and_tiles_follow_the_active_line(self):
        d = self.driver
        self.fresh()
        d.get(site.base + "/")
        wait_for("the sign-in page", lambda: d.current_url.endswith("/login"))
        sign_in_browser(d, site, "jan", "zle-haslo")
        err = wait_for("the refusal", lambda: d.find_element(By.ID, "error").text)
        self.assertEqual(err, "Błędny login lub hasło")
        d.find_element(By.ID, "user").clear()
        sign_in_browser(d, site, "jan", USERS["jan"][1])
        wait_for("three tiles", lambda: len(d.find_elements(By.CSS_SELECTOR, ".tile")) == 3)
        for n in NAMES:
            wait_for("line N1 active", lambda n=n: tile_text(d, n, "active") == "Aktywna linia N1")
            wait_for("connected", lambda n=n: tile_text(d, n, "link-text") == "połączony")
        for s in site.sims.values():
            s.command("active 2")
        for n in NAMES:
            wait_for(f"{n} on N2", lambda n=n: tile_text(d, n, "active") == "Aktywna linia N2", 5)

    def test_2_breaker_trip_shows_within_2s_and_is_acknowledged_with_a_remark(self):
        d = self.driver
        d.get(site.base + "/alarmy")
        wait_for("the alarms page", lambda: d.find_elements(By.ID, "rows"))
        # The transfers of the first case wait for acknowledgement too.
        before = wait_for("the transfers counted", lambda: d.title.startswith("(3)") and d.title)
        site.sims["N1-szpital"].command("awaria 128")
        start = time.monotonic()
        sel = '#rows tr[data-controller="N1-szpital"][data-key="awaria7"]'
        row = wait_for("the breaker alarm", lambda: d.find_elements(By.CSS_SELECTOR, sel), 5, 0.02)
        shown = time.monotonic() - start
        self.assertLess(shown, 2.0, f"shown after {shown:.2f} s")
        self.assertIn("wyłącznika bezpieczeństwa", row[0].text)
        wait_for("the count in the title", lambda: d.title.startswith("(4)"), 2)
        self.assertTrue(before)
        d.find_element(By.ID, "remark").send_keys("sprawdzone na miejscu")
        row[0].find_element(By.CSS_SELECTOR, "button.ack").click()
        def acknowledged():
            try:
                return "jan (www)" in (d.find_elements(By.CSS_SELECTOR, sel) or [None])[0].text
            except (AttributeError, StaleElementReferenceException):  # none yet, or replaced
                return False
        wait_for("acknowledged", acknowledged, 5)
        from dbfread import DBF
        path = os.path.join(site.folder("N1-szpital"), "rejestr", "alarmy.dbf")

        def journaled():
            rows = list(DBF(path, encoding="cp1250", char_decode_errors="replace"))
            return [r for r in rows if r["KTO"].strip() == "jan (www)"]
        rows = wait_for("the row in alarmy.dbf", journaled, 5)
        self.assertEqual(rows[-1]["UWAGI"].strip(), "sprawdzone na miejscu")
        log = activity().splitlines()
        acks = [json.loads(x) for x in log if "potwierdzenie alarmu" in x]
        self.assertTrue(acks and acks[-1]["user"] == "jan" and acks[-1]["result"] == "sukces"
                        and acks[-1]["details"] == "sprawdzone na miejscu", acks)

    def test_3_viewer_sees_no_button_and_a_hand_made_post_is_refused(self):
        d = self.driver
        self.fresh()
        sign_in_browser(d, site, "ewa", USERS["ewa"][1])
        wait_for("the overview", lambda: d.find_elements(By.CSS_SELECTOR, ".tile"))
        d.get(site.base + "/alarmy")
        wait_for("the alarm rows", lambda: d.find_elements(By.CSS_SELECTOR, "#rows tr"))
        self.assertEqual(d.find_elements(By.CSS_SELECTOR, "#rows button"), [])
        self.assertEqual(d.find_elements(By.ID, "ack-all"), [])
        # The page's scripts ran through without an error.
        self.assertEqual([e for e in d.get_log("browser") if e["source"] == "javascript"], [])
        status = d.execute_async_script("""
            const done = arguments[arguments.length - 1];
            const s = await (await fetch('/api/session')).json();
            const r = await fetch('/api/ack-all', {method: 'POST',
                headers: {'Content-Type': 'application/json', 'X-CSRF-Token': s.csrf},
                body: JSON.stringify({controller: 'N1-szpital'})});
            done(r.status);""")
        self.assertEqual(status, 403)
        d.get(site.base + "/admin")
        self.assertIn("Brak uprawnień", d.page_source)

    def test_4_post_without_token_and_websocket_from_another_origin_are_refused(self):
        cookie, csrf, set_cookie = site.sign_in("jan", USERS["jan"][1])
        for flag in ("HttpOnly", "Secure", "SameSite=Strict", "Path=/"):
            self.assertIn(flag, set_cookie)
        self.assertEqual(len(cookie), 64)
        body = {"controller": "N2-serwerownia"}
        own = {"Cookie": f"qta_sesja={cookie}", "Origin": site.base}
        cases = [
            ("no token", {**own}, 403),
            ("wrong token", {**own, "X-CSRF-Token": "0" * 64}, 403),
            ("another origin", {**own, "X-CSRF-Token": csrf, "Origin": "https://evil.example"}, 403),
            ("no origin", {"Cookie": f"qta_sesja={cookie}", "X-CSRF-Token": csrf}, 403),
            ("no session", {"Origin": site.base, "X-CSRF-Token": csrf}, 401),
            ("token and origin", {**own, "X-CSRF-Token": csrf}, 200),
        ]
        for what, headers, want in cases:
            with self.subTest(what):
                status, _, _ = site.request("POST", "/api/ack-all", body, headers)
                self.assertEqual(status, want)
        status, headers, _ = site.request("GET", "/api/controller/nie-ma", None, own)
        self.assertEqual(status, 404)
        status, headers, _ = site.request("GET", "/api/session", None, own)
        h = dict(headers)
        self.assertEqual(h["Cache-Control"], "no-store")
        self.assertIn("frame-ancestors 'none'", h["Content-Security-Policy"])
        self.assertNotIn("unsafe-inline", h["Content-Security-Policy"])
        self.assertEqual(h["X-Content-Type-Options"], "nosniff")
        self.assertIn(" 403 ", websocket_handshake(site, "https://evil.example", cookie))
        self.assertIn(" 401 ", websocket_handshake(site, site.base, "f" * 64))
        self.assertIn(" 101 ", websocket_handshake(site, site.base, cookie))

    def test_5_sixth_failed_sign_in_is_delayed(self):
        times = []
        for _ in range(6):
            start = time.monotonic()
            status, _, body = site.request("POST", "/api/login",
                                           {"user": "ala", "password": "zle"},
                                           {"Origin": site.base})
            times.append(time.monotonic() - start)
            self.assertEqual(status, 401)
            self.assertEqual(json.loads(body)["error"], "Błędny login lub hasło")
        self.assertLess(max(times[:5]), 0.9, times)
        self.assertGreaterEqual(times[5], 0.95, times)
        # Locked: even the right password is told the same, after a longer wait.
        start = time.monotonic()
        status, _, body = site.request("POST", "/api/login",
                                       {"user": "ala", "password": USERS["ala"][1]},
                                       {"Origin": site.base})
        self.assertGreaterEqual(time.monotonic() - start, 1.9)
        self.assertEqual(status, 200)  # the wait over, the password is checked

    def test_6_session_ends_when_the_user_is_removed(self):
        d = self.driver
        self.fresh()
        sign_in_browser(d, site, "ola", USERS["ola"][1])
        wait_for("the overview", lambda: d.find_elements(By.CSS_SELECTOR, ".tile"), 20)
        cookie, _, _ = site.sign_in("ola", USERS["ola"][1])
        site.remove_user("ola")
        site.reload()
        wait_for("the page sent to sign in", lambda: d.current_url.endswith("/login"), 10)
        status, _, _ = site.request("GET", "/api/session", None, {"Cookie": f"qta_sesja={cookie}"})
        self.assertEqual(status, 401)
        self.assertIn("użytkownik usunięty", activity())


if __name__ == "__main__":
    args = sys.argv[:1] + sys.argv[3:]
    result = unittest.main(argv=args, verbosity=2, exit=False).result
    failed = len(result.failures) + len(result.errors)
    print(f"{result.testsRun - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)
