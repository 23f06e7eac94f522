// doc_pdf.cpp - PDF members through the libvtq_pdf plug-in, when it is installed
//
// The plug-in is loaded once per process, the first time a PDF is met, and
// stays loaded: poppler's start-up (fonts, character maps) is paid once,
// not for every member.  It is found by soname beside the host libraries,
// as the filter is (filter_loader.h).
#include "host/pdf/vtq_pdf.h"
#include "host/txif/documents.h"
#include "host/txif/filter_loader.h"

namespace vtq::txif {

namespace {

inline constexpr const char *kPdfSoname = "libvtq_pdf.so.5";

// The plug-in's text function, or null when it is missing or of another
// interface version.
VtqPdfTextFn pdf_plugin() {
    static FilterLibrary library(kPdfSoname);
    static const VtqPdfTextFn text = [] {
        auto *abi = library.find<uint32_t()>("VtqPdf_Abi");
        if (abi == nullptr || abi() != VTQ_PDF_ABI) return VtqPdfTextFn{};
        return reinterpret_cast<VtqPdfTextFn>(
            library.find<uint32_t(const unsigned char *, size_t, VtqPdfPage, void *)>(
                "VtqPdf_Text"));
    }();
    return text;
}

int on_page(void *user, const char *utf8, size_t len) {
    auto &out = *static_cast<TextBuilder *>(user);
    out.text({utf8, len});
    out.end_line();
    return out.stopped() ? 0 : 1;
}

} // namespace

DocResult pdf_text(std::span<const unsigned char> bytes, TextBuilder &out) {
    const VtqPdfTextFn text = pdf_plugin();
    if (text == nullptr) return doc_failed("no text filter for pdf");
    switch (text(bytes.data(), bytes.size(), on_page, &out)) {
    case VTQ_PDF_OK:
        return {};
    case VTQ_PDF_ENCRYPTED:
        return doc_failed("encrypted PDF");
    case VTQ_PDF_TOO_LARGE:
        return doc_failed("PDF of 2 GiB or more");
    default:
        return doc_failed("damaged PDF");
    }
}

} // namespace vtq::txif
