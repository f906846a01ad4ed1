#!/usr/bin/env python3
"""Plays the user of one program on a private X display that has no window manager: answers
every message box with OK, waits until the main window is up and quiet, closes it the way a
window manager's close box does (WM_DELETE_WINDOW), answers the boxes of the shutdown and waits
for the process to end.

Usage: x11_user.py DISPLAY PID MAIN_WINDOW_TITLE [TITLE_NOT_TO_ANSWER ...]
Exit status 0 when the program ended within the time, 1 otherwise."""

import ctypes
import os
import sys
import time

xlib = ctypes.cdll.LoadLibrary("libX11.so.6")
Window = ctypes.c_ulong
Atom = ctypes.c_ulong


class XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", Window), ("message_type", Atom),
                ("format", ctypes.c_int), ("l", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("xclient", XClientMessageEvent), ("pad", ctypes.c_long * 24)]


class XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", Window), ("c_class", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int),
                ("backing_planes", ctypes.c_ulong), ("backing_pixel", ctypes.c_ulong),
                ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


xlib.XOpenDisplay.restype = ctypes.c_void_p
xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
xlib.XDefaultRootWindow.restype = Window
xlib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
xlib.XInternAtom.restype = Atom
xlib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
xlib.XQueryTree.argtypes = [ctypes.c_void_p, Window, ctypes.POINTER(Window), ctypes.POINTER(Window),
                            ctypes.POINTER(ctypes.POINTER(Window)), ctypes.POINTER(ctypes.c_uint)]
xlib.XGetWindowAttributes.argtypes = [ctypes.c_void_p, Window, ctypes.POINTER(XWindowAttributes)]
xlib.XGetWindowProperty.argtypes = [ctypes.c_void_p, Window, Atom, ctypes.c_long, ctypes.c_long, ctypes.c_int,
                                    Atom, ctypes.POINTER(Atom), ctypes.POINTER(ctypes.c_int),
                                    ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_ulong),
                                    ctypes.POINTER(ctypes.c_void_p)]
xlib.XSendEvent.argtypes = [ctypes.c_void_p, Window, ctypes.c_int, ctypes.c_long, ctypes.POINTER(XEvent)]
xlib.XFree.argtypes = [ctypes.c_void_p]
xlib.XFlush.argtypes = [ctypes.c_void_p]
xlib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]

IS_VIEWABLE = 2
CLIENT_MESSAGE = 33


def title(display, window, net_wm_name):
    actual_type, actual_format = Atom(), ctypes.c_int()
    count, after, data = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p()
    if xlib.XGetWindowProperty(display, window, net_wm_name, 0, 1024, 0, 0, ctypes.byref(actual_type),
                               ctypes.byref(actual_format), ctypes.byref(count), ctypes.byref(after),
                               ctypes.byref(data)) != 0 or not data.value:
        return ""
    text = ctypes.string_at(data.value, count.value).decode("utf-8", "replace")
    xlib.XFree(data)
    return text


def shown_windows(display, root, net_wm_name):
    root_return, parent = Window(), Window()
    children, count = ctypes.POINTER(Window)(), ctypes.c_uint()
    if not xlib.XQueryTree(display, root, ctypes.byref(root_return), ctypes.byref(parent),
                           ctypes.byref(children), ctypes.byref(count)):
        return []
    found = []
    for i in range(count.value):
        attributes = XWindowAttributes()
        if (xlib.XGetWindowAttributes(display, children[i], ctypes.byref(attributes))
                and attributes.map_state == IS_VIEWABLE and attributes.width > 1):
            found.append((children[i], title(display, children[i], net_wm_name)))
    if children:
        xlib.XFree(children)
    return found


def close(display, window, protocols, delete_window):
    event = XEvent()
    event.xclient.type = CLIENT_MESSAGE
    event.xclient.window = window
    event.xclient.message_type = protocols
    event.xclient.format = 32
    event.xclient.l[0] = delete_window
    xlib.XSendEvent(display, window, 0, 0, ctypes.byref(event))
    xlib.XFlush(display)


def running(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    # A child that ended but was not waited for yet is gone for this purpose.
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().split(")")[-1].split()[0] != "Z"
    except OSError:
        return False


def main():
    display_name, pid, main_title = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    left_alone = set(sys.argv[3:])
    display = xlib.XOpenDisplay(display_name.encode())
    if not display:
        print(f"cannot open display {display_name}", file=sys.stderr)
        return 1
    root = xlib.XDefaultRootWindow(display)
    net_wm_name = xlib.XInternAtom(display, b"_NET_WM_NAME", 0)
    protocols = xlib.XInternAtom(display, b"WM_PROTOCOLS", 0)
    delete_window = xlib.XInternAtom(display, b"WM_DELETE_WINDOW", 0)

    deadline = time.monotonic() + 90
    quiet_since = None
    main_closed = False
    answered = []
    while time.monotonic() < deadline and running(pid):
        windows = shown_windows(display, root, net_wm_name)
        boxes = [(w, t) for w, t in windows if t not in left_alone]
        for window, text in boxes:
            answered.append(text)
            close(display, window, protocols, delete_window)
        main = [w for w, t in windows if t == main_title]
        if boxes or not main:
            quiet_since = None
        elif quiet_since is None:
            quiet_since = time.monotonic()
        elif not main_closed and time.monotonic() - quiet_since > 1.5:
            close(display, main[0], protocols, delete_window)
            main_closed = True
        time.sleep(0.25)
    print(f"message boxes answered: {len(answered)}; main window closed: {main_closed}")
    if running(pid):
        print("the program did not end", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
