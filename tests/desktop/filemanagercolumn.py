#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The "Description" column of the file managers with Python extensions, as installed from the build.

The extension is imported from each place it is installed against stand-ins of each file
manager's bindings, and asked for rows of a temporary folder whose descriptions the build's
real dnt wrote. A stand-in dnt first on PATH counts each start and then runs the real one.

Usage: filemanagercolumn.py BUILD_DIR
"""
import importlib.util
import os
import subprocess
import sys
import time
import types

sys.dont_write_bytecode = True  # no cache of the shared module left in the source tree
from support import Check, Fail, InstallBuild, Location, StandIn, Finish  # noqa: E402

BUILD = sys.argv[1]

WORK, PREFIX = InstallBuild(BUILD)
SHARE = os.path.join(PREFIX, "share")
REAL_DNT = os.path.join(PREFIX, "bin", "dnt")

# The stand-in dnt: a line into $DNT_STARTS for each start, then the real dnt, or a wait that
# outlasts the extension's patience when $DNT_HANG is set.
StandIn(WORK, "dnt", f'#!/bin/sh\necho "$*" >> "$DNT_STARTS"\n[ -n "$DNT_HANG" ] && exec sleep 60\nexec "{REAL_DNT}" "$@"\n')
STARTS = os.path.join(WORK, "starts")
os.environ["DNT_STARTS"] = STARTS
os.environ["PWNED"] = os.path.join(WORK, "pwned")  # what a name run as shell code makes


def Starts():
    """How many times dnt started since the last call."""
    try:
        with open(STARTS) as file:
            count = len(file.readlines())
    except FileNotFoundError:
        return 0
    os.unlink(STARTS)
    return count


def Describe(path, text):
    subprocess.run([REAL_DNT, "set", path, text], check=True, stdout=subprocess.DEVNULL)


# --- stand-ins of the bindings: what the extension uses of each file manager's -----------------
class Properties:
    def __init__(self, **properties):
        self.properties = properties


class Label(Properties):
    def show(self):
        pass


class ListStore(list):
    @staticmethod
    def new(item_type):
        return ListStore()


def Bindings(manager, version, required):
    """Modules gi and gi.repository as the file manager leaves them before it loads extensions;
    required holds the (name, version) the host asked for already."""
    versions = dict(required)
    gi = types.ModuleType("gi")
    gi.get_required_version = versions.get
    gi.require_version = lambda name, wanted: versions.setdefault(name, wanted)
    repository = types.ModuleType("gi.repository")
    gi.repository = repository
    namespace = types.SimpleNamespace(ColumnProvider=type("ColumnProvider", (), {}),
                                      InfoProvider=type("InfoProvider", (), {}),
                                      Column=type("Column", (Properties,), {}))
    if version == "4.0":
        namespace.PropertiesModelProvider = type("PropertiesModelProvider", (), {})
        namespace.PropertiesModel = type("PropertiesModel", (Properties,), {})
        namespace.PropertiesItem = type("PropertiesItem", (Properties,), {})
    else:
        namespace.PropertyPageProvider = type("PropertyPageProvider", (), {})
        namespace.PropertyPage = type("PropertyPage", (Properties,), {})
    setattr(repository, manager, namespace)
    repository.GObject = types.SimpleNamespace(GObject=type("GObject", (), {}))
    repository.Gio = types.SimpleNamespace(ListStore=ListStore)
    repository.Gtk = types.SimpleNamespace(Label=Label)
    return gi, repository, namespace, versions


class FakeRow:
    """A file manager's file: its path, the attributes the extension set, and how often it was
    invalidated (the file manager then asks for it again)."""

    def __init__(self, path):
        self.path, self.attributes, self.invalidated = path, {}, 0

    def get_location(self):
        return Location(self.path)

    def add_string_attribute(self, name, value):
        self.attributes[name] = value

    def invalidate_extension_info(self):
        self.invalidated += 1


def Load(path, manager, version, required):
    gi, repository, namespace, versions = Bindings(manager, version, required)
    sys.modules.update({"gi": gi, "gi.repository": repository})
    found = importlib.util.spec_from_file_location("dirnote_column_" + manager + version.replace(".", ""), path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module, namespace, versions


def Providers(module, base):
    return [value() for value in vars(module).values() if isinstance(value, type) and issubclass(value, base)]


def Shown(provider, attribute, path):
    row = FakeRow(path)
    provider.update_file_info(row)
    return row.attributes.get(attribute)


def PropertyText(provider, version, paths):
    """The description shown among the properties of the selected paths, or None."""
    rows = [FakeRow(path) for path in paths]
    if version == "4.0":
        models = provider.get_models(rows)
        if not models:
            return None
        items = models[0].properties["model"]
        return items[0].properties["value"] if len(models) == 1 and len(items) == 1 else ("unexpected", models)
    pages = provider.get_property_pages(rows)
    if not pages:
        return None
    return pages[0].properties["page"].properties["label"] if len(pages) == 1 else ("unexpected", pages)


# Each file manager, with the place it loads the extension from and its bindings' version; the
# last one is the extension loaded where no host asked for bindings first.
CASES = [("nautilus-python", "Nautilus", "4.0", [("Nautilus", "4.0")]),
         ("nautilus-python", "Nautilus", "3.0", [("Nautilus", "3.0")]),
         ("nemo-python", "Nemo", "3.0", [("Nemo", "3.0"), ("Gtk", "3.0")]),
         ("nautilus-python", "Nautilus", "4.0", [])]


def CheckCase(number, folder_name, manager, version, required):
    who = f"{manager} {version}" + ("" if required else " (no host)")
    extension = os.path.join(SHARE, folder_name, "extensions", "dirnote-column.py")
    if not Check(os.path.isfile(extension), f"{who}: the extension is not installed in {folder_name}"):
        return
    module, namespace, versions = Load(extension, manager, version, required)
    Check(versions.get(manager) == version and len(versions) == max(len(required), 1),
          f"{who}: the extension asked for the bindings {versions}")
    columns = Providers(module, namespace.ColumnProvider)
    if not Check(len(columns) == 1 and isinstance(columns[0], namespace.InfoProvider),
                 f"{who}: no single column and information provider"):
        return
    provider = columns[0]
    listed = provider.get_columns()
    if not Check(len(listed) == 1 and isinstance(listed[0], namespace.Column), f"{who}: the columns are {listed}"):
        return
    column = listed[0].properties
    Check(column.get("name") == "DirNote::Description" and column.get("label") == "Description",
          f"{who}: the column is {column}")
    attribute = column.get("attribute")
    page_provider = namespace.PropertiesModelProvider if version == "4.0" else namespace.PropertyPageProvider
    properties = Providers(module, page_provider)
    Check(len(properties) == 1, f"{who}: no single properties provider")

    # A folder described by the real dnt: each row shows its own text, after one dnt run.
    tree = os.path.join(WORK, f"tree{number}").encode()
    # Shell syntax in the folder's name would run, were dnt started through a shell.
    described = os.path.join(tree, b"described $(touch $PWNED);touch $PWNED")
    os.makedirs(os.path.join(described, b"sub folder"))
    names = {b"report.pdf": "Annual report, final", b"\xff not UTF-8": "bytes kept", b"-dash": "starts with a dash",
             b"sub folder": "a folder's row", b"Report.PDF": "", b"plain": ""}
    for name, text in names.items():
        path = os.path.join(described, name)
        if not os.path.exists(path):
            open(path, "wb").close()
        if text:
            Describe(path, text)
    Starts()
    for round_ in (1, 2):
        for name, text in names.items():
            shown = Shown(provider, attribute, os.path.join(described, name))
            Check(shown == text, f"{who}: {name!r} shows {shown!r}, not {text!r} (round {round_})")
    Check(Starts() == 1, f"{who}: the folder was not read by one dnt run")
    Check(Shown(provider, attribute, None) is None, f"{who}: a place without a local path got a text")
    if properties:
        pages = properties[0]
        Check(PropertyText(pages, version, [os.path.join(described, b"report.pdf")]) == "Annual report, final",
              f"{who}: the properties do not show the description")
        Check(PropertyText(pages, version, [os.path.join(described, b"plain")]) is None,
              f"{who}: an undescribed file's properties got a description")
        Check(PropertyText(pages, version, [os.path.join(described, b"report.pdf"), os.path.join(described, b"plain")])
              is None, f"{who}: two selected files' properties got a description")

    # The file changes: rows shown before are asked for again and show the new text, read anew.
    before = [FakeRow(os.path.join(described, name)) for name in (b"plain", b"report.pdf")]
    for row in before:
        provider.update_file_info(row)
    Starts()
    Describe(os.path.join(described, b"plain"), "now described")  # a new file in its place
    Check(Shown(provider, attribute, os.path.join(described, b"plain")) == "now described",
          f"{who}: the description written since does not show")
    Check(Starts() == 1 and before[1].invalidated == 1,
          f"{who}: a changed Folder.dnt was not read again, or the rows shown were not asked again")
    # Changed by another program, each time in one of the three ways a new state is told apart.
    dnt_file = os.path.join(described, b"Folder.dnt")
    for change, (old, new) in (("in place, same size", (b"final", b"draft")),
                               ("in place, same time", (b"draft", b"second draft")),
                               ("replaced, same size and time", (b"second draft", b"second final"))):
        status = os.stat(dnt_file)
        with open(dnt_file, "rb") as file:
            content = file.read().replace(b"=Annual report, " + old, b"=Annual report, " + new)
        if change.startswith("replaced"):
            with open(dnt_file + b".new", "wb") as file:
                file.write(content)
            os.rename(dnt_file + b".new", dnt_file)
        else:
            with open(dnt_file, "r+b") as file:
                file.write(content)
        # The time stays where the size or the identity tells the change.
        os.utime(dnt_file, ns=(status.st_atime_ns, status.st_mtime_ns + (1 if change.endswith("same size") else 0)))
        text = "Annual report, " + new.decode()
        shown = Shown(provider, attribute, os.path.join(described, b"report.pdf"))
        Check(shown == text and Starts() == 1, f"{who}: a Folder.dnt changed {change} shows {shown!r}, not {text!r}")

    Check(not os.path.exists(os.environ["PWNED"]), f"{who}: a name ran as shell code")

    # A folder without Folder.dnt: no process.
    bare = os.path.join(tree, b"bare")
    os.makedirs(bare)
    for name in (b"one", b"two"):
        open(os.path.join(bare, name), "wb").close()
        Check(Shown(provider, attribute, os.path.join(bare, name)) == "",
              f"{who}: {name!r} got a text in a bare folder")
    Check(Starts() == 0, f"{who}: a folder without Folder.dnt started dnt")

    # A dnt that does not answer: the row waits no longer than the extension's limit, once.
    slow = os.path.join(tree, b"slow")
    os.makedirs(slow)
    open(os.path.join(slow, b"Folder.dnt"), "wb").close()
    module.TIMEOUT_SECONDS = 0.5
    os.environ["DNT_HANG"] = "1"
    began = time.monotonic()
    for name in (b"a", b"b", b"c"):
        Check(Shown(provider, attribute, os.path.join(slow, name)) == "", f"{who}: a hanging dnt gave a text")
    waited = time.monotonic() - began
    del os.environ["DNT_HANG"]
    Check(waited < 3 and Starts() == 1, f"{who}: a hanging dnt held the rows {waited:.1f} s, or was started again")

    # A Folder.dnt that another user planted as a link: dnt refuses it, the rows show nothing.
    if os.geteuid() == 0:
        planted = os.path.join(tree, b"planted")
        os.makedirs(planted)
        os.chmod(planted, 0o1777)
        secret = os.path.join(tree, b"secret.dnt")
        with open(secret, "wb") as file:
            file.write(b"[Files]\nvictim=the other user's text\n")
        open(os.path.join(planted, b"victim"), "wb").close()
        os.symlink(secret, os.path.join(planted, b"Folder.dnt"))
        os.lchown(os.path.join(planted, b"Folder.dnt"), 65534, 65534)
        Check(Shown(provider, attribute, os.path.join(planted, b"victim")) == "",
              f"{who}: a Folder.dnt planted by another user was shown")
        Starts()
    else:
        print(f"SKIPPED ({who}): a link of another user needs root to make")


for number, case in enumerate(CASES):
    try:
        CheckCase(number, *case)
    except Exception as error:  # one file manager's failure leaves the others checked
        Fail(f"{case[1]} {case[2]}: {error!r}")
    os.environ.pop("DNT_HANG", None)

Finish(WORK)
