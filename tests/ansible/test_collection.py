"""The ormi.devices collection with Debian's ansible-core against simulated
devices on loopback: the rolling update of a fleet, its repetition, check
mode, a stop after a failing batch, the idempotent value and channel
modules, and the password kept out of verbose output."""

import json
import os
import subprocess

import pytest

import fleet

NEW_VERSION = "2.2.0"
PLANT_PC_DEVICES = range(16, 21)   # the last batches go through a plant PC
VAULTED = (1, 2)                   # passwords given as vault texts


def vault(folder, secret_file, text, name):
    done = subprocess.run(["ansible-vault", "encrypt_string", "--vault-password-file", secret_file,
                           "--stdin-name", name], input=text, env=fleet.ansible_env(folder),
                          capture_output=True, text=True, check=True)
    # "name: !vault |" followed by the indented vault text.
    return "\n".join(line.strip() for line in done.stdout.splitlines()[1:])


@pytest.fixture(scope="module")
def rollout(tmp_path_factory):
    """Twenty devices at the old version, an inventory with a password
    each (two from a vault), five of them behind a plant PC."""
    folder = str(tmp_path_factory.mktemp("rollout"))
    devices = fleet.Fleet(folder, 20)
    try:
        secret = os.path.join(folder, "vault-secret")
        with open(secret, "w") as f:
            f.write("vault-%s\n" % os.getpid())
        os.chmod(secret, 0o600)
        vaulted = {i: vault(folder, secret, devices[i].password, "ormi_password") for i in VAULTED}
        plant_dir = os.path.join(folder, "plant-pc-packages")
        inventory = fleet.write_inventory(os.path.join(folder, "inventory.yml"), devices.devices, plant_pc=plant_dir,
                                          behind_plant_pc=PLANT_PC_DEVICES, vaulted=vaulted)
        package = fleet.make_package(folder, NEW_VERSION)
        state = {"folder": folder, "devices": devices, "inventory": inventory, "package": package,
                 "plant_dir": plant_dir, "vault": ["--vault-password-file", secret]}
        yield state
    finally:
        devices.stop()


def rollout_vars(state, **more):
    values = dict(fleet.FAST_WAITS, ormi_package=state["package"], ormi_version=NEW_VERSION)
    values.update(more)
    return values


# The four tests below share one fleet and build on each other, in this order.

def test_check_mode_reports_what_would_change_and_sends_no_post(rollout):
    code, output, _ = fleet.run_playbook(rollout["folder"], rollout["inventory"], rollout_vars(rollout),
                                         "--check", *rollout["vault"])
    assert code == 0, output
    assert "would update: 20" in output, output
    for device in rollout["devices"].devices:
        assert device.requests(), device.name          # the dry run did reach it
        assert device.posts() == [], device.name
        assert device.version() == fleet.OLD_VERSION


def test_rolling_update_brings_every_device_to_the_version(rollout):
    records = os.path.join(rollout["folder"], "records")
    code, output, seconds = fleet.run_playbook(rollout["folder"], rollout["inventory"],
                                               rollout_vars(rollout, ormi_record_dir=records), "-vvv",
                                               *rollout["vault"])
    rollout["verbose_output"] = output
    print("rolling update of 20 devices: %.1f s" % seconds)
    assert code == 0, output[-5000:]
    hosts = fleet.recap(output)
    for device in rollout["devices"].devices:
        assert hosts[device.name]["failed"] == 0, device.name
        assert hosts[device.name]["changed"] >= 1, device.name
        assert device.version() == NEW_VERSION, device.name
        assert len(device.uploads()) == 1, device.name
        with open(os.path.join(records, device.name + ".json")) as f:
            record = json.load(f)
        assert (record["version_before"], record["version_after"], record["exit_code"]) == \
            (fleet.OLD_VERSION, NEW_VERSION, 0)
    assert "updated: 20" in output
    # The devices behind the plant PC got their package from its copy.
    assert os.listdir(rollout["plant_dir"]) == [os.path.basename(rollout["package"])]
    # Batches of 1, 5 and 20 percent: six batches for 20 devices.
    assert output.count("PLAY [Roll out an ORMI package in batches]") == 6


def test_password_never_appears_in_verbose_output(rollout):
    output = rollout.get("verbose_output")
    assert output and "ORMI_PASSWORD" not in output
    for device in rollout["devices"].devices:
        assert device.password not in output, device.name


def test_second_run_changes_nothing_and_uploads_nothing(rollout):
    before = {d.name: len(d.requests()) for d in rollout["devices"].devices}
    code, output, _ = fleet.run_playbook(rollout["folder"], rollout["inventory"], rollout_vars(rollout),
                                         *rollout["vault"])
    assert code == 0, output
    hosts = fleet.recap(output)
    for device in rollout["devices"].devices:
        assert hosts[device.name]["changed"] == 0, device.name
        assert hosts[device.name]["failed"] == 0, device.name
        assert len(device.requests()) > before[device.name], device.name   # asked, all the same
        assert len(device.uploads()) == 1, device.name
        assert [r for r in device.requests()[before[device.name]:] if r.startswith("POST ")] == []
    assert "at version: 20" in output


def test_failing_batch_over_max_fail_percentage_stops_the_rollout(tmp_path):
    # Devices 3, 4 and 5 come back with their old version: three of the five
    # devices of the second batch (devices 2 to 6).
    folder = str(tmp_path)
    devices = fleet.Fleet(folder, 20, faulty=(3, 4, 5))
    try:
        inventory = fleet.write_inventory(os.path.join(folder, "inventory.yml"), devices.devices)
        package = fleet.make_package(folder, NEW_VERSION)
        records = os.path.join(folder, "records")
        code, output, _ = fleet.run_playbook(folder, inventory, dict(
            fleet.FAST_WAITS, ormi_package=package, ormi_version=NEW_VERSION, ormi_max_fail_percentage=10,
            ormi_record_dir=records))
        assert code != 0, output
        for index in (1, 2, 6):
            assert devices[index].version() == NEW_VERSION
        for index in (3, 4, 5):
            with open(os.path.join(records, "dev%02d.json" % index)) as f:
                record = json.load(f)
            # Written to all the same: the package was uploaded and installed.
            assert (record["exit_code"], record["result"], record["changed"]) == (11, "wrong-version", True)
            assert devices[index].version() == fleet.OLD_VERSION
        for index in range(7, 21):
            assert devices[index].requests() == [], "dev%02d was touched" % index
            assert not os.path.exists(os.path.join(records, "dev%02d.json" % index))
        assert output.count("PLAY [Roll out an ORMI package in batches]") == 2
        assert output.count("wrong-version (exit code 11): device came back with version %s" % fleet.OLD_VERSION) == 3
    finally:
        devices.stop()


def test_rolling_update_with_trusted_keys_sends_only_signed_packages(tmp_path):
    """Keys and signature made with openssl, the way a vendor does it; the
    second device behind a plant PC, to which the signature goes along."""
    folder = str(tmp_path)
    devices = fleet.Fleet(folder, 2)
    try:
        plant_dir = os.path.join(folder, "plant-pc-packages")
        inventory = fleet.write_inventory(os.path.join(folder, "inventory.yml"), devices.devices, plant_pc=plant_dir,
                                          behind_plant_pc=(2,))
        key, public = os.path.join(folder, "vendor.pem"), os.path.join(folder, "vendor.pub.pem")
        subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", key], check=True)
        subprocess.run(["openssl", "ec", "-in", key, "-pubout", "-out", public], check=True, capture_output=True)
        package = fleet.make_package(folder, NEW_VERSION)
        variables = dict(fleet.FAST_WAITS, ormi_package=package, ormi_version=NEW_VERSION,
                         ormi_trusted_keys=[public])
        reason = "no signature file %s.sig" % package

        # Unsigned: check mode says why, and the rollout's canary fails with
        # the reason and stops it before any device is asked anything.
        status, result = adhoc(folder, inventory, "ormi.devices.ormi_update",
                               {"package": package, "version": NEW_VERSION, "trusted_keys": [public]}, "--check")
        assert (status, result["result"], result["exit_code"]) == ("FAILED", "signature-refused", 12), result
        assert reason in result["msg"]
        code, output, _ = fleet.run_playbook(folder, inventory, variables)
        assert code != 0, output
        assert "signature-refused (exit code 12): %s" % reason in output, output
        assert all(device.requests() == [] for device in devices.devices)

        subprocess.run(["openssl", "dgst", "-sha256", "-sign", key, "-out", package + ".sig", package], check=True)
        code, output, _ = fleet.run_playbook(folder, inventory, variables)
        assert code == 0, output[-5000:]
        for device in devices.devices:
            assert device.version() == NEW_VERSION, device.name
            assert len(device.uploads()) == 1, device.name
        assert sorted(os.listdir(plant_dir)) == sorted([os.path.basename(package), os.path.basename(package) + ".sig"])
    finally:
        devices.stop()


@pytest.mark.parametrize("target, pattern", [(None, "ormi_devices"), ("plant_b", "plant_b")])
def test_rollout_that_matches_no_device_fails_and_names_the_pattern(tmp_path, target, pattern):
    # The device is in a group of another name.
    folder = str(tmp_path)
    devices = fleet.Fleet(folder, 1)
    try:
        inventory = fleet.write_inventory(os.path.join(folder, "inventory.yml"), devices.devices)
        with open(inventory) as f:
            text = f.read()
        with open(inventory, "w") as f:
            f.write(text.replace("    ormi_devices:", "    plant_a:"))
        values = dict(fleet.FAST_WAITS, ormi_package=fleet.make_package(folder, NEW_VERSION), ormi_version=NEW_VERSION)
        if target:
            values["ormi_target"] = target
        code, output, _ = fleet.run_playbook(folder, inventory, values)
        assert code != 0, output
        assert "ormi_target '%s' matches no host of the inventory, so no device would be updated" % pattern in output
        assert ("without -e ormi_target=PATTERN the devices must be in the group ormi_devices" in output) == (not target)
        assert "PLAY [Roll out an ORMI package in batches]" not in output
        assert "Summary of the rollout" not in output
        assert devices[1].requests() == []
    finally:
        devices.stop()


@pytest.fixture(scope="module")
def one_device(tmp_path_factory):
    folder = str(tmp_path_factory.mktemp("one"))
    devices = fleet.Fleet(folder, 1)
    try:
        inventory = fleet.write_inventory(os.path.join(folder, "inventory.yml"), devices.devices)
        yield folder, inventory, devices[1]
    finally:
        devices.stop()


def adhoc(folder, inventory, module, args, *options):
    """An ad-hoc task against dev01: (CHANGED/SUCCESS/FAILED, result)."""
    argv = ["ansible", "-i", inventory, "dev01", "-m", module] + (["-a", json.dumps(args)] if args else [])
    done = subprocess.run(argv + list(options),
                          env=fleet.ansible_env(folder), capture_output=True, text=True, timeout=120)
    head, _, body = done.stdout.partition(" => ")
    status = head.split("|")[-1].strip().rstrip("!") if "|" in head else "?"
    try:
        return status, json.loads(body)
    except ValueError:
        return status, {"output": done.stdout + done.stderr}


def device_value(device, key):
    found, value = find(json.loads(device.ormi("get", "configuration", "devicebase")["message"]), key)
    assert found
    return value


def find(value, key):
    if isinstance(value, dict):
        for name, member in value.items():
            if name == key:
                return True, member
            found, inner = find(member, key)
            if found:
                return True, inner
    return False, None


@pytest.mark.parametrize("key, value, stored", [
    ("location", "Hall 4, rack \"C\"", "Hall 4, rack \"C\""),
    ("temperature_offset", 1.5, 1.5),
    ("dhcp", True, True),                   # inside the network object
    ("utc_offset_minutes", 0, 0),
    ("temperature_offset", "-0.75", -0.75),  # a text from a template, for a number
    ("dhcp", "False", False),               # ... for a boolean
])
def test_ormi_value_changes_a_key_once_then_reports_no_change(one_device, key, value, stored):
    folder, inventory, device = one_device
    args = {"module": "devicebase", "key": key, "value": value}
    posts = len(device.posts())
    original = device_value(device, key)

    status, result = adhoc(folder, inventory, "ormi.devices.ormi_value", args, "--check")
    assert status == "CHANGED", result
    assert len(device.posts()) == posts
    assert device_value(device, key) == original

    status, result = adhoc(folder, inventory, "ormi.devices.ormi_value", args)
    assert status == "CHANGED", result
    assert result["value"] == stored and result["previous"] == original
    assert device_value(device, key) == stored and type(device_value(device, key)) is type(stored)
    assert len(device.posts()) == posts + 1

    status, result = adhoc(folder, inventory, "ormi.devices.ormi_value", args)
    assert status == "SUCCESS" and result["changed"] is False, result
    assert len(device.posts()) == posts + 1


def test_ormi_value_fails_with_the_reason_for_an_unknown_key(one_device):
    folder, inventory, device = one_device
    status, result = adhoc(folder, inventory, "ormi.devices.ormi_value",
                           {"module": "devicebase", "key": "no_such_key", "value": 1})
    assert status == "FAILED" and "no key no_such_key" in result.get("msg", ""), result


def test_ormi_io_sets_an_output_once_then_reports_no_change(one_device):
    folder, inventory, device = one_device
    args = {"base": "base", "channel": "do3", "value": 1}
    status, first = adhoc(folder, inventory, "ormi.devices.ormi_io", args)
    status2, second = adhoc(folder, inventory, "ormi.devices.ormi_io", args)
    assert (status, first["previous"], first["value"]) == ("CHANGED", 0, 1), first
    assert (status2, second["previous"]) == ("SUCCESS", 1), second
    assert device.ormi("io", "get", "base", "do3")["message"] == "1"


def test_ormi_info_reports_type_version_and_configuration(one_device):
    folder, inventory, device = one_device
    status, result = adhoc(folder, inventory, "ormi.devices.ormi_info", {"gather": ["configuration", "values"]})
    assert status == "SUCCESS", result
    assert (result["device_type"], result["package_version"]) == ("ORMI", fleet.OLD_VERSION)
    assert result["configuration"]["serial_number"] == "0412-3387"
    assert result["values"]["state"] == "idle"


@pytest.mark.parametrize("variables, result_name, exit_code", [
    ({"ormi_password": "wrong-password"}, "login-refused", 4),
    ({"ormi_port": 1, "ormi_retries": 0}, "unreachable", 3),
])
def test_modules_fail_with_the_tools_reason(one_device, variables, result_name, exit_code):
    folder, inventory, device = one_device
    status, result = adhoc(folder, inventory, "ormi.devices.ormi_info", {}, "-e", json.dumps(variables))
    assert (status, result.get("result"), result.get("exit_code")) == ("FAILED", result_name, exit_code), result
    assert result["msg"] and "wrong-password" not in json.dumps(result)


@pytest.mark.parametrize("name", ["ormi_info", "ormi_value", "ormi_io", "ormi_update"])
def test_ansible_doc_renders_every_module(name, tmp_path):
    done = subprocess.run(["ansible-doc", "ormi.devices." + name], env=fleet.ansible_env(str(tmp_path)),
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    for part in ("OPTIONS", "EXAMPLES:", "RETURN VALUES:", "password", "check_mode"):
        assert part in done.stdout, (name, part)


SANITY = "/usr/lib/python3/dist-packages/ansible_test/_util/controller/sanity"
# These need a virtual environment filled from the network; their checkers
# run below from Debian's packages instead (ansible-doc: the test above).
SANITY_NEEDS_NETWORK = ["ansible-doc", "import", "pep8", "pylint", "runtime-metadata", "validate-modules", "yamllint"]


def test_collection_passes_the_sanity_checks_that_run_offline(tmp_path):
    import shutil
    root = tmp_path / "ansible_collections" / "ormi" / "devices"
    shutil.copytree(os.path.join(fleet.COLLECTIONS, "ansible_collections", "ormi", "devices"), root)
    env = fleet.ansible_env(str(tmp_path))
    env["ANSIBLE_COLLECTIONS_PATH"] = str(tmp_path)
    skip = [a for t in SANITY_NEEDS_NETWORK for a in ("--skip-test", t)]
    with open(SANITY + "/pep8/current-ignore.txt") as f:
        pep8_ignore = ",".join(line.strip() for line in f if line.strip())
    # validate-modules also run directly: its --arg-spec option loads each
    # module and checks the arguments it declares against its documentation.
    runs = [
        ["ansible-test", "sanity", "--python", "3.11"] + skip,
        ["/usr/bin/python3", SANITY + "/validate-modules/validate.py", "--arg-spec", "--collection",
         "ansible_collections/ormi/devices", "--collection-version", fleet.VERSION, "--plugin-type", "module",
         "-w"] + sorted(str(p.relative_to(root)) for p in (root / "plugins" / "modules").glob("*.py")),
        ["/usr/bin/python3", "-m", "pycodestyle", "--max-line-length", "160", "--ignore", pep8_ignore, "plugins"],
        ["yamllint", "-c", SANITY + "/yamllint/config/default.yml", "meta", "galaxy.yml", "playbooks", "examples"],
    ]
    env["PYTHONPATH"] = SANITY.replace("controller/sanity", "target/sanity") + ":/usr/lib/python3/dist-packages"
    for argv in runs:
        done = subprocess.run(argv, cwd=str(root), env=env, capture_output=True, text=True, timeout=300)
        assert done.returncode == 0 and "ERROR" not in done.stdout + done.stderr, (argv[:3], done.stdout + done.stderr)
        assert done.stdout.strip() == "" or argv[0] == "ansible-test", (argv[:3], done.stdout)


def test_configure_playbook_sets_keys_and_outputs_once(one_device):
    folder, inventory, device = one_device
    values = {"ormi_values": [{"key": "location", "value": "Line 7"}, {"key": "reboot", "value": False},
                              {"key": "temperature_offset", "value": -0.5}],
              "ormi_outputs": [{"base": "base", "channel": "ao2", "value": 42}]}
    first = fleet.run_playbook(folder, inventory, values, playbook="ormi.devices.configure")
    second = fleet.run_playbook(folder, inventory, values, playbook="ormi.devices.configure")
    assert first[0] == 0 and fleet.recap(first[1])["dev01"]["changed"] == 2, first[1]
    assert second[0] == 0 and fleet.recap(second[1])["dev01"]["changed"] == 0, second[1]
    assert (device_value(device, "location"), device_value(device, "temperature_offset")) == ("Line 7", -0.5)
    assert device.ormi("io", "get", "base", "ao2")["message"] == "42"


def test_collection_builds_and_installs_from_its_tarball(tmp_path):
    env = fleet.ansible_env(str(tmp_path))
    source = os.path.join(fleet.COLLECTIONS, "ansible_collections", "ormi", "devices")
    subprocess.run(["ansible-galaxy", "collection", "build", "--output-path", str(tmp_path), source],
                   env=env, check=True, capture_output=True, timeout=120)
    tarball = tmp_path / ("ormi-devices-%s.tar.gz" % fleet.VERSION)
    subprocess.run(["ansible-galaxy", "collection", "install", "-p", str(tmp_path / "installed"), str(tarball)],
                   env=env, check=True, capture_output=True, timeout=120)
    env["ANSIBLE_COLLECTIONS_PATH"] = str(tmp_path / "installed")
    done = subprocess.run(["ansible-doc", "-l", "ormi.devices"], env=env, capture_output=True, text=True, timeout=120)
    assert sorted(line.split()[0] for line in done.stdout.splitlines()) == [
        "ormi.devices.ormi_info", "ormi.devices.ormi_io", "ormi.devices.ormi_update", "ormi.devices.ormi_value"]
    installed = tmp_path / "installed" / "ansible_collections" / "ormi" / "devices"
    assert (installed / "playbooks" / "rolling_update.yml").is_file()
    assert (installed / "plugins" / "action" / "ormi_update.py").is_file()
