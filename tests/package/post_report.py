#!/usr/bin/env python3
"""Posts a report to a running board as a browser does and prints the new post's number:
    post_report.py http://127.0.0.1:PORT NAME REPORT_FILE
fetches the post form (keeping the cookie it sets and the form's token), sends the form, and
expects the 303 that leads to /posts/ID; then that page must show the name. Exits non-zero
with the board's answer otherwise."""
import http.client
import re
import sys
import urllib.parse


def main():
    base, name, report_file = sys.argv[1:4]
    url = urllib.parse.urlsplit(base)
    with open(report_file, "rb") as f:
        report = f.read().decode("utf-8")
    connection = http.client.HTTPConnection(url.hostname, url.port, timeout=10)

    connection.request("GET", "/post", headers={"Accept-Language": "en"})
    form = connection.getresponse()
    page = form.read().decode("utf-8")
    if form.status != 200:
        sys.exit(f"post form: {form.status}\n{page}")
    cookies = "; ".join(value.split(";")[0] for key, value in form.getheaders() if key.lower() == "set-cookie")
    token = re.search(r'name="csrf" value="([^"]+)"', page)
    if not token:
        sys.exit("post form without a token")

    body = urllib.parse.urlencode({"csrf": token.group(1), "name": name, "report": report,
                                   "password": "", "website": ""})
    connection.request("POST", "/post", body=body, headers={
        "Content-Type": "application/x-www-form-urlencoded", "Cookie": cookies, "Accept-Language": "en"})
    answer = connection.getresponse()
    answer_page = answer.read().decode("utf-8", "replace")
    location = answer.getheader("Location") or ""
    posted = re.match(r"/posts/(\d+)", location)
    if answer.status != 303 or not posted:
        sys.exit(f"post: {answer.status} {location}\n{answer_page}")

    connection.request("GET", f"/posts/{posted.group(1)}", headers={"Accept-Language": "en"})
    shown = connection.getresponse()
    shown_page = shown.read().decode("utf-8")
    if shown.status != 200 or name not in shown_page:
        sys.exit(f"/posts/{posted.group(1)}: {shown.status}, name {'shown' if name in shown_page else 'missing'}")
    print(posted.group(1))


if __name__ == "__main__":
    main()
