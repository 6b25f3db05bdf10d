#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QString>
#include <chrono>
#include <string>

#include "output/mail_handoff.h"

class QLabel;
class QTimer;

// The small borderless window shown while a captured file is handed to the mail program:
// 222 x 19 dialog units with the centred text "StartOutlook". 50 ms after it opened (timer
// "timer1003", so that it is seen first) it prepares the attachment and starts the hand-off
// without blocking, so it keeps painting. The outcome is told in a message box titled
// `messageTitle`: "SEND_CAMPLETE" when the mail program has the file, else why not; the
// window then closes, after a failure too (Accepted after success, Rejected otherwise).
// Escape closes it at any time: a hand-off under way goes on unreported. Run it with
// exec(). UI thread.
class MailSendDialog : public QDialog {
    Q_OBJECT
public:
    // `path`: the selected file. `attachments` outlives the dialog (its files must stay
    // until the mail program has read them).
    MailSendDialog(const QString& messageTitle, std::string path, MailAttachments& attachments,
                   QWidget* parent = nullptr);

    // How long the hand-off may take before it counts as failed.
    void setHandOffTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }

    QLabel* waitText() const { return waitText_; }
    QTimer* sendTimer() const { return sendTimer_; }

public Q_SLOTS:
    void done(int result) override;

private:
    void SendFileByMail();
    void Finish(const MailOutcome& outcome);
    void ShowBox(QMessageBox::Icon icon, const QString& text);

    QString messageTitle_;
    std::string path_;
    MailAttachments& attachments_;
    std::chrono::milliseconds timeout_ = kMailTimeout;
    QLabel* waitText_ = nullptr;
    QTimer* sendTimer_ = nullptr;
    bool closed_ = false;
};
