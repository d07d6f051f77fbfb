#include "CertViewController.h"

#include <QHeaderView>
#include <QPlainTextEdit>

#include <vector>

#include "RightClickTableWidget.h"
#include "SGX509Certificate.h"
#include "UIString.h"
#include "ui_CertViewController.h"

namespace {

struct FieldRow {
    int entry;
    int flags;  // format flags of the entry's text; 0 is the library's default form
    unsigned int bufferSize;
    const char* name;
};

// The certificate-policy extension (entry 16) is read twice: its identifiers with their CPS
// pointers as the policy row, and its user notices as the notice row. Entries 24 and 23
// (policyConstraints, policyMappings) have no text form and would leave both rows empty.
constexpr int kPolicyIdentifiersAndCps = 1 | 2;
constexpr int kPolicyUserNotices = 4;

const FieldRow kRows[CertViewController::kRowCount] = {
    {SG_X509_ENTRY_VERSION, 0, 512, "버전"},
    {SG_X509_ENTRY_SERIAL_NUMBER, 0, 512, "일련번호"},
    {SG_X509_ENTRY_SIGNATURE_ALGORITHM, 0, 512, "서명알고리즘"},
    {SG_X509_ENTRY_ISSUER, 0, 512, "발급자"},
    {SG_X509_ENTRY_NOT_BEFORE, 0, 512, "다음부터 유효함"},
    {SG_X509_ENTRY_NOT_AFTER, 0, 512, "다음까지 유효함"},
    {SG_X509_ENTRY_SUBJECT, 0, 512, "주체"},
    {SG_X509_ENTRY_PUBLIC_KEY_ALGORITHM, 0, 512, "공개키 알고리즘"},
    {SG_X509_ENTRY_PUBLIC_KEY, 0, 8192, "공개키"},
    {SG_X509_ENTRY_SIGNATURE, 0, 512, "서명"},
    {SG_X509_ENTRY_AUTHORITY_KEY_IDENTIFIER, 0, 512, "키고유번호"},
    {SG_X509_ENTRY_CERTIFICATE_POLICIES, kPolicyIdentifiersAndCps, 512, "인증서정책"},
    {SG_X509_ENTRY_KEY_USAGE, 0, 512, "키사용"},
    {SG_X509_ENTRY_SUBJECT_ALT_NAME, 0, 512, "주체 대체 이름"},
    {SG_X509_ENTRY_CRL_DISTRIBUTION_POINTS, 0, 512, "분배점"},
    {SG_X509_ENTRY_CERTIFICATE_POLICIES, kPolicyUserNotices, 512, "사용자알림"},
    {SG_X509_ENTRY_AUTHORITY_INFO_ACCESS, 0, 512, "기관정보 액세스"},
};

const QString kNameColumn = QStringLiteral("name");

}  // namespace

CertViewController::CertViewController(const QByteArray& content, QWidget* parent)
    : QWidget(parent, Qt::Window),
      ui_(std::make_unique<Ui::CertViewController>()),
      certContent_(content) {
    ui_->setupUi(this);
    buildLists();
    windowDidLoad();
}

CertViewController::~CertViewController() = default;

brindlow::ui::RightClickTableWidget* CertViewController::certDetailTableView() const {
    return ui_->certDetailTableView;
}

QPlainTextEdit* CertViewController::certDetailTextView() const {
    return ui_->certDetailTextView;
}

void CertViewController::buildLists() {
    SGX509Certificate certificate = {};
    SGBinary der = {};
    der.data = reinterpret_cast<unsigned char*>(certContent_.data());
    der.length = static_cast<uint32_t>(certContent_.size());
    // A certificate that does not decode leaves the handle empty, and every read below then
    // gives an empty value.
    SGX509Certificate_FromBinary(&certificate, &der);

    std::vector<char> buffer;
    for (const FieldRow& row : kRows) {
        // Every value starts empty; the library writes at most the buffer's size, and the last
        // byte is forced to a terminator so an overlong value is cut, never overrun.
        buffer.assign(row.bufferSize, '\0');
        SGX509Certificate_GetEntry(&certificate, buffer.data(), row.bufferSize, row.entry,
                                   row.flags);
        buffer.back() = '\0';
        certInfo_ << brindlow::ui::stringFromUtf8Field(buffer.data(), buffer.size());
        certInfoName_ << QString::fromUtf8(row.name);
    }
    SGX509Certificate_Clear(&certificate);
}

void CertViewController::windowDidLoad() {
    setWindowTitle(QStringLiteral("인증서 상세보기"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* table = ui_->certDetailTableView;
    table->horizontalHeaderItem(0)->setData(Qt::UserRole, kNameColumn);
    table->horizontalHeaderItem(1)->setData(Qt::UserRole, QStringLiteral("value"));
    table->setRowCount(numberOfRows());
    for (int row = 0; row < numberOfRows(); ++row) {
        for (int column = 0; column < table->columnCount(); ++column) {
            const QString identifier =
                table->horizontalHeaderItem(column)->data(Qt::UserRole).toString();
            // Values are shown on one line in the table; the text view shows them whole.
            auto* item =
                new QTableWidgetItem(brindlow::ui::singleLine(objectValue(identifier, row)));
            item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
            table->setItem(row, column, item);
        }
    }
    table->resizeColumnToContents(0);
    connect(table, &brindlow::ui::RightClickTableWidget::clickAction, this,
            &CertViewController::click_Info);
}

QString CertViewController::objectValue(const QString& columnIdentifier, int row) const {
    if (row < 0 || row >= numberOfRows()) return {};
    return columnIdentifier == kNameColumn ? certInfoName_[row] : certInfo_[row];
}

void CertViewController::click_Info() {
    const int row = ui_->certDetailTableView->clickedRow();
    if (row < 0 || row >= numberOfRows()) return;
    ui_->certDetailTextView->setPlainText(certInfo_[row]);
}
