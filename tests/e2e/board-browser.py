#!/usr/bin/env python3
"""Headless Chromium on the results board: opens the address the program's board button opened,
pastes the program's report into the post form, posts it, and finds the post with the report's
score on the post's page and on the board. Screenshots of the board and of the post at 1x and 2x.
    board-browser.py ADDRESS REPORT_FILE SCORE SHOT_DIR
"""
import os
import sys

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions as ec
from selenium.webdriver.support.ui import WebDriverWait


def browser(scale):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1280,1400", f"--force-device-scale-factor={scale}", "--lang=ja"):
        options.add_argument(argument)
    options.add_experimental_option("prefs", {"intl.accept_languages": "ja,en"})
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def refused_by_policy(driver):
    """What the page's Content-Security-Policy blocked (a style sheet or chart that did not load)."""
    return [entry["message"] for entry in driver.get_log("browser") if "Content Security Policy" in entry["message"]]


def main():
    address, report_file, score, shot_dir = sys.argv[1:5]
    with open(report_file, encoding="utf-8", newline="") as f:
        report = f.read()
    failures = []

    driver = browser(1)
    try:
        wait = WebDriverWait(driver, 10)
        driver.get(address)
        wait.until(ec.presence_of_element_located((By.TAG_NAME, "main")))
        if driver.find_element(By.TAG_NAME, "html").get_attribute("lang") != "ja":
            failures.append("the board did not answer a Japanese browser in Japanese")
        driver.find_element(By.LINK_TEXT, "結果を投稿する").click()
        wait.until(ec.presence_of_element_located((By.ID, "report")))
        driver.find_element(By.ID, "name").send_keys("調律見習い")
        # Pasted, not typed: the clipboard's text as it is, CR LF and ideographic spaces included.
        driver.find_element(By.ID, "report").click()
        driver.execute_cdp_cmd("Input.insertText", {"text": report})
        driver.find_element(By.ID, "password").send_keys("消すときの合言葉")
        driver.find_element(By.CSS_SELECTOR, "form button[type=submit]").click()
        wait.until(ec.presence_of_element_located((By.CSS_SELECTOR, "dd.score")))
        post_url = driver.current_url
        shown = driver.find_element(By.CSS_SELECTOR, "dd.score").text
        print(f"posted: {post_url} shows score {shown}")
        if shown != score:
            failures.append(f"the post shows score {shown}, the report says {score}")
        notice = driver.find_element(By.CSS_SELECTOR, ".notice").text
        if "結果を投稿しました" not in notice:
            failures.append(f"no notice that the post was made: {notice!r}")
        if not driver.find_elements(By.CSS_SELECTOR, "figure svg"):
            failures.append("the post has no chart")
        driver.save_screenshot(os.path.join(shot_dir, "post-1x.png"))

        driver.get(address)
        rows = driver.find_elements(By.CSS_SELECTOR, "table.posts tbody tr")
        cells = [row.find_elements(By.TAG_NAME, "td") for row in rows]
        if not any(c and c[0].text == "調律見習い" and c[1].text == score for c in cells):
            failures.append(f"the board does not list 調律見習い with score {score}: {[r.text for r in rows]}")
        driver.save_screenshot(os.path.join(shot_dir, "board-1x.png"))
        failures += [f"blocked by the page's policy: {m}" for m in refused_by_policy(driver)]
    finally:
        driver.quit()

    driver = browser(2)
    try:
        driver.get(address)
        driver.save_screenshot(os.path.join(shot_dir, "board-2x.png"))
        driver.get(post_url)
        driver.save_screenshot(os.path.join(shot_dir, "post-2x.png"))
        failures += [f"blocked by the page's policy at 2x: {m}" for m in refused_by_policy(driver)]
    finally:
        driver.quit()

    for failure in failures:
        print(f"FAIL: {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
