// doc_xml.h - libxml2's streaming reader, set up the one way every parser here uses it
//
// Documents come from strangers.  The reader is opened with no network
// access and without loading DTDs or substituting entities (external
// entities are never fetched; internal ones stay references, so an entity
// that expands a billion times costs nothing), without the "huge" option
// (libxml2's limits on depth and on the size of one text node hold), and
// without writing errors anywhere.
#pragma once

#include <libxml/xmlreader.h>

#include <string>
#include <string_view>

namespace vtq::txif {

// Makes libxml2 ready for use from several threads; cheap after the first
// call.
void xml_library_init();

class XmlReader {
public:
    // Reads doc; encoding null: as the document declares it (UTF-8 without
    // a declaration); else that encoding, and the declaration is ignored.
    explicit XmlReader(std::string_view doc, const char *encoding = nullptr);
    XmlReader(const XmlReader &) = delete;
    XmlReader &operator=(const XmlReader &) = delete;
    ~XmlReader();

    // Moves to the next node; false at the end of the document or at an
    // error (failed() tells which).
    bool next();
    // Passes over the current element and its content: the next call to
    // next() gives the node after the element's end.
    void skip();
    bool failed() const { return failed_; }

    int type() const; // XML_READER_TYPE_*
    std::string_view local_name() const;
    bool empty_element() const;     // <x/>: no end element follows
    std::string_view value() const; // a text node's characters
    // The current element's attribute with this local name: with
    // namespaced, one that has a namespace (r:id, table:style-name), else
    // one without ("Id", "Target"); empty when there is none.
    std::string attribute(std::string_view local, bool namespaced) const;

private:
    xmlTextReaderPtr reader_ = nullptr;
    bool failed_ = false;
    bool held_ = false; // skip() already moved to the node next() gives
};

} // namespace vtq::txif
