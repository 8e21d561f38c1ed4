#!/usr/bin/python3
"""Draws the application's images into resources/images, at 1x and 2x pixel density, and its icon at the
larger sizes of the desktop's icon theme into resources/icons.

Every picture is drawn at eight times its final size and reduced with a Lanczos filter, so edges come
out smooth at both densities without hand-tuned anti-aliasing. The script is deterministic: running it
again gives the same files. Run it after changing a picture and commit the result.
"""

import math
import os

from PIL import Image, ImageDraw, ImageFilter

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "images")
ICONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icons")
SUPER = 8


def lerp(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(len(a)))


def save(img, name, scale):
    stem, ext = os.path.splitext(name)
    path = os.path.join(OUT, stem + ("@2x" if scale == 2 else "") + ext)
    img.save(path, optimize=True)


def texture(scale):
    """Backdrop of the relief: a deep blue plane lit from the top, with faint contour waves."""
    w, h = 273 * scale, 143 * scale
    img = Image.new("RGB", (w, h))
    px = img.load()
    top, bottom = (58, 70, 112), (24, 28, 52)
    for y in range(h):
        ty = y / (h - 1)
        for x in range(w):
            tx = x / (w - 1)
            base = lerp(top, bottom, ty ** 0.8)
            # A soft glow behind the centre of the relief and a gentle vignette towards the corners.
            glow = math.exp(-(((tx - 0.5) / 0.45) ** 2 + ((ty - 0.55) / 0.35) ** 2))
            vignette = 1.0 - 0.25 * (((tx - 0.5) * 2) ** 2) * (0.5 + 0.5 * ty)
            # Contour waves: raised lines of a height field, like a relief map.
            field = math.sin(tx * 9.0 + math.sin(ty * 5.0) * 1.3) + math.cos(ty * 11.0 - tx * 3.0)
            contour = max(0.0, 1.0 - abs(math.sin(field * 2.2)) * 6.0)
            px[x, y] = tuple(
                max(18, min(255, int(c * vignette + 26 * glow + 10 * contour))) for c in base
            )
    return img.filter(ImageFilter.GaussianBlur(0.6 * scale))


def lie_bar(scale):
    """Twenty rounded segments from green through yellow to red on a dark rail."""
    w, h = 300 * scale, 30 * scale
    big = Image.new("RGB", (w * SUPER, h * SUPER), (22, 22, 26))
    d = ImageDraw.Draw(big)
    n = 20
    gap = 3 * scale * SUPER
    seg = (w * SUPER - gap * (n + 1)) / n
    stops = [(0.0, (40, 200, 70)), (0.5, (250, 220, 40)), (1.0, (235, 40, 35))]
    for i in range(n):
        t = i / (n - 1)
        colour = lerp(stops[0][1], stops[1][1], t / 0.5) if t <= 0.5 else lerp(stops[1][1], stops[2][1], (t - 0.5) / 0.5)
        x0 = gap + i * (seg + gap)
        box = [x0, gap, x0 + seg, h * SUPER - gap]
        d.rounded_rectangle(box, radius=2 * scale * SUPER, fill=colour)
        # A lighter upper half gives each segment a slight gloss.
        gloss = lerp(colour, (255, 255, 255), 0.25)
        d.rounded_rectangle([x0 + scale * SUPER, gap + scale * SUPER, x0 + seg - scale * SUPER,
                             gap + (h * SUPER - 2 * gap) * 0.45], radius=2 * scale * SUPER, fill=gloss)
    return big.resize((w, h), Image.LANCZOS)


def round_button(scale, symbol, pressed):
    """A round, slightly domed button with a record dot or a pause sign."""
    size = 72 * scale
    s = size * SUPER
    img = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    edge = 2 * scale * SUPER
    rim_top, rim_bottom = ((120, 124, 136), (40, 42, 50)) if not pressed else ((90, 94, 104), (30, 32, 38))
    for r in range(s // 2 - edge, 0, -SUPER):
        t = 1.0 - r / (s / 2)
        colour = lerp(rim_bottom, rim_top, 0.5 + 0.5 * t) if not pressed else lerp(rim_top, rim_bottom, 0.5 + 0.5 * t)
        d.ellipse([s / 2 - r, s / 2 - r - (1 - t) * edge, s / 2 + r, s / 2 + r - (1 - t) * edge], fill=colour + (255,))
    d.ellipse([edge, edge, s - edge, s - edge], outline=(16, 16, 20, 255), width=edge)
    ink = (225, 50, 45, 255) if symbol == "start" else (235, 235, 240, 255)
    if pressed:
        ink = lerp(ink[:3], (255, 255, 255), 0.2) + (255,)
    if symbol == "start":
        r = s * 0.2
        d.ellipse([s / 2 - r, s / 2 - r, s / 2 + r, s / 2 + r], fill=ink)
    else:
        bw, bh = s * 0.11, s * 0.38
        for cx in (s / 2 - s * 0.1, s / 2 + s * 0.1):
            d.rounded_rectangle([cx - bw / 2, s / 2 - bh / 2, cx + bw / 2, s / 2 + bh / 2], radius=bw / 4, fill=ink)
    return img.resize((size, size), Image.LANCZOS)


def icon(scale):
    """The application icon: a small relief of coloured bars under an arc, on a dark rounded square."""
    size = round(32 * scale)
    s = size * SUPER
    img = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    d.rounded_rectangle([0, 0, s - 1, s - 1], radius=s * 0.22, fill=(24, 28, 52, 255))
    heights = [0.25, 0.45, 0.7, 0.55, 0.85, 0.6, 0.35]
    bw = s * 0.09
    for i, hgt in enumerate(heights):
        x = s * 0.15 + i * s * 0.1
        colour = lerp((40, 200, 70), (235, 40, 35), hgt)
        d.rounded_rectangle([x, s * 0.85 - hgt * s * 0.6, x + bw * 0.8, s * 0.85], radius=bw * 0.3, fill=colour + (255,))
    d.arc([s * 0.12, s * 0.1, s * 0.88, s * 0.86], 200, 340, fill=(0, 230, 230, 255), width=int(s * 0.05))
    return img.resize((size, size), Image.LANCZOS)


def main():
    os.makedirs(OUT, exist_ok=True)
    for scale in (1, 2):
        save(texture(scale), "texture.png", scale)
        save(lie_bar(scale), "lie_bar.png", scale)
        save(round_button(scale, "start", False), "button_start.png", scale)
        save(round_button(scale, "start", True), "button_start_over.png", scale)
        save(round_button(scale, "pause", False), "button_pause.png", scale)
        save(round_button(scale, "pause", True), "button_pause_over.png", scale)
        save(icon(scale), "Icon.png", scale)
    # The desktop's icon theme takes larger sizes beside the two the window uses (hicolor 32 and 64).
    os.makedirs(ICONS, exist_ok=True)
    for size in (48, 128, 256):
        icon(size / 32).save(os.path.join(ICONS, "veraxo-%d.png" % size), optimize=True)


if __name__ == "__main__":
    main()
