"""corpus_members.py - what Python's zipfile reads of each corpus archive.

One line per archive: its name, a tab, then "unreadable" when zipfile cannot open it, else one
word per file member in directory order: "CRC-32:size" of its bytes, "-" when zipfile cannot read
them, "!" before it when zipfile gave another size than the declared one.  No password is given.
"""
import binascii
import sys
import zipfile

corpus = sys.argv[1]
with open(corpus + "/MANIFEST.tsv", encoding="utf-8") as manifest:
    files = [line.split("\t")[0] for line in manifest.read().splitlines()[1:] if line]
for name in files:
    try:
        archive = zipfile.ZipFile(corpus + "/" + name)
    except Exception:  # zipfile raises several kinds
        print(name + "\tunreadable")
        continue
    words = []
    for info in (i for i in archive.infolist() if not i.filename.endswith("/")):
        try:
            data = archive.read(info)
            words.append(("" if len(data) == info.file_size else "!") + "%08x:%d" % (binascii.crc32(data), len(data)))
        except Exception:
            words.append("-")
    print(name + "\t" + " ".join(words))
