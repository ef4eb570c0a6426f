#!/usr/bin/python3
"""Writes the code-page file and the tables derived from the same facts.

    scripts/gen_codepage.py [--out-dir DIR]

Outputs, relative to the repository root (or DIR):
    codepage.dat                 translation tables read by the server
    html/shared/keycodes.js      the browser's code points for terminal keys
    src/lib/tcs/tcs_ebcdic.cpp   built-in EBCDIC tables of the block modes

Sources: Python's codecs for the PC, ISO and Windows code pages; the C
library's iconv (glibc, through ctypes) for the IBM EBCDIC code pages, which
Python lacks in part; the Unicode character database for the PC glyphs of
the control positions; the key-name table in src/lib/keynames/keyname.cpp.
Only the standard library is used.  The outputs are committed; a test fails
when they differ from what this script writes.

TCS numbering: TCS 512 + n is byte n of code page 437.  Codes from 768 on
are the other characters of the code pages below: first those the built-in
DEC tables use (pinned in DEC_PINS), then every further character in the
order the code pages list them.  Each character has exactly one TCS code and
each TCS code one code point, so the Unicode table reverses cleanly.
"""

import argparse
import ctypes
import ctypes.util
import os
import re
import sys
import unicodedata

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
KEYNAME_CPP = os.path.join(ROOT, "src", "lib", "keynames", "keyname.cpp")

TCS_FIRST = 512
TCS_EXT_FIRST = 768
TCS_LAST = 1119
KEY_UNICODE_BASE = 0xE000  # key code k travels as U+E000 + (k - 256)
KEY_FIRST, KEY_LAST = 256, 486  # terminal and virtual keys
BLOCK_KEY_FIRST, BLOCK_KEY_LAST = 1120, 1178  # 3270/5250 keys
MOD_KEY_FIRST, MOD_KEY_LAST = 1200, 1295  # keys with modifiers (keyname.h)
# The modified cursor and editing keys of keyname.h: slot prefixes, and the
# keys of each slot in code order (their names as keyname gives them).
MOD_PREFIXES = ["S-", "A-", "AS-", "CS-", "CA-", "CAS-"]
MOD_KEYS = ["UP", "DOWN", "RIGHT", "LEFT", "HOME", "END", "PGUP", "PGDN", "INS", "DELETE"]
BLANK = TCS_FIRST + 0x20

# PC glyphs of code page 437 at the control positions, which the codecs map
# to control characters; looked up by name in the Unicode database.
PC_CONTROL_GLYPHS = {
    0x01: "WHITE SMILING FACE", 0x02: "BLACK SMILING FACE", 0x03: "BLACK HEART SUIT",
    0x04: "BLACK DIAMOND SUIT", 0x05: "BLACK CLUB SUIT", 0x06: "BLACK SPADE SUIT",
    0x07: "BULLET", 0x08: "INVERSE BULLET", 0x09: "WHITE CIRCLE", 0x0A: "INVERSE WHITE CIRCLE",
    0x0B: "MALE SIGN", 0x0C: "FEMALE SIGN", 0x0D: "EIGHTH NOTE", 0x0E: "BEAMED EIGHTH NOTES",
    0x0F: "WHITE SUN WITH RAYS", 0x10: "BLACK RIGHT-POINTING POINTER",
    0x11: "BLACK LEFT-POINTING POINTER", 0x12: "UP DOWN ARROW", 0x13: "DOUBLE EXCLAMATION MARK",
    0x14: "PILCROW SIGN", 0x15: "SECTION SIGN", 0x16: "BLACK RECTANGLE",
    0x17: "UP DOWN ARROW WITH BASE", 0x18: "UPWARDS ARROW", 0x19: "DOWNWARDS ARROW",
    0x1A: "RIGHTWARDS ARROW", 0x1B: "LEFTWARDS ARROW", 0x1C: "RIGHT ANGLE",
    0x1D: "LEFT RIGHT ARROW", 0x1E: "BLACK UP-POINTING TRIANGLE",
    0x1F: "BLACK DOWN-POINTING TRIANGLE", 0x7F: "HOUSE",
}

# The built-in DEC tables (src/lib/tcs/tcs_defaults.cpp), elements 0..255;
# a test checks that the file's DEC sections load to exactly these.
def _dec_tables():
    # DEC special graphics: ASCII up to 0x5E, a blank at 0x5F, and the
    # VT100's glyphs from 0x60 (diamond, scan lines, corners and lines).
    sg96 = [516, 689, 811, 812, 813, 814, 760, 753, 815, 816, 729, 703, 730, 704, 709, 817]
    sg112 = [818, 708, 820, 821, 707, 692, 705, 706, 691, 755, 754, 739, 822, 668, 762, 544]
    dsg = [0] * 256
    for i in range(32, 95):
        dsg[i] = 512 + i
    dsg[95] = 544
    dsg[96:112] = sg96
    dsg[112:128] = sg112
    dmn = [0] * 256
    dmn[32:128] = [
        544, 685, 667, 668, 544, 669, 544, 533, 804, 772, 678, 686, 544, 544, 544, 544,
        760, 753, 765, 774, 544, 742, 532, 762, 1098, 777, 679, 687, 684, 683, 544, 680,
        768, 769, 770, 779, 654, 655, 658, 640, 780, 656, 781, 782, 783, 784, 785, 786,
        544, 677, 788, 789, 790, 791, 665, 805, 792, 793, 803, 794, 666, 806, 544, 737,
        645, 672, 643, 797, 644, 646, 657, 647, 650, 642, 648, 649, 653, 673, 652, 651,
        544, 676, 661, 674, 659, 798, 660, 807, 834, 663, 675, 662, 641, 664, 544, 544,
    ]
    sg = [0] * 256
    sg[95] = 544
    sg[96:112] = sg96
    sg[112:128] = sg112
    return dsg, dmn, sg


DEC_VT200DSG, DEC_VT200DMN, DEC_VT100SG = _dec_tables()

# Characters of the TCS codes above 767 that the DEC tables use.  The DEC
# multinational set names most of them (GR byte 0xA0 + element - 32, which
# is Latin-1 except for its DEC letters); the special graphics tables name
# the glyphs that code page 437 lacks (scan lines, control pictures, not
# equal).  DEC leaves 0xB8 reserved; 1098 is the Latin-1 cedilla found
# there.  Eth (787, 801) and the quadrant checker (810) are no longer used
# by the tables but keep their codes, so that every other code stays put.
DEC_PINS = {
    768: "\u00c0", 769: "\u00c1", 770: "\u00c2", 772: "\u00a9", 774: "\u00b3", 777: "\u00b9",
    779: "\u00c3", 780: "\u00c8", 781: "\u00ca", 782: "\u00cb", 783: "\u00cc", 784: "\u00cd",
    785: "\u00ce", 786: "\u00cf", 787: "\u00d0", 788: "\u00d2", 789: "\u00d3", 790: "\u00d4",
    791: "\u00d5", 792: "\u00d8", 793: "\u00d9", 794: "\u00db", 797: "\u00e3", 798: "\u00f5",
    801: "\u00f0", 803: "\u00da", 804: "\u00a4", 805: "\u0152", 806: "\u0178", 807: "\u0153",
    834: "\u00f8", 1098: "\u00b8",
    810: "\u259a", 811: "\u2409", 812: "\u240c", 813: "\u240d", 814: "\u240a", 815: "\u2424",
    816: "\u240b", 817: "\u23ba", 818: "\u23bb", 820: "\u23bc", 821: "\u23bd", 822: "\u2260",
}

# Host code pages of the character-mode emulations: section name, codec.
# The order fixes the TCS codes of characters first met in each page.
HOST_CODEPAGES = [
    ("STD 437 MS-DOS Latin US", "cp437"),
    ("ISO 8859-1 Latin 1", "latin-1"),
    ("1252", "cp1252"),
    ("STD 850 MS-DOS Latin 1", "cp850"),
    ("1250", "cp1250"),
    ("ISO 8859-2 Latin 2", "iso8859-2"),
    ("ISO 8859-15 Latin 9", "iso8859-15"),
]

# IBM EBCDIC code pages: the 5250 tables "CPnnn.unicode" (Unicode code
# point to EBCDIC byte), under their older national name too where they had
# one, and the built-in tables of tcs_ebcdic.cpp.  1140 to 1149 are the
# euro forms of 037, 273, 277, 278, 280, 284, 285, 297, 500 and 871.
EBCDIC_CODEPAGES = [
    ("US English", 37),
    ("UK English", 285),
    ("German", 273),
    ("French", 297),
    (None, 277),
    (None, 278),
    (None, 280),
    (None, 284),
    (None, 500),
    (None, 871),
    (None, 1047),
] + [(None, cp) for cp in range(1140, 1150)]


def ebcdic_section_names(name, cp):
    """The codepage.dat names of an EBCDIC page: CPnnn, and its older name."""
    return ["CP%03d" % cp] + ([name] if name else [])


def iconv_decode_table(charset):
    """Byte -> character of a single-byte charset through the C library's
    iconv; None where the byte is unassigned."""
    libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
    libc.iconv_open.restype = ctypes.c_void_p
    libc.iconv_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
    vpp, szp = ctypes.POINTER(ctypes.c_void_p), ctypes.POINTER(ctypes.c_size_t)
    libc.iconv.restype = ctypes.c_size_t
    libc.iconv.argtypes = [ctypes.c_void_p, vpp, szp, vpp, szp]
    libc.iconv_close.argtypes = [ctypes.c_void_p]
    cd = libc.iconv_open(b"UTF-32LE", charset.encode())
    if cd is None or cd == ctypes.c_void_p(-1).value:
        sys.exit("gen_codepage: the C library has no iconv converter for " + charset)
    failed = ctypes.c_size_t(-1).value
    table = []
    for b in range(256):
        inbuf = ctypes.create_string_buffer(bytes([b]), 1)
        outbuf = ctypes.create_string_buffer(16)
        inp, inleft = ctypes.c_void_p(ctypes.addressof(inbuf)), ctypes.c_size_t(1)
        outp, outleft = ctypes.c_void_p(ctypes.addressof(outbuf)), ctypes.c_size_t(16)
        r = libc.iconv(cd, ctypes.byref(inp), ctypes.byref(inleft), ctypes.byref(outp), ctypes.byref(outleft))
        libc.iconv(cd, None, None, None, None)
        if r == failed or 16 - outleft.value != 4:
            table.append(None)
        else:
            table.append(chr(int.from_bytes(outbuf.raw[:4], "little")))
    libc.iconv_close(cd)
    return table


def codec_decode_table(codec):
    table = []
    for b in range(256):
        try:
            table.append(bytes([b]).decode(codec))
        except UnicodeDecodeError:
            table.append(None)
    return table


def is_graphic(ch):
    return ch is not None and unicodedata.category(ch) != "Cc"


def pc_glyphs():
    """Byte -> character of the PC character set (code page 437 with its
    glyphs at the control positions); None for byte 0."""
    table = codec_decode_table("cp437")
    for b in range(256):
        if b in PC_CONTROL_GLYPHS:
            table[b] = unicodedata.lookup(PC_CONTROL_GLYPHS[b])
        elif not is_graphic(table[b]):
            table[b] = None
    return table


class TcsSpace:
    """Character <-> TCS code assignment."""

    def __init__(self):
        self.pc = pc_glyphs()
        self.by_char = {}
        for b, ch in enumerate(self.pc):
            if ch is not None:
                assert ch not in self.by_char, "PC glyph twice: %r" % ch
                self.by_char[ch] = TCS_FIRST + b
        for tcs, ch in sorted(DEC_PINS.items()):
            assert TCS_EXT_FIRST <= tcs <= TCS_LAST, tcs
            assert ch not in self.by_char, "pinned character already has a code: %r" % ch
            self.by_char[ch] = tcs
        for table in (DEC_VT200DSG, DEC_VT200DMN, DEC_VT100SG):
            for tcs in table:
                assert tcs < TCS_EXT_FIRST or tcs in DEC_PINS, "DEC table code %d has no character" % tcs
        self.used = set(self.by_char.values())
        self.next_free = TCS_EXT_FIRST
        self.frozen = False

    def code(self, ch):
        """TCS code of a character, assigning the next free code if new."""
        if ch not in self.by_char:
            assert not self.frozen, "character without a code: %r" % ch
            while self.next_free in self.used:
                self.next_free += 1
            if self.next_free > TCS_LAST:
                sys.exit("gen_codepage: the TCS character range is full")
            self.by_char[ch] = self.next_free
            self.used.add(self.next_free)
        return self.by_char[ch]


def named_keys():
    """(NAME, code) of every key from 256 on that has a name: the rule-built
    families and the table of keyname.cpp (with its Ctrl forms)."""
    keys = []
    for prefix, first, count in (("F", 256, 20), ("SF", 329, 20), ("CF", 349, 20), ("AF", 369, 20),
                                 ("CSF", 389, 20), ("PF", 1120, 24), ("PA", 1144, 3),
                                 ("ASF", 1260, 12), ("CAF", 1272, 12), ("CASF", 1284, 12)):
        keys += [("%s%d" % (prefix, n + 1), first + n) for n in range(count)]
    for slot, prefix in enumerate(MOD_PREFIXES):
        keys += [(prefix + name, MOD_KEY_FIRST + slot * 10 + k) for k, name in enumerate(MOD_KEYS)]
    keys += [("ALT" + chr(c), c + 312) for c in range(ord("a"), ord("z") + 1)]
    keys += [("ALT%d" % d, d + ord("0") + 386) for d in range(1, 10)]
    keys += [("ALT0", 444), ("ALT-", 445), ("ALT=", 446)]
    with open(KEYNAME_CPP, encoding="utf-8") as f:
        source = f.read()
    block = re.search(r"kNamedKeys\[\] = \{(.*?)\n\};", source, re.S)
    if block is None:
        sys.exit("gen_codepage: no kNamedKeys table in " + KEYNAME_CPP)
    for name, code, ctrl in re.findall(r'\{"([^"]+)", (\d+), (\d+)\}', block.group(1)):
        code, ctrl = int(code), int(ctrl)
        if code >= KEY_FIRST:
            keys.append((name.upper(), code))
        if ctrl:
            keys.append(("C-" + name.upper(), ctrl))
    seen, unique = set(), []
    for name, code in keys:
        if name not in seen:
            seen.add(name)
            unique.append((name, code))
    return unique


def key_code_points():
    """Code point -> key code for every terminal, virtual and block key."""
    codes = list(range(KEY_FIRST, KEY_LAST + 1)) + list(range(BLOCK_KEY_FIRST, BLOCK_KEY_LAST + 1)) + \
        list(range(MOD_KEY_FIRST, MOD_KEY_LAST + 1))
    return {KEY_UNICODE_BASE + (k - KEY_FIRST): k for k in codes}


def write_codepage_dat(space, hosts, ebcdic):
    out = []
    w = out.append
    w("; Kavrix code-page file: translation tables loaded by name.")
    w("; Generated by scripts/gen_codepage.py; edit the generator, not this file.")
    w(";")
    w("; TCS 512 + n is byte n of code page 437; TCS 768..1119 are further")
    w("; characters, each named once in [Unicode2TCS.uni].  Terminal keys (TCS")
    w("; 256..486) and 3270/5250 keys (1120..1178) travel from the browser as")
    w("; U+E000 + (key code - 256).")
    w(";")
    w("; Host code pages (name.cpi: host byte=TCS, name.cpo: TCS=host byte):")
    for name, _ in HOST_CODEPAGES:
        w(";   " + name)
    w("; DEC sets (name.cpi): %s, %s, %s" % ("VT200 Special Graphics Mapping", "VT200 Multinational Mapping",
                                            "VT100 Special Graphics Mapping"))
    w("; IBM EBCDIC code pages for 5250 (name.unicode: code point=EBCDIC byte),")
    w("; from the C library's iconv tables IBMnnn:")
    for name, cp in EBCDIC_CODEPAGES:
        w(";   " + " = ".join(ebcdic_section_names(name, cp)))
    w("")

    w("[Unicode2TCS.uni]")
    uni = {ord(ch): tcs for ch, tcs in space.by_char.items()}
    for cp, key in key_code_points().items():
        assert cp not in uni
        uni[cp] = key
    for cp in sorted(uni):
        assert cp <= 0xFFFF, "code point beyond the table: U+%X" % cp
        w("%d=%d" % (cp, uni[cp]))
    w("")

    for name, table in hosts:
        w("[%s.cpi]" % name)
        for b in range(256):
            ch = table[b]
            if b < 0x20 or b == 0x7F:
                tcs = TCS_FIRST + b  # control positions show their PC glyph
            elif is_graphic(ch):
                tcs = space.code(ch)
            else:
                tcs = BLANK  # C1 controls and unassigned bytes
            w("%d=%d" % (b, tcs))
        w("")
        w("[%s.cpo]" % name)
        tcs_to_byte = [0] * (TCS_LAST - TCS_FIRST + 1)
        for b in range(255, 0x1F, -1):  # the lowest byte wins
            if b != 0x7F and is_graphic(table[b]):
                tcs_to_byte[space.code(table[b]) - TCS_FIRST] = b
        for i, b in enumerate(tcs_to_byte):
            w("%d=%d" % (TCS_FIRST + i, b))
        w("")

    for name, table in (("VT200 Special Graphics Mapping", DEC_VT200DSG),
                        ("VT200 Multinational Mapping", DEC_VT200DMN),
                        ("VT100 Special Graphics Mapping", DEC_VT100SG)):
        w("[%s.cpi]" % name)
        for b, tcs in enumerate(table):
            w("%d=%d" % (b, tcs))
        w("")

    for name, cp, table in ebcdic:
        to_byte = {}
        for b in range(255, -1, -1):  # the lowest byte wins
            if is_graphic(table[b]):
                to_byte[ord(table[b])] = b
        for section in ebcdic_section_names(name, cp):
            w("[%s.unicode]" % section)
            for u in sorted(to_byte):
                w("%d=%d" % (u, to_byte[u]))
            w("")
    return "\n".join(out)


def write_keycodes_js(keys):
    lines = [
        "// Code points through which the browser sends terminal keys to a session.",
        "// Generated by scripts/gen_codepage.py from the key-name table; do not edit.",
        "// Key code k (256..486 terminal and session keys, 1120..1178 3270/5250 keys,",
        "// 1200..1295 keys with modifiers)",
        "// travels as U+E000 + (k - 256); the code-page file maps it back to k.",
        "(function (root) {",
        "  'use strict';",
        "  var BASE = 0x%04X;" % KEY_UNICODE_BASE,
        "  var codePoints = {",
    ]
    for name, code in keys:
        # Upper case throughout, as codePoint() looks names up ("ALTA").
        lines.append("    %s: 0x%04X," % (js_string(name.upper()), KEY_UNICODE_BASE + code - KEY_FIRST))
    lines += [
        "  };",
        "  var api = {",
        "    BASE: BASE,",
        "    codePoints: Object.freeze(codePoints),",
        "    // Code point of a key name such as 'F1', 'UP', 'C-LEFT', 'PF12'; undefined if unknown.",
        "    codePoint: function (name) { return codePoints[String(name).toUpperCase()]; },",
        "    // Code point of a key code (256..486, 1120..1178, 1200..1295).",
        "    fromKeyCode: function (code) { return BASE + (code - 256); }",
        "  };",
        "  if (typeof module === 'object' && module.exports) { module.exports = api; } else { root.KvxKeyCodes = api; }",
        "})(typeof globalThis !== 'undefined' ? globalThis : this);",
        "",
    ]
    return "\n".join(lines)


def js_string(s):
    return "'" + s.replace("\\", "\\\\").replace("'", "\\'") + "'"


def write_ebcdic_cpp(ebcdic):
    lines = [
        "// Built-in EBCDIC tables of the block-mode emulations: EBCDIC byte to",
        "// Unicode code point, 0 for control and unassigned positions.",
        "// Generated by scripts/gen_codepage.py from the C library's iconv tables of",
        "// the IBM code pages; do not edit.",
        "#include \"tcs.h\"",
        "",
        "namespace {",
        "",
    ]
    for _, cp, table in ebcdic:
        lines.append("constexpr uint16_t kIbm%03d[256] = {" % cp)
        for row in range(0, 256, 8):
            cells = []
            for b in range(row, row + 8):
                ch = table[b]
                cells.append("0x%04X," % (ord(ch) if is_graphic(ch) else 0))
            lines.append("    %s  // 0x%02X" % (" ".join(cells), row))
        lines.append("};")
        lines.append("")
    lines += ["}  // namespace", "", "const uint16_t* TCSEbcdicToUnicode(int ibmCodePage) {", "  switch (ibmCodePage) {"]
    for _, cp, _ in ebcdic:
        lines.append("    case %d:" % cp)
        lines.append("      return kIbm%03d;" % cp)
    lines += ["  }", "  return nullptr;", "}", ""]
    return "\n".join(lines)


def generate():
    space = TcsSpace()
    hosts = [(name, codec_decode_table(codec)) for name, codec in HOST_CODEPAGES]
    ebcdic = [(name, cp, iconv_decode_table("IBM%03d" % cp)) for name, cp in EBCDIC_CODEPAGES]
    # Number the characters page by page, the EBCDIC pages too, so that a
    # block-mode screen can carry any of them; writing assigns nothing new.
    for table in [t for _, t in hosts] + [t for _, _, t in ebcdic]:
        for b, ch in enumerate(table):
            if b >= 0x20 and b != 0x7F and is_graphic(ch):
                space.code(ch)
    space.frozen = True
    dat = write_codepage_dat(space, hosts, ebcdic)
    return {
        "codepage.dat": dat + "\n",
        os.path.join("html", "shared", "keycodes.js"): write_keycodes_js(named_keys()),
        os.path.join("src", "lib", "tcs", "tcs_ebcdic.cpp"): write_ebcdic_cpp(ebcdic),
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out-dir", default=ROOT, help="where to write the outputs (default: repository root)")
    args = parser.parse_args()
    for rel, text in generate().items():
        path = os.path.join(args.out_dir, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8", newline="\n") as f:
            f.write(text)


if __name__ == "__main__":
    main()
