#!/usr/bin/env python3
"""Reads the built help file back with chmls (a reader apart from the compiler) and checks that it
holds every page the program's windows open, the popup texts, the contents and the index.

Usage: check_help.py CHM_FILE
"""
import subprocess
import sys

NEEDED = [
    "/Html/index.html",
    "/Html/whatsnew/newfeatures.html",
    "/Html/tutorials/tutorials.html",
    "/Html/workspace/workspace.html",
    "/Html/keyboard/general.html",
    "/Html/support/support.html",
    "/Html/network/networkservers.html",
    "/Popups.txt",
    "/Contents.hhc",
    "/$WWKeywordLinks/BTree",
]


def main():
    listing = subprocess.run(["chmls", "list", sys.argv[1]], capture_output=True, text=True, check=True).stdout
    names = {line.split()[-1] for line in listing.splitlines() if line.strip() and line.split()[-1].startswith("/")}
    missing = [name for name in NEEDED if name not in names]
    for name in missing:
        print("missing in the help file:", name)
    page = subprocess.run(["chmls", "extract", sys.argv[1], "/Html/tutorials/tutorials.html", "/dev/stdout"],
                          capture_output=True, text=True).stdout
    if "<title>Tutorials</title>" not in page:
        print("the tutorials page reads back wrong:", page[:200])
        return 1
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
