#include "mainwindow/microscope_dlg.h"

#include <QCloseEvent>

#include "app/debug_trace.h"
#include "app/text_table.h"

CMicroscopeDlg::CMicroscopeDlg(StartupEnvironment environment, QWidget* parent)
    : QMainWindow(parent), environment_(std::move(environment)) {
    clientArea_ = new QWidget(this);
    clientArea_->setObjectName(QStringLiteral("clientArea"));
    clientArea_->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(clientArea_);
}

CMicroscopeDlg::~CMicroscopeDlg() = default;

bool CMicroscopeDlg::OnInitDialog() {
    // Program folder, language file and manual, storage tree: in this order.
    paths_ = FixProgramPaths(environment_);

    messageTitle_ = LocalizedText(TextId::MsgTitle);
    setWindowTitle(messageTitle_);

    RemoveLeftoverProbe(paths_.videoFolder);
    return true;
}

void CMicroscopeDlg::closeEvent(QCloseEvent* event) {
    DebugTrace(0, "Main window closing\n");
    event->accept();
}
