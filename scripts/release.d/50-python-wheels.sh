#!/bin/bash
# Python wheels with the library inside, one per platform:
#   ormi_control-V-py3-none-manylinux_2_N_x86_64.whl  (libormi_control.so)
#   ormi_control-V-py3-none-win_amd64.whl             (ormi_control.dll, x64)
#   ormi_control-V-py3-none-win32.whl                 (ormi_control.dll, x86)
# Built offline with Debian's python3-build (--no-isolation). The Linux tag
# is manylinux_2_N for the newest glibc symbol version the library needs;
# a library needing anything outside the manylinux set gets linux_x86_64.
set -euo pipefail
source "$(dirname "$0")/../lib/packages.sh"
work=$packaging/python

# The manylinux tag the library's ELF dependencies allow, else linux_x86_64.
linux_tag() {
  local library=$1 needed newest
  needed=$(objdump -p "$library" | awk '/NEEDED/ {print $2}' |
           grep -vxE 'libc\.so\.6|libm\.so\.6|libpthread\.so\.0|libdl\.so\.2|librt\.so\.1|ld-linux-x86-64\.so\.2' || true)
  newest=$(objdump -T "$library" | grep -o 'GLIBC_2\.[0-9]*' | sort -uV | tail -n1)
  if [ -n "$needed" ] || [ -z "$newest" ]; then
    echo linux_x86_64
  else
    echo "manylinux_2_${newest#GLIBC_2.}_x86_64"
  fi
}

# wheel PLATFORM_TAG LIBRARY_FILE NAME_IN_PACKAGE
wheel() {
  local tag=$1 library=$2 name=$3 stage="$work/$1"
  [ -f "$library" ] || { echo "$library missing: build its preset first" >&2; exit 1; }
  rm -rf "$stage"
  mkdir -p "$stage"
  cp -r "$here/bindings/python/pyproject.toml" "$here/bindings/python/setup.py" \
        "$here/bindings/python/README.md" "$here/bindings/python/src" "$stage/"
  find "$stage/src" -name '__pycache__' -prune -exec rm -rf {} + -o -name '*.egg-info' -prune -exec rm -rf {} +
  rm -f "$stage"/src/ormi_control/lib/*.so "$stage"/src/ormi_control/lib/*.dll
  [ -f "$here/LICENSE" ] && cp "$here/LICENSE" "$stage/"
  cp -L "$library" "$stage/src/ormi_control/lib/$name"
  # The version from the one source, whatever the copied files say.
  sed -i "s/^version = \".*\"/version = \"$version\"/" "$stage/pyproject.toml"
  sed -i "s/^__version__ = \".*\"/__version__ = \"$version\"/" "$stage/src/ormi_control/__init__.py"
  rm -f "$out"/ormi_control-"$version"-py3-none-"$tag".whl
  (cd "$stage" && /usr/bin/python3 -m build --wheel --no-isolation --outdir "$out" \
      -C--build-option=--plat-name="$tag" . >"$work/$tag.log" 2>&1) ||
    { cat "$work/$tag.log" >&2; exit 1; }
  [ -f "$out/ormi_control-$version-py3-none-$tag.whl" ] ||
    { echo "no ormi_control-$version-py3-none-$tag.whl" >&2; exit 1; }
  echo "ormi_control-$version-py3-none-$tag.whl"
}

wheel "$(linux_tag "$native/libormi_control.so")" "$native/libormi_control.so" libormi_control.so
wheel win_amd64 "$dll_x64" ormi_control.dll
wheel win32 "$dll_x86" ormi_control.dll
packages_sbom ormi_control-python Apache-2.0 "Python package ormi_control with the library inside (wheels for Linux x86-64, win_amd64, win32)"
