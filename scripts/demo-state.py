#!/usr/bin/env python3
"""Fills a throw-away home with a stand-in Safari of a dozen tabs, a few of them idle for weeks."""
import json
import os
import sys
import time

home = sys.argv[1]
state_dir = os.path.join(home, ".local/state/safari-standin")
app_dir = os.path.join(home, ".local/share/com.nimbrel.drowsewick")
os.makedirs(state_dir, exist_ok=True)
os.makedirs(app_dir, exist_ok=True)

# Window id, index of its current tab, and its tabs: (address, title, days since last looked at).
windows = [
    (4711, 1, [
        ("https://news.ycombinator.com/", "Hacker News", 0),
        ("https://en.wikipedia.org/wiki/Mercury_(planet)", "Mercury (planet) - Wikipedia", 23),
        ("https://developer.apple.com/documentation/appkit/nsstatusitem", "NSStatusItem | Apple Developer Documentation", 2),
        ("https://www.bbc.com/news/science-environment", "Science - BBC News", 19),
        ("https://github.com/trending", "Trending repositories on GitHub today", 1),
        ("https://www.recipetineats.com/lasagna/", "Lasagna [the best!] | RecipeTin Eats", 31),
    ]),
    (4712, 2, [
        ("https://doc.qt.io/qt-6/qsystemtrayicon.html", "QSystemTrayIcon Class | Qt Widgets 6", 3),
        ("https://mail.example.com/inbox", "Inbox (3) - Mail", 0),
        ("https://www.youtube.com/watch?v=dQw4w9WgXcQ", "Rick Astley - Never Gonna Give You Up", 45),
        ("https://weather.example.org/berlin", "Berlin weather: 14 days", 12),
        ("https://docs.python.org/3/library/json.html", "json — JSON encoder and decoder", 5),
        ("https://www.nytimes.com/2026/11/02/technology/too-many-tabs.html", "Too Many Tabs? You're Not Alone", 17),
    ]),
]

REFERENCE_DATE = 978307200  # 2001-01-01 00:00 UTC, the zero of the tracker's time stamps
now = time.time()
state = {"running": True, "automation": "allowed", "windows": []}
last_active = {}
for window_id, current, tabs in windows:
    state["windows"].append({"id": window_id, "current": current,
                             "tabs": [{"url": url, "title": title} for url, title, _ in tabs]})
    for url, _, days in tabs:
        last_active[f"{window_id}|{url}"] = now - days * 86400 - REFERENCE_DATE

with open(os.path.join(state_dir, "state.json"), "w") as f:
    json.dump(state, f, indent=1)
with open(os.path.join(app_dir, "tracker.json"), "w") as f:
    json.dump({"lastActive": last_active}, f)
