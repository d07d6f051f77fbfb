#include "RootCAHashWindowController.h"

#include <QDesktopServices>
#include <QFontDatabase>

#include "ui_RootCAHashWindowController.h"

RootCAHashWindowController::RootCAHashWindowController(QWidget* parent)
    : QDialog(parent), ui_(new Ui::RootCAHashWindowController) {
    ui_->setupUi(this);
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    ui_->hashView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    connect(ui_->confirmButton, &QPushButton::clicked, this, &RootCAHashWindowController::click);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &RootCAHashWindowController::cancel);
    connect(ui_->webLinkButton, &QPushButton::clicked, this, &RootCAHashWindowController::webLink);
}

RootCAHashWindowController::~RootCAHashWindowController() {
    delete ui_;
}

void RootCAHashWindowController::setCAHash(const QString& text) {
    ui_->hashView->setPlainText(text);
}

QString RootCAHashWindowController::caHash() const {
    return ui_->hashView->toPlainText();
}

int RootCAHashWindowController::runModal() {
    setWindowModality(Qt::ApplicationModal);
    show();
    raise();
    activateWindow();
    return exec() == kConfirmed ? kConfirmed : kDeclined;
}

QUrl RootCAHashWindowController::fingerprintPageUrl() {
    return QUrl(QStringLiteral("https://rootca.kisa.or.kr/kcac/cert/potency.html"));
}

void RootCAHashWindowController::click() {
    done(kConfirmed);
}

void RootCAHashWindowController::cancel() {
    done(kDeclined);
}

void RootCAHashWindowController::reject() {
    done(kDeclined);
}

void RootCAHashWindowController::webLink() {
    QDesktopServices::openUrl(fingerprintPageUrl());
}
