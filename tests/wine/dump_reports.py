#!/usr/bin/env python3
"""Writes every report of a brevora-report-server database into OUTDIR/ID/,
one file per stored field, byte for byte, for the reporter's end-to-end tests
(which run under Wine and cannot open the database themselves).

    dump_reports.py DATABASE OUTDIR
"""
import os
import sqlite3
import sys

FIELDS = [
    "received_utc", "peer", "user_agent", "email", "description1", "description2", "description3",
    "system_info", "attachment_name", "attachment", "attachment_state", "attachment_log_name",
    "attachment_log", "attachment_log_state", "raw_body", "component",
]


def main():
    database, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    if not os.path.exists(database):
        return
    connection = sqlite3.connect("file:%s?mode=ro" % database, uri=True)
    try:
        for row in connection.execute("SELECT id, %s FROM reports ORDER BY id" % ", ".join(FIELDS)):
            folder = os.path.join(out, str(row[0]))
            os.makedirs(folder)
            for name, value in zip(FIELDS, row[1:]):
                data = value.encode("utf-8") if isinstance(value, str) else bytes(value)
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(data)
    finally:
        connection.close()


if __name__ == "__main__":
    main()
