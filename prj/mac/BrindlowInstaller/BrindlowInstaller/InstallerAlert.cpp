#include "InstallerAlert.h"

#include <QMessageBox>
#include <QPushButton>

#include <deque>

namespace brindlow::installer {

namespace {

// Main thread only.
struct Seam {
    std::deque<int> answers;
    int defaultAnswer = -1;
    bool recording = false;
    std::vector<AlertRecord> records;
};

Seam& seam() {
    static Seam s;
    return s;
}

}  // namespace

int runAlert(const QString& messageText, const QString& informativeText, const QStringList& buttons,
             AlertStyle style) {
    QMessageBox box;
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
        // Escape counts as the last button: "취소" for the confirmation.
        box.setEscapeButton(pushButtons.back());
    }

    Seam& s = seam();
    if (s.recording) {
        AlertRecord record{box.text(), box.informativeText(), {}, style};
        for (QPushButton* b : pushButtons) record.buttons << b->text();
        s.records.push_back(record);
    }
    int answer;
    if (!s.answers.empty()) {
        answer = s.answers.front();
        s.answers.pop_front();
    } else if (s.defaultAnswer >= 0) {
        answer = s.defaultAnswer;
    } else {
        box.exec();
        for (size_t i = 0; i < pushButtons.size(); ++i)
            if (pushButtons[i] == box.clickedButton()) return static_cast<int>(i);
        return -1;
    }
    return answer >= 0 && answer < static_cast<int>(pushButtons.size()) ? answer : -1;
}

void showNotice(const QString& messageText, const QString& informativeText) {
    runAlert(messageText, informativeText, {QStringLiteral("확인")}, AlertStyle::Informational);
}

bool runConfirmation(const QString& messageText) {
    return runAlert(messageText, QString(), {QStringLiteral("확인"), QStringLiteral("취소")},
                    AlertStyle::Warning) == 0;
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
    seam() = Seam{};
}

}  // namespace brindlow::installer
