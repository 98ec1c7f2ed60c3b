#!/usr/bin/env python3
"""Listings for dornik, made from a folder tree and from the service.

  snapshot.py dir-content FOLDER DRIVE_ROOT OUT
      The directory content snapshot of FOLDER: every folder and file below
      it, with size and modification time. Paths are written as drive c:
      paths relative to DRIVE_ROOT (the folder VELKAN_DRIVE_C names).
  snapshot.py cache-content CONTENTS OUT
      The cache content snapshot made from what the service listed
      (velkan's getContents output): every file cached (state 1), and the
      folders that hold them.
  snapshot.py action-set OUT ACTION [PATH]
      A one-action action set, e.g. getContents c:\\home\\ann.
"""
import os
import sys
import xml.etree.ElementTree as ET


def logical(path, drive_root):
    relative = os.path.relpath(path, drive_root)
    return "c:\\" + relative.replace("/", "\\")


def write(root, out):
    tmp = out + ".tmp"
    ET.ElementTree(root).write(tmp, encoding="UTF-8", xml_declaration=True)
    os.replace(tmp, out)


def dir_content(folder, drive_root, out):
    root = ET.Element("dir-content")
    for current, dirs, files in os.walk(folder):
        dirs.sort()
        ET.SubElement(root, "directory", path=logical(current, drive_root))
        for name in sorted(files):
            full = os.path.join(current, name)
            info = os.stat(full)
            entry = ET.SubElement(root, "file", path=logical(full, drive_root))
            ET.SubElement(entry, "origin-size").text = str(info.st_size)
            ET.SubElement(entry, "origin-modified").text = str(int(info.st_mtime))
    write(root, out)


def cache_content(contents, out):
    root = ET.Element("cache-content")
    folders = set()
    listed = ET.parse(contents).getroot() if os.path.exists(contents) else ET.Element("contents")
    for f in listed.iter("file"):
        path = f.get("path")
        folder = path.rsplit("\\", 1)[0]
        while folder and folder not in folders and "\\" in folder:
            folders.add(folder)
            folder = folder.rsplit("\\", 1)[0]
        entry = ET.SubElement(root, "file", path=path)
        ET.SubElement(entry, "origin-size").text = f.get("origin-size", "")
        ET.SubElement(entry, "origin-modified").text = f.get("origin-modified", "")
        ET.SubElement(entry, "state").text = "1"
        ET.SubElement(entry, "cache-actualsize").text = f.get("size", "0")
    for folder in sorted(folders):
        ET.SubElement(root, "directory", path=folder)
    write(root, out)


def action_set(out, action, path=None):
    root = ET.Element("action-set")
    element = ET.SubElement(root, "action", name=action)
    if path:
        ET.SubElement(element, "folder", path=path)
    write(root, out)


if __name__ == "__main__":
    commands = {"dir-content": dir_content, "cache-content": cache_content, "action-set": action_set}
    if len(sys.argv) < 3 or sys.argv[1] not in commands:
        sys.exit(__doc__)
    commands[sys.argv[1]](*sys.argv[2:])
