# Files (Nautilus) extension: "Protect with Vellumguard" and "Restore with Vellumguard" in
# the context menu of files and folders. Both start the window program's verbs, which
# ask for the password, show the progress and say what happened.
import os
import subprocess

import gi

try:
    gi.require_version("Nautilus", "4.0")
except ValueError:
    gi.require_version("Nautilus", "3.0")
from gi.repository import GObject, Nautilus  # noqa: E402

PROTECTED_SUFFIX = ".~de"
SETTINGS_NAME = "zde.tmp"  # a folder's encryption settings: never protected
PROGRAM = "vellumguard"
ICON = "org.vellumguard.Vellumguard"


def _local_paths(files):
    paths = []
    for f in files:
        location = f.get_location()
        path = location.get_path() if location is not None else None
        if path is None:
            return None  # not on a local file system: the program cannot reach it
        paths.append(path)
    return paths


def _run(verb, paths):
    # Started detached; the program shows its own dialogs and messages.
    subprocess.Popen([PROGRAM, verb, "--"] + paths, start_new_session=True,
                     stdin=subprocess.DEVNULL)


class VellumguardMenuProvider(GObject.GObject, Nautilus.MenuProvider):
    def _items(self, files):
        if not files:
            return []
        paths = _local_paths(files)
        if not paths:
            return []
        folders = [f.is_directory() for f in files]
        protected = [(not d) and p.endswith(PROTECTED_SUFFIX) for p, d in zip(paths, folders)]
        settings = [(not d) and os.path.basename(p) == SETTINGS_NAME
                    for p, d in zip(paths, folders)]
        items = []
        if not any(protected) and not any(settings):
            item = Nautilus.MenuItem(name="Vellumguard::protect",
                                     label="Protect with Vellumguard", icon=ICON)
            item.connect("activate", lambda _item: _run("--protect", paths))
            items.append(item)
        if all(p or d for p, d in zip(protected, folders)):
            item = Nautilus.MenuItem(name="Vellumguard::restore",
                                     label="Restore with Vellumguard", icon=ICON)
            item.connect("activate", lambda _item: _run("--restore", paths))
            items.append(item)
        return items

    # Nautilus 43 and later pass only the files; earlier versions pass the window first.
    def get_file_items(self, *args):
        return self._items(args[-1])
