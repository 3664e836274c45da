#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
""""Describe with DirNote" in each file manager's context menu, as installed from the build.

Each file is checked by its file manager's own rules, then the command it runs is run for a
folder and for a file whose names hold spaces, quotes, a leading dash, bytes that are not UTF-8,
line feeds and shell syntax: a stand-in "dirnote" first on PATH records its arguments, which must
be "--" and the path, byte for byte, and nothing may have run as shell code.

Usage: filemanagers.py BUILD_DIR UCA_DTD
"""
import configparser
import importlib.util
import os
import py_compile
import shlex
import shutil
import subprocess
import sys
import tempfile
import types

sys.dont_write_bytecode = True  # no cache of the shared module left in the source tree
from support import Check, Fail, InstallBuild, Location, StandIn, Finish  # noqa: E402

BUILD, UCA_DTD = sys.argv[1], sys.argv[2]

for tool in ("desktop-file-validate", "xmllint"):
    if shutil.which(tool) is None:
        print(f"SKIPPED: {tool} is missing (scripts/setup.sh installs it)")
        sys.exit(77)

WORK, PREFIX = InstallBuild(BUILD)
SHARE = os.path.join(PREFIX, "share")

# The stand-in dirnote: its arguments, each ended by a NUL byte, into the file $DIRNOTE_RECORD.
StandIn(WORK, "dirnote", '#!/bin/sh\nprintf \'%s\\0\' "$@" > "$DIRNOTE_RECORD"\n')
RECORD = os.path.join(WORK, "record")
os.environ["DIRNOTE_RECORD"] = RECORD

# What a shell would make of the names below, were it to run them as code: a file "pwned".
TREE = os.path.join(WORK, "tree").encode()
NAMES = [b"plain", b"two  spaces", b"-x", b"--help", b"it's \"quoted\"", b"\xff\xfe not UTF-8", b"line\nfeed",
         b"ends with a line feed\n", b" blanks ", b"$(touch pwned)", b"`touch pwned`", b"a;touch pwned", b"%f %F %U"]
PATHS = []
for name in NAMES:
    folder = os.path.join(TREE, b"folder " + name)
    os.makedirs(folder)
    PATHS.append(folder)
    with open(os.path.join(folder, name), "wb"):
        pass
    PATHS.append(os.path.join(folder, name))


def Recorded():
    """The arguments the stand-in got at its last start, or None when it did not start."""
    try:
        with open(RECORD, "rb") as record:
            data = record.read()
    except FileNotFoundError:
        return None
    os.unlink(RECORD)
    return data.split(b"\0")[:-1]


def Run(argv, cwd=None):
    subprocess.run(argv, cwd=cwd, check=False, timeout=30)


def CheckReached(who, path, arguments):
    Check(arguments == [b"--", path], f"{who}: {path!r} reached dirnote as {arguments!r}")


def CheckNothingRanAsCode(who):
    for root, _dirs, files in os.walk(WORK):
        if "pwned" in files:
            Fail(f"{who}: a name ran as shell code in {root}")
            os.unlink(os.path.join(root, "pwned"))


def KeyFile(path, group):
    """A key file's group as its readers take it: keys case-sensitive, no interpolation."""
    parser = configparser.ConfigParser(interpolation=None, strict=True, delimiters=("=",), comment_prefixes=("#",))
    parser.optionxform = str
    with open(path, encoding="utf-8") as file:
        text = "".join(line for line in file if not line.startswith("#!"))
    parser.read_string(text)
    return parser[group] if parser.has_section(group) else None


# --- the service menu: the desktop entry format, and its Exec line as that format runs it ------
def ExecArguments(exec_line, path):
    """The arguments of a desktop entry's Exec line with %f standing for path."""
    arguments, current, quoted, started, i = [], "", False, False, 0
    while i < len(exec_line):
        c = exec_line[i]
        if quoted:
            if c == "\\" and i + 1 < len(exec_line) and exec_line[i + 1] in '"`$\\':
                current += exec_line[i + 1]
                i += 1
            elif c == '"':
                quoted = False
            else:
                current += c
        elif c == '"':
            quoted, started = True, True
        elif c == " ":
            if started:
                arguments.append(current)
            current, started = "", False
        else:
            current += c
            started = True
        i += 1
    if started:
        arguments.append(current)
    result = []
    for argument in arguments:
        if argument == "%f":
            result.append(path)
        elif "%" in argument.replace("%%", ""):
            raise ValueError(f"field code other than a lone %f in {argument!r}")
        else:
            result.append(argument.replace("%%", "%").encode())
    return result


SERVICE_MENU = os.path.join(SHARE, "kio", "servicemenus", "dirnote-describe.desktop")
if Check(os.path.isfile(SERVICE_MENU), "the service menu is not installed"):
    validated = subprocess.run(["desktop-file-validate", SERVICE_MENU], capture_output=True, text=True)
    Check(validated.returncode == 0 and not validated.stdout.strip(), "desktop-file-validate: " + validated.stdout)
    # Service menus are only read when executable.
    Check(os.access(SERVICE_MENU, os.X_OK), "the service menu is not executable")
    entry = KeyFile(SERVICE_MENU, "Desktop Entry")
    mime = entry.get("MimeType", "").split(";")
    Check("inode/directory" in mime and "application/octet-stream" in mime,
          "the service menu is not offered for folders and every file: " + entry.get("MimeType", ""))
    actions = [a for a in entry.get("Actions", "").split(";") if a]
    Check(len(actions) == 1, f"one action expected: {actions}")
    action = KeyFile(SERVICE_MENU, "Desktop Action " + actions[0]) if actions else None
    if Check(action is not None and action.get("Name") == "Describe with DirNote", "the action's group or name"):
        for path in PATHS:
            Run(ExecArguments(action["Exec"], path))
            CheckReached("service menu", path, Recorded())
        CheckNothingRanAsCode("service menu")


# --- the action file: its key file, and its Exec line with the path quoted as substituted -----
def QuotedArguments(command, code, path):
    """A command whose field code is replaced by the path quoted for a shell-style split, then
    split so: how the file managers with such commands start them, without a shell."""
    Check(command.count(code) == 1, f"{command!r} holds {code} not exactly once")
    line = command.replace(code, shlex.quote(os.fsdecode(path)))
    return [os.fsencode(argument) for argument in shlex.split(line)]


NEMO_ACTION = os.path.join(SHARE, "nemo", "actions", "dirnote.nemo_action")
if Check(os.path.isfile(NEMO_ACTION), "the action file is not installed"):
    action = KeyFile(NEMO_ACTION, "Nemo Action")
    if Check(action is not None, "no [Nemo Action] group"):
        for key in ("Name", "Exec", "Selection"):
            Check(action.get(key), f"the action file lacks {key}")
        Check(action.get("Extensions") or action.get("Mimetypes"), "the action file lacks Extensions or Mimetypes")
        Check(action.get("Selection", "").lower() == "s", "the action is not for a single selection")
        Check("any" in action.get("Extensions", "").split(";"), "the action is not for files and folders alike")
        Check(action.get("Active", "true").lower() != "false", "the action is switched off")
        for path in PATHS:
            Run(QuotedArguments(action["Exec"], "%F", path))
            CheckReached("action file", path, Recorded())
        CheckNothingRanAsCode("action file")

# --- the custom action: merged into the user's uca.xml, valid, kept once, removable ---------------
THUNAR_TOOL = os.path.join(PREFIX, "bin", "dirnote-thunar-action")
SYSTEM_UCA = b"""<?xml version="1.0" encoding="UTF-8"?>
<actions>
<action><icon>utilities-terminal</icon><patterns>*</patterns><range/><name>Open Terminal Here</name>
<unique-id>system-1</unique-id><command>exo-open --working-directory %f --launch TerminalEmulator</command>
<description>Example</description><directories/></action>
</actions>
"""
USER_UCA = """<?xml version="1.0" encoding="UTF-8"?>
<actions>
<!-- the user's own note -->
<action><icon></icon><name>Zip it \u00e4</name><unique-id>user-1</unique-id><command>zip -r %n.zip %N</command>
<description></description><patterns>*</patterns><directories/></action>
<action><icon></icon><name>Count</name><unique-id>user-2</unique-id><command>wc -l %F</command>
<description></description><patterns>*</patterns><text-files/></action>
</actions>
""".encode()


def ThunarTool(config, command):
    environment = dict(os.environ, XDG_CONFIG_HOME=os.path.join(config, "home"),
                       XDG_CONFIG_DIRS=os.path.join(config, "system"))
    return subprocess.run([THUNAR_TOOL, command], env=environment, capture_output=True, timeout=30)


def Actions(path):
    import xml.etree.ElementTree as ET
    return [(action.findtext("unique-id"), action.findtext("name"), action.findtext("command"))
            for action in ET.parse(path).getroot().iter("action")]


def CheckUca(path, expected_ids, who):
    valid = subprocess.run(["xmllint", "--noout", "--dtdvalid", UCA_DTD, path], capture_output=True, text=True)
    Check(valid.returncode == 0, f"{who}: xmllint: {valid.stderr}")
    ids = [unique_id for unique_id, _name, _command in Actions(path)]
    Check(ids == expected_ids, f"{who}: the actions are {ids}, not {expected_ids}")


if Check(os.access(THUNAR_TOOL, os.X_OK), "dirnote-thunar-action is not installed"):
    for start, user_file, kept in (("from the system's actions", None, ["system-1"]),
                                   ("into the user's actions", USER_UCA, ["user-1", "user-2"]),
                                   ("into a file without actions", b"<actions/>", [])):
        config = tempfile.mkdtemp(dir=WORK)
        os.makedirs(os.path.join(config, "system", "Thunar"))
        with open(os.path.join(config, "system", "Thunar", "uca.xml"), "wb") as file:
            file.write(SYSTEM_UCA)
        uca = os.path.join(config, "home", "Thunar", "uca.xml")
        if user_file is not None:
            os.makedirs(os.path.dirname(uca))
            with open(uca, "wb") as file:
                file.write(user_file)
        for round_ in (1, 2):  # a second install replaces the first one's action
            done = ThunarTool(config, "install")
            Check(done.returncode == 0, f"install {start}: {done.stderr!r}")
            CheckUca(uca, kept + ["dirnote-describe"], f"install {start}, round {round_}")
        if user_file == USER_UCA:
            with open(uca, "rb") as file:
                merged = file.read()
            Check(b"<!-- the user's own note -->" in merged and "Zip it \u00e4".encode() in merged,
                  "the user's comment or non-ASCII name was lost: " + merged.decode(errors="replace"))
        command = [c for unique_id, _n, c in Actions(uca) if unique_id == "dirnote-describe"][0]
        for path in PATHS:
            Run(QuotedArguments(command, "%f", path))
            CheckReached("custom action", path, Recorded())
        CheckNothingRanAsCode("custom action")
        done = ThunarTool(config, "remove")
        Check(done.returncode == 0, f"remove {start}: {done.stderr!r}")
        CheckUca(uca, kept, f"remove {start}")
    # A file that is no uca.xml is left alone, with a message and exit code 1.
    config = tempfile.mkdtemp(dir=WORK)
    broken = os.path.join(config, "home", "Thunar", "uca.xml")
    os.makedirs(os.path.dirname(broken))
    with open(broken, "wb") as file:
        file.write(b"<actions><action>")
    done = ThunarTool(config, "install")
    with open(broken, "rb") as file:
        Check(done.returncode == 1 and file.read() == b"<actions><action>" and b"uca.xml" in done.stderr,
              f"a damaged uca.xml: exit {done.returncode}, {done.stderr!r}")
    Check(ThunarTool(config, "add").returncode == 2, "a wrong command is no usage error")

# --- the extension: compiles, and imports against stand-ins of the bindings ---------------------
EXTENSION = os.path.join(SHARE, "nautilus-python", "extensions", "dirnote-describe.py")


def StubBindings(version_asked):
    """Modules gi and gi.repository with the few names the extension uses."""
    gi = types.ModuleType("gi")
    gi.require_version = lambda name, version: version_asked.append((name, version))
    repository = types.ModuleType("gi.repository")
    gi.repository = repository

    class MenuItem:
        def __init__(self, **properties):
            self.properties, self.handlers = properties, {}

        def connect(self, signal, handler):
            self.handlers[signal] = handler

    class GLib:
        PRIORITY_DEFAULT = 0
        watched = []

        @staticmethod
        def child_watch_add(priority, pid, callback):
            GLib.watched.append(pid)

    repository.GObject = types.SimpleNamespace(GObject=type("GObject", (), {}))
    repository.GLib = GLib
    repository.Nautilus = types.SimpleNamespace(MenuProvider=type("MenuProvider", (), {}), MenuItem=MenuItem)
    return gi, repository


class FakeFile:
    def __init__(self, path):
        self.path = path

    def get_location(self):
        return Location(self.path)


if Check(os.path.isfile(EXTENSION), "the extension is not installed"):
    try:
        py_compile.compile(EXTENSION, cfile=os.path.join(WORK, "extension.pyc"), doraise=True)
    except py_compile.PyCompileError as error:
        Fail(f"the extension does not compile: {error}")
    asked = []
    gi, repository = StubBindings(asked)
    sys.modules.update({"gi": gi, "gi.repository": repository})
    found = importlib.util.spec_from_file_location("dirnote_describe", EXTENSION)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    Check(asked[:1] == [("Nautilus", "4.0")], f"the extension asks for {asked}, not the bindings' version 4.0")
    providers = [value for value in vars(module).values()
                 if isinstance(value, type) and issubclass(value, repository.Nautilus.MenuProvider)]
    if Check(len(providers) == 1, "no menu provider in the extension"):
        provider = providers[0]()
        Check(provider.get_file_items([FakeFile(PATHS[0]), FakeFile(PATHS[1])]) == [], "an item for two entries")
        Check(provider.get_file_items([FakeFile(None)]) == [], "an item for a place without a local path")
        for path in PATHS:
            for arguments in (([FakeFile(path)],), (object(), [FakeFile(path)])):  # 4.0's and 3.0's call
                items = provider.get_file_items(*arguments)
                if Check(len(items) == 1 and items[0].properties.get("label") == "Describe with DirNote",
                         f"the extension offers {items} for {path!r}"):
                    items[0].handlers["activate"](items[0]).wait(timeout=30)
                    CheckReached("extension", path, Recorded())
        Check(len(repository.GLib.watched) == 2 * len(PATHS), "a started DirNote is not reaped")
        CheckNothingRanAsCode("extension")

# --- the script the user copies: started in the folder shown, with the selected names ----------
SCRIPT = os.path.join(SHARE, "dirnote", "nautilus-scripts", "Describe with DirNote")
if Check(os.access(SCRIPT, os.X_OK), "the script is not installed executable"):
    for path in PATHS:
        folder, name = os.path.split(path)
        for argument in (name, path):  # a name in the folder shown, or a whole path
            Run([SCRIPT, argument], cwd=folder)
            CheckReached("script", path, Recorded())
    Run([SCRIPT], cwd=PATHS[0])  # nothing selected: the folder shown
    CheckReached("script without a selection", PATHS[0], Recorded())
    CheckNothingRanAsCode("script")

Finish(WORK)
