#!/usr/bin/env python3
"""Substitute lookup service for Tarnwick's tests, benchmarks and demo (loopback only).

    python3 serve.py --port N --catalogue FILE [--verbose] [--media-log FILE]

HEAD /download.php?server=S&hdfile=H&videourl=ADDRESS answers "HTTP/1.1 302 Found" with a
File-Content header holding the catalogue entry's record, or "error=1" for an unknown address.
The address is taken from the raw request line as it arrived (blanks, "&" and "#" included).
GET and HEAD /media/<n>.<ext> and /preview/<n>.jpg serve the entry's files with Content-Length,
keep-alive and Range. Query parameters on a media address (also set per entry in the catalogue,
and then written into the record's url) bend the transfer for tests:
    redirects=N    answer 302 N times before serving the file
    chunked=1      send the body with chunked transfer coding
    rate=B         send at most B body bytes per second
    close_after=K  close the connection after K body bytes
    validator=1    name the file's Last-Modified date, and honour a Range only on an If-Range
                   that names it (or none), as real servers do
With --media-log every media request is appended to FILE as a line "NAME range=R if-range=V
STATUS" (R and V as asked, empty when not). With --port 0 the system picks the port. The port
is printed alone on the first line of standard output. SIGTERM or SIGINT stops the service.
"""

import argparse
import email.utils
import json
import os
import signal
import socket
import socketserver
import sys
import threading
import time
import urllib.parse

RECORD_FIELDS = ("author", "title", "length", "size", "filename", "fileext")
SWITCHES = ("redirects", "chunked", "rate", "close_after", "validator")
MAX_HEAD = 64 * 1024
SLICE = 16 * 1024
LINGER_SECONDS = 2.0


class CatalogueError(Exception):
    pass


def load_catalogue(path):
    """Reads the catalogue; returns its entries with absolute file paths, validated."""
    try:
        with open(path, encoding="utf-8") as f:
            document = json.load(f)
    except (OSError, ValueError) as e:
        raise CatalogueError(f"cannot read catalogue {path}: {e}")
    folder = os.path.dirname(os.path.abspath(path))
    entries = document.get("entries") if isinstance(document, dict) else None
    if not isinstance(entries, list):
        raise CatalogueError('the catalogue needs a list "entries"')
    result = []
    for index, entry in enumerate(entries):
        if not isinstance(entry, dict) or not isinstance(entry.get("address"), str):
            raise CatalogueError(f"entry {index}: needs a text \"address\"")
        checked = dict(entry)
        for name in RECORD_FIELDS:
            value = str(entry.get(name, ""))
            if any(c in value for c in "|\r\n"):
                raise CatalogueError(f"entry {index}: {name} may not hold '|', CR or LF")
            checked[name] = value
        for name in ("preview", "media"):
            if entry.get(name):
                checked[name] = os.path.join(folder, entry[name])
        for name in SWITCHES:
            if name in entry:
                try:
                    checked[name] = int(entry[name])
                except (TypeError, ValueError):
                    raise CatalogueError(f"entry {index}: {name} must be a number")
        result.append(checked)
    return result


class BadRequest(Exception):
    pass


class Request:
    def __init__(self, method, target, version, headers):
        self.method = method
        self.target = target
        self.version = version
        self.headers = headers

    def header(self, name):
        return self.headers.get(name.lower(), "")

    def keep_alive(self):
        connection = self.header("connection").lower()
        if self.version == "HTTP/1.1":
            return "close" not in connection
        return "keep-alive" in connection


class Handler(socketserver.BaseRequestHandler):
    def setup(self):
        self.pending = b""
        self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def log(self, text):
        if self.server.verbose:
            print(f"lookup-service: {text}", file=sys.stderr, flush=True)

    # -- reading

    def read_head(self):
        """Returns the raw request head (request line and header lines) or None at the end."""
        while True:
            # Empty lines before a request are skipped (a client's extra CR LF ends up here).
            self.pending = self.pending.lstrip(b"\r\n")
            end = self.pending.find(b"\r\n\r\n")
            if end >= 0:
                head, self.pending = self.pending[:end], self.pending[end + 4:]
                return head
            if len(self.pending) > MAX_HEAD:
                raise BadRequest("request head too large")
            data = self.request.recv(65536)
            if not data:
                return None
            self.pending += data

    def parse(self, head):
        lines = head.decode("latin-1").split("\r\n")
        line = lines[0]
        # The target runs from the first blank to the last one: the lookup's address is not
        # encoded, so it may hold blanks of its own.
        first, last = line.find(" "), line.rfind(" ")
        if first <= 0 or last <= first:
            raise BadRequest("malformed request line")
        method, target, version = line[:first], line[first + 1:last], line[last + 1:]
        if version not in ("HTTP/1.0", "HTTP/1.1"):
            raise BadRequest("unknown protocol version")
        headers = {}
        for text in lines[1:]:
            name, colon, value = text.partition(":")
            if colon:
                headers.setdefault(name.strip().lower(), value.strip())
        return Request(method, target, version, headers)

    # -- writing

    def send_head(self, status, headers, keep_alive):
        lines = [f"HTTP/1.1 {status}"]
        lines += [f"{name}: {value}" for name, value in headers]
        lines.append("Connection: " + ("keep-alive" if keep_alive else "close"))
        self.request.sendall(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1"))

    def send_error(self, status, keep_alive):
        body = (status + "\n").encode("latin-1")
        self.send_head(status, [("Content-Type", "text/plain"),
                                ("Content-Length", str(len(body)))], keep_alive)
        self.request.sendall(body)

    def handle(self):
        try:
            while True:
                try:
                    head = self.read_head()
                    if head is None:
                        return
                    request = self.parse(head)
                except BadRequest as e:
                    self.log(str(e))
                    self.send_error("400 Bad Request", False)
                    return
                self.log(f"{request.method} {request.target}")
                if not self.dispatch(request):
                    return
        except (ConnectionError, BrokenPipeError, TimeoutError):
            pass
        finally:
            self.linger()

    def linger(self):
        """Closes gently: a close with unread bytes queued (a client's trailing CR LF) would reset
        the connection and could destroy the answer before the client has read it."""
        try:
            self.request.shutdown(socket.SHUT_WR)
            self.request.settimeout(LINGER_SECONDS)
            while self.request.recv(65536):
                pass
        except OSError:
            pass

    def dispatch(self, request):
        """Answers one request. Returns True when the connection stays open."""
        path, _, query = request.target.partition("?")
        if request.method == "HEAD" and path == "/download.php":
            self.answer_lookup(query)
            return False
        if request.method not in ("GET", "HEAD"):
            self.send_error("501 Not Implemented", False)
            return False
        parts = path.strip("/").split("/")
        if len(parts) == 2 and parts[0] in ("media", "preview"):
            return self.answer_file(request, parts[0], parts[1], query)
        self.send_error("404 Not Found", request.keep_alive())
        return request.keep_alive()

    # -- the lookup

    def answer_lookup(self, query):
        address = lookup_address(query)
        entry_index = self.server.find(address)
        if entry_index is None:
            record = "error=1"
        else:
            record = self.server.record(entry_index)
        self.log(f"lookup {address!r} -> {record}")
        self.send_head("302 Found", [("File-Content", record), ("Content-Length", "0")], False)

    # -- files

    def answer_file(self, request, kind, name, query):
        keep_alive = request.keep_alive()
        stem = name.split(".", 1)[0]
        entry = self.server.entry(stem)
        path = entry.get(kind) if entry else None
        if not path or not os.path.isfile(path):
            self.send_error("404 Not Found", keep_alive)
            return keep_alive
        switches = parse_switches(query)
        if switches.get("redirects", 0) > 0:
            switches["redirects"] -= 1
            location = f"{self.server.base_url()}/{kind}/{name}{switch_query(switches)}"
            self.send_head("302 Found", [("Location", location), ("Content-Length", "0")],
                           keep_alive)
            return keep_alive
        size = os.path.getsize(path)
        last_modified = email.utils.formatdate(os.path.getmtime(path), usegmt=True)
        validator = bool(switches.get("validator"))
        # A range on the condition of another version gets the whole file.
        if_range = request.header("if-range").strip()
        span = (parse_range(request.header("range"), size)
                if not validator or if_range in ("", last_modified) else None)
        if span == "unsatisfiable":
            self.send_head("416 Range Not Satisfiable",
                           [("Content-Range", f"bytes */{size}"), ("Content-Length", "0")],
                           keep_alive)
            return keep_alive
        content_type = "image/jpeg" if kind == "preview" else "application/octet-stream"
        headers = [("Content-Type", content_type), ("Accept-Ranges", "bytes")]
        if validator:
            headers.append(("Last-Modified", last_modified))
        if span is None:
            status, start, length = "200 OK", 0, size
        else:
            status, (start, length) = "206 Partial Content", span
            headers.append(("Content-Range", f"bytes {start}-{start + length - 1}/{size}"))
        chunked = bool(switches.get("chunked")) and request.version == "HTTP/1.1"
        if chunked:
            headers.append(("Transfer-Encoding", "chunked"))
        else:
            headers.append(("Content-Length", str(length)))
        self.send_head(status, headers, keep_alive)
        self.server.log_media(f"{name} range={request.header('range').strip()} "
                              f"if-range={if_range} {status.split()[0]}")
        if request.method == "HEAD":
            return keep_alive
        close_after = switches.get("close_after")
        complete = self.send_body(path, start, length, chunked, switches.get("rate", 0),
                                  close_after)
        return keep_alive and complete

    def send_body(self, path, start, length, chunked, rate, close_after):
        """Sends the body; returns False when it was cut short on purpose."""
        limit = length if close_after is None else min(length, max(close_after, 0))
        sent = 0
        began = time.monotonic()
        with open(path, "rb") as f:
            f.seek(start)
            while sent < limit:
                piece = f.read(min(SLICE, limit - sent, rate if rate > 0 else SLICE))
                if not piece:
                    break
                if chunked:
                    self.request.sendall(b"%x\r\n" % len(piece) + piece + b"\r\n")
                else:
                    self.request.sendall(piece)
                sent += len(piece)
                if rate > 0:
                    ahead = sent / rate - (time.monotonic() - began)
                    if ahead > 0:
                        time.sleep(ahead)
        if limit < length:
            return False
        if chunked:
            self.request.sendall(b"0\r\n\r\n")
        return True


def lookup_address(query):
    """The videourl parameter: everything after "&videourl=", as it arrived."""
    marker = "&videourl="
    at = query.find(marker)
    if at < 0:
        return query[len("videourl="):] if query.startswith("videourl=") else None
    return query[at + len(marker):]


def parse_switches(query):
    switches = {}
    for name, value in urllib.parse.parse_qsl(query):
        if name in SWITCHES:
            try:
                switches[name] = int(value)
            except ValueError:
                pass
    return switches


def switch_query(switches):
    present = [(name, switches[name]) for name in SWITCHES if switches.get(name)]
    return "?" + urllib.parse.urlencode(present) if present else ""


def parse_range(text, size):
    """None for the whole file, (start, length) for one range, or "unsatisfiable"."""
    text = text.strip()
    if not text.startswith("bytes=") or "," in text:
        return None
    first, dash, last = text[len("bytes="):].strip().partition("-")
    if not dash:
        return None
    try:
        if first == "":
            suffix = int(last)
            if suffix <= 0 or size == 0:
                return "unsatisfiable"
            start, end = max(size - suffix, 0), size - 1
        else:
            start = int(first)
            end = int(last) if last else size - 1
            if last and end < start:
                return None
            if start >= size:
                return "unsatisfiable"
            end = min(end, size - 1)
    except ValueError:
        return None
    return start, end - start + 1


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    block_on_close = False

    def __init__(self, port, entries, verbose, media_log=None):
        self.entries = entries
        self.verbose = verbose
        self.media_log = media_log
        self.media_log_lock = threading.Lock()
        super().__init__(("127.0.0.1", port), Handler)

    def log_media(self, line):
        if not self.media_log:
            return
        with self.media_log_lock, open(self.media_log, "a", encoding="utf-8") as log:
            log.write(line + "\n")

    def base_url(self):
        return f"http://127.0.0.1:{self.server_address[1]}"

    def find(self, address):
        if address is None:
            return None
        raw = address.encode("latin-1")
        for index, entry in enumerate(self.entries):
            if entry["address"].encode("utf-8") == raw:
                return index
        return None

    def entry(self, stem):
        if not stem.isdigit() or int(stem) >= len(self.entries):
            return None
        return self.entries[int(stem)]

    def record(self, index):
        entry = self.entries[index]
        items = [f"{name}={entry[name]}" for name in RECORD_FIELDS]
        preview = f"{self.base_url()}/preview/{index}.jpg" if entry.get("preview") else ""
        url = ""
        if entry.get("media"):
            switches = {name: entry[name] for name in SWITCHES if name in entry}
            url = (f"{self.base_url()}/media/{index}.{entry['fileext'] or 'bin'}"
                   f"{switch_query(switches)}")
        items += [f"preview={preview}", f"url={url}"]
        # Header bytes are the catalogue's UTF-8; the socket layer writes latin-1 text.
        return "|".join(items).encode("utf-8").decode("latin-1")


def main():
    parser = argparse.ArgumentParser(description="Substitute lookup service (loopback only).")
    parser.add_argument("--port", type=int, required=True, help="TCP port; 0 picks a free one")
    parser.add_argument("--catalogue", required=True, help="JSON catalogue of page addresses")
    parser.add_argument("--verbose", action="store_true", help="log requests to standard error")
    parser.add_argument("--media-log", help="file to append each media request's range to")
    args = parser.parse_args()
    try:
        entries = load_catalogue(args.catalogue)
        server = Server(args.port, entries, args.verbose, args.media_log)
    except (CatalogueError, OSError) as e:
        print(f"serve.py: {e}", file=sys.stderr)
        return 1

    # Only the main thread takes the stop signals (every other thread inherits the block), so a
    # stop never lands inside a request handler.
    stop_signals = {signal.SIGTERM, signal.SIGINT}
    signal.pthread_sigmask(signal.SIG_BLOCK, stop_signals)
    worker = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1},
                              name="serve", daemon=True)
    worker.start()
    print(server.server_address[1], flush=True)
    signal.sigwait(stop_signals)
    server.shutdown()
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
