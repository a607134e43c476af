#!/usr/bin/env python3
"""Prints the folder Drowsewick archives to for the current user, as its settings say."""
import json
import os
import subprocess

home = os.environ["HOME"]
data_home = os.environ.get("XDG_DATA_HOME") or os.path.join(home, ".local/share")
try:
    with open(os.path.join(data_home, "com.nimbrel.drowsewick/settings.json")) as f:
        print(json.load(f)["archiveFolderPath"])
except (OSError, ValueError, KeyError):
    try:
        documents = subprocess.run(["xdg-user-dir", "DOCUMENTS"], capture_output=True, text=True).stdout.strip()
    except OSError:
        documents = ""
    if not documents or documents == home:
        documents = os.path.join(home, "Documents")
    print(os.path.join(documents, "Drowsewick"))
