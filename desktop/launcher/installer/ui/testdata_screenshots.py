import json, subprocess, sys
folder = sys.argv[1]

def crop(name, rect, client):
    left, top = client[0] + rect[0], client[1] + rect[1]
    width, height = rect[2] - rect[0], rect[3] - rect[1]
    raw = subprocess.run(["convert", f"{folder}/{name}.png", "-crop", f"{width}x{height}+{left}+{top}", "+repage",
                          "-depth", "8", "rgb:-"], capture_output=True, check=True).stdout
    return [tuple(raw[i:i + 3]) for i in range(0, len(raw), 3)]

def geometry(name):
    with open(f"{folder}/{name}.json") as source:
        return json.load(source)

problems, figures = [], []
welcome, error = geometry("welcome"), geometry("error")
title = crop("welcome", welcome["title"], welcome["client"])
red = sum(1 for r, g, b in title if r > 200 and g < 90 and b < 100)
dark = sum(1 for r, g, b in title if r < 80 and g < 80 and b < 80)
figures.append(f"title: {red} red and {dark} dark pixels")
if red < 20 or dark < 20:
    problems.append("the title is not red with a dark product name")
client = welcome["client"]
strip = crop("welcome", [2, 0, 4, client[3] - client[1]], client)
figures.append(f"background: {len(set(strip))} colours down the left edge")
if len(set(strip)) < 5:
    problems.append("the background picture does not show behind the window")

# The title and the welcome text lie on the background picture: around their letters the screenshot shows the
# picture (stretched over the client area as the window draws it), not a box of the controls' own white. Pure white
# where the picture is darker is such a box; the letters themselves are dark or red, never pure white.
width, height = client[2] - client[0], client[3] - client[1]
raw = subprocess.run(["convert", f"{folder}/../picture_139", "-filter", "point", "-resize", f"{width}x{height}!",
                      "-depth", "8", "rgb:-"], capture_output=True, check=True).stdout
picture = [tuple(raw[i:i + 3]) for i in range(0, len(raw), 3)]
for key in ("title", "welcome_text"):
    rect = welcome[key]
    shot = crop("welcome", rect, client)
    under = [picture[y * width + x] for y in range(rect[1], rect[3]) for x in range(rect[0], rect[2])]
    boxed = sum(1 for seen, drawn in zip(shot, under) if seen == (255, 255, 255) and min(drawn) < 250)
    figures.append(f"{key}: {boxed} of {len(shot)} pixels white over the picture")
    if boxed * 50 > len(shot):
        problems.append(f"the {key} covers the background picture with a white box")

def badge(name, shot):
    return sum(1 for r, g, b in crop(name, shot["picture"], shot["client"]) if 140 < r < 210 and g < 40 and b < 60)
badges = {name: badge(name, shot) for name, shot in (("welcome", welcome), ("error", error))}
figures.append(f"badge pixels: welcome {badges['welcome']}, error {badges['error']}")
if badges["error"] < 200 or badges["welcome"] > 10:
    problems.append("the error badge does not show on the error page only")

fills = {}
for name in ("progress_30", "progress_70"):
    shot = geometry(name)
    bar = shot["bar"]
    pixels = crop(name, bar, shot["client"])
    width = bar[2] - bar[0]
    # The empty end of the bar: the colour just inside its right edge, half way down.
    empty = pixels[((bar[3] - bar[1]) // 2) * width + width - 3]
    fills[name] = sum(1 for pixel in pixels if pixel != empty)
figures.append(f"progress fill: {fills['progress_30']} pixels at 30, {fills['progress_70']} at 70")
if not 0 < fills["progress_30"] * 1.5 < fills["progress_70"]:
    problems.append("the progress fill does not grow from 30 to 70")

print("screenshots: " + "; ".join(figures))
if problems:
    sys.exit("screenshots: " + "; ".join(problems))
