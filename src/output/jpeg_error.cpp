#include "output/jpeg_error.h"

#include <jerror.h>

#include <cstring>

namespace {

JpegErrorManager* ManagerOf(j_common_ptr cinfo) {
    return reinterpret_cast<JpegErrorManager*>(cinfo->err);
}

[[noreturn]] void ExitWithLibraryMessage(j_common_ptr cinfo) {
    JpegErrorManager* manager = ManagerOf(cinfo);
    (*cinfo->err->format_message)(cinfo, manager->message);
    manager->outOfMemory = cinfo->err->msg_code == JERR_OUT_OF_MEMORY;
    std::longjmp(manager->jump, 1);
}

// Warnings about markers that describe the picture, not its pixels, and about stray bytes
// between markers (some cameras pad their segments), after which every pixel still decodes.
bool IsHarmlessWarning(int code) {
    return code == JWRN_JFIF_MAJOR || code == JWRN_ADOBE_XFORM || code == JWRN_BOGUS_ICC ||
           code == JWRN_EXTRANEOUS_DATA;
}

void CountMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) {
        return;  // trace messages
    }
    ++cinfo->err->num_warnings;
    if (IsHarmlessWarning(cinfo->err->msg_code)) {
        return;
    }
    JpegErrorManager* manager = ManagerOf(cinfo);
    manager->damaged = true;
    if (manager->damageIsFatal) {
        ExitWithLibraryMessage(cinfo);
    }
}

void PrintNothing(j_common_ptr) {}

}  // namespace

jpeg_error_mgr* InstallJpegErrorManager(JpegErrorManager* manager, JpegDamage damage) {
    jpeg_std_error(&manager->pub);
    manager->pub.error_exit = ExitWithLibraryMessage;
    manager->pub.emit_message = CountMessage;
    manager->pub.output_message = PrintNothing;
    manager->damaged = false;
    manager->damageIsFatal = damage == JpegDamage::kFatal;
    manager->outOfMemory = false;
    manager->message[0] = '\0';
    return &manager->pub;
}

void FailJpegCall(j_common_ptr cinfo, const char* message) {
    JpegErrorManager* manager = ManagerOf(cinfo);
    std::strncpy(manager->message, message, sizeof manager->message - 1);
    manager->message[sizeof manager->message - 1] = '\0';
    manager->outOfMemory = false;
    std::longjmp(manager->jump, 1);
}
