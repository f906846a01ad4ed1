#!/usr/bin/python3
"""Plays one exercise by the keyboard at a person's pace while Orca runs, and writes after each key
what Orca spoke (its debug output's SPEECH OUTPUT lines) and any failure of its speech handlers.
    orca-transcript.py japanese|english ORCA_DEBUG_FILE TRANSCRIPT
Qt 6.4 waits on the reader for every key, so keys are held as a person holds them (Alt 150 ms
before the menu's letter) and the next key waits until Orca has been quiet for a moment."""

import re
import subprocess
import sys
import time

EDITION, DEBUG, OUT = sys.argv[1], sys.argv[2], sys.argv[3]
MENU = "c" if EDITION == "english" else "s"
ITEM = "s" if EDITION == "english" else "n"
SCORE = "Score push button" if EDITION == "english" else "答え合わせ push button"
MAIN = "Velmora frame"
ADJUST = "tuning frame" if EDITION == "english" else "調整 frame"
RESULTS = "answer dialog" if EDITION == "english" else "正解表示 dialog"
transcript = open(OUT, "w")
read_to = 0


def spoken():
    global read_to
    try:
        with open(DEBUG, errors="replace") as f:
            f.seek(read_to)
            data = f.read()
            read_to = f.tell()
    except FileNotFoundError:
        return []
    said = re.findall(r"SPEECH OUTPUT: '(.*?)'", data)
    failures = [line.strip() for line in data.splitlines()
                if "bad content" in line or line.strip() in ("IndexError", "raise IndexError")]
    return said + ["!! " + f for f in failures]


def settle(quiet=1.2, limit=40):
    said, last, start = [], time.time(), time.time()
    while time.time() - start < limit:
        new = spoken()
        if new:
            said += new
            last = time.time()
        elif time.time() - last > quiet:
            break
        time.sleep(0.2)
    return said


def xdo(*args):
    subprocess.run(["xdotool", *args], check=True)


def press(key):
    if "+" in key:
        modifier, letter = key.split("+")
        modifier = {"alt": "Alt_L", "shift": "Shift_L", "insert": "KP_Insert"}[modifier]
        xdo("keydown", modifier)
        time.sleep(0.15)
        xdo("keydown", letter)
        time.sleep(0.08)
        xdo("keyup", letter)
        time.sleep(0.05)
        xdo("keyup", modifier)
    else:
        xdo("keydown", key)
        time.sleep(0.08)
        xdo("keyup", key)


def step(label, *keys, quiet=1.2):
    for key in keys:
        press(key)
        time.sleep(0.4)
    said = settle(quiet)
    line = f"[{label}] " + " | ".join(said)
    print(line, flush=True)
    transcript.write(line + "\n")
    transcript.flush()
    return " ".join(said)


def step_heard(label, key, expect, limit=30):
    """One key, then whatever Orca says until it says `expect` (a busy machine delays keys)."""
    said = step(label, key, quiet=3)
    deadline = time.time() + limit
    while expect not in said and time.time() < deadline:
        more = " ".join(settle(2))
        if more:
            print(f"[...] {more}", flush=True)
            transcript.write(f"[...] {more}\n")
        said += more
    return expect in said


def step_until(label, key, expect, tries=14):
    """The key again until what Orca said last of the windows and the score button is `expect`
    (speech a loaded machine delays must not send a key past it)."""
    landmarks = [MAIN, ADJUST, RESULTS, SCORE]
    for _ in range(tries):
        said = step(label, key, quiet=2.5)
        heard = [(said.rfind(mark), mark) for mark in landmarks if mark in said]
        if heard and max(heard)[1] == expect:
            return True
    print(f"!! never heard {expect!r}", flush=True)
    return False


time.sleep(2)
step("start", quiet=3)
step("F6", "F6")
step("Right", "Right")
step("Right", "Right")
step("Tab", "Tab")
step("Left", "Left")
step("Tab", "Tab")
step("Right", "Right")
step_until("F6", "F6", MAIN, 3)
step(f"Alt+{MENU.upper()} (settings menu, locked)", f"alt+{MENU}")
step("Down", "Down")
step("Down", "Down")
step(f"{ITEM.upper()} (the locked item's letter)", ITEM)
step("Escape", "Escape")
step("Escape", "Escape", quiet=1.5)
step_until("F6", "F6", ADJUST, 3)
step_until("Tab", "Tab", SCORE)
step_heard("Space (score)", "space", RESULTS)
step("Insert+KP_7 (flat review: top)", "insert+KP_Home")
for _ in range(16):
    step("KP_9 (next line)", "KP_Prior")
step_until("F6", "F6", MAIN, 3)
step(f"Alt+{MENU.upper()} (settings menu after scoring)", f"alt+{MENU}")
step("Down", "Down")
step("Down", "Down")
step("Escape", "Escape")
step("Escape", "Escape")
ok = step_until("F6", "F6", RESULTS, 3)
if ok:
    # A new exercise; a row changed while the results are hidden, then read when they show.
    step_heard("Alt+F4 (close results: new exercise)", "alt+F4", ADJUST)
    step("Right", "Right")
    ok = step_until("Tab", "Tab", SCORE) and step_heard("Space (score)", "space", RESULTS)
    step("Insert+KP_7 (flat review: top)", "insert+KP_Home")
    for _ in range(4):
        step("KP_9 (next line)", "KP_Prior")
sys.exit(0 if ok else 1)
