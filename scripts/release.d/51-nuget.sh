#!/bin/bash
# Ormi.Control.V.nupkg: the managed assembly built by Mono's mcs
# (lib/net461/), the native library per runtime (runtimes/<rid>/native/),
# a targets file that copies the right DLL for .NET Framework projects
# (build/ for packages.config, buildTransitive/ for PackageReference), and
# the README. Packed by scripts/lib/nupkg.py, without the dotnet SDK.
#
# net461, not netstandard2.0: Debian's Mono has netstandard.dll only as a
# facade that forwards to mscorlib, so whatever mcs builds references
# mscorlib and System, which is a .NET Framework assembly. 4.6.1 is the
# oldest framework that also takes netstandard2.0 libraries; .NET (Core)
# projects use the net461 assembly too (NuGet's warning NU1701).
set -euo pipefail
source "$(dirname "$0")/../lib/packages.sh"
work=$packaging/nuget
src=$here/bindings/dotnet
packages_require "$native/libormi_control.so" "$dll_x64" "$dll_x86"
rm -rf "$work"
mkdir -p "$work" "$out"

cat >"$work/AssemblyInfo.cs" <<CS
using System.Reflection;
using System.Runtime.Versioning;
[assembly: AssemblyTitle("Ormi.Control")]
[assembly: AssemblyProduct("ORMI")]
[assembly: AssemblyVersion("$version.0")]
[assembly: AssemblyFileVersion("$version.0")]
[assembly: AssemblyInformationalVersion("$version")]
[assembly: TargetFramework(".NETFramework,Version=v4.6.1", FrameworkDisplayName = ".NET Framework 4.6.1")]
CS
mcs -nologo -warnaserror -nowarn:1591 -sdk:4.6.1-api -target:library -optimize+ \
    -doc:"$work/Ormi.Control.xml" -out:"$work/Ormi.Control.dll" "$work/AssemblyInfo.cs" "$src"/src/*.cs

package="$out/Ormi.Control.$version.nupkg"
/usr/bin/python3 "$here/scripts/lib/nupkg.py" "$package" "$src/Ormi.Control.nuspec" "$version" \
    "lib/net461/Ormi.Control.dll=$work/Ormi.Control.dll" \
    "lib/net461/Ormi.Control.xml=$work/Ormi.Control.xml" \
    "runtimes/win-x64/native/ormi_control.dll=$dll_x64" \
    "runtimes/win-x86/native/ormi_control.dll=$dll_x86" \
    "runtimes/linux-x64/native/libormi_control.so=$(readlink -f "$native/libormi_control.so")" \
    "build/Ormi.Control.targets=$src/Ormi.Control.targets" \
    "buildTransitive/Ormi.Control.targets=$src/Ormi.Control.targets" \
    "README.md=$src/README.md"
echo "Ormi.Control.$version.nupkg"
packages_sbom Ormi.Control Apache-2.0 ".NET package Ormi.Control with the library for win-x64, win-x86 and linux-x64"
