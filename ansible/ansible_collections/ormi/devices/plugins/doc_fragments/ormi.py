# -*- coding: utf-8 -*-
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""Connection options and check mode, shared by every module of the collection."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):

    DOCUMENTATION = r"""
options:
  address:
    description:
      - Host name or IPv4 address of the device.
      - Taken from the host variable C(ormi_address) when not given.
    type: str
    required: true
  port:
    description:
      - TCP port of the device's web server.
      - Taken from the host variable C(ormi_port) when not given.
    type: int
    default: 80
  user:
    description:
      - User name for the device's login.
      - Taken from the host variable C(ormi_user) when not given.
    type: str
    default: admin
  password:
    description:
      - Password of the device, best kept in a vault.
      - Taken from the host variable C(ormi_password) when not given.
      - It reaches the C(ormi) program through its environment, never its
        command line, and never appears in a result.
    type: str
    required: true
  login_method:
    description:
      - C(1) sends the MD5 of the password, C(2) salts it with the device's TAN.
      - Taken from the host variable C(ormi_login_method) when not given.
    type: int
    choices: [1, 2]
    default: 1
  timeout:
    description:
      - Seconds for each wait of one exchange with the device.
      - Taken from the host variable C(ormi_timeout) when not given.
    type: int
    default: 2
  retries:
    description:
      - Retries after a network failure (refused, reset or silent connection).
        A refusal by the device is not retried.
      - Taken from the host variable C(ormi_retries) when not given.
    type: int
    default: 2
  retry_pause:
    description:
      - Seconds before a retry.
      - Taken from the host variable C(ormi_retry_pause) when not given.
    type: float
    default: 2
  program:
    description:
      - Path of the C(ormi) program on the host that runs the module (the
        controller, or the plant PC the task is delegated to).
      - A bare name is looked up on the C(PATH).
      - Taken from the host variable C(ormi_program) when not given.
    type: str
    default: ormi
notes:
  - The module runs the C(ormi) program on the host that reaches the device,
    so device hosts normally carry C(ansible_connection=local), or the task is
    delegated to a plant PC with C(delegate_to).
  - Options not given in the task are filled from the host variables named
    above by the collection's action plugin.
requirements:
  - The C(ormi) program and its C(libormi_control.so) on the host that runs the module.
attributes:
  check_mode:
    description: Runs in check mode, reading the device only, and says whether it would change it.
    support: full
"""
