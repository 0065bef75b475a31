"""The release's integrator packages, built once per run by their parts in
scripts/release.d/ (or taken from ORMI_TEST_RELEASE_DIR, a release folder
that scripts/release wrote), and simulated devices on loopback, each
stopped by its process id."""

import os
import re
import shutil
import subprocess
import zipfile

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = {preset: os.environ.get("ORMI_BUILD_" + preset.upper(), os.path.join(ROOT, "build", preset))
         for preset in ("native", "win64", "win32")}
with open(os.path.join(ROOT, "CMakeLists.txt")) as _f:
    VERSION = re.search(r"^project\([a-z_]* VERSION ([0-9.]+) ", _f.read(), re.M).group(1)

PARTS = {"wheels": "50-python-wheels.sh", "nuget": "51-nuget.sh", "collection": "52-collection.sh",
         "linux": "53-linux.sh"}
# Every file a part must leave in the release folder.
ARTIFACTS = {
    "wheels": [r"ormi_control-%s-py3-none-manylinux_2_\d+_x86_64\.whl" % re.escape(VERSION),
               r"ormi_control-%s-py3-none-win_amd64\.whl" % re.escape(VERSION),
               r"ormi_control-%s-py3-none-win32\.whl" % re.escape(VERSION)],
    "nuget": [r"Ormi\.Control\.%s\.nupkg" % re.escape(VERSION)],
    "collection": [r"ormi-devices-%s\.tar\.gz" % re.escape(VERSION)],
    "linux": [r"ormi_%s_amd64\.deb" % re.escape(VERSION), r"ormi-%s-linux-x86_64\.tar\.gz" % re.escape(VERSION)],
}


class Release:
    """The release folder; each part is run at most once per session."""

    def __init__(self, folder, build):
        self.folder = folder
        self.build = build
        self.built = set()

    def find(self, part, index=0):
        pattern = ARTIFACTS[part][index]
        if self.build and part not in self.built:
            env = dict(os.environ, ORMI_RELEASE_DIR=self.folder, ORMI_VERSION=VERSION,
                       ORMI_PACKAGING_DIR=os.path.join(self.folder, "..", "work"),
                       ORMI_BUILD_NATIVE=BUILD["native"], ORMI_BUILD_WIN64=BUILD["win64"],
                       ORMI_BUILD_WIN32=BUILD["win32"])
            env.pop("ORMI_SBOM_DIR", None)
            done = subprocess.run(["bash", os.path.join(ROOT, "scripts", "release.d", PARTS[part])], env=env,
                                  capture_output=True, text=True, timeout=600)
            assert done.returncode == 0, "part %s failed:\n%s%s" % (PARTS[part], done.stdout, done.stderr)
            self.built.add(part)
        names = [n for n in sorted(os.listdir(self.folder)) if re.fullmatch(pattern, n)]
        assert len(names) == 1, "%s: %s in %s" % (pattern, names, self.folder)
        return os.path.join(self.folder, names[0])


@pytest.fixture(scope="session")
def release(tmp_path_factory):
    given = os.environ.get("ORMI_TEST_RELEASE_DIR")
    if given:
        return Release(given, build=False)
    for file in ("native/libormi_control.so", "native/ormi", "native/ormi-sim",
                 "win64/ormi_control.dll", "win32/ormi_control.dll"):
        preset, name = file.split("/")
        if not os.path.exists(os.path.join(BUILD[preset], name)):
            pytest.exit("build the presets native, win64 and win32 first (%s missing)" % file, returncode=2)
    folder = tmp_path_factory.mktemp("release") / VERSION
    folder.mkdir()
    return Release(str(folder), build=True)


def clean_env(**more):
    """The environment of a user who has none of our variables set."""
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("ORMI_", "PYTHON", "VIRTUAL_ENV", "ANSIBLE_")) and k not in ("LD_LIBRARY_PATH", "PYENV_VERSION")}
    env.update(more)
    return env


class Sim:
    """One ormi-sim process on a free loopback port."""

    def __init__(self, program, *arguments):
        self.process = subprocess.Popen([program, "--port", "0", *arguments], stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
        line = self.process.stdout.readline()
        found = re.search(r"listening on [0-9.]+:(\d+)", line)
        if not found:
            self.stop()
            raise RuntimeError("ormi-sim did not start: %r" % line)
        self.port = int(found.group(1))

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()


@pytest.fixture
def start_sim():
    """Starts ormi-sim (the native build's unless a program is given); all stopped at the end."""
    started = []

    def start(*arguments, program=os.path.join(BUILD["native"], "ormi-sim")):
        sim = Sim(program, *arguments)
        started.append(sim)
        return sim

    yield start
    for sim in started:
        sim.stop()


def pe_machine(data):
    """(machine, optional header magic) of a PE file: 0x8664/0x20b is x86-64
    PE32+, 0x14c/0x10b is x86 PE32."""
    assert data[:2] == b"MZ", "no MZ header"
    offset = int.from_bytes(data[0x3C:0x40], "little")
    assert data[offset:offset + 4] == b"PE\0\0", "no PE signature"
    machine = int.from_bytes(data[offset + 4:offset + 6], "little")
    magic = int.from_bytes(data[offset + 24:offset + 26], "little")
    return machine, magic


def read_zip(path, name):
    with zipfile.ZipFile(path) as archive:
        return archive.read(name)


def built(preset, name):
    with open(os.path.realpath(os.path.join(BUILD[preset], name)), "rb") as f:
        return f.read()


def tool(name):
    found = shutil.which(name)
    assert found, "%s is not installed (scripts/lib/setup.sh installs it)" % name
    return found
