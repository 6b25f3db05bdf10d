# The Debian package, made by cpack from what `cmake --install` installs (scripts/package
# configures a build for it and runs cpack).
#
# The package installs under the prefix the build was configured with, since the programs
# look for their language files and manual there: configure with
# -DCMAKE_INSTALL_PREFIX=/usr for a package.

set(DIGITAL_MICROSCOPE_MAINTAINER "The Digital Microscope developers <maintainers@digital-microscope.invalid>"
    CACHE STRING "The Maintainer field of the Debian package: name <e-mail address>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME digital-microscope)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Digital Microscope developers")
set(CPACK_PACKAGE_CONTACT "${DIGITAL_MICROSCOPE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "capture program for USB digital microscopes")
# Lines of the long description; an empty line starts a new paragraph.
set(CPACK_PACKAGE_DESCRIPTION [=[
Digital Microscope shows the live picture of a USB digital microscope and keeps
what is seen: still pictures, AVI recordings and time-lapse series, stored in
the documents folder and listed in the window for viewing, playing back,
mailing or deleting. Measuring overlays (centre cross, scales, circles, clock)
are drawn over the picture; the video settings choose the device, video norm,
resolution and picture properties. The texts come in 21 languages.

The command digital-microscope-cli takes stills and recordings, sets the
picture properties and converts stills to JPEG without a window, for scripts
and timers. Both programs can use a simulated microscope.]=])

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${DIGITAL_MICROSCOPE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
if(NOT DIGITAL_MICROSCOPE_HOMEPAGE STREQUAL "")
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${DIGITAL_MICROSCOPE_HOMEPAGE}")
endif()

# The libraries the programs link to are found by dpkg-shlibdeps. What they load by name
# at run time it cannot see:
# - the GStreamer elements they make: v4l2src, jpegdec, wavparse and autoaudiosink
#   (plugins-good); appsrc, appsink, videoconvert, videoscale, playbin, giostreamsrc,
#   audioconvert and audioresample (plugins-base); capsfilter and queue come with
#   GStreamer itself. Recordings are played back through playbin, which needs avidemux
#   (plugins-good) and the decoders of the recording codecs (avdec_msvideo1, avdec_ffv1,
#   avdec_huffyuv, avdec_mpeg4, avdec_h264: gstreamer1.0-libav);
# - Qt's platform plugin for X11 (xcb), in qt6-qpa-plugins.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-libav, qt6-qpa-plugins")
# Mail hand-off and Help through xdg-email and xdg-open; the Chinese, Japanese and Korean
# texts need the Noto CJK fonts; sounds on plain ALSA need its GStreamer plugin; Qt's own
# dialogs follow the program's language with Qt's translations.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "xdg-utils, fonts-noto-cjk, gstreamer1.0-alsa, qt6-translations-l10n")
# A native window on Wayland (without it, Qt uses XWayland).
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-wayland")

# Debian wants the copyright notice and a changelog in the package's documentation folder;
# they go into the package only, not into a plain `cmake --install`. cpack runs
# PackageStaging.cmake on the staged files before it makes the package: it adds them, and
# takes the compiler's .comment section out of the stripped programs, as Debian's own
# packages have it; and it registers the manual with doc-base.
set(DM_PACKAGE_DOC_DIR ${CMAKE_BINARY_DIR}/package-doc)
file(CONFIGURE OUTPUT ${DM_PACKAGE_DOC_DIR}/copyright CONTENT [=[
digital-microscope

Copyright (C) 2026 The Digital Microscope developers
]=])
# The date of the release in the AppStream data.
set(DM_RELEASE_DATE "Tue, 08 Dec 2026 12:00:00 +0000")
file(CONFIGURE OUTPUT ${DM_PACKAGE_DOC_DIR}/changelog @ONLY CONTENT [=[
digital-microscope (@PROJECT_VERSION@) unstable; urgency=medium

  * Release @PROJECT_VERSION@.

 -- @DIGITAL_MICROSCOPE_MAINTAINER@  @DM_RELEASE_DATE@
]=])
file(CONFIGURE OUTPUT ${DM_PACKAGE_DOC_DIR}/doc-base @ONLY CONTENT [=[
Document: digital-microscope-manual
Title: Digital Microscope manual
Author: The Digital Microscope developers
Abstract: How to use Digital Microscope: the live picture, stills, recordings,
 time-lapse series, measuring overlays, the picture browser and the settings.
Section: Graphics

Format: HTML
Index: @CMAKE_INSTALL_FULL_DOCDIR@/manual/index.html
Files: @CMAKE_INSTALL_FULL_DOCDIR@/manual/*.html
]=])
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/PackageStaging.cmake @ONLY CONTENT [=[
# Written by cmake/Packaging.cmake, run by cpack on the staged files.
set(doc "${CPACK_TEMPORARY_DIRECTORY}@CMAKE_INSTALL_FULL_DOCDIR@")
file(MAKE_DIRECTORY "${doc}")
file(COPY_FILE "@DM_PACKAGE_DOC_DIR@/copyright" "${doc}/copyright")
execute_process(COMMAND gzip -9 -n -c "@DM_PACKAGE_DOC_DIR@/changelog"
                OUTPUT_FILE "${doc}/changelog.gz" COMMAND_ERROR_IS_FATAL ANY)
file(CHMOD "${doc}/copyright" "${doc}/changelog.gz"
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# The manual, registered with doc-base.
if(EXISTS "${doc}/manual/index.html")
  file(MAKE_DIRECTORY "${CPACK_TEMPORARY_DIRECTORY}/usr/share/doc-base")
  file(COPY_FILE "@DM_PACKAGE_DOC_DIR@/doc-base" "${CPACK_TEMPORARY_DIRECTORY}/usr/share/doc-base/digital-microscope-manual")
endif()
foreach(program IN ITEMS digital-microscope digital-microscope-cli)
  execute_process(COMMAND "@CMAKE_OBJCOPY@" --remove-section=.comment
                          "${CPACK_TEMPORARY_DIRECTORY}@CMAKE_INSTALL_FULL_BINDIR@/${program}"
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
]=])
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_BINARY_DIR}/PackageStaging.cmake)

include(CPack)
