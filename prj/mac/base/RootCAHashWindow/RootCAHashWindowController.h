// The fingerprint window: the root certificates about to be installed, with their SHA-256
// fingerprints and a link to the page where the root authority publishes them.
#pragma once

#include <QDialog>
#include <QUrl>

namespace Ui {
class RootCAHashWindowController;
}

class RootCAHashWindowController : public QDialog {
    Q_OBJECT

  public:
    // End codes of the modal run.
    static constexpr int kConfirmed = 1;
    static constexpr int kDeclined = 0;

    explicit RootCAHashWindowController(QWidget* parent = nullptr);
    ~RootCAHashWindowController() override;

    void setCAHash(const QString& text);
    QString caHash() const;

    // Raises the window above the others, shows it and runs it modally; kConfirmed only through
    // the confirm control.
    int runModal();

    // The root authority's page of published fingerprints.
    static QUrl fingerprintPageUrl();

  public slots:
    void click();
    void cancel();
    void webLink();
    // Closing the window any other way declines.
    void reject() override;

  private:
    Ui::RootCAHashWindowController* ui_;
};
