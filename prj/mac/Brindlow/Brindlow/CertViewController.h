// The certificate detail window ("인증서 상세보기"): a table of the certificate's fields with
// their values and a text view showing the whole value of the row the user clicks. It reads the
// certificate directly through the PKI layer.
#pragma once

#include <QByteArray>
#include <QStringList>
#include <QWidget>

#include <memory>

namespace Ui {
class CertViewController;
}

class QPlainTextEdit;

namespace brindlow::ui {
class RightClickTableWidget;
}

class CertViewController : public QWidget {
    Q_OBJECT

  public:
    // The number of rows: one per shown field.
    static constexpr int kRowCount = 17;

    // Reads the fields of the DER certificate in content. Bytes that do not decode give a
    // window of empty values.
    explicit CertViewController(const QByteArray& content, QWidget* parent = nullptr);
    ~CertViewController() override;

    const QByteArray& certContent() const { return certContent_; }
    const QStringList& certInfo() const { return certInfo_; }
    const QStringList& certInfoName() const { return certInfoName_; }

    brindlow::ui::RightClickTableWidget* certDetailTableView() const;
    QPlainTextEdit* certDetailTextView() const;

    // Table data: the number of rows, and the text of a cell (the field name in the column
    // whose identifier is "name", the value in the other).
    int numberOfRows() const { return static_cast<int>(certInfo_.size()); }
    QString objectValue(const QString& columnIdentifier, int row) const;

  public slots:
    // Shows the whole value of the clicked row; a click on no row changes nothing.
    void click_Info();

  private:
    void windowDidLoad();
    void buildLists();

    std::unique_ptr<Ui::CertViewController> ui_;
    QByteArray certContent_;
    QStringList certInfo_;
    QStringList certInfoName_;
};
