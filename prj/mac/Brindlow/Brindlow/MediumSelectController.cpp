#include "MediumSelectController.h"

#include <QHeaderView>
#include <QPushButton>

#include "FileToken.h"
#include "Images.h"
#include "RightClickTableWidget.h"
#include "TokenManagerUtil.h"
#include "TokenMaster.h"
#include "UIString.h"
#include "ui_CopySelectWindow.h"
#include "ui_USBSelectWindow.h"

MediumSelectController::MediumSelectController(QWidget* parent)
    : brindlow::ui::ModalWindowController(parent) {}

void MediumSelectController::attach(brindlow::ui::RightClickTableWidget* table,
                                    QPushButton* confirmButton) {
    tableView_ = table;
    confirmButton_ = confirmButton;
    // Nothing to confirm until a medium is chosen.
    confirmButton_->setEnabled(false);
    connect(tableView_, &QTableWidget::itemSelectionChanged, this,
            [this] { confirmButton_->setEnabled(tableView_->selectedRow() >= 0); });
}

void MediumSelectController::buildRows(const std::function<bool(uint32_t, Token*, bool)>& keep) {
    rows_.clear();
    try {
        TokenMaster* master = TokenManagerUtil::getTokenMaster();
        if (master != nullptr) {
            TokenMaster::TokenMap::iterator it;
            TokenMaster::TokenMap::iterator end;
            master->getTokenList(&it, &end);
            for (; it != end; ++it) {
                auto* disk = dynamic_cast<FileToken*>(it->second);
                if (disk == nullptr) continue;
                const auto id = static_cast<uint32_t>(it->first);
                if (!keep(id, disk, disk->systemDrive)) continue;
                rows_.push_back(
                    {brindlow::ui::stringFromUtf8Field(disk->name, sizeof disk->name), id});
            }
        }
    } catch (...) {
        // A registry that cannot be built offers no medium.
        rows_.clear();
    }

    const QIcon icon = brindlow::ui::iconNamed(QStringLiteral("ico_usb_green"));
    tableView_->setRowCount(static_cast<int>(rows_.size()));
    for (int row = 0; row < rows_.size(); ++row) {
        auto* item = new QTableWidgetItem(icon, brindlow::ui::singleLine(rows_[row].name));
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        tableView_->setItem(row, 0, item);
    }
    tableView_->resizeRowsToContents();
}

void MediumSelectController::confirm() {
    const int row = tableView_ != nullptr ? tableView_->selectedRow() : -1;
    if (row < 0 || row >= rows_.size()) return;
    stopModalWithCode(static_cast<int>(rows_[row].tokenID));
}

void MediumSelectController::cancel() {
    stopModalWithCode(kCancelCode);
}

USBSelectController::USBSelectController(QWidget* parent)
    : MediumSelectController(parent), ui_(std::make_unique<Ui::USBSelectWindow>()) {
    ui_->setupUi(this);
    attach(ui_->tableView, ui_->confirmButton);
    buildRows([](uint32_t, Token*, bool systemDrive) { return !systemDrive; });
}

USBSelectController::~USBSelectController() = default;

CopySelectController::CopySelectController(uint32_t sourceTokenID, QWidget* parent)
    : MediumSelectController(parent), ui_(std::make_unique<Ui::CopySelectWindow>()) {
    ui_->setupUi(this);
    attach(ui_->tableView, ui_->confirmButton);
    buildRows([sourceTokenID](uint32_t id, Token*, bool) { return id != sourceTokenID; });
}

CopySelectController::~CopySelectController() = default;
