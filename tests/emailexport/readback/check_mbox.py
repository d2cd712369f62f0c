#!/usr/bin/env python3
"""Reads the mbox files of make_mbox back with Python's own mbox reader.

    check_mbox.py <make_mbox program>

For every record: one message in the mbox, in order; its bytes, with one '>'
taken off each ">...From " line (mboxrd), equal to the record's text with LF
line ends and a last line end; the separator's sender and date as expected,
the date in the asctime form. An empty selection gives an empty file that
the reader finds no message in.
"""

import email.utils
import mailbox
import os
import re
import subprocess
import sys
import tempfile
import time

FAILURES = []


def check(condition, what):
    if not condition:
        FAILURES.append(what)


def lf_text(raw):
    text = raw.replace(b"\r\n", b"\n")
    if text and not text.endswith(b"\n"):
        text += b"\n"
    return text


def unquoted(body):
    return re.sub(rb"(?m)^>(>*From )", rb"\1", body)


def check_date(index, date_text, message):
    parsed = time.strptime(date_text, "%a %b %d %H:%M:%S %Y")
    check(time.strftime("%a %b ", parsed) + "%2d" % parsed.tm_mday + time.strftime(" %H:%M:%S %Y", parsed) == date_text,
          "message %d: date %r is not in the asctime form" % (index, date_text))
    # Where Python's own date parser reads the header the same way (a
    # four-digit year and a zone it knows), its reading must agree.
    header = message["Date"]
    if header is None:
        return
    fields = email.utils.parsedate_tz(header)
    if fields is None or fields[9] is None or not re.search(r"\b\d{4}\b", header):
        return
    utc = time.strftime("%a %b %d %H:%M:%S %Y", time.gmtime(email.utils.mktime_tz(fields)))
    check(time.strptime(utc, "%a %b %d %H:%M:%S %Y") == parsed,
          "message %d: Date %r read by Python as %s, separator has %s" % (index, header, utc, date_text))


def main():
    maker = sys.argv[1]
    with tempfile.TemporaryDirectory(prefix="corvane-mbox-readback-") as folder:
        subprocess.run([maker, folder], check=True)
        expect = os.path.join(folder, "expect")
        count = len([n for n in os.listdir(expect) if n.endswith(".text")])
        check(count > 0, "make_mbox wrote no records")

        box = mailbox.mbox(os.path.join(folder, "all.mbox"), create=False)
        keys = box.keys()
        check(len(keys) == count, "%d messages in the mbox, %d records" % (len(keys), count))
        quoted = 0
        for index, key in enumerate(keys[:count]):
            with open(os.path.join(expect, "%d.text" % index), "rb") as f:
                raw = f.read()
            with open(os.path.join(expect, "%d.from" % index)) as f:
                sender, date_text = f.read().split(" ", 1)
            body = box.get_bytes(key)
            quoted += len(re.findall(rb"(?m)^>+From ", body))
            check(unquoted(body) == lf_text(raw), "message %d: bytes differ from the record's text" % index)
            message = box.get_message(key)
            got_sender, got_date = message.get_from().split(" ", 1)
            check(got_sender == sender, "message %d: sender %r, expected %r" % (index, got_sender, sender))
            check(got_date == date_text, "message %d: date %r, expected %r" % (index, got_date, date_text))
            check_date(index, got_date, message)
        check(quoted > 0, "no quoted From line met")
        box.close()

        empty = os.path.join(folder, "empty.mbox")
        check(os.path.isfile(empty) and os.path.getsize(empty) == 0, "empty.mbox is not an empty file")
        check(len(mailbox.mbox(empty, create=False)) == 0, "messages in empty.mbox")

    for failure in FAILURES:
        print("FAILED:", failure)
    print("%d checks failed" % len(FAILURES) if FAILURES else "mbox read back: all checks passed")
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
