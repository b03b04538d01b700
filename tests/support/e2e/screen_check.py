"""Reads a screenshot (binary PPM) for the end-to-end scripts.

  screen_check.py pixel <shot.ppm> <x> <y>
      prints the colour at (x, y) as rrggbb
  screen_check.py note <shot.ppm> <rects> <left> <top> <width> <height> <background>
      compares the window at (left, top) with its shape: the file rects holds
      "rect <left> <top> <right> <bottom>" lines in window coordinates; prints
      outside_not_background=N inside_background=N dark_inside=N
  screen_check.py picture <shot.ppm> <rects> <left> <top> <picture.ppm>
      compares a picture of the window at (left, top) with the screen: inside
      the shape the mean colour difference and the pixels whose colour is far
      off (lossy compression blurs only a little), outside the pixels that are
      not white, leaving out those next to the outline, which the compression
      blurs with it; prints size=WxH mean_inside=F far_inside=N inside=N
      not_white_outside=N outside=N
"""

import sys

# Text is black; the papers' lightest rim colour stays above this.
DARK_LIMIT = 80
# A channel of a picture pixel this far from the screen's is off, not blurred.
FAR_DIFFERENCE = 64
# Every channel of a white pixel of a picture stays above this.
WHITE_LIMIT = 224


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos : pos + 1].isspace():
            pos += 1
        if data[pos : pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end : end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    if fields[0] != b"P6" or fields[3] != b"255":
        sys.exit(f"{path}: not an 8-bit binary PPM")
    width, height = int(fields[1]), int(fields[2])
    pixels = data[pos + 1 :]
    if len(pixels) < width * height * 3:
        sys.exit(f"{path}: the pixel data is short")
    return width, height, pixels


def colour_at(shot, x, y):
    width, height, pixels = shot
    if not (0 <= x < width and 0 <= y < height):
        sys.exit(f"({x}, {y}) lies off the screen")
    i = (y * width + x) * 3
    return pixels[i], pixels[i + 1], pixels[i + 2]


def read_shape(path):
    inside = set()
    with open(path) as f:
        for line in f:
            words = line.split()
            if not words or words[0] != "rect":
                continue
            left, top, right, bottom = map(int, words[1:5])
            for y in range(top, bottom):
                for x in range(left, right):
                    inside.add((x, y))
    return inside


def main(argv):
    if len(argv) == 5 and argv[1] == "pixel":
        r, g, b = colour_at(read_ppm(argv[2]), int(argv[3]), int(argv[4]))
        print(f"{r:02x}{g:02x}{b:02x}")
        return 0
    if len(argv) == 9 and argv[1] == "note":
        shot = read_ppm(argv[2])
        inside = read_shape(argv[3])
        left, top, width, height = map(int, argv[4:8])
        background = tuple(bytes.fromhex(argv[8]))
        outside_not_background = inside_background = dark_inside = 0
        for y in range(height):
            for x in range(width):
                colour = colour_at(shot, left + x, top + y)
                if (x, y) in inside:
                    inside_background += colour == background
                    dark_inside += max(colour) < DARK_LIMIT
                else:
                    outside_not_background += colour != background
        print(
            f"outside_not_background={outside_not_background} "
            f"inside_background={inside_background} dark_inside={dark_inside}"
        )
        return 0
    if len(argv) == 7 and argv[1] == "picture":
        shot = read_ppm(argv[2])
        inside = read_shape(argv[3])
        left, top = int(argv[4]), int(argv[5])
        width, height, _ = picture = read_ppm(argv[6])
        total = far_inside = not_white_outside = 0
        for y in range(height):
            for x in range(width):
                colour = colour_at(picture, x, y)
                if (x, y) in inside:
                    screen = colour_at(shot, left + x, top + y)
                    difference = max(abs(a - b) for a, b in zip(colour, screen))
                    total += difference
                    far_inside += difference > FAR_DIFFERENCE
                elif not any((x + dx, y + dy) in inside for dx in (-1, 0, 1) for dy in (-1, 0, 1)):
                    not_white_outside += min(colour) <= WHITE_LIMIT
        pixels_inside = sum(1 for x, y in inside if x < width and y < height)
        print(
            f"size={width}x{height} mean_inside={total / max(1, pixels_inside):.2f} "
            f"far_inside={far_inside} inside={pixels_inside} "
            f"not_white_outside={not_white_outside} outside={width * height - pixels_inside}"
        )
        return 0
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
