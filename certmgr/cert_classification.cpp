#include "certmgr/cert_classification.h"

#include <tools/certificates.h>
#include <tools/win_except.h>

#include <exception>

namespace {

const ULONGLONG kSevenDays = 6048000000000ULL;  // in 100-nanosecond units

tools::byte_buffer md5_of(const BYTE* data, DWORD size) {
    tools::byte_buffer digest(16);
    DWORD length = static_cast<DWORD>(digest.size());
    tools::check_win(CryptHashCertificate(0, CALG_MD5, 0, data, size, digest.data(), &length));
    digest.resize(length);
    return digest;
}

// Whether some element of some chain of cert has the reference digest.
bool issued_by(PCCERT_CONTEXT cert, HCERTSTORE issuers, const tools::byte_buffer& reference) {
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof(parameters);
    PCCERT_CHAIN_CONTEXT raw = nullptr;
    // Trust is never judged here, so no revocation is checked: it would only cost time (and the network).
    tools::check_win(CertGetCertificateChain(nullptr, cert, nullptr, issuers, &parameters, 0, nullptr, &raw));
    tools::auto_cert_chain chain(raw);
    for (DWORD c = 0; c < raw->cChain; ++c) {
        const CERT_SIMPLE_CHAIN* simple = raw->rgpChain[c];
        for (DWORD e = 0; e < simple->cElement; ++e) {
            PCCERT_CONTEXT element = simple->rgpElement[e]->pCertContext;
            if (md5_of(element->pbCertEncoded, element->cbCertEncoded) == reference) return true;
        }
    }
    return false;
}

}  // namespace

DWORD ValidityGroupOf(const FILETIME& now, const CERT_INFO* info) {
    if (CertVerifyTimeValidity(const_cast<FILETIME*>(&now), const_cast<CERT_INFO*>(info)) != 0)
        return GroupExpiredOrNotYetValid;
    ULARGE_INTEGER end;
    end.LowPart = info->NotAfter.dwLowDateTime;
    end.HighPart = info->NotAfter.dwHighDateTime;
    end.QuadPart -= kSevenDays;
    FILETIME warn_from{end.LowPart, end.HighPart};
    return CompareFileTime(&warn_from, &now) == -1 ? GroupSoonExpire : GroupValid;
}

void ClassifyStoreCertificates(PCCERT_CONTEXT issuing, CValidityMap& map, HCERTSTORE store) {
    map.clear();
    SYSTEMTIME local;
    GetLocalTime(&local);
    FILETIME now;
    tools::check_win(SystemTimeToFileTime(&local, &now));
    tools::byte_buffer reference = md5_of(issuing->pbCertEncoded, issuing->cbCertEncoded);

    tools::auto_cert_store issuers(
        CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    if (!issuers || !CertAddCertificateContextToStore(issuers.get(), issuing, CERT_STORE_ADD_ALWAYS, nullptr))
        tools::throw_last_error();

    PCCERT_CONTEXT cert = nullptr;
    while ((cert = CertEnumCertificatesInStore(store, cert))) {
        try {
            if (!issued_by(cert, issuers.get(), reference)) continue;
            DWORD group = ValidityGroupOf(now, cert->pCertInfo);
            map[group].emplace_back(tools::hold_cert_context(cert));
        } catch (...) {
            // A certificate that cannot be judged is simply not one of ours.
        }
    }
}
