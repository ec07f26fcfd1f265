#!/usr/bin/env python3
"""The resource generator refuses malformed data with a clear message and
writes nothing; a well-formed file produces the three outputs."""

import json
import os
import subprocess
import sys

generator, work = sys.argv[1], sys.argv[2]
os.makedirs(work, exist_ok=True)

good = {
    "module": "sample_module",
    "common_strings": {"100": "sample"},
    "dialogs": {"300": {"style": ["WS_POPUP"], "font": {"face": "F", "points": 8, "weight": 400, "italic": 0,
                                                       "charset": 1},
                        "rect": [0, 0, 10, 10], "title": "title",
                        "controls": [{"id": 1, "kind": "DEFPUSHBUTTON", "text": "ok", "rect": [1, 1, 5, 5]}]}},
    "languages": {"9": {"strings": {"305": "x"}, "dialog_texts": {"title": "T", "ok": "OK"}}},
    "icons": {"400": {"images": [{"size": 16, "bits": 4}]}},
}


def variant(change):
    data = json.loads(json.dumps(good))
    change(data)
    return data


def set_path(data, path, value):
    for key in path[:-1]:
        data = data[key]
    data[path[-1]] = value


def delete_path(data, path):
    for key in path[:-1]:
        data = data[key]
    del data[path[-1]]


cases = {
    "not json": "{\"module\": ",
    "top level list": [],
    "no languages": variant(lambda d: d.pop("languages")),
    "language id not a number": variant(lambda d: d["languages"].update({"english": {}})),
    "language id too large": variant(lambda d: d["languages"].update({"70000": {}})),
    "string id not a number": variant(lambda d: set_path(d, ["languages", "9", "strings"], {"x1": "a"})),
    "string not a text": variant(lambda d: set_path(d, ["languages", "9", "strings"], {"305": 5})),
    "string with NUL": variant(lambda d: set_path(d, ["languages", "9", "strings"], {"305": "a\u0000b"})),
    "string twice": variant(lambda d: set_path(d, ["languages", "9", "strings"], {"100": "again"})),
    "dialog text missing": variant(lambda d: delete_path(d, ["languages", "9", "dialog_texts", "ok"])),
    "dialog text unknown": variant(lambda d: set_path(d, ["languages", "9", "dialog_texts", "extra"], "e")),
    "unknown style": variant(lambda d: set_path(d, ["dialogs", "300", "style"], ["WS_NOPE"])),
    "unknown control kind": variant(lambda d: set_path(d, ["dialogs", "300", "controls", 0, "kind"], "SLIDER")),
    "short rectangle": variant(lambda d: set_path(d, ["dialogs", "300", "controls", 0, "rect"], [1, 2, 3])),
    "control id twice": variant(lambda d: d["dialogs"]["300"]["controls"].append(
        {"id": 1, "kind": "PUSHBUTTON", "text": None, "rect": [1, 1, 1, 1]})),
    "unknown geometry": variant(lambda d: set_path(d, ["languages", "9", "geometry"], {"999": [1, 1, 1, 1]})),
    "icon bits": variant(lambda d: set_path(d, ["icons", "400", "images"], [{"size": 16, "bits": 24}])),
    "icon size": variant(lambda d: set_path(d, ["icons", "400", "images"], [{"size": 512, "bits": 32}])),
    "module name": variant(lambda d: set_path(d, ["module"], "../evil")),
    "neutral not a language": variant(lambda d: set_path(d, ["neutral"], "7")),
    "neutral twice": variant(lambda d: (set_path(d, ["neutral"], "9"), d["languages"].update({"0": d["languages"]["9"]}))),
}

failures = 0
for name, data in cases.items():
    path = os.path.join(work, "bad.json")
    out = os.path.join(work, "out-bad")
    with open(path, "w", encoding="utf-8") as f:
        f.write(data if isinstance(data, str) else json.dumps(data))
    r = subprocess.run([sys.executable, generator, "--data", path, "--out-dir", out], capture_output=True, text=True)
    if r.returncode != 1 or "generate.py:" not in r.stderr or "Traceback" in r.stderr or os.path.exists(out):
        print("FAIL %s: status %d, stderr %r" % (name, r.returncode, r.stderr))
        failures += 1

path = os.path.join(work, "sample.json")
out = os.path.join(work, "out-good")
with open(path, "w", encoding="utf-8") as f:
    json.dump(good, f)
r = subprocess.run([sys.executable, generator, "--data", path, "--out-dir", out], capture_output=True, text=True)
for produced in ("sample_resources.cpp", "sample.rc", "sample_400.ico"):
    if r.returncode != 0 or not os.path.exists(os.path.join(out, produced)):
        print("FAIL good data: %s missing (%d %s)" % (produced, r.returncode, r.stderr))
        failures += 1

print("%d case(s) failed" % failures)
sys.exit(1 if failures else 0)
