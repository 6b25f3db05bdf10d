#include "cli/usage.h"

namespace {

constexpr const char* kProgramUsage =
    "Usage: digital-microscope-cli [--simulate[=KIND]] COMMAND [ARGUMENT]...\n"
    "Takes stills and recordings from a USB digital microscope without a window, sets its\n"
    "picture properties and video norm, and converts stills.\n"
    "\n"
    "Commands:\n"
    "  list                          list the video devices; * marks the one used\n"
    "  snap [--count N] [--interval SECONDS] [--start TIME] [--format FORMAT]\n"
    "                                take stills and print the path of each\n"
    "  resolution WIDTHxHEIGHT       set the frame size the microscope delivers\n"
    "  record [--seconds N] [--fps F] [--codec NAME] [--quality Q]\n"
    "                                record an AVI file and print its path\n"
    "  properties [NAME=VALUE]...    show or set brightness, contrast, saturation,\n"
    "                                sharpness, gamma and hue\n"
    "  norm [ntsc|pal]               show or set the analog microscope's video norm\n"
    "  to-jpeg INPUT.bmp OUTPUT.jpg  convert a bitmap file to a JPEG file\n"
    "\n"
    "Options:\n"
    "      --simulate[=KIND]  use a simulated device instead of the system's devices;\n"
    "                         KIND is microscope (the default) or camera\n"
    "  -h, --help             show this help and exit; after a command, show that\n"
    "                         command's help\n"
    "      --version          show the version and exit\n"
    "\n"
    "DIGITAL_MICROSCOPE_SIMULATE=microscope|camera has the effect of --simulate.\n"
    "\n"
    "Exit status: 0 success, 1 wrong usage, 2 no supported device (or it delivers no\n"
    "picture), 3 a file could not be read or written (standard output included),\n"
    "128+N stopped by signal N (a recording stopped by a signal is kept and exits\n"
    "with 0).\n";

constexpr const char* kListUsage =
    "Usage: digital-microscope-cli [--simulate[=KIND]] list\n"
    "Lists the video devices, one a line, separated by tabs: the index, the name, the\n"
    "microscope kind (0 or 1, '-' for other devices) and '*' on the device the program\n"
    "uses. Exits with 2 when none of them is a supported microscope.\n";

constexpr const char* kSnapUsage =
    "Usage: digital-microscope-cli [--simulate[=KIND]] snap [--count N] [--interval SECONDS]\n"
    "                              [--start TIME] [--format FORMAT]\n"
    "Takes N stills (1 unless told) as the Camera button does, into\n"
    "\"<Documents>/Microscope files/Picture\" as StillCap<n>.bmp (the first free numbers),\n"
    "and prints the full path of each as soon as it is written.\n"
    "\n"
    "  --count N             the number of stills\n"
    "  --interval SECONDS    time from one still to the next (fractions allowed); 0 (the\n"
    "                        default) takes each on the next new frame\n"
    "  --start TIME          the first still at this local time, \"YYYY-MM-DD HH:MM:SS\"\n"
    "  --format FORMAT       bmp (the default), png or tiff: StillCap<n>.png or .tif,\n"
    "                        lossless, recording the microscope's name and the time\n"
    "\n"
    "A device that delivers no picture within a few seconds is an error (exit status 2);\n"
    "a picture folder that cannot be made or written into, or a still that cannot be\n"
    "written, is exit status 3; a still that cannot be written leaves no file.\n";

constexpr const char* kResolutionUsage =
    "Usage: digital-microscope-cli [--simulate[=KIND]] resolution WIDTHxHEIGHT\n"
    "Sets the frame size of the microscope, as the settings dialog does: the choice is\n"
    "kept in CapConfig.dat for the next start of either program. Prints the size of the\n"
    "frames the device then delivers. The sizes are those the settings offer: 320x240,\n"
    "640x480, and 720x480 and 720x576 for the analog microscope or 1280x1024 for the\n"
    "camera kind. Another size, or one the device refuses, exits with 1 and the size\n"
    "kept before stays.\n";

constexpr const char* kRecordUsage =
    "Usage: digital-microscope-cli [--simulate[=KIND]] record [--seconds N] [--fps F]\n"
    "                              [--codec NAME] [--quality Q]\n"
    "Records the microscope's picture for N seconds, as the AVI button does, into\n"
    "\"<Documents>/Microscope files/Video\" as VCap<nnnn>.avi (the first free number).\n"
    "Prints the file's full path on the first line, then how many frames were\n"
    "written and dropped, as \"frames written: N, dropped: M\".\n"
    "\n"
    "  --seconds N    how long to record, 1 to 99999 (default 10)\n"
    "  --fps F        the frame rate asked of the microscope and declared in the\n"
    "                 file, 1 to 30 (default 15)\n"
    "  --codec NAME   msvc (Microsoft Video 1, the default), mjpg, dib\n"
    "                 (uncompressed), ffv1, hfyu (both lossless), fmp4 (MPEG-4) or\n"
    "                 h264 (where this system's FFmpeg has an encoder for it)\n"
    "  --quality Q    1 (smallest file) to 100 (best picture), for mjpg and fmp4;\n"
    "                 the codec's own quality unless given\n"
    "\n"
    "Ctrl+C (SIGINT), SIGTERM or SIGHUP end the recording early: the file is closed\n"
    "so that it plays, and the exit status is 0. A device that delivers no picture\n"
    "for a few seconds or is unplugged ends the recording with exit status 2, a\n"
    "recording that cannot be written with 3; the path and the counts are printed\n"
    "all the same. A codec this system lacks, or one that does not take the frame\n"
    "size, exits with 1.\n";

constexpr const char* kPropertiesUsage =
    "Usage: digital-microscope-cli [--simulate[=KIND]] properties [NAME=VALUE]...\n"
    "Shows or sets the microscope's picture properties, as the video settings dialog\n"
    "does, without starting its picture. The device keeps them until it is unplugged.\n"
    "\n"
    "Without arguments, prints a header line and one line for each property the device\n"
    "offers (those it lacks are left out), separated by tabs:\n"
    "  name        brightness, contrast, saturation, sharpness, gamma or hue\n"
    "  minimum, maximum, default\n"
    "              the device's range for it\n"
    "  value       the value it holds now\n"
    "\n"
    "With arguments, such as brightness=10 contrast=40 (names in any case), sets each\n"
    "and prints the same lines for those properties, with the value the device holds\n"
    "afterwards. An unknown name, a property the device lacks or a value outside its\n"
    "range exits with 1 and sets nothing. A value the device refuses is reported with\n"
    "the value it holds, and exits with 1 once the others are set.\n";

constexpr const char* kNormUsage =
    "Usage: digital-microscope-cli [--simulate[=KIND]] norm [ntsc|pal]\n"
    "Shows or sets the video norm of the analog microscope, as the video settings dialog\n"
    "does: ntsc (NTSC M) or pal (PAL B). Prints the norm in force afterwards, as ntsc,\n"
    "pal, or the number of another one (0x...). The camera kind has no norm: asking it\n"
    "exits with 1, as does a norm the device refuses.\n";

constexpr const char* kToJpegUsage =
    "Usage: digital-microscope-cli to-jpeg INPUT.bmp OUTPUT.jpg\n"
    "Converts a bitmap file to a JPEG file of quality 100. OUTPUT.jpg appears only when it\n"
    "was written whole; a file that cannot be read or written exits with 3.\n";

}  // namespace

const char* UsageText(Command command) {
    switch (command) {
        case Command::List:
            return kListUsage;
        case Command::Snap:
            return kSnapUsage;
        case Command::Resolution:
            return kResolutionUsage;
        case Command::Record:
            return kRecordUsage;
        case Command::ToJpeg:
            return kToJpegUsage;
        case Command::Properties:
            return kPropertiesUsage;
        case Command::Norm:
            return kNormUsage;
        case Command::None:
            break;
    }
    return kProgramUsage;
}
