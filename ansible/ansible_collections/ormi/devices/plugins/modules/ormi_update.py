#!/usr/bin/python
# -*- coding: utf-8 -*-
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
module: ormi_update
short_description: Bring an ORMI device to a package version
description:
  - Runs C(ormi update) against the device - bzip2 test of the package, login,
    check of the package name against the device type and version suffix,
    upload, installation, reboot, wait for the device, and a fresh read of its
    package version, which must then be C(version).
  - A device that reports C(version) already is left alone (C(changed=false)),
    unless C(force) is set.
  - Check mode is the dry run of C(ormi update) - it logs in, reads the device,
    checks the package name, the bzip2 stream and the signature, and reports
    whether the device would be updated; nothing is written to the device.
  - With C(trusted_keys), or a C(trusted_keys.pem) beside the ormi program, a
    package that is not signed by one of the keys is refused before the device
    is touched (C(result=signature-refused)).
  - The package must lie on the host that runs the module (the controller, or
    the plant PC the task is delegated to).
version_added: 1.0.0
author: ORMI control software team (!UNKNOWN)
extends_documentation_fragment:
  - ormi.devices.ormi
options:
  package:
    description:
      - Path of the package file (C(*.bz2)) on the host that runs the module.
        Its name must carry the device type tag (C(_ormi_) or C(_ormim_)) and the
        device's version suffix.
    type: path
    required: true
  version:
    description:
      - The package version the device must report after the update, such as C(2.2.0).
      - A device that reports it already is not updated. A device that comes
        back with another version fails the task (C(result=wrong-version)).
    type: str
    required: true
  force:
    description:
      - Update even a device that already reports C(version).
    type: bool
    default: false
  verify:
    description:
      - Test the package as a bzip2 stream end to end before anything is sent.
    type: bool
    default: true
  trusted_keys:
    description:
      - Files of trusted PEM public keys on the host that runs the module; the
        package must be signed by one of their keys (C(ormi update --trusted-key)).
      - A C(trusted_keys.pem) beside the ormi program applies always, and then
        alone.
    type: list
    elements: path
    default: []
  signature:
    description:
      - The package's detached signature on the host that runs the module;
        by default C(package) with C(.sig) appended.
    type: path
  reboot_wait:
    description:
      - Seconds to wait for the device to answer again after the reboot.
    type: float
    default: 180
  install_wait:
    description:
      - Seconds the installation may take.
    type: float
    default: 900
  upload_wait:
    description:
      - Seconds the device may take to answer the upload.
    type: float
    default: 600
  poll_interval:
    description:
      - Seconds between two polls of the installation's state.
    type: float
    default: 1.5
"""

EXAMPLES = r"""
- name: Bring the device to 2.2.0
  ormi.devices.ormi_update:
    package: /srv/packages/ORMI_plant_ormi_2.2.0.bz2
    version: 2.2.0
  register: update

- name: The same from the plant PC that reaches the device
  ormi.devices.ormi_update:
    package: /opt/ormi/packages/ORMI_plant_ormi_2.2.0.bz2
    version: 2.2.0
    program: /opt/ormi/bin/ormi
  delegate_to: "{{ ormi_plant_pc }}"

- name: Only a package signed by the vendor's key (ORMI_plant_ormi_2.2.0.bz2.sig beside it)
  ormi.devices.ormi_update:
    package: /srv/packages/ORMI_plant_ormi_2.2.0.bz2
    version: 2.2.0
    trusted_keys:
      - /etc/ormi/vendor.pub.pem
"""

RETURN = r"""
version_before:
  description: The package version the device reported before the task.
  returned: when the device was read
  type: str
  sample: 2.1.0
version_after:
  description: The package version the device reports after the update (C(version_before) when it was not updated).
  returned: when the device was read
  type: str
  sample: 2.2.0
seconds:
  description: Seconds the ormi program took for the device.
  returned: always
  type: float
  sample: 94.2
exit_code:
  description: Exit code of the ormi program (0 done).
  returned: always
  type: int
  sample: 0
result:
  description: Name of the exit code, such as C(ok), C(unreachable), C(package-does-not-fit) or C(wrong-version).
  returned: always
  type: str
  sample: ok
meaning:
  description: What the exit code means, in words.
  returned: always
  type: str
  sample: done
message:
  description: The ormi program's own message, such as C(already at 2.2.0) or C(updated ...).
  returned: always
  type: str
  sample: already at 2.2.0
signature:
  description: C(valid) when the package is signed by a trusted key, otherwise why not.
  returned: when a trusted key applies
  type: str
  sample: valid
signature_key:
  description: Fingerprint of the key that signed the package (16 hex digits).
  returned: when the signature is valid
  type: str
  sample: ea6866f8987c9aa0
dry_run:
  description: True in check mode, where nothing was written to the device.
  returned: always
  type: bool
  sample: false
"""

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.ormi.devices.plugins.module_utils import ormi


def main():
    module = AnsibleModule(
        argument_spec=ormi.connection_options(
            package=dict(type="path", required=True),
            version=dict(type="str", required=True),
            force=dict(type="bool", default=False),
            verify=dict(type="bool", default=True),
            reboot_wait=dict(type="float", default=180.0),
            install_wait=dict(type="float", default=900.0),
            upload_wait=dict(type="float", default=600.0),
            poll_interval=dict(type="float", default=1.5),
            # Paths of public keys: nothing secret.
            trusted_keys=dict(type="list", elements="path", default=[], no_log=False),
            signature=dict(type="path"),
        ),
        supports_check_mode=True,
    )
    p = module.params
    options = [("--expect-version", p["version"]),
               ("--reboot-wait", p["reboot_wait"]),
               ("--install-wait", p["install_wait"]),
               ("--upload-wait", p["upload_wait"]),
               ("--poll-interval", p["poll_interval"])]
    if p["force"]:
        options.append(("--force", None))
    if not p["verify"]:
        options.append(("--no-verify", None))
    for key in p["trusted_keys"]:
        options.append(("--trusted-key", key))
    if p["signature"]:
        options.append(("--signature", p["signature"]))
    if module.check_mode:
        options.append(("--dry-run", None))

    # The package after "--": a file name may start with a dash.
    rc, result, err = ormi.run(module, ["update"], options, positional=[p["package"]])
    name, text = ormi.meaning(rc)
    out = dict(
        exit_code=rc,
        result=result.get("result", name),
        meaning=text,
        message=result.get("message") or (err or "").strip() or text,
        seconds=result.get("seconds", 0.0),
        dry_run=module.check_mode,
    )
    for field in ("version_before", "version_after", "package", "bytes", "signature", "signature_key"):
        if field in result:
            out[field] = result[field]

    if rc != 0:
        # A failure after the upload has changed the device all the same.
        out["msg"] = out["message"]
        module.fail_json(changed=bool(result.get("changed", False)), **out)

    if module.check_mode:
        changed = p["force"] or result.get("version_before") != p["version"]
    else:
        changed = bool(result.get("changed", result.get("version_before") != result.get("version_after")))
    out.setdefault("version_after", result.get("version_before"))
    module.exit_json(changed=changed, **out)


if __name__ == "__main__":
    main()
