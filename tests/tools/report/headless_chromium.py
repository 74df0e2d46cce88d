"""The headless Chromium that opens report pages, for the browser test
(report_page_test.py) and for the README's screenshot
(docs/make_report_screenshot.py): the distribution's chromium and
chromedriver (or those G729A_CHROMIUM and G729A_CHROMEDRIVER name), a fresh
profile, nothing that reaches the network by itself, and players allowed to
play without a click."""
import os
import shutil

from selenium import webdriver
from selenium.webdriver.chrome.service import Service


def start(profile, width=1200, height=1600):
    options = webdriver.ChromeOptions()
    for a in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
              "--disable-background-networking", "--disable-component-update", "--disable-sync",
              "--disable-default-apps", "--autoplay-policy=no-user-gesture-required", "--mute-audio",
              "--hide-scrollbars", "--window-size=%d,%d" % (width, height), "--user-data-dir=" + profile]:
        options.add_argument(a)
    options.binary_location = os.environ.get("G729A_CHROMIUM") or shutil.which("chromium") or "/usr/bin/chromium"
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    driver = os.environ.get("G729A_CHROMEDRIVER") or shutil.which("chromedriver") or "/usr/bin/chromedriver"
    browser = webdriver.Chrome(options=options, service=Service(driver))
    browser.get("about:blank")
    return browser
