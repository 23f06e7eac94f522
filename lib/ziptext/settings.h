// settings.h - a caller's zt_options, checked, and the records the filter takes
#pragma once

#include <cstdint>
#include <string>

#include "vtq/types.h"
#include "ziptext.h"

namespace ziptext {

// What zt_options asks for, every name resolved.
struct Settings {
    bool strict = false;
    bool stop_on_error = false;
    bool no_labels = false;
    bool log = false;
    bool size_limit = false;
    bool failed_only = false; // ZT_FAILED_ONLY
    uint32_t max_size = 0;
    uint32_t eol_flag = VTQ_FMT_EOL_LF;
    uint32_t out_code = 0;
    std::string charset;      // for TxtOptions.Charset
    std::string name_charset; // for VtqExtension.NameCharset (extended mode)
    std::string language;     // for TxtOptions.Language
    const unsigned char *password = nullptr;
    uint32_t password_len = 0;
    const char *archive_name = nullptr;
    zt_member_fn on_member = nullptr;
    zt_progress_fn on_progress = nullptr;
    void *user = nullptr;
};

// Reads opts (null: the defaults; fields past opts->size as zero).  False
// with a one-line reason when a field cannot be used: a size below 8, a
// name that is not NUL-terminated in its field or not known, a size limit
// above 4294967295, an end-of-line mode or flag bit that does not exist, a
// password in strict mode.
bool read_settings(const zt_options *opts, Settings *out, std::string *why);

// The filter's options record for s: ModeFlags gets VTQ_MODE_ENABLED,
// KeepGoing unless stop_on_error, NoLabels, VTQ_MODE_EXTENDED unless strict,
// and the extra bits in mode; Extension stays null.
TxtOptions txt_options(const Settings &s, uint32_t mode);

// The language a locale name ("ja_JP.UTF-8") stands for: Japanese, Korean,
// Simplified Chinese (zh_CN, zh_SG), Traditional Chinese (zh_TW, zh_HK),
// Russian (ru), else English.
const char *language_of_locale(const char *locale);

} // namespace ziptext
