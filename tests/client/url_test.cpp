// Where an address built from the service's data leads: only back to the service itself.
#include <gtest/gtest.h>

#include "client/url.hpp"

namespace orvela {
namespace {

// The manifest's "zip" is glued to the base as text, as the installer does.
TEST(Url, AnArchivePathMustKeepTheServicesSchemeHostAndPort) {
    const std::string service = "https://orvela.test";
    for (const auto& [base, zip, expected] :
         std::vector<std::tuple<std::string, std::string, Origin>>{
             {service, "/mac/app-43.zip", Origin::Same},
             {"HTTPS://Orvela.TEST:8443/app", "/mac/app-43.zip?x=1", Origin::Same},
             // "//host/x" glued on is a path on the service, not a protocol-relative address.
             {service, "//other.host/x.zip", Origin::Same},
             {service, "@other.host/x.zip", Origin::Elsewhere},  // user-info, another host
             {service, ".other.host/x.zip", Origin::Elsewhere},  // another host
             {service, ":8443/x.zip", Origin::Elsewhere},        // another port
             {service, ":443/x.zip", Origin::Elsewhere},         // a port where there was none
             {"https://orvela.test:8443", "0/x.zip", Origin::Elsewhere},
             {service, "https://other.host/x.zip", Origin::Elsewhere},  // an absolute URL
             {"http://u:p@orvela.test", "/x.zip", Origin::Elsewhere},   // the base's own user-info
             {"https://[::1]:8765", "1/x.zip", Origin::Elsewhere},
             {service, "/mac/app 43.zip", Origin::NotAUrl},
             {"", "/x.zip", Origin::NotAUrl}}) {
        EXPECT_EQ(originOf(base + zip, base), expected) << base << zip;
    }
    // Another scheme cannot come from text glued after the base; compared all the same.
    EXPECT_EQ(originOf("http://orvela.test/x.zip", service), Origin::Elsewhere);
    EXPECT_EQ(originOf("/x.zip", "/"), Origin::NotAUrl);
}

}  // namespace
}  // namespace orvela
