// filter_api.h - the ZIP filter's functions that ziptext calls
//
// ziptext is a host: it loads libvtq_zozaz.so.5 at run time and looks its
// entry points up by name, as any host finds a filter.
#pragma once

#include <string>

#include "host/txif/filter_loader.h"
#include "vtq/zozaz.h"

namespace ziptext {

struct FilterApi {
    vtq::txif::FilterLibrary library;
    decltype(&GetTextWithErrCallback) get_text = nullptr;
    decltype(&GetTextStreamWithErrCallback) get_text_stream = nullptr;
    decltype(&VtqZip_FormatChk) format_chk = nullptr;
    decltype(&VtqZip_GetCurrentFileInfo) current_file_info = nullptr;

    // Looks every function up; false with the loader's message when the
    // library or one of the names is missing.
    bool load(std::string *error) {
        if (!library) {
            *error = library.error();
            return false;
        }
        get_text = library.find<decltype(GetTextWithErrCallback)>("GetTextWithErrCallback");
        get_text_stream =
            library.find<decltype(GetTextStreamWithErrCallback)>("GetTextStreamWithErrCallback");
        format_chk = library.find<decltype(VtqZip_FormatChk)>("VtqZip_FormatChk");
        current_file_info =
            library.find<decltype(VtqZip_GetCurrentFileInfo)>("VtqZip_GetCurrentFileInfo");
        if (!get_text || !get_text_stream || !format_chk || !current_file_info) {
            *error = library.error();
            return false;
        }
        return true;
    }
};

} // namespace ziptext
