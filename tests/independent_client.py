#!/usr/bin/env python3
"""A client of the alerts protocol written from the protocol's description alone, sharing no
code with the C++ client. It checks a server: log in, listen, subscribe, ping, and read alerts.

    independent_client.py --address 127.0.0.1:9339 [--tunnel] [--category NAME ...]

Exits 0 when every check passed, 1 otherwise (the reason on stderr).
"""

import argparse
import http.client
import re
import socket
import struct
import sys
import time
import urllib.parse
import zlib

OPENING = b"command=set_output&mode=zlib\r\ncommand=set_input&mode=zlib\r\n"
P64_ALPHABET = b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-"


class CheckFailed(Exception):
    pass


def check(condition, text):
    if not condition:
        raise CheckFailed(text)


def p64_encode(data):
    out = bytearray()
    bits = 0
    count = 0
    for b in data:
        bits = (bits << 8) | b
        count += 8
        while count >= 6:
            count -= 6
            out.append(P64_ALPHABET[(bits >> count) & 63])
    if count:
        out.append(P64_ALPHABET[(bits << (6 - count)) & 63])
    return bytes(out)


def field(data):
    return struct.pack("<i", len(data)) + data


def request(pairs, message_id=None):
    out = b""
    if message_id is not None:
        out += field(b"message_id") + field(str(message_id).encode())
    for key, value in pairs:
        out += field(key) + field(value)
    return out + struct.pack("<i", 0)


def url_decode(text):
    out = bytearray()
    i = 0
    while i < len(text):
        c = text[i:i + 1]
        if c == b"%" and re.fullmatch(rb"[0-9A-Fa-f]{2}", text[i + 1:i + 3] or b""):
            out.append(int(text[i + 1:i + 3], 16))
            i += 3
        else:
            out += c
            i += 1
    return bytes(out)


def parse_form(text):
    fields = {}
    for item in text.split(b"&"):
        if b"=" not in item:
            continue
        key, value = item.split(b"=", 1)
        fields[url_decode(key)] = url_decode(value)
    return fields


def is_number(text):
    try:
        float(text)
        return True
    except ValueError:
        return False


class DirectPipe:
    """The conversation's bytes over one TCP connection."""

    def __init__(self, host, port):
        self.sock = socket.create_connection((host, port), timeout=5)

    def send(self, data):
        self.sock.sendall(data)

    def receive(self):
        data = self.sock.recv(65536)
        check(data, "server closed the connection")
        return data

    def close(self):
        self.sock.close()


class TunnelPipe:
    """The conversation's bytes over HTTP: one long GET, numbered POSTs of P64 chunks.
    With a proxy, or with absolute set, requests name the absolute URI as proxies want it."""

    def __init__(self, host, port, proxy=None, absolute=False):
        self.proxy = proxy
        self.absolute = absolute or proxy is not None
        first_hop = proxy or (host, port)
        self.sock = socket.create_connection(first_hop, timeout=5)
        target = b"http://%s:%d/tunnel" % (host.encode(), port) if self.absolute else b"/tunnel"
        self.sock.sendall(b"GET %s HTTP/1.0\r\nHost: %s:%d\r\n\r\n" % (target, host.encode(), port))
        buffer = b""
        while b"\r\n\r\n" not in buffer:
            piece = self.sock.recv(4096)
            check(piece, "tunnel GET ended before its headers")
            buffer += piece
        head, buffer = buffer.split(b"\r\n\r\n", 1)
        status = head.split(b"\r\n")[0]
        check(re.match(rb"HTTP/1\.[01] 200", status), "tunnel GET answered %r" % status)
        check(b"content-length" not in head.lower(), "tunnel GET must not announce a length")
        while buffer.count(b"\r\n") < 2:
            piece = self.sock.recv(4096)
            check(piece, "tunnel GET ended before its handshake")
            buffer += piece
        _, upload_url, self.pending = buffer.split(b"\r\n", 2)
        self.upload_url = upload_url.decode("latin-1")
        url = urllib.parse.urlsplit(self.upload_url)
        check(url.scheme == "http" and url.hostname, "bad upload URL %r" % upload_url)
        self.upload_host = url.hostname
        self.upload_port = url.port or 80
        self.upload_path = url.path + ("?" + url.query if url.query else "")
        self.sequence = 0
        self.statuses = []

    def post(self, sequence, data):
        body = b"sequence=%d&body=%s" % (sequence, p64_encode(data))
        first_hop = self.proxy or (self.upload_host, self.upload_port)
        connection = http.client.HTTPConnection(*first_hop, timeout=5)
        connection.request("POST", self.upload_url if self.absolute else self.upload_path, body,
                           {"Content-Type": "application/x-www-form-urlencoded"})
        response = connection.getresponse()
        response.read()
        connection.close()
        self.statuses.append(response.status)
        return response.status

    def send(self, data):
        # Chunks of at most 6000 bytes, one POST at a time, in sequence order; a failed upload
        # is sent again with the same number, up to three failures in a row.
        for start in range(0, len(data), 6000):
            failures = 0
            while self.post(self.sequence, data[start:start + 6000]) != 200:
                failures += 1
                check(failures <= 3, "upload %d failed %d times" % (self.sequence, failures))
            self.sequence += 1

    def receive(self):
        if self.pending:
            data, self.pending = self.pending, b""
            return data
        data = self.sock.recv(65536)
        check(data, "tunnel GET ended")
        return data

    def close(self):
        self.sock.close()


class Conversation:
    def __init__(self, pipe):
        self.pipe = pipe
        self.deflater = zlib.compressobj(6, zlib.DEFLATED, 15)
        self.inflater = zlib.decompressobj(15)
        self.plain = b""
        pipe.send(OPENING)

    def send(self, *requests):
        data = b"".join(requests)
        self.pipe.send(self.deflater.compress(data) + self.deflater.flush(zlib.Z_SYNC_FLUSH))

    def frames(self, deadline):
        """Yields (id, body) as they arrive, until the deadline passes."""
        while True:
            while len(self.plain) >= 8:
                message_id, length = struct.unpack_from("<ii", self.plain)
                check(0 <= length < 64 * 1024 * 1024, "frame length %d" % length)
                if len(self.plain) < 8 + length:
                    break
                body = self.plain[8:8 + length]
                self.plain = self.plain[8 + length:]
                yield message_id, body
            check(time.monotonic() < deadline, "timed out waiting for the server")
            try:
                self.plain += self.inflater.decompress(self.pipe.receive())
            except socket.timeout:
                pass


TIME_HMS = re.compile(rb"^\d\d:\d\d:\d\d$")
TIME_HM = re.compile(rb"^\d\d:\d\d$")


def check_alert(category, fields):
    """Field checks by the data kind of the category ("quickstrike", ..., "wex")."""
    def numbers(*keys):
        for key in keys:
            check(is_number(fields.get(key, b"")), "%s: %s=%r is not a number" %
                  (category, key.decode(), fields.get(key)))

    if category in ("quickstrike", "symbols"):
        check(fields.get(b"symbol"), "quickstrike alert without a symbol")
        numbers(b"last", b"prev_close", b"sma_divergence")
        check(TIME_HMS.match(fields.get(b"time", b"")), "quickstrike time %r" % fields.get(b"time"))
    elif category == "bollinger":
        check(fields.get(b"action") in (b"add", b"delete"), "bollinger action %r" % fields.get(b"action"))
        check(fields.get(b"symbol"), "bollinger alert without a symbol")
        if fields[b"action"] == b"add":
            numbers(b"last", b"prev_close", b"dist_from_bb")
    elif category == "simple":
        check(fields.get(b"symbol"), "simple alert without a symbol")
        numbers(b"last", b"change")
    elif category == "rook":
        numbers(b"change", b"bb", b"rank", b"rv")
        check(TIME_HM.match(fields.get(b"time", b"")), "rook time %r" % fields.get(b"time"))
        check(1 <= int(fields[b"count"]) <= 15, "rook count %r" % fields[b"count"])
        check(0 <= float(fields[b"rank"]) <= 1.5, "rook rank %r" % fields[b"rank"])
    elif category == "tamber":
        numbers(b"last", b"prev_close")
        check(int(fields[b"volume"]) > 0, "tamber volume %r" % fields[b"volume"])
    elif category == "points":
        rows = 0
        while fields.get(b"symbol%d" % rows):
            numbers(b"last%d" % rows, b"change%d" % rows, b"percent_vol%d" % rows)
            rows += 1
        check(10 <= rows <= 20, "points list of %d rows" % rows)
    elif category == "wex":
        rows = 0
        stocks = 0
        while fields.get(b"symbol%d" % rows):
            if fields[b"symbol%d" % rows] != b"-":
                for key in (b"price_spike", b"vol_rate", b"todays_range", b"opening_range",
                            b"strength", b"up_trend", b"near_high", b"near_low", b"new_high",
                            b"new_low", b"last", b"change"):
                    numbers(key + b"%d" % rows)
                int(fields[b"volume%d" % rows])
                int(fields[b"count%d" % rows])
                stocks += 1
            rows += 1
        check(15 <= stocks <= 40, "wex list of %d stocks" % stocks)


def run(args):
    host, port = args.address.rsplit(":", 1)
    if args.tunnel:
        proxy = None
        if args.proxy:
            proxy_host, proxy_port = args.proxy.rsplit(":", 1)
            proxy = (proxy_host, int(proxy_port))
        pipe = TunnelPipe(host, int(port), proxy, args.absolute_uri)
    else:
        pipe = DirectPipe(host, int(port))
    talk = Conversation(pipe)
    # NAME or NAME=KIND: subscribe NAME and check its alerts as KIND's data.
    kinds = {}
    for item in args.category or ["quickstrike"]:
        name, _, kind = item.partition("=")
        kinds[name.encode("latin-1")] = kind or name
    categories = list(kinds)

    # The client's first batch, as the desktop client sends it: login, listen, the
    # categories (without ids: no answer wanted), and a ping.
    talk.send(request([(b"command", b"login"), (b"username", b"independent"),
                       (b"password", b"secret"), (b"session_id", b"")], 1),
              request([(b"command", b"listen_for_alerts")], 8),
              *[request([(b"command", b"add_alert_category"), (b"category", c)]) for c in categories],
              request([(b"command", b"ping"), (b"response", b"1")], 7))

    deadline = time.monotonic() + args.timeout
    login_seen = ping_seen = False
    seen = {c: 0 for c in categories}
    second_ping_sent = second_ping_seen = False
    for message_id, body in talk.frames(deadline):
        if message_id == 1:
            lines = re.split(rb"\r\n|\r|\n", body)
            check(lines[0] == b"SESSION ID" and len(lines) >= 2 and lines[1],
                  "login reply %r" % body)
            login_seen = True
        elif message_id == 7:
            check(body == b"", "ping reply with a body %r" % body)
            check(login_seen, "ping answered before login")
            ping_seen = True
        elif message_id == 6:
            check(body == b"", "second ping reply with a body %r" % body)
            second_ping_seen = True
        elif message_id == 8:
            category, _, rest = body.partition(b"\r\n")
            check(category in seen, "alert for a category not subscribed: %r" % category)
            form = rest.split(b"\r\n", 1)[0]
            check_alert(kinds[category], parse_form(form))
            seen[category] += 1
        else:
            raise CheckFailed("frame for id %d, which no request carried" % message_id)
        if ping_seen and not second_ping_sent:
            # A later request in its own flush block: the compressed streams go on.
            talk.send(request([(b"command", b"ping"), (b"response", b"1")], 6))
            second_ping_sent = True
        if second_ping_seen and all(n >= args.alerts for n in seen.values()):
            break

    if args.tunnel:
        # A resend of an applied upload is acknowledged and ignored; a gap is refused.
        check(pipe.post(pipe.sequence - 1, b"") == 200, "a repeated upload was not acknowledged")
        check(pipe.post(pipe.sequence + 1, b"") != 200, "an upload after a gap was accepted")
    pipe.close()
    print("ok: login, 2 pings, alerts %s" % {k.decode("latin-1"): v for k, v in seen.items()})
    if args.tunnel:
        print("upload statuses: %s" % " ".join(str(s) for s in pipe.statuses))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--address", required=True, help="host:port of the server")
    parser.add_argument("--tunnel", action="store_true", help="talk through the HTTP tunnel")
    parser.add_argument("--proxy", help="host:port of an HTTP proxy for the tunnel")
    parser.add_argument("--absolute-uri", action="store_true",
                        help="tunnel requests name the absolute URI, as through a proxy")
    parser.add_argument("--category", action="append",
                        help="NAME or NAME=KIND: subscribe NAME, check it as KIND (repeatable)")
    parser.add_argument("--alerts", type=int, default=1, help="alerts wanted per category")
    parser.add_argument("--timeout", type=float, default=15, help="seconds before giving up")
    args = parser.parse_args()
    try:
        run(args)
    except (CheckFailed, OSError, zlib.error, ValueError, KeyError) as e:
        print("FAILED: %s: %s" % (type(e).__name__, e), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
