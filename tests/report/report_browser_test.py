"""The reports of a simulated multi-sample run and of a failing extended
self-test, rendered by headless Chromium in a 1400 px window: no console
errors; the answers (verdict with reasons, violations by parameter with
first and last time, projection) above the charts and the failing samples
last; the plotted points per series, rates and counters included; threshold
lines at their values; charts side by side across the page; every label
inside its chart; on the self-test page the drive, the test that ran,
progress on 0-100 % held at 100 % and the drive's self-test log; and
screenshots of both pages that are not blank.

usage: report_browser_test.py READ_REPORT SELFTEST_REPORT SAMPLES SCREENSHOT
The self-test screenshot goes beside SCREENSHOT, "-selftest" before ".png".
"""
import io
import re
import sys

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

read_report, selftest_report, samples, screenshot = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
selftest_screenshot = re.sub(r"\.png$", "", screenshot) + "-selftest.png"
WIDTH = 1400
TIME = re.compile(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}")
failures = []


def check(condition, message):
    print(("ok: " if condition else "FAIL: ") + message)
    if not condition:
        failures.append(message)


def load(page):
    driver.set_window_size(WIDTH, 1200)
    driver.get("file://" + page)
    errors = [entry for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]
    check(not errors, "no console errors in %s: %s" % (page, errors))


def series():
    """Every series drawn: chart, name, points drawn and said, values of its points."""
    return {(d["chart"], d["series"]): d for d in driver.execute_script("""
        return Array.from(document.querySelectorAll('polyline.series')).map(p => {
            const svg = p.closest('svg'), d = svg.dataset;
            const value = y => Number(d.yMax) - (y - Number(d.plotTop)) / Number(d.plotHeight) * (d.yMax - d.yMin);
            return {chart: svg.id, series: p.dataset.series, points: p.points.numberOfItems,
                    said: Number(p.dataset.points),
                    values: Array.from(p.points).map(q => value(q.y))};});""")}


def check_thresholds(expected):
    lines = driver.execute_script("""
        return Array.from(document.querySelectorAll('line.threshold')).map(l => {
            const svg = l.closest('svg');
            return {chart: svg.id, name: l.dataset.threshold, value: Number(l.dataset.value),
                    y: l.y1.baseVal.value, min: Number(svg.dataset.yMin), max: Number(svg.dataset.yMax),
                    top: Number(svg.dataset.plotTop), height: Number(svg.dataset.plotHeight),
                    box: l.getBoundingClientRect().width};});""")
    for key, value in expected.items():
        line = next((l for l in lines if (l["chart"], l["name"]) == key), None)
        at = line and line["top"] + (line["max"] - value) / (line["max"] - line["min"]) * line["height"]
        check(line is not None and line["value"] == value and abs(line["y"] - at) < 0.5 and line["box"] > 100,
              "%s / %s line at %s (%s)" % (key[0], key[1], value, line))


def check_labels_inside():
    """No text of a chart stands out of its picture (a clipped "3000 m")."""
    outside = driver.execute_script("""
        const out = [];
        for (const svg of document.querySelectorAll('svg.chart')) {
            const box = svg.getBoundingClientRect();
            for (const t of svg.querySelectorAll('text')) {  // on screen, rotated labels included
                const b = t.getBoundingClientRect();
                if (b.left < box.left - 0.5 || b.top < box.top - 0.5 || b.right > box.right + 0.5 ||
                    b.bottom > box.bottom + 0.5) out.push(svg.id + ': ' + t.textContent);
            }
        }
        return out;""")
    check(not outside, "every chart label inside its chart: %s" % outside)


def top(selector):
    return driver.execute_script(
        "const e = document.querySelector(arguments[0]); return e ? e.getBoundingClientRect().top + scrollY : null;",
        selector)


def take_screenshot(path):
    height = driver.execute_script("return document.documentElement.scrollHeight")
    driver.set_window_size(WIDTH, height + 140)  # the window's frame beyond the page
    png = driver.get_screenshot_as_png()
    with open(path, "wb") as out:
        out.write(png)
    from PIL import Image
    image = Image.open(io.BytesIO(png)).convert("RGB")
    colours = image.getcolors(maxcolors=1 << 20) or []
    not_white = sum(count for count, colour in colours if colour != (255, 255, 255))
    check(len(colours) > 20 and not_white > image.width * image.height // 50,
          "screenshot %s is not blank: %d colours, %d coloured pixels" % (path, len(colours), not_white))


def check_read_report():
    load(read_report)
    drawn = series()
    for key in [("temperature", "Composite"), ("temperature", "sensor 1"), ("data", "read"), ("data", "written"),
                ("commands", "read"), ("wear", "available spare"), ("duration", "duration"),
                ("errors", "media errors"), ("errors", "error log entries"), ("errors", "unsafe shutdowns"),
                ("power-on-hours", "power-on hours"), ("critical-warnings", "no bit set")]:
        d = drawn.get(key)
        check(d is not None and d["points"] == d["said"] == samples,
              "%s / %s plots %s points of %d samples" % (key[0], key[1], d and d["points"], samples))
    for key in [("data-rate", "read"), ("data-rate", "written"), ("command-rate", "read"), ("command-rate", "written")]:
        d = drawn.get(key)
        check(d is not None and samples // 2 <= d["points"] == d["said"] < samples and min(d["values"]) > 0,
              "%s / %s: a rate of every sample apart from the one before (%s points)" % (key[0], key[1],
                                                                                        d and d["points"]))
    check_thresholds({("temperature", "warning"): 84, ("temperature", "critical"): 88,
                      ("wear", "spare threshold"): 10})

    rows = [r.text for r in driver.find_elements(By.CSS_SELECTOR, "#failures tr")][1:]
    check(len(rows) >= 1 and all("failed verify" in r for r in rows), "failing samples listed: %d" % len(rows))
    marks = driver.find_elements(By.CSS_SELECTOR, "svg#duration circle.failure")
    check(len(marks) == len(rows), "failing samples marked on the duration chart: %d" % len(marks))
    verdict = driver.find_element(By.CSS_SELECTOR, ".verdict").text
    check(verdict.startswith("FAIL (exit code 2"), "verdict shown: " + verdict)

    # The answers first: the grades with their reasons, ...
    health = driver.find_element(By.ID, "health-grade").text
    check(health.startswith("SUSPECT") and "Percentage Used 91 % is at or above 90 %" in health and
          "Media and Data Integrity Errors 1 is above 0" in health, "health grade with its reasons: %r" % health)
    temperature = driver.find_element(By.ID, "temp-grade").text
    check(temperature.startswith("SUSPECT") and "Warning Composite Temperature Time 3 Min" in temperature,
          "temperature grade with its reasons: %r" % temperature)
    # ... the violations by parameter with count, first and last time, ...
    cells = [c.text for c in driver.find_elements(By.CSS_SELECTOR, "#violations tr:nth-child(2) td")]
    check(len(cells) == 5 and cells[0] == "Composite Temperature" and cells[1] == str(len(rows)) and
          TIME.fullmatch(cells[2]) and TIME.fullmatch(cells[3]) and cells[2] < cells[3],
          "violations by parameter with count, first and last time: %s" % cells)
    # ... and the projection, which says when the run cannot tell.
    wear = driver.find_element(By.ID, "wear-projection").text
    check("stayed at 91 %" in wear and "too short" in wear, "wear projection says the run is too short: " + wear)
    written = driver.find_element(By.ID, "written-per-day").text
    check(re.match(r"[\d.]+ [kMGTPE]?B written per day \(", written) is not None, "data written per day: " + written)
    first_chart = top("svg.chart")
    order = [top(s) for s in ("#verdict", "#violations", "#projection")]
    check(all(t is not None and t < first_chart for t in order) and top("#failures") > top("svg#duration"),
          "verdict, violations and projection above the charts, failing samples below them: %s < %s" % (
              order, first_chart))

    # The page's width: charts side by side across the window.
    charts = driver.execute_script("""
        return Array.from(document.querySelectorAll('svg.chart')).map(s => {
            const r = s.getBoundingClientRect(); return [Math.round(r.left), Math.round(r.top), r.width];});""")
    rows_of_charts = {}
    for left, chart_top, width in charts:
        rows_of_charts.setdefault(chart_top, []).append(width)
    used = max(sum(widths) for widths in rows_of_charts.values())
    check(max(len(w) for w in rows_of_charts.values()) >= 2 and used > 0.8 * WIDTH,
          "charts side by side over %d of %d px" % (used, WIDTH))
    check_labels_inside()
    take_screenshot(screenshot)


def check_selftest_report():
    load(selftest_report)
    text = driver.find_element(By.TAG_NAME, "body").text
    subtitle = driver.find_element(By.CSS_SELECTOR, ".subtitle").text
    check(subtitle == "Extended device self-test of Quellix Self-test Failure 512GB, serial QLXSTFL0000000000003, "
                      "firmware SIM1.4.0", "the test that ran and the drive: " + subtitle)
    check(driver.find_element(By.ID, "test-type").text == "extended device self-test" and
          "Short device self-test" in text, "an extended test (-e) however the command file describes it")
    check("one or more failed segments" in driver.find_element(By.ID, "meaning").text, "the result in words")
    check("failing segment 3" in text and "failing lba" in text, "failing segment and LBA shown")

    progress = series().get(("progress", "complete"))
    axis = driver.execute_script("const d = document.querySelector('svg#progress').dataset; return [d.yMin, d.yMax];")
    check(axis == ["0", "100"], "progress drawn on 0-100 %%: %s" % axis)
    values = progress["values"] if progress else []
    check(len(values) >= 4 and abs(values[0]) < 0.01 and abs(values[-1] - 100) < 0.01 and
          all(b >= a - 0.01 for a, b in zip(values, values[1:])),
          "progress rises from 0 to 100 %% and holds there once complete: %s" % [round(v) for v in values])
    check_thresholds({("temperature", "warning"): 84, ("temperature", "critical"): 88})
    check_labels_inside()

    log = [[c.text for c in r.find_elements(By.TAG_NAME, "td")]
           for r in driver.find_elements(By.CSS_SELECTOR, "#selftest-log tr")][1:]
    check(len(log) == 3, "the drive's self-test log: %d entries" % len(log))
    if len(log) == 3:
        newest, short, aborted = log
        check(newest[1:3] == ["Extended Test", "Failed"] and newest[4] == "3" and newest[7] == "987,654,321" and
              re.fullmatch(r"[\d,]+", newest[5]), "newest entry: extended, failed in segment 3 at its LBA: %s" % newest)
        check(short[1:3] == ["Short Test", "Passed"] and short[5] == "2,300", "an earlier short test: %s" % short)
        check(aborted[2] == "Aborted" and "aborted by a Device Self-test command" in aborted[3],
              "an earlier aborted test: %s" % aborted)
    take_screenshot(selftest_screenshot)


options = Options()
for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--hide-scrollbars", "--window-size=%d,1200" % WIDTH):
    options.add_argument(flag)
options.binary_location = "/usr/bin/chromium"
options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
driver = webdriver.Chrome(service=Service(executable_path="/usr/bin/chromedriver"), options=options)
try:
    check_read_report()
    check_selftest_report()
finally:
    driver.quit()
sys.exit(1 if failures else 0)
