// exports.cpp - the C entry points of libvtq_conf.so.5
//
// Each forwards to its working in vtq::conf (conf.h); none can throw.
#include "host/conf/conf.h"

namespace cv = vtq::conf;

extern "C" {

int cconvInitConvert(ConvState *st, ConvParams *params, const TxtOptions *opts) {
    return cv::init_convert(st, params, opts);
}
int cconvChgCharset(ConvState *st, ConvSource *src, const char *charset) {
    return cv::change_charset(st, src, charset);
}
int cconvConvert(ConvState *st) { return cv::convert(st); }
int cconvTermConvert(ConvState *st) { return cv::term_convert(st); }

} // extern "C"
