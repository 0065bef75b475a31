"""Device against the simulated device: every method, every failure kind,
threads, and where the password stands."""

import os
import signal
import subprocess
import sys
import textwrap
import threading
import time

import pytest

from conftest import LIBRARY, SOURCES

import ormi_control
from ormi_control import Device, LoginRefused, OrmiError, Refused, Unreachable, UploadFailed


def test_check_reports_type_and_version_of_both_device_kinds(start_sim):
    for version, kind in (("2.1.0", "ORMI"), ("2.1.0m", "ORMI-M"), ("2.1.0-rc", "ORMI")):
        sim = start_sim("--password", "secret", "--package-version", version)
        with Device("127.0.0.1", sim.port, password="secret", library=LIBRARY) as device:
            assert device.check() == ormi_control.DeviceInfo(kind, version)


def test_check_with_login_method_2(start_sim):
    sim = start_sim("--password", "secret", "--login-method", "2")
    with Device("127.0.0.1", sim.port, password="secret", login_method=2, library=LIBRARY) as device:
        assert device.check().version == "2.1.0"


def test_get_whole_module_and_key(device):
    whole = device.get("configuration", "devicebase")
    assert whole.lstrip().startswith("{") and '"package_version": "2.1.0"' in whole
    assert device.get("configuration", "devicebase", "package_version") == "2.1.0"
    assert device.get("configuration", "devicebase", "no_such_key") == ""


def test_set_whole_module_then_read_back(device):
    device.set("configuration", "mymodule", "", '{"speed": "fast", "on": true}')
    assert device.get("configuration", "mymodule", "speed") == "fast"
    assert device.get("configuration", "mymodule", "on") == "true"


def test_io_set_and_get_outputs_and_inputs(device):
    device.io_set("m1", "do1", 1)
    device.io_set("m1", "ao2", -1)
    assert device.io_get("m1", "do1") == 1
    # -1 is also the library's failure value; as a value it is returned.
    assert device.io_get("m1", "ao2") == -1
    assert device.io_get("m1", "di1") == 1
    assert device.io_get("m1", "ai2") == 27   # 27.4, rounded by the library


def test_upload_is_stored_byte_exact(start_sim, tmp_path):
    store = tmp_path / "store"
    sim = start_sim("--password", "secret", "--store-dir", str(store))
    # Every byte value, a NUL right at the start, and more than one send.
    package = bytes(range(256)) * 4096 + b"\0tail"
    path = tmp_path / "ORMI_demo_ormi_2.2.0.bz2"
    path.write_bytes(package)
    with Device("127.0.0.1", sim.port, password="secret", library=LIBRARY) as device:
        device.upload(str(path), wait=30)
        assert (store / path.name).read_bytes() == package
        device.upload(b"\0\1\2", name="second.bz2", wait=30)
        assert (store / "second.bz2").read_bytes() == b"\0\1\2"


def test_upload_waits_for_a_late_answer(start_sim, tmp_path):
    sim = start_sim("--password", "secret", "--answer-delay", "2500", "--store-dir", str(tmp_path))
    # Time-out 1 s: the answer comes only through sendUpdateFileResp.
    with Device("127.0.0.1", sim.port, password="secret", timeout=1, library=LIBRARY) as device:
        device.upload(b"late", name="late.bz2", wait=10)
    assert (tmp_path / "late.bz2").read_bytes() == b"late"


def test_failures_raise_their_kind(start_sim, free_port):
    sim = start_sim("--password", "secret")
    slow = start_sim("--password", "secret", "--answer-delay", "5000")
    cases = [
        # name, port, password, call, kind, text in the message
        ("closed port", free_port, "secret", lambda d: d.check(), Unreachable, "no answer"),
        ("closed port, get", free_port, "secret", lambda d: d.get("configuration", "devicebase"), Unreachable, ""),
        ("wrong password", sim.port, "wrong", lambda d: d.check(), LoginRefused, "refused the login"),
        ("wrong password, upload", sim.port, "wrong", lambda d: d.upload(b"x", name="a.bz2"), LoginRefused, ""),
        ("input set", sim.port, "secret", lambda d: d.io_set("m1", "di1", 1), Refused, "did not set"),
        ("not JSON", sim.port, "secret", lambda d: d.set("configuration", "devicebase", "", "not json"),
         Refused, "did not take"),
        ("unknown module", sim.port, "secret", lambda d: d.get("configuration", "nomodule", "key"), Refused,
         "unknown module"),
        ("unknown channel", sim.port, "secret", lambda d: d.io_get("m1", "xx1"), Refused, "unknown channel"),
        # Larger than the library's upload buffer: not sent.
        ("too large", sim.port, "secret", lambda d: d.upload(b"\0" * 10_000_001, name="big.bz2"), UploadFailed,
         "did not take"),
        ("answer too late", slow.port, "secret", lambda d: d.upload(b"x", name="a.bz2", wait=1), UploadFailed,
         "within 1 s"),
    ]
    for name, port, password, call, kind, text in cases:
        with Device("127.0.0.1", port, password=password, timeout=1, library=LIBRARY) as device:
            with pytest.raises(kind, match=text) as raised:
                call(device)
            assert isinstance(raised.value, OrmiError), name


def test_answer_cut_by_a_reset_is_unreachable_and_says_so(start_sim):
    # The device takes the login and cuts every other answer halfway.
    sim = start_sim("--password", "secret", "--fault", "reset-mid-answer")
    with Device("127.0.0.1", sim.port, password="secret", timeout=1, library=LIBRARY) as device:
        for name, call in (("check", lambda: device.check()),
                           ("get", lambda: device.get("configuration", "devicebase")),
                           ("get key", lambda: device.get("configuration", "devicebase", "package_version")),
                           ("io_get", lambda: device.io_get("m1", "di1")),
                           ("set", lambda: device.set("configuration", "devicebase", "", "{}"))):
            with pytest.raises(Unreachable, match="the device's answer was cut: the connection was reset after "
                                                  r"\d+ bytes"):
                call()


def test_silent_device_does_not_hang(start_sim):
    sim = start_sim("--password", "secret", "--fault", "silent")
    with Device("127.0.0.1", sim.port, password="secret", timeout=1, library=LIBRARY) as device:
        for call in (lambda: device.check(), lambda: device.io_get("m1", "di1"),
                     lambda: device.set("configuration", "x", "", "{}")):
            started = time.monotonic()
            with pytest.raises(Unreachable):
                call()
            # The library's time-out and the probe's, with room for a busy machine.
            assert time.monotonic() - started < 6


def test_four_threads_get_their_own_answers(start_sim):
    # Two devices in one process: every call must carry its own device's settings.
    versions = ["2.1.0", "3.0.0m"]
    devices = [Device("127.0.0.1", start_sim("--password", "secret", "--package-version", v).port,
                      password="secret", library=LIBRARY) for v in versions]
    errors = []

    def work(index: int) -> None:
        device, version = devices[index % 2], versions[index % 2]
        try:
            for round in range(25):
                value = index * 1000 + round
                device.io_set("m%d" % index, "ao1", value)
                got = device.io_get("m%d" % index, "ao1")
                module = device.get("configuration", "devicebase", "package_version")
                if got != value or module != version:
                    errors.append((index, round, got, module))
        except Exception as error:   # reported below, not lost in the thread
            errors.append((index, error))

    threads = [threading.Thread(target=work, args=(i,)) for i in range(1, 5)]
    try:
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(60)
    finally:
        for device in devices:
            device.close()
    assert not any(thread.is_alive() for thread in threads)
    assert errors == []


def test_password_stands_in_settings_only_during_a_call(device):
    settings = device.library.settings_path
    seen = []
    real = device.library._functions["checkConnection"]
    device.library._functions["checkConnection"] = lambda: (seen.append(open(settings).read()), real())[1]
    try:
        device.check()
    finally:
        device.library._functions["checkConnection"] = real
    assert "password=secret\n" in seen[0]
    after = open(settings).read()
    assert "password=\n" in after and "secret" not in after
    # A failed call empties it too.
    device.io_set("m1", "do1", 1)
    with pytest.raises(Refused):
        device.io_set("m1", "di1", 1)
    assert "secret" not in open(settings).read()


def test_folder_removed_on_close_and_with(sim):
    device = Device("127.0.0.1", sim.port, password="secret", library=LIBRARY)
    folder = device.library.folder
    device.check()
    # Nobody else may read the password while a call runs.
    assert os.stat(folder).st_mode & 0o777 == 0o700
    assert os.stat(os.path.join(folder, "ormi_control.ini")).st_mode & 0o777 == 0o600
    device.close()
    assert not os.path.exists(folder)
    with pytest.raises(OrmiError, match="closed"):
        device.check()
    # A later device gets the same folder again, since the library reads there.
    with Device("127.0.0.1", sim.port, password="secret", library=LIBRARY) as again:
        assert again.library.folder == folder
        again.check()
        other = Device("127.0.0.1", sim.port, password="secret", library=LIBRARY)
        other.close()
        assert os.path.isdir(folder), "still used by the device of the with block"
    assert not os.path.exists(folder)


CHILD = textwrap.dedent("""
    import sys, time
    sys.path[:0] = [p for p in [{src!r}] if p]
    from ormi_control import Device
    device = Device("127.0.0.1", {port}, password="secret", library={library!r})
    device.check()
    print(device.library.settings_path, flush=True)
    if {wait}:
        time.sleep(60)
""")


@pytest.mark.parametrize("killed", [True, False], ids=["SIGKILL between calls", "interpreter exit"])
def test_no_password_left_after_the_process_ends(sim, killed):
    source = CHILD.format(src=SOURCES, port=sim.port, library=LIBRARY, wait=killed)
    child = subprocess.Popen([sys.executable, "-c", source], stdout=subprocess.PIPE, text=True)
    try:
        settings = child.stdout.readline().strip()
        assert settings.endswith("ormi_control.ini")
        if killed:
            os.kill(child.pid, signal.SIGKILL)
        child.wait(30)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
        child.stdout.close()
    if killed:
        # The folder outlives the process, the password does not.
        assert "secret" not in open(settings).read()
        os.unlink(settings)
        os.rmdir(os.path.dirname(settings))
    else:
        assert not os.path.exists(os.path.dirname(settings))


def test_texts_that_would_break_the_settings_are_refused(sim):
    for field in ("address", "user", "password"):
        arguments = {"address": "127.0.0.1", "user": "admin", "password": "secret"}
        arguments[field] = "x\n[LOGIN]\npassword=evil"
        with pytest.raises(ValueError, match=field):
            Device(port=sim.port, library=LIBRARY, **arguments)
