#!/usr/bin/python
# -*- coding: utf-8 -*-
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
module: ormi_io
short_description: Read or set an input or output channel of an ORMI device
description:
  - Reads a channel (C(di1), C(ai1), C(do1), C(ao2), ...) of module C(base) as
    a whole number.
  - With C(value), sets an output channel, but only when it does not hold that
    value already; the channel is read first.
  - In check mode the channel is only read, and the result says whether it would change.
version_added: 1.0.0
author: ORMI control software team (!UNKNOWN)
extends_documentation_fragment:
  - ormi.devices.ormi
options:
  base:
    description:
      - Module that holds the channel.
    type: str
    required: true
  channel:
    description:
      - Name of the channel. A name containing C(do) or C(ao) is an output,
        any other an input.
    type: str
    required: true
  value:
    description:
      - The value the output channel must hold. Without it, the channel is only read.
    type: int
"""

EXAMPLES = r"""
- name: Read a digital input
  ormi.devices.ormi_io:
    base: base
    channel: di1
  register: di1

- name: Switch a digital output on
  ormi.devices.ormi_io:
    base: base
    channel: do1
    value: 1
"""

RETURN = r"""
value:
  description: The channel's value now.
  returned: success
  type: int
  sample: 1
previous:
  description: The channel's value before the task.
  returned: success
  type: int
  sample: 0
exit_code:
  description: Exit code of the ormi program.
  returned: failure
  type: int
  sample: 1
result:
  description: Name of the exit code, such as C(failed) when the device refused the channel.
  returned: failure
  type: str
  sample: failed
"""

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.ormi.devices.plugins.module_utils import ormi


def read(module):
    p = module.params
    rc, result, err = ormi.run(module, ["io", "get"], positional=[p["base"], p["channel"]])
    if rc != 0:
        ormi.failure(module, rc, result, err)
    try:
        return int(result.get("message", ""))
    except ValueError:
        module.fail_json(msg="the device gave no whole number for %s: %s" % (p["channel"], result.get("message")))


def main():
    module = AnsibleModule(
        argument_spec=ormi.connection_options(
            base=dict(type="str", required=True),
            channel=dict(type="str", required=True),
            value=dict(type="int"),
        ),
        supports_check_mode=True,
    )
    p = module.params
    before = read(module)
    if p["value"] is None or before == p["value"]:
        module.exit_json(changed=False, value=before, previous=before)
    if module.check_mode:
        module.exit_json(changed=True, value=p["value"], previous=before)
    rc, result, err = ormi.run(module, ["io", "set"], positional=[p["base"], p["channel"], str(p["value"])])
    if rc != 0:
        ormi.failure(module, rc, result, err, previous=before)
    module.exit_json(changed=True, value=p["value"], previous=before)


if __name__ == "__main__":
    main()
