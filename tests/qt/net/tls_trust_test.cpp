// Extra authorities: the system's own store, named by the usual variables, is not loaded twice;
// an authority kept anywhere else is added.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "net/tls_trust.hpp"

namespace orvela::qt {
namespace {

TEST(TlsTrust, AddsOnlyAuthoritiesOutsideTheSystemStore) {
    const QString bundle = QStringLiteral("/etc/ssl/certs/ca-certificates.crt");
    if (!QFile::exists(bundle)) GTEST_SKIP() << "no system store at " << bundle.toStdString();
    EXPECT_EQ(trustExtraAuthorities(bundle, QStringLiteral("/etc/ssl/certs:/usr/lib/ssl/certs")),
              0);

    QTemporaryDir elsewhere;
    ASSERT_TRUE(QFile::copy(bundle, elsewhere.filePath("company.pem")));
    EXPECT_GT(trustExtraAuthorities(elsewhere.filePath("company.pem"), {}), 100);
    EXPECT_GT(trustExtraAuthorities({}, elsewhere.path()), 100);
}

}  // namespace
}  // namespace orvela::qt
