#!/usr/bin/env python3
"""Writes the pictures of the settings editors (SVG) into this folder.

The label positions match editors/settingsart.h: the boxes of the windows sit
where these pictures put their labels. Run it after changing either.
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
FONT = 'font-family="DejaVu Sans, Verdana, sans-serif"'
INK = "#23364d"
GRID = "#8fa3b8"


def svg(w, h, body):
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{w}" height="{h}" '
            f'viewBox="0 0 {w} {h}">\n{body}</svg>\n')


def text(x, y, s, size=11, anchor="start", weight="normal", fill=INK, italic=False):
    style = ' font-style="italic"' if italic else ""
    return (f'<text x="{x}" y="{y}" {FONT} font-size="{size}" text-anchor="{anchor}" '
            f'font-weight="{weight}" fill="{fill}"{style}>{s}</text>\n')


def write(name, content):
    with open(os.path.join(HERE, name), "w", encoding="utf-8") as f:
        f.write(content)


def span(x1, x2, y):
    """A dimension arrow between x1 and x2 at y (its name is written by the caller)."""
    b = (f'<line x1="{x1}" y1="{y}" x2="{x2}" y2="{y}" stroke="{INK}" stroke-width="1.2" '
         'marker-start="url(#a)" marker-end="url(#a)"/>\n')
    b += f'<line x1="{x1}" y1="{y-8}" x2="{x1}" y2="{y+8}" stroke="{GRID}"/>\n'
    b += f'<line x1="{x2}" y1="{y-8}" x2="{x2}" y2="{y+8}" stroke="{GRID}"/>\n'
    return b


ARROW = ('<defs><marker id="a" viewBox="0 0 10 10" refX="5" refY="5" markerWidth="6" '
         'markerHeight="6" orient="auto-start-reverse"><path d="M0 1 L9 5 L0 9 z" '
         f'fill="{INK}"/></marker></defs>\n')


def background():
    b = '<rect width="64" height="64" fill="#eef2f7"/>\n'
    for i in range(0, 64, 8):
        b += f'<path d="M{i} 0 L0 {i}" stroke="#e3e9f1" stroke-width="1"/>\n'
        b += f'<path d="M64 {i} L{i} 64" stroke="#e3e9f1" stroke-width="1"/>\n'
    write("settings_bg.svg", svg(64, 64, b))


def panel(x, y, w, h):
    return (f'<rect x="{x}" y="{y}" width="{w}" height="{h}" rx="4" fill="#f7f9fc" '
            f'stroke="{GRID}"/>\n')


def voltages():
    w, h = 393, 310
    b = ARROW + panel(4, 4, 385, 134)
    # bands: above U_Max, between the thresholds, below U_Min
    b += '<rect x="44" y="12" width="336" height="22" fill="#f6d4d0"/>\n'
    b += '<rect x="44" y="34" width="336" height="68" fill="#d6efd8"/>\n'
    b += '<rect x="44" y="102" width="336" height="28" fill="#f6d4d0"/>\n'
    lines = [(34, "U_Max"), (48, "U_Max − U_Hist"), (88, "U_Min + U_Hist"), (102, "U_Min")]
    for y, name in lines:
        b += (f'<line x1="44" y1="{y}" x2="380" y2="{y}" stroke="{INK}" stroke-width="1" '
              'stroke-dasharray="5 3"/>\n')
        b += text(48, y - 2, name, 8.5)
    b += f'<line x1="44" y1="10" x2="44" y2="132" stroke="{INK}"/>\n'
    b += f'<line x1="44" y1="132" x2="384" y2="132" stroke="{INK}"/>\n'
    b += text(14, 20, "U", 11, weight="bold") + text(378, 128, "t", 11, weight="bold")
    b += text(12, 52, "za", 8.5) + text(12, 62, "wysokie", 8.5)
    b += text(12, 72, "dobre", 8.5, fill="#1d6b2a")
    b += text(12, 116, "za", 8.5) + text(12, 126, "niskie", 8.5)
    # a line voltage that rises too high and later sags too low
    b += ('<polyline fill="none" stroke="#1a56b0" stroke-width="2" points="'
          "46,70 80,66 110,60 130,40 150,22 175,20 195,30 215,52 240,68 270,72 "
          "290,86 305,104 325,118 345,112 360,94 378,76\"/>\n")
    names = ["U_Min", "U_Hist", "U_Max"]
    for n in range(3):
        x = 4 + 130 * n
        b += panel(x, 146, 124, 156)
        b += text(x + 62, 166, f"Linia N{n+1}", 12, "middle", "bold")
        for r, y in enumerate((194, 230, 266)):
            b += text(x + 8, y - 1, names[r], 11)
            b += text(x + 104, y - 1, "V", 11, weight="bold")
    write("konfig_napiecia.svg", svg(w, h, b))


def times():
    w, h = 393, 310
    b = ARROW + panel(4, 4, 385, 224)
    # states along the time axis: bad, qualifying as good, good, qualifying as bad, bad
    b += f'<line x1="20" y1="110" x2="384" y2="110" stroke="{INK}"/>\n'
    b += text(384, 124, "t", 11, "end", "bold")
    b += ('<polyline fill="none" stroke="#1a56b0" stroke-width="2.2" points="'
          '20,96 70,96 70,40 340,40 340,96 384,96"/>\n')
    b += ('<polyline fill="none" stroke="#c0392b" stroke-width="2.2" stroke-dasharray="4 3" '
          'points="20,100 150,100 150,60 250,60 250,100 384,100"/>\n')
    b += text(24, 32, "napięcie linii", 9, fill="#1a56b0")
    b += text(156, 54, "linia załączona", 9, fill="#c0392b")
    for x1, x2, label in ((20, 70, "zła"), (70, 150, "kwalifikacja"), (150, 250, "dobra"),
                          (250, 340, "kwalifikacja"), (340, 384, "zła")):
        b += text((x1 + x2) / 2, 84, label, 8.5, "middle")
    b += span(70, 150, 140)
    b += span(150, 250, 140)
    b += span(250, 340, 140)
    for c, label in zip((110, 205, 295), ("T Kwal ON", "T Min", "T Kwal OFF")):
        b += text(c, 160, label, 11, "middle", "bold")
        b += text(c + 22, 211, "s", 11, weight="bold")
    b += panel(4, 236, 385, 68)
    b += text(12, 254, "T Kwal ON – czas, po którym linia uznawana jest za dobrą", 9.5)
    b += text(12, 272, "T Kwal OFF – czas, po którym linia uznawana jest za złą", 9.5)
    b += text(12, 290, "T Min – minimalny czas załączenia linii", 9.5)
    write("konfig_czasy.svg", svg(w, h, b))


def contactor(x, y):
    return (f'<circle cx="{x}" cy="{y}" r="3" fill="none" stroke="{INK}"/>'
            f'<line x1="{x}" y1="{y+3}" x2="{x+10}" y2="{y+18}" stroke="{INK}" stroke-width="1.6"/>'
            f'<circle cx="{x}" cy="{y+22}" r="3" fill="none" stroke="{INK}"/>\n')


def disconnector(x, y):
    return (f'<line x1="{x-5}" y1="{y}" x2="{x+5}" y2="{y}" stroke="{INK}" stroke-width="1.6"/>'
            f'<line x1="{x}" y1="{y}" x2="{x+10}" y2="{y+18}" stroke="{INK}" stroke-width="1.6"/>'
            f'<line x1="{x}" y1="{y+22}" x2="{x}" y2="{y+26}" stroke="{INK}" stroke-width="1.6"/>'
            f'<circle cx="{x+12}" cy="{y+11}" r="2" fill="{INK}"/>\n')


def apparatus(kind):
    w, h = 393, 274
    names = {"styczniki": ("Stycznik", contactor), "rozlaczniki": ("Rozłącznik", disconnector)}
    word, symbol = names[kind]
    b = ARROW + panel(4, 0, 385, 192)
    for row, (label, y0) in enumerate(((f"{word} 1", 40), (f"{word} 2", 96))):
        b += symbol(22, y0 - 18)
        b += text(44, y0 - 18, label, 10, weight="bold")
        b += f'<line x1="44" y1="{y0+20}" x2="384" y2="{y0+20}" stroke="{GRID}"/>\n'
        if row == 0:  # switching off: on until T Off ends
            pts = f"44,{y0-6} 100,{y0-6} 160,{y0+20} 384,{y0+20}"
        else:         # switching on after the break
            pts = f"44,{y0+20} 230,{y0+20} 290,{y0-6} 384,{y0-6}"
        b += (f'<polyline fill="none" stroke="#1a56b0" stroke-width="2.2" points="{pts}"/>\n')
        b += text(380, y0 - 9, "zał.", 8.5, "end") + text(380, y0 + 17, "wył.", 8.5, "end")
    for x in (100, 160, 230, 290):
        b += (f'<line x1="{x}" y1="24" x2="{x}" y2="130" stroke="{GRID}" '
              'stroke-dasharray="3 3"/>\n')
    b += span(100, 160, 128) + span(160, 230, 128) + span(230, 290, 128)
    for c, label in zip((130, 195, 260), ("T Off", "T D", "T On")):
        b += text(c, 150, label, 11, "middle", "bold")
        b += text(c + 22, 173, "s", 11, weight="bold")
    b += panel(4, 200, 385, 70)
    b += text(12, 218, "T Off – czas wyłączania (rozbrajania) aparatu", 9.5)
    b += text(12, 236, "T On – czas załączania (uzbrajania) aparatu", 9.5)
    b += text(12, 254, "T D – czas od wyłączenia jednego aparatu", 9.5)
    b += text(12, 266, "do załączenia drugiego", 9.5)
    write(f"konfig_aparaty_{kind}.svg", svg(w, h, b))


def transformer(x, y, label):
    return (f'<circle cx="{x}" cy="{y}" r="9" fill="none" stroke="{INK}" stroke-width="1.5"/>'
            f'<circle cx="{x}" cy="{y+12}" r="9" fill="none" stroke="{INK}" stroke-width="1.5"/>'
            + text(x, y - 14, label, 10, "middle", "bold"))


def generator(x, y):
    return (f'<circle cx="{x}" cy="{y+6}" r="13" fill="#fff" stroke="{INK}" stroke-width="1.5"/>'
            + text(x, y + 11, "G", 13, "middle", "bold"))


def switch(x, y1, y2):
    m = (y1 + y2) / 2
    return (f'<line x1="{x}" y1="{y1}" x2="{x}" y2="{m-6}" stroke="{INK}" stroke-width="1.6"/>'
            f'<line x1="{x}" y1="{m-6}" x2="{x+9}" y2="{m+6}" stroke="{INK}" stroke-width="1.6"/>'
            f'<line x1="{x}" y1="{m+6}" x2="{x}" y2="{y2}" stroke="{INK}" stroke-width="1.6"/>\n')


def program(number, sources, split=False):
    """sources: list of (x, kind, label) with kind 't' transformer or 'g' generator."""
    w, h = 393, 150
    b = panel(4, 2, 385, 146)
    bus_y = 104
    for x, kind, label in sources:
        b += transformer(x, 30, label) if kind == "t" else generator(x, 28)
        b += switch(x, 52 if kind == "t" else 47, bus_y)
    if split:
        b += f'<line x1="60" y1="{bus_y}" x2="176" y2="{bus_y}" stroke="{INK}" stroke-width="4"/>'
        b += f'<line x1="216" y1="{bus_y}" x2="332" y2="{bus_y}" stroke="{INK}" stroke-width="4"/>'
        b += (f'<line x1="176" y1="{bus_y}" x2="186" y2="{bus_y}" stroke="{INK}" stroke-width="1.6"/>'
              f'<line x1="186" y1="{bus_y}" x2="202" y2="{bus_y-9}" stroke="{INK}" stroke-width="1.6"/>'
              f'<line x1="206" y1="{bus_y}" x2="216" y2="{bus_y}" stroke="{INK}" stroke-width="1.6"/>')
        b += text(196, bus_y + 20, "S (łącznik)", 9, "middle")
        for x in (118, 274):
            b += f'<path d="M{x} {bus_y} v22 l-6 -8 m6 8 l6 -8" stroke="{INK}" fill="none"/>'
        b += text(118, 142, "odbiory 1", 9, "middle") + text(274, 142, "odbiory 2", 9, "middle")
    else:
        xs = [x for x, _, _ in sources]
        lo, hi = min(xs + [150]) - 40, max(xs + [240]) + 40
        b += (f'<line x1="{lo}" y1="{bus_y}" x2="{hi}" y2="{bus_y}" stroke="{INK}" '
              'stroke-width="4"/>')
        mid = (lo + hi) / 2
        b += f'<path d="M{mid} {bus_y} v22 l-6 -8 m6 8 l6 -8" stroke="{INK}" fill="none"/>'
        b += text(mid, 142, "odbiory", 9, "middle")
    write(f"tryb_{number}.svg", svg(w, h, b))


def shedding():
    w, h = 393, 80
    b = panel(4, 2, 385, 74)
    b += text(196, 22, "Zrzut obciążenia", 12, "middle", "bold")
    for n, x in enumerate((60, 180, 300)):
        b += text(x + 22, 53, f"Linia N{n+1}", 11)
    write("konfig_zrzut.svg", svg(w, h, b))


def sections():
    w, h = 264, 242
    rows = [
        ("Kontrola napięcia wyjściowego", 0, 58, [(27, "Włączona"), (44, "Opóźnienie załączenia alarmu")]),
        ("Podświetlanie LCD", 61, 75, [(88, "Włączone"), (105, "Czas podświetlania"), (122, "Jasność")]),
        ("Sygnalizacja dźwiękowa", 139, 58, [(166, "Włączone"), (183, "Czas trwania alarmu")]),
        ("Rejestr zdarzeń", 200, 41, [(227, "Włączony")]),
    ]
    b = ""
    for title, top, height, items in rows:
        b += (f'<rect x="0.5" y="{top+0.5}" width="{w-1}" height="{height-1}" rx="4" '
              f'fill="#f7f9fc" stroke="{GRID}"/>\n')
        b += text(8, top + 13, title, 10.5, weight="bold")
        for i, (y, label) in enumerate(items):
            x = 32 if i == 0 else 10
            b += text(x, y + 4, label, 9.5)
    write("dostosuj_sekcje.svg", svg(w, h, b))


if __name__ == "__main__":
    background()
    voltages()
    times()
    apparatus("styczniki")
    apparatus("rozlaczniki")
    L, M, R = 80, 196, 312
    program(1, [(L, "t", "N1"), (M, "t", "N2"), (R, "t", "N3")])
    program(2, [(L, "t", "N1"), (M, "t", "N2"), (R, "g", "")])
    program(3, [(110, "t", "N1"), (282, "t", "N2")])
    program(4, [(110, "t", "N1"), (282, "g", "")])
    program(5, [(118, "t", "N1"), (274, "t", "N3")], split=True)
    program(10, [(L, "t", "N1")])
    program(11, [(M, "t", "N2")])
    program(12, [(R, "t", "N3")])
    shedding()
    sections()
