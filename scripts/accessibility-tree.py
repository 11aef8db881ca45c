#!/usr/bin/env python3
"""What a screen reader reads of the running dialog, through AT-SPI.

Finds the application by name, prints the role, name, description and value
of every control of its main window, listens to the name, description and
value changes a screen reader hears, then drives the dialog as a screen
reader user would (Play through its action, the trackbar through its value,
Convert through its action) and prints what was heard. Used by
scripts/accessibility-on-xvfb.sh.
"""
import sys
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

# The interface getters are the ones this AT-SPI has, deprecated or not.
warnings.simplefilter("ignore", DeprecationWarning)

APP = sys.argv[1] if len(sys.argv) > 1 else "veltrano"


def find_app(timeout=20.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is not None and app.get_name().lower() == APP.lower():
                return app
        time.sleep(0.2)
    return None


def value_of(acc):
    v = acc.get_value_iface()
    if v is None:
        return ""
    return f" value={v.get_current_value():g} of {v.get_minimum_value():g}..{v.get_maximum_value():g}"


def walk(acc, depth=0, out=None):
    out = [] if out is None else out
    try:
        role = acc.get_role_name()
        name = acc.get_name()
        desc = acc.get_description()
    except GLib.Error:
        return out
    if depth > 0 and role not in ("filler", "panel", "unknown"):
        print(f"{'  ' * depth}{role}: name={name!r} description={desc!r}{value_of(acc)}")
    out.append(acc)
    for i in range(acc.get_child_count()):
        child = acc.get_child_at_index(i)
        if child is not None:
            walk(child, depth + 1, out)
    return out


def by(nodes, role, name=None, description_has=None):
    for n in nodes:
        try:
            if n.get_role_name() != role:
                continue
            if name is not None and n.get_name() != name:
                continue
            if description_has is not None and description_has not in n.get_description():
                continue
            return n
        except GLib.Error:
            continue
    return None


heard = []


def on_event(event):
    try:
        src = event.source
        what = event.type
        if what.endswith("accessible-name"):
            heard.append((what, src.get_role_name(), src.get_name()))
        elif what.endswith("accessible-description"):
            heard.append((what, src.get_role_name(), src.get_description()))
        else:
            heard.append((what, src.get_role_name(), value_of(src).strip()))
    except GLib.Error:
        pass


def pump(seconds):
    end = time.monotonic() + seconds
    ctx = GLib.MainContext.default()
    while time.monotonic() < end:
        while ctx.pending():
            ctx.iteration(False)
        time.sleep(0.02)


def main():
    app = find_app()
    if app is None:
        desktop = Atspi.get_desktop(0)
        names = [desktop.get_child_at_index(i).get_name() for i in range(desktop.get_child_count())]
        print(f"no application named {APP!r} on the accessibility bus (there are: {names})")
        return 1
    print(f"application {app.get_name()!r}, toolkit {app.get_toolkit_name()!r}")
    nodes = walk(app)

    listener = Atspi.EventListener.new(on_event)
    for kind in ("object:property-change:accessible-name", "object:property-change:accessible-description",
                 "object:property-change:accessible-value", "object:value-changed"):
        listener.register(kind)

    play = by(nodes, "push button", "Play")
    slider = by(nodes, "slider")
    if play is None or slider is None:
        print("the Play button or the trackbar is missing")
        return 1
    print("\npressing Play through its action, as a screen reader user would")
    action = play.get_action_iface()
    action.do_action(0)
    pump(2.5)
    print("setting the trackbar's value to 6 (seconds) through AT-SPI")
    v = slider.get_value_iface()
    v.set_current_value(6.0)
    pump(1.5)
    print(f"the trackbar reads: name={slider.get_name()!r} description={slider.get_description()!r}"
          f"{value_of(slider)}")
    convert = by(nodes, "push button", "Convert")
    print("pressing Convert through its action")
    convert.get_action_iface().do_action(0)
    pump(2.0)
    print("\nheard meanwhile:")
    seen = set()
    for what, role, text in heard:
        key = (what, role, text)
        if key in seen:
            continue
        seen.add(key)
        print(f"  {what} [{role}] {text!r}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
