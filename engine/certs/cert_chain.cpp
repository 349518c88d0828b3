#include "engine/certs/cert_chain.h"

#include <map>

namespace corvane::certs {

namespace {

// Records the first error at each depth and lets verification go on, so the
// chain is built as far as it goes.
int collectErrors(int ok, X509_STORE_CTX* ctx)
{
    if (!ok) {
        auto* errors = static_cast<std::map<int, int>*>(X509_STORE_CTX_get_app_data(ctx));
        if (errors)
            errors->emplace(X509_STORE_CTX_get_error_depth(ctx), X509_STORE_CTX_get_error(ctx));
    }
    return 1;
}

} // namespace

std::string buildChain(X509* cert, const std::vector<X509*>& untrusted, const std::vector<X509*>& trusted,
                       std::vector<ChainElement>& out)
{
    out.clear();
    if (cert == nullptr)
        return "no certificate";
    std::unique_ptr<X509_STORE, Deleter<X509_STORE_free>> store(X509_STORE_new());
    for (X509* t : trusted)
        X509_STORE_add_cert(store.get(), t);
    STACK_OF(X509)* chainIn = sk_X509_new_null();
    for (X509* u : untrusted)
        sk_X509_push(chainIn, u);
    std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX_free>> ctx(X509_STORE_CTX_new());
    std::map<int, int> errors;
    std::string status = "OK";
    if (ctx && X509_STORE_CTX_init(ctx.get(), store.get(), cert, chainIn)) {
        X509_STORE_CTX_set_verify_cb(ctx.get(), collectErrors);
        X509_STORE_CTX_set_app_data(ctx.get(), &errors);
        X509_verify_cert(ctx.get());
        STACK_OF(X509)* chain = X509_STORE_CTX_get1_chain(ctx.get());
        for (int k = 0; k < sk_X509_num(chain); ++k) {
            ChainElement e;
            e.cert = upRef(sk_X509_value(chain, k));
            auto it = errors.find(k);
            e.status = it == errors.end() ? 0 : it->second;
            if (X509_check_issued(e.cert.get(), e.cert.get()) == X509_V_OK)
                e.info |= kChainSelfSigned;
            for (X509* t : trusted)
                if (X509_cmp(t, e.cert.get()) == 0)
                    e.info |= kChainTrusted;
            out.push_back(std::move(e));
        }
        sk_X509_pop_free(chain, X509_free);
        if (!errors.empty())
            status = X509_verify_cert_error_string(errors.begin()->second);
    } else {
        status = takeOpenSslErrors();
    }
    if (out.empty()) {
        ChainElement e;
        e.cert = upRef(cert);
        e.status = errors.empty() ? X509_V_ERR_UNSPECIFIED : errors.begin()->second;
        out.push_back(std::move(e));
    }
    sk_X509_free(chainIn);
    clearOpenSslErrors();
    return status;
}

} // namespace corvane::certs
