#!/usr/bin/python3
"""Prints what a screen reader finds of one program on the accessibility bus.

    atspi_tree.py PID
    atspi_tree.py --listen NAME

Walks the accessible tree of the application whose process is PID, as the desktop's
accessibility bus serves it (no cache: every question goes to the program), and prints it as one
JSON array: each object with its depth, role, name, description, value (if it has one), its text
(if it has one), the names of the objects that label it, and whether it is focusable, focused,
showing and checked.
Exits with 2 when no such application is on the bus (yet).

With --listen, prints instead, one JSON object a line, every change of a name, a value, a
description or of what shows that any application whose process is named NAME announces (the
event's type, its source's role and name, and the value the source holds then), after a line
"ready" once it listens; it listens until it is ended.
"""
import json
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def node_of(obj, depth):
    states = obj.get_state_set()
    node = {
        "depth": depth,
        "role": obj.get_role_name(),
        "name": obj.get_name() or "",
        "description": obj.get_description() or "",
        "focusable": states.contains(Atspi.StateType.FOCUSABLE),
        "showing": states.contains(Atspi.StateType.SHOWING),
        "checked": states.contains(Atspi.StateType.CHECKED),
        "focused": states.contains(Atspi.StateType.FOCUSED),
    }
    value = obj.get_value_iface()
    if value is not None:
        node["value"] = value.get_current_value()
    text = obj.get_text_iface()
    if text is not None:
        node["text"] = text.get_text(0, text.get_character_count())
    labels = []
    for relation in obj.get_relation_set() or []:
        if relation.get_relation_type() == Atspi.RelationType.LABELLED_BY:
            labels += [relation.get_target(i).get_name() for i in range(relation.get_n_targets())]
    node["labelledBy"] = labels
    return node


def walk(obj, depth, out):
    obj.clear_cache()
    out.append(node_of(obj, depth))
    for i in range(obj.get_child_count()):
        child = obj.get_child_at_index(i)
        if child is not None:
            walk(child, depth + 1, out)


def process_name(pid):
    try:
        with open(f"/proc/{pid}/comm", encoding="utf-8") as comm:
            return comm.read().strip()
    except OSError:
        return ""


def listen(name):
    def heard(event):
        try:
            source = event.source
            if process_name(source.get_process_id()) != name:
                return
            line = {"type": event.type, "role": source.get_role_name(), "name": source.get_name() or "",
                    "description": source.get_description() or "", "detail1": event.detail1}
            value = source.get_value_iface()
            if value is not None:
                line["value"] = value.get_current_value()
        except Exception as error:  # an object gone before it could be asked
            line = {"type": event.type, "error": str(error)}
        print(json.dumps(line, ensure_ascii=False), flush=True)

    listener = Atspi.EventListener.new(heard)
    for kind in ("object:property-change:accessible-name", "object:property-change:accessible-value",
                 "object:property-change:accessible-description", "object:value-changed",
                 "object:state-changed:showing", "object:children-changed"):
        listener.register(kind)
    print("ready", flush=True)
    Atspi.event_main()
    return 0


def main():
    if sys.argv[1] == "--listen":
        return listen(sys.argv[2])
    pid = int(sys.argv[1])
    desktop = Atspi.get_desktop(0)
    desktop.clear_cache()
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is None or app.get_process_id() != pid:
            continue
        app.set_cache_mask(Atspi.Cache.NONE)
        out = []
        walk(app, 0, out)
        json.dump(out, sys.stdout, ensure_ascii=False)
        return 0
    return 2


if __name__ == "__main__":
    sys.exit(main())
