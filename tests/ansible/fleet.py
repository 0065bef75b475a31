"""Simulated fleets for the collection's tests and the fleet benchmark: one
ormi-sim per device on loopback (or one process serving many), inventories
for them, packages, and what the devices' request logs tell.

Every process started here is stopped by its process id."""

import bz2
import json
import os
import re
import secrets
import subprocess
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("ORMI_BUILD_DIR", os.path.join(REPO, "build", "native"))
ORMI = os.path.join(BUILD, "ormi")
SIM = os.path.join(BUILD, "ormi-sim")
COLLECTIONS = os.path.join(REPO, "ansible")
PLAYBOOK = "ormi.devices.rolling_update"
OLD_VERSION = "2.1.0"

with open(os.path.join(REPO, "CMakeLists.txt")) as _f:
    # The product version, which galaxy.yml carries too.
    VERSION = re.search(r"^project\([a-z_]* VERSION ([0-9.]+) ", _f.read(), re.M).group(1)

# What ormi update waits for, short enough for simulated devices.
FAST_WAITS = {"ormi_reboot_wait": 20, "ormi_poll_interval": 0.2}


class Device:
    def __init__(self, index, port, password, log):
        self.index = index
        self.name = "dev%02d" % index
        self.port = port
        self.password = password
        self.log = log

    def requests(self):
        """First lines of the requests the device received, in order."""
        if not self.log or not os.path.isdir(self.log):
            return []
        lines = []
        for name in sorted(os.listdir(self.log)):
            with open(os.path.join(self.log, name), "rb") as f:
                lines.append(f.readline().decode("latin-1").strip())
        return lines

    def posts(self):
        return [r for r in self.requests() if r.startswith("POST ")]

    def uploads(self):
        return [r for r in self.posts() if "setUpdateFileToServer" in r]

    def ormi(self, *words):
        """Runs ormi against the device; returns its JSON result object."""
        env = dict(os.environ, ORMI_PASSWORD=self.password)
        done = subprocess.run([ORMI] + list(words) + ["--device", "127.0.0.1:%d" % self.port, "--json"],
                              env=env, capture_output=True, text=True, timeout=60)
        lines = [line for line in done.stdout.splitlines() if line.startswith("{")]
        return json.loads(lines[-1]) if lines else {"exit_code": done.returncode, "message": done.stderr}

    def version(self):
        return self.ormi("check").get("version_before")


class Fleet:
    """Simulated devices, one ormi-sim process each (faults for the indexes
    in faulty), each with its own port, password and request log."""

    def __init__(self, folder, count, faulty=(), fault="keep-version", install_polls=1, reboot_seconds=1):
        self.folder = folder
        self.devices = []
        self.processes = []
        try:
            for index in range(1, count + 1):
                password = "pw%02d-%s" % (index, secrets.token_hex(8))
                log = os.path.join(folder, "log", "dev%02d" % index)
                argv = [SIM, "--port", "0", "--password", password, "--package-version", OLD_VERSION,
                        "--install-polls", str(install_polls), "--reboot-seconds", str(reboot_seconds), "--log", log]
                if index in faulty:
                    argv += ["--fault", fault]
                process = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
                self.processes.append(process)
                line = process.stdout.readline()
                found = re.search(r"listening on [0-9.]+:(\d+)", line)
                if not found:
                    raise RuntimeError("ormi-sim did not start: %r" % line)
                self.devices.append(Device(index, int(found.group(1)), password, log))
        except BaseException:
            self.stop()
            raise

    def stop(self):
        for process in self.processes:
            if process.poll() is None:
                process.terminate()
        for process in self.processes:
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
            if process.stdout:
                process.stdout.close()
        self.processes = []

    def __getitem__(self, index):
        return self.devices[index - 1]


def make_package(folder, version, device_tag="ormi", size=50000):
    """A small intact package whose name carries the device tag and version."""
    path = os.path.join(folder, "ORMI_test_%s_%s.bz2" % (device_tag, version))
    with open(path, "wb") as f:
        f.write(bz2.compress(secrets.token_bytes(size // 2) + bytes(size // 2)))
    return path


def yaml_text(value):
    return json.dumps(value)


def write_inventory(path, devices, plant_pc=None, behind_plant_pc=(), vaulted=None, extra=None):
    """A YAML inventory: group ormi_devices with one host per device.

    Devices whose index is in behind_plant_pc are reached through the host
    plant_pc (a local connection here). vaulted maps an index to the
    !vault text of its password."""
    vaulted = vaulted or {}
    lines = ["all:", "  hosts:"]
    if plant_pc:
        lines += ["    plant_pc_a:", "      ansible_connection: local",
                  "      ansible_python_interpreter: /usr/bin/python3"]
    lines += ["  children:", "    ormi_devices:", "      hosts:"]
    for d in devices:
        lines.append("        %s:" % d.name)
        lines.append("          ormi_address: 127.0.0.1")
        lines.append("          ormi_port: %d" % d.port)
        if d.index in vaulted:
            lines.append("          ormi_password: !vault |")
            lines += ["            " + v for v in vaulted[d.index].splitlines()]
        else:
            lines.append("          ormi_password: %s" % yaml_text(d.password))
        if d.index in behind_plant_pc:
            lines.append("          ormi_plant_pc: plant_pc_a")
            lines.append("          ormi_plant_package_dir: %s" % yaml_text(plant_pc))
    lines += ["      vars:",
              "        ansible_connection: local",
              "        ansible_python_interpreter: /usr/bin/python3",
              "        ormi_program: %s" % yaml_text(ORMI),
              "        ormi_timeout: 2",
              "        ormi_retry_pause: 0.5"]
    for name, value in sorted((extra or {}).items()):
        lines.append("        %s: %s" % (name, yaml_text(value)))
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    return path


def ansible_env(folder):
    # A configuration of our own, so that none of the user's or the machine's applies.
    config = os.path.join(folder, "ansible.cfg")
    if not os.path.exists(config):
        with open(config, "w") as f:
            f.write("[defaults]\nforks = 5\n")
    env = dict(os.environ)
    env.update({
        "ANSIBLE_COLLECTIONS_PATH": COLLECTIONS,
        "ANSIBLE_LOCAL_TEMP": os.path.join(folder, "ansible-local"),
        "ANSIBLE_REMOTE_TEMP": os.path.join(folder, "ansible-remote"),
        "ANSIBLE_NOCOLOR": "1",
        "ANSIBLE_RETRY_FILES_ENABLED": "0",
        "ANSIBLE_HOST_KEY_CHECKING": "0",
        "ANSIBLE_LOCALHOST_WARNING": "0",
        "ANSIBLE_INVENTORY_UNPARSED_WARNING": "0",
        "ANSIBLE_STDOUT_CALLBACK": "default",
        "ANSIBLE_LOAD_CALLBACK_PLUGINS": "0",
        "ANSIBLE_CONFIG": config,
    })
    env.pop("ORMI_PASSWORD", None)
    return env


def run_playbook(folder, inventory, extra_vars, *options, playbook=PLAYBOOK, timeout=900):
    """ansible-playbook with extra variables; returns (exit code, output, seconds)."""
    argv = ["ansible-playbook", "-i", inventory, playbook, "-e", json.dumps(extra_vars)] + list(options)
    started = time.monotonic()
    done = subprocess.run(argv, env=ansible_env(folder), capture_output=True, text=True, timeout=timeout)
    return done.returncode, done.stdout + done.stderr, time.monotonic() - started


def recap(output):
    """Per host the counters of the play recap: {host: {"ok": n, "changed": n, ...}}."""
    hosts = {}
    at = output.rfind("PLAY RECAP")
    for line in output[at:].splitlines()[1:]:
        found = re.match(r"(\S+)\s+:\s+(.*)$", line.strip())
        if found:
            hosts[found.group(1)] = {k: int(v) for k, v in re.findall(r"(\w+)=(\d+)", found.group(2))}
    return hosts
