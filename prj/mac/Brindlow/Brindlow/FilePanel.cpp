#include "FilePanel.h"

#include <QFileDialog>

#include <deque>
#include <optional>

namespace brindlow::ui {

namespace {

// Main thread only.
struct SeamState {
    std::deque<QString> answers;
    QString lastSuggested;
};

SeamState& seam() {
    static SeamState state;
    return state;
}

std::optional<QString> takeAnswer() {
    if (seam().answers.empty()) return std::nullopt;
    QString answer = seam().answers.front();
    seam().answers.pop_front();
    return answer;
}

QString runPanel(QFileDialog& panel) {
    panel.setWindowModality(panel.parentWidget() != nullptr ? Qt::WindowModal
                                                            : Qt::ApplicationModal);
    if (panel.exec() != QDialog::Accepted) return {};
    const QStringList files = panel.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

}  // namespace

QString runOpenPanel(QWidget* window) {
    if (auto answer = takeAnswer()) return *answer;
    QFileDialog panel(window);
    panel.setAcceptMode(QFileDialog::AcceptOpen);
    panel.setFileMode(QFileDialog::ExistingFile);
    return runPanel(panel);
}

QString runSavePanel(QWidget* window, const QString& suggestedPath) {
    seam().lastSuggested = suggestedPath;
    if (auto answer = takeAnswer()) return *answer;
    QFileDialog panel(window);
    panel.setAcceptMode(QFileDialog::AcceptSave);
    panel.setFileMode(QFileDialog::AnyFile);
    if (!suggestedPath.isEmpty()) panel.selectFile(suggestedPath);
    return runPanel(panel);
}

void FilePanelSeam::nextFileName(const QString& path) {
    seam().answers.push_back(path);
}

QString FilePanelSeam::lastSuggestedPath() {
    return seam().lastSuggested;
}

void FilePanelSeam::reset() {
    seam().answers.clear();
    seam().lastSuggested.clear();
}

}  // namespace brindlow::ui
