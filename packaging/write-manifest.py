#!/usr/bin/env python3
"""Writes the update manifest latest.json: write-manifest.py FILE VERSION URL [NOTES]"""
import json
import sys

if len(sys.argv) not in (4, 5) or not sys.argv[2]:
    sys.exit("usage: write-manifest.py FILE VERSION URL [NOTES]")
path, version, url = sys.argv[1:4]
notes = sys.argv[4] if len(sys.argv) == 5 else ""
with open(path, "w", encoding="utf-8") as f:
    json.dump({"version": version, "url": url, "notes": notes}, f, ensure_ascii=False, indent=2)
    f.write("\n")
