// Open and save panels, run as sheets on a window.
#pragma once

#include <QString>

class QWidget;

namespace brindlow::ui {

// The path of the file the user chose to open, or an empty text when the panel was cancelled.
// No file type is imposed.
QString runOpenPanel(QWidget* window);

// The path the user chose to save to, starting from suggestedPath, or an empty text when the
// panel was cancelled.
QString runSavePanel(QWidget* window, const QString& suggestedPath);

// Test seam: the next panel returns this answer without being shown.
class FilePanelSeam {
  public:
    // The next panel answers path (an empty path: the next panel is cancelled).
    static void nextFileName(const QString& path);
    // The suggested path the last save panel was given.
    static QString lastSuggestedPath();
    static void reset();
};

}  // namespace brindlow::ui
