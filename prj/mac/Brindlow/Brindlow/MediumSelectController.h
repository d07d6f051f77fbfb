// The sheets that pick a disk medium from the token registry: the removable disk whose
// certificates the manager lists (USBSelectController) and the medium a certificate is copied
// to (CopySelectController). Each ends with the chosen token's id, or -1 when cancelled.
#pragma once

#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

#include "WindowController.h"

class QPushButton;
class Token;

namespace Ui {
class USBSelectWindow;
class CopySelectWindow;
}  // namespace Ui

namespace brindlow::ui {
class RightClickTableWidget;
}

class MediumSelectController : public brindlow::ui::ModalWindowController {
    Q_OBJECT

  public:
    struct MediumRow {
        QString name;      // the token's display name
        uint32_t tokenID;  // its id in the registry
    };

    const QList<MediumRow>& rows() const { return rows_; }
    brindlow::ui::RightClickTableWidget* tableView() const { return tableView_; }
    QPushButton* confirmButton() const { return confirmButton_; }

  public slots:
    // Ends the sheet with the selected row's token id; without a selected row the sheet stays.
    void confirm();
    // Ends the sheet with -1.
    void cancel();

  protected:
    explicit MediumSelectController(QWidget* parent);
    // Fills the rows with every disk token (in id order) that keep accepts, and the table.
    void buildRows(const std::function<bool(uint32_t id, Token* token, bool systemDrive)>& keep);
    void attach(brindlow::ui::RightClickTableWidget* table, QPushButton* confirmButton);

  private:
    QList<MediumRow> rows_;
    brindlow::ui::RightClickTableWidget* tableView_ = nullptr;
    QPushButton* confirmButton_ = nullptr;
};

class USBSelectController : public MediumSelectController {
    Q_OBJECT

  public:
    // Every mounted volume registered at start-up (every disk token but the home folder).
    explicit USBSelectController(QWidget* parent = nullptr);
    ~USBSelectController() override;

  private:
    std::unique_ptr<Ui::USBSelectWindow> ui_;
};

class CopySelectController : public MediumSelectController {
    Q_OBJECT

  public:
    // Every disk token other than the source.
    explicit CopySelectController(uint32_t sourceTokenID, QWidget* parent = nullptr);
    ~CopySelectController() override;

  private:
    std::unique_ptr<Ui::CopySelectWindow> ui_;
};
