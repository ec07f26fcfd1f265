#!/usr/bin/env python3
"""Builds a module's resources from its one data file (JSON):

  <module>_resources.cpp   the resource section, embedded into the module on
                           platforms without a resource linker
  <module>.rc              the resource script for the Windows build
  <module>_<id>.ico        the icon files the script names

The embedded section has the Windows resource-section layout (directories by
type, name and language, then data entries, then data), with the data offsets
counted from the section's start, so the one lookup walks both.
"""

import argparse
import json
import math
import os
import struct
import sys
import zlib

RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON = 3, 5, 6, 14

STYLES = {
    "WS_POPUP": 0x80000000, "WS_CHILD": 0x40000000, "WS_VISIBLE": 0x10000000,
    "WS_CAPTION": 0x00C00000, "WS_BORDER": 0x00800000, "WS_SYSMENU": 0x00080000,
    "WS_GROUP": 0x00020000, "WS_TABSTOP": 0x00010000,
    "DS_SETFONT": 0x40, "DS_MODALFRAME": 0x80, "DS_FIXEDSYS": 0x08,
}

# Control kinds: window class atom, class name for the script, style.
CONTROL_KINDS = {
    "DEFPUSHBUTTON": (0x80, "Button", ["BS_DEFPUSHBUTTON", "WS_TABSTOP"], 0x1 | 0x00010000),
    "PUSHBUTTON": (0x80, "Button", ["BS_PUSHBUTTON", "WS_TABSTOP"], 0x0 | 0x00010000),
    "GROUPBOX": (0x80, "Button", ["BS_GROUPBOX"], 0x7),
    "AUTOCHECKBOX": (0x80, "Button", ["BS_AUTOCHECKBOX", "WS_TABSTOP"], 0x3 | 0x00010000),
    "LTEXT": (0x82, "Static", ["SS_LEFT", "WS_GROUP"], 0x0 | 0x00020000),
    "EDITTEXT": (0x81, "Edit", ["ES_LEFT", "ES_AUTOHSCROLL", "WS_BORDER", "WS_TABSTOP"],
                 0x0 | 0x80 | 0x00800000 | 0x00010000),
}
CHILD_STYLE = 0x40000000 | 0x10000000  # WS_CHILD | WS_VISIBLE, as the resource compiler adds


class data_error(Exception):
    pass


def fail(text):
    raise data_error(text)


# ---- Reading and checking the data file ----------------------------------------

def number(text, what, low, high):
    try:
        value = int(text, 0) if isinstance(text, str) else int(text)
    except (TypeError, ValueError):
        fail("%s: %r is not a number" % (what, text))
    if isinstance(text, bool) or value < low or value > high:
        fail("%s: %r is outside %d..%d" % (what, text, low, high))
    return value


def text_value(value, what):
    if not isinstance(value, str):
        fail("%s: expected a text, got %r" % (what, value))
    if "\0" in value:
        fail("%s: a text may not hold a NUL character" % what)
    if len(value.encode("utf-16-le")) // 2 > 0xFFFF:
        fail("%s: text too long" % what)
    return value


def load(path):
    try:
        with open(path, encoding="utf-8") as f:
            data = json.load(f)
    except (OSError, ValueError) as e:
        fail("%s: %s" % (path, e))
    if not isinstance(data, dict):
        fail("%s: the top level must be an object" % path)
    module = text_value(data.get("module"), "module")
    if not module or not all(c.isalnum() or c == "_" for c in module):
        fail("module: %r is not a plain name" % module)
    common = data.get("common_strings", {})
    languages = data.get("languages")
    if not isinstance(languages, dict) or not languages:
        fail("languages: at least one language is needed")
    dialogs = data.get("dialogs", {})
    icons = data.get("icons", {})
    for name, section in (("common_strings", common), ("dialogs", dialogs), ("icons", icons)):
        if not isinstance(section, dict):
            fail("%s: must be an object" % name)

    strings = {}   # lang -> {id: text}
    dialog_texts = {}
    geometry = {}
    for lang_text, entry in languages.items():
        lang = number(lang_text, "language id", 0, 0xFFFF)
        where = "language %s" % lang_text
        if not isinstance(entry, dict):
            fail("%s: must be an object" % where)
        table = {}
        for sid, s in common.items():
            table[number(sid, "common string id", 0, 0xFFFF)] = text_value(s, "common string " + sid)
        own = entry.get("strings", {})
        if not isinstance(own, dict):
            fail("%s: strings must be an object" % where)
        for sid, s in own.items():
            i = number(sid, where + " string id", 0, 0xFFFF)
            if i in table and sid in common:
                fail("%s: string %s is also a common string" % (where, sid))
            table[i] = text_value(s, "%s string %s" % (where, sid))
        strings[lang] = table
        texts = entry.get("dialog_texts", {})
        if not isinstance(texts, dict):
            fail("%s: dialog_texts must be an object" % where)
        dialog_texts[lang] = {k: text_value(v, "%s dialog text %s" % (where, k)) for k, v in texts.items()}
        geo = entry.get("geometry", {})
        if not isinstance(geo, dict):
            fail("%s: geometry must be an object" % where)
        geometry[lang] = {k: rect(v, "%s geometry %s" % (where, k)) for k, v in geo.items()}

    # The language whose resources also stand under the neutral language
    # (0): what a thread of any other language finds last.
    if "neutral" in data:
        source = number(data["neutral"], "neutral", 1, 0xFFFF)
        if source not in strings:
            fail("neutral: %r is not one of the languages" % data["neutral"])
        if 0 in strings:
            fail("neutral: language 0 is one of the languages already")
        strings[0] = dict(strings[source])
        dialog_texts[0] = dialog_texts[source]
        geometry[0] = geometry[source]

    parsed_dialogs = {}
    for did, d in dialogs.items():
        parsed_dialogs[number(did, "dialog id", 1, 0xFFFF)] = check_dialog(did, d, dialog_texts, geometry)
    parsed_icons = {}
    for iid, icon in icons.items():
        parsed_icons[number(iid, "icon id", 1, 0xFFFF)] = check_icon(iid, icon)
    return module, strings, parsed_dialogs, dialog_texts, geometry, parsed_icons


def rect(value, what):
    if not isinstance(value, list) or len(value) != 4:
        fail("%s: a rectangle is four numbers" % what)
    return [number(v, what, -32768, 32767) for v in value]


def check_dialog(did, d, dialog_texts, geometry):
    where = "dialog " + did
    if not isinstance(d, dict):
        fail(where + ": must be an object")
    style = 0
    for s in d.get("style", []):
        if s not in STYLES:
            fail("%s: unknown style %r" % (where, s))
        style |= STYLES[s]
    font = d.get("font")
    if not isinstance(font, dict):
        fail(where + ": font missing")
    text_value(font.get("face"), where + " font face")
    for k, high in (("points", 0xFFFF), ("weight", 1000), ("italic", 1), ("charset", 255)):
        number(font.get(k), "%s font %s" % (where, k), 0, high)
    rect(d.get("rect"), where + " rect")
    keys = {d.get("title")}
    controls = d.get("controls")
    if not isinstance(controls, list) or not controls:
        fail(where + ": controls missing")
    ids = set()
    for c in controls:
        if not isinstance(c, dict) or c.get("kind") not in CONTROL_KINDS:
            fail("%s: control %r has no known kind" % (where, c))
        cid = number(c.get("id"), where + " control id", -1, 0xFFFF)
        if cid != -1:
            if cid in ids:
                fail("%s: control id %d twice" % (where, cid))
            ids.add(cid)
        rect(c.get("rect"), "%s control %d" % (where, cid))
        if c.get("text") is not None:
            keys.add(c["text"])
    keys.discard(None)
    # Every language has every text of the dialog, and nothing else.
    for lang, texts in dialog_texts.items():
        missing = keys - set(texts)
        extra = set(texts) - keys
        if missing:
            fail("%s: language %d lacks %s" % (where, lang, ", ".join(sorted(missing))))
        if extra:
            fail("%s: language %d has unknown texts %s" % (where, lang, ", ".join(sorted(extra))))
        known = {str(c["id"]) for c in controls} | {c["text"] for c in controls if c.get("text")}
        for k in geometry.get(lang, {}):
            if k not in known:
                fail("%s: language %d moves unknown control %s" % (where, lang, k))
    return {"style": style, "style_names": list(d.get("style", [])), "font": font, "rect": d["rect"], "title": d.get("title"), "controls": controls}


def check_icon(iid, icon):
    where = "icon " + iid
    if not isinstance(icon, dict) or not isinstance(icon.get("images"), list) or not icon["images"]:
        fail(where + ": images missing")
    lang = number(icon.get("language", 0), where + " language", 0, 0xFFFF)
    images = []
    for img in icon["images"]:
        if not isinstance(img, dict):
            fail(where + ": an image must be an object")
        size = number(img.get("size"), where + " size", 1, 256)
        bits = number(img.get("bits"), where + " bits", 1, 32)
        if bits not in (4, 8, 32):
            fail("%s: %d bits per pixel is not supported" % (where, bits))
        images.append((size, bits))
    return {"language": lang, "images": images}


# ---- Binary forms ----------------------------------------------------------------

def utf16(text):
    return text.encode("utf-16-le")


def string_blocks(table):
    """String-table blocks: block (id / 16) + 1, sixteen counted strings."""
    blocks = {}
    for sid, text in table.items():
        blocks.setdefault(sid // 16 + 1, [""] * 16)[sid % 16] = text
    out = {}
    for block, entries in blocks.items():
        data = b""
        for text in entries:
            data += struct.pack("<H", len(utf16(text)) // 2) + utf16(text)
        out[block] = data
    return out


def align(data, n):
    return data + b"\0" * (-len(data) % n)


def sz(text):
    return utf16(text) + b"\0\0"


def dialog_controls(dialog, texts, geo):
    """The controls of one language: text and rectangle after its overrides."""
    out = []
    for c in dialog["controls"]:
        key = c.get("text")
        r = geo.get(str(c["id"])) or (geo.get(key) if key else None) or c["rect"]
        out.append((c, texts[key] if key else "", r))
    return out


def dialog_template(dialog, texts, geo):
    """An extended dialog template (DLGTEMPLATEEX and its items)."""
    font = dialog["font"]
    controls = dialog_controls(dialog, texts, geo)
    x, y, cx, cy = dialog["rect"]
    data = struct.pack("<HHIIIHhhhh", 1, 0xFFFF, 0, 0, dialog["style"], len(controls), x, y, cx, cy)
    data += b"\0\0" + b"\0\0"  # no menu, the standard dialog class
    data += sz(texts[dialog["title"]] if dialog["title"] else "")
    data += struct.pack("<HHBB", font["points"], font["weight"], font["italic"], font["charset"])
    data += sz(font["face"])
    for c, text, (x, y, cx, cy) in controls:
        atom, _, _, style = CONTROL_KINDS[c["kind"]]
        data = align(data, 4)
        data += struct.pack("<IIIhhhhI", 0, 0, CHILD_STYLE | style, x, y, cx, cy, c["id"] & 0xFFFFFFFF)
        data += struct.pack("<HH", 0xFFFF, atom)
        data += sz(text)
        data += b"\0\0"  # no creation data
    return data


# ---- Icons ----------------------------------------------------------------------

def icon_pixel(x, y, size):
    """The artwork: a blue disc with a white tick; (r, g, b, alpha)."""
    u, v = (x + 0.5) / size, (y + 0.5) / size
    d = math.hypot(u - 0.5, v - 0.5)
    if d > 0.47:
        return (0, 0, 0, 0)

    def near(ax, ay, bx, by):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((u - ax) * dx + (v - ay) * dy) / (dx * dx + dy * dy)))
        return math.hypot(u - ax - t * dx, v - ay - t * dy) < 0.075

    if near(0.28, 0.52, 0.44, 0.68) or near(0.44, 0.68, 0.73, 0.34):
        return (255, 255, 255, 255)
    return (0, 85, 170, 255) if d < 0.40 else (0, 51, 102, 255)


VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
         (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
         (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def palette256():
    cube = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    grays = [(i * 10, i * 10, i * 10) for i in range(1, 26)]
    pal = VGA16 + cube + grays
    return (pal + [(0, 0, 0)] * 256)[:256]


def nearest(palette, rgb):
    return min(range(len(palette)), key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], rgb)))


def icon_image(size, bits):
    """One icon image: a bottom-up DIB with its mask, or PNG for 256 pixels."""
    pixels = [[icon_pixel(x, y, size) for x in range(size)] for y in range(size)]
    if size == 256:
        raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in pixels)
        def chunk(kind, body):
            return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))
    palette = VGA16 if bits == 4 else palette256() if bits == 8 else []
    row_bytes = (size * bits + 31) // 32 * 4
    mask_bytes = (size + 31) // 32 * 4
    xor, mask = b"", b""
    for row in reversed(pixels):
        if bits == 32:
            line = b"".join(bytes((b, g, r, a)) for r, g, b, a in row)
        else:
            idx = [nearest(palette, p[:3]) if p[3] else 0 for p in row]
            if bits == 8:
                line = bytes(idx)
            else:
                line = bytes((idx[i] << 4) | (idx[i + 1] if i + 1 < size else 0) for i in range(0, size, 2))
        xor += align(line, 4)[:row_bytes].ljust(row_bytes, b"\0")
        m = bytearray(mask_bytes)
        for x, p in enumerate(row):
            if p[3] == 0:
                m[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(m)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, len(xor) + len(mask), 0, 0,
                         len(palette), 0)
    return header + b"".join(bytes((b, g, r, 0)) for r, g, b in palette) + xor + mask


def icon_entry(size, bits, length):
    """The common head of ICONDIRENTRY and GRPICONDIRENTRY."""
    dim = 0 if size == 256 else size
    return struct.pack("<BBBBHHI", dim, dim, 16 if bits == 4 else 0, 0, 1, bits, length)


# ---- The resource section ----------------------------------------------------------

def resource_section(resources):
    """resources: {(type, name, lang): bytes} -> the section's bytes."""
    tree = {}
    for (t, n, l), data in resources.items():
        tree.setdefault(t, {}).setdefault(n, {})[l] = data
    def dir_size(count):
        return 16 + 8 * count
    # Offsets: all directories, then the data entries, then the data.
    offset = dir_size(len(tree))
    name_dirs, lang_dirs = {}, {}
    for t in sorted(tree):
        name_dirs[t] = offset
        offset += dir_size(len(tree[t]))
    for t in sorted(tree):
        for n in sorted(tree[t]):
            lang_dirs[(t, n)] = offset
            offset += dir_size(len(tree[t][n]))
    leaves = [(t, n, l) for t in sorted(tree) for n in sorted(tree[t]) for l in sorted(tree[t][n])]
    entry_at = {}
    for key in leaves:
        entry_at[key] = offset
        offset += 16
    data_at = {}
    for key in leaves:
        offset += -offset % 8
        data_at[key] = offset
        offset += len(resources[key])

    def directory(ids_offsets):
        out = struct.pack("<IIHHHH", 0, 0, 0, 0, 0, len(ids_offsets))
        for i, o in ids_offsets:
            out += struct.pack("<II", i, o)
        return out

    out = directory([(t, 0x80000000 | name_dirs[t]) for t in sorted(tree)])
    for t in sorted(tree):
        out += directory([(n, 0x80000000 | lang_dirs[(t, n)]) for n in sorted(tree[t])])
    for t in sorted(tree):
        for n in sorted(tree[t]):
            out += directory([(l, entry_at[(t, n, l)]) for l in sorted(tree[t][n])])
    for key in leaves:
        out += struct.pack("<IIII", data_at[key], len(resources[key]), 0, 0)
    for key in leaves:
        out = align(out, 8) + resources[key]
    return out


def build(data_path):
    module, strings, dialogs, dialog_texts, geometry, icons = load(data_path)
    resources, icon_files = {}, {}
    for lang, table in strings.items():
        for block, data in string_blocks(table).items():
            resources[(RT_STRING, block, lang)] = data
        for did, dialog in dialogs.items():
            resources[(RT_DIALOG, did, lang)] = dialog_template(dialog, dialog_texts[lang], geometry[lang])
    next_image = 1
    for iid, icon in sorted(icons.items()):
        group = struct.pack("<HHH", 0, 1, len(icon["images"]))
        ico_entries, ico_images = b"", []
        for size, bits in icon["images"]:
            image = icon_image(size, bits)
            resources[(RT_ICON, next_image, icon["language"])] = image
            group += icon_entry(size, bits, len(image)) + struct.pack("<H", next_image)
            ico_entries += icon_entry(size, bits, len(image))
            ico_images.append(image)
            next_image += 1
        resources[(RT_GROUP_ICON, iid, icon["language"])] = group
        offset = 6 + 16 * len(ico_images)
        entries = b""
        for i, image in enumerate(ico_images):
            entries += ico_entries[12 * i:12 * i + 12] + struct.pack("<I", offset)
            offset += len(image)
        icon_files[iid] = group[:6] + entries + b"".join(ico_images)
    return module, strings, dialogs, dialog_texts, geometry, icons, resources, icon_files


# ---- Writers ------------------------------------------------------------------------

def cpp_source(module, section, data_name):
    lines = ["// Generated by resources/generate.py from %s; do not edit." % data_name,
             "// The resource section of %s." % module,
             '#include "platform/resource_section.h"', "", "namespace {",
             "alignas(8) const unsigned char section[%d] = {" % len(section)]
    for i in range(0, len(section), 24):
        lines.append("    " + ",".join(str(b) for b in section[i:i + 24]) + ",")
    lines += ["};", "}  // namespace", "", "SHV_EMBED_RESOURCES(section, sizeof(section))", ""]
    return "\n".join(lines)


def rc_text(text):
    return '"' + text.replace('"', '""') + '"'


def rc_script(stem, strings, dialogs, dialog_texts, geometry, icons, data_name):
    out = ["// Generated by resources/generate.py from %s; do not edit." % data_name,
           "#pragma code_page(65001)", "#include <windows.h>", ""]
    for iid, icon in sorted(icons.items()):
        lang = icon["language"]
        out += ["LANGUAGE 0x%02X, 0x%02X" % (lang & 0x3FF, lang >> 10),
                '%d ICON "%s_%d.ico"' % (iid, stem, iid), ""]
    for lang in sorted(strings):
        out += ["LANGUAGE 0x%02X, 0x%02X" % (lang & 0x3FF, lang >> 10), "STRINGTABLE", "BEGIN"]
        out += ["    %d, %s" % (sid, rc_text(t)) for sid, t in sorted(strings[lang].items())]
        out += ["END", ""]
        for did, d in sorted(dialogs.items()):
            x, y, cx, cy = d["rect"]
            font = d["font"]
            out += ["%d DIALOGEX %d, %d, %d, %d" % (did, x, y, cx, cy), "STYLE " + " | ".join(d["style_names"]),
                    "CAPTION " + rc_text(dialog_texts[lang][d["title"]] if d["title"] else ""),
                    "FONT %d, %s, %d, %d, 0x%X" % (font["points"], rc_text(font["face"]), font["weight"],
                                                   font["italic"], font["charset"]), "BEGIN"]
            for c, text, (x, y, cx, cy) in dialog_controls(d, dialog_texts[lang], geometry[lang]):
                # The class by its ordinal: windres keeps a class name as text,
                # where the system's own controls are meant (0x80 Button...).
                ordinal, _, style_names, _ = CONTROL_KINDS[c["kind"]]
                out.append('    CONTROL %s, %d, 0x%X, %s | WS_CHILD | WS_VISIBLE, %d, %d, %d, %d' %
                           (rc_text(text), c["id"], ordinal, " | ".join(style_names), x, y, cx, cy))
            out += ["END", ""]
    return "\n".join(out)


def write(path, data):
    mode = "wb" if isinstance(data, bytes) else "w"
    kwargs = {} if isinstance(data, bytes) else {"encoding": "utf-8", "newline": "\n"}
    with open(path + ".tmp", mode, **kwargs) as f:
        f.write(data)
    os.replace(path + ".tmp", path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", required=True, help="the module's resource data (JSON)")
    parser.add_argument("--out-dir", required=True)
    args = parser.parse_args()
    try:
        module, strings, dialogs, dialog_texts, geometry, icons, resources, icon_files = build(args.data)
    except data_error as e:
        print("generate.py: %s: %s" % (args.data, e), file=sys.stderr)
        return 1
    # Outputs are named after the data file, so a build knows them in advance.
    name = os.path.basename(args.data)
    stem = os.path.splitext(name)[0]
    os.makedirs(args.out_dir, exist_ok=True)
    for iid, data in icon_files.items():
        write(os.path.join(args.out_dir, "%s_%d.ico" % (stem, iid)), data)
    write(os.path.join(args.out_dir, stem + ".rc"),
          rc_script(stem, strings, dialogs, dialog_texts, geometry, icons, name))
    write(os.path.join(args.out_dir, stem + "_resources.cpp"),
          cpp_source(module, resource_section(resources), name))
    return 0


if __name__ == "__main__":
    sys.exit(main())
