// Modal windows and sheets with end codes of their own, and window placement.
//
// A dialog of the application ends with an end code chosen by the dialog: a token id, 0 for a
// completed attempt, -1 for a cancel. Those codes are kept beside QDialog's result, so they never
// collide with QDialog::Rejected (0): closing the window, Escape, or the application quitting
// while the dialog runs all end it with the cancel code.
#pragma once

#include <QDialog>

#include <functional>

namespace brindlow::ui {

class ModalWindowController : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kCancelCode = -1;

    explicit ModalWindowController(QWidget* parent = nullptr);

    // Runs the window modally for the whole application and returns its end code.
    int runModal();

    // Runs the window as a sheet: modal for window only, centred on it. Once the sheet is off
    // the screen, didEnd (when given) receives the end code, which is also returned.
    int runSheet(QWidget* window, const std::function<void(int)>& didEnd);

    // Ends the modal run with code and takes the window off the screen.
    void stopModalWithCode(int code);

    // The code of the last run (kCancelCode while none has ended otherwise).
    int endCode() const { return endCode_; }

  public slots:
    // Every way of dismissing the window without a code of its own: a cancel.
    void reject() override;

  private:
    void runLoop();

    int endCode_ = kCancelCode;
};

// Moves window so that its centre lies on the centre of other (a null other counts as a frame
// of all zeros).
void centerOf(QWidget* window, const QWidget* other);

// Centres window on the screen it is on (the primary screen before it is shown).
void centerOnScreen(QWidget* window);

}  // namespace brindlow::ui
