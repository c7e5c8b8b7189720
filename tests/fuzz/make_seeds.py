#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora from real inputs: service answers, taglines, the translation table,
registry values. Each seed is laid out the way the fuzz target reads its input (length-prefixed pieces)."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def piece(b: bytes) -> bytes:
    b = b[:255]
    return bytes([len(b)]) + b


def write(target: str, name: str, data: bytes) -> None:
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


answers = [
    b'{"update":"https://service.tarnell.example/download","notify":"","info":{}}',
    b'{"update":"","notify":"Maintenance tonight \\u00e0 22h","info":{"text":"x","url":"https://a.example/n"}}',
    b'{"update":"","notify":"","info":{"title":"\\"quoted\\" \\\\ \\/ \\n","nested":{"a":1}}}',
    b'<html><head><title>404 Not Found</title></head><body>Not Found</body></html>',
    b'{"UPDATE":"C:\\\\Windows\\\\calc.exe","notify":"\\u","info":{"url":"file:///etc/passwd"',
]
for i, a in enumerate(answers):
    write("fuzz_fields", f"answer{i}", piece(b'"update":"') + piece(b'"') + b"\x00" + a)
    write("fuzz_fields", f"info{i}", piece(b'"info":{') + piece(b'}') + b"\x01" + a)

table = open(os.path.join(ROOT, "resources", "translate.txt"), "rb").read()
lines = table.split(b"\r\n")
taglines = [l.split(b"=", 1)[1] for l in lines if l.count(b"<B>")]
for i, t in enumerate(taglines[:9]):
    # width, height, borders, auto break, alignment, font height, then the text
    write("fuzz_markup", f"tagline{i}", bytes([120, 66, 0, 0, 1, 1 + 3 + 9, 13]) + t)
write("fuzz_markup", "tags", bytes([100, 40, 2, 2, 1, 4, 12]) +
      b'<C><FC=red>red</FC> and <B>bold <B=off>not</B></B></C><BR>x <FC=$00DD843D>accent</FC> <Z> <B')

# Nesting deep enough to exhaust the fuzzer's small layout stack if the layout recursed per level, inside
# libFuzzer's default input size (4096 bytes).
write("fuzz_markup", "deep_nesting", bytes([120, 66, 0, 0, 1, 13, 13]) + b"<B>" * 1200 + b"x" + b"</B>" * 100)

write("fuzz_translation", "table_ja", piece(b"ja") + piece("알수없음".encode()) + table)
write("fuzz_translation", "table_none", piece(b"") + piece(b"UNKNOWN") + table)
write("fuzz_translation", "lone_cr", piece(b"fr") + piece(b"b") + b"ko=a\ren=b\r\rfr=c=d\nit")

for name, kind, data in [("dword7", 4, struct.pack("<i", 7)), ("dword_neg", 4, struct.pack("<i", -1)),
                         ("sz", 1, "Tarnell".encode("utf-16-le") + b"\0\0"),
                         ("expand", 2, "%TEMP%\0tail".encode("utf-16-le")),
                         ("binary", 3, b"\x01\x02\x03"), ("qword", 11, b"\0" * 8), ("empty_sz", 1, b"")]:
    write("fuzz_config_decode", name, bytes([kind]) + data)


def record_entry(existed, sequence, written, before, key, name, created=""):
    def blob(value):
        kind, data = value
        return struct.pack("<II", kind, len(data)) + data

    def text(t):
        return struct.pack("<I", len(t)) + t.encode("utf-16-le")

    return (bytes([1, 1 if existed else 0]) + struct.pack("<I", sequence) + blob(written) + blob(before) +
            text(key) + text(name) + text(created))


interfaces = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\"
guid = "{7A3B0C1D-5E6F-4A1B-8C2D-3E4F5A6B7C8D}"
write("fuzz_record_entry", "existed_dword",
      record_entry(True, 1, (4, struct.pack("<I", 1)), (4, struct.pack("<I", 5)), interfaces + guid, "TcpAckFrequency"))
write("fuzz_record_entry", "absent_created",
      record_entry(False, 3, (4, struct.pack("<I", 1)), (0, b""), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSMQ\\Parameters",
                   "TCPNoDelay", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSMQ"))
write("fuzz_record_entry", "existed_text",
      record_entry(True, 5, (4, struct.pack("<I", 0)), (1, "mine".encode("utf-16-le") + b"\0\0"),
                   "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Multimedia\\SystemProfile",
                   "SystemResponsiveness"))
