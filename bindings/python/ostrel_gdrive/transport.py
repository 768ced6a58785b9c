"""The only module that moves bytes: HTTP/1.1 with keep-alive and verified
TLS (http.client), sending what an operation asks and feeding it what came."""

import http.client
import random
import ssl
import time
import urllib.parse

from . import DriveError, now_ms

_BLOCK = 1 << 16


class Transport:
    """Sends an operation's requests. token() gives the bearer token; it is
    asked again after Drive refused one (a 530)."""

    def __init__(self, base_url, token, timeout=60, context=None):
        self.token = token
        self.timeout = timeout
        self.context = context or ssl.create_default_context()
        self._connections = {}
        self._token = None
        parsed = urllib.parse.urlsplit(base_url)
        if parsed.scheme == "http" and parsed.hostname not in ("127.0.0.1", "::1", "localhost"):
            raise ValueError("plain http only to loopback: %s" % base_url)

    def close(self):
        for connection in self._connections.values():
            connection.close()
        self._connections.clear()

    def _connection(self, parsed):
        key = (parsed.scheme, parsed.hostname, parsed.port)
        connection = self._connections.get(key)
        if connection is None:
            if parsed.scheme == "https":
                connection = http.client.HTTPSConnection(parsed.hostname, parsed.port, timeout=self.timeout,
                                                         context=self.context)
            else:
                connection = http.client.HTTPConnection(parsed.hostname, parsed.port, timeout=self.timeout)
            self._connections[key] = connection
        return key, connection

    def run(self, op, sink=None, source=None, restart=None):
        """Drives op to its end and returns it. sink(bytes) takes a read's
        content; restart() drops what sink took when an export starts again;
        source(offset, length) gives an upload's bytes. Raises DriveError."""
        refused = 0
        while True:
            request, delay = op.next()
            if request is None:
                break
            if delay:
                time.sleep(delay / 1000.0)
            try:
                self._send(op, request, sink, source, restart)
                refused = 0
            except DriveError as error:
                if error.code != 530 or refused >= 2:
                    raise
                refused += 1
                self._token = None  # refreshed for the same request
        stub = op.content()
        if stub and sink is not None:
            sink(stub)
        return op

    def _send(self, op, request, sink, source, restart):
        parsed = urllib.parse.urlsplit(request.url)
        headers = dict(request.headers)
        if not request.is_upload_chunk:
            if self._token is None:
                self._token = self.token()
            headers["Authorization"] = "Bearer " + self._token
        headers["Accept-Encoding"] = "identity"
        body = request.body
        if request.data_length:
            body = source(request.data_offset, request.data_length)
        elif request.method in ("PUT", "POST", "PATCH") and body is None:
            body = b""
        target = parsed.path + ("?" + parsed.query if parsed.query else "")
        key, connection = self._connection(parsed)
        pick = random.randrange(1000)
        try:
            connection.request(request.method, target, body=body, headers=headers)
            answer = connection.getresponse()
        except (OSError, http.client.HTTPException):
            connection.close()
            self._connections.pop(key, None)
            self._feed_lost(op, pick)
            return
        header_block = "".join("%s: %s\r\n" % pair for pair in answer.getheaders())
        if not op.streams():
            data, _ = self._read_all(answer, key)
            op.feed(answer.status, header_block, data, pick, now_ms())
            return
        deliver, skip, count = op.feed_head(answer.status, header_block, pick, now_ms())
        if not deliver:
            data, _ = self._read_all(answer, key)
            op.feed_body(data)
            return
        received = 0
        passed = 0
        # Only a body whose framing ended is whole: a Content-Length reached
        # or the chunked encoding's last chunk, never a closed connection.
        complete = answer.chunked or answer.length is not None
        try:
            while True:
                block = answer.read(_BLOCK)
                if not block:
                    break
                start = max(0, skip - received)
                received += len(block)
                if start < len(block) and passed < count:
                    piece = block[start:start + (count - passed)]
                    passed += len(piece)
                    if sink is not None:
                        sink(piece)
        except (OSError, http.client.HTTPException):
            complete = False
        if answer.length:
            complete = False  # http.client leaves a short body unreported
        if not complete:
            self._drop(key)
        op.feed_end(received, complete)
        if op.discard() and restart is not None:
            restart()

    def _read_all(self, answer, key):
        try:
            return answer.read(), True
        except (OSError, http.client.HTTPException) as error:
            self._drop(key)
            return getattr(error, "partial", b""), False

    def _drop(self, key):
        connection = self._connections.pop(key, None)
        if connection is not None:
            connection.close()

    @staticmethod
    def _feed_lost(op, pick):
        if op.streams():
            op.feed_head(0, "", pick, now_ms())
            op.feed_body(b"")
        else:
            op.feed(0, "", b"", pick, now_ms())
