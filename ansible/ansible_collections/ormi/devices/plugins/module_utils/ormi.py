# -*- coding: utf-8 -*-
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""Running the ormi program for the modules: its options, its one-line JSON
result and the meaning of its exit codes.

The device is only ever driven by ormi, so that the update workflow and its
checks exist once; the modules add idempotence and check mode on top.
"""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os

# Exit codes of ormi, with the result names its --json objects carry and the
# texts of its --help: as cli/exit.cpp has them (tests/cli_exit_codes_test.cpp).
EXIT_CODES = {
    0: ("ok", "done"),
    1: ("failed", "refused by the device"),
    2: ("usage", "bad usage"),
    3: ("unreachable", "device unreachable"),
    4: ("login-refused", "login refused"),
    5: ("package-does-not-fit", "package does not fit the device"),
    6: ("upload-failed", "upload failed"),
    7: ("installation-failed", "installation failed"),
    8: ("not-back-after-reboot", "device not back after reboot"),
    9: ("package-corrupt", "package corrupt"),
    10: ("some-failed", "not all devices succeeded"),
    11: ("wrong-version", "the device came back with another version than --expect-version"),
    12: ("signature-refused", "the package is not signed by a trusted key"),
}

CONNECTION_OPTIONS = dict(
    address=dict(type="str", required=True),
    port=dict(type="int", default=80),
    user=dict(type="str", default="admin"),
    password=dict(type="str", required=True, no_log=True),
    login_method=dict(type="int", default=1, choices=[1, 2]),
    timeout=dict(type="int", default=2),
    retries=dict(type="int", default=2),
    retry_pause=dict(type="float", default=2.0),
    program=dict(type="str", default="ormi"),
)


def connection_options(**extra):
    options = dict(CONNECTION_OPTIONS)
    options.update(extra)
    return options


def meaning(code):
    return EXIT_CODES.get(code, ("failed", "ormi ended with exit code %d" % code))


def _number(value):
    # ormi takes plain decimal seconds; repr of a float may be exponential.
    text = ("%.3f" % value).rstrip("0").rstrip(".")
    return text or "0"


def _program(module):
    program = module.params["program"]
    if os.path.sep in program or (os.path.altsep and os.path.altsep in program):
        if not os.access(program, os.X_OK):
            module.fail_json(msg="the ormi program %s is not an executable file" % program)
        return program
    return module.get_bin_path(program, required=True)


def run(module, words, options=None, positional=None):
    """Runs `ormi WORDS --device ... --json [OPTIONS] -- POSITIONAL`.

    Returns (exit code, result object or {}, standard error). The password
    goes through the environment only.
    """
    p = module.params
    argv = [_program(module)] + list(words)
    argv += ["--device", "%s:%d" % (p["address"], p["port"]),
             "--user", p["user"],
             "--login-method", str(p["login_method"]),
             "--timeout", str(p["timeout"]),
             "--retries", str(p["retries"]),
             "--retry-pause", _number(p["retry_pause"]),
             "--json"]
    for name, value in (options or []):
        argv.append(name)
        if value is not None:
            argv.append(_number(value) if isinstance(value, float) else str(value))
    if positional:
        argv.append("--")
        argv += list(positional)
    rc, out, err = module.run_command(argv, environ_update={"ORMI_PASSWORD": p["password"]},
                                      check_rc=False, expand_user_and_vars=False)
    result = {}
    for line in reversed(out.splitlines()):
        line = line.strip()
        if line.startswith("{"):
            try:
                result = json.loads(line)
            except ValueError:
                continue
            break
    return rc, result, err


def failure(module, rc, result, err, **extra):
    """fail_json with the device's or the tool's own message."""
    name, text = meaning(rc)
    message = result.get("message") or (err or "").strip() or text
    module.fail_json(msg=message, exit_code=rc, result=result.get("result", name), meaning=text, **extra)


def login(module):
    """Login and the device's type and version; fails the task otherwise."""
    rc, result, err = run(module, ["check"])
    if rc != 0:
        failure(module, rc, result, err)
    return result


def read_module(module, kind, name):
    """The module NAME of kind KIND (configuration, values ...) as parsed JSON."""
    rc, result, err = run(module, ["get"], positional=[kind, name])
    if rc != 0:
        failure(module, rc, result, err)
    text = result.get("message", "")
    try:
        return json.loads(text)
    except ValueError:
        module.fail_json(msg="the device's %s %s is not JSON" % (kind, name), text=text)


def find_member(value, key):
    """The first member named KEY at any depth, in the order of the text,
    as `ormi set` finds it: (True, value) or (False, None)."""
    if isinstance(value, dict):
        for name, member in value.items():
            if name == key:
                return True, member
            found, inner = find_member(member, key)
            if found:
                return found, inner
    elif isinstance(value, list):
        for member in value:
            found, inner = find_member(member, key)
            if found:
                return found, inner
    return False, None


def same_value(a, b):
    """JSON equality that keeps true apart from 1 and 1 apart from "1"."""
    if isinstance(a, bool) or isinstance(b, bool):
        return isinstance(a, bool) and isinstance(b, bool) and a == b
    if isinstance(a, (int, float)) and isinstance(b, (int, float)):
        return a == b
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(same_value(a[k], b[k]) for k in a)
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(same_value(x, y) for x, y in zip(a, b))
    return type(a) is type(b) and a == b
