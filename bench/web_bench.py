#!/usr/bin/python3
"""Figures of the web page, measured in headless Chromium against the real
program and gateway (build/bin, or ORVANDEL_BIN_DIR): the time from a
channel change to the new channel's first picture, how far the picture
plays behind live, the gateway's CPU with one and with five viewers, the
time from a seek in a film to its picture, and how long a 60 s film takes
to download."""

import urllib.parse

import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../tests/web"))
os.environ.setdefault("ORVANDEL_BIN_DIR", os.path.join(os.path.dirname(os.path.abspath(__file__)), "../build/bin"))

import web_page_test as page  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402

SECONDS = float(os.environ.get("WEB_BENCH_SECONDS", "20"))


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def gateway_cpu(programs, seconds):
    before = cpu_seconds(programs.gateway.pid)
    time.sleep(seconds)
    return 100 * (cpu_seconds(programs.gateway.pid) - before) / seconds


def films(programs, browser):
    """Seeks in a transcoded 60 s film with detail and movement (640x480 at
    25 frames/s), then its download at medium quality."""
    folder = programs.folder.name + "/media/Films"
    os.makedirs(folder)
    subprocess.run(["ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i", "testsrc2=size=640x480:rate=25:duration=60",
                    "-f", "lavfi", "-i", "sine=frequency=440:duration=60", "-c:v", "mpeg4", "-q:v", "4", "-c:a",
                    "libmp3lame", f"{folder}/{page.FILM}"], check=True)
    path = urllib.parse.quote(f"{folder}/{page.FILM}", safe="")
    seeks = []
    for start in [5, 40, 20, 50, 10, 30]:
        pictures = browser.execute_script("return window.orvandel.firstPictures")
        asked = time.monotonic()
        browser.execute_script(f"location.hash = '#file/{path}?start={start}'")
        if not page.wait_for(lambda: browser.execute_script("return window.orvandel.firstPictures") > pictures,
                             10, 0.02):
            print(f"seek to {start} s showed no picture in 10 s")
            continue
        seeks.append(time.monotonic() - asked)
        time.sleep(1)
    print("seek to picture, s:", " ".join(f"{s:.2f}" for s in seeks),
          f"(median {statistics.median(seeks):.2f}, target <= 1.0)")

    # Medium quality (the default), through the page's own Download button
    # on the film's description.
    browser.execute_script("location.hash = ''")
    for name in [programs.folder.name + "/media", "Films", page.FILM]:
        page.wait_for(lambda: browser.execute_script(
            "return Array.from(document.querySelectorAll('#films-list button')).some((b) => b.textContent === arguments[0])",
            name), 10)
        browser.execute_script("Array.from(document.querySelectorAll('#films-list button'))"
                               ".find((b) => b.textContent === arguments[0]).click()", name)
    WebDriverWait(browser, 10).until(lambda b: b.find_element(By.ID, "download-file").is_displayed())
    asked = time.monotonic()
    browser.find_element(By.ID, "download-file").click()
    WebDriverWait(browser, 120).until(lambda b: b.find_element(By.ID, "download-link").is_displayed())
    took = time.monotonic() - asked
    print(f"download of a 60 s film at medium quality: {took:.1f} s, {took / 60:.2f} of its length "
          f"(target <= 0.25); {browser.find_element(By.ID, 'download-text').text}")


def main():
    programs = page.Programs()
    browser = page.start_browser()
    try:
        browser.get(programs.url)
        form = WebDriverWait(browser, 10).until(lambda b: b.find_element(By.ID, "login"))
        WebDriverWait(browser, 10).until(lambda b: form.is_displayed())
        form.find_element(By.NAME, "user").send_keys(page.USER)
        form.find_element(By.NAME, "password").send_keys(page.PASSWORD)
        form.find_element(By.CSS_SELECTOR, "button[type=submit]").click()
        WebDriverWait(browser, 40).until(lambda b: b.find_element(By.ID, "watch").is_displayed())

        def zap(channel):
            pictures = browser.execute_script("return window.orvandel.firstPictures")
            browser.execute_script(f"location.hash = '#live/{channel}'")
            page.wait_for(lambda: browser.execute_script("return window.orvandel.firstPictures") > pictures, 10)
            time.sleep(0.5)

        zap(5)
        # Every other change to channel 9, whose still colour bars fill the
        # server's chunks slowest.
        changes = [9, 13, 9, 3, 9, 5] * 3 + [9, 13]
        for channel in changes:
            zap(channel)
        zaps = browser.execute_script("return window.orvandel.zaps")[-len(changes):]
        for name, wanted in (("still channel 9", lambda c: c == 9), ("moving channels", lambda c: c != 9)):
            times = [zap["ms"] for zap, channel in zip(zaps, changes) if wanted(channel)]
            print(f"click to first picture, {name}, ms:", " ".join(f"{t:.0f}" for t in times))
            print(f"  median {statistics.median(times):.0f} ms, slowest {max(times):.0f} ms (target <= 1000)")

        for channel in (13, 9):
            zap(channel)
            time.sleep(3)
            behind = []
            for _ in range(int(SECONDS)):
                behind.append(browser.execute_script("return window.orvandel.behindLive()"))
                time.sleep(1)
            print(f"picture behind live on channel {channel} over {SECONDS:.0f} s: median "
                  f"{statistics.median(behind):.2f} s, most {max(behind):.2f} s (target <= 1.5)")

        zap(13)
        print(f"gateway CPU, 1 viewer: {gateway_cpu(programs, SECONDS):.2f} % of one core (target <= 1.5)")
        for _ in range(4):
            browser.switch_to.new_window("tab")
            browser.get(programs.url + "#live/5")
        time.sleep(5)
        print(f"gateway CPU, 5 viewers: {gateway_cpu(programs, SECONDS):.2f} % of one core (target <= 3)")
        for handle in browser.window_handles[1:]:
            browser.switch_to.window(handle)
            browser.close()
        browser.switch_to.window(browser.window_handles[0])
        films(programs, browser)
    finally:
        browser.quit()
        programs.close()


if __name__ == "__main__":
    main()
