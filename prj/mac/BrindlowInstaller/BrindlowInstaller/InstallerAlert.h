// The installer's alerts: a message, an optional informative text and a fixed row of buttons,
// run modally, with a seam through which tests give the next answer.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace brindlow::installer {

enum class AlertStyle { Informational, Warning };

struct AlertRecord {
    QString messageText;
    QString informativeText;
    QStringList buttons;
    AlertStyle style = AlertStyle::Informational;
};

// Runs the alert and returns the index of the pressed button (-1 when none was).
int runAlert(const QString& messageText, const QString& informativeText, const QStringList& buttons,
             AlertStyle style);

// One button "확인", informational style.
void showNotice(const QString& messageText, const QString& informativeText = QString());

// "확인" and "취소", warning style; true only for "확인".
bool runConfirmation(const QString& messageText);

// Test seam: alerts answered without being shown, and what they showed.
class AlertSeam {
  public:
    // The next alert returns this button index.
    static void answerNext(int button);
    // Alerts without a queued answer return this index; -1 shows them for real again.
    static void setDefaultAnswer(int button);
    static std::vector<AlertRecord> takeRecords();
    static void reset();
};

}  // namespace brindlow::installer
