/*
 * corvanews20_certmgr.h - numbers of the certificate manager object
 * (CorvaneWS_CertMgr_*). Shapes and offsets: corvanews20_tables.h.
 * The extension properties take an extension index below CertExtensionCount.
 * Store types, formats, Config settings and error codes: engine/README.md.
 */
#ifndef CORVANEWS20_CERTMGR_H
#define CORVANEWS20_CERTMGR_H

#include "corvanews20_tables.h"

namespace corvanews20::certmgr {

namespace prop {
enum : int {
    CertEffectiveDate = 1, CertEncoded, CertExpirationDate, CertExtendedKeyUsage, CertFingerprint, CertIssuer,
    CertKeyPassword, CertPrivateKey, CertPrivateKeyAvailable, CertPrivateKeyContainer, CertPublicKey,
    CertPublicKeyAlgorithm, CertPublicKeyLength, CertSerialNumber, CertSignatureAlgorithm, CertSubject,
    CertSubjectAltNames, CertThumbprintMD5, CertThumbprintSHA1, CertThumbprintSHA256, CertUsage, CertUsageFlags,
    CertVersion, CertExtensionCount, CertExtensionCritical, CertExtensionOID, CertExtensionValue, CertStore,
    CertStorePassword, CertStoreType, ExportedCert, ExportFormat, ExportPrivateKey,
};
}

namespace method {
enum : int {
    Config = 2, CreateCertificate, CreateKey, DeleteCertificate, DeleteKey, ExportCertificate, GenerateCSR,
    ImportCertificate, ImportSignedCSR, IssueCertificate, ListCertificateStores, ListKeys, ListMachineStores,
    ListStoreCertificates, ReadCertificate, ReadCSR, Reset, SaveCertificate, ShowCertificateChain, SignCSR,
};
}

namespace event {
enum : int { CertChain = 1, CertList, Error, KeyList, Log, StoreList };
}

inline constexpr const char* kIndexName = "CertExtensionIndex";

inline constexpr PropertyInfo kProperties[] = {
    {prop::CertEffectiveDate, "CertEffectiveDate", PropType::String, kRead, nullptr},
    {prop::CertEncoded, "CertEncoded", PropType::Bytes, kReadWrite, nullptr},
    {prop::CertExpirationDate, "CertExpirationDate", PropType::String, kRead, nullptr},
    {prop::CertExtendedKeyUsage, "CertExtendedKeyUsage", PropType::String, kReadWrite, nullptr},
    {prop::CertFingerprint, "CertFingerprint", PropType::String, kRead, nullptr},
    {prop::CertIssuer, "CertIssuer", PropType::String, kRead, nullptr},
    {prop::CertKeyPassword, "CertKeyPassword", PropType::String, kReadWrite, nullptr},
    {prop::CertPrivateKey, "CertPrivateKey", PropType::String, kRead, nullptr},
    {prop::CertPrivateKeyAvailable, "CertPrivateKeyAvailable", PropType::Bool, kRead, nullptr},
    {prop::CertPrivateKeyContainer, "CertPrivateKeyContainer", PropType::String, kRead, nullptr},
    {prop::CertPublicKey, "CertPublicKey", PropType::String, kRead, nullptr},
    {prop::CertPublicKeyAlgorithm, "CertPublicKeyAlgorithm", PropType::String, kReadWrite, nullptr},
    {prop::CertPublicKeyLength, "CertPublicKeyLength", PropType::Int, kRead, nullptr},
    {prop::CertSerialNumber, "CertSerialNumber", PropType::String, kRead, nullptr},
    {prop::CertSignatureAlgorithm, "CertSignatureAlgorithm", PropType::String, kRead, nullptr},
    {prop::CertSubject, "CertSubject", PropType::String, kReadWrite, nullptr},
    {prop::CertSubjectAltNames, "CertSubjectAltNames", PropType::String, kRead, nullptr},
    {prop::CertThumbprintMD5, "CertThumbprintMD5", PropType::String, kRead, nullptr},
    {prop::CertThumbprintSHA1, "CertThumbprintSHA1", PropType::String, kRead, nullptr},
    {prop::CertThumbprintSHA256, "CertThumbprintSHA256", PropType::String, kRead, nullptr},
    {prop::CertUsage, "CertUsage", PropType::String, kReadWrite, nullptr},
    {prop::CertUsageFlags, "CertUsageFlags", PropType::Int, kReadWrite, nullptr},
    {prop::CertVersion, "CertVersion", PropType::String, kRead, nullptr},
    {prop::CertExtensionCount, "CertExtensionCount", PropType::Int, kReadWrite, nullptr},
    {prop::CertExtensionCritical, "CertExtensionCritical", PropType::Bool, kRead, kIndexName},
    {prop::CertExtensionOID, "CertExtensionOID", PropType::String, kRead, kIndexName},
    {prop::CertExtensionValue, "CertExtensionValue", PropType::Bytes, kRead, kIndexName},
    {prop::CertStore, "CertStore", PropType::Bytes, kReadWrite, nullptr},
    {prop::CertStorePassword, "CertStorePassword", PropType::String, kReadWrite, nullptr},
    {prop::CertStoreType, "CertStoreType", PropType::Int, kReadWrite, nullptr},
    {prop::ExportedCert, "ExportedCert", PropType::Bytes, kRead, nullptr},
    {prop::ExportFormat, "ExportFormat", PropType::String, kReadWrite, nullptr},
    {prop::ExportPrivateKey, "ExportPrivateKey", PropType::Bool, kReadWrite, nullptr},
};

namespace detail {
inline constexpr ArgInfo kSubjectAndSerial[] = {{"CertSubject", ArgType::WideText}, {"SerialNumber", ArgType::Int}};
inline constexpr ArgInfo kKeyName[] = {{"KeyName", ArgType::WideText}};
inline constexpr ArgInfo kFileName[] = {{"FileName", ArgType::WideText}};
inline constexpr ArgInfo kExportCertificate[] = {{"CertFile", ArgType::WideText}, {"Password", ArgType::WideText}};
inline constexpr ArgInfo kGenerateCSR[] = {{"CertSubject", ArgType::WideText}, {"KeyName", ArgType::WideText}};
inline constexpr ArgInfo kImportCertificate[] = {
    {"CertFile", ArgType::WideText}, {"Password", ArgType::WideText}, {"Subject", ArgType::WideText}};
inline constexpr ArgInfo kImportSignedCSR[] = {{"SignedCSR", ArgType::Bytes}, {"KeyName", ArgType::WideText}};
inline constexpr ArgInfo kReadCSR[] = {{"CSR", ArgType::WideText}};
inline constexpr ArgInfo kSignCSR[] = {{"CSR", ArgType::Bytes}, {"SerialNumber", ArgType::Int}};

// TrustStatus: 0, or the verification error at this element (OpenSSL's
// X509_V_ERR_* numbers); TrustInfo: 1 self-signed, 2 from a trusted store.
inline constexpr ArgInfo kCertChain[] = {
    {"CertEncoded", ArgType::Bytes}, {"CertSubject", ArgType::WideText}, {"CertIssuer", ArgType::WideText},
    {"CertSerialNumber", ArgType::WideText}, {"TrustStatus", ArgType::Int}, {"TrustInfo", ArgType::Int}};
inline constexpr ArgInfo kCertList[] = {
    {"CertEncoded", ArgType::Bytes}, {"CertSubject", ArgType::WideText}, {"CertIssuer", ArgType::WideText},
    {"CertSerialNumber", ArgType::WideText}, {"HasPrivateKey", ArgType::Bool}};
inline constexpr ArgInfo kError[] = {{"ErrorCode", ArgType::Int}, {"Description", ArgType::WideText}};
// KeyType: 1 a private key stored in the clear, 2 one encrypted with a password.
inline constexpr ArgInfo kKeyList[] = {
    {"KeyContainer", ArgType::WideText}, {"KeyType", ArgType::Int}, {"AlgId", ArgType::WideText},
    {"KeyLen", ArgType::Int}};
inline constexpr ArgInfo kLog[] = {
    {"LogLevel", ArgType::Int}, {"Message", ArgType::WideText}, {"LogType", ArgType::WideText}};
inline constexpr ArgInfo kStoreList[] = {{"CertStore", ArgType::WideText}};
} // namespace detail

inline constexpr MethodInfo kMethods[] = {
    {method::Config, "Config", args::kConfig, true},
    {method::CreateCertificate, "CreateCertificate", detail::kSubjectAndSerial},
    {method::CreateKey, "CreateKey", detail::kKeyName},
    {method::DeleteCertificate, "DeleteCertificate", {}},
    {method::DeleteKey, "DeleteKey", detail::kKeyName},
    {method::ExportCertificate, "ExportCertificate", detail::kExportCertificate},
    {method::GenerateCSR, "GenerateCSR", detail::kGenerateCSR, true},
    {method::ImportCertificate, "ImportCertificate", detail::kImportCertificate},
    {method::ImportSignedCSR, "ImportSignedCSR", detail::kImportSignedCSR},
    {method::IssueCertificate, "IssueCertificate", detail::kSubjectAndSerial},
    {method::ListCertificateStores, "ListCertificateStores", {}, true},
    {method::ListKeys, "ListKeys", {}, true},
    {method::ListMachineStores, "ListMachineStores", {}, true},
    {method::ListStoreCertificates, "ListStoreCertificates", {}, true},
    {method::ReadCertificate, "ReadCertificate", detail::kFileName},
    {method::ReadCSR, "ReadCSR", detail::kReadCSR, true},
    {method::Reset, "Reset", {}},
    {method::SaveCertificate, "SaveCertificate", detail::kFileName},
    {method::ShowCertificateChain, "ShowCertificateChain", {}, true},
    {method::SignCSR, "SignCSR", detail::kSignCSR, true},
};

inline constexpr EventInfo kEvents[] = {
    {event::CertChain, "CertChain", detail::kCertChain},
    {event::CertList, "CertList", detail::kCertList},
    {event::Error, "Error", detail::kError},
    {event::KeyList, "KeyList", detail::kKeyList},
    {event::Log, "Log", detail::kLog},
    {event::StoreList, "StoreList", detail::kStoreList},
};

inline constexpr ObjectTables kTables = {"CertMgr", kProperties, kMethods, kEvents};

static_assert(numberedInOrder(kProperties, 1) && numberedInOrder(kMethods, 2) && numberedInOrder(kEvents, 1));
static_assert(std::size(kProperties) == 33 && std::size(kMethods) == 20 && std::size(kEvents) == 6);

} // namespace corvanews20::certmgr

#endif /* CORVANEWS20_CERTMGR_H */
