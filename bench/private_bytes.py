#!/usr/bin/env python3
"""Private bytes of a program under Wine, by owner.

Under Wine a Windows process is a Linux process, its Windows addresses are its Linux addresses, and what
Wine reports as private bytes is the process's resident anonymous memory. So each resident anonymous page
(from /proc/PID/pagemap: present, not file-backed) is looked up in the owner ranges that the Windows-side
helper bench/memory_regions.exe prints for the same process (thread stacks, heaps, images, mapped files,
other private memory); pages outside every range are Wine's own (its loader, its Unix libraries' heaps).

    bench/private_bytes.py LINUX_PID REGIONS_FILE

Prints KiB per owner, largest first, and the total (which is what the bench's private-bytes column reads).
"""
import re
import struct
import sys
from collections import Counter

PAGE = 4096


def owner_ranges(path):
    ranges = []
    with open(path) as f:
        for line in f:
            parts = line.strip().split(" ", 2)
            if len(parts) == 3:
                ranges.append((int(parts[0], 16), int(parts[1], 16), parts[2]))
    return ranges


def classify(owner):
    if owner.startswith("thread stack"):
        return "thread stacks"
    if owner.startswith("image "):
        return "image " + re.split(r"[\\/]", owner)[-1].lower()
    if owner.startswith("mapped "):
        return "mapped files"
    return owner


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    pid = int(sys.argv[1])
    ranges = owner_ranges(sys.argv[2])
    totals = Counter()
    with open(f"/proc/{pid}/maps") as maps, open(f"/proc/{pid}/pagemap", "rb") as pagemap:
        for line in maps:
            fields = line.split()
            lo, hi = (int(x, 16) for x in fields[0].split("-"))
            linux_name = fields[5] if len(fields) > 5 else ""
            pagemap.seek((lo // PAGE) * 8)
            data = pagemap.read(((hi - lo) // PAGE) * 8)
            for i in range(len(data) // 8):
                entry = struct.unpack_from("<Q", data, i * 8)[0]
                present, file_page = entry >> 63 & 1, entry >> 61 & 1
                if not present or file_page:
                    continue
                address = lo + i * PAGE
                owner = None
                # The first range (in the helper's order: stacks before the regions holding them) names it.
                for start, end, name in ranges:
                    if start <= address < end:
                        owner = classify(name)
                        break
                if owner is None:
                    owner = "wine " + (linux_name.rsplit("/", 1)[-1] if linux_name else "anonymous")
                totals[owner] += PAGE // 1024
    width = max((len(k) for k in totals), default=10)
    for owner, kib in totals.most_common():
        print(f"{owner:<{width}}  {kib:>8} KiB")
    print(f"{'total':<{width}}  {sum(totals.values()):>8} KiB")
    return 0


if __name__ == "__main__":
    sys.exit(main())
