#!/bin/bash
# ormi-devices-V.tar.gz: the Ansible collection ormi.devices as
# ansible-galaxy builds it, with galaxy.yml's version set from the product
# version. Install: ansible-galaxy collection install FILE --offline
set -euo pipefail
source "$(dirname "$0")/../lib/packages.sh"
work=$packaging/collection
stage=$work/ansible_collections/ormi/devices
rm -rf "$work"
mkdir -p "$(dirname "$stage")" "$out"
if git -C "$here" rev-parse --git-dir >/dev/null 2>&1; then
  # Only what git tracks: no test output or tarballs of earlier builds.
  git -C "$here" ls-files -z ansible/ansible_collections/ormi/devices |
    (cd "$here" && xargs -0 cp --parents -t "$work")
  mv "$work/ansible/ansible_collections/ormi/devices" "$stage"
  rm -rf "$work/ansible"
else
  cp -r "$here/ansible/ansible_collections/ormi/devices" "$stage"
  rm -rf "$stage/tests/output" "$stage"/*.tar.gz
fi
sed -i "s/^version: .*/version: $version/" "$stage/galaxy.yml"
rm -f "$out/ormi-devices-$version.tar.gz"
ANSIBLE_NOCOLOR=1 ansible-galaxy collection build --output-path "$out" "$stage" >"$work/build.log" 2>&1 ||
  { cat "$work/build.log" >&2; exit 1; }
[ -f "$out/ormi-devices-$version.tar.gz" ] || { cat "$work/build.log" >&2; exit 1; }
echo "ormi-devices-$version.tar.gz"
packages_sbom ormi.devices GPL-3.0-or-later "Ansible collection ormi.devices"
