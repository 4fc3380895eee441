#!/usr/bin/env python3
"""Draws the images of Velmora.

resources/Velmora48x48.png            the application icon: a white padlock on
                                      a blue shield (48 x 48, RGBA)
resources/Velmora.svg                 the same icon as a scalable drawing, for
                                      the desktop's icon theme
resources/Velmora_BackGround_Logos.png the OTP view's background: a pale blue
                                      strip with soft waves along the bottom,
                                      seamless when repeated along x (391 x 268, RGBA)

Run with a Python that has Pillow:  python3 scripts/render_images.py
The output is deterministic, so running it again reproduces the committed files.
"""

import math
import os

from PIL import Image, ImageDraw

HERE = os.path.dirname(os.path.abspath(__file__))
RESOURCES = os.path.join(HERE, os.pardir, "resources")

# Drawn this many times larger, then scaled down, for smooth edges.
SUPERSAMPLE = 4

SHIELD_TOP = (74, 140, 222)
SHIELD_BOTTOM = (26, 72, 140)
SHIELD_EDGE = (18, 50, 100)
SHIELD_RIM = (170, 205, 245)
LOCK_WHITE = (250, 252, 255)
KEYHOLE = (30, 78, 150)


def lerp(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def bezier(p0, p1, p2, steps=32):
    """Points of a quadratic Bezier curve from p0 to p2 (p0 excluded)."""
    points = []
    for i in range(1, steps + 1):
        t = i / steps
        u = 1 - t
        points.append((u * u * p0[0] + 2 * u * t * p1[0] + t * t * p2[0],
                       u * u * p0[1] + 2 * u * t * p1[1] + t * t * p2[1]))
    return points


def shield_outline(size, inset):
    """A heater shield with a gently arched top, inset by `inset` pixels."""
    s = size / 48.0
    left, right = 5 * s + inset, 43 * s - inset
    top, shoulder = 4 * s + inset, 22 * s
    tip = (24 * s, 46 * s - inset * 1.4)
    middle = 24 * s
    points = [(left, top + 2 * s)]
    points += bezier((left, top + 2 * s), (middle, top - 2 * s), (right, top + 2 * s))
    points.append((right, shoulder))
    points += bezier((right, shoulder), (right, 38 * s - inset), tip)
    points += bezier(tip, (left, 38 * s - inset), (left, shoulder))
    return points


def vertical_gradient(size, top, bottom):
    image = Image.new("RGBA", size)
    draw = ImageDraw.Draw(image)
    for y in range(size[1]):
        draw.line([(0, y), (size[0], y)], fill=lerp(top, bottom, y / max(1, size[1] - 1)) + (255,))
    return image


def draw_icon():
    size = 48 * SUPERSAMPLE
    s = SUPERSAMPLE
    icon = Image.new("RGBA", (size, size), (0, 0, 0, 0))

    # Shield: dark edge, then the gradient body, then a thin light rim inside it.
    mask = Image.new("L", (size, size), 0)
    ImageDraw.Draw(mask).polygon(shield_outline(size, 0), fill=255)
    icon.paste(Image.new("RGBA", (size, size), SHIELD_EDGE + (255,)), (0, 0), mask)
    body = Image.new("L", (size, size), 0)
    ImageDraw.Draw(body).polygon(shield_outline(size, 1.5 * s), fill=255)
    icon.paste(vertical_gradient((size, size), SHIELD_TOP, SHIELD_BOTTOM), (0, 0), body)
    draw = ImageDraw.Draw(icon)
    draw.line(shield_outline(size, 2.6 * s) + [shield_outline(size, 2.6 * s)[0]],
              fill=SHIELD_RIM + (150,), width=int(0.8 * s), joint="curve")

    # Padlock: shackle, body, keyhole.
    cx = 24 * s
    radius = 6.2 * s
    thickness = 2.6 * s
    shackle_y = 17.5 * s
    box = [cx - radius, shackle_y - radius, cx + radius, shackle_y + radius]
    draw.arc(box, 180, 360, fill=LOCK_WHITE + (255,), width=int(thickness))
    for x in (cx - radius, cx + radius - thickness):
        draw.rectangle([x, shackle_y, x + thickness, 23 * s], fill=LOCK_WHITE + (255,))
    draw.rounded_rectangle([14.5 * s, 21.5 * s, 33.5 * s, 35.5 * s], radius=2.5 * s,
                           fill=LOCK_WHITE + (255,))
    draw.ellipse([cx - 2.3 * s, 25 * s, cx + 2.3 * s, 29.6 * s], fill=KEYHOLE + (255,))
    draw.polygon([(cx - 1.2 * s, 28 * s), (cx + 1.2 * s, 28 * s), (cx + 1.8 * s, 33 * s),
                  (cx - 1.8 * s, 33 * s)], fill=KEYHOLE + (255,))

    return icon.resize((48, 48), Image.LANCZOS)


def svg_points(points):
    return " ".join(f"{x:.2f},{y:.2f}" for x, y in points)


def svg_colour(colour):
    return "#%02x%02x%02x" % colour


def draw_icon_svg():
    """The icon of draw_icon() as SVG, from the same shapes on a 48-unit grid."""
    cx, radius, thickness, shackle_y = 24, 6.2, 2.6, 17.5
    middle = radius - thickness / 2  # PIL draws an arc's width inward from its box
    white = svg_colour(LOCK_WHITE)
    keyhole = svg_colour(KEYHOLE)
    legs = "\n".join(
        f'  <rect x="{x:.2f}" y="{shackle_y}" width="{thickness}" height="{23 - shackle_y}" fill="{white}"/>'
        for x in (cx - radius, cx + radius - thickness))
    return f"""<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="48" height="48" viewBox="0 0 48 48">
  <title>Velmora</title>
  <defs>
    <linearGradient id="body" gradientUnits="userSpaceOnUse" x1="0" y1="0" x2="0" y2="48">
      <stop offset="0" stop-color="{svg_colour(SHIELD_TOP)}"/>
      <stop offset="1" stop-color="{svg_colour(SHIELD_BOTTOM)}"/>
    </linearGradient>
  </defs>
  <polygon points="{svg_points(shield_outline(48, 0))}" fill="{svg_colour(SHIELD_EDGE)}"/>
  <polygon points="{svg_points(shield_outline(48, 1.5))}" fill="url(#body)"/>
  <polygon points="{svg_points(shield_outline(48, 2.6))}" fill="none" stroke="{svg_colour(SHIELD_RIM)}" stroke-opacity="{150 / 255:.3f}" stroke-width="0.8" stroke-linejoin="round"/>
  <path d="M {cx - middle:.2f},{shackle_y} A {middle:.2f},{middle:.2f} 0 0 1 {cx + middle:.2f},{shackle_y}" fill="none" stroke="{white}" stroke-width="{thickness}"/>
{legs}
  <rect x="14.5" y="21.5" width="19" height="14" rx="2.5" fill="{white}"/>
  <circle cx="{cx}" cy="27.3" r="2.3" fill="{keyhole}"/>
  <polygon points="{svg_points([(cx - 1.2, 28), (cx + 1.2, 28), (cx + 1.8, 33), (cx - 1.8, 33)])}" fill="{keyhole}"/>
</svg>
"""


def draw_background():
    width, height = 391, 268
    s = SUPERSAMPLE
    w, h = width * s, height * s
    background = vertical_gradient((w, h), (244, 248, 253), (214, 228, 244))
    draw = ImageDraw.Draw(background, "RGBA")

    # Waves: whole numbers of periods across the width, so the strip tiles in x.
    waves = [
        # (base y, amplitude, periods, phase, colour, alpha)
        (150, 7, 1, 0.0, (150, 185, 230), 95),
        (162, 6, 2, 1.3, (110, 160, 220), 80),
        (176, 5, 1, 2.6, (70, 125, 200), 70),
    ]
    for base, amplitude, periods, phase, colour, alpha in waves:
        points = []
        for x in range(0, w + 1, s):
            angle = 2 * math.pi * periods * x / w + phase
            points.append((x, (base + amplitude * math.sin(angle)) * s))
        draw.polygon(points + [(w, h), (0, h)], fill=colour + (alpha,))

    # A faint row of small dots near the top, spaced to divide the width evenly.
    spacing = width / 23
    for i in range(23):
        x = (i + 0.5) * spacing * s
        draw.ellipse([x - 1.2 * s, 12 * s - 1.2 * s, x + 1.2 * s, 12 * s + 1.2 * s],
                     fill=(120, 160, 215, 60))

    return background.resize((width, height), Image.LANCZOS)


def main():
    draw_icon().save(os.path.join(RESOURCES, "Velmora48x48.png"), optimize=True)
    with open(os.path.join(RESOURCES, "Velmora.svg"), "w", encoding="utf-8") as svg:
        svg.write(draw_icon_svg())
    draw_background().save(os.path.join(RESOURCES, "Velmora_BackGround_Logos.png"), optimize=True)


if __name__ == "__main__":
    main()
