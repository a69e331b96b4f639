#!/usr/bin/python3
"""Reads a transaction log on its own terms and prints one line per entry.

    log4decode.py LOGFILE

Each entry is a u32 length word (payload length + 36), the payload, and a
32-byte header (transaction id i32, user slot i32, data id u32, second data
id u32, type u16, payload length u32, year u32, month u8, day u8, seconds
u32), all little-endian. The file must be exactly a sequence of whole
entries, each payload exactly the size its type calls for. Anything else
ends the run with a message on stderr and exit status 1.

Output, one line per entry, fields as key=value separated by spaces (texts
percent-encoded so that they never contain a space):

    entry <n> at=<offset> kind=<name> type=<t> txn=<id> slot=<s> data=<id>
          data2=<id> length=<payload length> [payload fields]

Payload fields: open/open-temp name reclen fields records; create name
fields tags memos; update record memos=<old>:<new>,... (0:0 for a memo
that did not change); append record memos=<len>,...; zap first last;
user-open userid netid. Update and append need the record length, which
the open entry of the same user slot and data id gives.
"""

import struct
import sys

HEADER = 32
WORD = 4
OVERHEAD = HEADER + WORD

KINDS = {
    1: "open",
    2: "open-temp",
    3: "close",
    4: "start",
    5: "commit-one",
    6: "commit-two",
    7: "rollback-done",
    8: "update",
    9: "append",
    10: "voided",
    11: "create",
    13: "zap",
    15: "user-open",
    16: "clean-end",
    17: "refused",
    18: "user-close",
}
EMPTY_KINDS = {3, 4, 5, 6, 7, 10, 16, 17, 18}
MEMO_TYPES = {ord("M"), ord("G")}


class Malformed(Exception):
    pass


def text(raw):
    out = []
    for b in raw:
        if 0x21 <= b <= 0x7E and b not in (0x25, 0x3D, 0x2C, 0x3A):
            out.append(chr(b))
        else:
            out.append("%%%02X" % b)
    return "".join(out)


class Reader:
    """Fields of one payload in order; running past its end is malformed."""

    def __init__(self, data, what):
        self.data = data
        self.at = 0
        self.what = what

    def take(self, n):
        if n > len(self.data) - self.at:
            raise Malformed("%s: payload ends inside a field (%d bytes wanted at %d of %d)"
                            % (self.what, n, self.at, len(self.data)))
        piece = self.data[self.at:self.at + n]
        self.at += n
        return piece

    def u8(self):
        return self.take(1)[0]

    def u16(self):
        return struct.unpack("<H", self.take(2))[0]

    def u32(self):
        return struct.unpack("<I", self.take(4))[0]

    def left(self):
        return len(self.data) - self.at

    def done(self):
        if self.at != len(self.data):
            raise Malformed("%s: %d bytes left over in the payload"
                            % (self.what, len(self.data) - self.at))


class Decoder:
    def __init__(self):
        self.memos_by_name = {}  # table name -> memo field count, from create
        self.tables = {}  # (slot, data id) -> (record length, memo count or None)

    def open_entry(self, r, h):
        name = r.take(r.u16())
        reclen = r.u32()
        fields = r.u16()
        records = r.u32()
        r.u32()  # file time
        year, month, day = r.take(3)
        r.done()
        if reclen == 0:
            raise Malformed("%s: record length 0" % r.what)
        if not (1 <= month <= 12 and 1 <= day <= 31) and (year, month, day) != (0, 0, 0):
            raise Malformed("%s: header date %d/%d/%d" % (r.what, year, month, day))
        self.tables[(h["slot"], h["data"])] = (reclen, self.memos_by_name.get(name))
        return "name=%s reclen=%d fields=%d records=%d" % (text(name), reclen, fields, records)

    def create_entry(self, r):
        r.u16()  # compatibility
        name = r.take(r.u16())
        field_count = r.u16()
        tag_count = r.u16()
        memos = 0
        for _ in range(field_count):
            if len(r.take(r.u8())) == 0:
                raise Malformed("%s: empty field name" % r.what)
            ftype = r.u16()
            r.u16()  # length
            r.u16()  # decimals
            r.u16()  # nulls
            memos += 1 if ftype in MEMO_TYPES else 0
        for _ in range(tag_count):
            if len(r.take(r.u8())) == 0:
                raise Malformed("%s: empty tag name" % r.what)
            if len(r.take(r.u16())) == 0:
                raise Malformed("%s: empty tag expression" % r.what)
            r.take(r.u16())  # filter
            r.u16()  # unique
            r.u16()  # descending
        r.done()
        self.memos_by_name[name] = memos
        return "name=%s fields=%d tags=%d memos=%d" % (text(name), field_count, tag_count, memos)

    def table(self, r, h):
        known = self.tables.get((h["slot"], h["data"]))
        if known is None:
            raise Malformed("%s: data id %d of slot %d was never opened"
                            % (r.what, h["data"], h["slot"]))
        return known

    def update_entry(self, r, h):
        reclen, memo_count = self.table(r, h)
        record = r.u32()
        r.take(reclen)
        r.take(reclen)
        memos = []
        while r.left() > 0:
            old = r.u32()
            r.take(old)
            new = r.u32()
            r.take(new)
            memos.append("%d:%d" % (old, new))
        r.done()
        if memo_count is not None and len(memos) != memo_count:
            raise Malformed("%s: %d memo values for %d memo fields"
                            % (r.what, len(memos), memo_count))
        return "record=%d memos=%s" % (record, ",".join(memos) or "-")

    def append_entry(self, r, h):
        reclen, memo_count = self.table(r, h)
        record = r.u32()
        r.take(reclen)
        memos = []
        while r.left() > 0:
            memos.append(str(len(r.take(r.u32()))))
        r.done()
        if memo_count is not None and len(memos) != memo_count:
            raise Malformed("%s: %d memo values for %d memo fields"
                            % (r.what, len(memos), memo_count))
        return "record=%d memos=%s" % (record, ",".join(memos) or "-")

    def payload(self, h, data, what):
        r = Reader(data, what)
        t = h["type"]
        if t in EMPTY_KINDS:
            r.done()
            return ""
        if t in (1, 2):
            return self.open_entry(r, h)
        if t == 11:
            return self.create_entry(r)
        if t == 8:
            return self.update_entry(r, h)
        if t == 9:
            return self.append_entry(r, h)
        if t == 13:
            first, last = r.u32(), r.u32()
            r.done()
            return "first=%d last=%d" % (first, last)
        if t == 15:
            net_length, user_length = r.u16(), r.u16()
            net = r.take(net_length)
            user = r.take(user_length)
            r.done()
            if user_length == 0 or user_length > 10:
                raise Malformed("%s: user id of %d bytes" % (what, user_length))
            return "userid=%s netid=%s" % (text(user), text(net) or "-")
        raise Malformed("%s: unknown entry type %d" % (what, t))


def check_header(h, what):
    if not 1 <= h["slot"] <= 1000:
        raise Malformed("%s: user slot %d" % (what, h["slot"]))
    if h["txn"] < 0:
        raise Malformed("%s: transaction id %d" % (what, h["txn"]))
    if h["type"] == 16 and h["data2"] != 3:
        raise Malformed("%s: clean end with second data id %d" % (what, h["data2"]))
    stamp = (h["year"], h["month"], h["day"], h["seconds"])
    if stamp != (0, 0, 0, 0):
        if not (1 <= h["month"] <= 12 and 1 <= h["day"] <= 31 and h["seconds"] < 86400):
            raise Malformed("%s: time stamp %r" % (what, stamp))


def decode(data):
    decoder = Decoder()
    lines = []
    at = 0
    n = 0
    while at < len(data):
        what = "entry %d at %d" % (n, at)
        if len(data) - at < OVERHEAD:
            raise Malformed("%s: %d trailing bytes are no whole entry" % (what, len(data) - at))
        (word,) = struct.unpack_from("<I", data, at)
        if word < OVERHEAD or word > len(data) - at:
            raise Malformed("%s: length word %d (%d bytes left)" % (what, word, len(data) - at))
        size = word - OVERHEAD
        fields = struct.unpack_from("<iiIIHIIBBI", data, at + WORD + size)
        h = dict(zip(("txn", "slot", "data", "data2", "type", "length", "year", "month", "day",
                      "seconds"), fields))
        if h["length"] != size:
            raise Malformed("%s: header payload length %d, length word %d"
                            % (what, h["length"], word))
        kind = KINDS.get(h["type"])
        if kind is None:
            raise Malformed("%s: unknown entry type %d" % (what, h["type"]))
        # The clean end that starts a log may carry slot 0: nobody wrote it.
        if not (h["type"] == 16 and h["slot"] == 0):
            check_header(h, what)
        payload = decoder.payload(h, data[at + WORD:at + WORD + size], what)
        line = "entry %d at=%d kind=%s type=%d txn=%d slot=%d data=%d data2=%d length=%d" % (
            n, at, kind, h["type"], h["txn"], h["slot"], h["data"], h["data2"], size)
        lines.append(line + (" " + payload if payload else ""))
        at += word
        n += 1
    if n == 0:
        raise Malformed("empty log")
    return lines


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: log4decode.py LOGFILE\n")
        return 2
    try:
        with open(argv[1], "rb") as f:
            data = f.read()
        lines = decode(data)
    except (OSError, Malformed) as e:
        sys.stderr.write("log4decode: %s\n" % e)
        return 1
    sys.stdout.write("".join(line + "\n" for line in lines))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
