// The certificate and request readers, and the subject and alternative-name
// parsers, under arbitrary bytes. Byte 0 picks the reader; the rest is its
// input. Besides the sanitizers it checks what the readers promise: a
// certificate that was read describes itself and encodes back to DER that
// reads again as the same certificate.
#include "engine/certs/cert_builder.h"
#include "engine/certs/cert_reader.h"
#include "engine/certs/usage.h"

#include <cstdint>
#include <string>

using namespace corvane::certs;

#define FUZZ_CHECK(cond) do { if (!(cond)) __builtin_trap(); } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 3) {
    case 0: {
        Material m;
        if (readCertificateData(input, "input", m))
            return 0;
        FUZZ_CHECK(!m.certs.empty());
        for (const X509Ptr& c : m.certs) {
            const CertFields f = describeCertificate(c.get());
            const Bytes der = certificateDer(c.get());
            FUZZ_CHECK(!der.empty());
            Material again;
            FUZZ_CHECK(!readCertificateData(der, "der", again));
            FUZZ_CHECK(describeCertificate(again.certs.front().get()).thumbprintSHA256 == f.thumbprintSHA256);
        }
        break;
    }
    case 1: {
        X509ReqPtr req;
        if (readRequest(input, req))
            return 0;
        const CertFields f = describeRequest(req.get());
        FUZZ_CHECK(!requestPem(req.get()).empty());
        (void)f;
        break;
    }
    default: {
        X509NamePtr name;
        if (!parseDistinguishedName(input, name)) {
            // What we parse, we print; what we print, we parse to the same name.
            const std::string text = nameText(name.get());
            X509NamePtr again;
            if (!parseDistinguishedName(text, again))
                FUZZ_CHECK(X509_NAME_cmp(name.get(), again.get()) == 0 || text.find('\\') != std::string::npos
                           || text.find('#') != std::string::npos);
        }
        std::string conf;
        (void)subjectAltNameConf(input, conf);
        int flags = 0;
        std::string bad;
        (void)parseUsage(input, flags, bad);
        break;
    }
    }
    return 0;
}
