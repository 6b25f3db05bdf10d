#include "skin_writer.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QStringList>
#include <array>
#include <cstdio>
#include <functional>

#include "button_faces.h"
#include "microscope.h"
#include "paint_kit.h"
#include "panels.h"
#include "skin_layout.h"
#include "sounds.h"

namespace skinart {
namespace {

constexpr std::array kIconSizesPx{16, 32, 48, 64, 128, 256};

// Everything written so far, as the paths skin.qrc lists.
class Output {
public:
    explicit Output(const QString& folder) : root_(folder) {}

    bool MakeFolders() {
        for (const char* name : {"skin", "sounds", "icons"}) {
            if (!root_.mkpath(QLatin1String(name))) {
                std::fprintf(stderr, "skin_art: cannot make %s/%s\n", qPrintable(root_.path()),
                             name);
                return false;
            }
        }
        return true;
    }

    bool Picture(int id, const QImage& image, PngDepth depth) {
        return Png(QStringLiteral("skin/%1.png").arg(id), image, depth);
    }

    bool Png(const QString& relative, const QImage& image, PngDepth depth) {
        written_ << relative;
        return SavePng(image, root_.filePath(relative), depth);
    }

    bool Sound(int id, const std::vector<std::int16_t>& samples) {
        const QString relative = QStringLiteral("sounds/%1.wav").arg(id);
        written_ << relative;
        return WriteWav(samples, root_.filePath(relative));
    }

    bool ResourceList() const;

private:
    QDir root_;
    QStringList written_;
};

// Each file under a prefix named after its folder, so it loads as ":/skin/140.png".
bool Output::ResourceList() const {
    QStringList sorted = written_;
    sorted.sort();
    QByteArray text("<!-- Written by tools/skin_art; regenerate instead of editing. -->\n<RCC>\n");
    QString prefix;
    for (const QString& relative : sorted) {
        const QString folder = relative.section(QLatin1Char('/'), 0, 0);
        if (folder != prefix) {
            text.append(prefix.isEmpty() ? "" : "  </qresource>\n");
            text.append(QStringLiteral("  <qresource prefix=\"/%1\">\n").arg(folder).toUtf8());
            prefix = folder;
        }
        const QString alias = relative.section(QLatin1Char('/'), 1);
        text.append(
            QStringLiteral("    <file alias=\"%1\">%2</file>\n").arg(alias, relative).toUtf8());
    }
    text.append("  </qresource>\n</RCC>\n");
    QFile file(root_.filePath(QStringLiteral("skin.qrc")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size() ||
        !file.flush()) {
        std::fprintf(stderr, "skin_art: cannot write skin.qrc\n");
        return false;
    }
    return true;
}

// Both faces of every button, and the disabled face of those the window disables.
bool WriteButtons(Output& out, const QImage& background) {
    for (const ButtonArt& art : Buttons()) {
        const PngDepth depth = PngDepth::Rgb24;
        if (!out.Picture(art.place.normalFace, DrawButtonFace(art, Face::First, background),
                         depth) ||
            !out.Picture(art.place.secondFace, DrawButtonFace(art, Face::Second, background),
                         depth)) {
            return false;
        }
        if (art.place.disabledFace != 0 &&
            !out.Picture(art.place.disabledFace, DrawButtonFace(art, Face::Disabled, background),
                         depth)) {
            return false;
        }
    }
    return true;
}

bool WritePanels(Output& out, const QImage& background) {
    using enum PngDepth;
    return out.Picture(140, background, Rgb24) &&
           out.Picture(146, DrawTabs(Category::Videos), Rgb24) &&
           out.Picture(147, DrawTabs(Category::Pictures), Rgb24) &&
           out.Picture(144, DrawPage(Category::Pictures), Rgb24) &&
           out.Picture(148, DrawPage(Category::Videos), Rgb24) &&
           out.Picture(149, DrawCounterPanel(), Rgb24) &&
           out.Picture(139, DrawAboutPicture(), Rgb24) &&
           out.Picture(172, DrawTrack(background, TrackFill::Channel), Rgb24) &&
           out.Picture(173, DrawTrack(background, TrackFill::Active), Rgb24) &&
           out.Picture(174, DrawThumb(ThumbState::Resting), Rgb24) &&
           out.Picture(171, DrawThumb(ThumbState::Dragged), Rgb24) &&
           out.Picture(176, DrawMenuPicture(MenuPicture::Cross), Rgba32) &&
           out.Picture(177, DrawMenuPicture(MenuPicture::Scale), Rgba32) &&
           out.Picture(178, DrawMenuPicture(MenuPicture::Circles), Rgba32) &&
           out.Picture(179, DrawMenuPicture(MenuPicture::Clock), Rgba32);
}

bool WriteIcons(Output& out) {
    for (const int size : kIconSizesPx) {
        if (!out.Png(QStringLiteral("icons/128-%1.png").arg(size), DrawWindowIcon(size),
                     PngDepth::Rgba32)) {
            return false;
        }
    }
    return true;
}

bool WriteSounds(Output& out) {
    return out.Sound(180, SynthesiseRecordTone()) && out.Sound(181, SynthesiseShutter()) &&
           out.Sound(182, SynthesiseChime());
}

}  // namespace

bool WriteSkin(const QString& folder) {
    Output out(folder);
    const QImage background = DrawBackground();
    return out.MakeFolders() && WritePanels(out, background) && WriteButtons(out, background) &&
           WriteIcons(out) && WriteSounds(out) && out.ResourceList();
}

}  // namespace skinart
