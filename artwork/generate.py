#!/usr/bin/env python3
"""Writes the SVG artwork of the mimic windows and the About box picture.

The pictures share one set of geometry rules (panel cells under the readings,
lamp rows, status bars, chart boxes, supply diagram feeders), so they are
drawn from this script instead of by hand; the SVG files it writes are
committed and compiled into the program as a resource. Run it from anywhere:
    python3 artwork/generate.py
The element positions below must agree with mimic/mimiclayouts.cpp: the live
readings, lamps, badges and charts are laid over these backgrounds.
"""
import os

OUT = os.path.dirname(os.path.abspath(__file__))
FONT = "DejaVu Sans, Liberation Sans, Arial, sans-serif"

PALE = "#F1EEE6"
BEIGE = "#E8DBB9"
GREY = "#C2C1C1"
OUTLINE = "#3C3A36"
CELL_EDGE = "#8E8C88"
BLACK = "#1F1A17"
GREEN = "#84C225"
TEAL = "#7BC4A0"
RED = "#DA251D"
UNLIT = "#DEDEDD"
UNLIT_TEXT = "#8C8C8C"


def svg(width, height, body):
    return (
        '<?xml version="1.0" encoding="UTF-8"?>\n'
        f'<svg xmlns="http://www.w3.org/2000/svg" version="1.2" baseProfile="tiny" '
        f'width="{width}" height="{height}" viewBox="0 0 {width} {height}">\n'
        + "".join("  " + line + "\n" for line in body)
        + "</svg>\n"
    )


def write(name, text):
    with open(os.path.join(OUT, name), "w", encoding="utf-8") as f:
        f.write(text)


def text(x, y, s, size, fill, bold=False, anchor="middle"):
    weight = ' font-weight="bold"' if bold else ""
    return (
        f'<text x="{x}" y="{y}" font-family="{FONT}" font-size="{size}"{weight} '
        f'fill="{fill}" text-anchor="{anchor}">{s}</text>'
    )


def rect(x, y, w, h, fill, stroke=None, sw=1, rx=0):
    s = f' stroke="{stroke}" stroke-width="{sw}"' if stroke else ""
    r = f' rx="{rx}"' if rx else ""
    return f'<rect x="{x}" y="{y}" width="{w}" height="{h}"{r} fill="{fill}"{s}/>'


def line(x1, y1, x2, y2, stroke, sw):
    return (
        f'<line x1="{x1}" y1="{y1}" x2="{x2}" y2="{y2}" stroke="{stroke}" '
        f'stroke-width="{sw}" stroke-linecap="round"/>'
    )


def circle(cx, cy, r, fill, stroke=None, sw=1):
    s = f' stroke="{stroke}" stroke-width="{sw}"' if stroke else ""
    return f'<circle cx="{cx}" cy="{cy}" r="{r}" fill="{fill}"{s}/>'


# ------------------------------------------------------------------ lamps

LAMPS = {
    "vmax": ("MAX", RED, "#FFFFFF"),
    "vok": ("OK", GREEN, BLACK),
    "vmin": ("MIN", RED, "#FFFFFF"),
}


def lamp(sub, fill, ink, edge):
    body = [
        rect(0, 0, 29, 16, GREY),
        rect(1, 1, 27, 14, fill, edge, 1, 5),
        # a soft highlight along the top makes the lamp look rounded
        f'<rect x="4" y="2.5" width="21" height="4" rx="2" fill="#FFFFFF" fill-opacity="0.28"/>',
    ]
    vx = 4.2 if len(sub) == 3 else 7.5
    body.append(text(vx, 12.2, "V", 10.5, ink, True, "start"))
    body.append(text(vx + 7.4, 13.4, sub, 5.4, ink, True, "start"))
    return svg(29, 16, body)


def write_lamps():
    for key, (sub, colour, ink) in LAMPS.items():
        write(f"lamp_{key}_on.svg", lamp(sub, colour, ink, "#5B5B5B"))
        write(f"lamp_{key}_off.svg", lamp(sub, UNLIT, UNLIT_TEXT, "#A3A3A2"))


# ------------------------------------------------------------------ badges

BADGES = {
    "a": ("#DB214C", "#FFFFFF", ["Linia zła"]),
    "b": ("#FCB57A", "#FFFFFF", ["Kwalifikacja linii", "jako złej"]),
    "c": ("#DAF09C", BLACK, ["Kwalifikacja linii", "jako dobrej"]),
    "d": (GREEN, BLACK, ["Linia dobra"]),
}


def write_badges():
    for key, (fill, ink, lines) in BADGES.items():
        body = [rect(0, 0, 99, 30, GREY), rect(1, 1, 97, 28, fill, "#6A6A6A", 1, 8)]
        if len(lines) == 1:
            body.append(text(49.5, 19.5, lines[0], 12, ink, True))
        else:
            body.append(text(49.5, 13, lines[0], 9, ink, True))
            body.append(text(49.5, 24, lines[1], 9, ink, True))
        write(f"badge_{key}.svg", svg(99, 30, body))


# ------------------------------------------------------------------ backgrounds


def panel(title, reading_x, lamp_y, badge, chart, box_top):
    """One line panel; returns (svg lines, left, right)."""
    cells = [(x - 7, x + 39) for x in reading_x]
    inner_l, inner_r = cells[0][0] - 5, cells[-1][1] + 5
    left = min(inner_l, chart[0]) - 6
    right = max(inner_r, chart[0] + 155) + 6
    centre = (left + right) / 2
    b = [
        rect(left, 12, right - left, 318, BEIGE, OUTLINE, 1.5, 4),
        text(centre, 27, title, 13, BLACK, True),
        rect(inner_l, 32, inner_r - inner_l, 96, "#D9D2BE", OUTLINE, 1),
    ]
    for (cl, cr), x in zip(cells, reading_x):
        b.append(rect(cl, 35, cr - cl, 90, GREY, CELL_EDGE, 1, 2))
        b.append(text(x + 16, 46, f"L{reading_x.index(x) + 1}", 10, BLACK, True))
        b.append(rect(x - 2, 51, 36, 16, "#000000", "#555555", 1, 1))
        # lamp sockets, a shade darker than the cell, framing where the lamps sit
        for row in range(3):
            b.append(rect(x + 1.5, lamp_y + 16 * row - 0.5, 30, 17, "none", "#A9A8A7", 1))
    bar_y = badge[1] - 2
    b.append(rect(inner_l, bar_y, inner_r - inner_l, 34, GREY, CELL_EDGE, 1, 2))
    b.append(text(inner_l + 4, bar_y + 21, "Status:", 10.5, BLACK, True, "start"))
    b.append(rect(left + 5, box_top, right - left - 10, 318 - box_top, BEIGE, OUTLINE, 1))
    return b, left, right


def background(name, size, panels, strip, box_top=181, lamp_y=72):
    w, h = size
    body = [rect(0, 0, w, h, PALE)]
    for title, rx, badge, chart in panels:
        b, _, _ = panel(title, rx, lamp_y, badge, chart, box_top)
        body += b
    sx0, sy0, sx1, sy1 = strip
    body.append(rect(sx0, sy0, sx1 - sx0, sy1 - sy0, BEIGE, OUTLINE, 1.5, 4))
    write(name, svg(w, h, body))


def write_backgrounds():
    three = [
        ("Linia N1", [32, 86, 139], (70, 132), (32, 188)),
        ("Linia N2", [231, 285, 337], (265, 132), (223, 188)),
        ("Linia N3", [429, 483, 535], (470, 132), (421, 188)),
    ]
    background("bg_prog1.svg", (601, 457), three, (14, 339, 587, 445))
    prog2 = [three[0], three[1], ("Generator",) + three[2][1:]]
    prog2[0] = ("Linia N1", [32, 86, 139], (70, 132), (25, 188))
    background("bg_prog2.svg", (601, 457), prog2, (14, 339, 587, 445))

    def two(right_title):
        return [
            ("Linia N1", [94, 146, 199], (132, 132), (85, 188)),
            (right_title, [366, 419, 472], (405, 132), (358, 188)),
        ]

    background("bg_prog3.svg", (601, 461), two("Linia N2"), (72, 342, 527, 450))
    background("bg_prog4.svg", (598, 461), two("Generator"), (72, 342, 527, 450))
    background("bg_prog5.svg", (601, 465), two("Linia N2"), (72, 342, 527, 453))

    for prog, n, size in ((10, 1, (593, 467)), (11, 2, (601, 465)), (12, 3, (593, 465))):
        one = [(f"Linia N{n}", [229, 282, 336], (268, 132), (220, 187))]
        background(f"bg_prog{prog}.svg", size, one, (72, 341, 527, 453), box_top=180, lamp_y=71)


# ------------------------------------------------------------------ supply diagrams


def feeder(fx, h, colour, closed, source="transformer"):
    """A feeder from its source down to the busbar at y = h - 16."""
    bus = h - 16
    pivot = bus - 12
    contact = pivot - 22
    b = []
    if source == "generator":
        b.append(circle(fx, 21, 14, BEIGE, colour, 2.2))
        b.append(text(fx, 26.5, "G", 15, colour, True))
        top = 35
    else:
        b.append(circle(fx, 14, 10, "none", colour, 2.2))
        b.append(circle(fx, 27, 10, "none", colour, 2.2))
        top = 37
    b.append(line(fx, top, fx, contact, colour, 2.2))
    b.append(line(fx - 5, contact, fx + 5, contact, colour, 2.2))
    if closed:
        b.append(line(fx, pivot, fx, contact, colour, 2.6))
    else:
        b.append(line(fx, pivot, fx - 13, contact + 3, colour, 2.6))
    b.append(circle(fx, pivot, 2.6, colour))
    b.append(line(fx, pivot, fx, bus, colour, 2.2))
    b.append(circle(fx, bus, 5, colour))
    return b


def diagram(name, size, feeders, bus_colour):
    """feeders: list of (x, colour, closed, source); the busbar is drawn first."""
    w, h = size
    bus = h - 16
    body = [rect(0, 0, w, h, BEIGE), line(16, bus, w - 16, bus, bus_colour, 5)]
    for fx, colour, closed, source in feeders:
        body += feeder(fx, h, colour, closed, source)
    write(name, svg(w, h, body))


def write_multi_feeder(prog, size, xs, sources, names):
    """Windows whose table picks one feeder at a time (programs 1 to 4)."""
    diagram(f"diagram_prog{prog}_off.svg", size,
            [(x, BLACK, False, s) for x, s in zip(xs, sources)], BLACK)
    for active, suffix in enumerate(names):
        feeders = [(x, GREEN if i == active else BLACK, i == active, s)
                   for i, (x, s) in enumerate(zip(xs, sources))]
        diagram(f"diagram_prog{prog}_{suffix}.svg", size, feeders, GREEN)


def coupler(name, size, left, right, coupled):
    """Program 5: two busbar sections joined by the coupler switch S.
    left/right: colour of each feeder (None: open, black);
    coupled: colour of the closed coupler (None: open)."""
    w, h = size
    bus = h - 16
    cx = w / 2
    lx, rx = 58, w - 57
    left_bus = coupled or left or BLACK
    right_bus = coupled or right or BLACK
    body = [
        rect(0, 0, w, h, BEIGE),
        line(16, bus, cx - 18, bus, left_bus, 5),
        line(cx + 18, bus, w - 16, bus, right_bus, 5),
    ]
    body += feeder(lx, h, left or BLACK, left is not None)
    body += feeder(rx, h, right or BLACK, right is not None)
    c = coupled or BLACK
    # the coupler: pivot on the left section, contact on the right one
    body.append(line(cx + 18, bus - 7, cx + 18, bus + 7, c, 2.6))
    if coupled:
        body.append(line(cx - 18, bus, cx + 18, bus, c, 3.4))
    else:
        body.append(line(cx - 18, bus, cx + 13, bus - 17, c, 3.4))
    body.append(circle(cx - 18, bus, 4, c))
    write(name, svg(w, h, body))


def write_diagrams():
    tr, gen = "transformer", "generator"
    three = [53, 248, 445]
    write_multi_feeder(1, (497, 98), three, [tr, tr, tr], ["n1", "n2", "n3"])
    write_multi_feeder(2, (497, 98), three, [tr, tr, gen], ["n1", "n2", "n3"])
    write_multi_feeder(3, (379, 98), [47, 320], [tr, tr], ["n1", "n2"])
    write_multi_feeder(4, (379, 100), [47, 320], [tr, gen], ["n1", "n3"])
    size5 = (388, 95)
    coupler("diagram_prog5_off.svg", size5, None, None, None)
    coupler("diagram_prog5_a4.svg", size5, GREEN, TEAL, None)
    coupler("diagram_prog5_a5.svg", size5, GREEN, None, GREEN)
    coupler("diagram_prog5_a6.svg", size5, None, TEAL, TEAL)
    for prog, n, size in ((10, 1, (386, 95)), (11, 2, (385, 96)), (12, 3, (385, 96))):
        fx = size[0] / 2
        diagram(f"diagram_prog{prog}_off.svg", size, [(fx, BLACK, False, tr)], BLACK)
        diagram(f"diagram_prog{prog}_n{n}.svg", size, [(fx, GREEN, True, tr)], GREEN)


# ------------------------------------------------------------------ About box


def write_front_panel():
    w, h = 150, 120
    body = [rect(0, 0, w, h, "#EEF1F4")]
    # pale diagonal hatching as the backdrop
    for i in range(-h, w, 7):
        body.append(f'<line x1="{i}" y1="{h}" x2="{i + h}" y2="0" stroke="#DCE3EA" stroke-width="2"/>')
    body.append(rect(17, 8, 116, 104, "#000000", None, 0, 6).replace('fill="#000000"',
                                                                      'fill="#000000" fill-opacity="0.12"'))
    body.append(rect(15, 6, 116, 104, "#D8D8D4", "#4A4A48", 1.2, 6))
    for y in (9, 97):  # terminal rows along the top and bottom edges
        body.append(rect(21, y, 104, 10, "#5E6A74", "#3A4148", 0.8, 1))
        for k in range(9):
            cx = 27 + k * 11.5
            body.append(circle(cx, y + 5, 3.2, "#C9CCCF", "#3A4148", 0.6))
            body.append(line(cx - 2, y + 5, cx + 2, y + 5, "#3A4148", 0.8))
    body.append(rect(29, 25, 88, 30, "#3F4A3A", "#2A2A2A", 1, 2))
    body.append(rect(32, 28, 82, 24, "#A8C46E", None, 0, 1))
    body.append(text(73, 38.5, "QTA-504", 9, "#22301A", True))
    body.append(text(73, 48.5, "N1 230V  N2 ---", 7, "#22301A", False))
    keys = ["ESC", "▲", "▼", "OK"]
    for k, label in enumerate(keys):
        x = 31 + k * 22
        body.append(rect(x, 62, 18, 13, "#6F7B86", "#3A4148", 0.8, 3))
        body.append(text(x + 9, 71.5, label, 6.5 if len(label) > 1 else 7, "#FFFFFF", True))
    for k, (label, colour) in enumerate((("N1", GREEN), ("N2", "#6F6F6F"), ("N3", RED))):
        x = 45 + k * 28
        body.append(circle(x, 85, 3, colour, "#3A3A3A", 0.6))
        body.append(text(x + 9, 87.5, label, 6.5, BLACK, True))
    write("front_panel.svg", svg(w, h, body))


def write_qrc():
    files = sorted(f for f in os.listdir(OUT) if f.endswith(".svg"))
    lines = ["<RCC>", '  <qresource prefix="/artwork">']
    lines += [f"    <file>{f}</file>" for f in files]
    lines += ["  </qresource>", "</RCC>", ""]
    write("artwork.qrc", "\n".join(lines))


if __name__ == "__main__":
    write_lamps()
    write_badges()
    write_backgrounds()
    write_diagrams()
    write_front_panel()
    write_qrc()
