#!/usr/bin/env python3
"""Writes the benchmark corpora (about 20 MB each, deterministic) into a
directory, default bench/corpus:

  prose.txt   plain ASCII prose lines
  ls.txt      an `ls -lR --color=always`-style coloured listing
  editor.txt  a full-screen editor at 24x80 scrolling through a file:
              cursor addressing, erase, SGR, scrolling region
  utf8.txt    UTF-8 heavy text: accents, Greek, Cyrillic, CJK wide characters
  truecolor.txt  what colourful tools write to a terminal that keeps 24-bit
              colours: source highlighted in a theme's 24-bit colours
              (italic comments, bold keywords), diff lines on tinted
              backgrounds with underlined changes, a listing in 256-colour
              indexes, and now and then a progress bar shaded cell by cell

Every line ends in CR LF, as a pty sends it.  Only the standard library is
used; the same seed gives the same bytes.

Usage: gen_corpus.py [directory] [megabytes]
"""
import os
import random
import sys

WORDS = ("the of and to in is that for it as was with be by on not he this are or his from at which but "
         "have an they you were her she there been one all we their has would when if so no will what can "
         "terminal screen host session browser cell column row cursor scroll buffer character emulator "
         "keyboard protocol network server process window printer sequence attribute colour").split()


def prose(rng, size):
    out = []
    n = 0
    while n < size:
        words = []
        length = 0
        target = rng.randint(30, 79)
        while True:
            w = rng.choice(WORDS)
            if length + len(w) + 1 > target:
                break
            words.append(w)
            length += len(w) + 1
        line = " ".join(words)
        if words and rng.random() < 0.3:
            line = line[0].upper() + line[1:] + "."
        line += "\r\n"
        out.append(line)
        n += len(line)
    return "".join(out).encode("ascii")


COLOURS = {"dir": "01;34", "exe": "01;32", "link": "01;36", "img": "01;35", "arc": "01;31", "file": None}
EXTS = {"img": (".png", ".jpg", ".svg"), "arc": (".tar.gz", ".zip", ".deb"),
        "file": (".c", ".h", ".txt", ".md", ".py", ".cpp", ""), "exe": ("", ".sh"), "dir": ("",), "link": ("",)}
MONTHS = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()


def listing(rng, size):
    out = []
    n = 0
    depth = 0
    while n < size:
        path = "./" + "/".join(rng.choice(WORDS) for _ in range(depth + 1))
        block = ["\r\n%s:\r\ntotal %d\r\n" % (path, rng.randint(0, 9999))]
        for _ in range(rng.randint(3, 30)):
            kind = rng.choices(list(COLOURS), weights=(3, 1, 1, 1, 1, 10))[0]
            name = rng.choice(WORDS) + ("_" + rng.choice(WORDS) if rng.random() < 0.5 else "")
            name += rng.choice(EXTS[kind])
            mode = {"dir": "drwxr-xr-x", "exe": "-rwxr-xr-x", "link": "lrwxrwxrwx"}.get(kind, "-rw-r--r--")
            head = "%s %2d %s %s %8d %s %2d %02d:%02d " % (
                mode, rng.randint(1, 12), rng.choice(("root", "alice", "bob")), rng.choice(("root", "staff")),
                rng.randint(0, 10 ** rng.randint(1, 8)), rng.choice(MONTHS), rng.randint(1, 28),
                rng.randint(0, 23), rng.randint(0, 59))
            colour = COLOURS[kind]
            shown = "\x1b[%sm%s\x1b[0m" % (colour, name) if colour else name
            if kind == "link":
                shown += " -> \x1b[01;34m%s\x1b[0m" % rng.choice(WORDS)
            block.append(head + shown + "\r\n")
        text = "".join(block)
        out.append(text)
        n += len(text)
        depth = min(3, max(0, depth + rng.choice((-1, 0, 1))))
    return "".join(out).encode("ascii")


def code_line(rng):
    indent = " " * (4 * rng.randint(0, 3))
    kind = rng.random()
    if kind < 0.15:
        return [(indent, None), ("/* " + " ".join(rng.choice(WORDS) for _ in range(rng.randint(2, 8))) + " */",
                                 "34")]
    parts = [(indent, None)]
    if kind < 0.45:
        parts.append((rng.choice(("int", "char", "static", "return", "if", "while", "for")), "1;33"))
        parts.append((" ", None))
    body = " ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 7)))
    parts.append((body, None))
    if rng.random() < 0.3:
        parts.append((' "' + rng.choice(WORDS) + '"', "31"))
    parts.append((";", None))
    return parts


def render(parts, width=80):
    out = []
    used = 0
    for text, sgr in parts:
        text = text[:max(0, width - used)]
        if not text:
            break
        used += len(text)
        out.append("\x1b[%sm%s\x1b[m" % (sgr, text) if sgr else text)
    return "".join(out)


def editor(rng, size, rows=24, cols=80):
    """An editor with a 23-row text area and a status line."""
    text_rows = rows - 1
    lines = [code_line(rng) for _ in range(5000)]
    top = 0
    out = ["\x1b[?1049h\x1b[H\x1b[2J"]
    n = 0

    def status(line):
        s = '"file.c" %d lines --%d%%--' % (len(lines), 100 * line // len(lines))
        pos = "%d,%d" % (line + 1, rng.randint(1, 40))
        return "\x1b[%d;1H\x1b[7m%s%s\x1b[m" % (rows, s.ljust(cols - 14), pos.rjust(14)[:14])

    def repaint():
        parts = ["\x1b[H\x1b[2J"]
        for r in range(text_rows):
            parts.append("\x1b[%d;1H%s\x1b[K" % (r + 1, render(lines[(top + r) % len(lines)])))
        return "".join(parts)

    while n < size:
        action = rng.random()
        if action < 0.55:  # scroll down one line inside the region
            top += 1
            chunk = "\x1b[1;%dr\x1b[%d;1H\n\x1b[r\x1b[%d;1H%s\x1b[K" % (
                text_rows, text_rows, text_rows, render(lines[(top + text_rows - 1) % len(lines)]))
        elif action < 0.65:  # scroll up one line
            top = max(0, top - 1)
            chunk = "\x1b[1;%dr\x1b[H\x1bM\x1b[r\x1b[H%s\x1b[K" % (text_rows, render(lines[top % len(lines)]))
        elif action < 0.75:  # page: full repaint
            top += text_rows
            chunk = repaint()
        else:  # edit a line in place
            r = rng.randint(1, text_rows)
            lines[(top + r - 1) % len(lines)] = code_line(rng)
            chunk = "\x1b[%d;1H\x1b[K%s" % (r, render(lines[(top + r - 1) % len(lines)]))
        chunk += status(top) + "\x1b[%d;%dH" % (rng.randint(1, text_rows), rng.randint(1, 60))
        out.append(chunk)
        n += len(chunk)
    return "".join(out).encode("ascii")


ACCENTED = "àáâãäåæçèéêëìíîïñòóôõöøùúûüýÿßÀÉÖÜŒœšžčřęłő"
GREEK = "αβγδεζηθικλμνξοπρστυφχψωΑΒΓΔΘΛΞΠΣΦΨΩ"
CYRILLIC = "абвгдеёжзийклмнопрстуфхцчшщъыьэюяАБВГДЕЖЗИЙКЛМН"
CJK = "的一是不了人我在有他这中大来上国个到说们为子和你地出道也时年得就那要下以生会自着去之过家学对可她里后小么心多天而能好都然没日于起还发成事只作当想看文无开手十用主行方又如前所本见经头面公同三已老从动两长知民样现分将外但身些与高意进把法此实回二理美点月明其种声全工己话儿者向情部正名定女问力机给等几很业最间新什打便位因重被走电四第门相次东政海口使教西再平真听世气信北少关并内加化由却代军产入先山五太水万市眼体别处总才场师书比住员九笑性通目华报立马命张活难神数件安表原车白应路期叫死常提感金何更反合放做系计或司利受光王果亲界及今京务制解各任至清物台象记边共风战干接它许八特觉望直服毛林题建南度统色字请交爱让认算论百吃义科怎元社术结六功指思非流每青管夫连远资队跟带花快条院变联言权往展该领传近留红治决周保达办运武半候七必城父强步完革深区即求品士转量空甚众技轻程告江语英基派满式李息写呢识极令黄德收脸钱党倒未持音"


def utf8(rng, size):
    out = []
    n = 0
    while n < size:
        pieces = []
        width = 0
        target = rng.randint(20, 78)
        while width < target:
            kind = rng.random()
            if kind < 0.45:
                w = rng.choice(WORDS)
                w = "".join(rng.choice(ACCENTED) if rng.random() < 0.25 else c for c in w)
                pieces.append(w + " ")
                width += len(w) + 1
            elif kind < 0.6:
                alphabet = GREEK if rng.random() < 0.5 else CYRILLIC
                w = "".join(rng.choice(alphabet) for _ in range(rng.randint(2, 9)))
                pieces.append(w + " ")
                width += len(w) + 1
            else:
                w = "".join(rng.choice(CJK) for _ in range(rng.randint(2, 8)))
                if width + 2 * len(w) > 79:
                    break
                pieces.append(w)
                width += 2 * len(w)
        line = "".join(pieces).rstrip() + "\r\n"
        data = line.encode("utf-8")
        out.append(data)
        n += len(data)
    return b"".join(out)


# A dark theme's 24-bit colours, as a highlighter writes them.
THEME = {"keyword": "38;2;198;120;221", "type": "38;2;229;192;123", "string": "38;2;152;195;121",
         "number": "38;2;209;154;102", "comment": "3;38;2;92;99;112", "func": "38;2;97;175;239",
         "punct": "38;2;171;178;191", "gutter": "38;2;76;82;99"}


def highlighted_line(rng, number):
    kind = rng.random()
    parts = ["\x1b[%sm%5d \x1b[0m" % (THEME["gutter"], number), " " * (4 * rng.randint(0, 3))]
    if kind < 0.15:
        text = "// " + " ".join(rng.choice(WORDS) for _ in range(rng.randint(2, 8)))
        parts.append("\x1b[%sm%s\x1b[0m" % (THEME["comment"], text))
    else:
        if kind < 0.5:
            parts.append("\x1b[1;%sm%s\x1b[0m " % (THEME["keyword"], rng.choice(("if", "for", "return", "static", "while"))))
        parts.append("\x1b[%sm%s\x1b[0m" % (THEME["type"], rng.choice(("int", "char", "size_t", "bool"))))
        parts.append(" \x1b[%sm%s\x1b[0m" % (THEME["func"], rng.choice(WORDS) + "_" + rng.choice(WORDS)))
        parts.append("\x1b[%sm(\x1b[0m" % THEME["punct"])
        if rng.random() < 0.4:
            parts.append("\x1b[%sm\"%s\"\x1b[0m" % (THEME["string"], " ".join(rng.choice(WORDS) for _ in range(2))))
        else:
            parts.append("\x1b[%sm%d\x1b[0m" % (THEME["number"], rng.randint(0, 99999)))
        parts.append("\x1b[%sm);\x1b[0m" % THEME["punct"])
    return "".join(parts) + "\x1b[K\r\n"


def diff_line(rng):
    added = rng.random() < 0.5
    bg = "48;2;30;60;38" if added else "48;2;72;30;34"
    words = [rng.choice(WORDS) for _ in range(rng.randint(4, 10))]
    k = rng.randrange(len(words))
    words[k] = "\x1b[4:3;58;2;255;200;0m%s\x1b[24;59m" % words[k]
    return "\x1b[%s;38;2;220;220;220m%s %s\x1b[K\x1b[0m\r\n" % (bg, "+" if added else "-", " ".join(words))


def listing_line(rng):
    colour = rng.choice((33, 39, 75, 114, 141, 173, 203, 220, 245))
    name = rng.choice(WORDS) + rng.choice((".c", ".h", ".md", ".py", "/", ""))
    return "-rw-r--r-- 1 alice staff %8d \x1b[38;5;%dm%s\x1b[0m\r\n" % (rng.randint(0, 99999), colour, name)


def bar_line(rng):
    # A bar of 60 cells, each shaded from one colour to another.
    done = rng.randint(0, 60)
    cells = []
    for i in range(60):
        r, g = 40 + 3 * i, 200 - 2 * i
        cells.append("\x1b[48;2;%d;%d;80m " % (r, g) if i < done else "\x1b[48;2;50;50;50m ")
    return "".join(cells) + "\x1b[0m %3d%%\r\n" % (100 * done // 60)


def truecolor(rng, size):
    out = []
    n = 0
    number = 1
    while n < size:
        kind = rng.random()
        if kind < 0.65:
            line = highlighted_line(rng, number)
            number += 1
        elif kind < 0.85:
            line = diff_line(rng)
        elif kind < 0.97:
            line = listing_line(rng)
        else:
            line = bar_line(rng)
        out.append(line)
        n += len(line)
    return "".join(out).encode("ascii")


def main():
    directory = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
    megabytes = float(sys.argv[2]) if len(sys.argv) > 2 else 20
    size = int(megabytes * 1024 * 1024)
    os.makedirs(directory, exist_ok=True)
    for name, make, seed in (("prose", prose, 1), ("ls", listing, 2), ("editor", editor, 3),
                             ("utf8", utf8, 4), ("truecolor", truecolor, 5)):
        path = os.path.join(directory, name + ".txt")
        data = make(random.Random(seed), size)
        with open(path + ".tmp", "wb") as f:
            f.write(data)
        os.replace(path + ".tmp", path)
        print("%s: %d bytes" % (path, len(data)))


if __name__ == "__main__":
    main()
