#!/usr/bin/python
# -*- coding: utf-8 -*-
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
module: ormi_info
short_description: Log in to an ORMI device and read its type and package version
description:
  - Checks the connection and the login, reads the device type (C(ORMI) or
    C(ORMI-M)) and the package version, and on request the device's
    C(configuration) and C(values) modules as parsed JSON.
  - Changes nothing on the device.
version_added: 1.0.0
author: ORMI control software team (!UNKNOWN)
extends_documentation_fragment:
  - ormi.devices.ormi
options:
  gather:
    description:
      - Modules of the device to return besides the type and version.
    type: list
    elements: str
    choices: [configuration, values]
    default: []
  module:
    description:
      - Name of the device module read for C(gather).
    type: str
    default: devicebase
"""

EXAMPLES = r"""
- name: Read type and version
  ormi.devices.ormi_info:
  register: device

- name: Read the configuration and the state as well, through a plant PC
  ormi.devices.ormi_info:
    gather: [configuration, values]
  delegate_to: "{{ ormi_plant_pc }}"
  register: device

- name: Show where the device stands
  ansible.builtin.debug:
    msg: "{{ device.device_type }} {{ device.package_version }} at {{ device.configuration.location }}"
"""

RETURN = r"""
device_type:
  description: C(ORMI) or C(ORMI-M), as told by the package version.
  returned: success
  type: str
  sample: ORMI
package_version:
  description: The package version the device reports.
  returned: success
  type: str
  sample: 2.1.0
configuration:
  description: The configuration module named by C(module), parsed.
  returned: when C(gather) holds C(configuration)
  type: dict
  sample: {"device_type": "ORMI", "package_version": "2.1.0", "reboot": false}
values:
  description: The values module named by C(module), parsed (state of an installation and its text).
  returned: when C(gather) holds C(values)
  type: dict
  sample: {"state": "idle", "content": "ready"}
exit_code:
  description: Exit code of the ormi program.
  returned: failure
  type: int
  sample: 4
result:
  description: Name of the exit code, such as C(unreachable) or C(login-refused).
  returned: failure
  type: str
  sample: login-refused
"""

import re

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.ormi.devices.plugins.module_utils import ormi


def main():
    module = AnsibleModule(
        argument_spec=ormi.connection_options(
            gather=dict(type="list", elements="str", choices=["configuration", "values"], default=[]),
            module=dict(type="str", default="devicebase"),
        ),
        supports_check_mode=True,
    )
    checked = ormi.login(module)
    version = checked.get("version_before", "")
    if not version:
        module.fail_json(msg=checked.get("message") or "the device gives no package version")
    found = re.match(r"(ORMI(?:-M)?), Version ", checked.get("message", ""))
    result = dict(changed=False, package_version=version, device_type=found.group(1) if found else None)
    for kind in module.params["gather"]:
        result[kind] = ormi.read_module(module, kind, module.params["module"])
    module.exit_json(**result)


if __name__ == "__main__":
    main()
