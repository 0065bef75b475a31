# Shared by the package parts in scripts/release.d/ (wheels, NuGet, the
# collection, the Linux packages). Each part also runs alone:
#   ORMI_RELEASE_DIR=DIR scripts/release.d/NN-name.sh
# The version comes from the one source unless ORMI_VERSION is given; the
# builds from build/<preset> unless ORMI_BUILD_<PRESET> names them; work
# files go to ORMI_PACKAGING_DIR (default build/packaging).
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$here/scripts/lib/version.sh"
source "$here/scripts/lib/setup.sh"
ORMI_PACKAGES=$ORMI_PACKAGING_PACKAGES ormi_install_packages
version=${ORMI_VERSION:-$(ormi_version)}
out=${ORMI_RELEASE_DIR:?the release folder (ORMI_RELEASE_DIR)}
native=${ORMI_BUILD_NATIVE:-$here/build/native}
win64=${ORMI_BUILD_WIN64:-$here/build/win64}
win32=${ORMI_BUILD_WIN32:-$here/build/win32}
# The Windows DLLs as the release staged (and maybe signed) them, else the builds'.
dll_x64=${ORMI_STAGE_X64:-$win64}/ormi_control.dll
dll_x86=${ORMI_STAGE_X86:-$win32}/ormi_control.dll
packaging=${ORMI_PACKAGING_DIR:-$here/build/packaging}
mkdir -p "$out"

packages_require() {  # file...
  local file
  for file in "$@"; do
    [ -e "$file" ] || { echo "$file missing: build its preset first" >&2; exit 1; }
  done
}

# An SBOM addition for scripts/release: NAME LICENCE DESCRIPTION, one component.
packages_sbom() {
  [ -n "${ORMI_SBOM_DIR:-}" ] || return 0
  mkdir -p "$ORMI_SBOM_DIR"
  /usr/bin/python3 -c 'import json, sys
json.dump([{"name": sys.argv[2], "version": sys.argv[3], "license": sys.argv[4], "description": sys.argv[5]}],
          open(sys.argv[1], "w", encoding="utf-8"), indent=2)' \
    "$ORMI_SBOM_DIR/$1.json" "$1" "$version" "$2" "$3"
}
