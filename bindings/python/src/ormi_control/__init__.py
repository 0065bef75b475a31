"""Drive ORMI and ORMI-M devices through the ormi_control library.

:class:`Device` is what an integrator uses; :mod:`ormi_control.library`
holds the eight exports as they are.
"""

from .device import Device, DeviceInfo
from .errors import LibraryNotFound, LoginRefused, OrmiError, Refused, Unreachable, UploadFailed
from .library import Library, load

__all__ = ["Device", "DeviceInfo", "Library", "load", "OrmiError", "LibraryNotFound", "Unreachable",
           "LoginRefused", "Refused", "UploadFailed"]
__version__ = "1.2.0"
