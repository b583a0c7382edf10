#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Opens the station's public page in headless Chromium, presses play and follows the title.

Usage: web_page_check.py PAGE_URL VANDORIXCTL REMOTE_PORT
The audio element's currentTime must advance within 3 s of the press (the burst lets the browser start
at once), the page must show the text that `vandorixctl info` sets, and the console must stay free of
errors. Exit status 0 when the page behaved, 1 with the reason on standard error otherwise.
"""
import subprocess
import sys
import time

from selenium.webdriver.support.ui import WebDriverWait

import browser_check


def main():
    url, ctl, remote_port = sys.argv[1], sys.argv[2], sys.argv[3]

    def check(driver, text):
        wait = WebDriverWait(driver, 20)
        wait.until(lambda d: text("state") == "On air")
        driver.find_element("id", "play").click()
        pressed = time.monotonic()
        current = lambda: driver.execute_script("return document.getElementById('audio').currentTime")
        WebDriverWait(driver, 20, poll_frequency=0.1).until(lambda d: current() > 0.2)
        started = time.monotonic() - pressed
        print("playing after %.1f s" % started, file=sys.stderr)
        if started > 3.0:
            raise AssertionError("the stream started %.1f s after play was pressed" % started)
        first = current()
        WebDriverWait(driver, 20).until(lambda d: current() > first + 1.0)
        subprocess.run([ctl, "--no-check", "--port", remote_port, "info", "Now the news"], check=True)
        wait.until(lambda d: text("now") == "Now the news")

    return browser_check.run("web page", url, check,
                             ("--disable-component-update", "--disable-sync",
                              "--autoplay-policy=no-user-gesture-required"))


if __name__ == "__main__":
    sys.exit(main())
