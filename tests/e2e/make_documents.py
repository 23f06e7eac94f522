# make_documents.py DIR - the documents of the end-to-end documents test: PDFs made by python3-reportlab (when
# installed), a presentation made by hand (its slides listed in the opposite of the archive's order), HTML, XML and an
# e-mail; prints the names written, one a line.
import email.message
import os
import sys
import zipfile

out = sys.argv[1]
made = []


def path(name):
    made.append(name)
    return os.path.join(out, name)


try:
    from reportlab.lib import pdfencrypt
    from reportlab.pdfgen import canvas
    c = canvas.Canvas(path("memo.pdf"))
    c.drawString(72, 760, "Memo page one")
    c.showPage()
    c.drawString(72, 760, "Memo page two")
    c.save()
    c = canvas.Canvas(path("locked.pdf"), encrypt=pdfencrypt.StandardEncryption("pw", "owner"))
    c.drawString(72, 760, "Locked text")
    c.save()
except ImportError:
    pass

ns = 'xmlns:p="http://schemas.openxmlformats.org/presentationml/2006/main" ' \
     'xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main"'
slide = '<p:sld %s><p:cSld><p:spTree><p:sp><p:txBody><a:p><a:r><a:t>%s</a:t></a:r>' \
        '</a:p></p:txBody></p:sp></p:spTree></p:cSld></p:sld>'
with zipfile.ZipFile(path("talk.pptx"), "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("[Content_Types].xml", '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
               '<Override PartName="/ppt/presentation.xml" ContentType="application/vnd.openxmlformats-'
               'officedocument.presentationml.presentation.main+xml"/></Types>')
    z.writestr("ppt/slides/slide1.xml", slide % (ns, "Second slide"))
    z.writestr("ppt/slides/slide2.xml", slide % (ns, "First slide"))
    z.writestr("ppt/_rels/presentation.xml.rels", '<Relationships xmlns="http://schemas.openxmlformats.org/package/'
               '2006/relationships"><Relationship Id="rId1" Target="slides/slide1.xml"/><Relationship Id="rId2" '
               'Target="slides/slide2.xml"/></Relationships>')
    z.writestr("ppt/presentation.xml", '<p:presentation %s xmlns:r="http://schemas.openxmlformats.org/officeDocument/'
               '2006/relationships"><p:sldIdLst><p:sldId id="256" r:id="rId2"/><p:sldId id="257" r:id="rId1"/>'
               '</p:sldIdLst></p:presentation>' % ns)
with open(path("page.html"), "w") as f:
    f.write("<html><head><title>Web page</title><style>p{color:red}</style>"
            "<script>var hidden = 1;</script></head><body><p>Fish &amp; chips</p></body></html>")
with open(path("feed.xml"), "w") as f:
    f.write('<?xml version="1.0"?><feed><title>Feed title</title><!-- no --></feed>')
msg = email.message.EmailMessage()
msg["From"], msg["To"], msg["Subject"] = "Ann <ann@example.com>", "bob@example.com", "Caf\u00e9 plans"
msg["Date"] = "Mon, 1 Jan 2024 10:00:00 +0000"
msg.set_content("Plain body")
msg.add_alternative("<p>HTML body</p><script>no()</script>", subtype="html")
msg.add_attachment(b"<p>Attached page</p>", maintype="text", subtype="html", filename="a.html")
with open(os.path.join(out, "talk.pptx"), "rb") as f:  # a document attached: its text, through the same dispatch
    msg.add_attachment(f.read(), maintype="application", subtype="octet-stream", filename="talk.pptx")
with open(path("mail.eml"), "wb") as f:
    f.write(bytes(msg))
print("\n".join(made))
