"""A controller's page in a real browser against a real collector with two
simulated controllers (plain HTTP on the loopback): the event log seeded
with 130 rows over 26 days, a page at a time, filtered by date, with
remarks; the configuration; bad input as a table of requests:
    python3 test_pages.py QTA504D QTA504_SIM QTA504_TABLES
The cases share one site and run in order."""

import os
import signal
import subprocess
import sys
import unittest
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from consolefixture import (Site, browser, dbf_append, dbf_read, linia_rows,  # noqa: E402
                            sign_in_browser, wait_for)

from selenium.common.exceptions import StaleElementReferenceException  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402

NAMES = ["N1-hala", "N2-biuro"]
USERS = {"jan": ("operator", "haslo-jana-1"), "ewa": ("viewer", "haslo-ewy-12")}
SEEDED = 130
CHART_ROWS = 30 * 86400
site = None
tables_tool = None


def seed(s):
    """N1's event log: 130 rows, five a day from 2026-10-01, the last one
    with the simulator's newest index so that nothing more is copied."""
    folder = s.folder(NAMES[0])
    subprocess.run([tables_tool, "create", folder], check=True, capture_output=True)
    rows = []
    for i in range(SEEDED):
        rows.append({"INDEKS": str((i - (SEEDED - 1) + 4) % 500),
                     "DATA": f"2026-10-{1 + i // 5:02d}", "CZAS": f"{(i % 5) * 4:02d}:{i % 60:02d}",
                     "ZDARZENIE": f"Zanik napięcia linii N1 – próba {i}", "UWAGI": "",
                     "N1_STATUS": "Linia kwalifikowana jako dobra"})
    dbf_append(os.path.join(folder, "rejestr", "rejestr.dbf"), rows)
    # Its voltage history: a month at one row a second, with stops and the
    # clock set back and forward.
    linia = os.path.join(folder, "rejestr", "linia.dbf")
    os.remove(linia)
    subprocess.run([tables_tool, "generate", linia, "--rows", str(CHART_ROWS), "--end",
                    "2026-10-26 23:59:59"], check=True, capture_output=True)


def table():
    names, rows = dbf_read(os.path.join(site.folder(NAMES[0]), "rejestr", "rejestr.dbf"))
    cols = [names.index(c) for c in ("DATA", "CZAS", "ZDARZENIE", "UWAGI")]
    return [[r[c] for c in cols] for r in rows]


def activity():
    with open(os.path.join(site.data, "aktywnosc.jsonl")) as f:
        return f.read()


def setUpModule():
    global site, tables_tool
    tables_tool = sys.argv[3]
    site = Site(sys.argv[1], sys.argv[2], NAMES, USERS, tls=False, before_start=seed)


def tearDownModule():
    if site:
        site.stop()


class ControllerPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.driver = browser()
        sign_in_browser(cls.driver, site, "jan", USERS["jan"][1])
        wait_for("the overview", lambda: cls.driver.find_elements(By.CSS_SELECTOR, ".tile"), 20)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()

    def shown_rows(self):
        # Read in one go: the rows are replaced whenever the log grows.
        return self.driver.execute_script("""
            return [...document.querySelectorAll('#event-rows tr')].map((tr) =>
              [...tr.cells].map((td, c) => c === 3 && td.querySelector('input')
                ? td.querySelector('input').value : td.textContent));""")

    def open_page(self, name, view):
        d = self.driver
        d.get("about:blank")
        d.get(f"{site.base}/sterownik?n={urllib.parse.quote(name)}#{view}")

    def wait_page(self, n):
        d = self.driver
        wait_for(f"event page {n}",
                 lambda: d.find_element(By.TAG_NAME, "body").get_attribute("data-events-page")
                 == str(n), 10)

    def test_1_event_log_pages_and_date_filter_show_the_tables_rows(self):
        d = self.driver
        def click():
            try:
                d.find_element(By.LINK_TEXT, NAMES[0]).click()
                return True
            except StaleElementReferenceException:  # the tile was replaced meanwhile
                return False
        wait_for("the tile's link", click)
        wait_for("the header", lambda: d.find_element(By.ID, "unit-name").text == NAMES[0], 10)
        self.assertIn("/sterownik?n=", d.current_url)
        wait_for("the link state", lambda: d.find_element(By.ID, "unit-link").text == "połączony")
        self.assertTrue(d.find_element(By.ID, "unit-id").text.startswith("ID "))
        d.find_element(By.LINK_TEXT, "Rejestr zdarzeń").click()
        self.wait_page(1)
        rows = table()
        self.assertEqual(len(rows), SEEDED)
        header = [th.text for th in d.find_elements(By.CSS_SELECTOR, "#event-columns th")]
        self.assertEqual(header, ["Data", "Czas", "Zdarzenie", "Uwagi"])
        # Newest first, 50 a page.
        self.assertEqual(self.shown_rows(), rows[::-1][:50])
        self.assertIn("strona 1 z 3", d.find_element(By.ID, "page-info").text)
        d.find_element(By.ID, "older").click()
        self.wait_page(2)
        self.assertEqual(self.shown_rows(), rows[::-1][50:100])
        d.find_element(By.ID, "older").click()
        self.wait_page(3)
        self.assertEqual(self.shown_rows(), rows[::-1][100:])
        self.assertFalse(d.find_element(By.ID, "older").is_enabled())
        # One day, and a period over three days.
        for od, do in (("2026-10-05", "2026-10-05"), ("2026-10-24", "2026-10-26")):
            d.execute_script("document.getElementById('od').value = arguments[0];"
                             "document.getElementById('do').value = arguments[1];", od, do)
            d.find_element(By.CSS_SELECTOR, "#event-filter button[type=submit]").click()
            expected = [r for r in rows[::-1] if od <= r[0] <= do]
            wait_for(f"rows of {od}..{do}", lambda: self.shown_rows() == expected, 10)
            self.assertEqual(len(expected), 5 if od == do else 15)

    def test_2_remark_typed_in_the_page_is_in_the_table_and_survives_a_kill(self):
        d = self.driver
        self.open_page(NAMES[0], "rejestr")
        self.wait_page(1)
        box = d.find_element(By.CSS_SELECTOR, f'#event-rows tr[data-row="{SEEDED - 3}"] input.remark')
        box.send_keys("Sprawdzono łącznik – żółć", Keys.ENTER)
        wait_for("the remark in rejestr.dbf",
                 lambda: table()[SEEDED - 3][3] == "Sprawdzono łącznik – żółć", 10)
        wait_for("the activity log's record",
                 lambda: '"action":"uwaga w rejestrze zdarzeń","object":"N1-hala: wiersz 128",'
                 '"result":"sukces","details":"Sprawdzono łącznik – żółć"' in activity())
        site.proc.send_signal(signal.SIGKILL)
        site.proc.wait(10)
        self.assertEqual(table()[SEEDED - 3][3], "Sprawdzono łącznik – żółć")
        site.start()
        # Sessions live in the collector's memory: sign in anew.
        sign_in_browser(d, site, "jan", USERS["jan"][1])
        wait_for("the overview", lambda: d.find_elements(By.CSS_SELECTOR, ".tile"), 20)
        self.open_page(NAMES[0], "rejestr")
        self.wait_page(1)
        self.assertEqual(self.shown_rows()[2][3], "Sprawdzono łącznik – żółć")

    def test_3_remark_the_table_cannot_hold_is_refused_as_the_window_refuses_it(self):
        d = self.driver
        self.open_page(NAMES[0], "rejestr")
        self.wait_page(1)
        before = table()
        box = d.find_element(By.CSS_SELECTOR, f'#event-rows tr[data-row="{SEEDED - 1}"] input.remark')
        box.send_keys("bez zmian ☺", Keys.ENTER)
        msg = d.find_element(By.ID, "remark-message")
        wait_for("the refusal", lambda: msg.is_displayed())
        self.assertEqual(msg.text, "Uwagi nie zapisano: znaku „☺” (na pozycji 11) nie da się "
                         "zapisać w rejestrze, który przechowuje tekst w stronie kodowej "
                         "Windows-1250; usuń go lub zastąp innym. Wpisany tekst pozostaje w "
                         "komórce do poprawienia.")
        # The text stays in its cell for correction; the table is as it was.
        self.assertEqual(box.get_attribute("value"), "bez zmian ☺")
        self.assertEqual(table(), before)
        wait_for("the refusal in the activity log",
                 lambda: '"result":"odmowa"' in activity().splitlines()[-1])

    def test_4_configuration_of_the_last_read(self):
        d = self.driver
        self.open_page(NAMES[1], "konfiguracja")
        wait_for("the groups", lambda: d.find_elements(By.CSS_SELECTOR, "#config-groups h2"), 10)
        titles = [h.text for h in d.find_elements(By.CSS_SELECTOR, "#config-groups h2")]
        self.assertEqual(titles, ["Napięcia", "Czasy", "Aparaty",
                                  "Tryb: program pracy, linia główna, zrzut obciążenia",
                                  "Dostosowanie"])
        pairs = dict(zip([e.text for e in d.find_elements(By.CSS_SELECTOR, "#config-groups dt")],
                         [e.text for e in d.find_elements(By.CSS_SELECTOR, "#config-groups dd")]))
        # The simulator's limits: 195 V, 253 V, hysteresis 8 V.
        self.assertEqual(pairs["U_Min linii N1"], "195 V")
        self.assertEqual(pairs["U_Max linii N3"], "253 V")
        self.assertIn("Ostatni pełny odczyt sterownika N2-biu", d.find_element(By.ID, "config-read").text)

    def test_5_csv_of_a_period_is_the_desktops_export(self):
        cookie, _, _ = site.sign_in("ewa", USERS["ewa"][1])
        status, headers, body = site.request(
            "GET", f"/api/events.csv?c={NAMES[0]}&od=2026-10-03&do=2026-10-04", None,
            {"Cookie": f"qta_sesja={cookie}"})
        self.assertEqual(status, 200)
        self.assertIn("attachment", dict(headers)["Content-Disposition"])
        desktop = subprocess.run(
            [tables_tool, "export", os.path.join(site.folder(NAMES[0]), "rejestr", "rejestr.dbf"),
             "--from", "2026-10-03", "--to", "2026-10-04"], check=True, capture_output=True).stdout
        self.assertEqual(body, desktop)
        self.assertEqual(body.count(b"\r\n"), 11)

    def test_6_bad_input_gets_a_clear_message_and_writes_nothing(self):
        op, csrf, _ = site.sign_in("jan", USERS["jan"][1])
        viewer, vcsrf, _ = site.sign_in("ewa", USERS["ewa"][1])
        n1 = urllib.parse.quote(NAMES[0])
        before = table()
        cases = [
            ("GET", "/api/events?c=N9", None, op, 404, "Nie ma sterownika „N9”"),
            ("GET", f"/api/events?c={n1}&od=2026-10-09&do=2026-10-01", None, op, 400,
             "Początek okresu (2026-10-09) przypada po jego końcu (2026-10-01)"),
            ("GET", f"/api/events?c={n1}&od=1.10.2026", None, op, 400,
             "Data „1.10.2026” (od) nie jest datą w postaci RRRR-MM-DD"),
            ("GET", f"/api/events?c={n1}&strona=4", None, op, 400,
             "Nie ma strony 4: w tym okresie rejestr ma 3 strony"),
            ("GET", f"/api/events?c={n1}&strona=0", None, op, 400, "Nie ma strony 0"),
            ("GET", f"/api/events?c={n1}&strona=x", None, op, 400, "Numer strony musi być liczbą"),
            ("GET", "/api/config?c=N9", None, op, 404, "Nie ma sterownika"),
            ("POST", "/api/remark", {"controller": NAMES[0], "row": 0, "text": "x" * 255}, op, 409,
             "uwaga ma 255 znaków, a pole mieści najwyżej 254; skróć ją o 1 znak"),
            ("POST", "/api/remark", {"controller": NAMES[0], "row": SEEDED, "text": "x"}, op, 400,
             "Nie ma wiersza 131 w rejestrze zdarzeń"),
            ("POST", "/api/remark", {"controller": "N9", "row": 0, "text": "x"}, op, 404,
             "Nie ma sterownika"),
            ("POST", "/api/remark", {"controller": NAMES[0], "row": 0, "text": "x"}, viewer, 403,
             "Brak uprawnień"),
        ]
        for method, path, body, cookie, status, text in cases:
            with self.subTest(path=path, body=body):
                token = csrf if cookie == op else vcsrf
                got, _, answer = site.request(method, path, body,
                                              {"Cookie": f"qta_sesja={cookie}", "Origin": site.base,
                                               "X-CSRF-Token": token})
                self.assertEqual(got, status, answer)
                self.assertIn(text, answer.decode())
        self.assertEqual(table(), before)


    def mimic(self):
        """(elements shown, readings, the list the collector sent) of the page's mimic."""
        return self.driver.execute_script("""
            const box = document.getElementById('mimic');
            const shown = [...box.children].filter((e) => !e.hidden).map((e) => e.dataset.name);
            const readings = Object.fromEntries([...box.querySelectorAll('.mimic-reading')]
              .map((e) => [e.dataset.name, e.textContent]));
            return [shown.sort(), readings, (box.dataset.shown || '').split(' ').sort(),
                    document.getElementById('mimic-caption').textContent];""")

    def test_7_mimic_follows_the_simulator_in_two_programs(self):
        d = self.driver
        sim = site.sims[NAMES[1]]
        self.open_page(NAMES[1], "schemat")
        sim.command("voltages 231 190 260 229 228 227 80 300 252")
        def readings_are(expected):
            shown, readings, sent, _ = self.mimic()
            return shown == sent and all(readings.get(k) == v for k, v in expected.items())
        wait_for("program 1's readings", lambda: readings_are(
            {"N1L1_U": "231V", "N1L2_U": "190V", "N1L3_U": "260V", "N2L1_U": "229V",
             "N3L1_U": "---", "N3L2_U": "+++", "N3L3_U": "252V"}), 10)
        shown, _, _, caption = self.mimic()
        self.assertEqual(caption, "Aktualny program: N1 + N2 + N3")
        # Vok against the limits read (195..253 V), the badges of state 3, N1 feeding.
        for name in ("N1L1_OK", "N1L2_OK_Off", "N1L3_OK_Off", "N3L1_OK_Off", "N3L3_OK",
                     "N1_Status_D", "N2_Status_D", "N3_Status_D", "N1_Aktywna", "N1_Wykres"):
            self.assertIn(name, shown)
        self.assertNotIn("Linie_OFF", shown)
        for img in d.find_elements(By.CSS_SELECTOR, "#mimic img:not([hidden])"):
            self.assertTrue(d.execute_script("return arguments[0].naturalWidth > 0", img),
                            img.get_attribute("src"))
        # Program 3 (two panels): N1 bad, N2 fed.
        sim.command("program 3")
        sim.command("states 0 3 3")
        sim.command("active 2")
        sim.command("voltages 120 121 122 240 241 242 230 230 230")
        wait_for("program 3's mimic", lambda: self.mimic()[3] == "Aktualny program: N1 + N2"
                 and readings_are({"N1L1_U": "120V", "N2L3_U": "242V"}), 10)
        shown, readings, _, _ = self.mimic()
        self.assertNotIn("N3L1_U", readings)
        for name in ("N1_Status_A", "N2_Status_D", "N2_Aktywna", "N1L1_OK_Off", "N2L1_OK"):
            self.assertIn(name, shown)
        self.assertNotIn("N1_Aktywna", shown)
        # Program 1 tests the link: with the controller silent the readings,
        # badges and the feeding picture go blank, the header says so.
        sim.command("program 1")
        wait_for("program 1 again", lambda: self.mimic()[3] == "Aktualny program: N1 + N2 + N3"
                 and "N1L1_U" in self.mimic()[0], 10)
        sim.command("silent on")
        wait_for("the blanking", lambda: "N1L1_U" not in self.mimic()[0], 30)
        shown = self.mimic()[0]
        self.assertFalse([n for n in shown if n.endswith("_U") or "_Status_" in n], shown)
        self.assertTrue(d.find_element(By.ID, "unit-link").text.startswith("brak połączenia"))
        sim.command("silent off")
        wait_for("the mimic back", lambda: "N1L1_U" in self.mimic()[0], 30)

    def test_8_chart_shows_each_columns_lowest_and_highest(self):
        d = self.driver
        t0 = 1789948800000  # 2026-09-21 00:00 wall time
        t1 = t0 + 40 * 86400000
        d.get("about:blank")
        d.get(f"{site.base}/sterownik?n={NAMES[0]}&od={t0}&do={t1}#wykresy")
        chart = wait_for("the chart's data", lambda: d.execute_script(
            "const b = document.getElementById('chart');"
            "return b.dataset.rows && [JSON.parse(b.dataset.rows), Number(b.dataset.columns)];"), 30)
        rows, width = chart
        self.assertGreater(len(rows), width // 3)
        # Every row of the table, column by column, for line N1.
        expect = {}
        all_rows = linia_rows(os.path.join(site.folder(NAMES[0]), "rejestr", "linia.dbf"), 1)
        for t, volts in all_rows:
            if not t0 <= t < t1:
                continue
            c = int((t - t0) / (t1 - t0) * width // 1)
            cell = expect.setdefault(c, [None, None, None])
            for k in range(3):
                v = volts[k]
                if v is None:
                    continue
                lo_hi = cell[k]
                cell[k] = (v, v) if lo_hi is None else (min(lo_hi[0], v), max(lo_hi[1], v))
        got = {}
        for row in rows:
            c = int((row[0] - t0) / (t1 - t0) * width // 1)
            got[c] = [None if b is None else (b[0], b[2]) for b in row[1:]]
        self.assertEqual(sorted(got), sorted(expect))
        for c in expect:
            self.assertEqual(got[c], expect[c], f"column {c}")
        # The page drew it: dygraphs made its canvas.
        self.assertTrue(d.find_elements(By.CSS_SELECTOR, "#chart canvas"))
        # At the present, scale 1 moves on by its period (5 s) with the new rows.
        d.find_element(By.ID, "chart-now").click()
        d.find_element(By.CSS_SELECTOR, '#chart-scales button[data-scale="1"]').click()
        at = lambda: int(d.execute_script(  # noqa: E731
            "return document.getElementById('chart').dataset.t1"))
        wait_for("the minute's chart", lambda: at() > t1, 10)
        start = at()
        wait_for("the chart moving on", lambda: at() >= start + 5000, 10)
        # The CSV of an hour: every row of it, in time order, as the desktop exports it.
        h0 = all_rows[CHART_ROWS // 2][0] // 3600000 * 3600000
        op, _, _ = site.sign_in("jan", USERS["jan"][1])
        status, _, body = site.request(
            "GET", f"/api/chart.csv?c={urllib.parse.quote(NAMES[0])}&linia=1&od={h0}"
            f"&do={h0 + 3599999}", None, {"Cookie": f"qta_sesja={op}"})
        self.assertEqual(status, 200, body[:200])
        lines = body.decode("utf-8-sig").split("\r\n")
        self.assertEqual(lines[0], "CZAS;N1L1;N1L2;N1L3")
        hour = sorted((t, v) for t, v in all_rows if h0 <= t < h0 + 3600000)
        self.assertGreater(len(hour), 1000)
        self.assertEqual(len([x for x in lines[1:] if x]), len(hour))
        self.assertEqual(lines[1].split(";")[1:], ["" if v is None else str(v) for v in hour[0][1]])

    def test_9_report_downloads_as_pdf_and_the_loop_goes_on_meanwhile(self):
        import threading
        import time
        op, _, _ = site.sign_in("jan", USERS["jan"][1])
        viewer, _, _ = site.sign_in("ewa", USERS["ewa"][1])
        path = f"/api/report?c={urllib.parse.quote(NAMES[0])}&od=2026-10-01&do=2026-10-31"
        got = {}
        worker = threading.Thread(target=lambda: got.update(answer=site.request(
            "GET", path, None, {"Cookie": f"qta_sesja={op}"})))
        worker.start()
        # While the report is drawn, the collector answers at once.
        waits = []
        while worker.is_alive() and len(waits) < 20:
            started = time.monotonic()
            status, _, _ = site.request("GET", f"/api/events?c={urllib.parse.quote(NAMES[0])}",
                                        None, {"Cookie": f"qta_sesja={op}"})
            waits.append(time.monotonic() - started)
            self.assertEqual(status, 200)
        worker.join(120)
        status, headers, body = got["answer"]
        self.assertEqual(status, 200, body[:300])
        self.assertEqual(dict(headers)["Content-Type"], "application/pdf")
        self.assertIn("raport-N1-hala-2026-10-01-2026-10-31.pdf",
                      dict(headers)["Content-Disposition"])
        pdf = os.path.join(site.dir, "raport.pdf")
        with open(pdf, "wb") as f:
            f.write(body)
        text = subprocess.run(["pdftotext", pdf, "-"], check=True, capture_output=True,
                              text=True).stdout
        self.assertIn("N1-hal", text)
        self.assertIn("2026-10-01 – 2026-10-31", text)
        if waits:
            self.assertLess(max(waits), 1.0, waits)
        self.assertIn('"action":"raport PDF","object":"N1-hala: 2026-10-01 – 2026-10-31",'
                      '"result":"sukces"', activity())
        # A viewer may not; a period backwards is refused before anything runs.
        for cookie, query, status, text in (
                (viewer, "od=2026-10-01&do=2026-10-31", 403, "Brak uprawnień"),
                (op, "od=2026-10-31&do=2026-10-01", 400, "Początek okresu (2026-10-31)")):
            got_status, _, answer = site.request(
                "GET", f"/api/report?c={urllib.parse.quote(NAMES[0])}&{query}", None,
                {"Cookie": f"qta_sesja={cookie}"})
            self.assertEqual(got_status, status)
            self.assertIn(text, answer.decode())


if __name__ == "__main__":
    args = sys.argv[:1] + sys.argv[4:]
    result = unittest.main(argv=args, verbosity=2, exit=False).result
    failed = len(result.failures) + len(result.errors)
    print(f"{result.testsRun - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)
