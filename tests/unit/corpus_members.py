"""corpus_members.py - what Python's zipfile reads of each corpus archive.

One line per archive: its file name, a tab, then "unreadable" when zipfile
cannot open it, else one word per file member in directory order: the
SHA-256 of the member's bytes, or "-" when zipfile cannot read them; "!"
before the SHA-256 when zipfile gave another number of bytes than the
member's declared size (it does not check that).  No password is given.  Run by test_extended.cc.
"""
import hashlib
import sys
import zipfile

corpus = sys.argv[1]
with open(corpus + "/MANIFEST.tsv", encoding="utf-8") as manifest:
    files = [line.split("\t")[0] for line in manifest.read().splitlines()[1:] if line]
for name in files:
    try:
        archive = zipfile.ZipFile(corpus + "/" + name)
    except Exception:  # any refusal: zipfile raises several kinds
        print(name + "\tunreadable")
        continue
    words = []
    for info in archive.infolist():
        if info.filename.endswith("/"):
            continue
        try:
            data = archive.read(info)
            mark = "" if len(data) == info.file_size else "!"
            words.append(mark + hashlib.sha256(data).hexdigest())
        except Exception:
            words.append("-")
    print(name + "\t" + " ".join(words))
