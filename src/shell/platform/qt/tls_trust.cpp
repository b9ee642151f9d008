#include "tls_trust.hpp"

#include <QDir>
#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>

namespace orvela::qt {

namespace {

// A bundle of trust anchors is a few hundred certificates; a folder is bounded the same way.
constexpr int kMaxFiles = 4096;

}  // namespace

int trustExtraAuthorities(const QString& certFile, const QString& certDirs) {
    QList<QSslCertificate> extra;
    if (!certFile.isEmpty()) extra += QSslCertificate::fromPath(certFile, QSsl::Pem);
    for (const QString& folder : certDirs.split(u':', Qt::SkipEmptyParts)) {
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
