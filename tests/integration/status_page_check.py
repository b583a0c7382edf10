#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Loads the station's status page in headless Chromium and follows a listener joining and leaving.

Usage: status_page_check.py PAGE_URL LISTENER_PORT RADIO_NAME
Exit status 0 when the page behaved, 1 with the reason on standard error otherwise.
"""
import socket
import sys

from selenium.webdriver.support.ui import WebDriverWait

import browser_check


def main():
    url, listener_port, radio_name = sys.argv[1], int(sys.argv[2]), sys.argv[3]

    def check(driver, text):
        wait = WebDriverWait(driver, 20)
        graph_last = lambda: driver.find_element("id", "graph").get_attribute("data-last")
        wait.until(lambda d: text("name") == radio_name)
        wait.until(lambda d: text("state") == "On air" and text("count") == "0" and graph_last() == "0")
        listener = socket.create_connection(("127.0.0.1", listener_port))
        listener.sendall(b"KT-VandorixClient v30")
        wait.until(lambda d: text("count") == "1" and graph_last() == "1")
        rows = driver.find_elements("css selector", "#clients tr")
        if len(rows) != 1 or "127.0.0.1" not in rows[0].text:
            raise AssertionError("the listener list shows " + repr([r.text for r in rows]))
        listener.close()
        wait.until(lambda d: text("count") == "0" and graph_last() == "0")

    return browser_check.run("status page", url, check)


if __name__ == "__main__":
    sys.exit(main())
