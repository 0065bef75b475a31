"""No relative link in a README, a top-level document or anything under
docs/ points at a file that is not there, or at a heading that its file
does not have."""

import os
import re
import subprocess
import unicodedata

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))

# [text](target "title"), ![alt](target), <a href="target">, [label]: target
INLINE = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
HTML = re.compile(r"""<(?:a|img)\s[^>]*?(?:href|src)=["']([^"']+)["']""", re.I)
REFERENCE = re.compile(r"^[ \t]{0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s|$)", re.M)


def documents():
    listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"], cwd=ROOT,
                            capture_output=True, text=True, check=True).stdout.split("\0")
    return sorted(p for p in listed if p and os.path.isfile(os.path.join(ROOT, p)) and p.endswith(".md") and (
        os.path.basename(p).upper().startswith("README") or p.startswith("docs/") or "/" not in p))


def without_code(text):
    """The text with fenced blocks and inline code blanked (lines kept)."""
    text = re.sub(r"^( {0,3})(```|~~~).*?^\1\2[^\n]*$", lambda m: "\n" * m.group(0).count("\n"), text,
                  flags=re.M | re.S)
    return re.sub(r"`[^`\n]*`", "", text)


def anchors(path):
    """The heading anchors a Markdown file gets when rendered (GitHub's rule)."""
    with open(path, encoding="utf-8") as f:
        text = without_code(f.read())
    seen, result = {}, set()
    for heading in re.findall(r"^#{1,6}\s+(.*?)\s*#*\s*$", text, re.M):
        heading = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)     # a link's text only
        slug = "".join(c for c in heading.lower() if c in " -_" or unicodedata.category(c)[0] in "LNM")
        slug = slug.replace(" ", "-")
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        result.add(slug if count == 0 else "%s-%d" % (slug, count))
    result.update(re.findall(r"""<a\s[^>]*(?:name|id)=["']([^"']+)["']""", text))
    return result


def links(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        text = without_code(f.read())
    for pattern in (INLINE, HTML, REFERENCE):
        for found in pattern.finditer(text):
            yield text.count("\n", 0, found.start()) + 1, found.group(1)


def broken(path):
    problems = []
    folder = os.path.dirname(os.path.join(ROOT, path))
    for line, target in links(path):
        if re.match(r"^[a-z][a-z0-9+.-]*:", target, re.I) or target.startswith("//"):
            continue   # an address or mailto:, not a file of ours
        file, _, anchor = target.partition("#")
        resolved = os.path.normpath(os.path.join(folder, file)) if file else os.path.join(ROOT, path)
        if not resolved.startswith(ROOT + os.sep) and resolved != ROOT:
            problems.append("%s:%d: %s leaves the repository" % (path, line, target))
        elif not os.path.exists(resolved):
            problems.append("%s:%d: %s: no such file" % (path, line, target))
        elif anchor and resolved.endswith(".md") and anchor.lower() not in anchors(resolved):
            problems.append("%s:%d: %s: no such heading" % (path, line, target))
    return problems


def test_documents_are_found():
    found = documents()
    assert "README.md" in found and any(p.startswith("docs/") for p in found), found


def test_no_relative_link_is_broken():
    problems = [problem for path in documents() for problem in broken(path)]
    assert problems == [], "\n".join(problems)


@pytest.mark.parametrize("text, problem", [
    ("[ok](docs/a.md) [ok](docs/a.md#first-part) [gone](docs/missing.md)", "docs/missing.md: no such file"),
    ("[bad anchor](docs/a.md#no-such-part)", "docs/a.md#no-such-part: no such heading"),
    ("[self](#top-heading) [not here](#elsewhere)", "#elsewhere: no such heading"),
    ("![picture](pics/x.png)", "pics/x.png: no such file"),
    ("[ref]: ../outside.md", "../outside.md leaves the repository"),
    ("```\n[in code](nowhere.md)\n```\n`[inline](nowhere.md)` [web](https://example.com/x.md)", None),
])
def test_checker_finds_each_kind_of_broken_link(tmp_path, monkeypatch, text, problem):
    root = tmp_path / "repo"
    (root / "docs").mkdir(parents=True)
    (root / "docs" / "a.md").write_text("# Title\n\n## First part\n")
    (root / "README.md").write_text("# Top heading\n\n" + text + "\n")
    monkeypatch.setattr(__import__(__name__), "ROOT", str(root))
    problems = broken("README.md")
    assert problems == ([] if problem is None else ["README.md:3: " + problem]), problems
