"""The C library through ctypes: every declaration the binding calls."""

import ctypes
import ctypes.util
import glob
import os

_c = ctypes
_p = _c.c_void_p
_s = _c.c_char_p
_u64 = _c.c_uint64
_r = _c.c_uint32  # ostrel_result_t


class Metadata(_c.Structure):
    """ostrel_google_metadata_t, field for field."""
    _fields_ = [
        ("id", _s), ("name", _s), ("drive_id", _s), ("mime_type", _s),
        ("created_time", _c.c_long), ("created_time_set", _c.c_bool),
        ("viewed_by_me_time", _c.c_long), ("viewed_by_me_time_set", _c.c_bool),
        ("modified_time", _c.c_long), ("modified_time_set", _c.c_bool),
        ("owned_by_me", _c.c_bool), ("owned_by_me_set", _c.c_bool),
        ("owner_count", _c.c_size_t), ("owners", _c.POINTER(_s)),
        ("can_edit", _c.c_bool), ("can_edit_set", _c.c_bool),
        ("starred", _c.c_bool), ("starred_set", _c.c_bool),
        ("trashed", _c.c_bool), ("trashed_set", _c.c_bool),
        ("explicitly_trashed", _c.c_bool), ("explicitly_trashed_set", _c.c_bool),
        ("md5_checksum", _c.c_char * 33), ("size", _c.c_uint64), ("size_set", _c.c_bool),
        ("parent_count", _c.c_size_t), ("parents", _c.POINTER(_s)),
        ("plugin_flag", _c.c_bool), ("append_id", _c.c_bool),
    ]


SEND = _c.CFUNCTYPE(_r, _p, _p, _p, _c.c_ulong)

_SIGNATURES = {
    # name: (result, arguments)
    "ostrel_google_drive_start": (_r, [_s, _c.c_bool]),
    "ostrel_google_drive_session_create": (_r, [_s, _s, _c.POINTER(_p)]),
    "ostrel_google_drive_session_set_limits": (None, [_p, _c.c_uint, _u64, _c.c_size_t, _c.c_size_t]),
    "ostrel_google_drive_session_forget": (None, [_p]),
    "ostrel_google_drive_session_request_count": (_u64, [_p]),
    "ostrel_google_drive_session_free": (None, [_p]),
    "ostrel_google_drive_op_stat": (_r, [_p, _s, _u64, _c.POINTER(_p)]),
    "ostrel_google_drive_op_list": (_r, [_p, _s, _u64, _c.POINTER(_p)]),
    "ostrel_google_drive_op_read": (_r, [_p, _s, _u64, _u64, _c.c_bool, _u64, _c.POINTER(_p)]),
    "ostrel_google_drive_op_write": (_r, [_p, _s, _u64, _c.c_int64, _u64, _c.POINTER(_p)]),
    "ostrel_google_drive_op_set_time": (_r, [_p, _s, _c.c_int64, _u64, _c.POINTER(_p)]),
    "ostrel_google_drive_op_facts": (_p, [_p, _c.c_size_t]),
    "ostrel_google_drive_drive_md5": (_r, [_c.POINTER(Metadata), _u64, _u64, _c.POINTER(_s)]),
    "ostrel_google_drive_client_size": (_c.c_bool, [_c.POINTER(Metadata), _c.POINTER(_u64)]),
    "ostrel_google_drive_checksum_create": (_r, [_s, _c.POINTER(_p)]),
    "ostrel_google_drive_checksum_update": (None, [_p, _c.c_char_p, _c.c_size_t]),
    "ostrel_google_drive_checksum_text": (_p, [_p]),
    "ostrel_google_drive_checksum_free": (None, [_p]),
    "ostrel_google_drive_op_set_md5": (None, [_p, _s]),
    "ostrel_google_drive_op_mkdir": (_r, [_p, _s, _u64, _c.POINTER(_p)]),
    "ostrel_google_drive_op_rename": (_r, [_p, _s, _s, _u64, _c.POINTER(_p)]),
    "ostrel_google_drive_op_delete": (_r, [_p, _s, _c.c_bool, _u64, _c.POINTER(_p)]),
    "ostrel_google_drive_op_rmdir": (_r, [_p, _s, _c.c_bool, _u64, _c.POINTER(_p)]),
    "ostrel_google_drive_op_get": (_r, [_p, _s, _u64, _c.POINTER(_p)]),
    "ostrel_google_drive_op_next": (_r, [_p, _c.POINTER(_p), _c.POINTER(_c.c_ulong)]),
    "ostrel_google_drive_op_streams": (_c.c_bool, [_p]),
    "ostrel_google_drive_op_feed": (_r, [_p, _c.c_int, _s, _c.c_char_p, _c.c_size_t, _c.c_uint, _u64]),
    "ostrel_google_drive_op_feed_head": (_r, [_p, _c.c_int, _s, _c.c_uint, _u64, _c.POINTER(_c.c_bool),
                                              _c.POINTER(_u64), _c.POINTER(_u64)]),
    "ostrel_google_drive_op_feed_body": (_r, [_p, _c.c_char_p, _c.c_size_t]),
    "ostrel_google_drive_op_feed_end": (_r, [_p, _u64, _c.c_bool]),
    "ostrel_google_drive_op_discard": (_c.c_bool, [_p]),
    "ostrel_google_drive_op_content": (_c.POINTER(_c.c_char), [_p, _c.POINTER(_c.c_size_t)]),
    "ostrel_google_drive_op_bytes": (_u64, [_p]),
    "ostrel_google_drive_op_md5": (_s, [_p]),
    "ostrel_google_drive_op_file": (_c.POINTER(Metadata), [_p]),
    "ostrel_google_drive_op_entry_count": (_c.c_size_t, [_p]),
    "ostrel_google_drive_op_entry": (_c.POINTER(Metadata), [_p, _c.c_size_t]),
    "ostrel_google_drive_op_entry_name": (_s, [_p, _c.c_size_t]),
    "ostrel_google_drive_op_request_count": (_u64, [_p]),
    "ostrel_google_drive_op_list_trashed": (_r, [_p, _s, _u64, _c.POINTER(_p)]),
    "ostrel_google_drive_op_set_create_only": (None, [_p]),
    "ostrel_google_drive_op_set_chunk_size": (None, [_p, _u64]),
    "ostrel_google_drive_op_restarts": (_c.c_uint, [_p]),
    "ostrel_google_drive_op_step_count": (_c.c_size_t, [_p]),
    "ostrel_google_drive_op_step": (_c.POINTER(Metadata), [_p, _c.c_size_t]),
    "ostrel_google_drive_op_left_out": (_c.c_size_t, [_p, _c.POINTER(_c.c_bool)]),
    "ostrel_google_drive_op_free": (None, [_p]),
    "ostrel_google_drive_reply": (_p, [_r, _c.POINTER(_c.c_int), _c.c_bool]),
    "ostrel_google_drive_request_method": (_s, [_p]),
    "ostrel_google_drive_request_url": (_s, [_p]),
    "ostrel_google_drive_request_header_count": (_c.c_size_t, [_p]),
    "ostrel_google_drive_request_header_name": (_s, [_p, _c.c_size_t]),
    "ostrel_google_drive_request_header_value": (_s, [_p, _c.c_size_t]),
    "ostrel_google_drive_request_body": (_c.POINTER(_c.c_char), [_p, _c.POINTER(_c.c_size_t)]),
    "ostrel_google_drive_request_data_offset": (_u64, [_p]),
    "ostrel_google_drive_request_data_length": (_u64, [_p]),
    "ostrel_google_drive_kind": (_c.c_int, [_c.POINTER(Metadata), _c.POINTER(_s)]),
    # the host runtime's, reached through the library's dependencies
    "ostrel_error_get": (_p, [_r]),
    "ostrel_object_free": (None, [_p]),
}


def _installed():
    """The library installed with this package: PREFIX/lib/ostrel-gdrive/python/ostrel_gdrive is here, the
    library in PREFIX's lib directory (lib, or lib/MULTIARCH)."""
    prefix = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "..")
    found = sorted(glob.glob(os.path.join(prefix, "lib*", "**", "libostrel_google_drive_common.so.0"),
                             recursive=True))
    return os.path.abspath(found[0]) if found else None


def _load():
    path = os.environ.get("OSTREL_GDRIVE_LIBRARY") or _installed() \
        or ctypes.util.find_library("ostrel_google_drive_common") or "libostrel_google_drive_common.so.0"
    lib = ctypes.CDLL(path)
    libc = ctypes.CDLL(None)
    for name, (result, arguments) in _SIGNATURES.items():
        function = getattr(lib, name)
        function.restype = result
        function.argtypes = arguments
    libc.free.argtypes = [_p]
    libc.free.restype = None
    return lib, libc


lib, libc = _load()
