#include "mainwindow/mail_send_dialog.h"

#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <utility>

#include "app/text_table.h"
#include "mainwindow/dialog_units.h"

namespace {

constexpr int kWidthUnits = 222;
constexpr int kHeightUnits = 19;
constexpr int kSendDelayMs = 50;

}  // namespace

MailSendDialog::MailSendDialog(const QString& messageTitle, std::string path,
                               MailAttachments& attachments, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      messageTitle_(messageTitle),
      path_(std::move(path)),
      attachments_(attachments) {
    setModal(true);
    setFixedSize(DialogUnitsToPixels(kWidthUnits, kHeightUnits));
    waitText_ = new QLabel(LocalizedText(TextId::MailStartOutlook), this);
    waitText_->setAlignment(Qt::AlignCenter);
    // Without a title bar, a raised edge keeps the window apart from the one below.
    waitText_->setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(waitText_);

    sendTimer_ = new QTimer(this);
    sendTimer_->setObjectName(QStringLiteral("timer1003"));
    sendTimer_->setSingleShot(true);
    sendTimer_->setInterval(kSendDelayMs);
    connect(sendTimer_, &QTimer::timeout, this, &MailSendDialog::SendFileByMail);
    sendTimer_->start();
}

void MailSendDialog::done(int result) {
    closed_ = true;
    sendTimer_->stop();
    QDialog::done(result);
}

void MailSendDialog::SendFileByMail() {
    IoResultOf<std::string> attachment = attachments_.Prepare(path_);
    if (!attachment) {
        // The texts of a failed preparation are fixed, with the system's reason below.
        ShowBox(QMessageBox::Warning, QString::fromStdString(attachment.detail()));
        reject();
        return;
    }
    StartMailHandOff(
        *attachment, this, [this](const MailOutcome& outcome) { Finish(outcome); }, timeout_);
}

void MailSendDialog::Finish(const MailOutcome& outcome) {
    if (closed_) {
        return;  // dismissed with Escape meanwhile
    }
    switch (outcome.status) {
        case MailStatus::Complete:
            ShowBox(QMessageBox::Information, LocalizedText(TextId::MailSendComplete));
            accept();
            return;
        case MailStatus::NotInstalled:
            ShowBox(QMessageBox::Warning, LocalizedText(TextId::MailNotInstalled));
            break;
        case MailStatus::NoProgram:
            ShowBox(QMessageBox::Warning, LocalizedText(TextId::MailNoProgram));
            break;
        case MailStatus::Failed:
            ShowBox(QMessageBox::Warning,
                    LocalizedText(TextId::MailFailed, QString::fromStdString(path_),
                                  QString::fromStdString(outcome.reason)));
            break;
    }
    reject();
}

void MailSendDialog::ShowBox(QMessageBox::Icon icon, const QString& text) {
    QMessageBox box(icon, messageTitle_, text, QMessageBox::Ok, this);
    box.exec();
}
