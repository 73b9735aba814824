#!/usr/bin/python3
"""Draws every picture of the main window and the about box into this folder.

The pictures are data of the window's design: the program loads them as they
are and never draws them itself, so this script is run by hand after a change
of look and its output is committed. It is not part of the build.

Needs Debian's python3-pil and fonts-noto-core (labels are set in Noto Sans).
Run it from anywhere: /usr/bin/python3 app/ui/artwork/make-artwork.py

Shapes and text are drawn at SS times the final size and reduced with a box
filter, which gives exact edge coverage: clean anti-aliasing without ringing.
Pictures that sit on the background (tabs, buttons, glyphs, the empty-list
picture) are cut from the finished background at their own place, so their
corners blend into it without needing transparency.
"""

import math
import os

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
SS = 4

NOTO = "/usr/share/fonts/truetype/noto/"

# Palette. The dark frame carries the title row, the tabs and the footer with
# the "About " label (sky blue, red under the pointer: both need a dark ground);
# the light sheet carries the views, the commands and the status line.
FRAME_TOP = (22, 30, 50)
FRAME_MID = (28, 39, 64)
FRAME_BOTTOM = (12, 17, 29)
SHEET_TOP = (238, 242, 248)
SHEET_BOTTOM = (226, 232, 241)
CARD = (255, 255, 255)
CARD_EDGE = (208, 216, 229)
ACCENT = (46, 122, 234)
ACCENT_LIGHT = (88, 156, 248)
ACCENT_DARK = (26, 88, 196)
ACCENT_TINT = (226, 238, 254)
INK = (32, 45, 70)
INK_SOFT = (100, 114, 140)
ON_DARK = (226, 233, 245)
ON_DARK_SOFT = (160, 176, 204)
DANGER = (214, 76, 76)
WHITE = (255, 255, 255)

W, H = 630, 530
SHEET = (8, 81, 622, 466)  # the light sheet: left, top, right, bottom
CARD_BOX = (15, 90, 434, 410)  # the view area, exactly where the empty-list picture sits
STATUS_BOX = (15, 420, 434, 452)
TABS = {"photos": (58, 31, 112, 50), "output": (175, 31, 113, 50)}
BUTTONS = {  # name: (left, top, label, icon)
    "btn_add": (446, 168, "Add Photos", "photo_plus"),
    "btn_addfolder": (446, 214, "Add Folder", "folder_plus"),
    "btn_remove": (445, 260, "Remove", "minus"),
    "btn_removeall": (446, 307, "Remove All", "trash"),
    "btn_preview": (446, 375, "Preview", "play"),
}
GO = (446, 421, 170, 37)
GLYPHS = {"glyph_minimise": (575, 6), "glyph_close": (592, 6)}
ABOUT_W, ABOUT_H = 300, 266


def regular(px):
    return ("NotoSans-Regular.ttf", px)


def bold(px):
    return ("NotoSans-Bold.ttf", px)


def font_at(spec, scale):
    name, px = spec
    return ImageFont.truetype(NOTO + name, round(px * scale))


def mix(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def gradient(size, stops):
    """An opaque RGBA picture shaded down its height through the stops (fraction, colour)."""
    w, h = size
    n = h
    strip = Image.new("RGBA", (1, n))
    for i in range(n):
        t = i / (n - 1) if n > 1 else 0.0
        colour = stops[-1][1]
        for (t0, c0), (t1, c1) in zip(stops, stops[1:]):
            if t <= t1:
                u = 0.0 if t1 == t0 else min(max((t - t0) / (t1 - t0), 0.0), 1.0)
                colour = mix(c0, c1, u)
                break
        strip.putpixel((0, i), colour + (255,))
    return strip.resize((w, h), Image.NEAREST)


def radial(size, centre, radius, colour, alpha):
    """A soft glow: colour fading from alpha at the centre to nothing at radius."""
    w, h = size
    mask = Image.new("L", (w, h), 0)
    px = mask.load()
    cx, cy = centre
    for y in range(h):
        for x in range(w):
            d = math.hypot(x - cx, y - cy) / radius
            if d < 1.0:
                px[x, y] = round(255 * alpha * (1.0 - d) ** 2)
    layer = Image.new("RGBA", (w, h), tuple(colour) + (0,))
    layer.putalpha(mask)
    return layer


class Shapes:
    """A supersampled coverage mask in the coordinates of the final picture."""

    def __init__(self, size):
        self.size = size
        self.mask = Image.new("L", (size[0] * SS, size[1] * SS), 0)
        self.d = ImageDraw.Draw(self.mask)

    @staticmethod
    def s(v):
        return v * SS

    def rect(self, box, radius=0, fill=255, corners=None):
        """corners: which of top-left, top-right, bottom-right, bottom-left are round."""
        x0, y0, x1, y1 = (v * SS for v in box)
        r = radius * SS
        self.d.rounded_rectangle([x0, y0, x1 - 1, y1 - 1], radius=r, fill=fill)
        if corners and r > 0:
            squares = ((x0, y0), (x1 - r, y0), (x1 - r, y1 - r), (x0, y1 - r))
            for (sx, sy), rounded in zip(squares, corners):
                if not rounded:
                    self.d.rectangle([sx, sy, sx + r - 1, sy + r - 1], fill=fill)
        return self

    def ring(self, box, radius, width):
        x0, y0, x1, y1 = box
        self.rect(box, radius, 255)
        self.rect((x0 + width, y0 + width, x1 - width, y1 - width),
                  max(radius - width, 0), 0)
        return self

    def ellipse(self, box, fill=255):
        x0, y0, x1, y1 = box
        self.d.ellipse([x0 * SS, y0 * SS, x1 * SS - 1, y1 * SS - 1], fill=fill)
        return self

    def circle_ring(self, cx, cy, r, width):
        self.ellipse((cx - r, cy - r, cx + r, cy + r), 255)
        self.ellipse((cx - r + width, cy - r + width, cx + r - width, cy + r - width), 0)
        return self

    def polygon(self, pts, fill=255):
        self.d.polygon([(x * SS, y * SS) for x, y in pts], fill=fill)
        return self

    def line(self, pts, width, fill=255, round_caps=True):
        sp = [(x * SS, y * SS) for x, y in pts]
        self.d.line(sp, fill=fill, width=round(width * SS), joint="curve")
        if round_caps:
            r = width * SS / 2
            for x, y in (sp[0], sp[-1]):
                self.d.ellipse([x - r, y - r, x + r, y + r], fill=fill)
        return self

    def done(self):
        return self.mask.resize(self.size, Image.BOX)


def paint(img, mask, fill, opacity=1.0):
    """Lays fill (a colour or a picture of img's size) onto img through mask."""
    if isinstance(fill, tuple):
        layer = Image.new("RGBA", img.size, fill[:3] + (255,))
        if len(fill) == 4:
            opacity *= fill[3] / 255
    else:
        layer = fill.copy()
    alpha = mask if opacity >= 1.0 else mask.point(lambda v: round(v * opacity))
    if layer.mode == "RGBA" and layer.getextrema()[3][0] < 255:
        alpha = ImageChops.multiply(alpha, layer.getchannel("A"))
    layer.putalpha(alpha)
    img.alpha_composite(layer)


def shadow(img, mask, offset=(0, 2), blur=5, colour=(16, 28, 52), opacity=0.14):
    m = Image.new("L", img.size, 0)
    m.paste(mask, offset)
    m = m.filter(ImageFilter.GaussianBlur(blur))
    paint(img, m, colour, opacity)


def text(img, xy, s, fnt, colour, anchor="ls"):
    """Sets s with unhinted outlines: drawn large and reduced, like the shapes, so that
    letter spacing stays true at small sizes (hinted 13 px Noto Sans gapes after some letters)."""
    mask = Image.new("L", (img.width * SS, img.height * SS), 0)
    ImageDraw.Draw(mask).text((xy[0] * SS, xy[1] * SS), s, font=font_at(fnt, SS), fill=255,
                              anchor=anchor)
    paint(img, mask.resize(img.size, Image.BOX), tuple(colour[:3]))


def text_width(s, fnt):
    return font_at(fnt, SS).getlength(s) / SS


# --- icons: each draws into a Shapes mask with its top-left at (x, y), 16 px square ---

def icon_photo(sh, x, y, w=1.5):
    sh.ring((x + 1, y + 2.5, x + 15, y + 13.5), 2.5, w)
    sh.polygon([(x + 3.2, y + 11.8), (x + 7.0, y + 7.2), (x + 9.6, y + 10.0),
                (x + 11.0, y + 8.6), (x + 13.2, y + 11.8)])
    sh.ellipse((x + 9.6, y + 4.4, x + 12.2, y + 7.0))


def icon_movie(sh, x, y, w=1.5):
    sh.ring((x + 1, y + 2.5, x + 15, y + 13.5), 2.5, w)
    sh.polygon([(x + 6.4, y + 5.4), (x + 11.0, y + 8.0), (x + 6.4, y + 10.6)])


def icon_plus_badge(sh, x, y, cut):
    """A small plus in a disc at the lower right, cut out of what lies below it."""
    cx, cy, r = x + 12.5, y + 12.5, 4.6
    cut.ellipse((cx - r - 1.4, cy - r - 1.4, cx + r + 1.4, cy + r + 1.4))
    sh.ellipse((cx - r, cy - r, cx + r, cy + r))
    sh.line([(cx - 2.3, cy), (cx + 2.3, cy)], 1.4, fill=0, round_caps=False)
    sh.line([(cx, cy - 2.3), (cx, cy + 2.3)], 1.4, fill=0, round_caps=False)


def icon_folder(sh, x, y, w=1.5):
    sh.polygon([(x + 1, y + 3), (x + 6, y + 3), (x + 7.6, y + 4.8), (x + 15, y + 4.8),
                (x + 15, y + 14), (x + 1, y + 14)])
    sh.polygon([(x + 1 + w, y + 6.4), (x + 15 - w, y + 6.4), (x + 15 - w, y + 14 - w),
                (x + 1 + w, y + 14 - w)], fill=0)


def icon_minus(sh, x, y):
    sh.circle_ring(x + 8, y + 8, 7, 1.5)
    sh.line([(x + 4.8, y + 8), (x + 11.2, y + 8)], 1.6)


def icon_trash(sh, x, y):
    sh.line([(x + 2, y + 4), (x + 14, y + 4)], 1.5)
    sh.line([(x + 6, y + 3.6), (x + 6.6, y + 1.8), (x + 9.4, y + 1.8), (x + 10, y + 3.6)], 1.3)
    sh.line([(x + 3.6, y + 5.5), (x + 4.6, y + 14.4), (x + 11.4, y + 14.4), (x + 12.4, y + 5.5)],
            1.5)
    sh.line([(x + 6.6, y + 7.2), (x + 6.9, y + 12.2)], 1.2)
    sh.line([(x + 9.4, y + 7.2), (x + 9.1, y + 12.2)], 1.2)


def icon_play(sh, x, y):
    sh.circle_ring(x + 8, y + 8, 7, 1.5)
    sh.polygon([(x + 6.2, y + 4.9), (x + 11.4, y + 8), (x + 6.2, y + 11.1)])


def icon_play_disc(sh, x, y, size):
    r = size / 2
    sh.ellipse((x, y, x + size, y + size))
    cx, cy = x + r, y + r
    k = size / 18
    sh.polygon([(cx - 3.0 * k, cy - 4.6 * k), (cx + 5.0 * k, cy), (cx - 3.0 * k, cy + 4.6 * k)],
               fill=0)


def draw_icon(img, kind, x, y, colour):
    sh = Shapes(img.size)
    {"photo": icon_photo, "photo_plus": icon_photo, "movie": icon_movie,
     "folder_plus": icon_folder, "minus": icon_minus, "trash": icon_trash,
     "play": icon_play}[kind](sh, x, y)
    mask = sh.done()
    if kind.endswith("_plus"):
        badge, gap = Shapes(img.size), Shapes(img.size)
        icon_plus_badge(badge, x, y, gap)
        mask = ImageChops.lighter(ImageChops.subtract(mask, gap.done()), badge.done())
    paint(img, mask, colour)


# --- the application icon, once as geometry, drawn both by PIL and as SVG ---

def draw_app_icon(size):
    k = size / 256
    img = Image.new("RGBA", (size, size), (0, 0, 0, 0))
    tile = Shapes((size, size)).rect((8 * k, 8 * k, 248 * k, 248 * k), 56 * k).done()
    shadow(img, tile, offset=(0, round(3 * k)), blur=max(1, 4 * k), opacity=0.30)
    paint(img, tile, gradient((size, size), [(0, (82, 154, 250)), (1, (33, 84, 200))]))
    glow = radial((size, size), (70 * k, 40 * k), 200 * k, WHITE, 0.22)
    paint(img, tile, glow)

    # the back photo, turned a little
    back = Image.new("L", (size * SS, size * SS), 0)
    ImageDraw.Draw(back).rounded_rectangle(
        [58 * k * SS, 50 * k * SS, 198 * k * SS, 158 * k * SS], radius=14 * k * SS, fill=255)
    back = back.rotate(9, resample=Image.BICUBIC, center=(128 * k * SS, 104 * k * SS))
    back = back.resize((size, size), Image.BOX)
    paint(img, back, (255, 255, 255), 0.45)

    # the front photo: white mount, sky, hills and sun
    front = Shapes((size, size)).rect((46 * k, 78 * k, 210 * k, 198 * k), 16 * k).done()
    shadow(img, front, offset=(0, round(4 * k)), blur=max(1, 6 * k), colour=(10, 30, 80),
           opacity=0.35)
    paint(img, front, WHITE)
    window = Shapes((size, size)).rect((58 * k, 90 * k, 198 * k, 186 * k), 8 * k).done()
    paint(img, window, gradient((size, size), [(0.35, (186, 220, 252)), (0.73, (240, 247, 255))]))
    sun = Shapes((size, size)).ellipse((148 * k, 102 * k, 174 * k, 128 * k)).done()
    paint(img, sun, (255, 190, 80))
    hills = Shapes((size, size))
    hills.polygon([(58 * k, 186 * k), (58 * k, 160 * k), (96 * k, 122 * k), (128 * k, 154 * k),
                   (146 * k, 140 * k), (198 * k, 180 * k), (198 * k, 186 * k)])
    paint(img, ImageChops.multiply(hills.done(), window), (58, 132, 110))
    hills2 = Shapes((size, size))
    hills2.polygon([(58 * k, 186 * k), (58 * k, 176 * k), (110 * k, 150 * k), (160 * k, 170 * k),
                    (198 * k, 160 * k), (198 * k, 186 * k)])
    paint(img, ImageChops.multiply(hills2.done(), window), (40, 104, 90))

    # the play disc: the photos become a movie
    cx, cy, r = 188 * k, 184 * k, 38 * k
    ring = Shapes((size, size)).ellipse((cx - r - 6 * k, cy - r - 6 * k, cx + r + 6 * k,
                                         cy + r + 6 * k)).done()
    shadow(img, ring, offset=(0, round(3 * k)), blur=max(1, 5 * k), colour=(10, 30, 80),
           opacity=0.35)
    paint(img, ring, WHITE)
    disc = Shapes((size, size)).ellipse((cx - r, cy - r, cx + r, cy + r)).done()
    paint(img, disc, gradient((size, size), [(0.55, (255, 128, 82)), (0.9, (232, 76, 61))]))
    tri = Shapes((size, size)).polygon([(cx - 11 * k, cy - 17 * k), (cx + 17 * k, cy),
                                        (cx - 11 * k, cy + 17 * k)]).done()
    paint(img, tri, WHITE)
    return img


APP_ICON_SVG = """<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">
  <defs>
    <linearGradient id="tile" x1="0" y1="0" x2="0" y2="256" gradientUnits="userSpaceOnUse">
      <stop offset="0" stop-color="#529afa"/>
      <stop offset="1" stop-color="#2154c8"/>
    </linearGradient>
    <radialGradient id="glow" cx="70" cy="40" r="200" gradientUnits="userSpaceOnUse">
      <stop offset="0" stop-color="#ffffff" stop-opacity="0.22"/>
      <stop offset="1" stop-color="#ffffff" stop-opacity="0"/>
    </radialGradient>
    <linearGradient id="sky" x1="0" y1="0" x2="0" y2="256" gradientUnits="userSpaceOnUse">
      <stop offset="0.35" stop-color="#badcfc"/>
      <stop offset="0.73" stop-color="#f0f7ff"/>
    </linearGradient>
    <linearGradient id="disc" x1="0" y1="0" x2="0" y2="256" gradientUnits="userSpaceOnUse">
      <stop offset="0.55" stop-color="#ff8052"/>
      <stop offset="0.9" stop-color="#e84c3d"/>
    </linearGradient>
    <filter id="tileShadow" x="-10%" y="-10%" width="120%" height="125%">
      <feGaussianBlur in="SourceAlpha" stdDeviation="4"/>
      <feOffset dy="3" result="blur"/>
      <feFlood flood-color="#101c34" flood-opacity="0.30"/>
      <feComposite in2="blur" operator="in"/>
      <feMerge><feMergeNode/><feMergeNode in="SourceGraphic"/></feMerge>
    </filter>
    <filter id="photoShadow" x="-20%" y="-20%" width="140%" height="150%">
      <feGaussianBlur in="SourceAlpha" stdDeviation="6"/>
      <feOffset dy="4" result="blur"/>
      <feFlood flood-color="#0a1e50" flood-opacity="0.35"/>
      <feComposite in2="blur" operator="in"/>
      <feMerge><feMergeNode/><feMergeNode in="SourceGraphic"/></feMerge>
    </filter>
    <filter id="discShadow" x="-30%" y="-30%" width="160%" height="170%">
      <feGaussianBlur in="SourceAlpha" stdDeviation="5"/>
      <feOffset dy="3" result="blur"/>
      <feFlood flood-color="#0a1e50" flood-opacity="0.35"/>
      <feComposite in2="blur" operator="in"/>
      <feMerge><feMergeNode/><feMergeNode in="SourceGraphic"/></feMerge>
    </filter>
    <clipPath id="window"><rect x="58" y="90" width="140" height="96" rx="8"/></clipPath>
  </defs>
  <rect x="8" y="8" width="240" height="240" rx="56" fill="url(#tile)"
        filter="url(#tileShadow)"/>
  <rect x="8" y="8" width="240" height="240" rx="56" fill="url(#glow)"/>
  <rect x="58" y="50" width="140" height="108" rx="14" fill="#ffffff" fill-opacity="0.45"
        transform="rotate(-9 128 104)"/>
  <rect x="46" y="78" width="164" height="120" rx="16" fill="#ffffff"
        filter="url(#photoShadow)"/>
  <rect x="58" y="90" width="140" height="96" rx="8" fill="url(#sky)"/>
  <circle cx="161" cy="115" r="13" fill="#ffbe50"/>
  <g clip-path="url(#window)">
    <polygon points="58,186 58,160 96,122 128,154 146,140 198,180 198,186" fill="#3a846e"/>
    <polygon points="58,186 58,176 110,150 160,170 198,160 198,186" fill="#28685a"/>
  </g>
  <circle cx="188" cy="184" r="44" fill="#ffffff" filter="url(#discShadow)"/>
  <circle cx="188" cy="184" r="38" fill="url(#disc)"/>
  <polygon points="177,167 205,184 177,201" fill="#ffffff"/>
</svg>
"""


# --- the main window's background ---

def draw_background():
    # The footer is kept darkest: pure red on it must still read (contrast 4.5 and more).
    img = gradient((W, H), [(0, FRAME_TOP), (0.16, FRAME_MID), (SHEET[3] / H, FRAME_BOTTOM),
                            (1, FRAME_BOTTOM)])
    img.alpha_composite(radial((W, H), (520, -40), 300, ACCENT, 0.30))

    # title row: small icon and wordmark at the left, the two glyphs sit at the right
    icon = draw_app_icon(64).resize((18, 18), Image.LANCZOS)
    img.alpha_composite(icon, (13, 3))
    text(img, (37, 17), "Quillon", bold(12), ON_DARK)

    # the light sheet that the views live on; the tabs join its top edge
    sx0, sy0, sx1, sy1 = SHEET
    sheet = Shapes((W, H)).rect(SHEET, 10, corners=(False, False, True, True)).done()
    shadow(img, sheet, offset=(0, 2), blur=4, colour=(0, 0, 0), opacity=0.35)
    paint(img, sheet, gradient((W, H), [(sy0 / H, SHEET_TOP), (sy1 / H, SHEET_BOTTOM)]))

    # the view area
    card = Shapes((W, H)).rect(CARD_BOX, 10).done()
    shadow(img, card, offset=(0, 1), blur=3, opacity=0.16)
    edge = Shapes((W, H)).rect(CARD_BOX, 10).done()
    paint(img, edge, CARD_EDGE)
    inner = Shapes((W, H)).rect((CARD_BOX[0] + 1, CARD_BOX[1] + 1, CARD_BOX[2] - 1,
                                 CARD_BOX[3] - 1), 9).done()
    paint(img, inner, CARD)

    # the status line: a quiet well with a small dot before the text at 83, 429
    well = Shapes((W, H)).rect(STATUS_BOX, 8).done()
    paint(img, well, (214, 222, 234))
    well_in = Shapes((W, H)).rect((STATUS_BOX[0] + 1, STATUS_BOX[1] + 1, STATUS_BOX[2] - 1,
                                   STATUS_BOX[3] - 1), 7).done()
    paint(img, well_in, gradient((W, H), [(STATUS_BOX[1] / H, (244, 247, 251)),
                                          (STATUS_BOX[3] / H, (250, 252, 254))]))
    # its left end holds a small "i" badge, set off by a divider, before the text at 83, 429
    seg = Shapes((W, H)).rect((STATUS_BOX[0] + 1, STATUS_BOX[1] + 1, 66, STATUS_BOX[3] - 1), 7,
                              corners=(True, False, False, True)).done()
    paint(img, seg, gradient((W, H), [(STATUS_BOX[1] / H, (232, 240, 253)),
                                      (STATUS_BOX[3] / H, ACCENT_TINT)]))
    paint(img, Shapes((W, H)).rect((66, STATUS_BOX[1] + 1, 67, STATUS_BOX[3] - 1)).done(),
          (214, 222, 234))
    badge = Shapes((W, H)).circle_ring(41, 436, 7.5, 1.5)
    badge.ellipse((40.1, 431.2, 41.9, 433.0))
    badge.line([(41, 435), (41, 440.2)], 1.7, round_caps=False)
    paint(img, badge.done(), ACCENT)

    # the footer: a strip of film holes runs along the bottom edge
    holes = Shapes((W, H))
    x = 14
    while x + 10 < W - 8:
        holes.rect((x, 509, x + 10, 517), 2)
        x += 18
    paint(img, holes.done(), (255, 255, 255), 0.06)

    # a hairline around the whole window keeps its edge on any desktop
    border = Shapes((W, H)).rect((0, 0, W, H), 0).rect((1, 1, W - 1, H - 1), 0, fill=0).done()
    paint(img, border, (8, 12, 22))
    return img


def cut(bg, box):
    x, y, w, h = box
    return bg.crop((x, y, x + w, y + h)).convert("RGBA")


def draw_tab(bg, key, label, icon, down):
    x, y, w, h = TABS[key]
    img = cut(bg, TABS[key])
    if down:
        shape = Shapes((w, h)).rect((0, 0, w, h + 12), 9).done()
        # The bottom row must match the sheet's top row so that tab and sheet read as one.
        paint(img, shape, gradient((w, h), [(0, (250, 252, 255)), (1, SHEET_TOP)]))
        hl = Shapes((w, h)).rect((0, 0, w, h + 12), 9).rect((1, 1, w - 1, h + 12), 8,
                                                              fill=0).done()
        paint(img, hl, WHITE, 0.9)
        fg, icon_fg, fnt = INK, ACCENT, bold(13)
    else:
        shape = Shapes((w, h)).rect((1, 5, w - 1, h + 12), 8).done()
        paint(img, shape, WHITE, 0.07)
        hl = Shapes((w, h)).rect((1, 5, w - 1, h + 12), 8).rect((2, 6, w - 2, h + 12), 7,
                                                                 fill=0).done()
        paint(img, hl, WHITE, 0.10)
        fg, icon_fg, fnt = ON_DARK_SOFT, ON_DARK_SOFT, bold(13)
    tw = text_width(label, fnt)
    total = 16 + 7 + tw
    left = (w - total) / 2
    mid = 28 if down else 30
    draw_icon(img, icon, round(left), mid - 8, icon_fg)
    text(img, (round(left + 23), mid + 5), label, fnt, fg)
    return img


def draw_button(bg, left, top, w, h, label, icon, over):
    img = cut(bg, (left, top, w, h))
    # One button stands a pixel left of the column; its face starts where the others do, so
    # that their left edges, icons and labels line up.
    dx = 446 - left
    face = Shapes((w, h)).rect((0.5 + dx, 0, w - 0.5, h - 1), 6).done()
    shadow(img, face, offset=(0, 1), blur=1, opacity=0.18 if over else 0.10)
    edge_colour = ACCENT if over else (196, 206, 222)
    paint(img, face, edge_colour)
    inner = Shapes((w, h)).rect((1.5 + dx, 1, w - 1.5, h - 2), 5).done()
    fill = (gradient((w, h), [(0, (238, 245, 255)), (1, ACCENT_TINT)]) if over
            else gradient((w, h), [(0, (255, 255, 255)), (1, (246, 248, 252))]))
    paint(img, inner, fill)
    danger = icon in ("minus", "trash")
    icon_fg = DANGER if danger else (ACCENT_DARK if over else ACCENT)
    draw_icon(img, icon, 13 + dx, (h - 1) / 2 - 8, icon_fg)
    text(img, (40 + dx, round(h / 2) + 4), label, regular(13), ACCENT_DARK if over else INK)
    return img


def draw_go(bg, over):
    x, y, w, h = GO
    img = cut(bg, GO)
    face = Shapes((w, h)).rect((0, 0, w, h - 2), 8).done()
    shadow(img, face, offset=(0, 1), blur=1.5, colour=(20, 60, 140), opacity=0.45)
    top, bottom = ((98, 166, 255), (40, 116, 232)) if over else (ACCENT_LIGHT, ACCENT_DARK)
    paint(img, face, gradient((w, h), [(0, top), (1, bottom)]))
    sheen = Shapes((w, h)).rect((1, 1, w - 1, h - 3), 7).rect((1, 2, w - 1, h - 3), 7,
                                                              fill=0).done()
    paint(img, sheen, WHITE, 0.35)
    fnt = bold(16)
    tw = text_width("Go", fnt)
    total = 20 + 9 + tw
    left = (w - total) / 2
    sh = Shapes((w, h))
    icon_play_disc(sh, left, (h - 2) / 2 - 10, 20)
    paint(img, sh.done(), WHITE)
    text(img, (round(left + 29), round((h - 2) / 2) + 6), "Go", fnt, WHITE)
    return img


def draw_glyph(bg, key):
    x, y = GLYPHS[key]
    img = cut(bg, (x, y, 10, 11))
    sh = Shapes((10, 11))
    if key == "glyph_minimise":
        sh.line([(1.5, 8.5), (8.5, 8.5)], 1.6)
    else:
        sh.line([(1.5, 2.0), (8.5, 9.0)], 1.5)
        sh.line([(8.5, 2.0), (1.5, 9.0)], 1.5)
    paint(img, sh.done(), ON_DARK)
    return img


def draw_empty(bg):
    x0, y0, x1, y1 = CARD_BOX
    w, h = x1 - x0, y1 - y0
    img = cut(bg, (x0, y0, w, h))
    cx = w / 2

    # a soft backdrop disc with two photos leaning on each other
    img.alpha_composite(radial((w, h), (cx, 128), 118, ACCENT, 0.10))
    for angle, dx, tint in ((-10, -22, 0.0), (8, 20, 1.0)):
        pw, ph = 96, 74
        layer = Image.new("RGBA", (w * SS, h * SS), (0, 0, 0, 0))
        d = ImageDraw.Draw(layer)
        bx, by = (cx + dx - pw / 2) * SS, (122 - ph / 2) * SS
        d.rounded_rectangle([bx, by, bx + pw * SS, by + ph * SS], radius=9 * SS,
                            fill=(255, 255, 255, 255))
        sky = (206, 226, 252) if tint else (222, 234, 250)
        hill = (120, 170, 236) if tint else (170, 198, 236)
        hill2 = (74, 136, 226) if tint else (140, 176, 228)
        ix0, iy0 = bx + 7 * SS, by + 7 * SS
        ix1, iy1 = bx + (pw - 7) * SS, by + (ph - 7) * SS
        d.rounded_rectangle([ix0, iy0, ix1, iy1], radius=5 * SS, fill=sky + (255,))
        iw, ih = ix1 - ix0, iy1 - iy0
        d.polygon([(ix0, iy1), (ix0, iy0 + ih * 0.70), (ix0 + iw * 0.32, iy0 + ih * 0.36),
                   (ix0 + iw * 0.58, iy0 + ih * 0.68), (ix0 + iw * 0.72, iy0 + ih * 0.55),
                   (ix1, iy0 + ih * 0.82), (ix1, iy1)], fill=hill + (255,))
        d.polygon([(ix0, iy1), (ix0, iy0 + ih * 0.88), (ix0 + iw * 0.45, iy0 + ih * 0.70),
                   (ix1, iy0 + ih * 0.90), (ix1, iy1)], fill=hill2 + (255,))
        sr = 6 * SS
        sx, sy = ix0 + iw * 0.76, iy0 + ih * 0.28
        d.ellipse([sx - sr, sy - sr, sx + sr, sy + sr],
                  fill=((255, 196, 92) if tint else (250, 214, 150)) + (255,))
        layer = layer.rotate(-angle, resample=Image.BICUBIC,
                             center=((cx + dx) * SS, 122 * SS))
        layer = layer.resize((w, h), Image.BOX)
        shadow(img, layer.getchannel("A"), offset=(0, 3), blur=5, opacity=0.18)
        edge = layer.getchannel("A")
        paint(img, edge, (205, 214, 228))
        inset = layer.getchannel("A").filter(ImageFilter.MinFilter(3))
        layer.putalpha(inset)
        img.alpha_composite(layer)

    # a plus badge on the front photo's corner
    bx, by, r = cx + 62, 160, 15
    ring = Shapes((w, h)).ellipse((bx - r - 3, by - r - 3, bx + r + 3, by + r + 3)).done()
    shadow(img, ring, offset=(0, 2), blur=3, opacity=0.20)
    paint(img, ring, WHITE)
    disc = Shapes((w, h)).ellipse((bx - r, by - r, bx + r, by + r)).done()
    paint(img, disc, gradient((w, h), [(140 / h, ACCENT_LIGHT), (180 / h, ACCENT_DARK)]))
    plus = Shapes((w, h))
    plus.line([(bx - 6, by), (bx + 6, by)], 2.6)
    plus.line([(bx, by - 6), (bx, by + 6)], 2.6)
    paint(img, plus.done(), WHITE)

    text(img, (cx, 232), "No photos yet", bold(17), INK, anchor="ms")
    text(img, (cx, 257), "Drop photos or folders here, or click to add photos", regular(13),
         INK_SOFT, anchor="ms")
    return img


def draw_about():
    w, h = ABOUT_W, ABOUT_H
    img = gradient((w, h), [(0, FRAME_MID), (0.78, FRAME_BOTTOM)])
    img.alpha_composite(radial((w, h), (270, -20), 220, ACCENT, 0.35))

    icon = draw_app_icon(256).resize((64, 64), Image.LANCZOS)
    img.alpha_composite(icon, (32, 26))
    text(img, (110, 56), "Quillon", bold(28), WHITE)

    # hairline between the title block and the contact lines at 153 and 177
    rule = Shapes((w, h)).rect((32, 126, 268, 127)).done()
    paint(img, rule, WHITE, 0.14)
    for yy in (153, 177):
        tick = Shapes((w, h)).ellipse((22, yy + 4, 27, yy + 9)).done()
        paint(img, tick, (166, 202, 240), 0.9)

    # below the separator line (its box is 201..210): the light button bar
    bar = Image.new("RGBA", (w, h - 210), (0, 0, 0, 0))
    bar.alpha_composite(gradient((w, h - 210), [(0, (236, 240, 246)), (1, (226, 232, 241))]))
    img.alpha_composite(bar, (0, 210))
    # the flat "Continue" button shows no face of its own: give it one here
    face = Shapes((w, h)).rect((208, 225, 281, 250), 6).done()
    paint(img, face, (196, 206, 222))
    inner = Shapes((w, h)).rect((209, 226, 280, 249), 5).done()
    paint(img, inner, gradient((w, h), [(225 / h, (255, 255, 255)), (250 / h, (246, 248, 252))]))
    return img


def save_jpeg(img, name):
    # 4:4:4 and a high quality: no chroma bleeding or ringing around the lettering
    img.convert("RGB").save(os.path.join(HERE, name), "JPEG", quality=97, subsampling=0,
                            optimize=True)


def save_png(img, name):
    img.convert("RGB").save(os.path.join(HERE, name), "PNG", optimize=True)


def main():
    bg = draw_background()
    save_jpeg(bg, "background.jpg")
    save_jpeg(draw_empty(bg), "empty.jpg")
    for key, label, icon in (("photos", "Photos", "photo"), ("output", "Output", "movie")):
        save_png(draw_tab(bg, key, label, icon, False), f"tab_{key}_up.png")
        save_png(draw_tab(bg, key, label, icon, True), f"tab_{key}_down.png")
    for name, (left, top, label, icon) in BUTTONS.items():
        save_png(draw_button(bg, left, top, 170, 28, label, icon, False), f"{name}.png")
        save_png(draw_button(bg, left, top, 170, 28, label, icon, True), f"{name}_over.png")
    save_png(draw_go(bg, False), "btn_go.png")
    save_png(draw_go(bg, True), "btn_go_over.png")
    for key in GLYPHS:
        save_png(draw_glyph(bg, key), f"{key}.png")
    save_jpeg(draw_about(), "about.jpg")
    draw_app_icon(256).save(os.path.join(HERE, "quillon.png"), "PNG", optimize=True)
    with open(os.path.join(HERE, "quillon.svg"), "w", encoding="utf-8") as f:
        f.write(APP_ICON_SVG)


if __name__ == "__main__":
    main()
