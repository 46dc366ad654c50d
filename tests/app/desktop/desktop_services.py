#!/usr/bin/python3
"""Stand-ins for the notification service and the file manager on the session bus: prints each call,
fields split by tabs ("Notify app icon summary body actions" or "ShowItems uri..."), and with
--invoke KEY picks the action KEY of each notice offering it. "ready" once on the bus; SIGTERM ends it."""

import signal
import sys

import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NOTICES, FILES = "org.freedesktop.Notifications", "org.freedesktop.FileManager1"


def report(*fields):
    print("\t".join(fields), flush=True)


class Services(dbus.service.Object):
    SUPPORTS_MULTIPLE_OBJECT_PATHS = True

    def __init__(self, bus, invoke):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.add_to_connection(bus, "/org/freedesktop/FileManager1")
        self.invoke, self.last = invoke, 0

    @dbus.service.method(NOTICES, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        self.last += 1
        report("Notify", app, icon, summary, body, "|".join(actions))
        if self.invoke in actions[0::2]:
            GLib.idle_add(self.ActionInvoked, self.last, self.invoke)  # after the answer, as a click
        return self.last

    @dbus.service.signal(NOTICES, signature="us")
    def ActionInvoked(self, notice, key):
        pass

    @dbus.service.method(FILES, in_signature="ass")
    def ShowItems(self, uris, startup_id):
        report("ShowItems", *uris)


DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
services = Services(bus, sys.argv[2] if sys.argv[1:2] == ["--invoke"] else None)
names = [dbus.service.BusName(name, bus, do_not_queue=True) for name in (NOTICES, FILES)]
loop = GLib.MainLoop()
GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
report("ready")
loop.run()
