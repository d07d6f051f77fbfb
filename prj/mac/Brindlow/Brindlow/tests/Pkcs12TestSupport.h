// Helpers of the PKCS #12 dialog tests: the kit's openssl-made PKCS #12 files, media by name,
// and what openssl says about key files and PKCS #12 files.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <map>
#include <string>

#include "DesktopTestSupport.h"
#include "PkiCache.h"
#include "Token.h"
#include "TokenManagerUtil.h"
#include "TokenMaster.h"

namespace brindlow::test {

// The pkcs12 recipe's folder (kr-a.p12 and kin under "q1w2e3r4!@", kr/sign.pem, ...), made once
// per build folder; empty when openssl failed.
inline std::string pkcs12Fixtures() {
    static const std::string folder = testkit::cachedPki("pkcs12").string();
    return folder;
}
inline const char* kPkcs12Password = "q1w2e3r4!@";

// The id of the registered medium with that display name; -1 when there is none.
inline long tokenIdNamed(const char* name) {
    TokenMaster* master = TokenManagerUtil::getTokenMaster();
    TokenMaster::TokenMap::iterator it, end;
    master->getTokenList(&it, &end);
    for (; it != end; ++it)
        if (it->second != nullptr && std::string(it->second->name) == name)
            return static_cast<long>(it->first);
    return -1;
}

// Runs a shell script with arguments $1...; its exit status, and its standard output in *out.
inline int shell(const QString& script, const QStringList& arguments, QString* out = nullptr) {
    QProcess process;
    process.start(QStringLiteral("bash"),
                  QStringList{QStringLiteral("-c"), script, QStringLiteral("sh")} + arguments);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (out != nullptr) *out = QString::fromUtf8(process.readAllStandardOutput());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// Whether openssl opens the NPKI key file with the password, and the key's public half.
inline bool keyFileOpens(const std::string& keyFile, const QString& password,
                         QString* publicKey = nullptr) {
    return shell(QStringLiteral("openssl pkcs8 -inform DER -in \"$1\" -passin \"pass:$2\" "
                                "-provider legacy -provider default | openssl pkey -pubout"),
                 {QString::fromStdString(keyFile), password}, publicKey) == 0;
}

// The public key of a certificate file (DER or PEM), as openssl prints it.
inline QString certificatePublicKey(const std::string& certificate, bool der = true) {
    QString out;
    shell(
        QStringLiteral("openssl x509 -inform \"$2\" -noout -pubkey -in \"$1\""),
        {QString::fromStdString(certificate), der ? QStringLiteral("DER") : QStringLiteral("PEM")},
        &out);
    return out;
}

// The folders of the holders below a medium's NPKI folder (".../NPKI/<CA>/USER/<holder>").
inline std::map<std::string, std::string> holderFolders(const std::string& medium) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(medium, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        if (it->is_regular_file() && it->path().filename() == "signCert.der")
            out[it->path().parent_path().string()] = fileBytes(it->path().string());
    return out;
}

// Every file below a folder with its bytes.
inline std::map<std::string, std::string> filesBelow(const std::string& top) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(top, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        out[it->path().string()] = it->is_regular_file() ? fileBytes(it->path().string()) : "/";
    return out;
}

}  // namespace brindlow::test
