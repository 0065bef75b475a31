"""Every package carries the product version of CMakeLists.txt: the
sources' metadata and the built artifacts."""

import glob
import hashlib
import json
import os
import re
import subprocess
import tarfile
import zipfile

import pytest

from conftest import ARTIFACTS, ROOT, VERSION, read_zip, tool


def source(path, pattern):
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        found = re.search(pattern, f.read(), re.M)
    return found.group(1) if found else None


@pytest.mark.parametrize("path, pattern", [
    ("bindings/python/pyproject.toml", r'^version = "([^"]*)"'),
    ("bindings/python/src/ormi_control/__init__.py", r'^__version__ = "([^"]*)"'),
    ("ansible/ansible_collections/ormi/devices/galaxy.yml", r"^version: (\S+)"),
    ("bindings/dotnet/Ormi.Control.csproj", r"<Version>([^<]*)</Version>"),
])
def test_package_sources_carry_the_product_version(path, pattern):
    assert source(path, pattern) == VERSION, path


def test_every_built_package_carries_the_product_version(release):
    found = {}
    for index in range(3):
        wheel = release.find("wheels", index)
        with zipfile.ZipFile(wheel) as archive:
            metadata = archive.read("ormi_control-%s.dist-info/METADATA" % VERSION).decode()
            module = archive.read("ormi_control/__init__.py").decode()
        found[os.path.basename(wheel)] = (re.search(r"^Version: (\S+)", metadata, re.M).group(1),
                                          re.search(r'^__version__ = "([^"]*)"', module, re.M).group(1))
    nuspec = read_zip(release.find("nuget"), "Ormi.Control.nuspec").decode()
    found["nuspec"] = re.search(r"<version>([^<]*)</version>", nuspec).group(1)
    with tarfile.open(release.find("collection")) as archive:
        found["collection"] = json.load(archive.extractfile("MANIFEST.json"))["collection_info"]["version"]
    found["deb"] = subprocess.run([tool("dpkg-deb"), "-f", release.find("linux", 0), "Version"],
                                  capture_output=True, text=True, check=True).stdout.strip()
    with tarfile.open(release.find("linux", 1)) as archive:
        found["tarball"] = sorted({re.sub(r"^ormi-(.*)-linux-x86_64$", r"\1", m.name.split("/")[0])
                                   for m in archive.getmembers()})
    expected = {name: (VERSION, VERSION) for name in found if name.endswith(".whl")}
    expected.update(nuspec=VERSION, collection=VERSION, deb=VERSION, tarball=[VERSION])
    assert found == expected


def test_release_lists_every_package_in_its_checksums_and_its_sbom(release):
    if release.build:
        pytest.skip("for a release folder that scripts/release wrote (ORMI_TEST_RELEASE_DIR)")
    files = [release.find(part, i) for part, patterns in ARTIFACTS.items() for i in range(len(patterns))]
    with open(os.path.join(release.folder, "SHA256SUMS")) as f:
        sums = {name: digest for digest, name in (line.split(None, 1) for line in f.read().splitlines())}
    for path in files:
        with open(path, "rb") as f:
            assert sums.get(os.path.basename(path)) == hashlib.sha256(f.read()).hexdigest(), path
    (sbom,) = glob.glob(os.path.join(release.folder, "*.cdx.json"))
    with open(sbom, encoding="utf-8") as f:
        components = {c["name"]: c for c in json.load(f)["components"]}
    for name, licence in [("ormi_control-python", "Apache-2.0"), ("Ormi.Control", "Apache-2.0"),
                          ("ormi.devices", "GPL-3.0-or-later"), ("ormi-linux", "Apache-2.0")]:
        assert components[name]["version"] == VERSION, name
        assert components[name]["licenses"] == [{"license": {"id": licence}}], name


def documents():
    """Every Markdown file of the tree: the ones that tell a newcomer which file to install."""
    listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard", "*.md"], cwd=ROOT,
                            capture_output=True, text=True, check=True).stdout.split("\0")
    return [p for p in listed if p and os.path.isfile(os.path.join(ROOT, p))]


FILE_NAME = re.compile(r"ormi_control-[0-9][0-9.]*-py3-none-\w+\.whl|Ormi\.Control\.[0-9][0-9.]*[0-9]\.nupkg|"
                       r"ormi-devices-[0-9][0-9.]*[0-9]\.tar\.gz|ormi_[0-9][0-9.]*_amd64\.deb|"
                       r"ormi-[0-9][0-9.]*-linux-x86_64\.tar\.gz")


def test_install_documents_name_the_files_the_release_has(release):
    names = {os.path.basename(release.find(part, i)) for part, patterns in ARTIFACTS.items()
             for i in range(len(patterns))}
    named = {}
    for path in documents():
        with open(os.path.join(ROOT, path), encoding="utf-8") as f:
            for name in FILE_NAME.findall(f.read()):
                named.setdefault(name, []).append(path)
    assert named, "no release file named"
    assert {n: p for n, p in named.items() if n not in names} == {}
