"""The Python wheels: the Linux one installed offline into a virtual
environment without system site packages and used from outside the tree
with no ORMI_CONTROL_LIBRARY; the Windows ones checked by their contents."""

import json
import os
import re
import subprocess
import sys
import zipfile

import pytest

from conftest import ARTIFACTS, VERSION, built, clean_env, pe_machine, read_zip

# Run by the virtual environment's Python: check, a get and an upload.
USER_PROGRAM = r'''
import json, sys
import ormi_control
port, package = int(sys.argv[1]), sys.argv[2]
with ormi_control.Device("127.0.0.1", port, password="pw-wheel") as device:
    info = device.check()
    name = device.get("configuration", "devicebase", "device_name")
    device.upload(package, wait=30)
    print(json.dumps({"type": info.type, "version": info.version, "name": name,
                      "library": device.library.path, "package": ormi_control.__file__,
                      "package_version": ormi_control.__version__}))
try:
    with ormi_control.Device("127.0.0.1", port, password="wrong") as device:
        device.check()
    print("no error")
except ormi_control.LoginRefused:
    print("LoginRefused")
'''


def test_linux_wheel_installs_offline_into_a_bare_venv_and_drives_a_simulated_device(release, start_sim, tmp_path):
    wheel = release.find("wheels", 0)
    venv = tmp_path / "venv"
    env = clean_env()
    subprocess.run(["/usr/bin/python3", "-m", "venv", "--clear", str(venv)],
                   check=True, env=env, timeout=120)
    python = str(venv / "bin" / "python")
    done = subprocess.run([python, "-c", "import sys; print(sys.flags.no_site, [p for p in sys.path if 'dist-packages' in p])"],
                          env=env, capture_output=True, text=True, check=True)
    assert done.stdout.strip() == "0 []", "the venv sees system site packages: " + done.stdout
    # The README's line as it stands, offline: nothing to fetch, nothing to build.
    done = subprocess.run([str(venv / "bin" / "pip"), "install", wheel], env=env, cwd=str(tmp_path),
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr

    stored = tmp_path / "stored"
    sim = start_sim("--password", "pw-wheel", "--store-dir", str(stored))
    package = tmp_path / "ORMI_demo_ormi_2.2.0.bz2"
    package.write_bytes(b"BZh9" + os.urandom(3000))
    user = tmp_path / "user"
    user.mkdir()
    (user / "program.py").write_text(USER_PROGRAM)
    done = subprocess.run([python, "program.py", str(sim.port), str(package)], cwd=str(user), env=env,
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stdout + done.stderr
    lines = done.stdout.splitlines()
    result = json.loads(lines[0])
    site = str(venv / "lib")
    assert (result["type"], result["version"], result["package_version"]) == ("ORMI", "2.1.0", VERSION)
    assert result["name"], result
    # The library inside the installed package, nothing from the tree.
    assert result["library"].startswith(site) and result["library"].endswith("/ormi_control/lib/libormi_control.so"), result
    assert result["package"].startswith(site), result
    assert lines[1] == "LoginRefused"
    uploads = [p for p in stored.rglob("*") if p.is_file()]
    assert [p.read_bytes() for p in uploads] == [package.read_bytes()], uploads


def test_linux_wheel_tag_claims_no_older_glibc_than_the_library_needs(release, tmp_path):
    wheel = release.find("wheels", 0)
    newest = int(re.search(r"manylinux_2_(\d+)_x86_64", wheel).group(1))
    library = tmp_path / "libormi_control.so"
    library.write_bytes(read_zip(wheel, "ormi_control/lib/libormi_control.so"))
    symbols = subprocess.run(["objdump", "-T", str(library)], capture_output=True, text=True, check=True).stdout
    needed = {int(m) for m in re.findall(r"GLIBC_2\.(\d+)", symbols)}
    assert needed and max(needed) == newest, (sorted(needed), wheel)
    libraries = subprocess.run(["objdump", "-p", str(library)], capture_output=True, text=True, check=True).stdout
    assert set(re.findall(r"NEEDED\s+(\S+)", libraries)) <= {"libc.so.6", "libm.so.6", "libpthread.so.0", "libdl.so.2"}


@pytest.mark.parametrize("index, tag, preset, machine", [
    (1, "win_amd64", "win64", (0x8664, 0x20B)),   # x86-64, PE32+
    (2, "win32", "win32", (0x14C, 0x10B)),        # x86, PE32
])
def test_windows_wheel_carries_the_dll_of_its_bitness(release, index, tag, preset, machine):
    wheel = release.find("wheels", index)
    with zipfile.ZipFile(wheel) as archive:
        names = archive.namelist()
        meta = archive.read("ormi_control-%s.dist-info/WHEEL" % VERSION).decode()
        metadata = archive.read("ormi_control-%s.dist-info/METADATA" % VERSION).decode()
        dll = archive.read("ormi_control/lib/ormi_control.dll")
    assert "Tag: py3-none-%s\n" % tag in meta and "Root-Is-Purelib: false" in meta, meta
    assert [n for n in names if n.endswith((".so", ".dll"))] == ["ormi_control/lib/ormi_control.dll"], names
    assert pe_machine(dll) == machine
    if release.build:
        assert dll == built(preset, "ormi_control.dll")
    assert "Version: %s\n" % VERSION in metadata and "License: Apache-2.0\n" in metadata, metadata
