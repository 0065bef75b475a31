"""The VBA module and the LabVIEW node settings held against control/ormi_control.h.

Every export of the header must be declared with its name, its number of
arguments, the kind of each argument and the kind of its result, and
nothing else may be declared from the library. Run by pytest, or alone:
``python3 bindings/tests/test_declarations.py [HEADER VBA LABVIEW]``
prints every difference and exits 1 when there is one.
"""

import os
import re
import sys
from typing import Dict, List, NamedTuple, Tuple

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
HEADER = os.path.join(ROOT, "control", "ormi_control.h")
VBA = os.path.join(ROOT, "bindings", "vba", "OrmiControl.bas")
LABVIEW = os.path.join(ROOT, "bindings", "labview", "README.md")

# Kinds, as the C side sees them:
#   text    const char*, read only
#   buffer  char*, which the caller must hand over writable
#   bytes   const char* followed by its "int length": raw bytes, not text
#   int     a 32-bit int
#   pointer (result) a pointer the caller copies from, never frees


class Export(NamedTuple):
    result: str
    arguments: Tuple[Tuple[str, str], ...]   # (name, kind)


def header_exports(path: str) -> Dict[str, Export]:
    text = open(path, encoding="utf-8").read()
    text = re.sub(r"//[^\n]*", "", text)
    found = {}
    for result, name, arguments in re.findall(r"ORMI_API\s+(.+?)\s*ORMI_CALL\s+(\w+)\s*\(([^)]*)\)\s*;", text):
        result = " ".join(result.split())
        kinds: List[Tuple[str, str]] = []
        parts = [] if arguments.strip() in ("", "void") else [p.strip() for p in arguments.split(",")]
        for index, part in enumerate(parts):
            match = re.fullmatch(r"(const\s+)?(char|int)\s*(\*?)\s*(\w+)", part)
            if not match:
                raise ValueError("%s: argument %r of a kind this check does not know" % (name, part))
            const, base, star, argument = match.groups()
            if base == "int" and not star:
                kind = "int"
            elif base == "char" and star and not const:
                kind = "buffer"
            elif base == "char" and star:
                following = parts[index + 1] if index + 1 < len(parts) else ""
                kind = "bytes" if re.fullmatch(r"int\s+length", following) else "text"
            else:
                raise ValueError("%s: argument %r of a kind this check does not know" % (name, part))
            kinds.append((argument, kind))
        if result == "int":
            result_kind = "int"
        elif result == "const char*":
            result_kind = "pointer"
        else:
            raise ValueError("%s: result %r of a kind this check does not know" % (name, result))
        found[name] = Export(result_kind, tuple(kinds))
    return found


# VBA: ByVal String is passed as a writable ANSI copy, so it serves text and
# buffer alike; ByRef x As Byte passes the address of the first byte.
_VBA_ARGUMENT = {("byval", "string"): {"text", "buffer"}, ("byref", "byte"): {"bytes"}, ("byval", "long"): {"int"}}


def vba_exports(path: str) -> Dict[str, Dict[str, Export]]:
    """The library's declarations in each branch: "VBA7" and "legacy"."""
    branches: Dict[str, Dict[str, Export]] = {"VBA7": {}, "legacy": {}}
    branch = None
    declare = re.compile(r"(?:Public|Private)?\s*Declare\s+(PtrSafe\s+)?(Function|Sub)\s+(\w+)\s+Lib\s+\"([^\"]+)\""
                         r"(?:\s+Alias\s+\"([^\"]+)\")?\s*\(([^)]*)\)(?:\s+As\s+(\w+))?", re.IGNORECASE)
    for line in open(path, encoding="cp1252"):
        line = line.split("'", 1)[0].strip()
        lowered = line.lower()
        if lowered == "#if vba7 then":
            branch = "VBA7"
        elif lowered == "#else":
            branch = "legacy"
        elif lowered == "#end if":
            branch = None
        match = declare.match(line)
        if not match:
            continue
        ptrsafe, what, name, library, alias, arguments, result = match.groups()
        if library.lower() != "ormi_control.dll":
            continue
        if branch is None:
            raise ValueError("%s declared outside the #If VBA7 branches" % name)
        if (branch == "VBA7") != bool(ptrsafe):
            raise ValueError("%s: PtrSafe belongs in the VBA7 branch and only there" % name)
        pointer = "longptr" if branch == "VBA7" else "long"
        kinds = []
        for part in [p.strip() for p in arguments.split(",") if p.strip()]:
            m = re.fullmatch(r"(ByVal|ByRef)\s+(\w+)\s+As\s+(\w+)", part, re.IGNORECASE)
            if not m:
                raise ValueError("%s: argument %r without ByVal/ByRef and type" % (name, part))
            passing, argument, kind = m.groups()
            kinds.append((argument, "/".join(sorted(_VBA_ARGUMENT.get((passing.lower(), kind.lower()), {"?"})))))
        result = (result or "").lower()
        result_kind = {"long": "int", pointer: "pointer"}.get(result, "?") if what.lower() == "function" else "none"
        if branch == "legacy" and result == "long":
            # In the 32-bit branch both are a Long; which is meant is the header's business.
            result_kind = "int/pointer"
        branches[branch][alias or name] = Export(result_kind, tuple(kinds))
    return branches


_LABVIEW_KIND = {
    "string, c string pointer": "text",
    "string, c string pointer, pre-sized": "buffer",
    "array, unsigned 8-bit integer, array data pointer": "bytes",
    "numeric, signed 32-bit integer, value": "int",
}
_LABVIEW_RESULT = {"numeric, signed 32-bit integer": "int", "numeric, signed pointer-sized integer": "pointer"}


def labview_exports(path: str) -> Dict[str, Export]:
    found = {}
    for line in open(path, encoding="utf-8"):
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) != 3 or cells[0] in ("export", "") or set(cells[0]) <= set("-"):
            continue
        name, result, parameters = cells
        kinds = []
        if parameters != "(none)":
            for parameter in parameters.split(";"):
                argument, _, kind = parameter.partition(":")
                kinds.append((argument.strip(), _LABVIEW_KIND.get(kind.strip().lower(), "?")))
        found[name] = Export(_LABVIEW_RESULT.get(result.lower(), "?"), tuple(kinds))
    return found


def differences(header: Dict[str, Export], declared: Dict[str, Export], where: str) -> List[str]:
    problems = []
    for name in sorted(set(header) - set(declared)):
        problems.append("%s: %s is not declared" % (where, name))
    for name in sorted(set(declared) - set(header)):
        problems.append("%s: %s is declared but not exported by the header" % (where, name))
    for name in sorted(set(header) & set(declared)):
        want, have = header[name], declared[name]
        if len(want.arguments) != len(have.arguments):
            problems.append("%s: %s has %d arguments, the header %d" % (where, name, len(have.arguments),
                                                                        len(want.arguments)))
            continue
        for index, ((argument, kind), (_, declared_kind)) in enumerate(zip(want.arguments, have.arguments)):
            if kind not in declared_kind.split("/"):
                problems.append("%s: %s argument %d (%s) is declared %s, the header's is %s"
                                % (where, name, index + 1, argument, declared_kind, kind))
        if want.result not in have.result.split("/"):
            problems.append("%s: %s returns %s, the header's result is %s" % (where, name, have.result, want.result))
    return problems


def all_differences(header_path: str = HEADER, vba_path: str = VBA, labview_path: str = LABVIEW) -> List[str]:
    header = header_exports(header_path)
    problems = []
    for branch, declared in vba_exports(vba_path).items():
        problems += differences(header, declared, "VBA (%s)" % branch)
    problems += differences(header, labview_exports(labview_path), "LabVIEW")
    return problems


# ---- tests

def test_header_is_read_as_declared():
    exports = header_exports(HEADER)
    assert exports["getValue"] == Export("pointer", (("type", "text"), ("module", "text"), ("key", "text")))
    assert exports["getIO"].arguments == (("base", "text"), ("channel", "buffer"))
    assert exports["sendUpdateFile"].arguments[2:] == (("data", "bytes"), ("length", "int"))
    assert exports["startDLL"] == Export("int", ())
    assert len(exports) == 8


def test_shipped_declarations_match_the_header():
    assert all_differences() == []


def test_drift_in_the_vba_module_is_found(tmp_path):
    shipped = open(VBA, encoding="cp1252").read()
    changes = [
        # a renamed function
        ("Function setValue Lib", "Function setValues Lib", "setValue is not declared"),
        # an argument too few
        ("(ByVal typeName As String, ByVal module As String, ByVal key As String) As LongPtr",
         "(ByVal typeName As String, ByVal module As String) As LongPtr", "getValue has 2 arguments"),
        # a text where the header wants an int
        ("ByVal channel As String, ByVal value As Long) As Long\n",
         "ByVal channel As String, ByVal value As String) As Long\n", "setIO argument 3"),
        # the text returned as a String
        ("ByVal key As String) As LongPtr", "ByVal key As String) As String", "getValue returns ?"),
        # bytes passed as a text
        ("ByRef data As Byte", "ByVal data As String", "sendUpdateFile argument 3"),
    ]
    for old, new, expected in changes:
        assert old in shipped, old
        changed = tmp_path / "OrmiControl.bas"
        changed.write_text(shipped.replace(old, new, 1), encoding="cp1252")
        found = all_differences(vba_path=str(changed))
        assert any(expected in problem for problem in found), (expected, found)


def test_drift_in_the_labview_table_is_found(tmp_path):
    shipped = open(LABVIEW, encoding="utf-8").read()
    changed = tmp_path / "README.md"
    changed.write_text(shipped.replace("| getValue | Numeric, Signed Pointer-sized Integer",
                                       "| getValue | String, C String Pointer", 1)
                              .replace("channel: String, C String Pointer, pre-sized |", "channel: String, C String Pointer |", 1),
                       encoding="utf-8")
    found = all_differences(labview_path=str(changed))
    assert "LabVIEW: getValue returns ?, the header's result is pointer" in found
    assert "LabVIEW: getIO argument 2 (channel) is declared text, the header's is buffer" in found


if __name__ == "__main__":
    problems = all_differences(*sys.argv[1:4]) if len(sys.argv) == 4 else all_differences()
    for problem in problems:
        print(problem)
    print("declarations: %s" % ("%d difference(s)" % len(problems) if problems else "match the header"))
    sys.exit(1 if problems else 0)
