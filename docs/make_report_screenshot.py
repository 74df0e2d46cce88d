#!/usr/bin/env python3
"""Takes docs/report.png, the README's picture of a call's report page:
the sample call's page, opened in the headless Chromium that the browser
test drives (tests/tools/report/headless_chromium.py), zoomed to the
stream's lost packets, a moment into playing what was heard there.

    docs/make_report_screenshot.py build/tools/g729a data/sample_call.pcap docs/report.png
"""
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "tools", "report"))
import headless_chromium  # noqa: E402


def main(tool, capture, out):
    with tempfile.TemporaryDirectory(prefix="g729a-screenshot-") as scratch:
        page = os.path.join(scratch, "sample_call.html")
        subprocess.run([tool, "report", "-q", capture, page], check=True)
        browser = headless_chromium.start(os.path.join(scratch, "profile"), 1100, 1720)
        try:
            browser.get("file://" + page)
            time.sleep(1)
            mark = browser.find_element("css selector", "#stream-0 .mark-lost")
            mark.click()
            time.sleep(0.5)
            browser.execute_script("document.querySelectorAll('audio').forEach(a => a.pause()); window.scrollTo(0, 0)")
            browser.save_screenshot(out)
        finally:
            browser.quit()


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
