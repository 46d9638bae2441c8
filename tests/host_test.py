#!/usr/bin/env python3
"""A host of the import component in Python, with ctypes and the library's exports alone.

It registers the library with the command line, finds it again through the registry file as a
host would (ProgID, class, library path), imports a log file into a fresh database through the
function tables, reads back the action, the history and the uncategorised lines, releases
everything and checks that the library may be unloaded. Then it imports the same file with
`varnlog import` into a second database and compares the two, row by row, and the lines each
left out. Exit status 0 when everything agrees.
"""
import argparse
import ctypes
import datetime
import os
import shutil
import sqlite3
import subprocess
import sys
import uuid

S_OK = 0
VT_I4, VT_BSTR, VT_DISPATCH = 3, 8, 9
VARIANT_TRUE = -1
ENU_INSERT = 1


class GUID(ctypes.Structure):
    _fields_ = [("Data1", ctypes.c_uint32), ("Data2", ctypes.c_uint16), ("Data3", ctypes.c_uint16),
                ("Data4", ctypes.c_uint8 * 8)]

    @classmethod
    def of(cls, text):
        """A GUID from its text form, "{683949D4-...}"."""
        value = uuid.UUID(text)
        guid = cls(value.fields[0], value.fields[1], value.fields[2])
        guid.Data4[:] = list(value.bytes[8:])
        return guid


class VARIANT(ctypes.Structure):
    class Value(ctypes.Union):
        _fields_ = [("llVal", ctypes.c_int64), ("lVal", ctypes.c_int32), ("dblVal", ctypes.c_double),
                    ("pointer", ctypes.c_void_p)]

    _fields_ = [("vt", ctypes.c_uint16), ("wReserved1", ctypes.c_uint16), ("wReserved2", ctypes.c_uint16),
                ("wReserved3", ctypes.c_uint16), ("value", Value)]


IID_IClassFactory = GUID.of("{00000001-0000-0000-C000-000000000046}")
IID_IEnumVARIANT = GUID.of("{00020404-0000-0000-C000-000000000046}")
IID_clsLogAnalysis = GUID.of("{5619B94B-7036-4864-B9A9-D2EF2F35D8B0}")
IID_clsItemDateRange = GUID.of("{10F1B452-BF93-43E4-BEEC-CE767D82D2D0}")

c_hresult = ctypes.c_int32
p_void = ctypes.c_void_p
p_out = ctypes.POINTER(ctypes.c_void_p)


class Failure(Exception):
    pass


def check(hr, what):
    if hr < 0:
        raise Failure(f"{what} failed with 0x{hr & 0xFFFFFFFF:08X}")


class Library:
    """The exports, typed."""

    def __init__(self, path):
        self.dll = ctypes.CDLL(path, mode=os.RTLD_LOCAL)
        self.DllGetClassObject = self.bind("DllGetClassObject", c_hresult, ctypes.POINTER(GUID),
                                           ctypes.POINTER(GUID), p_out)
        self.DllCanUnloadNow = self.bind("DllCanUnloadNow", c_hresult)
        self.SysAllocStringLen = self.bind("SysAllocStringLen", p_void, ctypes.c_char_p, ctypes.c_uint32)
        self.SysStringLen = self.bind("SysStringLen", ctypes.c_uint32, p_void)
        self.SysFreeString = self.bind("SysFreeString", None, p_void)
        self.VariantClear = self.bind("VariantClear", c_hresult, ctypes.POINTER(VARIANT))

    def bind(self, name, restype, *argtypes):
        function = getattr(self.dll, name)
        function.restype, function.argtypes = restype, list(argtypes)
        return function

    def bstr(self, text):
        units = text.encode("utf-16-le")
        return self.SysAllocStringLen(units, len(units) // 2)

    def text(self, bstr):
        """The text of a BSTR the caller owns, which is freed."""
        if not bstr:
            return ""
        text = ctypes.string_at(bstr, 2 * self.SysStringLen(bstr)).decode("utf-16-le")
        self.SysFreeString(bstr)
        return text


class Interface:
    """An interface pointer: slot n of its function table is called with the pointer first."""

    def __init__(self, pointer):
        self.pointer = pointer

    def call(self, slot, *arguments, restype=c_hresult):
        table = ctypes.cast(self.pointer, ctypes.POINTER(ctypes.POINTER(p_void)))[0]
        types = [type(a) if isinstance(a, ctypes._SimpleCData) else p_void for a in arguments]
        function = ctypes.CFUNCTYPE(restype, p_void, *types)(table[slot])
        return function(self.pointer, *arguments)

    def method(self, slot, name, *arguments):
        check(self.call(slot, *arguments), name)

    def get(self, slot, name, ctype):
        value = ctype()
        self.method(slot, name, ctypes.byref(value))
        return value.value

    def query(self, iid):
        result = p_void()
        self.method(0, "QueryInterface", ctypes.byref(iid), ctypes.byref(result))
        return Interface(result.value)

    def release(self):
        return self.call(2, restype=ctypes.c_uint32)


def read_registry(path):
    entries = {}
    with open(path, encoding="utf-8") as registry:
        for line in registry.read().splitlines():
            key, _, value = line.partition("=")
            entries[key] = value
    return entries


def library_of(progid, registry):
    """The class and library a host finds for a ProgID in the registry file."""
    clsid = registry[f"{progid}/CLSID"]
    return clsid, registry[f"CLSID/{clsid}/InprocServer32"]


def date_text(serial):
    return (datetime.date(1899, 12, 30) + datetime.timedelta(days=int(serial))).strftime("%d/%m/%Y")


def import_through_library(library_path, clsid, database, log):
    """What the host sees of one import: the action, the history and the uncategorised lines."""
    lib = Library(library_path)
    factory = p_void()
    check(lib.DllGetClassObject(ctypes.byref(GUID.of(clsid)), ctypes.byref(IID_IClassFactory), ctypes.byref(factory)),
          "DllGetClassObject")
    factory = Interface(factory.value)
    service = p_void()
    factory.method(3, "CreateInstance", p_void(), ctypes.byref(IID_clsLogAnalysis), ctypes.byref(service))
    factory.release()
    service = Interface(service.value)

    bstr = lib.bstr(database)
    service.method(16, "Initialize", p_void(bstr))
    lib.SysFreeString(bstr)
    if service.get(9, "IsConnected", ctypes.c_int16) != VARIANT_TRUE:
        raise Failure("the database did not open")
    bstr = lib.bstr(log)
    imported = ctypes.c_int16()
    service.method(13, "ProcessLogFile", p_void(bstr), ctypes.byref(imported))
    lib.SysFreeString(bstr)
    if imported.value != VARIANT_TRUE:
        raise Failure("ProcessLogFile answered False")
    action = service.get(8, "WhatDBAction", ctypes.c_int32)

    history = Interface(service.get(11, "HistoryLogDates", p_void))
    count = history.get(9, "Count", ctypes.c_int32)
    cursor_unknown = Interface(history.get(11, "_NewEnum", p_void))
    cursor = cursor_unknown.query(IID_IEnumVARIANT)
    cursor_unknown.release()
    dates = []
    item = VARIANT()
    fetched = ctypes.c_uint32()
    while cursor.call(3, ctypes.c_uint32(1), ctypes.byref(item), ctypes.byref(fetched)) == S_OK:
        assert item.vt == VT_DISPATCH, item.vt
        record = Interface(item.value.pointer).query(IID_clsItemDateRange)
        check(lib.VariantClear(ctypes.byref(item)), "VariantClear")
        log_date = record.get(10, "LogDate", ctypes.c_double)
        dates.append((record.get(14, "Date_ID", ctypes.c_int32), date_text(log_date),
                      record.get(8, "DateTotal", ctypes.c_double)))
        same_by_key = VARIANT(vt=VT_BSTR)
        same_by_key.value.pointer = lib.bstr(date_text(log_date))
        found = VARIANT()
        history.method(7, "Item", ctypes.byref(same_by_key), ctypes.byref(found))
        if found.value.pointer != record.pointer:
            raise Failure(f"the item under the key {date_text(log_date)} is another object")
        for variant in (same_by_key, found):
            lib.VariantClear(ctypes.byref(variant))
        record.release()
    cursor.release()
    history.release()
    if len(dates) != count:
        raise Failure(f"the enumeration gave {len(dates)} items of {count}")

    lines = lib.text(service.get(7, "UncategorisedLines", p_void))
    service.release()
    if lib.DllCanUnloadNow() != S_OK:
        raise Failure("the library is still in use after everything was released")
    return action, dates, lines


def table_contents(database):
    """Every table's columns and rows, the times of import left out (they differ by nature)."""
    with sqlite3.connect(database) as connection:
        tables = [row[0] for row in connection.execute("SELECT name FROM sqlite_master WHERE type='table' ORDER BY 1")]
        contents = {}
        for table in tables:
            columns = [row[1] for row in connection.execute(f"PRAGMA table_info('{table}')")]
            kept = [column for column in columns if column != "DateImported"]
            rows = connection.execute(f"SELECT {','.join(kept)} FROM {table} ORDER BY {','.join(kept)}").fetchall()
            contents[table] = (columns, rows)
        return contents


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--library", required=True)
    parser.add_argument("--varnlog", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--work", required=True)
    arguments = parser.parse_args()

    shutil.rmtree(arguments.work, ignore_errors=True)
    os.makedirs(arguments.work)
    environment = dict(os.environ, XDG_CONFIG_HOME=os.path.join(arguments.work, "config"))
    registry_file = os.path.join(arguments.work, "config", "varnlogimp", "registry")

    subprocess.run([arguments.varnlog, "register"], env=environment, check=True)
    clsid, library = library_of("VarnLogImp.clsLogAnalysis", read_registry(registry_file))
    if not os.path.samefile(library, arguments.library):
        raise Failure(f"the registry names {library}, not {arguments.library}")

    host_db = os.path.join(arguments.work, "host.mdb")
    action, dates, lines = import_through_library(library, clsid, host_db, arguments.log)

    cli_db = os.path.join(arguments.work, "varnlog.mdb")
    rejects = os.path.join(arguments.work, "rejects.txt")
    subprocess.run([arguments.varnlog, "--db", cli_db, "import", "--yes", "--rejects", rejects, arguments.log],
                   env=environment, check=True, stdin=subprocess.DEVNULL)

    failures = []
    if action != ENU_INSERT:
        failures.append(f"WhatDBAction is {action}, not {ENU_INSERT}")
    host_tables, cli_tables = table_contents(host_db), table_contents(cli_db)
    for table in sorted(set(host_tables) | set(cli_tables)):
        (host_columns, host_rows), (cli_columns, cli_rows) = (tables.get(table, ([], [])) for tables in
                                                              (host_tables, cli_tables))
        if host_columns != cli_columns:
            failures.append(f"table {table}: columns {host_columns} through the host, {cli_columns} by varnlog")
        for row in sorted(set(host_rows) ^ set(cli_rows)):
            failures.append(f"table {table}: {row} only {'through the host' if row in host_rows else 'by varnlog'}")
    stored = sorted(cli_tables["DateRange"][1])
    if [(date_id, log_date, total) for date_id, log_date, total in stored] != sorted(dates):
        failures.append(f"history {dates} != DateRange {stored}")
    name = os.path.basename(arguments.log)
    host_rejects = [f"{name}: {line}" for line in lines.split("\r\n") if line]
    with open(rejects, encoding="utf-8") as cli_rejects:
        if host_rejects != cli_rejects.read().splitlines():
            failures.append(f"uncategorised lines {host_rejects} differ from varnlog's")

    subprocess.run([arguments.varnlog, "unregister"], env=environment, check=True)
    if read_registry(registry_file):
        failures.append("unregister left lines in the registry file")

    for failure in failures:
        print("FAIL:", failure, file=sys.stderr)
    print(f"{len(dates)} imported date(s), {len(host_tables)} tables compared, {len(host_rejects)} uncategorised lines")
    return 1 if failures else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (Failure, subprocess.CalledProcessError) as error:
        print("FAIL:", error, file=sys.stderr)
        sys.exit(1)
