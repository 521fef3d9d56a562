"""Screenshots of the site console's pages from headless Chromium, against a
collector with three simulated controllers in typical states (one on its
second line, one with a tripped safety breaker, one whose link is lost):
    python3 console_shots.py QTA504D QTA504_SIM OUTDIR"""

import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from consolefixture import Site, browser, sign_in_browser, wait_for  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402

NAMES = ["N1-szpital", "N2-serwerownia", "N3-kotlownia"]
USERS = {"ala": ("admin", "haslo-ali-123"), "ewa": ("viewer", "haslo-ewy-12"),
         "jan": ("operator", "haslo-jana-1")}


def main():
    qta504d, sim, out = sys.argv[1:4]
    tables = os.path.join(os.path.dirname(qta504d), "qta504-tables")
    os.makedirs(out, exist_ok=True)

    def history(s):
        # Eight days of voltages behind N2-serwerownia, ending now.
        folder = s.folder("N2-serwerownia")
        subprocess.run([tables, "create", folder], check=True, capture_output=True)
        linia = os.path.join(folder, "rejestr", "linia.dbf")
        os.remove(linia)
        end = time.strftime("%Y-%m-%d %H:%M:%S")
        subprocess.run([tables, "generate", linia, "--rows", str(8 * 86400), "--end", end],
                       check=True, capture_output=True)
    site = Site(qta504d, sim, NAMES, USERS, before_start=history)
    d = browser(1280, 760)
    try:
        shot = lambda name: d.save_screenshot(os.path.join(out, name))  # noqa: E731
        d.get(site.base + "/login")
        sign_in_browser(d, site, "jan", "zle-haslo")
        wait_for("the refusal", lambda: d.find_element(By.ID, "error").text)
        shot("konsola-logowanie.png")
        d.delete_all_cookies()
        sign_in_browser(d, site, "ala", USERS["ala"][1])
        wait_for("tiles", lambda: len(d.find_elements(By.CSS_SELECTOR, ".tile")) == 3)
        site.sims["N2-serwerownia"].command("states 3 0 3")
        site.sims["N2-serwerownia"].command("active 3")
        site.sims["N1-szpital"].command("awaria 128")
        site.sims["N3-kotlownia"].stop()
        wait_for("the lost link", lambda: d.find_elements(By.CSS_SELECTOR, ".tile.link-lost"), 20)
        time.sleep(1)
        shot("konsola-przeglad.png")
        d.get(site.base + "/alarmy")
        wait_for("alarm rows", lambda: d.find_elements(By.CSS_SELECTOR, "#rows tr"))
        d.find_element(By.CSS_SELECTOR, '#rows tr[data-controller="N1-szpital"] button.ack').click()
        time.sleep(1)
        shot("konsola-alarmy.png")
        d.get(site.base + "/admin")
        wait_for("activity rows", lambda: d.find_elements(By.CSS_SELECTOR, "#activity tr"))
        time.sleep(0.5)
        shot("konsola-administracja.png")
        # A controller's page: the mimic of two programs, the event log, the configuration.
        site.sims["N2-serwerownia"].command("voltages 231 232 229 190 188 192 236 235 237")
        d.get(site.base + "/sterownik?n=N2-serwerownia#schemat")
        wait_for("the mimic", lambda: d.find_elements(By.CSS_SELECTOR, "#mimic img"))
        time.sleep(4)
        shot("konsola-schemat-prog1.png")
        site.sims["N1-szpital"].command("program 4")
        site.sims["N1-szpital"].command("active 3")
        site.sims["N1-szpital"].command("voltages 228 230 231 0 0 0 236 241 239")
        d.get(site.base + "/sterownik?n=N1-szpital#schemat")
        wait_for("the mimic of program 4",
                 lambda: d.find_element(By.ID, "mimic-caption").text.endswith("Generator"))
        time.sleep(4)
        shot("konsola-schemat-prog4.png")
        d.get(site.base + "/sterownik?n=N2-serwerownia#rejestr")
        wait_for("event rows", lambda: d.find_elements(By.CSS_SELECTOR, "#event-rows tr"))
        box = d.find_element(By.CSS_SELECTOR, "#event-rows tr input.remark")
        box.send_keys("Sprawdzone na miejscu – J. Kowalski")
        box.send_keys("\n")
        time.sleep(0.5)
        shot("konsola-rejestr.png")
        d.get(site.base + "/sterownik?n=N2-serwerownia#wykresy")
        for scale, name in ((3, "konsola-wykres-doba.png"), (4, "konsola-wykres-tydzien.png")):
            loads = d.execute_script("return document.getElementById('chart').dataset.loads || '0'")
            wait_for("the scale buttons", lambda: d.find_elements(By.CSS_SELECTOR, "#chart-scales button"))
            d.find_element(By.CSS_SELECTOR, f'#chart-scales button[data-scale="{scale}"]').click()
            wait_for("the chart", lambda: d.execute_script(
                "return document.getElementById('chart').dataset.loads") != loads, 30)
            time.sleep(0.5)
            shot(name)
        d.get(site.base + "/sterownik?n=N2-serwerownia#konfiguracja")
        wait_for("settings", lambda: d.find_elements(By.CSS_SELECTOR, "#config-groups h2"))
        shot("konsola-konfiguracja.png")
        d.delete_all_cookies()
        sign_in_browser(d, site, "ewa", USERS["ewa"][1])
        wait_for("tiles", lambda: d.find_elements(By.CSS_SELECTOR, ".tile"))
        d.get(site.base + "/alarmy")
        wait_for("alarm rows", lambda: d.find_elements(By.CSS_SELECTOR, "#rows tr"))
        time.sleep(0.5)
        shot("konsola-alarmy-podglad.png")
        d.get(site.base + "/")
        wait_for("tiles", lambda: d.find_elements(By.CSS_SELECTOR, ".tile"))
        site.proc.terminate()
        wait_for("the lost collector", lambda: d.find_element(By.ID, "lost").is_displayed(), 20)
        shot("konsola-utracone-polaczenie.png")
    finally:
        d.quit()
        site.stop()
    print(f"console screenshots in {out}")


if __name__ == "__main__":
    main()
