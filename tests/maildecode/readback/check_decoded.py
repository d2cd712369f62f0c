#!/usr/bin/env python3
"""Compares the decoded messages of make_decoded with Python's email package.

    check_decoded.py <make_decoded program> <corpus folder>

For every record, its message text is parsed by email.message_from_bytes with
email.policy.default, and:
- Subject equals the header string (white space runs as one space), and the
  Date text gives the same moment as Python's reading of the header;
- From and To equal them once quotes are set aside (Python writes a name in
  quotes only where it must, the decoder keeps the quotes as written);
- dateIso equals the header's datetime in ISO form, where Python reads it and
  the year has four digits;
- the body: with a plain-text part, that part's get_content() (LF lines);
  the charset read as Windows-1252 where the part names none or US-ASCII, as
  Outlook Express wrote it; a forwarded message follows inline, so there the
  body begins with it. With an HTML part only, the body holds the text of
  the HTML as html.parser reads it (scripts, styles and the head left out);
- the attachments: every leaf part that is marked as an attachment or is no
  plain or HTML text, in order, with its file name, type and decoded size.
"""

import email
import email.policy
import email.utils
import html.parser
import json
import os
import re
import subprocess
import sys
import tempfile

FAILURES = []
COMPARED = {"subject": 0, "address": 0, "date": 0, "iso": 0, "plain": 0, "html": 0, "attachments": 0}


def check(condition, what):
    if not condition:
        FAILURES.append(what)


def norm(text):
    return re.sub(r"\s+", " ", text or "").strip()


def unquoted(text):
    return norm(text.replace('"', ""))


def lf(text):
    return text.replace("\r\n", "\n").replace("\r", "\n")


def plain_text(part):
    charset = part.get_content_charset()
    if charset is None or charset in ("us-ascii", "ascii"):
        return part.get_payload(decode=True).decode("cp1252", "replace")
    return part.get_content()


class HtmlText(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.words = []
        self.skip = 0

    def handle_starttag(self, tag, attrs):
        if tag in ("script", "style", "head", "title"):
            self.skip += 1

    def handle_endtag(self, tag):
        if tag in ("script", "style", "head", "title") and self.skip > 0:
            self.skip -= 1

    def handle_data(self, data):
        if not self.skip:
            self.words.append(data)


def html_words(part):
    reader = HtmlText()
    reader.feed(part.get_content())
    reader.close()
    return norm(" ".join(reader.words).replace("\xa0", " "))


def has_forwarded(message):
    return any(p.get_content_type() == "message/rfc822" for p in message.walk())


def expected_attachments(message):
    found = []
    for part in message.walk():
        if part.is_multipart():
            continue
        ctype = part.get_content_type()
        if part.is_attachment() or ctype not in ("text/plain", "text/html"):
            name = None
            if part["Content-Disposition"] is not None:
                name = part["Content-Disposition"].params.get("filename")
            if name is None and part["Content-Type"] is not None:
                name = part["Content-Type"].params.get("name")
            found.append({"name": (name or "").strip(), "type": ctype,
                          "size": len(part.get_payload(decode=True) or b"")})
    return found


def in_alternative_unshown(message):
    # Parts of an alternative that is not shown are neither body nor attachment.
    return any(p.get_content_type() == "multipart/alternative" and
               any(s.get_content_maintype() not in ("text", "multipart") for s in p.walk())
               for p in message.walk())


def compare(index, raw, got):
    message = email.message_from_bytes(raw, policy=email.policy.default)
    where = "record %d (%s)" % (index, norm(got["subject"])[:40])

    subject = message["Subject"]
    check(norm(got["subject"]) == norm(str(subject) if subject is not None else ""),
          "%s: subject %r, Python %r" % (where, got["subject"], subject and str(subject)))
    COMPARED["subject"] += 1
    for name in ("From", "To"):
        header = message[name]
        check(unquoted(got[name.lower()]) == unquoted(str(header) if header is not None else ""),
              "%s: %s %r, Python %r" % (where, name, got[name.lower()], header and str(header)))
        COMPARED["address"] += 1
    # Python gives the date header in a form of its own: the decoded text
    # must stand for the same moment.
    date = message["Date"]
    if date is not None and getattr(date, "datetime", None) is not None:
        check(email.utils.parsedate_to_datetime(got["date"]) == date.datetime,
              "%s: date %r, Python %r" % (where, got["date"], str(date)))
        COMPARED["date"] += 1
    if date is not None and getattr(date, "datetime", None) is not None and re.search(r"\b\d{4}\b", str(date)):
        check(got["dateIso"] == date.datetime.isoformat(),
              "%s: dateIso %r, Python %r" % (where, got["dateIso"], date.datetime.isoformat()))
        COMPARED["iso"] += 1

    body = message.get_body(("plain",))
    if body is not None:
        want = lf(plain_text(body))
        if has_forwarded(message):
            ok = got["body"].startswith(want.rstrip("\n"))
        else:
            ok = got["body"] == want
        check(ok, "%s: body\n%r\nPython\n%r" % (where, got["body"], want))
        COMPARED["plain"] += 1
    else:
        html_part = message.get_body(("html",))
        if html_part is not None:
            check(norm(got["body"]) == html_words(html_part),
                  "%s: body from HTML\n%r\nPython\n%r" % (where, norm(got["body"]), html_words(html_part)))
            COMPARED["html"] += 1

    if not in_alternative_unshown(message):
        want = expected_attachments(message)
        check(got["attachments"] == want,
              "%s: attachments %r, Python %r" % (where, got["attachments"], want))
        COMPARED["attachments"] += 1


def main():
    maker, corpus = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory(prefix="corvane-decode-oracle-") as folder:
        subprocess.run([maker, corpus, folder], check=True)
        count = len([n for n in os.listdir(folder) if n.endswith(".json")])
        check(count >= len([n for n in os.listdir(corpus) if n.endswith(".eml")]), "fewer records than messages")
        deleted = 0
        for index in range(count):
            with open(os.path.join(folder, "%d.eml" % index), "rb") as f:
                raw = f.read()
            with open(os.path.join(folder, "%d.json" % index), encoding="utf-8") as f:
                got = json.load(f)
            deleted += got["deleted"]
            compare(index, raw, got)
        check(deleted > 0, "no deleted record met")
    for failure in FAILURES:
        print("FAILED:", failure)
    print("compared:", ", ".join("%s %d" % kv for kv in COMPARED.items()))
    check(COMPARED["plain"] >= 10 and COMPARED["html"] >= 1 and COMPARED["iso"] >= 10, "too few comparisons")
    print("%d checks failed" % len(FAILURES) if FAILURES else "decoded messages: all checks passed")
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
