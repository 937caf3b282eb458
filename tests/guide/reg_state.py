"""The registry of the Wine prefix as a dictionary, from regedit's export of a key."""
import os
import subprocess
import tempfile

HEADER = "Windows Registry Editor Version 5.00"


def parse(text):
    """{key in lower case: (key, {value name in lower case: (name, data as .reg writes it)})}."""
    keys = {}
    current = None
    logical = []
    for raw in text.replace("\r\n", "\n").split("\n"):
        if logical or raw.endswith("\\") and not raw.startswith("["):
            logical.append(raw.strip())
            if raw.endswith("\\"):
                logical[-1] = logical[-1][:-1]
                continue
            raw, logical = "".join(logical), []
        if raw.startswith("[") and raw.endswith("]"):
            name = raw[1:-1]
            current = keys.setdefault(name.lower(), (name, {}))[1]
        elif current is not None and (raw.startswith('"') or raw.startswith("@=")):
            name, data = _split_value(raw)
            current[name.lower()] = (name, data)
    return keys


def _split_value(line):
    if line.startswith("@="):
        return "", line[2:]
    i = 1
    name = []
    while line[i] != '"':
        if line[i] == "\\":
            i += 1
        name.append(line[i])
        i += 1
    return "".join(name), line[i + 2:]


def export(wine, key):
    """The key's tree as parse() gives it; empty when the key is missing."""
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "export.reg")
        subprocess.run([wine, "regedit", "/E", "Z:" + path.replace("/", "\\"), key],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120)
        if not os.path.exists(path):
            return {}
        return parse(open(path, "rb").read().decode("utf-16"))


def differences(before, after):
    """What changed, as sorted lines: values set, deleted or added, keys created or deleted."""
    said = []
    for key in sorted(set(before) | set(after)):
        if key not in after:
            said.append("key deleted: %s" % before[key][0])
            continue
        if key not in before:
            said.append("key created: %s" % after[key][0])
        old = before.get(key, ("", {}))[1]
        new = after[key][1]
        for name in sorted(set(old) | set(new)):
            shown = "%s \"%s\"" % (after[key][0], (new.get(name) or old.get(name))[0])
            if name not in new:
                said.append("value deleted: %s (was %s)" % (shown, old[name][1]))
            elif name not in old:
                said.append("value set: %s = %s (was not stored)" % (shown, new[name][1]))
            elif old[name][1] != new[name][1]:
                said.append("value set: %s = %s (was %s)" % (shown, new[name][1], old[name][1]))
    return said
