#!/usr/bin/env python3
"""A Google Drive REST API v3 emulator for tests, on 127.0.0.1 only.

    python3 tests/drive/emulator.py --tree TREE.json [--faults FAULTS.json]
        [--log LOG.ndjson] [--port 0] [--token TOKEN]... [--big-folder NAME=COUNT]...
        [--max-requests N] [--max-seconds S] [--max-page N] [--bandwidth BYTES/S] [--no-gzip]
        [--ignore-stdin]

It binds 127.0.0.1 (a free port with --port 0), prints one line "PORT <n>" on
standard output and serves until SIGTERM, SIGINT, the end of its standard input
(so a crashed test never leaves it running; --ignore-stdin for use by hand),
--max-seconds (default 300) or --max-requests (default 20000; then it answers
503). Exit status: 0 when stopped, 2 for a bad tree or fault file, 3 when a
bound stopped it. Python 3 standard library only.

What it emulates (every API call needs "Authorization: Bearer <token>"):
  GET    /drive/v3/files              q, fields, pageSize (1..1000, default 100),
                                      pageToken (opaque; unknown -> 400),
                                      includeItemsFromAllDrives, supportsAllDrives;
                                      orderBy, spaces, corpora accepted and ignored
  GET    /drive/v3/files/generateIds  count (1..1000, default 10), space (drive),
                                      type (files, shortcuts) -> {"kind":
                                      "drive#generatedIds", "space", "ids"}
  GET    /drive/v3/files/ID           fields; ID "root" is the root folder;
                                      alt=media with a single Range (206/416)
  GET    /drive/v3/files/ID/export    mimeType; Google-Apps documents only,
                                      403 exportSizeLimitExceeded over 10 MiB
  POST   /drive/v3/files              metadata only (folders, empty files)
  PATCH  /drive/v3/files/ID           name, trashed, description, starred,
                                      modifiedTime; addParents, removeParents
  DELETE /drive/v3/files/ID           204; a folder goes with its descendants
  POST   /upload/drive/v3/files?uploadType=resumable      a new file
  PATCH  /upload/drive/v3/files/ID?uploadType=resumable   new content for ID
                                      -> 200 with Location: the session URI
  PUT    <session URI>                Content-Range "bytes A-B/T", "bytes A-B/*",
                                      "bytes */T" (status); 308 with
                                      "Range: bytes=0-N" (none while nothing is
                                      stored), 200 with the file at the end
Errors are Drive's JSON: {"error": {"code", "message", "errors": [{"domain",
"reason", "message", "locationType", "location"}]}}.

Ids: a create (POST /drive/v3/files, or the POST opening an upload session)
may give "id" in its body. An id generateIds gave and no file has yet becomes
the new file's id. An id a file has: 409, reason fileIdInUse, message "A file
already exists with the provided ID." (no location). Any other id (never
generated, or its file deleted): 400, reason invalid, message "The provided
file ID is not usable.", location id. An upload session checks the id when it
is opened and creates the file with it when the last byte lands (409 then if a
file took the id meanwhile).

The query language (q) is parsed strictly: 'ID' in parents, name, mimeType
(=, !=, contains), trashed and starred (= or != true/false), and, or, not
(keywords in any case), parentheses. String literals are in single quotes;
inside them only \\' and \\\\ are escapes. Anything else is 400 "Invalid Value"
(reason invalid, location q). 'root' stands for the root folder's id.

Uploads: a non-final chunk should be a multiple of 256 KiB; like Google's
upload servers, the emulator then keeps only whole 256 KiB units of it and says
so in Range (the log entry is marked "misaligned"). A chunk that starts before
the stored offset has its already stored bytes dropped ("overlap" in the log);
one that starts after it stores nothing and gets 308 with the stored Range
("gap" in the log). The session URI is the capability: its PUTs need no token.

Not emulated: other endpoints (about, changes, permissions, revisions, drives),
simple and multipart uploads, fullText and date queries, orderBy, partial
responses of nested objects beyond one level of fields, multiple byte ranges
(answered 200 with the whole file, as an HTTP server may), capabilities and
permissions (never enforced), revisions, ETags and conditional requests.

The tree (--tree): one JSON value, or several pages of a files.list answer one
after the other (as "ostrel-gdrive resolve" reads them). An object may hold:
  "root": "ID"               the root folder (default: the one parent id that
                             no file has as its own); "root" aliases it
  "tokens": [...]            accepted tokens (also --token; default
                             "emulator-token")
  "tokens_without_drive_scope": [...]   answered 403 insufficientPermissions
  "quota_bytes_free": N      uploads beyond it: 403 storageQuotaExceeded
  "name_equals_ignores_case": true      name = '...' compares without case
  "files": [ File resources as v3 gives them, plus for content:
      "content": "text"  |  "content_base64": "..."  |  a "size" alone,
      whose content is generated: byte i is (i % 251 + i // 65536 + seed) % 256,
      seed "content_seed" (default the CRC-32 of the id, modulo 256);
      "export_size": N or "export_content": "text" for Google-Apps documents.
      size and md5Checksum are computed unless given (generated content
      over 1 GiB has no md5Checksum unless given; a given md5Checksum is
      served as is, so a test can make it wrong). ]
  "generate": [{"parent": "ID", "count": N, "name": "f{i:06d}.txt",
      "id": "ID{i:06d}", "mimeType": "text/plain", "size": 0}]   N files
      made on load; "{i}" counts from 1.
--big-folder NAME=COUNT adds a folder NAME in the root, id "1Big" + the
letters and digits of NAME, holding COUNT files "f000001.txt"... of 16 bytes.

Faults (--faults FILE, or POST /emulator/faults): a JSON list of rules, each
{match..., selection..., action...}; the first rule that matches and is due
fires. Match: "method", "path" (regex, searched), "query" (regex on the raw
query), "header": {NAME: regex}. Selection: "request" (the n-th API request
only), "after" (skip that many matching requests), "every" (then every n-th
match, default 1), "times" (at most that many firings, default 1, 0 = no
limit). Actions:
  "status": N with "reason", "message", "domain" (defaults from the reason),
      "retry_after": seconds, "headers": {...}, "html": true (a proxy's HTML
      page instead of JSON) or "body": "raw text" with "content_type" (and
      "body_repeat": N, the text N times, for answers too large to send here);
  "cut": "connection" (closed before any answer, the body unread),
      "request" (reads "cut_at" bytes of the body, default half, then closes;
      an upload chunk keeps per "keep": "aligned" (whole 256 KiB units, the
      default), "all" or "none"), "response" (the normal answer, its headers
      and "cut_at" bytes of its body, default half, then closes), "answer"
      (the request takes effect, e.g. a create or an upload's last chunk,
      then the connection closes before any byte of the answer);
  "expire_session": true (the request's upload session is forgotten and the
      answer is "status", default 404);
  "delay": seconds before answering; "merge": {...} merged into a normal JSON
      answer (e.g. {"incompleteSearch": true});
  files.list only: "repeat_page_token": true (nextPageToken is the request's
      own pageToken, or without one a token for the first page, so a client
      following it loops), "page_overflow": N (the page is filled up to
      pageSize + N files with made-up ones, ids fresh, names "overflow-<i>"
      from 1, parent the queried folder (else the root), never stored);
  media GET only: "content_range": "TEXT" (a 206 answer carries this
      Content-Range instead), "ignore_range": true (the Range header is
      ignored: 200 with the whole file, no Content-Range).
A rule fires on the request it matches even where its action does not apply.

Control endpoints (no token, not numbered, not logged): GET /emulator/log
(JSON lines; ?since=N), DELETE /emulator/log (waits as GET does), GET|POST|DELETE /emulator/faults,
PUT /emulator/tokens {"tokens": [...], "tokens_without_drive_scope": [...]},
GET /emulator/files/ID (the whole resource), GET /emulator/files/ID/content,
GET /emulator/sessions.

Log (--log FILE and GET /emulator/log): one JSON object a line per API request,
written once the request is answered (GET /emulator/log waits, up to 10 s, until
every request begun so far is in it):
n, method, path, query (the token-like parameters redacted), headers (Range,
Content-Range, Content-Length, Content-Type, X-Upload-Content-Length,
X-Upload-Content-Type, Expect), auth (ok, missing, wrong, no-scope, session),
status (null when cut before an answer), received and sent body bytes, fault
(the rule's index), cut, upload (session, first, last, total, stored_before,
stored_after, and overlap/gap/misaligned). The Authorization header is never
logged.
"""

import argparse
import base64
import gzip
import hashlib
import http.server
import json
import os
import re
import secrets
import signal
import socket
import sys
import threading
import time
import traceback
import urllib.parse
import zlib

FOLDER = "application/vnd.google-apps.folder"
APPS_PREFIX = "application/vnd.google-apps."
GRANULE = 256 * 1024
EXPORT_LIMIT = 10 * 1024 * 1024
GENERATED_MD5_LIMIT = 1 << 30
PAGE_MAX = 1000
PAGE_DEFAULT = 100

EXPORTS = {
    "document": {"application/vnd.openxmlformats-officedocument.wordprocessingml.document",
                 "application/vnd.oasis.opendocument.text", "application/rtf", "application/pdf",
                 "text/plain", "text/html", "application/zip", "application/epub+zip", "text/markdown"},
    "spreadsheet": {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
                    "application/x-vnd.oasis.opendocument.spreadsheet",
                    "application/vnd.oasis.opendocument.spreadsheet", "application/pdf",
                    "application/zip", "text/csv", "text/tab-separated-values"},
    "presentation": {"application/vnd.openxmlformats-officedocument.presentationml.presentation",
                     "application/vnd.oasis.opendocument.presentation", "application/pdf",
                     "text/plain", "image/jpeg", "image/png", "image/svg+xml"},
    "drawing": {"application/pdf", "image/jpeg", "image/png", "image/svg+xml"},
    "script": {"application/vnd.google-apps.script+json"},
}

# v3 File fields; those mapped to True are objects whose sub-fields are not checked.
FILE_FIELDS = dict.fromkeys((
    "kind driveId fileExtension copyRequiresWriterPermission md5Checksum writersCanShare viewedByMe "
    "mimeType parents thumbnailLink iconLink shared headRevisionId webViewLink webContentLink size "
    "viewersCanCopyContent permissionIds hasThumbnail spaces folderColorRgb id name description starred "
    "trashed explicitlyTrashed createdTime modifiedTime modifiedByMeTime viewedByMeTime sharedWithMeTime "
    "quotaBytesUsed version originalFilename ownedByMe fullFileExtension isAppAuthorized teamDriveId "
    "hasAugmentedPermissions thumbnailVersion trashedTime modifiedByMe resourceKey sha1Checksum "
    "sha256Checksum inheritedPermissionsDisabled").split(), False)
FILE_FIELDS.update(dict.fromkeys((
    "contentHints exportLinks lastModifyingUser owners sharingUser permissions properties appProperties "
    "capabilities trashingUser imageMediaMetadata videoMediaMetadata shortcutDetails contentRestrictions "
    "linkShareMetadata labelInfo downloadRestrictions").split(), True))
IDS_FIELDS = {"kind": False, "space": False, "ids": False}
LIST_FIELDS = {"kind": False, "nextPageToken": False, "incompleteSearch": False, "files": FILE_FIELDS}
WRITABLE = {"name", "trashed", "description", "starred", "modifiedTime", "mimeType", "properties",
            "appProperties", "folderColorRgb"}
CREATABLE = WRITABLE | {"id", "parents", "createdTime", "originalFilename", "contentHints",
                        "copyRequiresWriterPermission", "writersCanShare"}

COMMON_PARAMS = {"alt", "fields", "key", "prettyPrint", "quotaUser", "userIp", "access_token",
                 "oauth_token", "callback", "upload_protocol", "uploadType", "$.xgafv"}
DRIVES_PARAMS = {"supportsAllDrives", "supportsTeamDrives", "includePermissionsForView", "includeLabels"}
PARAMS = {
    "list": {"q", "pageSize", "pageToken", "orderBy", "spaces", "corpora", "driveId", "corpus",
             "includeItemsFromAllDrives", "includeTeamDriveItems", "teamDriveId"},
    "get": {"acknowledgeAbuse"},
    "export": {"mimeType"},
    "create": {"ignoreDefaultVisibility", "keepRevisionForever", "ocrLanguage", "useContentAsIndexableText",
               "enforceSingleParent"},
    "update": {"addParents", "removeParents", "keepRevisionForever", "ocrLanguage",
               "useContentAsIndexableText", "enforceSingleParent"},
    "delete": {"enforceSingleParent"},
    "session": {"upload_id"},
    "generateIds": {"count", "space", "type"},
}
REDACTED_PARAMS = {"access_token", "oauth_token", "key"}
LOGGED_HEADERS = ("Range", "Content-Range", "Content-Length", "Content-Type", "X-Upload-Content-Length",
                  "X-Upload-Content-Type", "Expect")

# reason -> (status, domain, message)
REASONS = {
    "badRequest": (400, "global", "Bad Request"),
    "invalid": (400, "global", "Invalid Value"),
    "invalidParameter": (400, "global", "Invalid Value"),
    "required": (401, "global", "Login Required."),
    "authError": (401, "global", "Invalid Credentials"),
    "insufficientPermissions": (403, "global",
                                "Insufficient Permission: Request had insufficient authentication scopes."),
    "insufficientFilePermissions": (403, "global", "The user does not have sufficient permissions for this file."),
    "parseError": (400, "global", "Parse Error"),
    "fieldNotWritable": (403, "global", "The resource body includes fields which are not directly writable."),
    "fileNotDownloadable": (403, "global",
                            "Only files with binary content can be downloaded. Use Export with Docs Editors files."),
    "fileNotExportable": (403, "global", "Export only supports Docs Editors files."),
    "exportSizeLimitExceeded": (403, "global", "This file is too large to be exported."),
    "storageQuotaExceeded": (403, "global", "The user's Drive storage quota has been exceeded."),
    "rateLimitExceeded": (403, "usageLimits", "Rate Limit Exceeded"),
    "userRateLimitExceeded": (403, "usageLimits", "User Rate Limit Exceeded"),
    "dailyLimitExceeded": (403, "usageLimits", "Daily Limit Exceeded"),
    "sharingRateLimitExceeded": (403, "global", "Rate limit exceeded. User message: \"Sharing rate limit exceeded.\""),
    "notFound": (404, "global", "Not Found"),
    "fileIdInUse": (409, "global", "A file already exists with the provided ID."),
    "requestedRangeNotSatisfiable": (416, "global", "Request range not satisfiable"),
    "backendError": (500, "global", "Backend Error"),
    "internalError": (500, "global", "Internal Error"),
}

PROXY_PAGE = ("<!DOCTYPE html>\n<html><head><title>{status} {phrase}</title></head>\n<body><h1>{status} {phrase}</h1>\n"
              "<p>The proxy server received an invalid response from an upstream server.</p>\n"
              "<hr><address>proxy at 127.0.0.1</address></body></html>\n")


class DriveError(Exception):
    def __init__(self, reason, message=None, status=None, location=None, location_type="parameter",
                 headers=None, domain=None):
        default_status, default_domain, default_message = REASONS.get(reason, (400, "global", reason))
        super().__init__(message or default_message)
        self.status = status or default_status
        self.reason = reason
        self.message = message or default_message
        self.domain = domain or default_domain
        self.location = location
        self.location_type = location_type
        self.headers = headers or {}

    def body(self):
        item = {"domain": self.domain, "reason": self.reason, "message": self.message}
        if self.location:
            item.update(locationType=self.location_type, location=self.location)
        return {"error": {"code": self.status, "message": self.message, "errors": [item]}}


def invalid(location, message="Invalid Value"):
    return DriveError("invalid", message, location=location)


def not_found(file_id):
    return DriveError("notFound", "File not found: %s." % file_id, location="fileId")


# ---------------------------------------------------------------- content

_TILE = bytes(j % 251 for j in range(65536 + 251))
_ROTATE = [bytes((c + r) % 256 for c in range(256)) for r in range(256)]


def pattern(seed, start, end):
    """The generated content's bytes [start, end), in pieces of at most 64 KiB."""
    while start < end:
        block, offset = divmod(start, 65536)
        take = min(end - start, 65536 - offset)
        tile = (block * 65536 + offset) % 251
        yield _TILE[tile:tile + take].translate(_ROTATE[(block + seed) % 256])
        start += take


class Node:
    """One file; content is bytes, or None for the generated pattern of size bytes."""
    __slots__ = ("seq", "id", "name", "mime", "parents", "explicit", "trashed", "starred", "modified",
                 "created", "size", "data", "seed", "md5", "export_size", "export_data", "drive_id", "extra")

    def is_apps(self):
        return self.mime.startswith(APPS_PREFIX)

    def chunks(self, start, end):
        if self.data is not None:
            yield self.data[start:end]
        else:
            yield from pattern(self.seed, start, end)

    def checksum(self):
        if self.md5 is None:
            digest = hashlib.md5()
            for piece in self.chunks(0, self.size):
                digest.update(piece)
            self.md5 = digest.hexdigest()
        return self.md5

    def resource(self):
        r = {"kind": "drive#file", "id": self.id, "name": self.name, "mimeType": self.mime,
             "starred": self.starred, "trashed": self.trashed, "explicitlyTrashed": self.explicit,
             "parents": list(self.parents), "spaces": ["drive"], "createdTime": self.created,
             "modifiedTime": self.modified, "ownedByMe": True,
             "capabilities": {"canDownload": True, "canEdit": True, "canRename": True, "canTrash": True,
                              "canDelete": True, "canAddChildren": self.mime == FOLDER,
                              "canListChildren": self.mime == FOLDER}}
        if not self.parents:
            del r["parents"]
        if not self.is_apps():
            r["size"] = str(self.size)
            # Hashing gigabytes of generated bytes in Python would stall the
            # first listing for a minute; Drive too leaves the key out at times.
            if self.md5 is not None or self.data is not None or self.size <= GENERATED_MD5_LIMIT:
                r["md5Checksum"] = self.checksum()
            r["quotaBytesUsed"] = str(self.size)
        if self.drive_id:
            r["driveId"] = self.drive_id
        if self.extra:
            r.update(self.extra)
        return r


def now_text():
    t = time.time()
    return time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(t)) + ".%03dZ" % (int(t * 1000) % 1000)


# ---------------------------------------------------------------- query

class QueryError(Exception):
    pass


def tokenize(q):
    tokens, i, n = [], 0, len(q)
    while i < n:
        c = q[i]
        if c in " \t\r\n":
            i += 1
        elif c == "'":
            i += 1
            text = []
            while True:
                if i >= n:
                    raise QueryError("unterminated string")
                c = q[i]
                if c == "\\":
                    if i + 1 < n and q[i + 1] in "'\\":
                        text.append(q[i + 1])
                        i += 2
                        continue
                    raise QueryError("bad escape")
                i += 1
                if c == "'":
                    break
                text.append(c)
            tokens.append(("str", "".join(text)))
        elif c in "()":
            tokens.append((c, c))
            i += 1
        elif q.startswith("!=", i):
            tokens.append(("op", "!="))
            i += 2
        elif c == "=":
            tokens.append(("op", "="))
            i += 1
        elif c.isascii() and (c.isalpha() or c == "_"):
            j = i
            while j < n and q[j].isascii() and (q[j].isalnum() or q[j] == "_"):
                j += 1
            tokens.append(("word", q[i:j]))
            i = j
        else:
            raise QueryError("unexpected character")
    return tokens


class QueryParser:
    """q := or; or := and {"or" and}; and := unary {"and" unary};
    unary := "not" unary | "(" or ")" | term."""

    def __init__(self, q):
        self.tokens = tokenize(q)
        self.i = 0

    def peek(self):
        return self.tokens[self.i] if self.i < len(self.tokens) else (None, None)

    def take(self):
        token = self.peek()
        if token[0] is None:
            raise QueryError("unexpected end")
        self.i += 1
        return token

    def keyword(self, word):
        kind, value = self.peek()
        if kind == "word" and value.lower() == word:
            self.i += 1
            return True
        return False

    def parse(self):
        tree = self.disjunction()
        if self.peek()[0] is not None:
            raise QueryError("trailing tokens")
        return tree

    def disjunction(self):
        parts = [self.conjunction()]
        while self.keyword("or"):
            parts.append(self.conjunction())
        return parts[0] if len(parts) == 1 else ("or", parts)

    def conjunction(self):
        parts = [self.unary()]
        while self.keyword("and"):
            parts.append(self.unary())
        return parts[0] if len(parts) == 1 else ("and", parts)

    def unary(self):
        if self.keyword("not"):
            return ("not", self.unary())
        if self.peek()[0] == "(":
            self.take()
            tree = self.disjunction()
            if self.take()[0] != ")":
                raise QueryError("missing )")
            return tree
        return self.term()

    def term(self):
        kind, value = self.take()
        if kind == "str":
            if not self.keyword("in") or self.take() != ("word", "parents"):
                raise QueryError("expected in parents")
            return ("parent", value)
        if kind != "word":
            raise QueryError("expected a term")
        if value in ("name", "mimeType"):
            if self.keyword("contains"):
                op = "contains"
            else:
                op_kind, op = self.take()
                if op_kind != "op":
                    raise QueryError("expected an operator")
            literal_kind, literal = self.take()
            if literal_kind != "str":
                raise QueryError("expected a string")
            return ("cmp", value, op, literal)
        if value in ("trashed", "starred"):
            op_kind, op = self.take()
            literal_kind, literal = self.take()
            if op_kind != "op" or literal_kind != "word" or literal.lower() not in ("true", "false"):
                raise QueryError("expected = true or = false")
            return ("cmp", value, op, literal.lower() == "true")
        raise QueryError("unknown field")


def word_prefix(value, name):
    value, name = value.casefold(), name.casefold()
    return name.startswith(value) or any(w.startswith(value) for w in re.split(r"[\s._-]+", name))


def evaluate(tree, node, root_id, ignore_case):
    kind = tree[0]
    if kind == "and":
        return all(evaluate(t, node, root_id, ignore_case) for t in tree[1])
    if kind == "or":
        return any(evaluate(t, node, root_id, ignore_case) for t in tree[1])
    if kind == "not":
        return not evaluate(tree[1], node, root_id, ignore_case)
    if kind == "parent":
        return (root_id if tree[1] == "root" else tree[1]) in node.parents
    _, field, op, literal = tree
    value = {"name": node.name, "mimeType": node.mime, "trashed": node.trashed, "starred": node.starred}[field]
    if op == "contains":
        return word_prefix(literal, value) if field == "name" else literal in value
    if field == "name" and ignore_case:
        value, literal = value.casefold(), literal.casefold()
    return (value == literal) == (op == "=")


def plan(tree):
    """The parent and the names a query narrows to, where its top conjunction says so."""
    terms = tree[1] if tree[0] == "and" else [tree]
    parent, names = None, None
    for term in terms:
        if term[0] == "parent" and parent is None:
            parent = term[1]
        found = name_equalities(term)
        if found is not None and names is None:
            names = found
    return parent, names


def name_equalities(term):
    if term[0] == "cmp" and term[1] == "name" and term[2] == "=":
        return [term[3]]
    if term[0] == "or":
        names = []
        for t in term[1]:
            found = name_equalities(t)
            if found is None:
                return None
            names += found
        return names
    return None


# ---------------------------------------------------------------- fields

def parse_fields(text):
    """fields := item {"," item}; item := name {"/" name} ["(" fields ")"]. A tree: name -> subtree or None."""
    pos = 0

    def items(depth):
        nonlocal pos
        selection = {}
        while True:
            m = re.compile(r"[A-Za-z0-9_*]+(?:/[A-Za-z0-9_*]+)*").match(text, pos)
            if not m:
                raise DriveError("invalidParameter", "Invalid field selection %s" % text[pos:], location="fields")
            pos = m.end()
            path = m.group(0).split("/")
            sub = None
            if pos < len(text) and text[pos] == "(":
                pos += 1
                sub = items(depth + 1)
                if pos >= len(text) or text[pos] != ")":
                    raise DriveError("invalidParameter", "Invalid field selection %s" % text, location="fields")
                pos += 1
            node = selection
            for name in path[:-1]:
                # below a field selected whole, a sub-selection adds nothing
                node = {} if name in node and node[name] is None else node.setdefault(name, {})
            merge_selection(node, path[-1], sub)
            if pos < len(text) and text[pos] == ",":
                pos += 1
                continue
            if depth == 0 and pos != len(text):
                raise DriveError("invalidParameter", "Invalid field selection %s" % text, location="fields")
            return selection

    return items(0)


def merge_selection(node, name, sub):
    if name in node and (node[name] is None or sub is None):
        node[name] = None
    elif name in node:
        for key, value in sub.items():
            merge_selection(node[name], key, value)
    else:
        node[name] = sub


def check_selection(selection, schema):
    for name, sub in selection.items():
        if name == "*":
            continue
        if name not in schema:
            raise DriveError("invalidParameter", "Invalid field selection %s" % name, location="fields")
        kind = schema[name]
        if sub is not None:
            if kind is False:
                raise DriveError("invalidParameter", "Invalid field selection %s" % name, location="fields")
            if isinstance(kind, dict):
                check_selection(sub, kind)


def select(selection, value):
    if selection is None or "*" in selection:
        return value
    if isinstance(value, list):
        return [select(selection, v) for v in value]
    if not isinstance(value, dict):
        return value
    return {k: select(sub, value[k]) for k, sub in selection.items() if k in value}


DEFAULT_FILE = {"kind": None, "id": None, "name": None, "mimeType": None}
DEFAULT_LIST = {"kind": None, "nextPageToken": None, "incompleteSearch": None, "files": DEFAULT_FILE}


def selection_of(query, schema, default):
    text = query.get("fields")
    if text is None:
        return default
    selection = parse_fields(text)
    check_selection(selection, schema)
    return selection


# ---------------------------------------------------------------- the drive

class Drive:
    def __init__(self, values, root, tokens, big_folders):
        self.lock = threading.RLock()
        self.nodes, self.children, self.by_name = {}, {}, {}
        self.seq = 0
        self.tokens, self.no_scope = set(tokens), set()
        self.quota_free = None
        self.ignore_case = False
        self.listings = {}
        self.sessions = {}
        self.generated = set()
        files, generators, given_root = [], [], root
        for value in values:
            if not isinstance(value, dict):
                raise ValueError("the tree holds a value that is not an object")
            files += value.get("files", [])
            generators += value.get("generate", [])
            given_root = given_root or value.get("root")
            self.tokens.update(value.get("tokens", []))
            self.no_scope.update(value.get("tokens_without_drive_scope", []))
            self.quota_free = value.get("quota_bytes_free", self.quota_free)
            self.ignore_case = value.get("name_equals_ignores_case", self.ignore_case)
        if not self.tokens:
            self.tokens.add("emulator-token")
        ids = {f["id"] for f in files}
        if given_root is None:
            orphans = {p for f in files for p in f.get("parents", []) if p not in ids}
            if len(orphans) != 1:
                raise ValueError("the tree names no root and has %d parent ids of no file" % len(orphans))
            given_root = orphans.pop()
        self.root_id = given_root
        if given_root not in ids:
            self.add({"id": given_root, "name": "My Drive", "mimeType": FOLDER})
        for f in files:
            self.add(f)
        for g in generators:
            self.generate(g)
        for spec in big_folders:
            name, _, count = spec.partition("=")
            folder = "1Big" + re.sub(r"[^A-Za-z0-9]", "", name)
            self.add({"id": folder, "name": name, "mimeType": FOLDER, "parents": [self.root_id]})
            self.generate({"parent": folder, "count": int(count), "name": "f{i:06d}.txt",
                           "id": folder + "x{i:06d}", "size": 16})
        for node in list(self.nodes.values()):
            for p in node.parents:
                if p not in self.nodes:
                    raise ValueError("file %s has the parent %s, which is not in the tree" % (node.id, p))
        self.set_trashed(self.nodes[self.root_id], False)

    def add(self, f):
        node = self.make(f)
        if node.id in self.nodes:
            raise ValueError("the id %s is given twice" % node.id)
        self.nodes[node.id] = node
        self.link(node)
        return node

    def make(self, f):
        extra = dict(f)
        node = Node()
        self.seq += 1
        node.seq = self.seq
        node.id = extra.pop("id")
        node.name = extra.pop("name", "Untitled")
        node.mime = extra.pop("mimeType", "application/octet-stream")
        node.parents = tuple(extra.pop("parents", ()))
        node.explicit = node.trashed = bool(extra.pop("trashed", False))
        extra.pop("explicitlyTrashed", None)
        node.starred = bool(extra.pop("starred", False))
        node.modified = extra.pop("modifiedTime", "2024-01-01T00:00:00.000Z")
        node.created = extra.pop("createdTime", node.modified)
        node.drive_id = extra.pop("driveId", None)
        node.md5 = extra.pop("md5Checksum", None)
        node.seed = extra.pop("content_seed", zlib.crc32(node.id.encode()) % 256)
        node.data = None
        if "content" in extra:
            node.data = extra.pop("content").encode()
        elif "content_base64" in extra:
            node.data = base64.b64decode(extra.pop("content_base64"))
        size = extra.pop("size", None)
        node.size = len(node.data) if node.data is not None else int(size or 0)
        node.export_size = extra.pop("export_size", None)
        text = extra.pop("export_content", None)
        node.export_data = text.encode() if text is not None else None
        if node.export_data is None and node.export_size is None:
            node.export_data = ("Export of %s\n" % node.name).encode()
        node.extra = extra or None
        return node

    def generate(self, g):
        for i in range(1, int(g["count"]) + 1):
            self.add({"id": g.get("id", g["parent"] + "x{i:06d}").format(i=i),
                      "name": g.get("name", "f{i:06d}.txt").format(i=i),
                      "mimeType": g.get("mimeType", "text/plain"), "parents": [g["parent"]],
                      "size": g.get("size", 0), "modifiedTime": g.get("modifiedTime", "2024-01-01T00:00:00.000Z")})

    def link(self, node):
        for p in node.parents:
            self.children.setdefault(p, {})[node.id] = node
        self.by_name.setdefault(node.name.casefold(), {})[node.id] = node

    def unlink(self, node):
        for p in node.parents:
            self.children.get(p, {}).pop(node.id, None)
        self.by_name.get(node.name.casefold(), {}).pop(node.id, None)

    def get(self, file_id, all_drives=True):
        node = self.nodes.get(self.root_id if file_id == "root" else file_id)
        if node is None or (node.drive_id and not all_drives):
            raise not_found(file_id)
        return node

    def folder(self, file_id):
        node = self.get(file_id)
        if node.mime != FOLDER:
            raise DriveError("badRequest", "The parent %s is not a folder." % file_id, location="parents")
        return node

    def set_trashed(self, node, explicit):
        node.explicit = explicit
        parent = self.nodes.get(node.parents[0]) if node.parents else None
        stack, seen = [(node, parent.trashed if parent else False)], set()
        while stack:
            n, inherited = stack.pop()
            if n.id in seen:
                continue
            seen.add(n.id)
            n.trashed = n.explicit or inherited
            stack += [(c, n.trashed) for c in self.children.get(n.id, {}).values()]

    def remove(self, node):
        stack = [node]
        while stack:
            n = stack.pop()
            stack += list(self.children.pop(n.id, {}).values())
            self.unlink(n)
            self.nodes.pop(n.id, None)

    def search(self, q, all_drives):
        try:
            tree = QueryParser(q).parse() if q.strip() else ("and", [])
        except QueryError:
            raise invalid("q")
        parent, names = plan(tree)
        if parent is not None:
            parent = self.root_id if parent == "root" else parent
        if names is not None:
            found = {}
            for name in names:
                found.update(self.by_name.get(name.casefold(), {}))
            candidates = sorted(found.values(), key=lambda n: n.seq)
        elif parent is not None:
            candidates = list(self.children.get(parent, {}).values())
        else:
            candidates = sorted(self.nodes.values(), key=lambda n: n.seq)
        return [n for n in candidates if n.id != self.root_id and (all_drives or not n.drive_id)
                and evaluate(tree, n, self.root_id, self.ignore_case)]

    def new_id(self):
        self.seq += 1
        return "1Emu%08dNew" % self.seq

    def page_token(self, q, found, start):
        token = secrets.token_urlsafe(18)
        if len(self.listings) > 10000:
            self.listings.pop(next(iter(self.listings)))
        self.listings[token] = (q, found, start)
        return token

    def generate_ids(self, count):
        ids = []
        while len(ids) < count:
            self.seq += 1
            candidate = "1Emu%08dGen" % self.seq
            if candidate not in self.nodes:
                ids.append(candidate)
        self.generated.update(ids)
        return ids

    def check_id(self, file_id):
        """Whether a create may give the new file this id."""
        if isinstance(file_id, str) and file_id in self.nodes:
            raise DriveError("fileIdInUse")
        if not isinstance(file_id, str) or file_id not in self.generated:
            raise DriveError("invalid", "The provided file ID is not usable.", location="id")


# ---------------------------------------------------------------- faults

class Faults:
    def __init__(self):
        self.lock = threading.Lock()
        self.rules = []

    def add(self, rules):
        rules = rules if isinstance(rules, list) else [rules]
        for rule in rules:
            if not isinstance(rule, dict):
                raise ValueError("a fault rule is not an object")
            for key in ("path", "query"):
                if key in rule:
                    re.compile(rule[key])
            if rule.get("cut") not in (None, "connection", "request", "response", "answer"):
                raise ValueError("unknown cut %r" % rule["cut"])
        with self.lock:
            first = len(self.rules)
            self.rules += [dict(r, matched=0, fired=0) for r in rules]
            return list(range(first, len(self.rules)))

    def pick(self, n, method, path, raw_query, headers):
        with self.lock:
            for index, rule in enumerate(self.rules):
                if rule.get("method", method).upper() != method:
                    continue
                if "path" in rule and not re.search(rule["path"], path):
                    continue
                if "query" in rule and not re.search(rule["query"], raw_query):
                    continue
                if any(not re.search(rx, headers.get(name, "")) for name, rx in rule.get("header", {}).items()):
                    continue
                if rule.get("request", n) != n:
                    continue
                rule["matched"] += 1
                due = rule["matched"] - int(rule.get("after", 0))
                times = int(rule.get("times", 1))
                if due < 1 or (due - 1) % int(rule.get("every", 1)) or (times and rule["fired"] >= times):
                    continue
                rule["fired"] += 1
                return index, rule
        return None, None


# ---------------------------------------------------------------- HTTP

class Answer:
    def __init__(self, status, body=b"", content_type="application/json; charset=UTF-8", headers=None,
                 length=None, chunks=None, value=None):
        self.status, self.body, self.content_type = status, body, content_type
        self.headers = headers or {}
        self.value = value  # a JSON answer's value, for "merge"
        self.chunks = chunks
        self.length = len(body) if length is None else length


def json_answer(status, value, headers=None):
    return Answer(status, json.dumps(value, indent=2).encode() + b"\n", headers=headers, value=value)


def error_answer(error):
    return json_answer(error.status, error.body(), dict(error.headers))


class Cut(Exception):
    """Ends a request without an answer: the connection is closed. data: the body read so far."""

    def __init__(self, why, data=b""):
        super().__init__(why)
        self.data = data


def check_body(metadata, allowed):
    for key in metadata:
        if key not in FILE_FIELDS:
            raise DriveError("badRequest", "Invalid JSON payload received. Unknown name \"%s\"." % key,
                             location=key)
        if key not in allowed:
            raise DriveError("fieldNotWritable", location=key)


def boolean(query, name):
    value = query.get(name, "false").lower()
    if value not in ("true", "false"):
        raise invalid(name, "Invalid value '%s' for %s" % (query[name], name))
    return value == "true"


def parse_content_range(text):
    m = re.fullmatch(r"bytes (?:(\d+)-(\d+)|\*)/(\d+|\*)", text.strip())
    if not m:
        raise DriveError("badRequest", "Failed to parse Content-Range header.", location="Content-Range",
                         location_type="header")
    first = int(m.group(1)) if m.group(1) else None
    last = int(m.group(2)) if m.group(2) else None
    total = None if m.group(3) == "*" else int(m.group(3))
    if first is not None and (last < first or (total is not None and last >= total)):
        raise DriveError("badRequest", "Invalid Content-Range header.", location="Content-Range",
                         location_type="header")
    return first, last, total


class Session:
    def __init__(self, sid, metadata, target, query):
        self.id, self.metadata, self.target, self.query = sid, metadata, target, query
        self.data = bytearray()
        self.total = None
        self.node = None


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "DriveEmulator/1"
    # Headers and body go out in separate writes: with Nagle's algorithm, a
    # kept-alive connection waits out the client's delayed ACK (40 ms) on each.
    disable_nagle_algorithm = True
    timeout = 60

    def version_string(self):
        return self.server_version

    def log_message(self, *args):
        pass

    do_GET = do_POST = do_PUT = do_PATCH = do_DELETE = lambda self: self.dispatch()

    # -- plumbing

    def dispatch(self):
        app = self.server.app
        url = urllib.parse.urlsplit(self.path)
        self.url_path, self.raw_query = url.path, url.query
        pairs = urllib.parse.parse_qsl(url.query, keep_blank_values=True)
        self.query = dict(pairs)
        self.received = 0
        self.body_done = False
        self.entry = None
        self.rule = None
        if not app.count_request():
            self.body_drain()
            self.close_connection = True
            self.send_answer(error_answer(DriveError("backendError", "The emulator's request bound is reached.",
                                                     status=503)))
            return
        if self.url_path.startswith("/emulator/"):
            self.send_answer(self.control())
            return
        n = app.next_number()
        self.entry = {"n": n, "method": self.command, "path": self.url_path,
                      "query": {k: ("<redacted>" if k in REDACTED_PARAMS else v) for k, v in pairs},
                      "headers": {h: self.headers[h] for h in LOGGED_HEADERS if h in self.headers},
                      "auth": None, "status": None, "received": 0, "sent": 0, "fault": None}
        index, rule = app.faults.pick(n, self.command, self.url_path, self.raw_query, self.headers)
        self.rule = rule or {}
        try:
            if rule is not None:
                self.entry["fault"] = index
            if rule and rule.get("delay"):
                time.sleep(float(rule["delay"]))
            answer = self.faulted(rule) if rule else None
            if answer is None:
                try:
                    answer = self.route()
                except DriveError as e:
                    answer = error_answer(e)
                if rule and rule.get("merge") and isinstance(answer.value, dict):
                    answer = json_answer(answer.status, dict(answer.value, **rule["merge"]), answer.headers)
            self.body_drain()
            if rule and rule.get("cut") == "answer":
                raise Cut("answer")
            self.send_answer(answer, cut_at=rule.get("cut_at", 0.5) if rule and rule.get("cut") == "response"
                             else None)
        except Cut as e:
            self.entry["cut"] = str(e)
            if e.data and self.is_session_put():
                self.store_partial(e.data, "aligned")
            self.hang_up()
        except OSError:
            self.entry["cut"] = "client"
            self.hang_up()
        except Exception:
            traceback.print_exc()
            self.entry["cut"] = "emulator error"
            self.hang_up()
        finally:
            self.entry["received"] = self.received
            app.record(self.entry)

    def hang_up(self):
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def is_session_put(self):
        return self.command == "PUT" and self.url_path == "/upload/drive/v3/files" and "upload_id" in self.query

    def faulted(self, rule):
        cut = rule.get("cut")
        if cut == "connection":
            raise Cut("connection")
        if cut == "request":
            length = int(self.headers.get("Content-Length", 0))
            at = rule.get("cut_at", 0.5)
            limit = int(length * at) if isinstance(at, float) else min(int(at), length)
            data = self.body_read(limit)
            if self.is_session_put():
                self.store_partial(data, rule.get("keep", "aligned"))
            raise Cut("request")
        if rule.get("expire_session"):
            with self.server.app.drive.lock:
                self.server.app.drive.sessions.pop(self.query.get("upload_id"), None)
            return error_answer(DriveError("notFound", "Upload session expired.", status=rule.get("status", 404)))
        if not any(key in rule for key in ("status", "reason", "html", "body")):
            return None
        reason = rule.get("reason", "backendError")
        status = int(rule.get("status", REASONS.get(reason, (500,))[0]))
        headers = dict(rule.get("headers", {}))
        if "retry_after" in rule:
            headers["Retry-After"] = str(rule["retry_after"])
        if rule.get("html"):
            phrase = http.server.BaseHTTPRequestHandler.responses.get(status, ("Error",))[0]
            page = PROXY_PAGE.format(status=status, phrase=phrase).encode()
            return Answer(status, page, "text/html; charset=UTF-8", headers)
        if "body" in rule:
            body = rule["body"].encode() * rule.get("body_repeat", 1)
            return Answer(status, body, rule.get("content_type", "text/plain"), headers)
        error = DriveError(reason, rule.get("message"), status=status, domain=rule.get("domain"), headers=headers)
        if status == 401:
            error.headers.setdefault("WWW-Authenticate", 'Bearer realm="https://accounts.google.com/"')
        return error_answer(error)

    def body_read(self, limit=None):
        """Reads the request body (Content-Length or chunked), at most limit bytes."""
        if getattr(self, "body_done", False):
            return b""
        self.body_done = True
        out = bytearray()
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            while limit is None or len(out) < limit:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    break
                piece = self.rfile.read(size)
                self.rfile.readline()
                out += piece
                self.received += len(piece)
            return bytes(out[:limit] if limit is not None else out)
        want = int(self.headers.get("Content-Length", 0) or 0)
        if limit is not None:
            want = min(want, limit)
        while len(out) < want:
            piece = self.rfile.read1(min(want - len(out), 1 << 20))
            if not piece:
                raise Cut("client", bytes(out))
            out += piece
            self.received += len(piece)
        return bytes(out)

    def body_drain(self):
        self.body_read()

    def send_answer(self, answer, cut_at=None):
        # JSON answers are compressed when asked, as Drive does.
        if (self.server.app.gzip and answer.chunks is None and answer.body
                and answer.content_type.startswith("application/json")
                and "gzip" in (self.headers.get("Accept-Encoding") or "")):
            answer.body = gzip.compress(answer.body, 6)
            answer.length = len(answer.body)
            answer.headers = dict(answer.headers, **{"Content-Encoding": "gzip"})
        length = answer.length
        send = length
        if cut_at is not None:
            send = int(length * cut_at) if isinstance(cut_at, float) else min(int(cut_at), length)
        phrase = "Resume Incomplete" if answer.status == 308 else None
        self.send_response(answer.status, phrase)
        if answer.status != 204:
            if length or answer.status not in (308,):
                self.send_header("Content-Type", answer.content_type)
            self.send_header("Content-Length", str(length))
        for name, value in answer.headers.items():
            self.send_header(name, value)
        if self.close_connection:
            self.send_header("Connection", "close")
        self.end_headers()
        sent = 0
        pieces = answer.chunks if answer.chunks is not None else [answer.body]
        rate = self.server.app.bandwidth
        started = time.monotonic()
        for piece in pieces:
            if sent >= send:
                break
            piece = piece[:send - sent]
            # A connection's bandwidth: each 64 KiB waits for its time.
            for at in range(0, len(piece), 65536 if rate else max(len(piece), 1)):
                self.wfile.write(piece[at:at + (65536 if rate else len(piece))])
                sent += min(len(piece) - at, 65536 if rate else len(piece))
                if rate:
                    ahead = sent / rate - (time.monotonic() - started)
                    if ahead > 0:
                        time.sleep(ahead)
        if self.entry is not None:
            self.entry["status"] = answer.status
            self.entry["sent"] = sent
        if cut_at is not None:
            self.wfile.flush()
            raise Cut("response")

    # -- authorization

    def authorize(self):
        app = self.server.app
        value = self.headers.get("Authorization")
        token = value[7:].strip() if value and value.startswith("Bearer ") else None
        realm = 'Bearer realm="https://accounts.google.com/"'
        if token is None:
            self.entry["auth"] = "missing"
            raise DriveError("required", "Request is missing required authentication credential. Expected OAuth 2 "
                             "access token, login cookie or other valid authentication credential.",
                             location="Authorization", location_type="header", headers={"WWW-Authenticate": realm})
        if token in app.drive.no_scope:
            self.entry["auth"] = "no-scope"
            raise DriveError("insufficientPermissions", headers={
                "WWW-Authenticate": realm + ', error="insufficient_scope", '
                                            'scope="https://www.googleapis.com/auth/drive"'})
        if token not in app.drive.tokens:
            self.entry["auth"] = "wrong"
            raise DriveError("authError", "Invalid Credentials", location="Authorization", location_type="header",
                             headers={"WWW-Authenticate": realm + ', error="invalid_token"'})
        self.entry["auth"] = "ok"

    def check_params(self, kind):
        allowed = COMMON_PARAMS | DRIVES_PARAMS | PARAMS[kind]
        for name in self.query:
            if name not in allowed:
                raise DriveError("badRequest", "Invalid JSON payload received. Unknown name \"%s\": Cannot bind "
                                 "query parameter. Field '%s' could not be found in request message." % (name, name),
                                 location=name)
        alt = self.query.get("alt", "json")
        if alt not in ("json", "media") or (alt == "media" and kind not in ("get", "export")):
            raise invalid("alt", "Invalid value '%s' for alt" % alt)

    def json_body(self):
        raw = self.body_read()
        if not raw.strip():
            return {}
        try:
            value = json.loads(raw)
        except ValueError:
            value = None
        if not isinstance(value, dict):
            raise DriveError("parseError")
        return value

    # -- routes

    def route(self):
        path, method = self.url_path, self.command
        if path == "/upload/drive/v3/files" and method == "PUT" and "upload_id" in self.query:
            self.entry["auth"] = "session"
            self.check_params("session")
            return self.upload_chunk()
        self.authorize()
        m = re.fullmatch(r"/drive/v3/files(?:/([^/]+)(/export)?)?", path)
        u = re.fullmatch(r"/upload/drive/v3/files(?:/([^/]+))?", path)
        file_id = urllib.parse.unquote(m.group(1)) if m and m.group(1) else None
        if path == "/drive/v3/files/generateIds" and method == "GET":
            return self.generate_ids()
        if m and not file_id and method == "GET":
            return self.list_files()
        if m and not file_id and method == "POST":
            return self.create()
        if m and file_id and m.group(2) and method == "GET":
            return self.export(file_id)
        if m and file_id and not m.group(2) and method in ("GET", "PATCH", "DELETE"):
            return {"GET": self.get_file, "PATCH": self.update, "DELETE": self.delete}[method](file_id)
        if u and ((method == "POST" and not u.group(1)) or (method == "PATCH" and u.group(1))):
            return self.upload_start(urllib.parse.unquote(u.group(1)) if u.group(1) else None)
        raise DriveError("notFound", "Not Found: %s %s" % (method, path), location=None)

    def list_files(self):
        self.check_params("list")
        drive, query = self.server.app.drive, self.query
        selection = selection_of(query, LIST_FIELDS, DEFAULT_LIST)
        text = query.get("pageSize", str(PAGE_DEFAULT))
        if not text.isdigit() or not 1 <= int(text) <= PAGE_MAX:
            raise invalid("pageSize", "Invalid value '%s'. Values must be within the range: [1, %d]"
                          % (text, PAGE_MAX))
        size = min(int(text), self.server.app.max_page)
        all_drives = boolean(query, "includeItemsFromAllDrives") and boolean(query, "supportsAllDrives")
        q = query.get("q", "")
        with drive.lock:
            if "pageToken" in query:
                listing = drive.listings.get(query["pageToken"])
                if listing is None or listing[0] != q:
                    raise invalid("pageToken")
                _, found, start = listing
            else:
                found, start = drive.search(q, all_drives), 0
            page = found[start:start + size]
            files = [n.resource() for n in page]
            overflow = int(self.rule.get("page_overflow", 0))
            if overflow:
                parent = plan(QueryParser(q).parse())[0] if q.strip() else None
                parent = drive.root_id if parent in (None, "root") else parent
                for i in range(1, int(text) + overflow - len(files) + 1):
                    files.append(drive.make({"id": drive.new_id(), "name": "overflow-%d" % i,
                                             "mimeType": "text/plain", "parents": [parent], "content": ""})
                                 .resource())
            value = {"kind": "drive#fileList", "incompleteSearch": False, "files": files}
            if start + size < len(found):
                value["nextPageToken"] = drive.page_token(q, found, start + size)
            if self.rule.get("repeat_page_token"):
                value["nextPageToken"] = query.get("pageToken") or drive.page_token(q, found, 0)
        return json_answer(200, select(selection, value))

    def generate_ids(self):
        self.check_params("generateIds")
        selection = selection_of(self.query, IDS_FIELDS, None)
        text = self.query.get("count", "10")
        if not text.isdigit() or not 1 <= int(text) <= 1000:
            raise invalid("count", "Invalid value '%s'. Values must be within the range: [1, 1000]" % text)
        space = self.query.get("space", "drive")
        if space != "drive":
            raise invalid("space", "Invalid value '%s' for space" % space)
        if self.query.get("type", "files") not in ("files", "shortcuts"):
            raise invalid("type", "Invalid value '%s' for type" % self.query["type"])
        drive = self.server.app.drive
        with drive.lock:
            ids = drive.generate_ids(int(text))
        return json_answer(200, select(selection, {"kind": "drive#generatedIds", "space": space, "ids": ids}))

    def get_file(self, file_id):
        self.check_params("get")
        drive = self.server.app.drive
        selection = selection_of(self.query, FILE_FIELDS, DEFAULT_FILE)
        with drive.lock:
            node = drive.get(file_id, boolean(self.query, "supportsAllDrives"))
            if self.query.get("alt") != "media":
                return json_answer(200, select(selection, node.resource()))
        if node.is_apps():
            raise DriveError("fileNotDownloadable", location="alt")
        return self.media(node)

    def media(self, node):
        size = node.size
        first, last = 0, size - 1
        status, headers = 200, {"Accept-Ranges": "bytes"}
        asked = "" if self.rule.get("ignore_range") else self.headers.get("Range", "")
        m = re.fullmatch(r"bytes=(\d*)-(\d*)", asked.strip())
        if m and m.group(1) and m.group(2) and int(m.group(2)) < int(m.group(1)):
            m = None  # an invalid range is ignored, as HTTP allows
        if m and (m.group(1) or m.group(2)):
            if m.group(1):
                first = int(m.group(1))
                last = min(int(m.group(2)), size - 1) if m.group(2) else size - 1
            else:
                first = max(size - int(m.group(2)), 0)
            if first >= size or last < first or (not m.group(1) and m.group(2) == "0"):
                raise DriveError("requestedRangeNotSatisfiable", status=416, location="Range",
                                 location_type="header", headers={"Content-Range": "bytes */%d" % size})
            status = 206
            headers["Content-Range"] = self.rule.get("content_range", "bytes %d-%d/%d" % (first, last, size))
        return Answer(status, content_type=node.mime, headers=headers, length=max(last - first + 1, 0),
                      chunks=node.chunks(first, last + 1))

    def export(self, file_id):
        self.check_params("export")
        drive = self.server.app.drive
        with drive.lock:
            node = drive.get(file_id, boolean(self.query, "supportsAllDrives"))
        target = self.query.get("mimeType")
        if not target:
            raise DriveError("required", "Required parameter: mimeType", status=400, location="mimeType")
        kind = node.mime[len(APPS_PREFIX):] if node.is_apps() else None
        if kind not in EXPORTS:
            raise DriveError("fileNotExportable", location="fileId")
        if target not in EXPORTS[kind]:
            raise DriveError("badRequest", "The requested conversion is not supported.", location="convertTo")
        if node.export_data is not None:
            return Answer(200, node.export_data, target)
        if node.export_size > EXPORT_LIMIT:
            raise DriveError("exportSizeLimitExceeded", location=None)
        return Answer(200, content_type=target, length=node.export_size, chunks=pattern(node.seed, 0, node.export_size))

    def new_node(self, metadata, data=b""):
        drive = self.server.app.drive
        check_body(metadata, CREATABLE)
        parents = metadata.get("parents") or [drive.root_id]
        if not isinstance(parents, list) or len(parents) != 1:
            raise DriveError("badRequest", "A file must have exactly one parent.", location="parents")
        parent = drive.folder(parents[0])
        if "id" in metadata:
            drive.check_id(metadata["id"])
            drive.generated.discard(metadata["id"])
        f = dict(metadata, id=metadata.get("id") or drive.new_id(), parents=[parent.id])
        f.setdefault("createdTime", now_text())
        f.setdefault("modifiedTime", f["createdTime"])
        f.setdefault("name", "Untitled")
        f.setdefault("mimeType", "application/octet-stream")
        node = drive.add(f)
        node.data, node.size = data, len(data)
        drive.set_trashed(node, node.explicit)
        return node

    def create(self):
        self.check_params("create")
        drive = self.server.app.drive
        selection = selection_of(self.query, FILE_FIELDS, DEFAULT_FILE)
        metadata = self.json_body()
        with drive.lock:
            node = self.new_node(metadata)
            return json_answer(200, select(selection, node.resource()))

    def update(self, file_id):
        self.check_params("update")
        drive = self.server.app.drive
        selection = selection_of(self.query, FILE_FIELDS, DEFAULT_FILE)
        metadata = self.json_body()
        check_body(metadata, WRITABLE)
        with drive.lock:
            node = drive.get(file_id, boolean(self.query, "supportsAllDrives"))
            add = [p for p in self.query.get("addParents", "").split(",") if p]
            remove = [p for p in self.query.get("removeParents", "").split(",") if p]
            for p in add:
                drive.folder(p)
            drive.unlink(node)
            parents = [p for p in node.parents if p not in remove and
                       not (p == drive.root_id and "root" in remove)]
            parents += [drive.root_id if p == "root" else p for p in add if p not in parents]
            node.parents = tuple(parents)
            if "name" in metadata:
                node.name = str(metadata["name"])
            if "mimeType" in metadata:
                node.mime = str(metadata["mimeType"])
            node.starred = bool(metadata.get("starred", node.starred))
            drive.link(node)
            if "trashed" in metadata or add or remove:
                drive.set_trashed(node, bool(metadata.get("trashed", node.explicit)))
            node.modified = metadata.get("modifiedTime", node.modified)
            for key in ("description", "properties", "appProperties", "folderColorRgb"):
                if key in metadata:
                    node.extra = dict(node.extra or {}, **{key: metadata[key]})
            return json_answer(200, select(selection, node.resource()))

    def delete(self, file_id):
        self.check_params("delete")
        drive = self.server.app.drive
        with drive.lock:
            node = drive.get(file_id, boolean(self.query, "supportsAllDrives"))
            if node.id == drive.root_id:
                raise DriveError("insufficientFilePermissions")
            drive.remove(node)
        return Answer(204, b"")

    # -- resumable uploads

    def upload_start(self, target_id):
        self.check_params("create" if target_id is None else "update")
        if self.query.get("uploadType") != "resumable":
            raise DriveError("badRequest", "The emulator serves uploadType=resumable only.", location="uploadType")
        drive = self.server.app.drive
        selection_of(self.query, FILE_FIELDS, DEFAULT_FILE)
        metadata = self.json_body()
        check_body(metadata, CREATABLE if target_id is None else WRITABLE)
        declared = self.headers.get("X-Upload-Content-Length")
        with drive.lock:
            if target_id is not None:
                drive.get(target_id, boolean(self.query, "supportsAllDrives"))
            else:
                drive.folder((metadata.get("parents") or ["root"])[0])
                if "id" in metadata:
                    drive.check_id(metadata["id"])
            if declared and drive.quota_free is not None and int(declared) > drive.quota_free:
                raise DriveError("storageQuotaExceeded")
            if "mimeType" not in metadata and self.headers.get("X-Upload-Content-Type"):
                metadata["mimeType"] = self.headers["X-Upload-Content-Type"]
            sid = "emu%d-%s" % (drive.seq, secrets.token_urlsafe(12))
            drive.seq += 1
            drive.sessions[sid] = Session(sid, metadata, target_id, self.raw_query)
        host = "%s:%d" % self.server.server_address[:2]
        location = "http://%s/upload/drive/v3/files?%s&upload_id=%s" % (host, self.raw_query, sid)
        return Answer(200, b"", headers={"Location": location, "X-GUploader-UploadID": sid})

    def session(self):
        sessions = self.server.app.drive.sessions
        session = sessions.get(self.query.get("upload_id"))
        if session is None:
            raise DriveError("notFound", "Upload session not found or expired.", location="upload_id")
        return session

    def store_partial(self, data, keep):
        """What a chunk cut short leaves in its session."""
        drive = self.server.app.drive
        try:
            first, _, total = parse_content_range(self.headers.get("Content-Range", ""))
            with drive.lock:
                session = self.session()
                if first is None or keep == "none":
                    return
                end = first + len(data)
                if keep == "aligned" and end != total:
                    end = end // GRANULE * GRANULE
                self.entry["upload"] = self.store(session, first, data[:max(end - first, 0)], total, partial=True)
        except DriveError:
            pass

    def set_total(self, session, total):
        if total is not None and session.total not in (None, total):
            raise DriveError("badRequest", "The total size changed from %d to %d." % (session.total, total),
                             location="Content-Range", location_type="header")
        if total is not None:
            session.total = total

    def store(self, session, first, data, total, partial=False):
        """Appends data given at offset first; a complete non-final chunk keeps whole units only."""
        drive = self.server.app.drive
        stored = len(session.data)
        note = {"session": session.id, "first": first, "last": first + len(data) - 1, "total": total,
                "stored_before": stored}
        self.set_total(session, total)
        end = first + len(data)
        if first > stored:
            note["gap"] = True
        else:
            if first < stored:
                note["overlap"] = min(stored - first, len(data))
            if end != session.total and not partial and end % GRANULE:
                note["misaligned"] = True
                end = end // GRANULE * GRANULE
            if end > stored:
                if drive.quota_free is not None:
                    if end - stored > drive.quota_free:
                        raise DriveError("storageQuotaExceeded")
                    drive.quota_free -= end - stored
                session.data += data[stored - first:end - first]
        note["stored_after"] = len(session.data)
        return note

    def upload_chunk(self):
        drive = self.server.app.drive
        header = self.headers.get("Content-Range")
        data = self.body_read()
        with drive.lock:
            session = self.session()
            if session.node is None:
                if header is None:
                    self.entry["upload"] = self.store(session, 0, data, len(data))
                else:
                    first, last, total = parse_content_range(header)
                    if first is None:
                        if data:
                            raise DriveError("badRequest", "A status request has no body.",
                                             location="Content-Range", location_type="header")
                        self.set_total(session, total)
                        self.entry["upload"] = {"session": session.id, "status_request": True, "total": total,
                                                "stored_before": len(session.data),
                                                "stored_after": len(session.data)}
                    elif last - first + 1 != len(data):
                        raise DriveError("badRequest", "The Content-Range and the body's length differ.",
                                         location="Content-Range", location_type="header")
                    else:
                        self.entry["upload"] = self.store(session, first, data, total)
                if session.total is not None and len(session.data) == session.total:
                    self.complete(session)
            if session.node is None:
                headers = {"Range": "bytes=0-%d" % (len(session.data) - 1)} if session.data else {}
                return Answer(308, b"", headers=headers)
            node = drive.nodes.get(session.node)
            if node is None:
                raise not_found(session.node)
            selection = selection_of(dict(urllib.parse.parse_qsl(session.query)), FILE_FIELDS, DEFAULT_FILE)
            return json_answer(200, select(selection, node.resource()))

    def complete(self, session):
        drive = self.server.app.drive
        data = bytes(session.data)
        if session.target is not None:
            node = drive.get(session.target)
            node.data, node.size, node.md5 = data, len(data), None
            meta = session.metadata
            node.modified = meta.get("modifiedTime", now_text())
            if "name" in meta:
                drive.unlink(node)
                node.name = meta["name"]
                drive.link(node)
        else:
            node = self.new_node(session.metadata, data)
        session.node = node.id

    # -- control

    def control(self):
        app = self.server.app
        path, method = self.url_path, self.command
        try:
            body = self.body_read()
            if path == "/emulator/log" and method == "GET":
                since = int(self.query.get("since", 0))
                with app.log_lock:
                    app.logged.wait_for(lambda: app.recorded >= app.numbered, timeout=10)
                    text = "".join(json.dumps(e) + "\n" for e in app.log if e["n"] > since)
                return Answer(200, text.encode(), "application/x-ndjson")
            if path == "/emulator/log" and method == "DELETE":
                # A request a client has its answer to may not be recorded
                # yet: it is cleared with the rest, never left to the next reader.
                with app.log_lock:
                    app.logged.wait_for(lambda: app.recorded >= app.numbered, timeout=10)
                    app.log.clear()
                return Answer(204)
            if path == "/emulator/faults" and method == "GET":
                return json_answer(200, app.faults.rules)
            if path == "/emulator/faults" and method == "POST":
                return json_answer(200, {"added": app.faults.add(json.loads(body))})
            if path == "/emulator/faults" and method == "DELETE":
                with app.faults.lock:
                    app.faults.rules.clear()
                return Answer(204)
            if path == "/emulator/tokens" and method == "PUT":
                value = json.loads(body)
                with app.drive.lock:
                    app.drive.tokens = set(value.get("tokens", []))
                    app.drive.no_scope = set(value.get("tokens_without_drive_scope", []))
                return Answer(204)
            if path == "/emulator/sessions" and method == "GET":
                with app.drive.lock:
                    return json_answer(200, [{"id": s.id, "stored": len(s.data), "total": s.total,
                                              "file": s.node} for s in app.drive.sessions.values()])
            m = re.fullmatch(r"/emulator/files/([^/]+)(/content)?", path)
            if m and method == "GET":
                with app.drive.lock:
                    node = app.drive.get(urllib.parse.unquote(m.group(1)))
                    if m.group(2):
                        return Answer(200, b"".join(node.chunks(0, node.size)), "application/octet-stream")
                    return json_answer(200, node.resource())
            raise DriveError("notFound", "No such control endpoint.")
        except DriveError as e:
            return error_answer(e)
        except ValueError as e:
            return error_answer(DriveError("badRequest", "Bad control request: %s" % e))


class App:
    def __init__(self, drive, faults, log_file, max_requests, max_page):
        self.drive, self.faults, self.log_file = drive, faults, log_file
        self.max_requests, self.max_page = max_requests, max_page
        self.bandwidth = 0
        self.gzip = True
        self.log, self.log_lock = [], threading.Lock()
        # Requests are logged once answered: a reader of the log waits for
        # every numbered one, so it never misses one a client already has.
        self.logged = threading.Condition(self.log_lock)
        self.recorded = 0
        self.requests = self.numbered = 0
        self.stop = threading.Event()
        self.bound_reached = False

    def count_request(self):
        with self.log_lock:
            self.requests += 1
            if self.requests > self.max_requests:
                self.bound_reached = "--max-requests"
                self.stop.set()
                return False
            return True

    def next_number(self):
        with self.log_lock:
            self.numbered += 1
            return self.numbered

    def record(self, entry):
        with self.log_lock:
            self.log.append(entry)
            self.recorded += 1
            self.logged.notify_all()
            if self.log_file:
                self.log_file.write(json.dumps(entry) + "\n")
                self.log_file.flush()


def read_values(path):
    text = open(path, encoding="utf-8").read()
    decoder, values, i = json.JSONDecoder(), [], 0
    while True:
        while i < len(text) and text[i].isspace():
            i += 1
        if i >= len(text):
            return values
        value, i = decoder.raw_decode(text, i)
        values.append(value)


def main(argv=None):
    parser = argparse.ArgumentParser(description="Google Drive v3 emulator for tests (see the module docstring).")
    parser.add_argument("--tree", required=True, help="the tree: a JSON object or files.list pages")
    parser.add_argument("--root", help="the root folder's id, if the tree does not say")
    parser.add_argument("--faults", help="a JSON list of fault rules")
    parser.add_argument("--log", help="where the request log is written, one JSON object a line")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--token", action="append", default=[], help="an accepted token (repeatable)")
    parser.add_argument("--big-folder", action="append", default=[], metavar="NAME=COUNT")
    parser.add_argument("--max-requests", type=int, default=20000)
    parser.add_argument("--max-seconds", type=float, default=300)
    parser.add_argument("--max-page", type=int, default=PAGE_MAX, help="serve at most this many files a page")
    parser.add_argument("--no-gzip", action="store_true", help="never compress, even when asked")
    parser.add_argument("--bandwidth", type=float, default=0,
                        help="bytes a second each connection sends at most, as one long-distance TCP connection")
    parser.add_argument("--ignore-stdin", action="store_true", help="do not stop at the end of standard input")
    args = parser.parse_args(argv)
    for spec in args.big_folder:
        if not re.fullmatch(r"[^=]+=\d+", spec):
            parser.error("--big-folder wants NAME=COUNT")
    try:
        drive = Drive(read_values(args.tree), args.root, args.token, args.big_folder)
        faults = Faults()
        if args.faults:
            faults.add(read_values(args.faults)[0])
    except (OSError, ValueError, KeyError, TypeError) as e:
        print("emulator: %s" % e, file=sys.stderr)
        return 2
    log_file = open(args.log, "w", encoding="utf-8") if args.log else None
    app = App(drive, faults, log_file, args.max_requests, args.max_page)
    app.bandwidth = args.bandwidth
    app.gzip = not args.no_gzip
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    server.app = app
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: app.stop.set())
    if not args.ignore_stdin:
        def watch_stdin():
            try:
                # os.read takes no lock that interpreter shutdown would wait for
                while os.read(0, 65536):
                    pass
            except OSError:
                pass
            app.stop.set()
        threading.Thread(target=watch_stdin, daemon=True).start()
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print("PORT %d" % server.server_address[1], flush=True)
    if not app.stop.wait(args.max_seconds):
        app.bound_reached = "--max-seconds"
    server.shutdown()
    server.server_close()
    if log_file:
        with app.log_lock:
            log_file.close()
            app.log_file = None
    if app.bound_reached:
        print("emulator: stopped by its bound %s" % app.bound_reached, file=sys.stderr)
        return 3
    return 0


if __name__ == "__main__":
    sys.exit(main())
