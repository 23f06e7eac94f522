# make_documents.py - the documents of the end-to-end documents test, made by their own libraries
#
# Usage: /usr/bin/python3 make_documents.py DIR.  Writes into DIR each
# document whose library is installed (python3-docx, python3-openpyxl,
# python3-reportlab, python3-odf; the HTML, XML and e-mail
# need none) and prints the names it wrote, one a line.
import email.message
import os
import sys

out = sys.argv[1]
made = []


def path(name):
    made.append(name)
    return os.path.join(out, name)


def docx():
    import docx as d
    doc = d.Document()
    doc.add_heading("Quarterly report", 1)
    doc.add_paragraph("Sales rose in every region.")
    table = doc.add_table(rows=1, cols=2)
    table.rows[0].cells[0].text, table.rows[0].cells[1].text = "North", "12"
    doc.save(path("report.docx"))


def xlsx():
    import openpyxl
    wb = openpyxl.Workbook()
    wb.active.title = "Prices"
    wb.active.append(["Fig", 2.5])
    wb.create_sheet("Stock").append(["Apples", 40])
    wb.save(path("prices.xlsx"))


def pptx():
    # The few parts a presentation needs, by hand, the slides listed in the
    # opposite of the archive's order.
    import zipfile
    ns = 'xmlns:p="http://schemas.openxmlformats.org/presentationml/2006/main" ' \
         'xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main"'
    rels = 'xmlns="http://schemas.openxmlformats.org/package/2006/relationships"'
    slide = '<p:sld %s><p:cSld><p:spTree><p:sp><p:txBody><a:p><a:r><a:t>%s</a:t></a:r>' \
            '</a:p></p:txBody></p:sp></p:spTree></p:cSld></p:sld>'
    with zipfile.ZipFile(path("talk.pptx"), "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml", '<Types xmlns="http://schemas.openxmlformats.org/'
                   'package/2006/content-types"><Override PartName="/ppt/presentation.xml" '
                   'ContentType="application/vnd.openxmlformats-officedocument.'
                   'presentationml.presentation.main+xml"/></Types>')
        z.writestr("ppt/slides/slide1.xml", slide % (ns, "Second slide"))
        z.writestr("ppt/slides/slide2.xml", slide % (ns, "First slide"))
        z.writestr("ppt/_rels/presentation.xml.rels", '<Relationships %s><Relationship Id="rId1" '
                   'Target="slides/slide1.xml"/><Relationship Id="rId2" Target="slides/slide2.xml"/>'
                   '</Relationships>' % rels)
        z.writestr("ppt/presentation.xml", '<p:presentation %s xmlns:r="http://schemas.'
                   'openxmlformats.org/officeDocument/2006/relationships"><p:sldIdLst><p:sldId '
                   'id="256" r:id="rId2"/><p:sldId id="257" r:id="rId1"/></p:sldIdLst>'
                   '</p:presentation>' % ns)


def pdf():
    from reportlab.pdfgen import canvas
    c = canvas.Canvas(path("memo.pdf"))
    c.drawString(72, 760, "Memo page one")
    c.showPage()
    c.drawString(72, 760, "Memo page two")
    c.save()
    from reportlab.lib import pdfencrypt
    c = canvas.Canvas(path("locked.pdf"), encrypt=pdfencrypt.StandardEncryption("pw", "owner"))
    c.drawString(72, 760, "Locked text")
    c.save()


def odf():
    from odf.opendocument import OpenDocumentSpreadsheet, OpenDocumentText
    from odf.table import Table, TableCell, TableRow
    from odf.text import H, P
    doc = OpenDocumentText()
    doc.text.addElement(H(outlinelevel=1, text="Meeting notes"))
    doc.text.addElement(P(text="Bring the minutes."))
    doc.save(path("notes.odt"))
    sheet = OpenDocumentSpreadsheet()
    table, row = Table(name="Sheet1"), TableRow()
    for value in ("Pears", "7"):
        cell = TableCell()
        cell.addElement(P(text=value))
        row.addElement(cell)
    table.addElement(row)
    sheet.spreadsheet.addElement(table)
    sheet.save(path("stock.ods"))


for make in (docx, xlsx, pptx, pdf, odf):
    try:
        make()
    except ImportError:
        pass

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
if "report.docx" in made:  # a document attached: its text, through the same dispatch
    with open(os.path.join(out, "report.docx"), "rb") as f:
        msg.add_attachment(f.read(), maintype="application", subtype="octet-stream",
                           filename="report.docx")
with open(path("mail.eml"), "wb") as f:
    f.write(bytes(msg))

print("\n".join(made))
