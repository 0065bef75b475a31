"""Ormi.Control.<version>.nupkg: installed by Debian's NuGet client from the
release folder, its assembly and Linux library alone drive a simulated
device under Mono; the Windows DLLs are the x64 and x86 builds; the targets
file copies the DLL of a .NET Framework project's bitness."""

import os
import re
import shutil
import subprocess
import xml.etree.ElementTree as ET
import zipfile

import pytest

from conftest import VERSION, built, clean_env, pe_machine, tool

NUSPEC = "{http://schemas.microsoft.com/packaging/2013/05/nuspec.xsd}"

PROGRAM = r'''
using System;
using Ormi.Control;
class Program
{
    static int Main(string[] args)
    {
        int port = int.Parse(args[0]);
        using (var device = new Device("127.0.0.1", port, password: "pw-nuget"))
        {
            DeviceInfo info = device.Check();
            Console.WriteLine("check: " + info);
            Console.WriteLine("name: " + device.Get("configuration", "devicebase", "device_name"));
        }
        try
        {
            using (var device = new Device("127.0.0.1", port, password: "wrong")) device.Check();
            Console.WriteLine("no error");
        }
        catch (LoginRefusedException) { Console.WriteLine("LoginRefused"); }
        Console.WriteLine("assembly: " + typeof(Device).Assembly.GetName().Version);
        return 0;
    }
}
'''


@pytest.fixture(scope="module")
def installed(release, tmp_path_factory):
    """The package as Debian's nuget installs it from the release folder, offline."""
    package = release.find("nuget")
    source = tmp_path_factory.mktemp("nuget-source")
    shutil.copy(package, source)
    target = tmp_path_factory.mktemp("nuget-packages")
    home = tmp_path_factory.mktemp("nuget-home")
    done = subprocess.run([tool("nuget"), "install", "Ormi.Control", "-Version", VERSION, "-Source", str(source),
                           "-OutputDirectory", str(target), "-NonInteractive"],
                          env=clean_env(HOME=str(home)), capture_output=True, text=True, timeout=300)
    assert done.returncode == 0 and "Successfully installed" in done.stdout, done.stdout + done.stderr
    return package, target / ("Ormi.Control." + VERSION)


def test_mono_program_with_only_the_package_files_checks_a_simulated_device(installed, start_sim, tmp_path):
    _, folder = installed
    app = tmp_path / "app"
    app.mkdir()
    # Only what the package brings: the assembly and the Linux library.
    shutil.copy(folder / "lib" / "net461" / "Ormi.Control.dll", app)
    shutil.copy(folder / "runtimes" / "linux-x64" / "native" / "libormi_control.so", app)
    (tmp_path / "Program.cs").write_text(PROGRAM)
    subprocess.run([tool("mcs"), "-nologo", "-r:" + str(app / "Ormi.Control.dll"), "-out:" + str(app / "Program.exe"),
                    str(tmp_path / "Program.cs")], check=True, capture_output=True, timeout=120)
    sim = start_sim("--password", "pw-nuget")
    done = subprocess.run([tool("mono"), str(app / "Program.exe"), str(sim.port)], cwd=str(tmp_path),
                          env=clean_env(), capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stdout + done.stderr
    lines = done.stdout.splitlines()
    assert lines[0] == "check: ORMI 2.1.0" and lines[1].startswith("name: ") and len(lines[1]) > 6, lines
    assert lines[2:] == ["LoginRefused", "assembly: %s.0" % VERSION], lines


def test_package_holds_the_manifest_targets_and_every_native_library(installed, release):
    package, _ = installed
    with zipfile.ZipFile(package) as archive:
        names = set(archive.namelist())
        read = archive.read
        metadata = ET.fromstring(read("Ormi.Control.nuspec")).find(NUSPEC + "metadata")
        assert metadata.findtext(NUSPEC + "id") == "Ormi.Control"
        assert metadata.findtext(NUSPEC + "version") == VERSION
        assert metadata.find(NUSPEC + "license").attrib == {"type": "expression"}
        assert metadata.findtext(NUSPEC + "license") == "Apache-2.0"
        for field in ("authors", "description", "projectUrl"):
            assert (metadata.findtext(NUSPEC + field) or "").strip(), field
        assert metadata.findtext(NUSPEC + "readme") == "README.md" and "README.md" in names
        assert {"[Content_Types].xml", "_rels/.rels", "lib/net461/Ormi.Control.dll",
                "build/Ormi.Control.targets", "buildTransitive/Ormi.Control.targets"} <= names, names
        for rid, preset, machine in [("win-x64", "win64", (0x8664, 0x20B)), ("win-x86", "win32", (0x14C, 0x10B))]:
            dll = read("runtimes/%s/native/ormi_control.dll" % rid)
            assert pe_machine(dll) == machine, rid
            if release.build:
                assert dll == built(preset, "ormi_control.dll"), rid
        elf = read("runtimes/linux-x64/native/libormi_control.so")
        # ELF, 64-bit, little-endian, x86-64.
        assert elf[:6] == b"\x7fELF\x02\x01" and int.from_bytes(elf[18:20], "little") == 0x3E


# (project properties, runtime whose DLL is copied; None: nothing copied)
TARGET_CASES = [
    ({"PlatformTarget": "x86"}, "win-x86"),
    ({"PlatformTarget": "x64"}, "win-x64"),
    ({"PlatformTarget": "AnyCPU", "Prefer32Bit": "true"}, "win-x86"),
    ({"PlatformTarget": "AnyCPU", "Prefer32Bit": "false"}, "win-x64"),
    ({"Platform": "x86"}, "win-x86"),
    ({"PlatformTarget": "AnyCPU", "Prefer32Bit": "false", "OrmiControlPlatform": "x86"}, "win-x86"),
    ({"PlatformTarget": "x64", "TargetFrameworkIdentifier": ".NETCoreApp"}, None),
]


@pytest.mark.parametrize("properties, rid", TARGET_CASES)
def test_targets_file_copies_the_dll_of_a_framework_projects_bitness(installed, tmp_path, properties, rid):
    _, folder = installed
    values = dict({"TargetFrameworkIdentifier": ".NETFramework"}, **properties)
    project = tmp_path / "Probe.proj"
    project.write_text(
        '<Project xmlns="http://schemas.microsoft.com/developer/msbuild/2003" DefaultTargets="Show">\n'
        "  <PropertyGroup>%s</PropertyGroup>\n"
        '  <Import Project="%s" />\n'
        '  <Target Name="Show"><Message Importance="high" '
        'Text="copied: %%(None.FullPath) as %%(None.Link) when %%(None.CopyToOutputDirectory)" '
        "Condition=\"'@(None)' != ''\" /></Target>\n"
        "</Project>\n" % ("".join("<%s>%s</%s>" % (k, v, k) for k, v in values.items()),
                          folder / "buildTransitive" / "Ormi.Control.targets"))
    done = subprocess.run([tool("xbuild"), "/nologo", "/v:minimal", str(project)], cwd=str(tmp_path),
                          env=clean_env(HOME=str(tmp_path)), capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stdout + done.stderr
    copied = re.findall(r"copied: (\S+) as (\S+) when (\S+)", done.stdout)
    if rid is None:
        assert copied == [], done.stdout
        return
    assert len(copied) == 1, done.stdout
    path, link, when = copied[0]
    assert os.path.realpath(path) == os.path.realpath(folder / "runtimes" / rid / "native" / "ormi_control.dll")
    assert os.path.isfile(path) and (link, when) == ("ormi_control.dll", "PreserveNewest")
