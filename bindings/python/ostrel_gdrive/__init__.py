"""A Python binding of libostrel_google_drive_common: the Drive session and
its operations, through ctypes. Names, queries, retries, answer checks and
reply lines all come from the library; nothing here knows Drive.

    from ostrel_gdrive import Session, start
    from ostrel_gdrive.transport import Transport
    start("export_documents=pdf")
    session = Session("https://www.googleapis.com")
    transport = Transport(session.base_url, token=lambda: TOKEN)
    entries = transport.run(session.list("/")).entries()
"""

import ctypes
import time

from ._lib import lib, libc

__all__ = ["DriveError", "Record", "Request", "Op", "Session", "Checksum", "start", "now_ms",
           "FILE", "FOLDER", "EXPORT", "STUB", "NO_CONTENT"]

FILE, FOLDER, EXPORT, STUB, NO_CONTENT = range(5)
NO_TIME = -(1 << 63)


def now_ms():
    """The caller's clock the library is given: milliseconds, never going back."""
    return int(time.monotonic() * 1000)


class DriveError(Exception):
    """A failed call: its FTP reply code, one printable line, and the
    multi-line form with the Drive details."""

    def __init__(self, code, line, lines):
        super().__init__("%d %s" % (code, line))
        self.code = code
        self.line = line
        self.lines = lines

    @classmethod
    def take(cls, result):
        """The error of a result handle; the handle is released."""
        texts = []
        code = ctypes.c_int(0)
        for details in (False, True):
            text = lib.ostrel_google_drive_reply(result, ctypes.byref(code), details)
            texts.append(ctypes.string_at(text).decode("utf-8", "replace") if text else "out of memory")
            libc.free(text)
        lib.ostrel_object_free(lib.ostrel_error_get(result))
        return cls(code.value, texts[0], texts[1].split("\n"))


def _check(result):
    if result:
        raise DriveError.take(result)


def _text(value):
    return value.decode("utf-8", "surrogateescape") if value is not None else None


class Record:
    """A Drive file as the library read it (a copy: it outlives the operation)."""

    def __init__(self, pointer, client_name=None):
        m = pointer.contents
        self.id = _text(m.id)
        self.name = _text(m.name)
        self.mime_type = _text(m.mime_type)
        self.size = m.size if m.size_set else None
        self.md5 = m.md5_checksum.decode() or None
        self.modified = m.modified_time if m.modified_time_set else None
        self.created = m.created_time if m.created_time_set else None
        self.trashed = bool(m.trashed)
        self.parents = [_text(m.parents[i]) for i in range(m.parent_count)]
        self.append_id = bool(m.append_id)
        export = ctypes.c_char_p()
        self.kind = lib.ostrel_google_drive_kind(pointer, ctypes.byref(export))
        self.export_mime_type = _text(export.value)
        self.client_name = client_name

    def __repr__(self):
        return "Record(%r, %r, %r)" % (self.client_name or self.name, self.id, self.mime_type)


class Request:
    """One request to send, read through the library's accessors."""

    def __init__(self, handle):
        self.method = lib.ostrel_google_drive_request_method(handle).decode()
        self.url = lib.ostrel_google_drive_request_url(handle).decode()
        self.headers = [(lib.ostrel_google_drive_request_header_name(handle, i).decode(),
                         lib.ostrel_google_drive_request_header_value(handle, i).decode())
                        for i in range(lib.ostrel_google_drive_request_header_count(handle))]
        length = ctypes.c_size_t(0)
        body = lib.ostrel_google_drive_request_body(handle, ctypes.byref(length))
        self.body = ctypes.string_at(body, length.value) if body else None
        self.data_offset = lib.ostrel_google_drive_request_data_offset(handle)
        self.data_length = lib.ostrel_google_drive_request_data_length(handle)

    @property
    def is_upload_chunk(self):
        """PUTs to an upload session's URI, which is the capability: no token."""
        return self.method == "PUT"


class Op:
    """One plug-in command on a session: ask next(), send, feed the answer."""

    def __init__(self, handle):
        self._handle = handle

    def close(self):
        if self._handle:
            lib.ostrel_google_drive_op_free(self._handle)
            self._handle = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        self.close()

    def next(self):
        """(Request, delay in ms), or (None, 0) when the operation has ended
        well; raises DriveError when it has failed."""
        request = ctypes.c_void_p()
        delay = ctypes.c_ulong(0)
        _check(lib.ostrel_google_drive_op_next(self._handle, ctypes.byref(request), ctypes.byref(delay)))
        return (Request(request.value) if request.value else None), delay.value

    def streams(self):
        return bool(lib.ostrel_google_drive_op_streams(self._handle))

    def feed(self, status, headers, body, random_ms, now):
        _check(lib.ostrel_google_drive_op_feed(self._handle, status, headers.encode("latin-1"), body, len(body),
                                               random_ms, now))

    def feed_head(self, status, headers, random_ms, now):
        """(deliver, skip, count) for a streamed answer."""
        deliver = ctypes.c_bool(False)
        skip = ctypes.c_uint64(0)
        count = ctypes.c_uint64(0)
        _check(lib.ostrel_google_drive_op_feed_head(self._handle, status, headers.encode("latin-1"), random_ms, now,
                                                    ctypes.byref(deliver), ctypes.byref(skip), ctypes.byref(count)))
        return deliver.value, skip.value, count.value

    def feed_body(self, body):
        _check(lib.ostrel_google_drive_op_feed_body(self._handle, body, len(body)))

    def feed_end(self, received, complete):
        _check(lib.ostrel_google_drive_op_feed_end(self._handle, received, complete))

    def discard(self):
        return bool(lib.ostrel_google_drive_op_discard(self._handle))

    def content(self):
        length = ctypes.c_size_t(0)
        data = lib.ostrel_google_drive_op_content(self._handle, ctypes.byref(length))
        return ctypes.string_at(data, length.value) if data else b""

    def set_md5(self, md5):
        lib.ostrel_google_drive_op_set_md5(self._handle, md5.encode())

    @property
    def bytes(self):
        return lib.ostrel_google_drive_op_bytes(self._handle)

    @property
    def md5(self):
        return _text(lib.ostrel_google_drive_op_md5(self._handle))

    @property
    def requests(self):
        return lib.ostrel_google_drive_op_request_count(self._handle)

    def file(self):
        pointer = lib.ostrel_google_drive_op_file(self._handle)
        return Record(pointer) if pointer else None

    def facts(self, index=None):
        """The RFC 3659 facts of entry index of a listing, or of the file."""
        text = lib.ostrel_google_drive_op_facts(self._handle, (1 << 64) - 1 if index is None else index)
        if not text:
            return None
        try:
            return ctypes.string_at(text).decode("utf-8", "surrogateescape")
        finally:
            libc.free(text)

    def client_size(self):
        """The size a client sees of the operation's file, or None."""
        pointer = lib.ostrel_google_drive_op_file(self._handle)
        size = ctypes.c_uint64(0)
        if pointer and lib.ostrel_google_drive_client_size(pointer, ctypes.byref(size)):
            return size.value
        return None

    def drive_md5(self, offset=0, length=-1):
        """Drive's MD5 of the operation's file, when it applies; DriveError
        550 NO_CHECKSUM when it does not."""
        md5 = ctypes.c_char_p()
        _check(lib.ostrel_google_drive_drive_md5(lib.ostrel_google_drive_op_file(self._handle), offset,
                                                 (1 << 64) - 1 if length < 0 else length, ctypes.byref(md5)))
        return md5.value.decode()

    def set_create_only(self):
        """A write that refuses a name held already (550 FILE_EXISTS) instead of replacing."""
        lib.ostrel_google_drive_op_set_create_only(self._handle)

    def set_chunk_size(self, size):
        """A write's chunk bytes, rounded down to 256 KiB units (at least one)."""
        lib.ostrel_google_drive_op_set_chunk_size(self._handle, size)

    @property
    def restarts(self):
        """Times the transfer began again from byte 0."""
        return lib.ostrel_google_drive_op_restarts(self._handle)

    def steps(self):
        """Records of the files the path's elements opened, the root's excluded."""
        return [Record(lib.ostrel_google_drive_op_step(self._handle, i))
                for i in range(lib.ostrel_google_drive_op_step_count(self._handle))]

    def left_out(self):
        """(records a listing set aside, whether Drive said its search was incomplete)."""
        incomplete = ctypes.c_bool()
        count = lib.ostrel_google_drive_op_left_out(self._handle, ctypes.byref(incomplete))
        return count, incomplete.value

    def entries(self):
        """A finished listing: Records with their client names, as LIST shows them."""
        return [Record(lib.ostrel_google_drive_op_entry(self._handle, i),
                       _text(lib.ostrel_google_drive_op_entry_name(self._handle, i)))
                for i in range(lib.ostrel_google_drive_op_entry_count(self._handle))]


class Session:
    """One Drive session: the base URL, the root, the folder cache and the
    retry budget. One thread's at a time."""

    def __init__(self, base_url=None, root=None, attempts=0, cache_age_ms=0, cache_files=0, page_limit=0):
        handle = ctypes.c_void_p()
        _check(lib.ostrel_google_drive_session_create(base_url.encode() if base_url else None,
                                                      root.encode() if root else None, ctypes.byref(handle)))
        self._handle = handle.value
        self.base_url = base_url or "https://www.googleapis.com"
        lib.ostrel_google_drive_session_set_limits(self._handle, attempts, cache_age_ms, cache_files, page_limit)

    def close(self):
        if self._handle:
            lib.ostrel_google_drive_session_free(self._handle)
            self._handle = None

    def __del__(self):
        self.close()

    def forget(self):
        lib.ostrel_google_drive_session_forget(self._handle)

    @property
    def requests(self):
        return lib.ostrel_google_drive_session_request_count(self._handle)

    def _op(self, function, *arguments):
        handle = ctypes.c_void_p()
        _check(function(self._handle, *arguments, ctypes.byref(handle)))
        return Op(handle.value)

    @staticmethod
    def _path(path):
        return path.encode("utf-8", "surrogateescape")

    def stat(self, path):
        return self._op(lib.ostrel_google_drive_op_stat, self._path(path), now_ms())

    def list(self, path):
        return self._op(lib.ostrel_google_drive_op_list, self._path(path), now_ms())

    def list_trashed(self, path):
        """A listing with the folder's trash, never cached."""
        return self._op(lib.ostrel_google_drive_op_list_trashed, self._path(path), now_ms())

    def read(self, path, offset=0, length=0, can_restart=False):
        return self._op(lib.ostrel_google_drive_op_read, self._path(path), offset, length, can_restart, now_ms())

    def write(self, path, size, modified_ms=None):
        """STOR; modified_ms (milliseconds since the epoch, UTC) keeps the source's time."""
        return self._op(lib.ostrel_google_drive_op_write, self._path(path), size,
                        NO_TIME if modified_ms is None else modified_ms, now_ms())

    def set_time(self, path, modified_ms):
        """MFMT: Drive's modifiedTime, checked as Drive keeps it."""
        return self._op(lib.ostrel_google_drive_op_set_time, self._path(path), modified_ms, now_ms())

    def mkdir(self, path):
        return self._op(lib.ostrel_google_drive_op_mkdir, self._path(path), now_ms())

    def rename(self, source, target):
        return self._op(lib.ostrel_google_drive_op_rename, self._path(source), self._path(target), now_ms())

    def delete(self, path, permanent=False):
        return self._op(lib.ostrel_google_drive_op_delete, self._path(path), permanent, now_ms())

    def rmdir(self, path, permanent=False):
        return self._op(lib.ostrel_google_drive_op_rmdir, self._path(path), permanent, now_ms())

    def get(self, file_id):
        return self._op(lib.ostrel_google_drive_op_get, file_id.encode(), now_ms())


class Checksum:
    """An incremental checksum the library computes: MD5, ADLER32, CRC32."""

    def __init__(self, algorithm):
        self.algorithm = algorithm
        self._handle = None
        self.reset()

    def reset(self):
        self.close()
        handle = ctypes.c_void_p()
        _check(lib.ostrel_google_drive_checksum_create(self.algorithm.encode(), ctypes.byref(handle)))
        self._handle = handle.value

    def update(self, data):
        lib.ostrel_google_drive_checksum_update(self._handle, data, len(data))

    def text(self):
        text = lib.ostrel_google_drive_checksum_text(self._handle)
        try:
            return ctypes.string_at(text).decode()
        finally:
            libc.free(text)

    def close(self):
        if self._handle:
            lib.ostrel_google_drive_checksum_free(self._handle)
            self._handle = None

    def __del__(self):
        self.close()


def start(configuration=None, is_file=False):
    """Activates the library and applies a configuration's export formats and
    trace levels."""
    _check(lib.ostrel_google_drive_start(configuration.encode() if configuration else None, is_file))
