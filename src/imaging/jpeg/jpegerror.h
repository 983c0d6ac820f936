#pragma once
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace tovalin {

// How every libjpeg caller here meets libjpeg's errors: an error jumps back
// to the caller's setjmp(errors.jump) instead of libjpeg's exit(), and no
// message is printed. A caller that judges warnings sets `warned`, which
// may jump too.
struct JpegErrors {
    jpeg_error_mgr pub{}; // first: libjpeg's cinfo->err points here
    std::jmp_buf jump;
    void (*warned)(JpegErrors &errors) = nullptr;
};

// Sets `errors` up; the result goes into cinfo.err before jpeg_create_*.
jpeg_error_mgr *useJpegErrors(JpegErrors &errors);

} // namespace tovalin
