#!/usr/bin/python3
"""Packs a .nupkg without the dotnet SDK: the zip (Open Packaging
Conventions) that NuGet reads, with the manifest at the root, the content
types, the package relationships and the core properties.

Usage: nupkg.py OUT.nupkg NUSPEC VERSION PATH_IN_PACKAGE=FILE...
$version$ in the manifest becomes VERSION.
"""

import os
import sys
import uuid
import xml.etree.ElementTree as ET
import zipfile

NS = "{http://schemas.microsoft.com/packaging/2013/05/nuspec.xsd}"
# A fixed time for every entry: the same inputs give the same package.
STAMP = (2020, 1, 1, 0, 0, 0)


def entry(archive, name, data):
    info = zipfile.ZipInfo(name, STAMP)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.external_attr = 0o644 << 16
    archive.writestr(info, data)


def main(argv):
    if len(argv) < 4:
        sys.exit(__doc__)
    out, nuspec, version = argv[1:4]
    files = []
    for pair in argv[4:]:
        target, _, source = pair.partition("=")
        if not target or not source or target.startswith("/") or ".." in target.split("/"):
            sys.exit("bad file argument: %s" % pair)
        if not os.path.isfile(source):
            sys.exit("%s missing" % source)
        files.append((target, source))

    with open(nuspec, encoding="utf-8") as f:
        manifest = f.read().replace("$version$", version)
    metadata = ET.fromstring(manifest).find(NS + "metadata")
    if metadata is None:
        sys.exit("%s: no metadata" % nuspec)
    field = {name: (metadata.findtext(NS + name) or "").strip()
             for name in ("id", "version", "authors", "description", "tags", "readme")}
    if field["readme"] and field["readme"] not in [t for t, _ in files]:
        sys.exit("the manifest names the readme %s, which is not packed" % field["readme"])
    name = field["id"] + ".nuspec"

    extensions = sorted({os.path.splitext(t)[1].lstrip(".").lower() for t, _ in files} - {""})
    types = ['<?xml version="1.0" encoding="utf-8"?>',
             '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">',
             '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml" />',
             '<Default Extension="nuspec" ContentType="application/octet" />',
             '<Default Extension="psmdcp" ContentType='
             '"application/vnd.openxmlformats-package.core-properties+xml" />']
    types += ['<Default Extension="%s" ContentType="application/octet" />' % e
              for e in extensions if e not in ("rels", "nuspec", "psmdcp")]
    types.append("</Types>")

    properties = "/package/services/metadata/core-properties/%s.psmdcp" % uuid.uuid5(
        uuid.NAMESPACE_URL, field["id"] + "/" + version).hex
    rels = ('<?xml version="1.0" encoding="utf-8"?>'
            '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
            '<Relationship Type="http://schemas.microsoft.com/packaging/2010/07/manifest" '
            'Target="/%s" Id="R1" />'
            '<Relationship Type="http://schemas.openxmlformats.org/package/2006/relationships/metadata/'
            'core-properties" Target="%s" Id="R2" />'
            "</Relationships>") % (name, properties)

    def text(value):
        return value.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")

    core = ('<?xml version="1.0" encoding="utf-8"?>'
            '<coreProperties xmlns:dc="http://purl.org/dc/elements/1.1/" '
            'xmlns:dcterms="http://purl.org/dc/terms/" '
            'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" '
            'xmlns="http://schemas.openxmlformats.org/package/2006/metadata/core-properties">'
            "<dc:creator>%s</dc:creator><dc:description>%s</dc:description>"
            "<dc:identifier>%s</dc:identifier><version>%s</version>"
            "<keywords>%s</keywords><lastModifiedBy>scripts/lib/nupkg.py</lastModifiedBy>"
            "</coreProperties>") % tuple(text(field[k]) for k in ("authors", "description", "id", "version", "tags"))

    partial = out + ".part"
    with zipfile.ZipFile(partial, "w") as archive:
        entry(archive, "_rels/.rels", rels)
        entry(archive, name, manifest)
        for target, source in files:
            with open(source, "rb") as f:
                entry(archive, target, f.read())
        entry(archive, properties.lstrip("/"), core)
        entry(archive, "[Content_Types].xml", "".join(types))
    os.replace(partial, out)


if __name__ == "__main__":
    main(sys.argv)
