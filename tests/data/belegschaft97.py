#!/usr/bin/env python3
"""Writes belegschaft97.mdb: a small employee database in the Jet 3 format of Access 97.

No Access 97 is at hand, so the file is built here from the format as libmdb reads it: the
header page, a page of usage maps, MSysObjects (definition and rows), u_fahrer (definition and
rows). One employee's row is longer than 256 bytes: in Jet 3 the offsets of its values need the
row's table of jumps. Check the result with `mdb-export belegschaft97.mdb u_fahrer`.

    python3 belegschaft97.py [OUTPUT]
"""

import datetime
import struct
import sys

PAGE = 2048
TEXT, DATETIME, BOOL, INT, LONGINT, OLE = 0x0A, 0x08, 0x01, 0x03, 0x04, 0x0B
FIXED = 0x01


def header_page():
    page = bytearray(PAGE)
    page[0:20] = b"\x00\x01\x00\x00Standard Jet DB\x00"
    struct.pack_into("<I", page, 0x14, 0)  # Jet 3
    struct.pack_into("<I", page, 0x3E, 0x4EBC8AFB)  # no encryption
    return page


def data_page(owner, rows):
    """A data page of the table defined on page owner; rows lie from the end of the page."""
    page = bytearray(PAGE)
    page[0], page[1] = 1, 1
    struct.pack_into("<IH", page, 4, owner, len(rows))
    end = PAGE
    for i, row in enumerate(rows):
        end -= len(row)
        page[end : end + len(row)] = row
        struct.pack_into("<H", page, 10 + 2 * i, end)
    struct.pack_into("<H", page, 2, end - (10 + 2 * len(rows)))
    return page


def usage_map(page):
    """A usage map of type 0 that names one page."""
    bitmap = bytearray(16)
    bitmap[page // 8] |= 1 << (page % 8)
    return bytes([0]) + struct.pack("<I", 0) + bytes(bitmap)


class Column:
    def __init__(self, name, kind, size=0, fixed_offset=None, var_number=0):
        self.name, self.kind, self.size = name, kind, size
        self.fixed_offset, self.var_number = fixed_offset, var_number


def definition_page(columns, usage, free):
    """The definition of a table: Jet 3 header, the table block, the columns and their names."""
    page = bytearray(PAGE)
    page[0], page[1] = 2, 1
    page[2:4] = b"VC"
    variable = sum(1 for c in columns if c.fixed_offset is None)
    struct.pack_into("<IIIBHHHIIII", page, 8, 0, 3, 0, 0x4E, len(columns), variable,
                     len(columns), 0, 0, usage, free)
    at = 43
    for number, c in enumerate(columns):
        flags = FIXED if c.fixed_offset is not None else 0
        struct.pack_into("<BHHHHHHBHH", page, at, c.kind, number, c.var_number, number, 0x409,
                         0x4E4, 0, flags | 0x02, c.fixed_offset or 0, c.size)
        at += 18
    for c in columns:
        name = c.name.encode("cp1252")
        page[at] = len(name)
        page[at + 1 : at + 1 + len(name)] = name
        at += 1 + len(name)
    return page


def row(columns, values):
    """A Jet 3 row: column count, fixed values, variable values, their offsets (last first,
    the end of the data behind them), the jumps by 256, the number of variable values and the
    null mask (a yes/no value is its bit)."""
    fixed_size = max((c.fixed_offset + c.size for c in columns if c.fixed_offset is not None),
                     default=0)
    data = bytearray(1 + fixed_size)
    data[0] = len(columns)
    mask = bytearray((len(columns) + 7) // 8)
    variable = sorted((c for c in columns if c.fixed_offset is None), key=lambda c: c.var_number)
    for number, c in enumerate(columns):
        value = values.get(c.name)
        if value is None or value is False:
            continue
        mask[number // 8] |= 1 << (number % 8)
        if c.kind == DATETIME:
            struct.pack_into("<d", data, 1 + c.fixed_offset, value)
        elif c.kind == LONGINT:
            struct.pack_into("<i", data, 1 + c.fixed_offset, value)
        elif c.kind == INT:
            struct.pack_into("<h", data, 1 + c.fixed_offset, value)
    offsets = []
    for c in variable:
        offsets.append(len(data))
        value = values.get(c.name)
        if value is not None:
            data += value.encode("cp1252")
    offsets.append(len(data))  # the end of the data
    jumps = 0
    while True:
        length = len(data) + len(offsets) + jumps + 1 + len(mask)
        if (length - 1) // 256 == jumps:
            break
        jumps = (length - 1) // 256
    table = []
    for j in range(jumps):
        first = next((i for i, o in enumerate(offsets) if o >= (j + 1) * 256), 0xFF)
        table.append(first)
    return (bytes(data) + bytes(o & 0xFF for o in reversed(offsets)) + bytes(reversed(table)) +
            bytes([len(variable)]) + bytes(mask))


def access_date(year, month, day):
    return float((datetime.date(year, month, day) - datetime.date(1899, 12, 30)).days)


objects = [
    Column("Id", LONGINT, 4, 0),
    Column("Name", TEXT, 255, None, 0),
    Column("Type", INT, 2, 4),
    Column("Flags", LONGINT, 4, 6),
    Column("LvProp", OLE, 0, None, 1),
]
fahrer = [
    Column("Personalnummer", LONGINT, 4, 0),
    Column("Bemerkung", TEXT, 255, None, 0),
    Column("Vorname", TEXT, 50, None, 1),
    Column("Nachname", TEXT, 50, None, 2),
    Column("Telefon", TEXT, 30, None, 3),
    Column("Geburtstag", DATETIME, 8, 4),
    Column("aktiv", BOOL, 0, 12),
]
employees = [
    {"Personalnummer": 1, "Vorname": "Jürgen", "Nachname": "Müller", "Telefon": "089 123456",
     "Geburtstag": access_date(1980, 12, 11), "aktiv": True},
    {"Personalnummer": 2, "Bemerkung": "Vertretung in der Disposition; " * 8,
     "Vorname": "Petra", "Nachname": "Abel", "Telefon": "030 998877",
     "Geburtstag": access_date(1991, 12, 11), "aktiv": True},
    {"Personalnummer": 3, "Vorname": "Uwe", "Nachname": "Brandt", "Telefon": "040 1111",
     "Geburtstag": access_date(1970, 12, 11), "aktiv": False},
    {"Personalnummer": 4, "Vorname": "Maria", "Nachname": "Fischer", "Telefon": "0391 1234",
     "Geburtstag": access_date(1988, 2, 29), "aktiv": True},
]

pages = [
    header_page(),
    data_page(0, [usage_map(3), usage_map(3), usage_map(5), usage_map(5)]),
    definition_page(objects, 1 << 8 | 0, 1 << 8 | 1),
    data_page(2, [
        row(objects, {"Id": 2, "Name": "MSysObjects", "Type": 1, "Flags": -0x7FFFFFFE}),
        row(objects, {"Id": 4, "Name": "u_fahrer", "Type": 1, "Flags": 0}),
    ]),
    definition_page(fahrer, 1 << 8 | 2, 1 << 8 | 3),
    data_page(4, [row(fahrer, e) for e in employees]),
]
with open(sys.argv[1] if len(sys.argv) > 1 else "belegschaft97.mdb", "wb") as out:
    for page in pages:
        out.write(page)
