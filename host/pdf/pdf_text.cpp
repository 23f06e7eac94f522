// SPDX-License-Identifier: GPL-2.0-or-later
// pdf_text.cpp - libvtq_pdf.so.5: the text of a PDF through poppler's C++ interface
//
// poppler was chosen over MuPDF (README, "Documents", has the figures):
// both give the same words in the same reading order on two-column,
// two-page and Cyrillic/Greek/Japanese PDFs; MuPDF is two to three times
// faster on long documents, but poppler joins words hyphenated at a line
// end, is a shared library in Debian (MuPDF comes only as static
// archives: our measuring program linked with them is 44 MB) and is
// GPL (version 2 or 3) rather than AGPL-3.0.
//
// Reading order is poppler's "non-raw, non-physical" layout, the one its
// pdftotext uses by default: blocks and columns in reading order, not the
// page's physical arrangement (which puts two columns side by side on one
// line) nor the order of the content stream.
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

#include <climits>
#include <memory>
#include <mutex>
#include <new>

#include "host/pdf/vtq_pdf.h"

#define VTQ_PDF_API extern "C" __attribute__((visibility("default")))

namespace {

void quiet(const std::string &, void *) {}

uint32_t pdf_text(const unsigned char *data, std::size_t len, VtqPdfPage page, void *user) {
    // poppler reports damage on standard error by default; the host has
    // its own way of saying what went wrong.
    static std::once_flag once;
    std::call_once(once, [] { poppler::set_debug_error_function(quiet, nullptr); });
    if (len > INT_MAX) return VTQ_PDF_TOO_LARGE;
    std::unique_ptr<poppler::document> doc(poppler::document::load_from_raw_data(
        reinterpret_cast<const char *>(data), static_cast<int>(len)));
    if (!doc) return VTQ_PDF_DAMAGED;
    // Opened without a password: a PDF with only an owner password (what
    // may be done with it) reads; one with a user password stays locked.
    if (doc->is_locked()) return VTQ_PDF_ENCRYPTED;
    const int pages = doc->pages();
    for (int i = 0; i < pages; ++i) {
        std::unique_ptr<poppler::page> p(doc->create_page(i));
        if (!p) continue;
        const poppler::byte_array text =
            p->text(poppler::rectf(), poppler::page::non_raw_non_physical_layout).to_utf8();
        if (page(user, text.data(), text.size()) == 0) break;
    }
    return VTQ_PDF_OK;
}

} // namespace

VTQ_PDF_API uint32_t VtqPdf_Abi(void) { return VTQ_PDF_ABI; }

// No exception may reach the C caller: memory exhausted inside poppler, or
// anything else it throws, makes the PDF unreadable.
VTQ_PDF_API uint32_t VtqPdf_Text(const unsigned char *data, size_t len, VtqPdfPage page,
                                 void *user) {
    if (data == nullptr || page == nullptr) return VTQ_PDF_DAMAGED;
    try {
        return pdf_text(data, len, page, user);
    } catch (...) {
        return VTQ_PDF_DAMAGED;
    }
}
