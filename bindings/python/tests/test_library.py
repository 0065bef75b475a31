"""The exports as they are, and where and how the library is loaded."""

import os
import subprocess
import sys
import textwrap

import pytest

from conftest import LIBRARY, SOURCES

import ormi_control
from ormi_control import LibraryNotFound, library


def settings(port: int, password: str = "secret") -> str:
    return ("[IP]\nip_address=127.0.0.1\nip_port=%d\n[LOGIN]\nusername=admin\npassword=%s\n"
            "login_version=1\n[CONTROL]\ntimeout=1\n" % (port, password))


@pytest.fixture
def lib(sim):
    """The loaded library with settings for the simulated device in its folder."""
    loaded = library.load(LIBRARY)
    loaded.acquire()
    with open(loaded.settings_path, "w") as stream:
        stream.write(settings(sim.port))
    yield loaded
    loaded.release()


def test_exports_with_their_c_types(lib):
    assert lib.startDLL() == 0
    assert lib.checkConnection() == 1
    assert lib.setIO(b"m1", b"do1", 5) == 1
    assert lib.getIO(b"m1", b"do1") == 5
    assert lib.setValue(b"configuration", b"mymodule", b"", b'{"a": "b"}') == 1
    text = lib.getValue(b"configuration", b"mymodule", b"a")
    assert text == b"b"
    # A copy: the library's buffer is overwritten by the next call.
    lib.getValue(b"configuration", b"devicebase", b"package_version")
    assert text == b"b"
    assert lib.getValue(b"configuration", b"nomodule", b"a") is None
    assert lib.sendUpdateFile(b"update", b"p.bz2", b"1234567", 3) == 1
    # No upload waiting: 0 after its pause.
    assert lib.sendUpdateFileResp() == 0
    with pytest.raises(ValueError):
        lib.sendUpdateFile(b"update", b"p.bz2", b"12", 3)


def test_the_channel_given_is_not_written(lib):
    channel = b"do1"
    assert lib.setIO(b"m1", channel, 1) == 1
    assert lib.getIO(b"m1", channel) == 1
    assert channel == b"do1"


def test_load_once_per_file_and_cwd_kept(tmp_path):
    before = os.getcwd()
    first = library.load(LIBRARY)
    assert library.load(LIBRARY) is first
    assert os.getcwd() == before
    assert os.path.dirname(first.settings_path) == first.folder
    assert first.folder != before
    # A second folder for the same library would never be read.
    with pytest.raises(ormi_control.OrmiError, match="loaded already"):
        library.load(LIBRARY, folder=str(tmp_path))


LOADER = textwrap.dedent("""
    import os, sys
    sys.path[:0] = [p for p in [{src!r}] if p]
    import ormi_control
    try:
        print(ormi_control.load().path)
    except ormi_control.LibraryNotFound as error:
        print("NOT FOUND", error)
""")


def run_loader(environment: dict, cwd: str) -> str:
    source = LOADER.format(src=SOURCES)
    env = {k: v for k, v in os.environ.items() if k not in ("ORMI_CONTROL_LIBRARY", "LD_LIBRARY_PATH")}
    env.update(environment)
    return subprocess.run([sys.executable, "-c", source], env=env, cwd=cwd, capture_output=True, text=True,
                          timeout=30, check=True).stdout.strip()


def test_where_the_library_is_looked_for(tmp_path):
    missing = str(tmp_path / "nowhere" / "libormi_control.so")
    # The environment's path is taken, and when it is wrong nothing else is tried.
    assert run_loader({"ORMI_CONTROL_LIBRARY": LIBRARY}, str(tmp_path)) == LIBRARY
    out = run_loader({"ORMI_CONTROL_LIBRARY": missing}, str(tmp_path))
    assert out.startswith("NOT FOUND") and "ORMI_CONTROL_LIBRARY" in out and missing in out
    assert out.count("tried") == 1 and ";" not in out.split("tried:")[1]
    # Without it: the copy shipped in the package; without that the
    # platform's search, with every place named.
    shipped = os.path.join(os.path.abspath(os.path.dirname(ormi_control.__file__)), "lib", "libormi_control.so")
    out = run_loader({}, str(tmp_path))
    if os.path.isfile(shipped):
        assert out == shipped
        return
    assert out.startswith("NOT FOUND")
    places = out.split("tried: ", 1)[1].split("; ")
    assert places[0] == shipped + " (no such file)"
    assert places[-1].startswith("libormi_control.so (")
    # The platform's search finds it on LD_LIBRARY_PATH.
    assert run_loader({"LD_LIBRARY_PATH": os.path.dirname(LIBRARY)}, str(tmp_path)).endswith("libormi_control.so")


def test_the_same_file_by_another_name_is_one_library(tmp_path):
    source = textwrap.dedent("""
        import sys
        sys.path[:0] = [p for p in [{src!r}] if p]
        import ormi_control
        first = ormi_control.load({library!r})
        print(ormi_control.load("libormi_control.so") is first)
    """).format(src=SOURCES, library=LIBRARY)
    env = dict(os.environ, LD_LIBRARY_PATH=os.path.dirname(LIBRARY))
    out = subprocess.run([sys.executable, "-c", source], env=env, cwd=str(tmp_path), capture_output=True,
                         text=True, timeout=30, check=True).stdout.strip()
    assert out == "True"


def test_a_folder_of_the_callers_own_is_read(sim, tmp_path):
    settings_folder = tmp_path / "settings"
    settings_folder.mkdir()
    (settings_folder / "ormi_control.ini").write_text(settings(sim.port))
    source = textwrap.dedent("""
        import os, sys
        sys.path[:0] = [p for p in [{src!r}] if p]
        import ormi_control
        library = ormi_control.load({library!r}, folder={folder!r})
        print(library.checkConnection(), os.getcwd() == {cwd!r}, os.path.isdir({folder!r}))
    """).format(src=SOURCES, library=LIBRARY, folder=str(settings_folder), cwd=str(tmp_path))
    out = subprocess.run([sys.executable, "-c", source], cwd=str(tmp_path), capture_output=True, text=True,
                         timeout=30, check=True).stdout.strip()
    # The caller's folder is kept at exit.
    assert out == "1 True True"
    assert (settings_folder / "ormi_control.ini").is_file()


def test_explicit_path_that_is_missing_names_it(tmp_path):
    missing = tmp_path / "libormi_control.so"
    with pytest.raises(LibraryNotFound, match="the path given") as raised:
        ormi_control.Device("127.0.0.1", 80, library=missing)
    assert raised.value.tried == ["%s (no such file)" % missing]


def test_the_library_reads_the_settings_of_its_folder_not_the_cwd(sim, tmp_path, monkeypatch):
    # A settings file in the current directory with a wrong password must not count.
    (tmp_path / "ormi_control.ini").write_text(settings(sim.port, "wrong"))
    monkeypatch.chdir(tmp_path)
    with ormi_control.Device("127.0.0.1", sim.port, password="secret", library=LIBRARY) as device:
        assert device.check().type == "ORMI"
    assert "wrong" in (tmp_path / "ormi_control.ini").read_text()
