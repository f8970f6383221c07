#!/usr/bin/env python3
"""Test servers for Palisk: a kit server (HTTP and HTTPS), the management-server endpoints and
a forward proxy, all on ephemeral loopback ports, recording every request.

    kitserver.py --root TREE --ready-file ports.json [--record requests.jsonl]
                 [--rules rules.json] [--proxy] [--proxy-auth user:password]

ports.json gets {"http": port, "https": port, "proxy": port}. Rules can also be set while
running: POST /__control/rules with a JSON list (POST /__control/rules/add appends to them);
GET /__control/requests returns the records; POST /__control/reset forgets them. A path
"/v/<tag>/<file>" serves <file>: tests sharing one server keep their requests apart by tag.

A rule: {"path": regex (matched against the path), "method": "GET"|"POST" (optional),
         "status": code, "close_after": bytes, "reset_after": bytes, "stall": seconds,
         "delay": seconds, "content_length": claimed length, "first": n (only the first n
         matching requests), "body": text, "trickle": [bytes, seconds] (the body sent in
         pieces of that many bytes, that many seconds apart)}
Management endpoints: GET /mgmt/install/<state>/<error> (install link) and POST /mgmt/status
(status link, form field "json"); both answer "OK" and are recorded like every request.
"""
import argparse
import http.server
import json
import os
import re
import select
import socket
import socketserver
import ssl
import struct
import subprocess
import threading
import time
import urllib.parse

HOST_ALIASES = {"origin.test": "127.0.0.1", "kits.test": "127.0.0.1"}


class Recorder:
    def __init__(self, path=None):
        self.lock = threading.Lock()
        self.records = []
        self.path = path

    def add(self, record):
        with self.lock:
            record["seq"] = len(self.records)
            self.records.append(record)
            if self.path:
                with open(self.path, "a", encoding="utf-8") as f:
                    f.write(json.dumps(record) + "\n")

    def all(self):
        with self.lock:
            return list(self.records)

    def reset(self):
        with self.lock:
            self.records = []


class Rules:
    def __init__(self, rules=None):
        self.lock = threading.Lock()
        self.set(rules or [])

    def set(self, rules):
        with self.lock:
            self.rules = [dict(rule, _hits=0) for rule in rules]

    def add(self, rules):
        with self.lock:
            self.rules += [dict(rule, _hits=0) for rule in rules]

    def match(self, method, path):
        with self.lock:
            for rule in self.rules:
                if "method" in rule and rule["method"] != method:
                    continue
                if not re.search(rule.get("path", ""), path):
                    continue
                rule["_hits"] += 1
                if "first" in rule and rule["_hits"] > rule["first"]:
                    continue
                return dict(rule)
        return None


class KitHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Headers and body go out in separate writes: with Nagle's algorithm each small answer on a
    # kept-alive connection would wait for the client's delayed ACK (~40 ms).
    disable_nagle_algorithm = True
    server_version = "PaliskKitServer/1.0"

    def log_message(self, *args):
        pass

    # Both origin-form and absolute-URI request lines (what proxies and Wine's tunnels send).
    def split_target(self):
        target = self.path
        if target.startswith("http://") or target.startswith("https://"):
            parsed = urllib.parse.urlsplit(target)
            return parsed.path or "/", parsed.query
        parsed = urllib.parse.urlsplit(target)
        return parsed.path, parsed.query

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def record(self, path, query, body):
        form = {}
        if body and "application/x-www-form-urlencoded" in (self.headers.get("Content-Type") or ""):
            form = {k: v for k, v in urllib.parse.parse_qsl(body.decode("utf-8", "replace"), keep_blank_values=True)}
        self.server.recorder.add({
            "server": self.server.kind, "method": self.command, "target": self.path, "path": path,
            "query": query, "headers": dict(self.headers.items()), "form": form,
            "raw_body": body.decode("utf-8", "replace"), "time": time.time()})

    def do_GET(self):
        self.handle_request()

    def do_POST(self):
        self.handle_request()

    def do_HEAD(self):
        self.handle_request()

    def handle_request(self):
        path, query = self.split_target()
        body = self.read_body()
        if path.startswith("/__control/"):
            return self.control(path, body)
        self.record(path, query, body)
        rule = self.server.rules.match(self.command, path)
        if rule and rule.get("delay"):
            time.sleep(rule["delay"])
        if rule and rule.get("stall"):
            time.sleep(rule["stall"])
            self.close_connection = True
            return
        if path.startswith("/mgmt/"):
            return self.send_payload(b"OK", rule)
        if rule and "status" in rule:
            text = rule.get("body", "fault %d" % rule["status"]).encode()
            return self.send_payload(text, rule, status=rule["status"])
        relative = urllib.parse.unquote(path).lstrip("/")
        if relative.startswith("v/") and relative.count("/") >= 2:
            relative = relative.split("/", 2)[2]
        local = os.path.normpath(os.path.join(self.server.root, relative))
        if not local.startswith(os.path.normpath(self.server.root)) or not os.path.isfile(local):
            return self.send_payload(b"not found", rule, status=404)
        with open(local, "rb") as f:
            self.send_payload(f.read(), rule)

    def send_payload(self, data, rule, status=200):
        claimed = rule.get("content_length", len(data)) if rule else len(data)
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(claimed))
        self.end_headers()
        if self.command == "HEAD":
            return
        cut = None
        if rule and "close_after" in rule:
            cut = ("close", rule["close_after"])
        if rule and "reset_after" in rule:
            cut = ("reset", rule["reset_after"])
        if cut is None and rule and rule.get("trickle"):
            piece, pause = rule["trickle"]
            data = data[:claimed]
            for at in range(0, len(data), piece):
                self.wfile.write(data[at:at + piece])
                self.wfile.flush()
                if at + piece < len(data):
                    time.sleep(pause)
            return
        if cut is None:
            self.wfile.write(data[:claimed] if claimed < len(data) else data)
            if claimed > len(data):
                self.close_connection = True  # a claimed length never delivered
            return
        self.wfile.write(data[:cut[1]])
        self.wfile.flush()
        if cut[0] == "reset":
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.close_connection = True

    def control(self, path, body):
        if path == "/__control/requests":
            data = json.dumps(self.server.recorder.all()).encode()
        elif path == "/__control/rules":
            self.server.rules.set(json.loads(body or b"[]"))
            data = b"OK"
        elif path == "/__control/rules/add":
            self.server.rules.add(json.loads(body or b"[]"))
            data = b"OK"
        elif path == "/__control/reset":
            self.server.recorder.reset()
            data = b"OK"
        else:
            data = b"unknown"
        self.send_response(200)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)


class KitHttpServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, kind, root, recorder, rules, ssl_context=None):
        super().__init__(("127.0.0.1", 0), KitHandler)
        self.kind, self.root, self.recorder, self.rules = kind, root, recorder, rules
        if ssl_context is not None:
            self.socket = ssl_context.wrap_socket(self.socket, server_side=True)

    def handle_error(self, request, client_address):
        pass  # clients that hang up mid-transfer are part of the tests


class ProxyHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    disable_nagle_algorithm = True

    def log_message(self, *args):
        pass

    def authorised(self):
        expected = self.server.auth
        if not expected:
            return True
        import base64
        header = self.headers.get("Proxy-Authorization", "")
        token = "Basic " + base64.b64encode(expected.encode()).decode()
        if header == token:
            return True
        self.send_response(407)
        self.send_header("Proxy-Authenticate", 'Basic realm="palisk-test"')
        self.send_header("Content-Length", "0")
        self.end_headers()
        return False

    def record(self):
        self.server.recorder.add({"server": "proxy", "method": self.command, "target": self.path,
                                  "headers": dict(self.headers.items()), "time": time.time()})

    def failing(self):
        mode = self.server.failure
        if mode == "refuse":
            self.close_connection = True
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            return True
        if mode and mode.startswith("status:"):
            self.send_response(int(mode.split(":")[1]))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return True
        return False

    @staticmethod
    def resolve(host):
        return HOST_ALIASES.get(host, host)

    def do_CONNECT(self):
        self.record()
        if self.failing() or not self.authorised():
            return
        host, _, port = self.path.rpartition(":")
        try:
            upstream = socket.create_connection((self.resolve(host), int(port)), timeout=10)
        except OSError:
            self.send_response(502)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        self.send_response(200, "Connection established")
        self.end_headers()
        self.relay(self.connection, upstream)
        self.close_connection = True

    def relay(self, a, b):
        sockets = [a, b]
        try:
            while True:
                readable, _, _ = select.select(sockets, [], [], 30)
                if not readable:
                    return
                for s in readable:
                    data = s.recv(65536)
                    if not data:
                        return
                    (b if s is a else a).sendall(data)
        except OSError:
            return
        finally:
            b.close()

    def forward(self):
        self.record()
        if self.failing() or not self.authorised():
            return
        parsed = urllib.parse.urlsplit(self.path)
        if not parsed.hostname:
            self.send_response(400)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        try:
            upstream = socket.create_connection((self.resolve(parsed.hostname), parsed.port or 80), timeout=30)
        except OSError:
            self.send_response(502)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        lines = ["%s %s HTTP/1.1" % (self.command, self.path)]
        for name, value in self.headers.items():
            if name.lower() not in ("proxy-authorization", "proxy-connection", "connection"):
                lines.append("%s: %s" % (name, value))
        lines.append("Connection: close")
        upstream.sendall(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1") + body)
        try:
            while True:
                data = upstream.recv(65536)
                if not data:
                    break
                self.connection.sendall(data)
        except OSError:
            pass
        upstream.close()
        self.close_connection = True

    do_GET = forward
    do_POST = forward
    do_HEAD = forward


class ProxyServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, recorder, auth=None, failure=None):
        super().__init__(("127.0.0.1", 0), ProxyHandler)
        self.recorder, self.auth, self.failure = recorder, auth, failure

    def handle_error(self, request, client_address):
        pass


def server_certificate(folder):
    """A self-signed certificate for 127.0.0.1, origin.test and kits.test (made once)."""
    crt, key = os.path.join(folder, "server.crt"), os.path.join(folder, "server.key")
    if not os.path.exists(crt):
        os.makedirs(folder, exist_ok=True)
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", crt,
                        "-days", "3650", "-subj", "/CN=127.0.0.1",
                        "-addext", "subjectAltName=IP:127.0.0.1,DNS:origin.test,DNS:kits.test,DNS:localhost"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return crt, key


class Servers:
    """Kit server over HTTP and HTTPS plus an optional proxy, in this process's threads."""

    def __init__(self, root, cert_folder, record_path=None, rules=None, proxy=False, proxy_auth=None,
                 proxy_failure=None, bad_proxy=False):
        self.recorder = Recorder(record_path)
        self.rules = Rules(rules)
        self.http = KitHttpServer("http", root, self.recorder, self.rules)
        crt, key = server_certificate(cert_folder)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.maximum_version = ssl.TLSVersion.TLSv1_2  # what Wine's WinHTTP speaks
        context.load_cert_chain(crt, key)
        self.https = KitHttpServer("https", root, self.recorder, self.rules, context)
        self.proxy = ProxyServer(self.recorder, proxy_auth, proxy_failure) if proxy else None
        self.bad_proxy = ProxyServer(self.recorder, None, "refuse") if bad_proxy else None
        self.threads = []
        for server in filter(None, (self.http, self.https, self.proxy, self.bad_proxy)):
            thread = threading.Thread(target=server.serve_forever, daemon=True)
            thread.start()
            self.threads.append(thread)

    @property
    def ports(self):
        ports = {"http": self.http.server_address[1], "https": self.https.server_address[1]}
        if self.proxy:
            ports["proxy"] = self.proxy.server_address[1]
        if self.bad_proxy:
            ports["bad_proxy"] = self.bad_proxy.server_address[1]
        return ports

    def url(self, kind="http", host="127.0.0.1"):
        return "%s://%s:%d/" % (kind, host, self.ports[kind])

    def requests(self, server=None):
        return [r for r in self.recorder.all() if server is None or r["server"] == server]

    def close(self):
        for server in filter(None, (self.http, self.https, self.proxy, self.bad_proxy)):
            server.shutdown()
            server.server_close()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", required=True)
    parser.add_argument("--ready-file", required=True)
    parser.add_argument("--cert-folder", default=None)
    parser.add_argument("--record")
    parser.add_argument("--rules")
    parser.add_argument("--proxy", action="store_true")
    parser.add_argument("--proxy-auth")
    parser.add_argument("--proxy-failure")
    parser.add_argument("--bad-proxy", action="store_true", help="also a proxy that refuses every connection")
    args = parser.parse_args()
    rules = json.load(open(args.rules)) if args.rules else []
    servers = Servers(args.root, args.cert_folder or os.path.join(args.root, ".certs"), args.record, rules,
                      args.proxy, args.proxy_auth, args.proxy_failure, args.bad_proxy)
    temporary = args.ready_file + ".tmp"
    with open(temporary, "w") as f:
        json.dump(servers.ports, f)
    os.replace(temporary, args.ready_file)
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        servers.close()


if __name__ == "__main__":
    main()
