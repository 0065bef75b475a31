#!/usr/bin/python
# -*- coding: utf-8 -*-
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
module: ormi_value
short_description: Read or set one key of an ORMI device's module
description:
  - Reads the module C(type)/C(module) of the device and returns the value of
    C(key) in it.
  - With C(value), sets the key to that value, but only when the device does
    not hold it already; the module is read first and nothing is sent when the
    value stands. After a change the key is read again to prove it.
  - In check mode the device is only read, and the result says what would change.
version_added: 1.0.0
author: ORMI control software team (!UNKNOWN)
extends_documentation_fragment:
  - ormi.devices.ormi
options:
  type:
    description:
      - Kind of the device module, as in C(ormi get TYPE MODULE).
    type: str
    default: configuration
  module:
    description:
      - Name of the device module, such as C(devicebase).
    type: str
    required: true
  key:
    description:
      - Name of the member to read or set. The first member of that name at
        any depth counts, in the order of the module's text, and it must hold
        a plain value (text, number, true, false or null), not an object or a list.
    type: str
    required: true
  value:
    description:
      - The value the key must hold, as a JSON value (text, number, boolean or null).
      - Compared with its type, so C(1), C("1") and C(true) are three
        different values. Templating turns values into texts, so a text given
        for a key that holds a number or a boolean is read as one when it
        reads as one (C("-0.5"), C("true")).
      - Without it, the key is only read.
    type: raw
attributes:
  diff_mode:
    description: Shows the key's value before and after.
    support: full
"""

EXAMPLES = r"""
- name: Name the place of the device
  ormi.devices.ormi_value:
    module: devicebase
    key: location
    value: "Hall 3, line 2"

- name: Read the temperature offset
  ormi.devices.ormi_value:
    module: devicebase
    key: temperature_offset
  register: offset

- name: Switch DHCP off (a member inside the network object)
  ormi.devices.ormi_value:
    module: devicebase
    key: dhcp
    value: false
"""

RETURN = r"""
value:
  description: The value the key holds now (after a change, as read again from the device).
  returned: success
  type: raw
  sample: Hall 3, line 2
previous:
  description: The value the key held before the task.
  returned: success
  type: raw
  sample: Hall 1
exit_code:
  description: Exit code of the ormi program.
  returned: failure
  type: int
  sample: 3
result:
  description: Name of the exit code, such as C(unreachable).
  returned: failure
  type: str
  sample: unreachable
"""

import json

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.ormi.devices.plugins.module_utils import ormi


def current(module):
    p = module.params
    found, value = ormi.find_member(ormi.read_module(module, p["type"], p["module"]), p["key"])
    if not found:
        module.fail_json(msg="no key %s in %s %s" % (p["key"], p["type"], p["module"]))
    if isinstance(value, (dict, list)):
        module.fail_json(msg="key %s in %s holds an object or a list, not a plain value" % (p["key"], p["module"]))
    return value


def typed_like(before, wanted):
    """wanted as the type the device holds, when a template made a text of it."""
    if not isinstance(wanted, str) or before is None or isinstance(before, str):
        return wanted
    if isinstance(before, bool):
        return {"true": True, "false": False}.get(wanted.strip().lower(), wanted)
    try:
        number = json.loads(wanted)
    except ValueError:
        return wanted
    return number if isinstance(number, (int, float)) and not isinstance(number, bool) else wanted


def main():
    module = AnsibleModule(
        argument_spec=ormi.connection_options(
            type=dict(type="str", default="configuration"),
            module=dict(type="str", required=True),
            key=dict(type="str", required=True, no_log=False),
            value=dict(type="raw"),
        ),
        supports_check_mode=True,
    )
    p = module.params
    before = current(module)
    wanted = typed_like(before, p["value"])
    if wanted is None or ormi.same_value(before, wanted):
        module.exit_json(changed=False, value=before, previous=before)
    if isinstance(wanted, (dict, list)):
        module.fail_json(msg="value must be a plain JSON value, not an object or a list")

    diff = dict(before="%s: %s\n" % (p["key"], json.dumps(before)), after="%s: %s\n" % (p["key"], json.dumps(wanted)))
    if module.check_mode:
        module.exit_json(changed=True, value=wanted, previous=before, diff=diff)

    rc, result, err = ormi.run(module, ["set"], positional=[p["type"], p["module"], p["key"], json.dumps(wanted)])
    if rc != 0:
        ormi.failure(module, rc, result, err, previous=before)
    after = current(module)
    if not ormi.same_value(after, wanted):
        module.fail_json(msg="the device confirmed, but %s reads %s afterwards" % (p["key"], json.dumps(after)),
                         changed=True, value=after, previous=before)
    module.exit_json(changed=True, value=after, previous=before, diff=diff)


if __name__ == "__main__":
    main()
