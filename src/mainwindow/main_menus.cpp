#include "mainwindow/main_menus.h"

#include <QMainWindow>
#include <QMenuBar>
#include <QPixmap>

#include "app/text_table.h"
#include "mainwindow/skin_layout.h"

namespace {

using Command = std::function<void(int)>;

// An item of `menu`; -1 stands for a separator.
struct Item {
    int id;
    TextId text;
};
constexpr int kSeparator = -1;
constexpr Item kSeparatorItem{kSeparator, TextId::MenuFile};

void AddItems(QMenu& menu, std::initializer_list<Item> items, const Command& onCommand) {
    for (const Item& item : items) {
        if (item.id == kSeparator) {
            menu.addSeparator();
            continue;
        }
        if (item.id == menucommand::kCalibrationMenu) {
            // Filled with the device's calibrations each time it opens.
            QMenu* sub = menu.addMenu(LocalizedText(item.text));
            sub->setObjectName(QStringLiteral("calibrationMenu"));
            sub->menuAction()->setData(item.id);
            continue;
        }
        QAction* action = menu.addAction(LocalizedText(item.text));
        action->setData(item.id);
        action->setObjectName(QStringLiteral("command%1").arg(item.id));
        const int id = item.id;
        QObject::connect(action, &QAction::triggered, &menu, [onCommand, id] {
            if (onCommand) {
                onCommand(id);
            }
        });
    }
}

std::unique_ptr<QMenu> Popup(const char* name, std::initializer_list<Item> items,
                             const Command& onCommand) {
    auto menu = std::make_unique<QMenu>();
    menu->setObjectName(QString::fromLatin1(name));
    AddItems(*menu, items, onCommand);
    return menu;
}

}  // namespace

MainMenus BuildMainMenus(QMainWindow& window, const SkinImageLoader& loader,
                         const Command& onCommand) {
    using namespace menucommand;
    QMenuBar* bar = window.menuBar();
    bar->clear();
    AddItems(*bar->addMenu(LocalizedText(TextId::MenuFile)),
             {{kOpen, TextId::MenuFileOpen},
              kSeparatorItem,
              {kSaveAs, TextId::MenuFileSave},
              {kDelete, TextId::MenuFileDelete},
              {kDeleteAll, TextId::MenuFileDeleteAll},
              kSeparatorItem,
              {kEMail, TextId::MenuFileEMail}},
             onCommand);
    AddItems(*bar->addMenu(LocalizedText(TextId::MenuSetting)),
             {{kDevice, TextId::MenuSettingDevice},
              kSeparatorItem,
              {kCross, TextId::MenuSettingCross},
              {kGrid, TextId::MenuSettingScale},
              {kCircles, TextId::MenuSettingCircle},
              {kClock, TextId::MenuSettingTime},
              kSeparatorItem,
              {kCalibrate, TextId::MenuSettingCalibrate},
              {kScaleBar, TextId::MenuSettingScaleBar},
              {kBurnOverlays, TextId::MenuSettingBurnOverlays}},
             onCommand);
    AddItems(*bar->addMenu(LocalizedText(TextId::MenuCapture)),
             {{kTakePicture, TextId::MenuCaptureTakePicture},
              {kTakeVideo, TextId::MenuCaptureTakeVideo},
              kSeparatorItem,
              {kTimeLapse, TextId::MenuCaptureTimeLapse}},
             onCommand);
    AddItems(*bar->addMenu(LocalizedText(TextId::MenuHelp)),
             {{kManual, TextId::MenuHelpManual},
              {kUpdate, TextId::MenuHelpUpdate},
              {kAbout, TextId::MenuHelpAbout}},
             onCommand);

    MainMenus menus;
    menus.settingsPopup = Popup("settingsPopup",
                                {{kCompress, TextId::PopupSettingsCompress},
                                 {kVideoColor, TextId::PopupSettingsVideoColor},
                                 {kVideoFormat, TextId::PopupSettingsVideoFormat}},
                                onCommand);
    menus.filePopup = Popup("filePopup",
                            {{kPopupOpen, TextId::PopupFileOpen},
                             {kPopupSave, TextId::PopupFileSave},
                             {kPopupDelete, TextId::PopupFileDelete},
                             {kPopupDeleteAll, TextId::PopupFileDeleteAll},
                             kSeparatorItem,
                             {kEMail, TextId::PopupFileEMail}},
                            onCommand);
    menus.helpPopup = Popup("helpPopup",
                            {{kManual, TextId::PopupHelpManual},
                             {kUpdate, TextId::PopupHelpUpdate},
                             {kAbout, TextId::PopupHelpAbout}},
                            onCommand);
    menus.displayPopup = Popup("displayPopup",
                               {{kPopupCross, TextId::PopupDisplayCross},
                                {kGrid, TextId::PopupDisplayScale},
                                {kCircles, TextId::PopupDisplayCircle},
                                {kClock, TextId::PopupDisplayTime},
                                kSeparatorItem,
                                {kMeasure, TextId::PopupDisplayMeasure},
                                {kCalibrate, TextId::PopupDisplayCalibrate},
                                {kCalibrationMenu, TextId::PopupDisplayCalibration},
                                {kScaleBar, TextId::PopupDisplayScaleBar}},
                               onCommand);
    // Each overlay item shows its image; the menus carry no check marks.
    const int images[] = {skinimage::kMenuCross, skinimage::kMenuGrid, skinimage::kMenuCircles,
                          skinimage::kMenuClock};
    const QList<QAction*> overlayItems = menus.displayPopup->actions();
    for (int i = 0; i < 4 && i < overlayItems.size(); ++i) {
        const QImage image = loader ? loader(images[i]) : QImage();
        if (!image.isNull()) {
            overlayItems[i]->setIcon(QIcon(QPixmap::fromImage(image)));
        }
    }
    return menus;
}

QAction* FindCommand(const QWidget& menu, int id) {
    for (QAction* action : menu.actions()) {
        if (action->data().toInt() == id && !action->isSeparator()) {
            return action;
        }
        if (QMenu* sub = action->menu()) {
            if (QAction* found = FindCommand(*sub, id)) {
                return found;
            }
        }
    }
    return nullptr;
}
