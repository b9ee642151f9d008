// Which certificate authorities HTTPS trusts: the system's, plus those OpenSSL's own variables
// name. Qt's OpenSSL backend reads only the distribution's fixed certificate folders, while
// curl, git, Python and OpenSSL itself also honour SSL_CERT_FILE and SSL_CERT_DIR (a company's
// own authority, a local test service); the app does the same. Verification is never relaxed.
#pragma once

#include <QString>

namespace orvela::qt {

// Adds the PEM certificates of `certFile` (SSL_CERT_FILE) and of every file in the
// colon-separated `certDirs` (SSL_CERT_DIR) to the authorities Qt's HTTPS trusts by default,
// keeping the system's. Files and folders of the system's own store are skipped: they are
// trusted already. Returns how many were added; with none, nothing changes.
int trustExtraAuthorities(const QString& certFile, const QString& certDirs);

// trustExtraAuthorities with this process's SSL_CERT_FILE and SSL_CERT_DIR.
int trustAuthoritiesFromEnvironment();

}  // namespace orvela::qt
