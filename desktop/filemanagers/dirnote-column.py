# SPDX-License-Identifier: GPL-3.0-or-later
# A "Description" column in the list view of the file manager (python3-nautilus, nemo-python),
# and the description among a file's properties. The same file serves both file managers: each
# names its own bindings before it loads its extensions.
#
# Descriptions come from Folder.dnt through `dnt ls FOLDER --json`, one call per folder, kept
# until the file's identity, size or modification time changes. A folder without Folder.dnt
# starts no process. dnt decides what may be read (it refuses a Folder.dnt another user planted);
# whatever it refuses, or does not finish in time, shows as no descriptions.
import base64
import collections
import json
import os
import re
import subprocess

import gi

if gi.get_required_version("Nemo") is not None:
    from gi.repository import GObject, Nemo as Manager  # noqa: E402
elif gi.get_required_version("Nautilus") is not None:
    from gi.repository import GObject, Nautilus as Manager  # noqa: E402
else:  # loaded by something else than a file manager: the newest bindings there are
    try:
        gi.require_version("Nautilus", "4.0")
    except ValueError:
        gi.require_version("Nautilus", "3.0")
    from gi.repository import GObject, Nautilus as Manager  # noqa: E402

DESCRIPTION_FILE = b"Folder.dnt"
ATTRIBUTE = "dirnote_description"
# The file manager waits while dnt reads a folder; a folder that takes longer shows no
# descriptions (until Folder.dnt changes) rather than a window that hangs.
TIMEOUT_SECONDS = 3.0
# Folders whose descriptions, and the rows asked for, are kept (the most recently listed).
KEPT_FOLDERS = 16
# Control characters would garble a row; they show as "?", as dnt shows them on a terminal.
CONTROL = re.compile("[\x00-\x1f\x7f]")


def LocalPath(info):
    """The local path (bytes) of a file manager's file, or None for one that has none."""
    location = info.get_location()
    path = location.get_path() if location is not None else None
    # A name that is not UTF-8 comes as text with its bytes escaped; os.fsencode restores them.
    return os.fsencode(path) if path else None


def Stamp(folder):
    """What identifies the folder's Folder.dnt as read: None when there is none."""
    try:
        status = os.stat(os.path.join(folder, DESCRIPTION_FILE))
    except OSError:
        return None
    return (status.st_dev, status.st_ino, status.st_size, status.st_mtime_ns)


def ReadDescriptions(folder):
    """Name (bytes) -> description of each described entry of the folder, as dnt lists them;
    empty when dnt refuses the folder, fails or takes too long."""
    try:
        # No shell; the folder is absolute, so dnt never takes it for an option.
        done = subprocess.run([b"dnt", b"ls", folder, b"--json"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, cwd="/", timeout=TIMEOUT_SECONDS, check=False)
    except (OSError, subprocess.SubprocessError):
        return {}
    if done.returncode != 0:
        return {}
    try:
        entries = json.loads(done.stdout)
    except ValueError:
        return {}
    descriptions = {}
    for entry in entries if isinstance(entries, list) else []:
        text = entry.get("description") if isinstance(entry, dict) else None
        if not text or not isinstance(text, str):
            continue
        try:
            name = base64.b64decode(entry["name_base64"]) if "name_base64" in entry else entry["name"].encode()
        except (KeyError, TypeError, ValueError, AttributeError):
            continue
        descriptions[name] = CONTROL.sub("?", text)
    return descriptions


class TFolderEntry:
    def __init__(self, stamp, descriptions):
        self.stamp, self.descriptions = stamp, descriptions
        # The rows shown with these descriptions, asked again when Folder.dnt changes.
        self.rows = {}


class TDescriptionCache:
    """The descriptions of the folders listed last, each read once per state of its Folder.dnt."""

    def __init__(self):
        self.folders = collections.OrderedDict()

    def Entry(self, folder):
        stamp = Stamp(folder)
        entry = self.folders.get(folder)
        if entry is not None and entry.stamp == stamp:
            self.folders.move_to_end(folder)
            return entry, False
        descriptions = ReadDescriptions(folder) if stamp is not None else {}
        changed = TFolderEntry(stamp, descriptions)
        if entry is not None:
            changed.rows = entry.rows
        self.folders[folder] = changed
        self.folders.move_to_end(folder)
        while len(self.folders) > KEPT_FOLDERS:
            self.folders.popitem(last=False)
        return changed, entry is not None

    def Description(self, path, row=None):
        """The description of the file or folder at path ("" for none); row is the file
        manager's file, asked again when the folder's Folder.dnt changes."""
        folder, name = os.path.split(path)
        entry, changed = self.Entry(folder)
        if changed:
            # The rows shown before the change: the file manager asks for each again.
            for other, shown in list(entry.rows.items()):
                if other != name:
                    shown.invalidate_extension_info()
            entry.rows.clear()
        if row is not None:
            entry.rows[name] = row
        return entry.descriptions.get(name, "")


CACHE = TDescriptionCache()


def SingleDescription(files):
    """The description of the one selected file, or None."""
    if len(files) != 1:
        return None
    path = LocalPath(files[0])
    text = CACHE.Description(path) if path is not None else ""
    return text or None


class DirNoteColumnProvider(GObject.GObject, Manager.ColumnProvider, Manager.InfoProvider):
    def get_columns(self):
        return [Manager.Column(name="DirNote::Description", attribute=ATTRIBUTE, label="Description",
                               description="The description DirNote keeps in the folder's Folder.dnt")]

    def update_file_info(self, info):
        path = LocalPath(info)
        if path is not None:
            info.add_string_attribute(ATTRIBUTE, CACHE.Description(path, info))


if hasattr(Manager, "PropertiesModelProvider"):  # version 4 of the extension interface

    class DirNotePropertiesProvider(GObject.GObject, Manager.PropertiesModelProvider):
        def get_models(self, files):
            text = SingleDescription(files)
            if text is None:
                return []
            from gi.repository import Gio

            items = Gio.ListStore.new(Manager.PropertiesItem)
            items.append(Manager.PropertiesItem(name="Description", value=text))
            return [Manager.PropertiesModel(title="DirNote", model=items)]

else:  # a page of its own in the properties dialog (Nemo, and Nautilus before version 4)

    class DirNotePropertiesProvider(GObject.GObject, Manager.PropertyPageProvider):
        def get_property_pages(self, files):
            text = SingleDescription(files)
            if text is None:
                return []
            from gi.repository import Gtk

            page = Gtk.Label(label=text, xalign=0, yalign=0, wrap=True, selectable=True, margin=12)
            page.show()
            return [Manager.PropertyPage(name="DirNote::Description", label=Gtk.Label(label="DirNote"), page=page)]
