#include "tls_trust.hpp"

#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>

namespace orvela::qt {

namespace {

// A bundle of trust anchors is a few hundred certificates; a folder is bounded the same way.
constexpr int kMaxFiles = 4096;

// The distributions' own stores of authorities, which Qt's backend already reads on demand.
// Many sessions point SSL_CERT_FILE or SSL_CERT_DIR at exactly these; loading them again would
// hold every system certificate in memory for nothing (some 15 MB). Compared after resolving
// symbolic links, so /etc/ssl/cert.pem and the like count too.
bool isSystemStore(const QString& path) {
    static const QStringList stores = [] {
        QStringList resolved;
        for (const char* known :
             {"/etc/ssl/certs", "/usr/lib/ssl/certs", "/etc/pki/tls/certs",
              "/etc/pki/ca-trust/extracted/pem", "/etc/ssl/certs/ca-certificates.crt",
              "/etc/pki/tls/certs/ca-bundle.crt",
              "/etc/pki/ca-trust/extracted/pem/tls-ca-bundle.pem", "/etc/ssl/ca-bundle.pem"}) {
            const QString canonical = QFileInfo(QString::fromLatin1(known)).canonicalFilePath();
            if (!canonical.isEmpty()) resolved << canonical;
        }
        return resolved;
    }();
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return !canonical.isEmpty() && stores.contains(canonical);
}

}  // namespace

int trustExtraAuthorities(const QString& certFile, const QString& certDirs) {
    QList<QSslCertificate> extra;
    if (!certFile.isEmpty() && !isSystemStore(certFile))
        extra += QSslCertificate::fromPath(certFile, QSsl::Pem);
    for (const QString& folder : certDirs.split(u':', Qt::SkipEmptyParts)) {
        if (isSystemStore(folder)) continue;
        const QStringList files = QDir(folder).entryList(QDir::Files | QDir::Readable);
        for (qsizetype i = 0; i < files.size() && i < kMaxFiles; ++i)
            extra += QSslCertificate::fromPath(folder + u'/' + files[i], QSsl::Pem);
    }
    if (extra.isEmpty()) return 0;
    // Setting authorities switches off Qt's loading of the system's on demand, so the system's
    // are put in explicitly.
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates(QSslConfiguration::systemCaCertificates() + extra);
    QSslConfiguration::setDefaultConfiguration(configuration);
    return static_cast<int>(extra.size());
}

int trustAuthoritiesFromEnvironment() {
    return trustExtraAuthorities(qEnvironmentVariable("SSL_CERT_FILE"),
                                 qEnvironmentVariable("SSL_CERT_DIR"));
}

}  // namespace orvela::qt
