#!/usr/bin/python3
"""Puts the artwork together the way the main window and the about box will
show it, so that the look can be judged before the window exists.

Writes mockup.png (both views, a filled photo list and the about box, side by
side) and mockup-zoom.png (details at 3x) to the folder given as the first
argument, /tmp by default. The controls that the program draws itself (group
boxes, edit boxes, the thumbnail panel, the progress bar, labels) are only
suggested here. Needs python3-pil, fonts-noto-core and fonts-liberation2.
"""

import os
import sys

from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", "..", ".."))
UI_FONT = "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf"
SKY_BLUE = (0xA6, 0xCA, 0xF0)
RED = (0xFF, 0x00, 0x00)


def art(name):
    return Image.open(os.path.join(HERE, name)).convert("RGBA")


def ui_font():
    # 8 points at 96 dots per inch
    return ImageFont.truetype(UI_FONT, 11)


def label(img, xy, s, colour):
    ImageDraw.Draw(img).text(xy, s, font=ui_font(), fill=colour)


def chrome(view, about_colour, status, hover=None):
    img = art("background.jpg")
    photos = view == "photos"
    img.alpha_composite(art("tab_photos_down.png" if photos else "tab_photos_up.png"), (58, 31))
    img.alpha_composite(art("tab_output_up.png" if photos else "tab_output_down.png"), (175, 31))
    img.alpha_composite(art("glyph_minimise.png"), (575, 6))
    img.alpha_composite(art("glyph_close.png"), (592, 6))
    label(img, (39, 477), "About ", about_colour)
    label(img, (83, 429), status, (32, 45, 70))
    if photos:
        for name, xy in (("btn_add", (446, 168)), ("btn_addfolder", (446, 214)),
                         ("btn_remove", (445, 260)), ("btn_removeall", (446, 307))):
            img.alpha_composite(art(name + ("_over" if name == hover else "") + ".png"), xy)
    else:
        img.alpha_composite(art("btn_go" + ("_over" if hover == "btn_go" else "") + ".png"),
                            (446, 421))
    return img


def group_box(d, box, caption):
    x, y, w, h = box
    d.rectangle([x, y, x + w - 1, y + h - 1], fill=(255, 255, 255))
    if caption:
        d.rectangle([x + 1, y + 6, x + w - 2, y + h - 2], outline=(200, 200, 200))
        tw = d.textlength(caption, font=ui_font())
        d.rectangle([x + 8, y, x + 8 + tw, y + 12], fill=(255, 255, 255))
        d.text((x + 8, y), caption, font=ui_font(), fill=(0, 0, 0))


def edit(d, box, s=""):
    x, y, w, h = box
    d.rectangle([x, y, x + w - 1, y + h - 1], fill=(255, 255, 255), outline=(122, 138, 160))
    d.text((x + 4, y + 4), s, font=ui_font(), fill=(0, 0, 0))


def push(d, box, s):
    x, y, w, h = box
    d.rectangle([x, y, x + w - 1, y + h - 1], fill=(239, 239, 239), outline=(160, 160, 160))
    tw = d.textlength(s, font=ui_font())
    d.text((x + (w - tw) / 2, y + (h - 12) / 2), s, font=ui_font(), fill=(0, 0, 0))


def radio(d, x, y, s, on):
    d.ellipse([x, y + 1, x + 11, y + 12], fill=(255, 255, 255), outline=(120, 120, 120))
    if on:
        d.ellipse([x + 3, y + 4, x + 8, y + 9], fill=(0, 0, 0))
    d.text((x + 17, y), s, font=ui_font(), fill=(0, 0, 0))


def output_view():
    img = chrome("output", RED, "Converting photo to video stream ... ", hover="btn_go")
    d = ImageDraw.Draw(img)
    group_box(d, (39, 107, 368, 74), " Sound Track  ")
    d.text((49, 140), "Sound File:  ", font=ui_font(), fill=(0, 0, 0))
    edit(d, (117, 132, 214, 21), "/home/ann/Music/tune.wav")
    push(d, (340, 132, 23, 22), "...")
    group_box(d, (39, 205, 172, 84), " Video Standard  ")
    radio(d, 49, 228, "NTSC", True)
    radio(d, 49, 254, "PAL", False)
    group_box(d, (223, 207, 186, 82), " Video Resolution  ")
    for i, s in enumerate(("High (720x480)", "Medium (352x480)", "Low (352x240)")):
        radio(d, 233, 226 + i * 20, s, i == 0)
    group_box(d, (28, 296, 401, 96), "")
    d.text((40, 311), "Slide Interval :   ", font=ui_font(), fill=(0, 0, 0))
    edit(d, (125, 302, 46, 22), "2")
    d.text((40, 340), "Output Folder : ", font=ui_font(), fill=(0, 0, 0))
    edit(d, (124, 332, 177, 21), "/home/ann/My Movie")
    push(d, (307, 329, 23, 22), "...")
    push(d, (341, 329, 75, 23), "Open")
    d.text((40, 369), "Compressor :  ", font=ui_font(), fill=(0, 0, 0))
    edit(d, (124, 361, 209, 21), "MPEG-4 part 2")
    push(d, (341, 358, 75, 23), "Config")
    # progress bar
    d.rectangle([268, 431, 416, 442], fill=(230, 230, 230), outline=(188, 188, 188))
    d.rectangle([269, 432, 330, 441], fill=(6, 176, 37))
    return img


def photo_view_empty():
    img = chrome("photos", SKY_BLUE, "Add or delete your photos. ", hover="btn_add")
    img.alpha_composite(art("empty.jpg"), (15, 90))
    return img


def photo_view_filled():
    img = chrome("photos", SKY_BLUE, "5 photo(s) total.", hover="btn_addfolder")
    d = ImageDraw.Draw(img)
    # the scroll box and, inside it, the black thumbnail panel in single-row mode
    d.rectangle([24, 100, 427, 401], fill=(240, 240, 240))
    d.rectangle([32, 108, 401, 367], fill=(0, 0, 0))
    names = ("city.jpg", "forest.jpg", "mountain.jpg", "sunset.jpg", "sea.bmp")
    for i, name in enumerate(names):
        x = 32 + 5 + i * 115
        if x + 110 > 401:
            break
        photo = Image.open(os.path.join(ROOT, "samples", name)).convert("RGBA")
        photo.thumbnail((110, 90))
        img.alpha_composite(photo, (x + (110 - photo.width) // 2, 128 + (90 - photo.height) // 2))
    d.rectangle([32, 385, 427, 401], fill=(225, 225, 225))  # horizontal scroll bar
    d.rectangle([34, 388, 280, 398], fill=(190, 190, 190))
    return img


def about_box():
    img = art("about.jpg")
    white = (255, 255, 255)
    label(img, (112, 65), "Version 2.00 ", white)
    label(img, (32, 153), "Support: support@quillon.invalid", white)
    label(img, (32, 177), "https://www.quillon.invalid/", white)
    d = ImageDraw.Draw(img)
    d.line([0, 208, 296, 208], fill=(128, 128, 128))
    d.line([0, 209, 296, 209], fill=(255, 255, 255))
    tw = d.textlength("Continue", font=ui_font())
    d.text((208 + (73 - tw) / 2, 225 + 6), "Continue", font=ui_font(), fill=(0, 128, 0))
    return img


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "/tmp"
    views = [photo_view_empty(), photo_view_filled(), output_view()]
    about = about_box()
    sheet = Image.new("RGBA", (630 * 2 + 30, 530 * 2 + 30), (120, 124, 130, 255))
    sheet.alpha_composite(views[0], (10, 10))
    sheet.alpha_composite(views[1], (650, 10))
    sheet.alpha_composite(views[2], (10, 550))
    sheet.alpha_composite(about, (650 + (630 - 300) // 2, 550 + (530 - 266) // 2))
    sheet.convert("RGB").save(os.path.join(out, "mockup.png"))

    # details at 3x: title row and tabs; command buttons; status and footer; about box
    v = views[0]
    crops = [v.crop((0, 0, 300, 90)), v.crop((430, 150, 630, 345)),
             views[2].crop((0, 410, 630, 530)), about.crop((0, 0, 300, 266))]
    zoom = [c.resize((c.width * 3, c.height * 3), Image.NEAREST) for c in crops]
    wz = max(z.width for z in zoom)
    hz = sum(z.height for z in zoom) + 10 * len(zoom)
    sheet2 = Image.new("RGBA", (wz, hz), (120, 124, 130, 255))
    y = 0
    for z in zoom:
        sheet2.alpha_composite(z, (0, y))
        y += z.height + 10
    sheet2.convert("RGB").save(os.path.join(out, "mockup-zoom.png"))


if __name__ == "__main__":
    main()
