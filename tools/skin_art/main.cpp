// skin_art: draws every picture and sound of the skin.
//
//   skin_art [OUTPUT_FOLDER]          writes the files (default: resources)
//   skin_art --preview FILE           the assembled window, to look at
//   skin_art --sheet FILE             every button face, enlarged

#include <QString>
#include <cstdio>
#include <cstring>

#include "preview.h"
#include "skin_writer.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: skin_art [OUTPUT_FOLDER] | --preview FILE | --sheet FILE\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--preview") == 0) {
        return skinart::WriteWindowPreview(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    }
    if (argc == 3 && std::strcmp(argv[1], "--sheet") == 0) {
        return skinart::WriteFaceSheet(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    }
    if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
        return Usage();
    }
    const QString folder =
        argc == 2 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("resources");
    return skinart::WriteSkin(folder) ? 0 : 1;
}
