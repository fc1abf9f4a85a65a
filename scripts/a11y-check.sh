#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What a screen reader is told: starts the window under a virtual X display
# with its own session bus and accessibility bus, after a dry run over a copy
# of samples/ and a drop of a path that is not there (so the message bar
# shows), and walks the AT-SPI tree. Fails when the drop zone, the progress
# bar, a switch or the message bar is missing or has no name.
# Needs xvfb, dbus, at-spi2-core and python3-pyatspi (run by hand; not part
# of the test suite). Usage: scripts/a11y-check.sh   (BUILD_DIR overrides build/)
set -euo pipefail
cd "$(dirname "$0")/.."
program=$(realpath "${BUILD_DIR:-build}/bin/meridane")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r samples "$work/samples"

cat >"$work/walk.py" <<'PY'
import sys, time
import pyatspi

def application():
    for _ in range(150):
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name.lower() == "meridane":
                return app
        time.sleep(0.2)
    sys.exit("meridane did not show up on the accessibility bus")

def walk(node):
    yield node
    for child in node:
        if child is not None:
            yield from walk(child)

wanted = [  # what, role, name (None: any name, but one)
    ("drop zone", pyatspi.ROLE_PUSH_BUTTON, "Drop files/folders"),
    ("progress bar", pyatspi.ROLE_PROGRESS_BAR, None),
    ("Dry Run switch", pyatspi.ROLE_CHECK_BOX, "Dry Run"),
    ("Silently Ignore Skipped switch", pyatspi.ROLE_CHECK_BOX, "Silently Ignore Skipped"),
    ("message bar", pyatspi.ROLE_ALERT, "Messages"),
]
app = application()
time.sleep(3)  # the run and the rows
nodes = list(walk(app))
failures = 0
for what, role, name in wanted:
    found = [n for n in nodes if n.getRole() == role and (name is None or n.name == name)]
    named = [n for n in found if n.name]
    state = "ok" if named else ("UNNAMED" if found else "MISSING")
    failures += state != "ok"
    shown = ", ".join(repr(n.name) for n in found) or "-"
    print(f"{state:8} {what:32} {pyatspi.Role(role).__str__():16} {shown}")
alerts = [n for n in nodes if n.getRole() == pyatspi.ROLE_ALERT]
for alert in alerts:
    print(f"         message bar says: {alert.description!r}")
sys.exit(1 if failures else 0)
PY

cat >"$work/session.sh" <<'SH'
set -eu
/usr/libexec/at-spi-bus-launcher --launch-immediately &
launcher=$!
sleep 1
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb QT_STYLE_OVERRIDE=Fusion \
  "$PROGRAM" "$WORK/samples" "$WORK/not-there" >/dev/null 2>&1 &
app=$!
status=0
python3 "$WORK/walk.py" || status=$?
kill "$app" "$launcher" 2>/dev/null || true
exit "$status"
SH
PROGRAM=$program WORK=$work dbus-run-session -- xvfb-run -a -s "-screen 0 1280x1024x24" bash "$work/session.sh"
