#!/usr/bin/env python3
"""Writes the four body silhouettes rsc/frontal.svg, back.svg, right.svg, left.svg.

Each outline runs through anatomical landmarks (about 7.5 heads tall, arms
slightly away from the body as a scanner poses the patient) joined by a closed
Catmull-Rom spline. The pictures are about 0.4 wide per unit of height, so the
body maps and scheme boxes that place them by their bounding box fit them.
Colours are fill="#rrggbb" / stroke="#rrggbb" attributes so they can be recoloured.
"""
import os

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FILL = "#34343a"
LINE = "#ffdac3"
H = 400


def spline(points, closed=True):
    """Catmull-Rom through the points, as cubic Bezier path data."""
    n = len(points)
    out = ["M%.1f %.1f" % points[0]]
    last = n if closed else n - 1
    for i in range(last):
        p0 = points[(i - 1) % n] if (closed or i > 0) else points[i]
        p1 = points[i]
        p2 = points[(i + 1) % n]
        p3 = points[(i + 2) % n] if (closed or i + 2 < n) else p2
        c1 = (p1[0] + (p2[0] - p0[0]) / 6.0, p1[1] + (p2[1] - p0[1]) / 6.0)
        c2 = (p2[0] - (p3[0] - p1[0]) / 6.0, p2[1] - (p3[1] - p1[1]) / 6.0)
        out.append("C%.1f %.1f %.1f %.1f %.1f %.1f" % (c1 + c2 + p2))
    if closed:
        out.append("Z")
    return " ".join(out)


def mirror(points, width):
    return [(width - x, y) for (x, y) in points]


def document(width, parts):
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">\n%s\n</svg>\n'
            % (width, H, width, H, "\n".join(parts)))


def body(d):
    return '  <path d="%s" fill="%s" stroke="%s" stroke-width="1.6" stroke-linejoin="round"/>' % (d, FILL, LINE)


def detail(d):
    return ('  <path d="%s" fill="none" stroke="%s" stroke-width="1.1" stroke-opacity="0.45" '
            'stroke-linecap="round"/>' % (d, LINE))


# Front and back: the viewer's right half from the neck to the crotch, 168 wide.
FW = 168
HALF = [
    (92, 54), (93, 66),                       # neck
    (104, 72), (118, 76),                     # trapezius
    (127, 80), (133, 91),                     # shoulder, deltoid
    (137, 111), (140, 135), (144, 158),       # upper arm, elbow
    (149, 180), (153, 199), (155, 210),       # forearm, wrist
    (159, 225), (161, 241), (157, 253), (151, 254),  # hand, finger tips
    (148, 240), (146, 224), (143, 211),       # palm side, wrist
    (138, 189), (133, 167), (130, 156),       # forearm, elbow
    (126, 131), (121, 109), (117, 101),       # upper arm, armpit
    (116, 113), (114, 136), (110, 158),       # chest, ribs, waist
    (113, 178), (118, 198),                   # hip
    (118, 221), (115, 250), (109, 285),       # thigh
    (107, 300), (110, 322), (106, 346),       # knee, calf
    (100, 370), (99, 381), (104, 390),        # ankle
    (101, 396), (90, 396),                    # foot
    (89, 381), (89, 370), (90, 346),          # inner ankle, calf
    (92, 322), (91, 300), (90, 286),          # inner knee
    (89, 250), (87, 221), (84, 207),          # inner thigh, crotch
]
FRONT_OUTLINE = HALF + list(reversed(mirror(HALF, FW)))[1:]
HEAD = '  <ellipse cx="84" cy="30" rx="16.5" ry="23" fill="%s" stroke="%s" stroke-width="1.6"/>' % (FILL, LINE)


def frontal():
    return document(FW, [
        body(spline(FRONT_OUTLINE)), HEAD,
        detail("M73 74 C78 77 82 78 84 78 C86 78 90 77 95 74"),            # clavicles
        detail("M66 104 C72 114 80 116 84 112 C88 116 96 114 102 104"),    # chest
        detail("M84 120 V148"),                                           # sternum line
        '  <circle cx="84" cy="160" r="1.6" fill="%s" fill-opacity="0.55"/>' % LINE,  # navel
        detail("M70 190 C76 198 80 203 84 207 C88 203 92 198 98 190"),     # groin
        detail("M69 292 C71 296 75 297 77 294 M91 294 C93 297 97 296 99 292"),  # knee caps
    ])


def back():
    return document(FW, [
        body(spline(FRONT_OUTLINE)), HEAD,
        detail("M84 66 V186"),                                            # spine
        detail("M66 88 C62 100 66 114 76 118 M102 88 C106 100 102 114 92 118"),  # shoulder blades
        detail("M70 166 C76 170 80 170 84 168 C88 170 92 170 98 166"),     # lower back dimples
        detail("M84 190 V210 M68 214 C74 218 80 217 84 212 C88 217 94 218 100 214"),  # gluteal cleft, folds
        detail("M70 298 H78 M90 298 H98"),                                # knee pits
    ])


# Side: the patient's right side, facing the viewer's right, 160 wide.
SW_ = 160
SIDE = [
    (78, 7), (91, 12), (96, 25), (100, 34), (96, 41), (94, 50), (86, 55),   # head, face, chin
    (88, 62), (91, 70),                                                    # throat
    (97, 78), (104, 94), (106, 108), (101, 124),                           # chest
    (100, 142), (103, 162), (101, 182), (96, 199),                         # belly
    (99, 222), (98, 252), (95, 287), (96, 300),                            # thigh, knee
    (92, 330), (87, 360), (85, 376),                                       # shin, ankle
    (94, 385), (108, 391), (106, 396), (73, 396), (69, 388),               # foot, heel
    (72, 372), (68, 346), (67, 320), (69, 296),                            # achilles, calf, knee pit
    (63, 262), (57, 224), (51, 206), (51, 186),                            # thigh back, buttock
    (58, 162), (57, 136), (55, 106), (58, 86),                             # lower and upper back
    (66, 66), (66, 50), (61, 34), (64, 18),                                # neck, back of the head
]
ARM = [
    (64, 84), (78, 74), (92, 83), (91, 112), (88, 156), (93, 186), (95, 207),
    (99, 230), (94, 252), (86, 248), (82, 210), (77, 184), (71, 160), (64, 126), (61, 100),
]


def side(facing_right):
    outline = SIDE if facing_right else mirror(SIDE, SW_)
    arm = ARM if facing_right else mirror(ARM, SW_)
    ear = (70, 31) if facing_right else (SW_ - 70, 31)
    return document(SW_, [
        body(spline(outline)),
        body(spline(arm)),
        '  <ellipse cx="%d" cy="%d" rx="3.6" ry="5.5" fill="none" stroke="%s" stroke-width="1.1" '
        'stroke-opacity="0.45"/>' % (ear[0], ear[1], LINE),
    ])


def main():
    files = {"rsc/frontal.svg": frontal(), "rsc/back.svg": back(),
             "rsc/right.svg": side(True), "rsc/left.svg": side(False)}
    for name, text in files.items():
        path = os.path.join(ROOT, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
    print("wrote %d silhouettes" % len(files))


if __name__ == "__main__":
    main()
