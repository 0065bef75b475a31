"""Exceptions raised by :class:`ormi_control.Device`."""

from typing import Optional

__all__ = ["OrmiError", "LibraryNotFound", "Unreachable", "LoginRefused", "Refused", "UploadFailed"]


class OrmiError(Exception):
    """Base of every failure of this package.

    ``device_text`` holds what the device answered, where it gave an answer
    that the library hands on; otherwise it is ``None``.
    """

    def __init__(self, message: str, device_text: Optional[str] = None) -> None:
        if device_text:
            message = "%s: %s" % (message, device_text.strip())
        super().__init__(message)
        self.device_text = device_text


class LibraryNotFound(OrmiError):
    """The library could not be loaded; ``tried`` lists every place looked at."""

    def __init__(self, message: str, tried: "list[str]") -> None:
        super().__init__(message)
        self.tried = tried


class Unreachable(OrmiError):
    """No answer from the device: refused, reset or silent connection, no reply within the
    time-out, or an answer cut by a reset (the message says so)."""


class LoginRefused(OrmiError):
    """The device answered but refused the user, password or login method."""


class Refused(OrmiError):
    """The device refused a read or a write (wrong module, channel or value)."""


class UploadFailed(OrmiError):
    """The package did not go out, or the device did not answer it in time."""
