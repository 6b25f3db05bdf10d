#include "skin/bitmap_button.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

namespace {

constexpr QRgb kNormal = 0xFF203040u;
constexpr QRgb kSecond = 0xFF40A0F0u;
constexpr QRgb kFocus = 0xFFF0F040u;
constexpr QRgb kDisabled = 0xFF808080u;

QImage Face(int id) {
    const QRgb colours[] = {kNormal, kSecond, kFocus, kDisabled};
    if (id < 1 || id > 4) {
        return {};
    }
    QImage image(30, 26, QImage::Format_RGB32);
    image.fill(colours[id - 1]);
    return image;
}

QRgb Shown(QWidget& button) {
    return button.grab().toImage().convertToFormat(QImage::Format_RGB32).pixel(15, 13);
}

class BitmapButtonTest : public ::testing::Test {
protected:
    BitmapButtonTest() {
        window.resize(200, 100);
        window.show();
    }
    QWidget window;
};

TEST_F(BitmapButtonTest, APlainButtonTakesItsNormalFaceSizeAndShowsItsSecondWhilePressed) {
    CBitmapButton button(nullptr, Face);
    EXPECT_FALSE(button.LoadButtonBitmaps(1005, nullptr, 1, 2, 0));
    ASSERT_TRUE(button.LoadButtonBitmaps(1005, &window, 1, 2, 0));
    EXPECT_EQ(button.parentWidget(), &window);
    EXPECT_EQ(button.controlId(), 1005);
    EXPECT_EQ(button.size(), QSize(30, 26));
    EXPECT_EQ(Shown(button), kNormal);
    button.setDown(true);
    EXPECT_EQ(Shown(button), kSecond);
    button.setDown(false);
    // Without a disabled face a disabled button keeps its normal face.
    button.setEnabled(false);
    EXPECT_EQ(Shown(button), kNormal);

    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    button.setEnabled(true);
    button.show();
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);
}

TEST_F(BitmapButtonTest, AToggleButtonShowsTheStateTheProgramSetWhateverTheMouseDoes) {
    CToggleBitmapButton button(nullptr, Face);
    ASSERT_TRUE(button.LoadButtonBitmaps(1014, &window, 1, 2, 0));
    button.show();
    EXPECT_EQ(button.IsOn(), 0);
    EXPECT_EQ(Shown(button), kNormal);
    button.setDown(true);
    EXPECT_EQ(Shown(button), kNormal);
    button.setDown(false);

    button.SetOn();
    button.SetOn();
    EXPECT_EQ(button.IsOn(), 1);
    EXPECT_EQ(Shown(button), kSecond);
    button.setDown(true);
    EXPECT_EQ(Shown(button), kSecond);
    button.setDown(false);

    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_EQ(button.IsOn(), 1);
    button.SetOff();
    EXPECT_EQ(Shown(button), kNormal);
}

TEST_F(BitmapButtonTest, DisabledAndFocusFacesComeFirstWhereTheyExist) {
    CToggleBitmapButton button(nullptr, Face);
    ASSERT_TRUE(button.LoadButtonBitmaps(1006, &window, 1, 2, 3, 4));
    button.show();
    button.SetOn();
    button.setEnabled(false);
    EXPECT_EQ(Shown(button), kDisabled);
    button.setEnabled(true);
    window.activateWindow();
    button.setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return button.hasFocus(); }));
    EXPECT_EQ(Shown(button), kFocus);
    button.clearFocus();
    EXPECT_EQ(Shown(button), kSecond);

    // An id of 0 leaves the slot empty; the button falls back to its normal or on face.
    CToggleBitmapButton plain(nullptr, Face);
    ASSERT_TRUE(plain.LoadButtonBitmaps(1024, &window, 1, 0, 0, 0));
    plain.SetOn();
    plain.setEnabled(false);
    EXPECT_EQ(Shown(plain), kNormal);
}

}  // namespace
