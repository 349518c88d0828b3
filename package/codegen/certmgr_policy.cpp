// The package's certificate manager (numbers of corvanews20_certmgr.h). The
// read-only certificate fields are published so that the designer shows them,
// but never stored.
#include "component_codegen.h"
#include "corvanews20_certmgr.h"
#include "package_policies.h"

using namespace codegen;

namespace {

constexpr Published kPublished[] = {
    {"CertEffectiveDate", Publish::NeverStored},    {"CertExpirationDate", Publish::NeverStored},
    {"CertExtendedKeyUsage", Publish::Stored},      {"CertFingerprint", Publish::NeverStored},
    {"CertIssuer", Publish::NeverStored},           {"CertKeyPassword", Publish::Stored},
    {"CertPrivateKey", Publish::NeverStored},       {"CertPrivateKeyAvailable", Publish::NeverStored},
    {"CertPrivateKeyContainer", Publish::NeverStored}, {"CertPublicKey", Publish::NeverStored},
    {"CertPublicKeyAlgorithm", Publish::Stored},    {"CertPublicKeyLength", Publish::NeverStored},
    {"CertSerialNumber", Publish::NeverStored},     {"CertSignatureAlgorithm", Publish::NeverStored},
    {"CertSubject", Publish::Stored},               {"CertSubjectAltNames", Publish::NeverStored},
    {"CertThumbprintMD5", Publish::NeverStored},    {"CertThumbprintSHA1", Publish::NeverStored},
    {"CertThumbprintSHA256", Publish::NeverStored}, {"CertUsage", Publish::Stored},
    {"CertUsageFlags", Publish::Stored},            {"CertVersion", Publish::NeverStored},
    {"CertStore", Publish::Stored},                 {"CertStorePassword", Publish::Stored},
    {"CertStoreType", Publish::Stored},             {"ExportFormat", Publish::Stored},
    {"ExportPrivateKey", Publish::Stored},
};

constexpr InitDefault kInit[] = {
    {"CertExtendedKeyUsage", ""}, {"CertKeyPassword", ""}, {"CertPublicKeyAlgorithm", ""},
    {"CertSubject", ""},          {"CertUsage", ""},       {"CertUsageFlags", "0"},
    {"CertStore", "MY"},          {"CertStorePassword", ""}, {"CertStoreType", "0"},
    {"ExportFormat", "PFX"},      {"ExportPrivateKey", "True"},
};

// Setting the subject looks the certificate up in the store that CertStore,
// CertStoreType and CertStorePassword name; a form may hold them in any order.
constexpr const char* kAppliedLast[] = {"CertSubject"};

}  // namespace

int packagegen::generateCertMgr(const std::string& folder)
{
    const ComponentPolicy policy{"TwskCertMgr", "CorvaneWS::Package", "corvanews20_certmgr.h",
                                 "corvanews20::certmgr", "package/wsk_package_types.h", kPackageComponent,
                                 kPublished, {}, kInit, kAppliedLast};
    return generate(policy, corvanews20::certmgr::kTables, folder + "/wskcertmgr");
}
