#!/bin/bash
# The Linux packages of the command line, the simulated device and the
# library:
#   ormi_V_amd64.deb               built with dpkg-deb, Depends from dpkg-shlibdeps
#   ormi-V-linux-x86_64.tar.gz     the same files under one folder, for other
#                                  distributions (bin/, lib/, include/, share/)
# ormi binds libormi_control.so from its own folder, so the program lives
# in lib/ormi/ with a link to the library beside it, and bin/ormi links to
# it; every link is relative, so the trees work wherever they are unpacked.
set -euo pipefail
source "$(dirname "$0")/../lib/packages.sh"
work=$packaging/linux
arch=amd64 multiarch=x86_64-linux-gnu
packages_require "$native/ormi" "$native/ormi-sim" "$native/libormi_control.so"
library=$(readlink -f "$native/libormi_control.so")
soname=$(objdump -p "$library" | awk '/SONAME/ {print $2}')
real=libormi_control.so.$version
[ "$soname" = "libormi_control.so.${version%%.*}" ] ||
  { echo "$library: soname '$soname', expected libormi_control.so.${version%%.*}" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work"
# The date of the commit, so that the same tree gives the same packages.
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$here" log -1 --format=%ct 2>/dev/null || date +%s)}

# The page of ormi-sim is its --help, as it stands.
sim_page() {
  printf '.TH ORMI-SIM 1 "" "ORMI %s" "User Commands"\n' "$version"
  printf '.SH NAME\normi-sim \\- a simulated ORMI device on loopback, for tests and demonstrations\n'
  printf '.SH SYNOPSIS\n.B ormi-sim\n.RI [ options ]\n.SH OPTIONS\n.nf\n'
  "$native/ormi-sim" --help | sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/" -e '/^usage:/d'
  printf '.fi\n.SH SEE ALSO\n.BR ormi (1)\n'
}

# lay_out ROOT PREFIX LIBDIR: the installed files under ROOT/PREFIX, the
# library in ROOT/PREFIX/LIBDIR (relative to PREFIX).
lay_out() {
  local root=$1 prefix=$2 libdir=$3
  local top=$root/$prefix up
  install -d "$top/bin" "$top/$libdir" "$top/lib/ormi" "$top/include" "$top/share/man/man1" "$top/share/doc/ormi"
  install -m 0755 "$native/ormi" "$top/lib/ormi/ormi"
  install -m 0755 "$native/ormi-sim" "$top/bin/ormi-sim"
  install -m 0644 "$library" "$top/$libdir/$real"
  strip --strip-unneeded --remove-section=.comment --remove-section=.note \
    "$top/lib/ormi/ormi" "$top/bin/ormi-sim" "$top/$libdir/$real"
  ln -s "$real" "$top/$libdir/$soname"
  ln -s "$soname" "$top/$libdir/libormi_control.so"
  # From lib/ormi/ to LIBDIR.
  up=$(realpath -m --relative-to="$top/lib/ormi" "$top/$libdir")
  ln -s "$up/$soname" "$top/lib/ormi/libormi_control.so"
  ln -s ../lib/ormi/ormi "$top/bin/ormi"
  install -m 0644 "$here/control/ormi_control.h" "$top/include/ormi_control.h"
  sed "s/@VERSION@/$version/" "$here/cli/ormi.1" | gzip -9n >"$top/share/man/man1/ormi.1.gz"
  sim_page | gzip -9n >"$top/share/man/man1/ormi-sim.1.gz"
  install -m 0644 "$here/README.md" "$top/share/doc/ormi/README.md"
  [ -f "$here/CHANGELOG.md" ] && install -m 0644 "$here/CHANGELOG.md" "$top/share/doc/ormi/CHANGELOG.md"
  # The documents keep their place beside the README, so its links hold.
  if [ -d "$here/docs" ]; then
    (cd "$here" && find docs -type f -name '*.md' -print0 |
       xargs -0 -r -I{} install -D -m 0644 {} "$top/share/doc/ormi/{}")
  fi
  find "$root" -type d -exec chmod 0755 {} +
}

# --- the Debian package
deb=$work/deb
lay_out "$deb" usr "lib/$multiarch"
cat >"$deb/usr/share/doc/ormi/copyright" <<TEXT
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ormi
Upstream-Contact: ORMI control software team <ormi@example.com>

Files: *
Copyright: $(date -u -d "@$epoch" +%Y) ORMI Gerätetechnik
License: Apache-2.0
 Licensed under the Apache License, Version 2.0 (the "License"); you may not
 use this software except in compliance with the License. Unless required by
 applicable law or agreed to in writing, software distributed under the
 License is distributed on an "AS IS" BASIS, WITHOUT WARRANTIES OR CONDITIONS
 OF ANY KIND, either express or implied.
 .
 On Debian systems, the full text of the Apache License, Version 2.0 can be
 found in /usr/share/common-licenses/Apache-2.0.
TEXT
{
  printf 'ormi (%s) unstable; urgency=medium\n\n' "$version"
  printf '  * Release %s; the changes are in /usr/share/doc/ormi/CHANGELOG.md.\n\n' "$version"
  printf ' -- ORMI control software team <ormi@example.com>  %s\n' "$(date -u -R -d "@$epoch")"
} | gzip -9n >"$deb/usr/share/doc/ormi/changelog.gz"
install -d "$deb/usr/share/lintian/overrides"
install -m 0644 "$here/scripts/release.d/ormi.lintian-overrides" "$deb/usr/share/lintian/overrides/ormi"

# dpkg-shlibdeps reads a debian/control of a source package: a minimal one.
mkdir -p "$work/src/debian"
printf 'Source: ormi\n\nPackage: ormi\nArchitecture: %s\n' "$arch" >"$work/src/debian/control"
depends=$(cd "$work/src" && dpkg-shlibdeps -O -e"$deb/usr/lib/ormi/ormi" -e"$deb/usr/bin/ormi-sim" \
            -e"$deb/usr/lib/$multiarch/$real" 2>"$work/shlibdeps.log" | sed -n 's/^shlibs:Depends=//p') ||
  { cat "$work/shlibdeps.log" >&2; exit 1; }
[ -n "$depends" ] || { cat "$work/shlibdeps.log" >&2; echo "no dependencies found" >&2; exit 1; }

install -d "$deb/DEBIAN"
cat >"$deb/DEBIAN/control" <<TEXT
Package: ormi
Version: $version
Architecture: $arch
Maintainer: ORMI control software team <ormi@example.com>
Installed-Size: $(du -k -s --apparent-size "$deb/usr" | cut -f1)
Depends: $depends
Section: net
Priority: optional
Description: check, configure and update ORMI and ORMI-M devices
 The command line program ormi checks a device's connection and login,
 reads and sets its values and channels, and updates it with a package:
 upload, installation, reboot and the version read again, with exit codes
 and JSON results for scripts.
 .
 The package also holds the library libormi_control (with its header) that
 any program can drive a device through, and ormi-sim, a simulated device
 on loopback for tests and demonstrations.
TEXT
# The library is public: others may link it.
printf 'libormi_control %s ormi (>= %s)\n' "${version%%.*}" "$version" >"$deb/DEBIAN/shlibs"
printf 'activate-noawait ldconfig\n' >"$deb/DEBIAN/triggers"
(cd "$deb" && find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum) >"$deb/DEBIAN/md5sums"
chmod 0644 "$deb/DEBIAN"/*
find "$deb" -exec touch -h -d "@$epoch" {} +
rm -f "$out/ormi_${version}_$arch.deb"
SOURCE_DATE_EPOCH=$epoch dpkg-deb --root-owner-group -Zxz --build "$deb" "$out/ormi_${version}_$arch.deb" >/dev/null
echo "ormi_${version}_$arch.deb"

# --- the tarball for other distributions
name=ormi-$version-linux-x86_64
tree=$work/tar
lay_out "$tree" "$name" lib
install -m 0644 "$here/LICENSE" "$tree/$name/share/doc/ormi/LICENSE"
find "$tree" -exec touch -h -d "@$epoch" {} +
rm -f "$out/$name.tar.gz"
tar -C "$tree" --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$epoch" -cf - "$name" |
  gzip -9n >"$out/$name.tar.gz"
echo "$name.tar.gz"
packages_sbom ormi-linux Apache-2.0 "Linux packages (deb and tarball): ormi, ormi-sim, libormi_control.so.${version%%.*}, header, manual pages"
