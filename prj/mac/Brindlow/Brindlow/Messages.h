// The user texts of the windows: the token manager's message and error-reason tables (EUC-KR)
// as user-interface strings, and the note for an operation a medium does not support.
#pragma once

#include <QString>

// Message numbers of the message table that the windows show.
enum AppMessage : int {
    kMsgSelectCertificate = 20,
    kMsgPasswordChanged = 21,
    kMsgPasswordChangeFailed = 22,
    kMsgPasswordChangeCancelled = 23,
    kMsgCopyDone = 24,
    kMsgCopyFailed = 25,
    kMsgCopyCancelled = 26,
    kMsgConfirmDelete = 29,
    kMsgDeleteDone = 30,
    kMsgDeleteFailed = 31,
    kMsgDeleteCancelled = 32,
    kMsgExportDone = 34,
    kMsgExportCancelled = 35,
    kMsgExportPasswordMissing = 36,
    kMsgPkcs12Failed = 41,
    kMsgFileNotSaved = 42,
    kMsgImportDone = 44,
    kMsgImportCancelled = 45,
    kMsgImportPasswordMissing = 46,
    kMsgImportWrongPassword = 47,
    kMsgCertificateFileNotRead = 52,
    kMsgNotCertificateFile = 53,
    kMsgImportFailed = 54,
};

// The text of a message number.
QString messageText(int code);

// Reasons of the error-reason table that the windows show.
enum AppReason : int {
    kReasonInvalidInput = 1,
    kReasonWrongPassword = 10,
    kReasonSamePassword = 17,
};

// The text of a reason of the error-reason table, as the dialogs show it (detail number 0).
QString reasonText(int reason);

// The note beside a refused new password that is not printable ASCII.
QString asciiOnlyText();
// The note beside a refused password longer than a token takes.
QString passwordTooLongText();

// Whether a token's result says the medium does not support the operation, and the note that
// an alert then adds.
bool isNotSupported(int tokenResult);
QString notSupportedText();
// Why a PKCS #12 file was refused when its protection is one the library does not implement,
// and which files import.
QString unsupportedProtectionText();
// Why a copy left the target alone: it holds a newer certificate of the same holder.
QString storedNewerText();
