#!/usr/bin/python3
"""Writes the character-width table of the terminal engine.

    scripts/gen_wcwidth.py [--out-dir DIR] [--ucd DIR]

Output, relative to the repository root (or DIR):
    src/lib/te/em/wcwidth_tab.h

Source: the Unicode Character Database of the machine (Debian's unicode-data
package, /usr/share/unicode): UnicodeData.txt, EastAsianWidth.txt,
PropList.txt and CompositionExclusions.txt.  The output is committed; a test
fails when it differs from what this script writes, and another checks the
widths against the C library's wcwidth.

The widths are the ones the GNU C library gives programs (bash, less and
their libraries count columns with it), so that the cursor stays where they
think it is:
    0  combining and enclosing marks (Mn, Me), format characters (Cf) except
       U+00AD SOFT HYPHEN and the prepended concatenation marks (which are
       shown), the Hangul medial vowels and final consonants (U+1160..U+11FF,
       U+D7B0..U+D7FF), U+200B ZERO WIDTH SPACE;
    2  East Asian Wide and Fullwidth characters (emoji with their own
       presentation among them), the unassigned code points that default to
       Wide (CJK blocks, planes 2 and 3), and two blocks the C library also
       counts wide: U+3248..U+324F and U+4DC0..U+4DFF;
    1  everything else.

A zero-width character joins the character before it.  Where the pair has a
canonical composition (e + U+0301 is é), the cell takes the composed
character: the pairs are listed here, the Hangul syllables are computed.
"""

import argparse
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUTPUT = os.path.join("src", "lib", "te", "em", "wcwidth_tab.h")
UCD = "/usr/share/unicode"

# Unassigned code points that EastAsianWidth.txt says default to Wide.
WIDE_DEFAULTS = [(0x3400, 0x4DBF), (0x4E00, 0x9FFF), (0xF900, 0xFAFF), (0x20000, 0x2FFFD), (0x30000, 0x3FFFD)]
# Counted wide by the C library although EastAsianWidth.txt says otherwise.
LIBC_WIDE = [(0x3248, 0x324F), (0x4DC0, 0x4DFF)]
# Hangul medial vowels and final consonants: they join the initial before.
HANGUL_JOINERS = [(0x1160, 0x11FF), (0xD7B0, 0xD7FF)]


def data_lines(path):
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                yield [field.strip() for field in line.split(";")]


def code_range(text):
    if ".." in text:
        a, b = text.split("..")
        return int(a, 16), int(b, 16)
    return int(text, 16), int(text, 16)


def unicode_data(ucd):
    """code point -> (category, decomposition) of every assigned character."""
    chars = {}
    first = None
    for f in data_lines(os.path.join(ucd, "UnicodeData.txt")):
        cp, name, cat, decomp = int(f[0], 16), f[1], f[2], f[5]
        if name.endswith(", First>"):
            first = cp
            continue
        if name.endswith(", Last>"):
            for c in range(first, cp + 1):
                chars[c] = (cat, "")
            continue
        chars[cp] = (cat, decomp)
    return chars


def version(ucd):
    with open(os.path.join(ucd, "EastAsianWidth.txt"), encoding="utf-8") as f:
        head = f.readline()
    # "# EastAsianWidth-15.0.0.txt"
    return head.strip().lstrip("# ").replace("EastAsianWidth-", "").replace(".txt", "")


def widths(ucd):
    chars = unicode_data(ucd)
    prepended = set()
    for f in data_lines(os.path.join(ucd, "PropList.txt")):
        if f[1] == "Prepended_Concatenation_Mark":
            a, b = code_range(f[0])
            prepended.update(range(a, b + 1))
    zero = set()
    for cp, (cat, _) in chars.items():
        if cat in ("Mn", "Me") or (cat == "Cf" and cp != 0x00AD and cp not in prepended):
            zero.add(cp)
    for a, b in HANGUL_JOINERS:
        zero.update(range(a, b + 1))
    zero.add(0x200B)
    wide = set()
    for f in data_lines(os.path.join(ucd, "EastAsianWidth.txt")):
        if f[1] in ("W", "F"):
            a, b = code_range(f[0])
            wide.update(range(a, b + 1))
    for a, b in WIDE_DEFAULTS:
        wide.update(c for c in range(a, b + 1) if c not in chars)
    for a, b in LIBC_WIDE:
        wide.update(range(a, b + 1))
    return chars, zero, wide - zero


def compositions(ucd, chars):
    """(base, mark, composed) of every canonical pair composition whose
    second character is zero-width: what a mark after a character makes."""
    excluded = set()
    for f in data_lines(os.path.join(ucd, "CompositionExclusions.txt")):
        a, b = code_range(f[0])
        excluded.update(range(a, b + 1))
    pairs = []
    for cp, (cat, decomp) in chars.items():
        if not decomp or decomp.startswith("<") or cp in excluded:
            continue
        parts = [int(x, 16) for x in decomp.split()]
        if len(parts) != 2:
            continue  # singletons never compose
        if chars.get(parts[0], ("", ""))[0].startswith("M"):
            continue  # non-starter decompositions are excluded from composition
        pairs.append((parts[0], parts[1], cp))
    return sorted(pairs)


def ranges(cps):
    out = []
    for cp in sorted(cps):
        if out and out[-1][1] == cp - 1:
            out[-1][1] = cp
        else:
            out.append([cp, cp])
    return out


def emit_ranges(lines, name, rs, comment):
    lines.append("// %s" % comment)
    lines.append("static constexpr wc_range %s[%d] = {" % (name, len(rs)))
    for i in range(0, len(rs), 4):
        lines.append("    " + ", ".join("{0x%05X, 0x%05X}" % (a, b) for a, b in rs[i:i + 4]) + ",")
    lines.append("};")


def generate(ucd):
    chars, zero, wide = widths(ucd)
    pairs = [p for p in compositions(ucd, chars) if p[1] in zero]
    lines = [
        "// Generated by scripts/gen_wcwidth.py from the Unicode %s character data;" % version(ucd),
        "// do not edit.  Ranges are inclusive and ascending.",
        "#pragma once",
        "",
        "#include <cstdint>",
        "",
        "struct wc_range {",
        "  uint32_t first, last;",
        "};",
        "struct wc_pair {",
        "  uint32_t base, mark, composed;",
        "};",
        "",
        "// clang-format off",
    ]
    emit_ranges(lines, "wc_zero_ranges", ranges(zero), "Zero-width characters: they join the character before.")
    emit_ranges(lines, "wc_wide_ranges", ranges(wide), "Wide characters: two cells.")
    lines.append("// Canonical compositions of a character and a zero-width mark, by base and mark.")
    lines.append("static constexpr wc_pair wc_compose_pairs[%d] = {" % len(pairs))
    for i in range(0, len(pairs), 3):
        lines.append("    " + ", ".join("{0x%05X, 0x%05X, 0x%05X}" % p for p in pairs[i:i + 3]) + ",")
    lines.append("};")
    lines.append("// clang-format on")
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out-dir", default=ROOT, help="where to write the output (default: repository root)")
    parser.add_argument("--ucd", default=UCD, help="the Unicode Character Database (default: %s)" % UCD)
    args = parser.parse_args()
    if not os.path.exists(os.path.join(args.ucd, "UnicodeData.txt")):
        sys.exit("gen_wcwidth: no UnicodeData.txt in %s (install unicode-data)" % args.ucd)
    path = os.path.join(args.out_dir, OUTPUT)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(generate(args.ucd))


if __name__ == "__main__":
    main()
