#!/usr/bin/python3
"""Drives the python3-dbf module as an independent peer for table and
memo-file tests (and python3-dbfread for the header's flag byte).

Commands (texts travel as hex of their code page 866 bytes, one per line):
  create <layout> <table.dbf> <texts>   new table ID N(4), NOTES M with one
                                        record per line of <texts>
  read <table.dbf>                      print the memo of every record
  update <table.dbf> <texts>            replace memos; a line "-" keeps one
  header <table.dbf>                    print "year Y", "records N" and
                                        "fields A,B,..." as python3-dbf reads
                                        them, and "structural F" with bit 0
                                        of the flag byte as dbfread reads it
  rows <table.dbf>                      every record: deleted flag (0/1), then
                                        each field as hex, tab-separated (texts
                                        without trailing blanks, numbers with
                                        two decimals, dates YYYYMMDD, logicals
                                        T/F, empty values empty)
Layouts: db3 (dBase III .dbt), fp (FoxPro .fpt), vfp (Visual FoxPro .fpt).
Exit status 2 when the module is missing, 1 on any other failure.
"""
import binascii
import sys

try:
    import dbf
    import dbfread
except ImportError as missing:
    sys.stderr.write("%s is not installed (Debian packages python3-dbf, python3-dbfread)\n" % missing.name)
    sys.exit(2)

CODEPAGE = "cp866"


def load_texts(path):
    with open(path, "r", encoding="ascii") as f:
        return [line.rstrip("\n") for line in f]


def decode(hex_text):
    return binascii.unhexlify(hex_text).decode(CODEPAGE)


def create(layout, table_path, texts_path):
    table = dbf.Table(table_path, "id N(4,0); notes M", dbf_type=layout, codepage=CODEPAGE)
    table.open(dbf.READ_WRITE)
    for number, hex_text in enumerate(load_texts(texts_path), start=1):
        table.append((number, decode(hex_text)))
    table.close()


def read(table_path):
    table = dbf.Table(table_path, codepage=CODEPAGE)
    table.open(dbf.READ_ONLY)
    for record in table:
        text = record.notes or ""
        sys.stdout.write(binascii.hexlify(text.encode(CODEPAGE)).decode("ascii") + "\n")
    table.close()


def update(table_path, texts_path):
    table = dbf.Table(table_path, codepage=CODEPAGE)
    table.open(dbf.READ_WRITE)
    for record, hex_text in zip(table, load_texts(texts_path)):
        if hex_text == "-":
            continue
        with record:
            record.notes = decode(hex_text)
    table.close()


def header(table_path):
    table = dbf.Table(table_path, codepage=CODEPAGE)
    table.open(dbf.READ_ONLY)
    sys.stdout.write("year %d\n" % table.last_update.year)
    sys.stdout.write("records %d\n" % len(table))
    sys.stdout.write("fields %s\n" % ",".join(name.upper() for name in table.field_names))
    table.close()
    flags = dbfread.DBF(table_path, load=False, ignore_missing_memofile=True).header.mdx_flag
    sys.stdout.write("structural %d\n" % (flags & 1))


def cell_text(value):
    if value is None:
        return ""
    if isinstance(value, bool):
        return "T" if value else "F"
    if isinstance(value, (int, float)):
        return "%.2f" % value
    if hasattr(value, "strftime"):
        return value.strftime("%Y%m%d")
    return str(value).rstrip(" ")


def rows(table_path):
    table = dbf.Table(table_path, codepage=CODEPAGE)
    table.open(dbf.READ_ONLY)
    for record in table:
        cells = ["1" if dbf.is_deleted(record) else "0"]
        for name in table.field_names:
            text = cell_text(record[name])
            cells.append(binascii.hexlify(text.encode(CODEPAGE)).decode("ascii"))
        sys.stdout.write("\t".join(cells) + "\n")
    table.close()


def main(argv):
    if len(argv) == 4 and argv[0] == "create":
        create(argv[1], argv[2], argv[3])
    elif len(argv) == 2 and argv[0] == "read":
        read(argv[1])
    elif len(argv) == 2 and argv[0] == "rows":
        rows(argv[1])
    elif len(argv) == 3 and argv[0] == "update":
        update(argv[1], argv[2])
    elif len(argv) == 2 and argv[0] == "header":
        header(argv[1])
    else:
        sys.stderr.write(__doc__)
        return 1
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except Exception as error:  # report any peer failure as one line
        sys.stderr.write("peer_python: %r\n" % (error,))
        sys.exit(1)
