#!/usr/bin/python3
"""Walks the accessible tree of the application named on the command line through the accessibility
bus (AT-SPI), one object a line, fields split by tabs: role, name, description, "showing" or "",
value, the names of the objects labelling it. Exit status 1 when the application is not there."""

import sys

import pyatspi


def show(node):
    try:
        value = str(node.queryValue().currentValue)
    except NotImplementedError:
        value = ""
    labels = [r.getTarget(i).name for r in node.getRelationSet()
              if r.getRelationType() == pyatspi.RELATION_LABELLED_BY for i in range(r.getNTargets())]
    showing = "showing" if node.getState().contains(pyatspi.STATE_SHOWING) else ""
    fields = [node.getRoleName(), node.name, node.description, showing, value, " ".join(labels)]
    print("\t".join(f.replace("\t", " ").replace("\n", " ") for f in fields))
    for i in range(node.childCount):
        show(node.getChildAtIndex(i))


desktop = pyatspi.Registry.getDesktop(0)
apps = [desktop.getChildAtIndex(i) for i in range(desktop.childCount)]
wanted = [app for app in apps if app.name == sys.argv[1]]
if not wanted:
    sys.exit("no application %s among %s" % (sys.argv[1], [app.name for app in apps]))
show(wanted[0])
