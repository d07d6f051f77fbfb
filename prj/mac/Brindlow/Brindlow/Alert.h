// Alerts: a message, an optional informative text and a fixed row of buttons, run modally.
// Every outcome of the application is shown this way, with exactly the documented buttons.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

class QWidget;

namespace brindlow::ui {

// Button titles.
QString confirmButtonTitle();  // "확인"
QString cancelButtonTitle();   // "취소"
QString okButtonTitle();       // "OK", the about alert's only button

enum class AlertStyle { Informational, Warning };

// What an alert showed, as built on the real message box.
struct AlertRecord {
    QString messageText;
    QString informativeText;
    QStringList buttons;  // in the order given, the first being the default
    AlertStyle style = AlertStyle::Informational;
};

// Runs an alert modally over parent's window and returns the index of the pressed button, or -1
// when the run ended without one (the application quitting while the alert was up). Texts are
// shown as plain text: they may come from a certificate.
int runAlert(QWidget* parent, const QString& messageText, const QString& informativeText,
             const QStringList& buttons, AlertStyle style);

// The notice: one button "확인", informational style; the result is ignored.
void showNotice(QWidget* parent, const QString& messageText,
                const QString& informativeText = QString());

// The confirmation: "확인" and "취소" in this order, warning style. True only for "확인".
bool runConfirmation(QWidget* parent, const QString& messageText);

// Test seam: answers alerts without showing them and keeps what they showed. Nothing is kept
// until a test turns the seam on.
class AlertSeam {
  public:
    // Keeps a record of every alert from now on (answerNext and setDefaultAnswer do too).
    static void startRecording();
    // The next alert returns this button index without being shown.
    static void answerNext(int button);
    // Every alert without a queued answer returns this index without being shown; -1 turns it
    // off, so alerts are run for real again.
    static void setDefaultAnswer(int button);
    // Alerts built since the last call (recorded whether answered here or run for real).
    static std::vector<AlertRecord> takeRecords();
    // Forgets queued answers, records and the default answer, and stops recording.
    static void reset();
};

}  // namespace brindlow::ui
