#include "CertManagerController.h"

#include <QAbstractButton>
#include <QHeaderView>
#include <QMenu>

#include <cstring>
#include <map>
#include <utility>

#include "Alert.h"
#include "CertExportController.h"
#include "CertImportController.h"
#include "Images.h"
#include "ManagerInputPINWindowController.h"
#include "MediumSelectController.h"
#include "Messages.h"
#include "ChangeCertPassController.h"
#include "Password.h"
#include "RightClickTableWidget.h"
#include "Token.h"
#include "TokenManagerUtil.h"
#include "TokenMaster.h"
#include "UIString.h"
#include "Util.h"
#include "WindowController.h"
#include "ui_CertManagerController.h"

using brindlow::ui::singleLine;
using brindlow::ui::stringFromUtf8Field;

namespace {

struct PolicyRow {
    const char* oid;
    const char* usage;
    int group;
};

const PolicyRow kPolicies[] = {
    {"1.2.410.200004.5.4.1.2", "법인범용", 1},
    {"1.2.410.200004.5.4.1.1", "개인범용", 1},
    {"1.2.410.200004.5.4.1.101", "인터넷뱅킹용", 1},
    {"1.2.410.200004.5.4.1.102", "증권거래용", 1},
    {"1.2.410.200004.5.4.1.103", "인터넷보험용", 1},
    {"1.2.410.200004.5.4.1.104", "신용카드용", 1},
    {"1.2.410.200004.5.4.1.105", "전자민원용", 1},
    {"1.2.410.200004.5.4.1.106", "인터넷뱅킹용/전자민원용", 1},
    {"1.2.410.200004.5.4.1.107", "증권거래용/전자민원용", 1},
    {"1.2.410.200004.5.4.1.108", "인터넷보험용/전자민원용", 1},
    {"1.2.410.200004.5.4.1.109", "신용카드용/전자민원용", 1},
    {"1.2.410.200004.5.2.1.1", "법인범용", 2},
    {"1.2.410.200004.5.2.1.2", "개인범용", 2},
    {"1.2.410.200004.5.2.1.7.1", "은행거래용/보험용", 2},
    {"1.2.410.200004.5.2.1.7.2", "증권거래용/보험용", 2},
    {"1.2.410.200004.5.2.1.7.3", "신용카드용", 2},
    {"1.2.410.200004.5.1.1.7", "법인범용", 3},
    {"1.2.410.200004.5.1.1.5", "개인범용", 3},
    {"1.2.410.200004.5.1.1.9", "용도제한용", 3},
    {"1.2.410.200012.1.1.3", "법인범용", 4},
    {"1.2.410.200012.1.1.1", "개인범용", 4},
    {"1.2.410.200012.11.31", "은행거래용(서명용)", 4},
    {"1.2.410.200012.11.32", "은행거래용(암호용)", 4},
    {"1.2.410.200012.11.35", "증권거래용(서명용)", 4},
    {"1.2.410.200012.11.36", "증권거래용(암호용)", 4},
    {"1.2.410.200012.11.39", "보험거래용(서명용)", 4},
    {"1.2.410.200012.11.40", "보험거래용(암호용)", 4},
    {"1.2.410.200012.11.43", "신용카드용(서명용)", 4},
    {"1.2.410.200012.11.44", "신용카드용(암호용)", 4},
    {"1.2.410.200005.1.1.5", "법인범용", 5},
    {"1.2.410.200005.1.1.1", "개인범용", 5},
    {"1.2.410.200005.1.1.4", "은행/보험용", 5},
    {"1.2.410.200005.1.1.6.2", "신용카드용", 5},
};

// Policy OID -> (usage name, authority group). Used on the main thread only; the window
// refills it when it is created.
std::map<QString, std::pair<QString, int>>& oidBook() {
    static std::map<QString, std::pair<QString, int>> book;
    return book;
}

const char* const kAuthorityIcons[] = {
    "ico_cert_unknown",  "ico_cert_crosscert", "ico_cert_kica",
    "ico_cert_lindsign", "ico_cert_tradesign", "ico_cert_yessign",
};

}  // namespace

CertManagerController::CertManagerController(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::CertManagerController>()) {
    makeMap();
    certArray_ = getCertList(0);
    ui_->setupUi(this);
    windowDidLoad();
}

CertManagerController::~CertManagerController() = default;

void CertManagerController::makeMap() {
    auto& book = oidBook();
    book.clear();
    for (const PolicyRow& row : kPolicies)
        book.emplace(QString::fromLatin1(row.oid),
                     std::make_pair(QString::fromUtf8(row.usage), row.group));
}

int CertManagerController::groupOfPolicy(const QString& policyID) {
    const qsizetype comma = policyID.indexOf(QLatin1Char(','));
    const QString oid = comma < 0 ? policyID : policyID.left(comma);
    const auto found = oidBook().find(oid);
    return found == oidBook().end() ? 0 : found->second.second;
}

QString CertManagerController::authorityIconName(int group) {
    if (group < 0 || group >= static_cast<int>(std::size(kAuthorityIcons))) return {};
    return QString::fromLatin1(kAuthorityIcons[group]);
}

QString CertManagerController::mediumImageName(int tag, bool selected) {
    if (tag == 1)
        return selected ? QStringLiteral("ico_computer") : QStringLiteral("ico_computer_green");
    if (tag == 2) return selected ? QStringLiteral("ico_usb") : QStringLiteral("ico_usb_green");
    return {};
}

Token* CertManagerController::tokenWithID(uint32_t tokenID) {
    try {
        TokenMaster* master = TokenManagerUtil::getTokenMaster();
        Token* token = nullptr;
        if (master == nullptr || master->getToken(tokenID, &token) != 0) return nullptr;
        return token;
    } catch (...) {
        // The registry could not be built: there is no medium to work on.
        return nullptr;
    }
}

QList<CertManagerController::CertRow> CertManagerController::getCertList(uint32_t tokenID) {
    QList<CertRow> rows;
    Token* token = tokenWithID(tokenID);
    if (token == nullptr) return rows;

    ShortCertificate* list = nullptr;
    unsigned int count = 0;
    token->getCertificateList(&list, &count, 1, nullptr, nullptr);
    if (list == nullptr) count = 0;
    for (unsigned int i = 0; i < count; ++i) {
        const ShortCertificate& certificate = list[i];
        CertRow row;
        row.group =
            groupOfPolicy(stringFromUtf8Field(certificate.policyID, sizeof certificate.policyID));

        // The common name, read from a terminated copy of the subject into a 256-byte buffer;
        // the value is cut there, at a whole character.
        char subject[sizeof certificate.subject + 1] = {};
        std::memcpy(subject, certificate.subject, sizeof certificate.subject);
        char commonName[256] = {};
        Util::parseDN(subject, commonName, sizeof commonName, DNTYPE_CN);
        commonName[sizeof commonName - 1] = '\0';

        // Exactly three lines, whatever a certificate puts into its texts; the notice ends with
        // the policy text's line break, which is no part of it.
        auto line = [](const char* field, std::size_t size) {
            return singleLine(stringFromUtf8Field(field, size).trimmed());
        };
        row.displayText = line(commonName, sizeof commonName) + QLatin1Char('\n') +
                          line(certificate.validTo, sizeof certificate.validTo) +
                          QLatin1Char('\n') +
                          line(certificate.policyUserNotice, sizeof certificate.policyUserNotice);
        row.itemId.assign(certificate.signCertID,
                          strnlen(certificate.signCertID, sizeof certificate.signCertID));
        rows.push_back(std::move(row));
    }
    Token::freeMemory(list, 0);
    return rows;
}

brindlow::ui::RightClickTableWidget* CertManagerController::certTableView() const {
    return ui_->certTableView;
}

QMenu* CertManagerController::certMenu() const {
    return ui_->certMenu;
}

QAbstractButton* CertManagerController::viewWithTag(int tag) const {
    for (QAbstractButton* button : findChildren<QAbstractButton*>()) {
        const QVariant value = button->property("tag");
        if (value.isValid() && value.toInt() == tag) return button;
    }
    return nullptr;
}

void CertManagerController::windowDidLoad() {
    ui_->certTableView->setMenu(ui_->certMenu);
    connect(ui_->certTableView, &brindlow::ui::RightClickTableWidget::doubleAction, this,
            &CertManagerController::click_Certificate);
    selectedButtonTag_ = 1;
    for (int tag : {1, 2})
        if (QAbstractButton* button = viewWithTag(tag))
            button->setIcon(
                brindlow::ui::iconNamed(mediumImageName(tag, tag == selectedButtonTag_)));
    reloadData();
    brindlow::ui::centerOnScreen(this);
}

void CertManagerController::reloadData() {
    auto* table = ui_->certTableView;
    table->clearSelection();
    table->setRowCount(static_cast<int>(certArray_.size()));
    for (int row = 0; row < certArray_.size(); ++row) {
        const CertRow& cert = certArray_[row];
        auto* item = new QTableWidgetItem(brindlow::ui::iconNamed(authorityIconName(cert.group)),
                                          cert.displayText);
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        table->setItem(row, 0, item);
    }
    table->resizeRowsToContents();
}

void CertManagerController::rebuildList() {
    certArray_ = getCertList(selectedTokenID_);
    reloadData();
}

void CertManagerController::showMessage(int code, const QString& informativeText) {
    brindlow::ui::showNotice(this, messageText(code), informativeText);
}

void CertManagerController::showResult(int result, int successCode, int failureCode) {
    if (result == 0)
        showMessage(successCode);
    else if (isNotSupported(result))
        showMessage(failureCode, notSupportedText());
    else if (result == TOKEN_ERR_STORED_NEWER)
        showMessage(failureCode, storedNewerText());
    else
        showMessage(failureCode);
}

std::string CertManagerController::selectedItemIdOrNotice() {
    const int row = ui_->certTableView->selectedRow();
    if (row < 0 || row >= certArray_.size()) {
        showMessage(kMsgSelectCertificate);
        return {};
    }
    return certArray_[row].itemId;
}

void CertManagerController::buttonClicked() {
    auto* button = qobject_cast<QAbstractButton*>(sender());
    if (button == nullptr) return;
    chooseMedium(button->property("tag").toInt());
}

void CertManagerController::chooseMedium(int tag) {
    if (tag == 1) {
        selectedTokenID_ = 0;
        rebuildList();
        toggleButton(1);
    } else if (tag == 2) {
        USBSelectController sheet(this);
        sheet.runSheet(this, [this](int code) { didEndSheet(code); });
    }
}

void CertManagerController::didEndSheet(int returnCode) {
    if (returnCode < 0) return;
    selectedTokenID_ = static_cast<uint32_t>(returnCode);
    rebuildList();
    toggleButton(2);
}

void CertManagerController::toggleButton(int tag) {
    if (QAbstractButton* old = viewWithTag(selectedButtonTag_))
        old->setIcon(brindlow::ui::iconNamed(mediumImageName(selectedButtonTag_, false)));
    if (QAbstractButton* now = viewWithTag(tag)) {
        now->setIcon(brindlow::ui::iconNamed(mediumImageName(tag, true)));
        now->setFocus(Qt::OtherFocusReason);
    }
    selectedButtonTag_ = tag;
}

void CertManagerController::showDetail() {
    const int row = ui_->certTableView->selectedRow();
    if (row < 0) {
        showMessage(kMsgSelectCertificate);
        return;
    }
    showDetailWithRowIndex(row);
}

void CertManagerController::click_Certificate() {
    const int row = ui_->certTableView->clickedRow();
    if (row < 0) {
        showMessage(kMsgSelectCertificate);
        return;
    }
    showDetailWithRowIndex(row);
}

void CertManagerController::showDetailWithRowIndex(int row) {
    if (row < 0 || row >= certArray_.size()) {
        showMessage(kMsgSelectCertificate);
        return;
    }
    QByteArray content;
    if (Token* token = tokenWithID(selectedTokenID_)) {
        unsigned char* der = nullptr;
        unsigned long length = 0;
        if (token->getCertificate(certArray_[row].itemId.c_str(), &der, &length) == 0 &&
            der != nullptr)
            content =
                QByteArray(reinterpret_cast<const char*>(der), static_cast<qsizetype>(length));
        Token::freeMemory(der, length);
    }
    // The previous detail window stays on screen until the user closes it.
    auto* view = new CertViewController(content, this);
    certView_ = view;
    brindlow::ui::centerOf(view, this);
    view->show();
    view->raise();
    view->activateWindow();
}

void CertManagerController::deleteCert() {
    const std::string itemId = selectedItemIdOrNotice();
    if (itemId.empty()) return;
    Token* token = tokenWithID(selectedTokenID_);
    if (!brindlow::ui::runConfirmation(this, messageText(kMsgConfirmDelete))) {
        showMessage(kMsgDeleteCancelled);
        return;
    }
    const int result = token != nullptr ? token->deleteCertificate(itemId.c_str(), nullptr)
                                        : static_cast<int>(TOKEN_ERR_NO_TOKEN);
    showResult(result, kMsgDeleteDone, kMsgDeleteFailed);
    rebuildList();
}

void CertManagerController::copyCert() {
    const std::string itemId = selectedItemIdOrNotice();
    if (itemId.empty()) return;
    CopySelectController sheet(selectedTokenID_, this);
    sheet.runSheet(this, [this, &itemId](int code) { didEndCopySelectSheet(code, itemId); });
}

void CertManagerController::didEndCopySelectSheet(int returnCode, const std::string& itemId) {
    if (returnCode < 0) {
        showMessage(kMsgCopyCancelled);
        return;
    }
    QString entry;
    {
        ManagerInputPINWindowController prompt(&entry, this);
        brindlow::ui::centerOf(&prompt, this);
        if (prompt.runModal() == brindlow::ui::ModalWindowController::kCancelCode) {
            showMessage(kMsgCopyCancelled);
            return;
        }
    }

    // The password goes to the token as ASCII; an entry without an ASCII form, or too long for
    // the token's password buffer, cannot open the key, and the copy fails without a try.
    bool usable = entry.size() <= static_cast<qsizetype>(Password::kMaxLength);
    for (QChar c : entry) usable = usable && c.unicode() < 0x80;
    std::string ascii = usable ? entry.toStdString() : std::string();
    entry.fill(QChar(0));

    Token* source = tokenWithID(selectedTokenID_);
    Token* target = tokenWithID(static_cast<uint32_t>(returnCode));
    int result = TOKEN_ERR_NO_TOKEN;
    if (!usable) {
        result = TOKEN_ERR_KEY_DECRYPT;
    } else if (source != nullptr && target != nullptr) {
        // Keep-newer: a newer certificate of the holder on the target (with the key it needs)
        // is never replaced by an older one; the notice says why nothing was copied.
        Password handler(ascii);
        result = source->copyCertificate(itemId.c_str(), &handler, target, 1);
    }
    wipeBytes(ascii.data(), ascii.size());
    showResult(result, kMsgCopyDone, kMsgCopyFailed);
}

void CertManagerController::changeCertPassword() {
    const std::string itemId = selectedItemIdOrNotice();
    if (itemId.empty()) return;
    ChangeCertPassController dialog(selectedTokenID_, itemId, this);
    brindlow::ui::centerOf(&dialog, this);
    if (dialog.runModal() == brindlow::ui::ModalWindowController::kCancelCode)
        showMessage(kMsgPasswordChangeCancelled);
}

void CertManagerController::importCert() {
    int code = brindlow::ui::ModalWindowController::kCancelCode;
    {
        CertImportController dialog(selectedTokenID_, this);
        brindlow::ui::centerOf(&dialog, this);
        code = dialog.runModal();
    }
    if (code == brindlow::ui::ModalWindowController::kCancelCode) {
        showMessage(kMsgImportCancelled);
        return;
    }
    rebuildList();
}

void CertManagerController::exportCert() {
    const std::string itemId = selectedItemIdOrNotice();
    if (itemId.empty()) return;
    CertExportController dialog(selectedTokenID_, itemId, this);
    brindlow::ui::centerOf(&dialog, this);
    if (dialog.runModal() == brindlow::ui::ModalWindowController::kCancelCode)
        showMessage(kMsgExportCancelled);
}
