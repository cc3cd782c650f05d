#!/usr/bin/env python3
"""Writes the product pictures: rsc/initialImg.svg (background page and
registration logo), icon/fullLogoSVG.svg (login dialog), rsc/splash.svg and
the frames of the loading spinner (rasterised by make_rasters.sh)."""
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_bodies  # noqa: E402

ROOT = make_bodies.ROOT
A = "#ffdac3"
FONT = "DejaVu Sans"
LESIONS = [((95, 118), "#d17b74"), ((70, 176), "#9dbf9e"), ((104, 262), "#f0ad6d"), ((120, 140), "#6794a7")]


def mark(cx, cy, height, rings=True):
    """The silhouette in its scanning rings, with a few marked lesions."""
    s = height / 400.0
    tx, ty = cx - make_bodies.FW * s / 2, cy - 200 * s
    outline = make_bodies.spline(make_bodies.FRONT_OUTLINE)
    parts = []
    if rings:
        r = height * 0.62
        parts.append('<circle cx="%.1f" cy="%.1f" r="%.1f" fill="#232327" stroke="%s" stroke-width="%.1f" '
                     'stroke-opacity="0.55"/>' % (cx, cy, r, A, 2.2 * s * 2.5))
        parts.append('<circle cx="%.1f" cy="%.1f" r="%.1f" fill="none" stroke="%s" stroke-width="%.1f" '
                     'stroke-opacity="0.28" stroke-dasharray="%.1f %.1f"/>'
                     % (cx, cy, r * 1.1, A, 1.4 * s * 2.5, 6 * s * 2.5, 7 * s * 2.5))
    parts.append('<g transform="translate(%.2f %.2f) scale(%.4f)">' % (tx, ty, s))
    parts.append('<path d="%s" fill="#3a3a41" stroke="%s" stroke-width="2.4" stroke-linejoin="round"/>'
                 % (outline, A))
    parts.append('<ellipse cx="84" cy="30" rx="16.5" ry="23" fill="#3a3a41" stroke="%s" stroke-width="2.4"/>' % A)
    for (x, y), colour in LESIONS:
        parts.append('<circle cx="%d" cy="%d" r="4.2" fill="%s"/>' % (x, y, colour))
        parts.append('<circle cx="%d" cy="%d" r="9.5" fill="none" stroke="%s" stroke-width="1.8"/>' % (x, y, colour))
    parts.append('</g>')
    # the scan line across the figure
    w = height * 0.55
    parts.append('<path d="M%.1f %.1f H%.1f" stroke="%s" stroke-width="%.1f" stroke-opacity="0.7" '
                 'stroke-linecap="round"/>' % (cx - w, cy - height * 0.08, cx + w, A, max(1.2, height / 160)))
    return "\n".join(parts)


def wordmark(x, y, size, tagline=None, tag_size=None):
    parts = ['<text x="%d" y="%d" font-family="%s" font-size="%d" fill="%s" font-weight="bold">kelvaris'
             '<tspan fill="#f2f2f4" font-weight="normal">Visualizer</tspan></text>' % (x, y, FONT, size, A)]
    if tagline:
        parts.append('<text x="%d" y="%d" font-family="%s" font-size="%d" fill="#a7a7ae">%s</text>'
                     % (x + 4, y + tag_size * 2.0, FONT, tag_size, tagline))
    return "\n".join(parts)


def document(w, h, body, background=None):
    bg = '<rect width="%d" height="%d" fill="%s"/>\n' % (w, h, background) if background else ""
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">\n%s%s\n</svg>\n'
            % (w, h, w, h, bg, body))


def initial_img():
    body = "\n".join([
        mark(290, 280, 360),
        wordmark(620, 270, 104, "Total-body skin examination viewer", 38),
        '<path d="M624 300 H1530" stroke="%s" stroke-width="2" stroke-opacity="0.35"/>' % A,
    ])
    return document(1600, 560, body)


def full_logo():
    body = "\n".join([
        mark(100, 103, 128),
        '<text x="206" y="98" font-family="%s" font-size="54" font-weight="bold" fill="%s">kelvaris</text>'
        % (FONT, A),
        '<text x="208" y="150" font-family="%s" font-size="42" fill="#f2f2f4">Visualizer</text>' % FONT,
    ])
    return document(500, 206, body)


def splash():
    body = "\n".join([
        '<rect x="1.5" y="1.5" width="957" height="537" rx="18" fill="#1c1c1e" stroke="%s" stroke-width="3"/>' % A,
        mark(205, 270, 236),
        wordmark(400, 262, 52, "Total-body skin examination viewer", 24),
        '<text x="404" y="420" font-family="%s" font-size="20" fill="#8d8d94">Starting\u2026</text>' % FONT,
        '<path d="M404 440 H880" stroke="%s" stroke-width="3" stroke-opacity="0.25" stroke-linecap="round"/>' % A,
        '<path d="M404 440 H540" stroke="%s" stroke-width="3" stroke-linecap="round"/>' % A,
    ])
    return document(960, 540, body, background="#1c1c1e")


def spinner_frames(count=12, size=64):
    frames = []
    c = size / 2.0
    for f in range(count):
        parts = []
        for i in range(count):
            angle = 2 * math.pi * i / count - math.pi / 2
            age = (f - i) % count
            opacity = max(0.15, 1.0 - age / (count * 0.75))
            x1, y1 = c + math.cos(angle) * size * 0.22, c + math.sin(angle) * size * 0.22
            x2, y2 = c + math.cos(angle) * size * 0.40, c + math.sin(angle) * size * 0.40
            parts.append('<path d="M%.2f %.2f L%.2f %.2f" stroke="%s" stroke-width="%.1f" stroke-linecap="round" '
                         'stroke-opacity="%.2f"/>' % (x1, y1, x2, y2, A, size / 11.0, opacity))
        frames.append(document(size, size, "\n".join(parts)))
    return frames


def main():
    out = {"rsc/initialImg.svg": initial_img(), "icon/fullLogoSVG.svg": full_logo(), "rsc/splash.svg": splash()}
    for name, text in out.items():
        with open(os.path.join(ROOT, name), "w", encoding="utf-8") as f:
            f.write(text)
    if len(sys.argv) < 2:
        print("wrote the brand pictures")
        return
    # The spinner frames are an intermediate step of make_rasters.sh.
    frames_dir = sys.argv[1]
    os.makedirs(frames_dir, exist_ok=True)
    for i, text in enumerate(spinner_frames()):
        with open(os.path.join(frames_dir, "frame%02d.svg" % i), "w", encoding="utf-8") as f:
            f.write(text)
    print("wrote the brand pictures and the spinner frames")


if __name__ == "__main__":
    main()
