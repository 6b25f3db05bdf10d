#pragma once

// The error handling shared by the JPEG encoder and decoder. Only for src/output.
//
// libjpeg reports a fatal error by calling error_exit, which must not return. Ours
// formats the library's message and longjmps back to the setjmp of the function that
// drives the library. Such a function follows these rules: it holds no object with a
// destructor (longjmp skips destructors), keeps the state it changes after setjmp in
// memory reached through a pointer or in volatile locals, and after the jump destroys the
// library object; the caller, which the jump never leaves, closes files and frees buffers.

#include <csetjmp>
#include <cstddef>
#include <cstdio>

// clang-format off: jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>
// clang-format on

struct JpegErrorManager {
    jpeg_error_mgr pub;             // first member: the library sees only this part
    std::jmp_buf jump;              // set by the function that drives the library
    bool damaged;                   // a warning about corrupt or missing picture data
    bool damageIsFatal;             // such a warning ends the call as a fatal error
    bool outOfMemory;               // the fatal error was JERR_OUT_OF_MEMORY
    char message[JMSG_LENGTH_MAX];  // the fatal error's text
};

enum class JpegDamage { kCounted, kFatal };

// Prepares `manager` (nothing is printed, warnings about the picture's data set `damaged`
// and, with JpegDamage::kFatal, end the call like a fatal error) and returns the pointer to
// store in the library object's `err` before creating it.
jpeg_error_mgr* InstallJpegErrorManager(JpegErrorManager* manager, JpegDamage damage);

// From inside a library callback: ends the library call in progress as a fatal error with
// `message`.
[[noreturn]] void FailJpegCall(j_common_ptr cinfo, const char* message);
