#include "imaging/jpeg/jpegerror.h"

namespace tovalin {

namespace {

JpegErrors &errorsOf(j_common_ptr cinfo) { return *reinterpret_cast<JpegErrors *>(cinfo->err); }

void onError(j_common_ptr cinfo) { std::longjmp(errorsOf(cinfo).jump, 1); }

// Level -1 is a warning; the others are trace messages.
void onMessage(j_common_ptr cinfo, int level)
{
    JpegErrors &errors = errorsOf(cinfo);
    if (level == -1 && errors.warned)
        errors.warned(errors);
}

void onOutput(j_common_ptr) {} // nothing goes to standard error

} // namespace

jpeg_error_mgr *useJpegErrors(JpegErrors &errors)
{
    jpeg_std_error(&errors.pub);
    errors.pub.error_exit = onError;
    errors.pub.emit_message = onMessage;
    errors.pub.output_message = onOutput;
    return &errors.pub;
}

} // namespace tovalin
