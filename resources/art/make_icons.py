#!/usr/bin/env python3
"""Writes the program's SVG icon set into resources/.

One visual language for every icon: 24-unit line glyphs, round caps, the accent
colour at rest. Colours are written only as fill="#rrggbb" / stroke="#rrggbb"
attributes, because the program recolours icons by rewriting exactly those.
Icons that stand for an active state ("...Clicked", the hover icon of the exit
button) are dark glyphs on an accent chip, so they read as pressed on any
background. Run from anywhere: python3 resources/art/make_icons.py
"""
import os

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
A = "#ffdac3"   # accent
D = "#1c1c1e"   # window background, used for glyphs on a chip
SW = "1.8"      # glyph stroke width


def svg(body, size=64, view=24):
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">\n%s\n</svg>\n'
            % (size, size, view, view, body))


def line(d, color=A, width=SW):
    return ('  <path d="%s" fill="none" stroke="%s" stroke-width="%s" '
            'stroke-linecap="round" stroke-linejoin="round"/>' % (d, color, width))


def shape(d, color=A):
    return '  <path d="%s" fill="%s"/>' % (d, color)


def circle(cx, cy, r, stroke=A, fill="none", width=SW):
    if stroke == "none":
        return '  <circle cx="%s" cy="%s" r="%s" fill="%s"/>' % (cx, cy, r, fill)
    return ('  <circle cx="%s" cy="%s" r="%s" fill="%s" stroke="%s" stroke-width="%s"/>'
            % (cx, cy, r, fill, stroke, width))


def rect(x, y, w, h, rx=1.5, stroke=A, fill="none", width=SW):
    if stroke == "none":
        return '  <rect x="%s" y="%s" width="%s" height="%s" rx="%s" fill="%s"/>' % (x, y, w, h, rx, fill)
    return ('  <rect x="%s" y="%s" width="%s" height="%s" rx="%s" fill="%s" stroke="%s" stroke-width="%s"/>'
            % (x, y, w, h, rx, fill, stroke, width))


def chip(*glyph):
    return "\n".join([rect(1, 1, 22, 22, rx=5, stroke="none", fill=A)] + list(glyph))


MAGNIFIER = line("M15.2 15.2 L20.5 20.5") + "\n" + circle(10.5, 10.5, 6.3)
EYE = "M2.5 12 C5 7.2 8.5 5.6 12 5.6 C15.5 5.6 19 7.2 21.5 12 C19 16.8 15.5 18.4 12 18.4 C8.5 18.4 5 16.8 2.5 12 Z"
HASH = "M9.5 4.5 L8 19.5 M16 4.5 L14.5 19.5 M5 9.5 H19.5 M4.5 14.5 H19"
FLOPPY = ("M5.5 4 H15.5 L20 8.5 V18.5 A1.5 1.5 0 0 1 18.5 20 H5.5 A1.5 1.5 0 0 1 4 18.5 V5.5 "
          "A1.5 1.5 0 0 1 5.5 4 Z M8 4 V8.5 H14.5 V4 M7.5 20 V14 H16.5 V20")
UTURN = "M9 13.5 L4.5 9 L9 4.5 M4.5 9 H14.5 A5 5 0 0 1 14.5 19 H10.5"
FIGURE = "M12 8.2 V14.6 M8.2 10.4 L12 9.2 L15.8 10.4 M12 14.6 L9.6 20.5 M12 14.6 L14.4 20.5"
LINK = ("M10.6 13.4 L13.4 10.6 M9 11.5 L6.9 13.6 A3.2 3.2 0 0 0 11.4 18.1 L13.5 16 "
        "M15 12.5 L17.1 10.4 A3.2 3.2 0 0 0 12.6 5.9 L10.5 8")

ICONS = {
    # window chrome
    "icon/closeWindow.svg": line("M6.5 6.5 L17.5 17.5 M17.5 6.5 L6.5 17.5"),
    "icon/minimizeWindow.svg": line("M6 12.5 L18 12.5"),
    "icon/maximizeWindow.svg": rect(6.5, 6.5, 11, 11, rx=1.6),
    "icon/closeMessage.svg": "\n".join([circle(12, 12, 9, fill="#2c2c30", width="1.5"),
                                        line("M9 9 L15 15 M15 9 L9 15", width="1.6")]),
    # top bar
    "icon/searchIcon.svg": MAGNIFIER,
    "icon/iconHybrid.svg": "\n".join([rect(2.5, 4, 19, 16, rx=2), line("M10 4 V20 M10 12 H21.5"),
                                      circle(6.25, 8.3, 1.3, stroke="none", fill=A),
                                      line("M6.25 10.6 V15.2 M4.8 12 H7.7", width="1.4")]),
    "icon/iconCompare.svg": "\n".join([rect(2.5, 4.5, 8.5, 15, rx=1.6), rect(13, 4.5, 8.5, 15, rx=1.6),
                                       circle(6.75, 8.6, 1.3, stroke="none", fill=A),
                                       circle(17.25, 8.6, 1.3, stroke="none", fill=A),
                                       line("M6.75 10.9 V15.8 M17.25 10.9 V15.8", width="1.4")]),
    "icon/iconDermatoCompare.svg": "\n".join([circle(12, 10, 7), circle(12, 10, 4.2, width="1.2"),
                                              shape("M11 8.6 C12.4 7.6 14 8.6 13.6 10.2 C13.3 11.6 11.6 "
                                                    "12 10.8 11 C10.2 10.3 10.3 9.2 11 8.6 Z"),
                                              line("M10.3 17 H13.7 M12 17 V21.5")]),
    "icon/save.svg": line(FLOPPY),
    "icon/addImgs.svg": "\n".join([line("M6 5.5 V4.5 A1.5 1.5 0 0 1 7.5 3 H19.5 A1.5 1.5 0 0 1 21 4.5 V14 "
                                        "A1.5 1.5 0 0 1 19.5 15.5 H18.5"),
                                   rect(3, 7.5, 13.5, 11, rx=1.5),
                                   line("M5.5 16 L8.8 12.4 L11 14.6 L12.4 13.2 L14.2 15.2", width="1.4"),
                                   circle(18.5, 19, 4, stroke="none", fill=A),
                                   line("M18.5 17 V21 M16.5 19 H20.5", color=D, width="1.6")]),
    "icon/addPatient.svg": "\n".join([circle(9.5, 8, 3.6),
                                      line("M3 20 C3 15.6 6 13.6 9.5 13.6 C13 13.6 16 15.6 16 20"),
                                      line("M19 7 V13 M16 10 H22")]),
    "icon/iconReportList.svg": "\n".join([rect(4, 3, 16, 18, rx=2),
                                          circle(7.8, 8, 1, stroke="none", fill=A),
                                          circle(7.8, 12, 1, stroke="none", fill=A),
                                          circle(7.8, 16, 1, stroke="none", fill=A),
                                          line("M10.5 8 H16.5 M10.5 12 H16.5 M10.5 16 H14.5")]),
    "icon/iconReport.svg": "\n".join([line("M13.5 3 H6.5 A1.5 1.5 0 0 0 5 4.5 V19.5 A1.5 1.5 0 0 0 6.5 21 "
                                           "H17.5 A1.5 1.5 0 0 0 19 19.5 V8.5 Z M13.5 3 V8.5 H19"),
                                      line("M12 11.5 V17.5 M9 14.5 H15")]),
    "icon/logout.svg": line("M13 4 H6.5 A1.5 1.5 0 0 0 5 5.5 V18.5 A1.5 1.5 0 0 0 6.5 20 H13 "
                            "M10 12 H20 M16.5 8.5 L20 12 L16.5 15.5"),
    "topBarIcons/returnC.svg": line(UTURN),
    "icon/return.svg": chip(line(UTURN, color=D)),
    "icon/resource/icon/qr.svg": "\n".join([rect(3, 3, 7, 7, rx=1), rect(14, 3, 7, 7, rx=1), rect(3, 14, 7, 7, rx=1),
                                            rect(5.5, 5.5, 2, 2, rx=0.3, stroke="none", fill=A),
                                            rect(16.5, 5.5, 2, 2, rx=0.3, stroke="none", fill=A),
                                            rect(5.5, 16.5, 2, 2, rx=0.3, stroke="none", fill=A),
                                            rect(13.5, 13.5, 3, 3, rx=0.4, stroke="none", fill=A),
                                            rect(18, 13.5, 3, 3, rx=0.4, stroke="none", fill=A),
                                            rect(13.5, 18, 3, 3, rx=0.4, stroke="none", fill=A),
                                            rect(18, 18, 3, 3, rx=0.4, stroke="none", fill=A)]),
    # tool bars of the views
    "icon/addIcon.svg": MAGNIFIER + "\n" + line("M8 10.5 H13 M10.5 8 V13"),
    "icon/minusIcon.svg": MAGNIFIER + "\n" + line("M8 10.5 H13"),
    "icon/fitInViewIcon.svg": "\n".join([line("M4 9 V4 H9 M15 4 H20 V9 M20 15 V20 H15 M9 20 H4 V15"),
                                         rect(9, 9, 6, 6, rx=1, width="1.4")]),
    "icon/compareDermato.svg": "\n".join([circle(7.5, 12, 5), circle(16.5, 12, 5),
                                          circle(7.5, 12, 1.6, stroke="none", fill=A),
                                          circle(16.5, 12, 1.6, stroke="none", fill=A)]),
    "icon/edit.svg": line("M4 20 L5 15.5 L15.8 4.7 A1.8 1.8 0 0 1 18.3 4.7 L19.3 5.7 A1.8 1.8 0 0 1 19.3 8.2 "
                          "L8.5 19 Z M14 6.5 L17.5 10"),
    "icon/hide.svg": "\n".join([line(EYE), circle(12, 12, 3)]),
    "icon/hideClicked.svg": chip(line(EYE, color=D), circle(12, 12, 3, stroke=D),
                                 line("M4.5 19.5 L19.5 4.5", color=D)),
    "icon/hideNumber.svg": line(HASH),
    "icon/hideNumberClicked.svg": chip(line(HASH, color=D), line("M4 20 L20 4", color=D)),
    "icon/pair.svg": line(LINK),
    "icon/superposition.svg": "\n".join([rect(3.5, 3.5, 11.5, 11.5, rx=1.8),
                                         rect(9, 9, 11.5, 11.5, rx=1.8),
                                         rect(9, 9, 6, 6, rx=0.8, stroke="none", fill=A)]),
    "icon/ascendingOrder.svg": line("M4 7 H9 M4 12 H12.5 M4 17 H16 M19.5 19 V5 M16.8 7.7 L19.5 5 L22.2 7.7"),
    "icon/descendingOrder.svg": line("M4 7 H16 M4 12 H12.5 M4 17 H9 M19.5 5 V19 M16.8 16.3 L19.5 19 L22.2 16.3"),
    "icon/position.svg": "\n".join([circle(12, 5.2, 2.3), line(FIGURE)]),
    "icon/label.svg": "\n".join([line("M3.5 11.8 V5 A1.5 1.5 0 0 1 5 3.5 H11.8 L20.5 12.2 L12.2 20.5 Z"),
                                 circle(8, 8, 1.5, stroke="none", fill=A)]),
    "icon/filter.svg": line("M4 5 H20 L14 12.5 V18.5 L10 20 V12.5 Z"),
    "icon/checked.svg": "\n".join([rect(3, 3, 18, 18, rx=4, width="2.2"), line("M7.5 12.3 L10.6 15.3 L16.5 9", width="2.4")]),
    "icon/unchecked.svg": rect(3, 3, 18, 18, rx=4, width="2.2"),
    "icon/triangleBottom.svg": shape("M5.5 8.5 H18.5 L12 16.5 Z"),
    "icon/triangleRight.svg": shape("M8.5 5.5 L16.5 12 L8.5 18.5 Z"),
    "icon/empty.svg": "\n".join([rect(2, 6.5, 20, 11, rx=5.5), circle(7.5, 12, 3.2)]),
    "icon/full.svg": "\n".join([rect(2, 6.5, 20, 11, rx=5.5, stroke="none", fill=A),
                                circle(16.5, 12, 3.4, stroke="none", fill=D)]),
    # dermatoscopic viewer and comparison
    "icon/imgParameters.svg": "\n".join([line("M4 7 H20 M4 12 H20 M4 17 H20"),
                                         circle(9, 7, 2.1, fill=D), circle(15.5, 12, 2.1, fill=D),
                                         circle(7, 17, 2.1, fill=D)]),
    "icon/brightness.svg": "\n".join([circle(12, 12, 4),
                                      line("M12 2.5 V4.8 M12 19.2 V21.5 M2.5 12 H4.8 M19.2 12 H21.5 "
                                           "M5.3 5.3 L6.9 6.9 M17.1 17.1 L18.7 18.7 M5.3 18.7 L6.9 17.1 "
                                           "M17.1 6.9 L18.7 5.3")]),
    "icon/contrast.svg": "\n".join([circle(12, 12, 8.5), shape("M12 3.5 A8.5 8.5 0 0 1 12 20.5 Z")]),
    "icon/moveIMG.svg": line("M12 3 V21 M3 12 H21 M9.5 5.5 L12 3 L14.5 5.5 M9.5 18.5 L12 21 L14.5 18.5 "
                             "M5.5 9.5 L3 12 L5.5 14.5 M18.5 9.5 L21 12 L18.5 14.5"),
    "icon/diagonalArrow.svg": line("M6 18 L18 6 M10 6 H18 V14"),
    # lesion menus and dialogs
    "icon/ExplorerPhoto.svg": "\n".join([line("M3 7 V18 A1.5 1.5 0 0 0 4.5 19.5 H19.5 A1.5 1.5 0 0 0 21 18 V9 "
                                              "A1.5 1.5 0 0 0 19.5 7.5 H12 L10 5 H4.5 A1.5 1.5 0 0 0 3 6.5 Z"),
                                         line("M7 16.5 L10.2 12.8 L12.6 15.2 L14.2 13.6 L17 16.5", width="1.5"),
                                         circle(15.8, 10.6, 1.2, stroke="none", fill=A)]),
    "icon/MobilePhoto.svg": "\n".join([rect(6.5, 2.5, 11, 19, rx=2.2), circle(12, 11, 2.8),
                                       line("M10.5 5.3 H13.5 M11 18.5 H13")]),
    "icon/delete.svg": line("M4.5 7 H19.5 M9.5 7 V4.5 H14.5 V7 M6.5 7 L7.5 20 H16.5 L17.5 7 M10.2 10.5 V16.5 "
                            "M13.8 10.5 V16.5"),
    "icon/uplaod.svg": line("M12 15.5 V4 M7.5 8.5 L12 4 L16.5 8.5 M4.5 15 V18.5 A1.5 1.5 0 0 0 6 20 H18 "
                            "A1.5 1.5 0 0 0 19.5 18.5 V15"),
    "icon/download.svg": line("M12 4 V15.5 M7.5 11 L12 15.5 L16.5 11 M4.5 15 V18.5 A1.5 1.5 0 0 0 6 20 H18 "
                              "A1.5 1.5 0 0 0 19.5 18.5 V15"),
    "icon/arrow.svg": line("M19 12 H5 M11 6 L5 12 L11 18"),
    "icon/reset.svg": line("M4.8 12 A7.2 7.2 0 1 0 7 6.8 M4.5 3.5 V7.5 H8.5"),
    # reports
    "icon/print.svg": "\n".join([line("M7 9 V4 H17 V9"), rect(3.5, 9, 17, 8, rx=2),
                                 line("M7 14 H17 V20 H7 Z"), circle(17, 12, 0.9, stroke="none", fill=A)]),
    "icon/upload.svg": line("M7 18.5 H6.5 A4 4 0 0 1 6 10.5 A6 6 0 0 1 17.6 9 A4.8 4.8 0 0 1 17.5 18.5 H17 "
                            "M12 20 V12.5 M9 15.5 L12 12.5 L15 15.5"),
    "icon/fullscreen.svg": line("M4 9 V4 H9 M4 4 L9.5 9.5 M20 9 V4 H15 M20 4 L14.5 9.5 M4 15 V20 H9 "
                                "M4 20 L9.5 14.5 M20 15 V20 H15 M20 20 L14.5 14.5"),
    "icon/reduce.svg": line("M9.5 4 V9.5 H4 M4 4 L9.5 9.5 M14.5 4 V9.5 H20 M20 4 L14.5 9.5 M9.5 20 V14.5 H4 "
                            "M4 20 L9.5 14.5 M14.5 20 V14.5 H20 M20 20 L14.5 14.5"),
    "icon/tickGreen.svg": line("M5 12.5 L10 17.5 L19 7", color="#9dbf9e", width="2.4"),
    "icon/tickWhite.svg": "\n".join([circle(12, 12, 10.5, stroke="none", fill="#9dbf9e"),
                                     line("M6.8 12.4 L10.4 16 L17.4 8.6", color="#ffffff", width="2.4")]),
    # clinical view menus
    "menu/createNew.svg": "\n".join([circle(12, 12, 6.5), line("M12 2.5 V5 M12 19 V21.5 M2.5 12 H5 M19 12 H21.5"),
                                     line("M12 9.3 V14.7 M9.3 12 H14.7", width="1.6")]),
    "menu/info.svg": "\n".join([circle(12, 12, 9), line("M12 11 V17"), circle(12, 7.6, 1.15, stroke="none", fill=A)]),
    "menu/save.svg": line(FLOPPY),
    # pictures used in views and dialogs
    "rsc/externalButtonIcon.svg": "\n".join([rect(2.5, 6, 15, 12.5, rx=1.6),
                                             line("M5 16 L8.6 12 L11 14.4 L12.6 12.8 L15 15.4", width="1.5"),
                                             line("M19.5 2.5 V8.5 M16.5 5.5 H22.5")]),
    "rsc/resource/camera.svg": "\n".join([line("M4.5 7.5 H7.5 L9.2 4.8 H14.8 L16.5 7.5 H19.5 A2 2 0 0 1 21.5 9.5 "
                                               "V18 A2 2 0 0 1 19.5 20 H4.5 A2 2 0 0 1 2.5 18 V9.5 "
                                               "A2 2 0 0 1 4.5 7.5 Z"),
                                          circle(12, 13.5, 3.8), circle(18.3, 10.3, 0.9, stroke="none", fill=A)]),
    "rsc/resource/icon/showAllLines.svg": "\n".join(
        [rect(3 + 6.5 * c, 3 + 6.5 * r, 4.5, 4.5, rx=0.8, width="1.5") for r in range(3) for c in range(3)]),
}

# Legend icons of the lesion labels: a marker ring around a spot in the
# label's colour. The coloured icon rings it in the accent colour for dark
# backgrounds; the plain one rings it dark for the accent (hovered, checked)
# background of the lesion menu.
LABELS = {"D": "#a09393", "C": "#9dbf9e", "E": "#d17b74", "F": "#9e7b9b", "C1": "#f0ad6d", "C2": "#6794a7"}
for key, colour in LABELS.items():
    ICONS["legendIcons/icon%sColor.svg" % key] = "\n".join(
        [circle(12, 12, 9, stroke=A, width="1.6"), circle(12, 12, 5.6, stroke="none", fill=colour)])
    ICONS["legendIcons/icon%s.svg" % key] = "\n".join(
        [circle(12, 12, 9, stroke=D, width="1.6"), circle(12, 12, 5.6, stroke=D, fill=colour, width="1.2")])


def main():
    for name, body in ICONS.items():
        path = os.path.join(ROOT, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(svg(body))
    print("wrote %d icons" % len(ICONS))


if __name__ == "__main__":
    main()
