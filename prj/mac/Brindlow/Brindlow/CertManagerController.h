// The certificate manager window: the certificates of one medium (the home folder or a
// removable disk) with their authority icon, subject, expiry and policy notice, and the actions
// on the selected certificate. Every outcome is shown as a message of the token manager's table
// in an alert.
#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

#include "CertViewController.h"

namespace Ui {
class CertManagerController;
}

class QAbstractButton;
class QMenu;
class Token;

namespace brindlow::ui {
class RightClickTableWidget;
}

class CertManagerController : public QWidget {
    Q_OBJECT

  public:
    // One row of the table.
    struct CertRow {
        int group = 0;        // authority group, 0 (unknown) to 5
        QString displayText;  // common name, expiry and policy notice on three lines
        std::string itemId;   // the signing certificate's item id, passed to every action
    };

    // Lists the home folder's certificates; the window stays hidden until shown.
    explicit CertManagerController(QWidget* parent = nullptr);
    ~CertManagerController() override;

    // The rows for the token with that id, listed afresh from the medium; none when the token
    // does not exist or cannot be listed.
    QList<CertRow> getCertList(uint32_t tokenID);

    // The authority group of a certificate's policy text (its OID up to the first comma); 0
    // when the OID is unknown.
    static int groupOfPolicy(const QString& policyID);
    // The icon of an authority group; an empty name (no image) outside 0 to 5.
    static QString authorityIconName(int group);
    // Fills the book of the 33 known policy OIDs (cleared first).
    static void makeMap();

    brindlow::ui::RightClickTableWidget* certTableView() const;
    QMenu* certMenu() const;
    QAbstractButton* viewWithTag(int tag) const;
    int selectedButtonTag() const { return selectedButtonTag_; }
    uint32_t selectedTokenID() const { return selectedTokenID_; }
    const QList<CertRow>& certArray() const { return certArray_; }
    CertViewController* certView() const { return certView_; }

    // The medium buttons' images for a tag: selected and not selected.
    static QString mediumImageName(int tag, bool selected);

  public slots:
    // A medium button: tag 1 lists the home folder, tag 2 asks for a removable disk.
    void buttonClicked();
    // Certificate actions on the selected row (the double-click on the clicked row).
    void showDetail();
    void click_Certificate();
    void deleteCert();
    void copyCert();
    void changeCertPassword();
    void importCert();
    void exportCert();

  public:
    void chooseMedium(int tag);
    void toggleButton(int tag);
    void didEndSheet(int returnCode);
    void showDetailWithRowIndex(int row);
    void didEndCopySelectSheet(int returnCode, const std::string& itemId);

    // The registered token of that id; null when there is none or the registry cannot be built.
    static Token* tokenWithID(uint32_t tokenID);

  private:
    void windowDidLoad();
    void reloadData();
    void rebuildList();
    // The item id of the selected row, or empty after showing notice 20.
    std::string selectedItemIdOrNotice();
    void showMessage(int code, const QString& informativeText = QString());
    // The notice for a token's result: success or failure, saying so when the medium does not
    // support the operation.
    void showResult(int result, int successCode, int failureCode);

    std::unique_ptr<Ui::CertManagerController> ui_;
    int selectedButtonTag_ = 1;
    QList<CertRow> certArray_;
    uint32_t selectedTokenID_ = 0;
    QPointer<CertViewController> certView_;
};
