#!/bin/sh
# Makes the signing test files once into DIR with the openssl and bzip2
# commands, the way a vendor signs a package. Every build (native, both Wine
# ones) reads the same files, so that one signature is judged on each.
#   vendor.pem / vendor.pub.pem, other.pem / other.pub.pem   key pairs
#   signed.bz2 + signed.bz2.sig                              signed by vendor
#   changed.bz2        the same package altered and recompressed (valid bzip2)
#   other.sig          signed.bz2 signed by the other key
#   cut.sig            signed.bz2.sig without its last bytes
#   both.pub.pem       other's and vendor's public keys in one file (rotation)
#   notakey.pem        a text that is no key
#   vendor.fp, other.fp    the keys' fingerprints (16 hex digits)
#   window.bin + window.bin.sig   the updater test's package (its bytes are
#                  spelled out in workflow_update_test.cpp), signed by vendor
set -eu
dir=$1
[ -f "$dir/complete" ] && exit 0
# Left half made by a run that was stopped.
rm -rf "$dir"
mkdir -p "$(dirname "$dir")"
work=$(mktemp -d "$dir.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
for key in vendor other; do
  openssl ecparam -name prime256v1 -genkey -noout -out $key.pem
  openssl ec -in $key.pem -pubout -out $key.pub.pem 2>/dev/null
  openssl pkey -pubin -in $key.pub.pem -outform DER | sha256sum | cut -c1-16 >$key.fp
done
i=0
while [ $i -lt 2000 ]; do echo "firmware block $i of release 2.2.0"; i=$((i + 1)); done >image
bzip2 -9 -c image >signed.bz2
openssl dgst -sha256 -sign vendor.pem -out signed.bz2.sig signed.bz2
openssl dgst -sha256 -sign other.pem -out other.sig signed.bz2
sed 's/block 1000 of/block 1000 0f/' image | bzip2 -9 -c >changed.bz2
bzip2 -t changed.bz2
size=$(wc -c <signed.bz2.sig)
head -c $((size - 5)) signed.bz2.sig >cut.sig
cat other.pub.pem vendor.pub.pem >both.pub.pem
echo "this is no key" >notakey.pem
openssl dgst -sha256 -verify vendor.pub.pem -signature signed.bz2.sig signed.bz2 >/dev/null
# Zero bytes and a line like the upload's separator (with the zero that ends
# the C++ literal it is written from).
python3 -c '
import sys
data = b"BZh91AY&SY" + b"\0\r\n-----------------------------17933678425893\n\0"
data += bytes(((i * 7919) >> 3) & 0xff for i in range(70000))
sys.stdout.buffer.write(data)' >window.bin
openssl dgst -sha256 -sign vendor.pem -out window.bin.sig window.bin
rm image
touch complete
# Another build may have made them at the same time: the first one stays.
mv -T "$work" "$dir" 2>/dev/null || true
