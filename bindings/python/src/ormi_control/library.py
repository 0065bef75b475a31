"""The eight exports of the ormi_control library, as they are.

The library reads ``ormi_control.ini`` from the directory that was current
when it was loaded. :func:`load` therefore loads it with a folder of its own
as the current directory (changed only for the moment of the load, under the
process lock) and hands that folder out as :attr:`Library.settings_path`.

Every export runs under one process-wide lock, and a text that ``getValue``
returns is copied out of the library's buffer before the lock is given up,
since the next call of any export overwrites it.
"""

import atexit
import contextlib
import ctypes
import ctypes.util
import importlib.resources
import os
import shutil
import sys
import tempfile
import threading
from typing import Dict, List, Optional, Union

from .errors import LibraryNotFound, OrmiError

__all__ = ["Library", "load", "library_file_name", "LOCK"]

# Serialises every call into the library in this process, and the writes of
# the settings file that frame them.
LOCK = threading.RLock()

_ENV = "ORMI_CONTROL_LIBRARY"
_SETTINGS = "ormi_control.ini"

_loaded: Dict[str, "Library"] = {}


def library_file_name() -> str:
    """The library's file name on this platform."""
    if sys.platform == "win32":
        return "ormi_control.dll"
    if sys.platform == "darwin":
        return "libormi_control.dylib"
    return "libormi_control.so"


def _bundled_candidates() -> List[str]:
    """The copy a wheel carries, as package data, found through importlib.resources."""
    name = library_file_name()
    places = ["lib/" + name]
    if sys.platform == "win32":
        # A source tree may carry both bitnesses; a wheel carries one, in lib/.
        places.insert(0, "lib/%s/%s" % ("x64" if sys.maxsize > 2**32 else "x86", name))
    found = []
    for place in places:
        resource = _package_files().joinpath(*place.split("/"))
        if not resource.is_file():
            found.append(os.path.join(os.path.dirname(os.path.abspath(__file__)), *place.split("/")))
            continue
        if isinstance(resource, os.PathLike):
            found.append(os.fspath(resource))
        else:
            # Imported from a zip: the system loads files only, so a copy is
            # extracted and kept until the interpreter exits.
            found.append(os.fspath(_extracted.enter_context(importlib.resources.as_file(resource))))
    return found


def _package_files():
    if sys.version_info >= (3, 9):
        return importlib.resources.files(__package__)
    import pathlib  # Python 3.8: no files(); the package's folder on disk

    return pathlib.Path(os.path.dirname(os.path.abspath(__file__)))


_extracted = contextlib.ExitStack()
atexit.register(_extracted.close)


class Library:
    """One loaded copy of the library: the exports with their C types.

    Texts are ``bytes`` (8-bit, passed as they stand). Use :func:`load`
    rather than this constructor.
    """

    def __init__(self, path: str, handle: ctypes.CDLL, folder: str, owns_folder: bool) -> None:
        self.path = path
        self.folder = folder
        self.settings_path = os.path.join(folder, _SETTINGS)
        self._owns_folder = owns_folder
        self._users = 0
        self._bind(handle)

    def _bind(self, handle: ctypes.CDLL) -> None:
        c_char_p, c_int, c_void_p = ctypes.c_char_p, ctypes.c_int, ctypes.c_void_p
        # The channel is declared writable (char*); it is handed over in a
        # buffer of its own so that the caller's bytes can never be touched.
        writable = ctypes.POINTER(ctypes.c_char)
        table = {
            "startDLL": ([], c_int),
            "checkConnection": ([], c_int),
            "getIO": ([c_char_p, writable], c_int),
            "setIO": ([c_char_p, writable, c_int], c_int),
            # A pointer, not c_char_p: the text is copied by _copy under the lock.
            "getValue": ([c_char_p, c_char_p, c_char_p], c_void_p),
            "setValue": ([c_char_p, c_char_p, c_char_p, c_char_p], c_int),
            "sendUpdateFile": ([c_char_p, c_char_p, c_char_p, c_int], c_int),
            "sendUpdateFileResp": ([], c_int),
        }
        self._functions = {}
        for name, (arguments, result) in table.items():
            try:
                function = getattr(handle, name)
            except AttributeError:
                raise OrmiError("%s does not export %s" % (self.path, name)) from None
            function.argtypes = arguments
            function.restype = result
            self._functions[name] = function

    # ---- the exports

    def startDLL(self) -> int:
        with LOCK:
            return self._functions["startDLL"]()

    def checkConnection(self) -> int:
        """1 when the device accepted the login, else 0."""
        with LOCK:
            return self._functions["checkConnection"]()

    def getIO(self, base: bytes, channel: bytes) -> int:
        """The channel's value; -1 on failure (or as the value)."""
        with LOCK:
            return self._functions["getIO"](base, ctypes.create_string_buffer(channel))

    def setIO(self, base: bytes, channel: bytes, value: int) -> int:
        """1 when the device confirmed, else 0."""
        with LOCK:
            return self._functions["setIO"](base, ctypes.create_string_buffer(channel), value)

    def getValue(self, type: bytes, module: bytes, key: bytes) -> Optional[bytes]:
        """A copy of the answer text, or ``None`` on failure."""
        with LOCK:
            pointer = self._functions["getValue"](type, module, key)
            return None if pointer is None else ctypes.string_at(pointer)

    def setValue(self, type: bytes, module: bytes, key: bytes, value: bytes) -> int:
        """1 when the device confirmed, else 0."""
        with LOCK:
            return self._functions["setValue"](type, module, key, value)

    def sendUpdateFile(self, type: bytes, fileName: bytes, data: bytes, length: Optional[int] = None) -> int:
        """1 answered, 0 sent but not yet answered, -1 not sent."""
        if length is None:
            length = len(data)
        if not 0 <= length <= len(data):
            raise ValueError("length %d outside the data's %d bytes" % (length, len(data)))
        with LOCK:
            return self._functions["sendUpdateFile"](type, fileName, data, length)

    def sendUpdateFileResp(self) -> int:
        """1 once the answer to a pending upload has come, else 0 (after up to a second)."""
        with LOCK:
            return self._functions["sendUpdateFileResp"]()

    # ---- the private settings folder

    def acquire(self) -> None:
        """Counts a user of the folder; makes it again after a release removed it."""
        with LOCK:
            if self._owns_folder and not os.path.isdir(self.folder):
                # The library still reads from this very path; mkdir fails
                # rather than take over a path that someone else has made.
                os.mkdir(self.folder, 0o700)
            self._users += 1

    def release(self) -> None:
        """The last user gone, the private folder and its settings are removed."""
        with LOCK:
            self._users = max(0, self._users - 1)
            if self._users == 0:
                self.remove_folder()

    def remove_folder(self) -> None:
        with LOCK:
            if not self._owns_folder:
                return
            try:
                # Emptied before the unlink: a copy of the disk blocks keeps no password.
                with open(self.settings_path, "r+b") as stream:
                    stream.truncate(0)
            except OSError:
                pass
            shutil.rmtree(self.folder, ignore_errors=True)


def _loaded_file(handle: ctypes.CDLL) -> Optional[str]:
    """The file the system actually loaded, or None where it cannot say."""
    try:
        if sys.platform == "win32":
            name = ctypes.create_unicode_buffer(32768)
            length = ctypes.windll.kernel32.GetModuleFileNameW(ctypes.c_void_p(handle._handle), name, len(name))
            return name.value if length else None

        class Info(ctypes.Structure):
            _fields_ = [("dli_fname", ctypes.c_char_p), ("dli_fbase", ctypes.c_void_p),
                        ("dli_sname", ctypes.c_char_p), ("dli_saddr", ctypes.c_void_p)]

        info = Info()
        dladdr = ctypes.CDLL(None).dladdr
        dladdr.argtypes = [ctypes.c_void_p, ctypes.POINTER(Info)]
        address = ctypes.cast(handle.startDLL, ctypes.c_void_p)
        if not dladdr(address, ctypes.byref(info)) or not info.dli_fname:
            return None
        return os.fsdecode(info.dli_fname)
    except (AttributeError, OSError):
        return None


def _open(path: str, folder: str) -> ctypes.CDLL:
    kind = ctypes.WinDLL if sys.platform == "win32" else ctypes.CDLL
    previous = os.getcwd()
    os.chdir(folder)
    try:
        return kind(path)
    finally:
        os.chdir(previous)


def _check_folder(loaded: Library, folder: Optional[str]) -> Library:
    # Loaded once per process: it keeps reading the folder of that load.
    if folder is not None and os.path.abspath(folder) != loaded.folder:
        raise OrmiError("%s is loaded already and reads the settings in %s, not in %s"
                        % (loaded.path, loaded.folder, folder))
    return loaded


def load(library: Union[str, "os.PathLike[str]", None] = None, folder: Optional[str] = None) -> Library:
    """Loads the library once per file and process.

    Looked for in this order: ``library``, the environment variable
    ``ORMI_CONTROL_LIBRARY``, the copy bundled in this package (its
    ``lib/`` data, through importlib.resources), the
    platform's search (``PATH`` / ``LD_LIBRARY_PATH`` and the system's
    folders). A path given by the caller or the environment is the only
    one tried. ``folder`` is the directory whose ``ormi_control.ini`` the
    library will read; by default a private folder made for it, removed at
    interpreter exit.
    """
    tried: List[str] = []
    if library is not None:
        candidates = [os.fspath(library)]
        origin = "the path given"
    elif os.environ.get(_ENV):
        candidates = [os.environ[_ENV]]
        origin = _ENV
    else:
        candidates = _bundled_candidates()
        found = ctypes.util.find_library("ormi_control")
        candidates += [found] if found else []
        candidates.append(library_file_name())
        origin = None
    with LOCK:
        for candidate in candidates:
            is_path = os.sep in candidate or (os.altsep or os.sep) in candidate
            key = os.path.realpath(candidate) if is_path else candidate
            if key in _loaded:
                return _check_folder(_loaded[key], folder)
            if is_path and not os.path.isfile(candidate):
                tried.append("%s (no such file)" % candidate)
                continue
            own = folder is None
            where = tempfile.mkdtemp(prefix="ormi_control-") if own else os.path.abspath(folder)
            try:
                # The absolute path, since the load happens in the other directory.
                handle = _open(os.path.abspath(candidate) if is_path else candidate, where)
            except OSError as error:
                if own:
                    shutil.rmtree(where, ignore_errors=True)
                tried.append("%s (%s)" % (candidate, error))
                continue
            # The same file by another name: the system hands back the copy
            # already loaded, which reads the folder of its first load.
            actual = _loaded_file(handle)
            actual = os.path.realpath(actual) if actual else key
            if actual in _loaded:
                if own:
                    shutil.rmtree(where, ignore_errors=True)
                _loaded[key] = _loaded[actual]
                return _check_folder(_loaded[actual], folder)
            loaded = Library(candidate, handle, where, own)
            _loaded[key] = _loaded[actual] = loaded
            return loaded
    source = " from %s" % origin if origin else ""
    raise LibraryNotFound("ormi_control library not found%s; tried: %s" % (source, "; ".join(tried)), tried)


@atexit.register
def _remove_folders() -> None:
    for loaded in list(_loaded.values()):
        loaded.remove_folder()
