/* vtq_pdf.h - the interface of libvtq_pdf.so.5, the stand-in host's PDF plug-in
 *
 * The per-member text extraction (libvtq_txif) loads this library with
 * dlopen the first time a member is a PDF, and finds its two functions by
 * name; when it is not installed, PDF members have no text filter.  The
 * plug-in is built on poppler (GPL version 2 or 3) and is therefore
 * distributed under the GNU GPL: its own source version 2 or later
 * (host/pdf/COPYING), the built library as poppler allows.  Nothing else in
 * the project links it, so the rest keeps its own licence.  Plain C.
 */
#ifndef VTQ_PDF_H
#define VTQ_PDF_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The interface version; VtqPdf_Abi returns it.  A loader that meets
 * another version does not use the library. */
#define VTQ_PDF_ABI 1u

/* Results of VtqPdf_Text. */
#define VTQ_PDF_OK 0u        /* every page given, or the caller said stop */
#define VTQ_PDF_ENCRYPTED 1u /* it needs a password to be opened */
#define VTQ_PDF_DAMAGED 2u   /* it cannot be read as a PDF */
#define VTQ_PDF_TOO_LARGE 3u /* 2 GiB or more: more than the library reads */

/* Takes one page's text, UTF-8, without a line break at its end; returns
 * nonzero to go on, 0 to stop before the next page. */
typedef int (*VtqPdfPage)(void *user, const char *utf8, size_t len);

typedef uint32_t (*VtqPdfAbiFn)(void);
typedef uint32_t (*VtqPdfTextFn)(const unsigned char *data, size_t len, VtqPdfPage page,
                                 void *user);

/* VTQ_PDF_ABI. */
uint32_t VtqPdf_Abi(void);

/* The text of the PDF in data[0..len), page by page in page order, each
 * page's text in reading order (columns one after the other, hyphenated
 * words at line ends joined), to page.  Nothing is written anywhere else
 * (the library's own messages are silenced).  Safe to call from several
 * threads at once, on different data. */
uint32_t VtqPdf_Text(const unsigned char *data, size_t len, VtqPdfPage page, void *user);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* VTQ_PDF_H */
