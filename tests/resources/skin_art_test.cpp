#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>

#include "support/temp_dir.h"

namespace {

const QString kCommitted = QStringLiteral(DM_RESOURCES_DIR);

bool RunSkinArt(const QString& folder) {
    QProcess process;
    process.start(QStringLiteral(DM_SKIN_ART), {folder});
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// Every file skin_art owns, relative to the folder it writes into.
QStringList GeneratedFiles(const QString& root) {
    QStringList files{QStringLiteral("skin.qrc")};
    for (const char* folder : {"skin", "sounds", "icons"}) {
        QDirIterator it(root + QLatin1Char('/') + QLatin1String(folder), QDir::Files);
        while (it.hasNext()) {
            files << QDir(root).relativeFilePath(it.next());
        }
    }
    files.sort();
    return files;
}

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class SkinArtTest : public ::testing::Test {
protected:
    testsupport::TempDir dir_;
    QString first_ = QString::fromStdString(dir_ / "first");
    QString second_ = QString::fromStdString(dir_ / "second");
};

TEST_F(SkinArtTest, TwoRunsWriteTheSameBytes) {
    ASSERT_TRUE(RunSkinArt(first_));
    ASSERT_TRUE(RunSkinArt(second_));
    const QStringList files = GeneratedFiles(first_);
    ASSERT_EQ(files, GeneratedFiles(second_));
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        const QByteArray bytes = Read(first_ + QLatin1Char('/') + file);
        EXPECT_FALSE(bytes.isEmpty());
        EXPECT_EQ(bytes, Read(second_ + QLatin1Char('/') + file));
    }
}

// The committed files must be what the generator draws now: a change to the generator that
// was not followed by a run of it shows up here. Pictures are compared by their pixels, so a
// different zlib cannot make the test fail.
TEST_F(SkinArtTest, CommittedFilesAreWhatTheGeneratorDraws) {
    ASSERT_TRUE(RunSkinArt(first_));
    const QStringList files = GeneratedFiles(first_);
    ASSERT_EQ(files, GeneratedFiles(kCommitted));
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        const QString fresh = first_ + QLatin1Char('/') + file;
        const QString committed = kCommitted + QLatin1Char('/') + file;
        if (file.endsWith(QLatin1String(".png"))) {
            const QImage image(fresh);
            ASSERT_FALSE(image.isNull());
            EXPECT_EQ(image, QImage(committed));
        } else {
            EXPECT_EQ(Read(fresh), Read(committed));
        }
    }
}

}  // namespace
