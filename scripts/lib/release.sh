# The steps of scripts/release, also used by the release tests: build,
# documents, staging, signing, MSI, zip and SBOM. Expects $here (the source
# tree) and ORMI_VERSION.

# wixl and msiinfo come in two packages; zip and unzip for the portable archives;
# pandoc with weasyprint makes the manual; poppler-utils checks it;
# osslsigncode and openssl sign and make the tests' certificate.
ORMI_RELEASE_PACKAGES="wixl msitools osslsigncode openssl zip unzip pandoc weasyprint poppler-utils python3"

# The stable UpgradeCodes, one per architecture: an installer of a later
# version replaces an earlier one of its architecture. Never change them.
ORMI_UPGRADE_CODE_x64=8F3C2A61-5B0E-4D7A-9C14-2E6B0D9A7F31
ORMI_UPGRADE_CODE_x86=4A9E7D02-13C6-4F58-B2A0-7C5D31E8B964

ORMI_PUBLISHER="ORMI Gerätetechnik"
ORMI_SIGNED=0

release_build() {  # preset, build dir
  if [ ! -f "$2/build.ninja" ]; then
    cmake --preset "$1" >"$here/build/release-$1.log" 2>&1 || { cat "$here/build/release-$1.log"; return 1; }
    rm -f "$here/build/release-$1.log"
  fi
  local targets=(ormi ormi-sim ormi_control)
  [ "$1" != native ] && targets+=(ORMI_updater)
  [ "$1" = win64 ] && targets+=(workflow_demo)
  echo "building $1"
  cmake --build "$2" -j"$(nproc)" --target "${targets[@]}" >"$2/release-build.log" 2>&1 ||
    { cat "$2/release-build.log"; echo "release: build of $1 failed" >&2; return 1; }
}

# The operator's manual needs one screenshot per step from the demo's run
# against the simulated device; they are taken again whenever the updater
# was built after them.
release_screenshots() {
  local shots=$here/build/screenshots exe=$ORMI_BUILD_WIN64/ORMI_updater.exe
  local s
  for s in step1-check step2-loaded step3-installed step4-rebooting; do
    if [ ! -f "$shots/$s.png" ] || [ "$exe" -nt "$shots/$s.png" ]; then
      echo "screenshots of the four steps (the demo, about two minutes)"
      # Headless: the demo drives the updater itself on its own Xvfb, in a
      # prefix of its own (a Wine server already running for another display,
      # as in scripts/test, would draw the windows there).
      env -u DISPLAY ORMI_WINEPREFIX="$here/build/wineprefix-shots" ORMI_DEMO_NATIVE="$ORMI_BUILD_NATIVE" ORMI_DEMO_WIN64="$ORMI_BUILD_WIN64" \
        "$here/scripts/demo" >"$here/build/release-demo.log" 2>&1 ||
        { cat "$here/build/release-demo.log"; echo "release: the demo failed" >&2; return 1; }
      return 0
    fi
  done
}

# The documents beside the program: the manual as PDF, the legal notes in
# code page 1252 with CRLF, the full licence texts.
release_documents() {  # out dir
  local out=$1 src=$here/packaging/docs
  mkdir -p "$out/img"
  release_screenshots || return 1
  local s
  # The screen is black around the window: only the window goes in.
  for s in step1-check step2-loaded step3-installed step4-rebooting; do
    convert "$here/build/screenshots/$s.png" -trim +repage "$out/img/$s.png" || return 1
  done
  sed "s/@VERSION@/$ORMI_VERSION/g" "$src/ORMI_updater_ger.md" >"$out/ORMI_updater_ger.md"
  (cd "$out" && pandoc ORMI_updater_ger.md -f markdown-smart -t html5 -s --toc --toc-depth=2 \
     --css "$src/manual.css" --metadata lang=de --metadata toc-title=Inhalt --pdf-engine=weasyprint \
     -o ORMI_updater_ger.pdf 2>"$out/pandoc.log") ||
    { cat "$out/pandoc.log"; echo "release: the manual did not build" >&2; return 1; }
  sed "s/@VERSION@/$ORMI_VERSION/g" "$src/Rechtliche Hinweise.txt" >"$out/notes.utf8.txt"
  release_text_1252 "$out/notes.utf8.txt" "$out/Rechtliche Hinweise.txt" || return 1
  local size
  size=$(stat -c %s "$out/Rechtliche Hinweise.txt")
  [ "$size" -lt 2000 ] || { echo "release: Rechtliche Hinweise.txt has $size bytes, the About box shows 1999" >&2; return 1; }
  # The full texts: ours, and those of what the toolchain links in, as
  # Debian's packages of that toolchain state them.
  local gcc_copyright=/usr/share/doc/g++-mingw-w64-x86-64-posix/copyright
  {
    sed "s/@VERSION@/$ORMI_VERSION/g" "$src/Lizenzen.txt"
    printf '\n\n==== 1. Apache License 2.0 (ORMI) ====\n\n'; cat "$here/LICENSE"
    printf '\n\n==== 2. GCC Runtime Library Exception 3.1 (libstdc++, libgcc) ====\n\n'
    sed -n '/^GCC RUNTIME LIBRARY EXCEPTION/,/^consistent with the licensing of the Independent Modules/p; /^2\. No Weakening of GCC Copyleft/,/^requirements of the license of GCC/p' "$gcc_copyright"
    printf '\n\n==== 3. GNU General Public License 3 (libstdc++, libgcc) ====\n\n'; cat /usr/share/common-licenses/GPL-3
    printf '\n\n==== 4. mingw-w64 (runtime, winpthreads) ====\n\n'; cat /usr/share/doc/mingw-w64-common/copyright
  } >"$out/Lizenzen.utf8.txt"
  grep -q "No Weakening" "$out/Lizenzen.utf8.txt" || { echo "release: the GCC exception text was not found in $gcc_copyright" >&2; return 1; }
  # A name in the collected texts that code page 1252 lacks is transliterated.
  sed 's/\r$//; s/$/\r/' "$out/Lizenzen.utf8.txt" | iconv -f UTF-8 -t CP1252//TRANSLIT >"$out/Lizenzen.txt"
}

release_text_1252() {  # utf-8 source, cp1252 target with CRLF line ends
  sed 's/\r$//; s/$/\r/' "$1" | iconv -f UTF-8 -t CP1252 >"$2" ||
    { echo "release: $1 does not fit code page 1252" >&2; return 1; }
}

release_arch_build() {  # x64|x86
  case "$1" in x64) echo "$ORMI_BUILD_WIN64" ;; x86) echo "$ORMI_BUILD_WIN32" ;; esac
}

# The installed layout, the same for the MSI and the zip.
release_stage() {  # arch, documents dir, stage dir
  local build docs=$2 stage=$3
  build=$(release_arch_build "$1")
  rm -rf "$stage"
  mkdir -p "$stage/sdk"
  cp "$build"/{ORMI_updater.exe,ormi_control.dll,ormi.exe,ormi-sim.exe} "$stage/"
  # The builds carry debug information (RelWithDebInfo); the release does not.
  local strip=x86_64-w64-mingw32-strip
  [ "$1" = x86 ] && strip=i686-w64-mingw32-strip
  "$strip" --strip-debug "$stage"/*.exe "$stage"/*.dll
  cp "$here/control/ormi_control.h" "$build/ormi_control.def" "$build/ormi_control.lib" "$stage/sdk/"
  cp "$docs/ORMI_updater_ger.pdf" "$docs/Rechtliche Hinweise.txt" "$docs/Lizenzen.txt" "$stage/"
  release_text_1252 "$here/LICENSE" "$stage/LICENSE.txt"
}

release_sign_file() {  # file
  [ -n "${ORMI_SIGN_PKCS12:-}" ] || return 0
  [ -f "$ORMI_SIGN_PKCS12" ] || { echo "release: ORMI_SIGN_PKCS12 $ORMI_SIGN_PKCS12 is missing" >&2; return 1; }
  [ -f "${ORMI_SIGN_PASSWORD_FILE:-}" ] ||
    { echo "release: ORMI_SIGN_PASSWORD_FILE must name the certificate's password file" >&2; return 1; }
  rm -f "$1.signed"
  osslsigncode sign -pkcs12 "$ORMI_SIGN_PKCS12" -readpass "$ORMI_SIGN_PASSWORD_FILE" -h sha256 \
    -n "ORMI $ORMI_VERSION" -in "$1" -out "$1.signed" >"$1.sign.log" 2>&1 ||
    { cat "$1.sign.log"; rm -f "$1.signed" "$1.sign.log"; echo "release: signing $1 failed" >&2; return 1; }
  mv "$1.signed" "$1"
  rm -f "$1.sign.log"
  ORMI_SIGNED=1
}

release_sign_tree() {  # stage dir
  local f
  for f in "$1"/*.exe "$1"/*.dll; do release_sign_file "$f" || return 1; done
}

# One installer: per machine into Program Files\ORMI, a Start-menu shortcut,
# the uninstall entry, and a major upgrade of every earlier version.
release_msi() {  # arch, stage dir, version, out file
  local arch=$1 stage=$2 version=$3 out=$4 wxs
  # wixl takes sources relative to the .wxs only: it is written beside the
  # stage, and every path in it is relative.
  local top
  top=$(dirname "$stage")
  wxs="$top/$(basename "${out%.msi}").wxs"
  cp "$here/updater/ORMI_updater.ico" "$top/ORMI_updater.ico"
  local pf=ProgramFilesFolder win64=no code=$ORMI_UPGRADE_CODE_x86
  [ "$arch" = x64 ] && { pf=ProgramFiles64Folder; win64=yes; code=$ORMI_UPGRADE_CODE_x64; }
  (
    cd "$top" || exit 1
    cat <<XML
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="ORMI $version ($arch)" Language="1031" Codepage="1252" Version="$version"
           Manufacturer="$ORMI_PUBLISHER" UpgradeCode="$code">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine"
             Description="ORMI updater, Bibliothek und Kommandozeile $version" Manufacturer="$ORMI_PUBLISHER"/>
    <MajorUpgrade DowngradeErrorMessage="Eine neuere Version von ORMI ist bereits installiert. Bitte entfernen Sie sie zuerst, wenn Sie diese ältere Version installieren wollen."/>
    <Media Id="1" Cabinet="ormi.cab" EmbedCab="yes"/>
    <Icon Id="updater.ico" SourceFile="ORMI_updater.ico"/>
    <Property Id="ARPPRODUCTICON" Value="updater.ico"/>
    <Property Id="ARPNOMODIFY" Value="1"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="$pf">
        <Directory Id="INSTALLDIR" Name="ORMI">
XML
    local f n=0 refs=""
    for f in "$(basename "$stage")"/*; do
      [ -f "$f" ] || continue
      n=$((n + 1)); refs="$refs<ComponentRef Id=\"c$n\"/>"
      echo "          <Component Id=\"c$n\" Guid=\"*\" Win64=\"$win64\">"
      if [ "$(basename "$f")" = ORMI_updater.exe ]; then
        echo "            <File Id=\"updater\" Source=\"$f\" KeyPath=\"yes\">"
        echo "              <Shortcut Id=\"startmenu\" Directory=\"ProgramMenuFolder\" Name=\"ORMI updater\" WorkingDirectory=\"INSTALLDIR\" Icon=\"updater.ico\" Advertise=\"yes\"/>"
        echo "            </File>"
      else
        echo "            <File Id=\"f$n\" Source=\"$f\" KeyPath=\"yes\"/>"
      fi
      echo "          </Component>"
    done
    echo "          <Directory Id=\"SDKDIR\" Name=\"sdk\">"
    for f in "$(basename "$stage")"/sdk/*; do
      n=$((n + 1)); refs="$refs<ComponentRef Id=\"c$n\"/>"
      echo "            <Component Id=\"c$n\" Guid=\"*\" Win64=\"$win64\"><File Id=\"f$n\" Source=\"$f\" KeyPath=\"yes\"/></Component>"
    done
    cat <<XML
          </Directory>
        </Directory>
      </Directory>
      <Directory Id="ProgramMenuFolder"/>
    </Directory>
    <Feature Id="Complete" Level="1">$refs</Feature>
  </Product>
</Wix>
XML
  ) >"$wxs"
  (cd "$top" && wixl -a "$arch" -o "$out" "$(basename "$wxs")" >"$wxs.log" 2>&1) ||
    { cat "$wxs.log"; echo "release: wixl failed for $arch" >&2; return 1; }
  rm -f "$wxs" "$wxs.log"
}

release_zip() {  # stage dir, out file, top folder
  local tmp
  tmp=$(mktemp -d)
  cp -r "$1" "$tmp/$3"
  # Fixed times: the same files give the same archive.
  find "$tmp/$3" -exec touch -d @"$(git -C "$here" log -1 --format=%ct)" {} +
  rm -f "$2"
  (cd "$tmp" && find "$3" | LC_ALL=C sort | zip -X -q "$2" -@)
  rm -rf "$tmp"
}

# CycloneDX 1.5: the product's own components and what the Windows
# binaries carry of the toolchain, then whatever the parts added.
release_sbom() {  # out file
  local gcc mingw
  gcc=$(x86_64-w64-mingw32-g++-posix -dumpfullversion 2>/dev/null || echo unknown)
  mingw=$(dpkg-query -W -f='${Version}' mingw-w64-common 2>/dev/null | sed 's/-[^-]*$//')
  ORMI_SBOM_GCC=$gcc ORMI_SBOM_MINGW=${mingw:-unknown} python3 - "$1" <<'PY'
import glob, json, os, sys, uuid
v = os.environ["ORMI_VERSION"]
gcc, mingw = os.environ["ORMI_SBOM_GCC"], os.environ["ORMI_SBOM_MINGW"]
def comp(name, version, lic, description, kind="application"):
    return {"type": kind, "name": name, "version": version, "description": description,
            "licenses": [{"license": {"id": lic}} if "-with-" not in lic and " " not in lic
                         else {"expression": lic}],
            "bom-ref": f"{name}@{version}"}
components = [
    comp("ormi_control", v, "Apache-2.0", "device control library (DLL x64/x86)", "library"),
    comp("ORMI_updater", v, "Apache-2.0", "desktop updater"),
    comp("ormi", v, "Apache-2.0", "command line"),
    comp("ormi-sim", v, "Apache-2.0", "simulated device"),
    comp("mingw-w64-runtime", mingw, "ZPL-2.1", "mingw-w64 C runtime start-up and import libraries, statically linked", "library"),
    comp("winpthreads", mingw, "MIT AND BSD-3-Clause", "mingw-w64 POSIX threads, statically linked", "library"),
    comp("libstdc++", gcc, "GPL-3.0-only WITH GCC-exception-3.1", "C++ standard library, statically linked", "library"),
    comp("libgcc", gcc, "GPL-3.0-only WITH GCC-exception-3.1", "GCC runtime, statically linked", "library"),
]
for f in sorted(glob.glob(os.path.join(os.environ["ORMI_SBOM_DIR"], "*.json"))):
    for c in json.load(open(f, encoding="utf-8")):
        components.append(comp(c["name"], c["version"], c["license"], c.get("description", ""),
                               c.get("type", "library")))
bom = {"bomFormat": "CycloneDX", "specVersion": "1.5", "version": 1,
       "serialNumber": "urn:uuid:" + str(uuid.uuid5(uuid.NAMESPACE_URL, "ormi/" + v)),
       "metadata": {"component": {"type": "application", "name": "ORMI", "version": v,
                                  "licenses": [{"license": {"id": "Apache-2.0"}}],
                                  "supplier": {"name": "ORMI Gerätetechnik"}}},
       "components": components}
json.dump(bom, open(sys.argv[1], "w", encoding="utf-8"), indent=2, ensure_ascii=False)
PY
}
