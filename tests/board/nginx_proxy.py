#!/usr/bin/env python3
"""The packaged nginx example in front of two board servers on one PostgreSQL, for real:
    nginx_proxy.py VELMORA_BOARD NGINX_EXAMPLE
run under tests/board/private-postgres.sh. The example is taken as an administrator would take it,
changed only where a test machine must differ (loopback ports, a self-signed certificate, a
private prefix); then, through nginx over TLS: posts land on either server and are seen on the
other; the learner's own X-Forwarded-For is replaced, so it buys no fresh rate limit and the
limit counts across both servers; a body over 16 KiB and a flood of requests are stopped by
nginx; plain HTTP is sent to HTTPS."""
import concurrent.futures
import http.client
import os
import re
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
REPORT = os.path.join(HERE, "..", "package", "board-report.txt")


def fail(message):
    sys.exit(f"nginx proxy: {message}")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_board(program, database, work, index):
    log = open(os.path.join(work, f"board-{index}.log"), "w+")
    process = subprocess.Popen([program, "--db", database, "--listen", "127.0.0.1:0", "--workers", "4",
                                "--trusted-proxy", "127.0.0.1", "--posts-per-minute", "2"],
                               stdout=subprocess.DEVNULL, stderr=log)
    for _ in range(300):
        log.seek(0)
        found = re.search(r"answering on http://127\.0\.0\.1:(\d+)", log.read())
        if found:
            return process, int(found.group(1)), log
        if process.poll() is not None:
            break
        time.sleep(0.1)
    log.seek(0)
    fail(f"a board server did not start: {log.read()}")


def nginx_config(example, work, boards, tls_port, plain_port):
    with open(example) as f:
        site = f.read()
    replacements = [
        ("server 127.0.0.1:8080;", f"server 127.0.0.1:{boards[0]};"),
        ("server 127.0.0.1:8081;", f"server 127.0.0.1:{boards[1]};"),
        ("listen 443 ssl http2;", f"listen 127.0.0.1:{tls_port} ssl http2;"),
        ("listen 80;", f"listen 127.0.0.1:{plain_port};"),
        ("/etc/ssl/certs/board.example.org.pem", f"{work}/cert.pem"),
        ("/etc/ssl/private/board.example.org.key", f"{work}/key.pem"),
    ]
    for old, new in replacements:
        if old not in site:
            fail(f"the example no longer has '{old}'")
        site = site.replace(old, new)
    site = "\n".join(line for line in site.split("\n") if "listen [::]" not in line)
    with open(os.path.join(work, "site.conf"), "w") as f:
        f.write(site)
    with open(os.path.join(work, "nginx.conf"), "w") as f:
        f.write(f"""worker_processes 1;
pid {work}/nginx.pid;
error_log {work}/error.log;
events {{ worker_connections 256; }}
http {{
    access_log {work}/access.log;
    client_body_temp_path {work}/body;
    proxy_temp_path {work}/proxy;
    fastcgi_temp_path {work}/fastcgi;
    uwsgi_temp_path {work}/uwsgi;
    scgi_temp_path {work}/scgi;
    include {work}/site.conf;
}}
""")


class Browser:
    """A browser speaking to nginx over TLS, keeping its cookies."""

    def __init__(self, port, forwarded_for=None):
        self.port = port
        self.forwarded_for = forwarded_for
        self.cookies = {}
        context = ssl.create_default_context()
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        self.context = context

    def request(self, method, path, body=None, headers=None):
        connection = http.client.HTTPSConnection("127.0.0.1", self.port, context=self.context, timeout=10)
        all_headers = {"Host": f"board.example.org:{self.port}", "Accept-Language": "en"}
        if self.cookies:
            all_headers["Cookie"] = "; ".join(f"{k}={v}" for k, v in self.cookies.items())
        if self.forwarded_for:
            all_headers["X-Forwarded-For"] = self.forwarded_for
        all_headers.update(headers or {})
        connection.request(method, path, body=body, headers=all_headers)
        response = connection.getresponse()
        text = response.read().decode("utf-8", "replace")
        for key, value in response.getheaders():
            if key.lower() == "set-cookie":
                name, _, rest = value.split(";")[0].partition("=")
                self.cookies[name] = rest
        connection.close()
        return response, text

    def post(self, name, report):
        form, page = self.request("GET", "/post")
        token = re.search(r'name="csrf" value="([^"]+)"', page)
        if form.status != 200 or not token:
            fail(f"no post form through nginx: {form.status}")
        body = urllib.parse.urlencode({"csrf": token.group(1), "name": name, "report": report,
                                       "password": "", "website": ""})
        return self.request("POST", "/post", body, {
            "Content-Type": "application/x-www-form-urlencoded",
            "Origin": f"https://board.example.org:{self.port}"})


def main():
    program, example = sys.argv[1], sys.argv[2]
    database = os.environ.get("VELMORA_TEST_POSTGRES")
    if not database:
        fail("run under tests/board/private-postgres.sh")
    with open(REPORT, "rb") as f:
        report = f.read().decode("utf-8")
    work = tempfile.mkdtemp(prefix="velmora-nginx-")
    os.chmod(work, 0o755)
    boards, nginx = [], None
    try:
        for index in range(2):
            boards.append(start_board(program, database, work, index))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                        "-subj", "/CN=board.example.org", "-keyout", f"{work}/key.pem", "-out", f"{work}/cert.pem"],
                       check=True, capture_output=True)
        tls_port, plain_port = free_port(), free_port()
        nginx_config(example, work, [b[1] for b in boards], tls_port, plain_port)
        checked = subprocess.run(["nginx", "-t", "-p", work, "-c", f"{work}/nginx.conf"], capture_output=True, text=True)
        if checked.returncode != 0:
            fail(f"nginx does not take the example: {checked.stderr}")
        nginx = subprocess.Popen(["nginx", "-p", work, "-c", f"{work}/nginx.conf", "-g", "daemon off;"],
                                 stderr=subprocess.PIPE)
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", tls_port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.1)

        # Two posts, each through nginx to one of the servers in turn; both visible on each. The
        # learner's made-up forwarded addresses do not reach the board: both count as one.
        learner = Browser(tls_port, forwarded_for="203.0.113.1")
        ids = []
        for serial, fake in enumerate(["203.0.113.1", "203.0.113.2"]):
            learner.forwarded_for = fake
            answer, page = learner.post(f"Proxied {serial}", report.replace("19:00:00", f"19:00:0{serial}")
                                        .replace("0:35:49", f"0:35:4{9 - serial}"))
            location = answer.getheader("Location") or ""
            if answer.status != 303 or not location.startswith("/posts/"):
                fail(f"post {serial} through nginx: {answer.status} {page[:300]}")
            ids.append(location.split("?")[0])
        for process, port, _ in boards:
            for path in ids:
                direct = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
                direct.request("GET", path)
                if direct.getresponse().status != 200:
                    fail(f"{path} is not on the server at port {port}")
        learner.forwarded_for = "203.0.113.3"
        answer, _ = learner.post("Proxied 3", report)
        if answer.status != 429:
            fail(f"a third post in a minute from one learner was answered {answer.status}, not 429")

        # What nginx stops before a board server sees it.
        answer, _ = learner.request("POST", "/post", "x" * (17 * 1024),
                                    {"Content-Type": "application/x-www-form-urlencoded"})
        if answer.status != 413:
            fail(f"a 17 KiB body was answered {answer.status}, not 413")
        # Past the burst of 40 faster than 20 a second: 16 kept-alive connections at once.
        def flood_one(_):
            connection = http.client.HTTPSConnection("127.0.0.1", tls_port, context=learner.context, timeout=10)
            seen = []
            for _ in range(10):
                connection.request("GET", "/style.css", headers={"Host": "board.example.org"})
                response = connection.getresponse()
                response.read()
                seen.append(response.status)
            connection.close()
            return seen
        with concurrent.futures.ThreadPoolExecutor(16) as pool:
            statuses = [status for seen in pool.map(flood_one, range(16)) for status in seen]
        if 429 not in statuses or 200 not in statuses:
            fail(f"a flood of 160 requests was not limited: {sorted(set(statuses))}")
        plain = http.client.HTTPConnection("127.0.0.1", plain_port, timeout=5)
        plain.request("GET", "/", headers={"Host": "board.example.org"})
        redirect = plain.getresponse()
        if redirect.status != 301 or not (redirect.getheader("Location") or "").startswith("https://"):
            fail(f"plain HTTP was answered {redirect.status}, not sent to HTTPS")
        print(f"nginx example: posts {', '.join(ids)} through TLS on both servers; forwarded address replaced "
              f"and limited across servers; 413 on 17 KiB; {statuses.count(429)} of 160 flood requests 429; 301 to HTTPS")
    finally:
        if nginx:
            nginx.terminate()
            nginx.wait(timeout=10)
        for process, _, log in boards:
            process.terminate()
            process.wait(timeout=10)
            log.close()
        subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
