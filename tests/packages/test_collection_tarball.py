"""ormi-devices-<version>.tar.gz installed offline into an empty
collections path and used from there: the rolling playbook brings
simulated devices to the new version."""

import json
import os
import subprocess
import sys
import tarfile

from conftest import ROOT, VERSION, clean_env, tool

sys.path.insert(0, os.path.join(ROOT, "tests", "ansible"))
import fleet  # noqa: E402  (the collection tests' simulated fleet)


def test_collection_from_its_tarball_runs_the_rolling_update_from_an_empty_path(release, tmp_path):
    tarball = release.find("collection")
    with tarfile.open(tarball) as archive:
        manifest = json.load(archive.extractfile("MANIFEST.json"))["collection_info"]
        names = archive.getnames()
    assert (manifest["namespace"], manifest["name"], manifest["version"]) == ("ormi", "devices", VERSION)
    assert manifest["license"] == ["GPL-3.0-or-later"] and "COPYING" in names, (manifest["license"], names)

    installed = tmp_path / "collections"
    installed.mkdir()
    env = clean_env(HOME=str(tmp_path), ANSIBLE_COLLECTIONS_PATH=str(installed))
    done = subprocess.run([tool("ansible-galaxy"), "collection", "install", tarball, "--offline", "-p", str(installed)],
                          env=env, capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr
    with open(installed / "ansible_collections" / "ormi" / "devices" / "MANIFEST.json") as f:
        assert json.load(f)["collection_info"]["version"] == VERSION

    folder = str(tmp_path / "fleet")
    os.mkdir(folder)
    devices = fleet.Fleet(folder, 3)
    try:
        inventory = fleet.write_inventory(os.path.join(folder, "inventory.yml"), devices.devices)
        package = fleet.make_package(folder, "2.2.0")
        run_env = fleet.ansible_env(folder)
        # Only the installed copy: nothing from the tree.
        run_env["ANSIBLE_COLLECTIONS_PATH"] = str(installed)
        argv = ["ansible-playbook", "-i", inventory, fleet.PLAYBOOK, "-e",
                json.dumps(dict(fleet.FAST_WAITS, ormi_package=package, ormi_version="2.2.0"))]
        done = subprocess.run(argv, env=run_env, cwd=str(tmp_path), capture_output=True, text=True, timeout=600)
        output = done.stdout + done.stderr
        assert done.returncode == 0, output[-5000:]
        # The one ormi.devices Ansible sees is the installed one, at the version.
        listed = subprocess.run(["ansible-galaxy", "collection", "list", "ormi.devices"], env=run_env,
                                capture_output=True, text=True, timeout=120).stdout.split()
        assert listed[listed.index("#") + 1] == str(installed / "ansible_collections"), listed
        assert listed.count("ormi.devices") == 1 and listed[listed.index("ormi.devices") + 1] == VERSION, listed
        hosts = fleet.recap(output)
        for device in devices.devices:
            assert hosts[device.name]["failed"] == 0 and hosts[device.name]["changed"] >= 1, device.name
            assert device.version() == "2.2.0", device.name
            assert len(device.uploads()) == 1, device.name
    finally:
        devices.stop()
