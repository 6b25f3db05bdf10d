#pragma once

// The main window's modes. The controller (CMicroscopeDlg) owns the mode and changes it; the
// skin draws it.
enum class WindowMode {
    Live,       // the live picture; Preview on
    Recording,  // a recording runs; AVI on
    Browse,     // the file list's pictures and videos; Preview and AVI off
    NoDevice,   // as Browse, with the capture buttons disabled and the connect text shown
};

// Live and Recording capture; in the others Camera and Clock only explain that they do not.
constexpr bool IsCapturing(WindowMode mode) {
    return mode == WindowMode::Live || mode == WindowMode::Recording;
}
