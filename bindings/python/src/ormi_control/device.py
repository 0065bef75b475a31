"""A device driven through the library: settings, errors and locking handled."""

import math
import os
import socket
import time
from typing import NamedTuple, Optional, Union

from .errors import LoginRefused, OrmiError, Refused, Unreachable, UploadFailed
from .library import LOCK, Library, load

__all__ = ["Device", "DeviceInfo"]


class DeviceInfo(NamedTuple):
    """What :meth:`Device.check` found."""

    type: str       # "ORMI" or "ORMI-M"
    version: str    # the package version, e.g. "2.1.0" or "2.1.0m"


def _device_type(version: str) -> str:
    # The text after the last digit: none or "-..." is an ORMI, a suffix such
    # as "m" an ORMI-M.
    at = len(version)
    while at > 0 and not version[at - 1].isdigit():
        at -= 1
    rest = version[at:]
    return "ORMI" if rest == "" or rest.startswith("-") else "ORMI-M"


def _probe(host: str, port: int, timeout: float) -> "tuple[bool, Optional[int]]":
    """Whether a web server answers at host:port, and the bytes that had
    come when a reset cut its answer (None when it was not cut): tells a
    refusal by the device from a network failure after a failed library
    call."""
    deadline = time.monotonic() + timeout
    answer = b""
    try:
        with socket.create_connection((host, port), timeout=timeout) as connection:
            connection.sendall(("GET / HTTP/1.1\nHost: %s\n\n\n" % host).encode("ascii", "replace"))
            # The whole answer: only the device's close ends it.
            while time.monotonic() < deadline:
                connection.settimeout(max(0.01, deadline - time.monotonic()))
                piece = connection.recv(4096)
                if not piece:
                    break
                answer += piece
    except (ConnectionResetError, ConnectionAbortedError):
        return False, len(answer)
    except (OSError, ValueError):
        pass
    return answer.startswith(b"HTTP/"), None


class Device:
    """One device, addressed by the settings given here.

    Every method writes ``ormi_control.ini`` with the password into the
    library's private folder, makes its calls and empties the password again
    before it returns, also when it fails. The folder is removed by
    :meth:`close`, at the end of a ``with`` block (when no other open
    :class:`Device` uses the same library) and at interpreter exit.

    Texts are encoded with ``encoding`` (the devices' 8-bit texts). All calls
    of the process are serialised by one lock, so a device may be shared by
    threads.
    """

    def __init__(self, address: str, port: int = 80, user: str = "admin", password: str = "",
                 login_method: int = 1, timeout: float = 2, library: Union[str, "os.PathLike[str]", None] = None,
                 encoding: str = "cp1252") -> None:
        for name, text in (("address", address), ("user", user), ("password", password)):
            if not isinstance(text, str) or any(c in text for c in "\r\n\0"):
                raise ValueError("%s must be a text of one line" % name)
        if not address:
            raise ValueError("address must not be empty")
        if not 0 < int(port) < 65536:
            raise ValueError("port %r outside 1..65535" % (port,))
        if login_method not in (1, 2):
            raise ValueError("login_method must be 1 or 2")
        if not timeout > 0:
            raise ValueError("timeout must be positive")
        self.address = address
        self.port = int(port)
        self.user = user
        self.login_method = login_method
        # The library waits whole seconds.
        self.timeout = int(math.ceil(timeout))
        self.encoding = encoding
        self._password = password
        for text in (address, user, password):
            self._text(text)   # an unencodable text is refused now, not in the middle of a call
        self._library: Optional[Library] = load(library)
        self._library.acquire()

    # ---- life time

    def close(self) -> None:
        """Gives up the library's folder; the device can no longer be used."""
        with LOCK:
            if self._library is not None:
                self._library.release()
                self._library = None

    def __enter__(self) -> "Device":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:
            pass

    def __repr__(self) -> str:
        return "Device(%r, port=%d, user=%r)" % (self.address, self.port, self.user)

    @property
    def library(self) -> Library:
        """The library's exports, for calls this class does not offer."""
        if self._library is None:
            raise OrmiError("device closed")
        return self._library

    # ---- the calls

    def check(self) -> DeviceInfo:
        """Logs in and reads the device type and package version."""
        with LOCK, self._settings():
            self._login()
            version = self.library.getValue(b"configuration", b"devicebase", b"package_version")
            if not version:
                raise self._failure(Refused, "the device gives no package version")
        version_text = version.decode(self.encoding)
        return DeviceInfo(_device_type(version_text), version_text)

    def get(self, type: str, module: str, key: str = "") -> str:
        """The answer text to a read of ``module``; with ``key`` (a dotted
        path) the string, true or false value of that key in it ("" for a
        number or a key that is not there)."""
        with LOCK, self._settings():
            text = self.library.getValue(self._text(type), self._text(module), self._text(key))
            if text is None:
                message = "no value for %s/%s%s" % (type, module, " key " + key if key else "")
                unreachable = self._unreachable(message)
                if unreachable:
                    raise unreachable
                # The whole answer holds what the device said.
                device_text = self.library.getValue(self._text(type), self._text(module), b"") if key else None
                raise Refused(message, self._decoded(device_text))
        return text.decode(self.encoding)

    def set(self, type: str, module: str, key: str, value: str) -> None:
        """Writes ``value`` (JSON text as it stands) as the data of ``module``,
        or with a ``key`` into the module's stored file ``configbase/<module>.json``
        under the current directory."""
        with LOCK, self._settings():
            if self.library.setValue(self._text(type), self._text(module), self._text(key), self._text(value)) != 1:
                raise self._failure(Refused, "the device did not take %s/%s" % (type, module))

    def io_get(self, base: str, channel: str) -> int:
        """The value of channel ``channel`` ("di1", "ao2", ...) of module ``base``."""
        with LOCK, self._settings():
            value = self.library.getIO(self._text(base), self._text(channel))
            if value != -1:
                return value
            # -1 is also a failure: the channel's answer tells which.
            ending = "/output" if "do" in channel or "ao" in channel else "/input"
            text = self.library.getValue(b"singlevalue", self._text(base + "/" + channel + ending), b"")
            if text is not None and text.strip().lstrip(b"-").split(b".")[0].isdigit():
                return value
            raise self._failure(Refused, "no value for %s/%s" % (base, channel), self._decoded(text))

    def io_set(self, base: str, channel: str, value: int) -> None:
        """Sets output channel ``channel`` of module ``base`` to ``value``."""
        with LOCK, self._settings():
            if self.library.setIO(self._text(base), self._text(channel), int(value)) != 1:
                raise self._failure(Refused, "the device did not set %s/%s to %d" % (base, channel, value))

    def upload(self, package: Union[bytes, bytearray, str, "os.PathLike[str]"], wait: float = 600,
               name: Optional[str] = None) -> None:
        """Uploads a package (its bytes, or a path to it) and waits up to
        ``wait`` seconds for the device's answer. ``name`` is the file name
        sent; by default the path's last part. Installing it is ``ormi
        update``'s work, not this method's. Other calls of the process wait
        meanwhile: the answer must be collected before the library's next call."""
        if isinstance(package, (bytes, bytearray)):
            data = bytes(package)
            if not name:
                raise ValueError("an upload of bytes needs a name")
        else:
            with open(package, "rb") as stream:
                data = stream.read()
            name = name or os.path.basename(os.fspath(package))
        # The upload's answer does not tell a refused login; the login does.
        with LOCK:
            with self._settings():
                self._login()
                sent = self.library.sendUpdateFile(b"update", self._text(name), data, len(data))
                if sent == -1:
                    unreachable = self._unreachable("the upload could not be sent")
                    if unreachable:
                        raise unreachable
                    raise UploadFailed("the device did not take the upload of %s (%d bytes)" % (name, len(data)))
            # The rest needs no settings: the password is already gone.
            deadline = time.monotonic() + wait
            while sent == 0:
                if time.monotonic() >= deadline:
                    raise UploadFailed("the device did not answer the upload within %g s" % wait)
                sent = self.library.sendUpdateFileResp()

    # ---- helpers

    def _text(self, text: str) -> bytes:
        if not isinstance(text, str):
            raise TypeError("expected str, got %s" % type(text).__name__)
        if "\0" in text:
            raise ValueError("a text must not hold a NUL character")
        return text.encode(self.encoding)

    def _decoded(self, raw: Optional[bytes]) -> Optional[str]:
        return None if raw is None else raw.decode(self.encoding, "replace")

    def _unreachable(self, message: str) -> Optional[Unreachable]:
        """The Unreachable for message when the device does not answer whole, else None."""
        answers, cut = _probe(self.address, self.port, self.timeout)
        if cut is not None:
            return Unreachable("%s: the device's answer was cut: the connection was reset after %d bytes"
                               % (message, cut))
        if not answers:
            return Unreachable("%s: no answer from %s:%d" % (message, self.address, self.port))
        return None

    def _login(self) -> None:
        if self.library.checkConnection() == 1:
            return
        unreachable = self._unreachable("no login")
        if unreachable:
            raise unreachable
        raise LoginRefused("the device refused the login of %r (user, password or login method)" % self.user)

    def _failure(self, kind: type, message: str, device_text: Optional[str] = None) -> OrmiError:
        return self._unreachable(message) or kind(message, device_text)

    def _settings(self) -> "_Settings":
        return _Settings(self)

    def _settings_text(self, password: str) -> str:
        return ("[IP]\nip_address=%s\nip_port=%d\n[LOGIN]\nusername=%s\npassword=%s\nlogin_version=%d\n"
                "[CONTROL]\ntimeout=%d\n" % (self.address, self.port, self.user, password, self.login_method,
                                            self.timeout))


class _Settings:
    """The settings file with the password for the duration of a block, and
    without it afterwards, whatever the block did."""

    def __init__(self, device: Device) -> None:
        self._device = device

    def _write(self, password: str) -> None:
        library = self._device.library
        text = self._device._settings_text(password).encode(self._device.encoding)
        # Text mode would be the platform's line ends too, but the bytes are
        # the ones the device is given: no translation of the password.
        if os.linesep != "\n":
            text = text.replace(b"\n", os.linesep.encode())
        descriptor = os.open(library.settings_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC | getattr(os, "O_BINARY", 0),
                             0o600)
        with os.fdopen(descriptor, "wb") as stream:
            stream.write(text)

    def __enter__(self) -> None:
        LOCK.acquire()
        try:
            self._write(self._device._password)
        except BaseException:
            LOCK.release()
            raise

    def __exit__(self, *exc_info: object) -> None:
        try:
            self._write("")
        finally:
            LOCK.release()
