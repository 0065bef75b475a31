"""ormi_<version>_amd64.deb and the tarball for other distributions,
unpacked into a temporary root: ormi --version and ormi check against the
packaged ormi-sim run from there, the manual page renders, the library is
there under its soname, lintian has nothing to say."""

import os
import re
import subprocess
import tarfile

import pytest

from conftest import VERSION, clean_env, tool


def unpack(release, kind, root):
    """The tree's prefix (usr/ of the deb, the tarball's folder) and its library folder."""
    if kind == "deb":
        subprocess.run([tool("dpkg-deb"), "-x", release.find("linux", 0), str(root)], check=True, timeout=120)
        return root / "usr", root / "usr" / "lib" / "x86_64-linux-gnu"
    with tarfile.open(release.find("linux", 1)) as archive:
        assert {m.name.split("/")[0] for m in archive.getmembers()} == {"ormi-%s-linux-x86_64" % VERSION}
        archive.extractall(str(root))
    top = root / ("ormi-%s-linux-x86_64" % VERSION)
    return top, top / "lib"


@pytest.mark.parametrize("kind", ["deb", "tarball"])
def test_unpacked_tree_runs_ormi_against_its_own_ormi_sim(release, start_sim, tmp_path, kind):
    prefix, _ = unpack(release, kind, tmp_path / "root")
    ormi, sim_program = str(prefix / "bin" / "ormi"), str(prefix / "bin" / "ormi-sim")
    somewhere = tmp_path / "somewhere"
    somewhere.mkdir()
    env = clean_env(ORMI_PASSWORD="pw-linux")
    for program, name in [(ormi, "ormi"), (sim_program, "ormi-sim")]:
        done = subprocess.run([program, "--version"], cwd=str(somewhere), env=env, capture_output=True, text=True,
                              timeout=30)
        assert (done.returncode, done.stdout) == (0, "%s %s\n" % (name, VERSION)), done.stdout + done.stderr
    sim = start_sim("--password", "pw-linux", program=sim_program)
    done = subprocess.run([ormi, "check", "--device", "127.0.0.1:%d" % sim.port], cwd=str(somewhere), env=env,
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 0 and "ORMI, Version 2.1.0" in done.stdout, done.stdout + done.stderr
    env["ORMI_PASSWORD"] = "wrong"
    done = subprocess.run([ormi, "check", "--device", "127.0.0.1:%d" % sim.port], cwd=str(somewhere), env=env,
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 4, done.stdout + done.stderr     # login refused


@pytest.mark.parametrize("kind", ["deb", "tarball"])
def test_unpacked_tree_holds_library_under_its_soname_header_and_pages(release, tmp_path, kind):
    prefix, libdir = unpack(release, kind, tmp_path / "root")
    real = libdir / ("libormi_control.so." + VERSION)
    dynamic = subprocess.run(["objdump", "-p", str(real)], capture_output=True, text=True, check=True).stdout
    soname = re.search(r"SONAME\s+(\S+)", dynamic).group(1)
    assert soname == "libormi_control.so." + VERSION.split(".")[0]
    assert os.readlink(str(libdir / soname)) == real.name
    assert (libdir / "libormi_control.so").resolve() == real.resolve()
    assert (prefix / "include" / "ormi_control.h").read_bytes() == open(
        os.path.join(os.path.dirname(__file__), "..", "..", "control", "ormi_control.h"), "rb").read()
    for page, words in [("ormi", ["ormi - check, configure and update", "EXIT STATUS", "ORMI " + VERSION]),
                        ("ormi-sim", ["ormi-sim - a simulated ORMI device", "--password", "ORMI " + VERSION])]:
        done = subprocess.run([tool("man"), "--warnings", "-l", str(prefix / "share" / "man" / "man1" / (page + ".1.gz"))],
                              env=clean_env(MANWIDTH="100", MAN_KEEP_FORMATTING="", PAGER="cat"),
                              capture_output=True, text=True, timeout=60)
        text = re.sub(r".\x08", "", done.stdout)
        assert done.returncode == 0 and done.stderr == "", (page, done.stderr)
        for word in words:
            assert word in text, (page, word, text[:2000])
    assert (prefix / "share" / "doc" / "ormi" / "README.md").is_file()


def test_deb_metadata_from_dpkg_shlibdeps_and_lintian_has_nothing_to_say(release):
    deb = release.find("linux", 0)
    fields = {}
    for name in ("Package", "Version", "Architecture", "Depends", "Maintainer", "Description"):
        fields[name] = subprocess.run([tool("dpkg-deb"), "-f", deb, name], capture_output=True, text=True,
                                      check=True).stdout.strip()
    assert (fields["Package"], fields["Version"], fields["Architecture"]) == ("ormi", VERSION, "amd64")
    depends = {d.split()[0] for d in fields["Depends"].split(", ")}
    assert {"libc6", "libbz2-1.0", "libstdc++6"} <= depends, fields["Depends"]
    # Without --no-override: the remaining tags are overridden with a reason in the package.
    done = subprocess.run([tool("lintian"), "--pedantic", "--no-tag-display-limit", deb], capture_output=True,
                          text=True, timeout=600)
    tags = [line for line in done.stdout.splitlines() if re.match(r"[EWIPX]: ", line)]
    assert done.returncode == 0 and tags == [], done.stdout + done.stderr
