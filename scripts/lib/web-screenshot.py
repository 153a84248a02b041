#!/usr/bin/env python3
"""Opens orvane-web's page in headless Chromium and saves a screenshot once
the loaded program has reached its middle (or, with --now, once live data is
shown). Used by scripts/demo.sh.

    web-screenshot.py URL FILE [--now] [--timeout SECONDS]
"""
import argparse
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from devtools import Browser  # noqa: E402

ap = argparse.ArgumentParser()
ap.add_argument("url")
ap.add_argument("file")
ap.add_argument("--now", action="store_true")
ap.add_argument("--timeout", type=float, default=180)
args = ap.parse_args()

browser = Browser()
try:
    tab = browser.open(args.url)
    tab.wait("window.orvane && window.orvane.statusCount > 0", 60, "live data on the page")
    if not args.now:
        tab.wait("(() => { const p = window.orvane.program;"
                 " return p && p.count > 1 && p.point >= Math.floor(p.count / 2); })()",
                 args.timeout, "the middle of the program")
    time.sleep(0.5)  # one more frame of the plot
    tab.screenshot(args.file)
finally:
    browser.close()
print(f"screenshot {args.file}")
