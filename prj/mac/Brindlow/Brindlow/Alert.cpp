#include "Alert.h"

#include <QMessageBox>
#include <QPushButton>

#include <deque>

namespace brindlow::ui {

namespace {

// Main thread only, like every window of the application.
struct SeamState {
    std::deque<int> answers;
    int defaultAnswer = -1;
    bool recording = false;
    std::vector<AlertRecord> records;
};

SeamState& seam() {
    static SeamState state;
    return state;
}

}  // namespace

QString confirmButtonTitle() {
    return QStringLiteral("확인");
}
QString cancelButtonTitle() {
    return QStringLiteral("취소");
}
QString okButtonTitle() {
    return QStringLiteral("OK");
}

int runAlert(QWidget* parent, const QString& messageText, const QString& informativeText,
             const QStringList& buttons, AlertStyle style) {
    QMessageBox box(parent);
    box.setWindowModality(Qt::ApplicationModal);
    box.setTextFormat(Qt::PlainText);
    box.setIcon(style == AlertStyle::Warning ? QMessageBox::Warning : QMessageBox::Information);
    box.setText(messageText);
    if (!informativeText.isEmpty()) box.setInformativeText(informativeText);

    std::vector<QPushButton*> pushButtons;
    for (qsizetype i = 0; i < buttons.size(); ++i)
        pushButtons.push_back(
            box.addButton(buttons[i], i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
    if (!pushButtons.empty()) {
        box.setDefaultButton(pushButtons.front());
        // Escape and the window's close button count as the last button: "취소" for a
        // confirmation, the only button for a notice.
        box.setEscapeButton(pushButtons.back());
    }

    SeamState& state = seam();
    if (state.recording) {
        AlertRecord record;
        record.messageText = box.text();
        record.informativeText = box.informativeText();
        for (QPushButton* b : pushButtons) record.buttons << b->text();
        record.style = style;
        state.records.push_back(record);
    }

    int answer = -1;
    if (!state.answers.empty()) {
        answer = state.answers.front();
        state.answers.pop_front();
    } else if (state.defaultAnswer >= 0) {
        answer = state.defaultAnswer;
    } else {
        box.exec();
        QAbstractButton* clicked = box.clickedButton();
        for (std::size_t i = 0; i < pushButtons.size(); ++i)
            if (pushButtons[i] == clicked) return static_cast<int>(i);
        return -1;
    }
    return (answer >= 0 && answer < static_cast<int>(pushButtons.size())) ? answer : -1;
}

void showNotice(QWidget* parent, const QString& messageText, const QString& informativeText) {
    runAlert(parent, messageText, informativeText, {confirmButtonTitle()},
             AlertStyle::Informational);
}

bool runConfirmation(QWidget* parent, const QString& messageText) {
    return runAlert(parent, messageText, QString(), {confirmButtonTitle(), cancelButtonTitle()},
                    AlertStyle::Warning) == 0;
}

void AlertSeam::startRecording() {
    seam().recording = true;
}

void AlertSeam::answerNext(int button) {
    seam().answers.push_back(button);
    seam().recording = true;
}

void AlertSeam::setDefaultAnswer(int button) {
    seam().defaultAnswer = button;
    seam().recording = true;
}

std::vector<AlertRecord> AlertSeam::takeRecords() {
    std::vector<AlertRecord> out;
    out.swap(seam().records);
    return out;
}

void AlertSeam::reset() {
    SeamState& state = seam();
    state.answers.clear();
    state.records.clear();
    state.defaultAnswer = -1;
    state.recording = false;
}

}  // namespace brindlow::ui
