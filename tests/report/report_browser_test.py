"""The reports of a simulated multi-sample run and of a failing self-test,
rendered by headless Chromium: no console errors, the plotted points per
series, threshold lines at their values, the failing sample listed, and a
screenshot that is not blank.

usage: report_browser_test.py READ_REPORT SELFTEST_REPORT SAMPLES SCREENSHOT
"""
import io
import sys

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

read_report, selftest_report, samples, screenshot = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
failures = []


def check(condition, message):
    print(("ok: " if condition else "FAIL: ") + message)
    if not condition:
        failures.append(message)


options = Options()
for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--window-size=1000,2400"):
    options.add_argument(flag)
options.binary_location = "/usr/bin/chromium"
options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
driver = webdriver.Chrome(service=Service(executable_path="/usr/bin/chromedriver"), options=options)
try:
    driver.get("file://" + read_report)
    errors = [entry for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]
    check(not errors, "no console errors in the read report: %s" % errors)

    # Every series is drawn with as many points as it says, all samples here.
    drawn = driver.execute_script("""
        return Array.from(document.querySelectorAll('polyline.series')).map(p => ({
            chart: p.closest('svg').id, series: p.dataset.series,
            points: p.points.numberOfItems, said: Number(p.dataset.points)}));""")
    by_name = {(d["chart"], d["series"]): d for d in drawn}
    for key in [("temperature", "Composite"), ("temperature", "sensor 1"), ("data", "read"), ("data", "written"),
                ("commands", "read"), ("wear", "available spare"), ("duration", "duration")]:
        d = by_name.get(key)
        check(d is not None and d["points"] == d["said"] == samples,
              "%s / %s plots %s points of %d samples" % (key[0], key[1], d and d["points"], samples))

    # Threshold lines stand at their values on the value axis.
    lines = driver.execute_script("""
        return Array.from(document.querySelectorAll('line.threshold')).map(l => {
            const svg = l.closest('svg');
            return {chart: svg.id, name: l.dataset.threshold, value: Number(l.dataset.value),
                    y: l.y1.baseVal.value, min: Number(svg.dataset.yMin), max: Number(svg.dataset.yMax),
                    top: Number(svg.dataset.plotTop), height: Number(svg.dataset.plotHeight),
                    box: l.getBoundingClientRect().width};});""")
    expected = {("temperature", "warning"): 84, ("temperature", "critical"): 88, ("wear", "spare threshold"): 10}
    for key, value in expected.items():
        line = next((l for l in lines if (l["chart"], l["name"]) == key), None)
        at = line and line["top"] + (line["max"] - value) / (line["max"] - line["min"]) * line["height"]
        check(line is not None and line["value"] == value and abs(line["y"] - at) < 0.5 and line["box"] > 100,
              "%s line at %s (%s)" % (key[1], value, line))

    rows = [r.text for r in driver.find_elements(By.CSS_SELECTOR, "#failures tr")][1:]
    check(len(rows) >= 1 and all("failed verify" in r for r in rows), "failing samples listed: %d" % len(rows))
    marks = driver.find_elements(By.CSS_SELECTOR, "svg#duration circle.failure")
    check(len(marks) == len(rows), "failing samples marked on the duration chart: %d" % len(marks))
    grouped = driver.find_element(By.CSS_SELECTOR, "table.grouped").text
    check("Composite Temperature" in grouped, "rule violations grouped by parameter")
    verdict = driver.find_element(By.CSS_SELECTOR, ".verdict").text
    check(verdict.startswith("FAIL (exit code 2"), "verdict shown: " + verdict)

    png = driver.get_screenshot_as_png()
    with open(screenshot, "wb") as out:
        out.write(png)
    from PIL import Image
    image = Image.open(io.BytesIO(png)).convert("RGB")
    colours = image.getcolors(maxcolors=1 << 20) or []
    not_white = sum(count for count, colour in colours if colour != (255, 255, 255))
    check(len(colours) > 20 and not_white > image.width * image.height // 50,
          "screenshot is not blank: %d colours, %d coloured pixels" % (len(colours), not_white))

    driver.get("file://" + selftest_report)
    errors = [entry for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]
    check(not errors, "no console errors in the self-test report: %s" % errors)
    text = driver.find_element(By.TAG_NAME, "body").text
    check("one or more failed segments" in driver.find_element(By.ID, "meaning").text, "the result in words")
    check("failing segment 3" in text and "failing lba" in text, "failing segment and LBA shown")
    progress = driver.execute_script(
        "const p = document.querySelector('svg#progress polyline.series'); return p ? p.points.numberOfItems : 0;")
    check(progress >= 2, "progress plotted: %d points" % progress)
finally:
    driver.quit()
sys.exit(1 if failures else 0)
