#!/usr/bin/env python3
"""Checks the operator's guide (README's Windows section, which is also
README-Windows.txt) against the code: the settings' names, types and
defaults; every example log line against a format the sources log, at that
level; the environment switches; the limits and codes it quotes; the
installer's log lines, actions and properties it quotes, and its msiexec
commands."""
import json
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def windows_section():
    text = (root / "README.md").read_text()
    start = text.index("## Windows Server")
    end = text.find("\n## ", start + 1)
    return text[start:] if end < 0 else text[start:end]


def source_files():
    for folder in ("shv", "common", "cfg", "kern", "base", "net", "net2", "platform"):
        for path in sorted((root / folder).rglob("*")):
            if path.suffix in (".cpp", ".h"):
                yield path.read_text(errors="replace")


LITERAL = r'"(?:[^"\\]|\\.)*"'


def unescape(literal):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r", "t": "\t"}.get(m.group(1), m.group(1)),
                  literal[1:-1])


def literals(text, at):
    """The string literals from text[at], adjacent ones joined, and where they end."""
    joined = re.compile(r"\s*((?:" + LITERAL + r"\s*)+)").match(text, at)
    if not joined:
        return None, at
    return "".join(unescape(p) for p in re.findall(LITERAL, joined.group(1))), joined.end()


TAGS = ["FTL", "ERR", "wrn", "ntc", "inf", "tr0", "tr1", "tr2", "tr3", "db0", "db1", "db2", "db3"]
LEVELS = {name: TAGS[i] for i, name in enumerate(
    ["lvl_fatal", "lvl_error", "lvl_warning", "lvl_notice", "lvl_info", "lvl_trace0", "lvl_trace1",
     "lvl_trace2", "lvl_trace3", "lvl_debug0", "lvl_debug1", "lvl_debug2", "lvl_debug3"])}


def formats():
    """(level tag or None, format) for every string literal of the sources;
    the tag where the literal is a KLOG format."""
    found = []
    for text in source_files():
        logged = set()
        for m in re.finditer(r"KLOG\(\s*(lvl_\w+)\s*,", text):
            fmt, end = literals(text, m.end())
            if fmt is not None:
                found.append((LEVELS.get(m.group(1)), fmt))
                logged.update(range(m.end(), end))
        for m in re.finditer(LITERAL, text):
            if m.start() not in logged:
                found.append((None, unescape(m.group(0))))
    return found


SPEC = re.compile(r"%(%|[-+ #0]*(\d+|\*)?(\.(\d+|\*))?(hh|h|ll|l|z)?[diouxXscp])")


def pattern(fragment):
    out, at = "", 0
    for m in SPEC.finditer(fragment):
        out += re.escape(fragment[at:m.start()])
        out += "%" if m.group(1) == "%" else ".*"
        at = m.end()
    return out + re.escape(fragment[at:])


def line_patterns(fmt):
    """What one logged line of fmt may look like: the failure report puts
    each " because of " clause on a line of its own, indented after the
    first; a line logged directly keeps them. A fragment of mostly placeholders ("%s: %s") would match any
    line: only fragments with some words of their own count."""
    parts = fmt.split(" because of ")
    lines = [fmt.rstrip()] + [(("  " if k else "") + part + (" because of" if k + 1 < len(parts) else "")).rstrip()
                              for k, part in enumerate(parts) if len(parts) > 1]
    for line in lines:
        own = SPEC.sub("", line).strip()
        if len(own) >= 10:
            yield own, re.compile(pattern(line) + r"\Z")


guide = windows_section()

# The settings table against the settings store's table.
code = (root / "common/settings.cpp").read_text()
rows = re.findall(r'\{"(\w+)", u"(\w+)", kind_(number|string), (?:nullptr|u"(.*?)"), (\d+)\}', code)
check(len(rows) == 6, "settings table of common/settings.cpp not found")
table = {m.group(1): (m.group(2), m.group(3)) for m in
         re.finditer(r"^\| `(\w+)` \| ([^|]+?) \| ([^|]+?) \|", guide, re.M)}
check(set(table) == {r[1] for r in rows}, "the guide's settings %s, the code's %s" %
      (sorted(table), sorted(r[1] for r in rows)))
for _, value, kind, text_default, number_default in rows:
    if value not in table:
        continue
    kind_text, default = table[value]
    expected_type = "REG_SZ" if kind == "string" else "REG_DWORD"
    check(kind_text.startswith(expected_type), "%s: type %s, the code reads %s" % (value, kind_text, expected_type))
    expected = (text_default or "empty") if kind == "string" else number_default
    check(default == expected, "%s: default %s, the code's %s" % (value, default, expected))
key = re.search(r'settings_key\[\] = u"(.*?)"', code).group(1).replace("\\\\", "\\")
check("HKEY_LOCAL_MACHINE\\" + key in guide, "the settings key is not " + key)

# Every example log line against the formats the sources log.
prefix = re.compile(r"^    \d{8}\.\d{6}\.\d{2} (\w{3}) \[ *\d+ [0-9a-f]{4,}\] (\S+) +(.*)$", re.M)
examples = prefix.findall(guide)
check(len(examples) >= 8, "fewer example log lines than expected: %d" % len(examples))
known = [(tag, own, p) for tag, fmt in formats() for own, p in line_patterns(fmt)]
for tag, thread, message in examples:
    message = message.rstrip()
    if message.startswith(" "):  # a continuation keeps its two-blank indent
        message = "  " + message.lstrip()
    # A format's own words must make at least half of the line.
    matches = [t for t, own, p in known if p.match(message) and 2 * len(own) >= len(message.strip())]
    check(matches, "no format logs: %s" % message)
    check(not matches or tag in matches or None in matches,
          "%s is logged at %s, not %s" % (message, sorted(set(filter(None, matches))), tag))

# So do the log texts the diagnostics quote in running text.
diagnostics = guide[guide.index("### Diagnostics"):]
quoted = [q for q in re.findall(r"`([^`]+)`", diagnostics.replace("\n", " ")) if " " in q]
check(len(quoted) >= 3, "fewer quoted log texts than expected: %d" % len(quoted))
for text in quoted:
    check(any(p.match(text) and 2 * len(own) >= len(text) for _, own, p in known), "no format logs: %s" % text)

# The event ids: the code's, the message table's and the guide's are the same,
# and the guide's Diagnostics begin with them.
code_ids = set(re.findall(r"^  \w+ = (\d+),$", (root / "shv/event_log.h").read_text(), re.M))
mc_ids = set(re.findall(r"^MessageId=(\d+)$", (root / "resources/healthval_events.mc").read_text(), re.M))
guide_ids = set(re.findall(r"^\| (\d{4}) \| (?:Error|Warning|Information) \|", diagnostics, re.M))
check(len(code_ids) >= 12 and code_ids == mc_ids == guide_ids,
      "event ids: code %s, message table %s, guide %s" % (sorted(code_ids), sorted(mc_ids), sorted(guide_ids)))
check(diagnostics.split("\n\n")[1].startswith("Start with the Application event log"),
      "the diagnostics do not start with the event log")

# The environment switches exist.
sources = "\n".join(source_files())
for name in set(re.findall(r"`(TALOND_\w+)`", guide)):
    check('"%s"' % name in sources, "no switch %s in the sources" % name)

# The limits and codes the guide quotes.
check(re.search(r"max_requests = 128;", (root / "shv/request_counter.h").read_text()) and "128 requests" in guide,
      "the request limit is not 128")
result = (root / "shv/shv_result.h").read_text()
check("0x80270050" in result and "0x80270050" in guide, "not compliant is not 0x80270050")
check("shv_failure_server_communication = 5" in result and "category 5" in guide, "the failure category is not 5")
check("HRESULT_FROM_WIN32(565)" in sources and "0x80070235" in guide, "the refusal is not 0x80070235")
cache = (root / "shv/nap_cache.h").read_text()
cap = re.search(r"max_entries = (\d+)", cache)
check(cap and "{:,}".format(int(cap.group(1))) + " verdicts" in guide,
      "the verdict cache's cap on entries is not the guide's")
budget = re.search(r"max_bytes = (\d+) \* 1024 \* 1024", cache)
check(budget and "%s MiB of them" % budget.group(1) in guide, "the verdict cache's byte budget is not the guide's")
languages = len(json.loads((root / "resources/healthcfg.json").read_text())["languages"])
check("speaks %d languages" % languages in guide, "the dialog has %d languages" % languages)

# The installer: the "Vexor SHV:" lines quoted against the formats of the
# package's custom actions, the actions and properties named against its
# source, and every msiexec command with /norestart and a log.
installer_text = "\n".join(path.read_text() for path in sorted((root / "installer").glob("*.cpp")))
installer_formats = ["".join(unescape(p) for p in re.findall(LITERAL, m.group(0)))
                     for m in re.finditer(r'L' + LITERAL + r'(?:\s*L' + LITERAL + r')*', installer_text)]
package = (root / "installer/shv.wxs").read_text()
flat = guide.replace("\n", " ")
setup_lines = [re.sub(r"\s+", " ", q) for q in re.findall(r"`(Vexor SHV: [^`]+)`", flat)]
check(len(setup_lines) >= 3, "fewer quoted installer lines than expected: %d" % len(setup_lines))
for text in setup_lines:
    check(any(re.compile(pattern(f) + r"\Z").match(text) for f in installer_formats),
          "no custom action logs: %s" % text)
actions = set(re.findall(r'<CustomAction Id="(\w+)"', package))
for name in re.findall(r"`Action ended [\d:]+: (\w+)\. Return value \d\.`", flat):
    check(name in actions, "no custom action %s in the package" % name)
for name in set(re.findall(r"`?(SHV_[A-Z_]+)", guide)):
    check(name in package, "the package knows no property %s" % name)
check("SHV_IGNORE_UNREGISTER_FAILURE" in guide and "SHV_IGNORE_UNREGISTER_FAILURE" in installer_text,
      "the removal's switch is not SHV_IGNORE_UNREGISTER_FAILURE")
commands = re.findall(r"msiexec /[ixf] [^`\n]*(?:\n  [^`\n]*)?", guide)
check(len(commands) >= 4, "fewer msiexec commands than expected: %d" % len(commands))
for command in commands:
    command = re.sub(r"\s+", " ", command)
    check("/norestart" in command and "/l*v " in command, "no /norestart or no log: %s" % command)

for f in failures:
    print("FAIL:", f)
print("%d example lines, %d settings, %d installer lines, %d msiexec commands checked; %d failures" %
      (len(examples), len(table), len(setup_lines), len(commands), len(failures)))
sys.exit(1 if failures else 0)
