# SPDX-License-Identifier: GPL-3.0-or-later
"""Runs a check of one of the station's pages in headless Chromium.

The check gets the driver and a function that reads an element's text by its id; whatever it raises,
and any error on the browser's console, fails it. Exit status 0 when the page behaved, 1 with the
reason and the page's start on standard error otherwise.
"""
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service


def run(label, url, check, extra_arguments=()):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for arg in ("--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                "--disable-background-networking", "--disable-dev-shm-usage") + tuple(extra_arguments):
        options.add_argument(arg)
    profile = tempfile.TemporaryDirectory()
    options.add_argument("--user-data-dir=" + profile.name)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    try:
        driver.get(url)
        check(driver, lambda element_id: driver.find_element("id", element_id).text)
        errors = [e for e in driver.get_log("browser") if e["level"] == "SEVERE"]
        if errors:
            raise AssertionError("console errors: " + repr(errors))
    except Exception as e:  # the reason goes to the test's output
        print("%s: %s: %s" % (label, type(e).__name__, e), file=sys.stderr)
        print(driver.page_source[:3000], file=sys.stderr)
        return 1
    finally:
        driver.quit()
    return 0
