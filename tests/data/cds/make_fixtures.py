#!/usr/bin/env python3
"""Writes the hand-made client-dataset fixtures of this folder, byte by byte.

tiny.cds / tiny.xml   the complete two-row example file (ID i4, NAME string(10)).
changelog.cds / .xml  an edited in-memory dataset saved with its change log.
bcd.cds               decimals in both encodings: right-aligned on the field
                      precision and normalised to the value's own digits.

allkinds.cds / .xml come from our own writer (every field kind with its edge values);
tst_cdsfile rewrites them when run with RPT_WRITE_CDS_FIXTURES=1, which is only ever
wanted after a deliberate change of the written form.
crashes/ keeps inputs that once broke the reader; tst_cdsfile reads each of them.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def name(s):
    b = s.encode('ascii')
    return bytes([len(b)]) + b


def prop_u16(n, v):
    return name(n) + struct.pack('<HHH', 2, 0x0002, v)


def prop_str(n, v):
    b = v.encode('ascii') + b'\0'
    return name(n) + struct.pack('<HHH', 2, 0x0049, len(b)) + b


def field(n, size, typ, attrs=0, props=()):
    return name(n) + struct.pack('<HHHH', size, typ, attrs, len(props)) + b''.join(props)


def packet(fields, packet_props, records):
    meta = b''.join(fields) + struct.pack('<H', len(packet_props)) + b''.join(packet_props)
    header = struct.pack('<IHHIHIIH', 0xBDE01996, 1, 0, 24, len(fields), len(records), 3, 24 + len(meta))
    return header + meta + b''.join(records)


def write(fn, data):
    with open(os.path.join(HERE, fn), 'wb') as f:
        f.write(data)


TINY = bytes.fromhex(
    '9619E0BD 01000000 18000000 0200 02000000 03000000 4B00'
    '024944 0400 0100 0000 0000'
    '044E414D45 0100 4900 0000 0100 055749445448 0200 0200 0A00'
    '0100 044C434944 0400 0100 09040000'
    '00 00 01000000 03416E6E'
    '00 04 02000000'.replace(' ', ''))
assert len(TINY) == 91
write('tiny.cds', TINY)
write('tiny.xml', b'<?xml version="1.0" standalone="yes"?>  <DATAPACKET Version="2.0"><METADATA><FIELDS>'
      b'<FIELD attrname="ID" fieldtype="i4"/><FIELD attrname="NAME" fieldtype="string" WIDTH="10"/>'
      b'</FIELDS><PARAMS LCID="1033"/></METADATA><ROWDATA><ROW ID="1" NAME="Ann"/><ROW ID="2"/>'
      b'</ROWDATA></DATAPACKET>')

# Change log. Stored records (status, bitmap, values); fields ID (autoinc), NAME, AMOUNT.
#  1  5 inserted, superseded          1 "Ann"  10
#  2  4 inserted                      2 "Bob"  20
#  3  5 inserted, superseded          3 "Cy"   30
#  4 13 modified (of 1), superseded   =  "Anne" =
#  5 12 modified (of 4), current      =  "Annie" =
#  6 14 modified (of 3), deleted      =  "Cyd"  =
# Visible: (1, "Annie", 10) then (2, "Bob", 20): the current version of record 1
# keeps record 1's place.
def bitmap(*states):
    v = 0
    for i, s in enumerate(states):
        v |= s << (2 * i)
    return bytes([v])


def s(t):
    b = t.encode('ascii')
    return bytes([len(b)]) + b


def i4(v):
    return struct.pack('<i', v)


recs = [
    bytes([5]) + bitmap(0, 0, 0) + i4(1) + s('Ann') + i4(10),
    bytes([4]) + bitmap(0, 0, 0) + i4(2) + s('Bob') + i4(20),
    bytes([5]) + bitmap(0, 0, 0) + i4(3) + s('Cy') + i4(30),
    bytes([13]) + bitmap(2, 0, 2) + s('Anne'),
    bytes([12]) + bitmap(2, 0, 2) + s('Annie'),
    bytes([14]) + bitmap(2, 0, 2) + s('Cyd'),
]
log = [1, 0, 4, 2, 0, 4, 3, 0, 4, 4, 1, 8, 5, 4, 8, 6, 3, 8, 6, 3, 2]
fields = [
    field('ID', 4, 0x0001, 2, [prop_str('SUBTYPE', 'Autoinc')]),
    field('NAME', 1, 0x0049, 0, [prop_u16('WIDTH', 20)]),
    field('AMOUNT', 4, 0x0001),
]
pprops = [
    name('CHANGE_LOG') + struct.pack('<HHI', 4, 0x0082, len(log)) + b''.join(struct.pack('<I', x) for x in log),
    name('AUTOINCVALUE') + struct.pack('<HHi', 4, 0x0001, 4),
]
write('changelog.cds', packet(fields, pprops, recs))
write('changelog.xml', (
    '<?xml version="1.0" standalone="yes"?>  <DATAPACKET Version="2.0"><METADATA><FIELDS>'
    '<FIELD attrname="ID" fieldtype="i4" readonly="true" SUBTYPE="Autoinc"/>'
    '<FIELD attrname="NAME" fieldtype="string" WIDTH="20"/><FIELD attrname="AMOUNT" fieldtype="i4"/>'
    '</FIELDS><PARAMS CHANGE_LOG="' + ' '.join(map(str, log)) + '" AUTOINCVALUE="4"/></METADATA><ROWDATA>'
    '<ROW RowState="5" ID="1" NAME="Ann" AMOUNT="10"/><ROW RowState="4" ID="2" NAME="Bob" AMOUNT="20"/>'
    '<ROW RowState="5" ID="3" NAME="Cy" AMOUNT="30"/><ROW RowState="13" NAME="Anne"/>'
    '<ROW RowState="12" NAME="Annie"/><ROW RowState="14" NAME="Cyd"/></ROWDATA></DATAPACKET>').encode('ascii'))

# Decimals: AMT fixed(10,2). Rows: -123.45 right-aligned on 10 digits, the same value
# normalised to 5 digits, 0, and 99999999.99.
amt = field('AMT', 8, 0x0005, 0, [prop_u16('WIDTH', 10), prop_u16('DECIMALS', 2)])
write('bcd.cds', packet([amt], [name('LCID') + struct.pack('<HHi', 4, 0x0001, 1033)], [
    b'\0\0' + bytes.fromhex('0A82000001234500'),
    b'\0\0' + bytes.fromhex('0582123450000000'),
    b'\0\0' + bytes.fromhex('0A02000000000000'),
    b'\0\0' + bytes.fromhex('0A02999999999900'),
]))
