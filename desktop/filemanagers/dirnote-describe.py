# SPDX-License-Identifier: GPL-3.0-or-later
# "Describe with DirNote" in the file manager's context menu (python3-nautilus): a folder is
# listed in DirNote, a file lists its folder with the cursor on the file's row.
import os
import subprocess

import gi

try:
    gi.require_version("Nautilus", "4.0")
except ValueError:
    gi.require_version("Nautilus", "3.0")
from gi.repository import GLib, GObject, Nautilus  # noqa: E402


def LocalPath(item):
    """The local path of a selected item, or None for one that has none (a remote place)."""
    location = item.get_location()
    path = location.get_path() if location is not None else None
    # A name that is not UTF-8 comes as text with its bytes escaped; os.fsencode restores them.
    return os.fsencode(path) if path else None


def StartDirNote(path):
    # No shell: the path is one argument, whatever its bytes, and "--" keeps a leading "-" a name.
    process = subprocess.Popen([b"dirnote", b"--", path], stdin=subprocess.DEVNULL, start_new_session=True)
    # Reaped when it ends, so that no finished DirNote stays behind as a zombie.
    GLib.child_watch_add(GLib.PRIORITY_DEFAULT, process.pid, lambda *ignored: process.poll())
    return process


class DirNoteMenuProvider(GObject.GObject, Nautilus.MenuProvider):
    def get_file_items(self, *arguments):
        # The window came first among the arguments before version 4 of the extension interface.
        items = arguments[-1]
        if len(items) != 1:
            return []
        path = LocalPath(items[0])
        if path is None:
            return []
        entry = Nautilus.MenuItem(
            name="DirNote::Describe",
            label="Describe with DirNote",
            tip="List the folder in DirNote, or the file's folder with the cursor on the file",
            icon="dirnote",
        )
        entry.connect("activate", lambda menuItem: StartDirNote(path))
        return [entry]
