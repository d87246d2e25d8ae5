// The manager's logic apart from its window: which keys are ours and in which group, whether a key may be
// exported, and deleting a key with its container.
#include "manager_test_support.h"

#include <certmgr/cert_classification.h>
#include <certmgr/key_deletion.h>
#include <certmgr/key_export.h>
#include <tools/win_except.h>
#include <wizard/keys/issuing_certificate.h>
#include <wizard/keys/key_certificate.h>
#include <wizard/keys/tests/key_test_support.h>

#include <doctest.h>
#include <memory>

namespace {

tools::auto_cert_context issuing_alone() {
    tools::byte_buffer der = IssuingCertificateEncoding();
    return tools::auto_cert_context(
        CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
}

tools::auto_cert_store memory_store() {
    return tools::auto_cert_store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
}

void add(HCERTSTORE store, PCCERT_CONTEXT cert) {
    REQUIRE(CertAddCertificateContextToStore(store, cert, CERT_STORE_ADD_ALWAYS, nullptr));
}

bool same(PCCERT_CONTEXT a, PCCERT_CONTEXT b) {
    return CertCompareCertificate(X509_ASN_ENCODING, a->pCertInfo, b->pCertInfo) != FALSE;
}

FILETIME file_time(ULONGLONG value) {
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

}  // namespace

TEST_CASE("the seven-day rule and the validity period decide the group") {
    const ULONGLONG day = 864000000000ULL;
    const ULONGLONG now_value = 133000000000000000ULL;
    FILETIME now = file_time(now_value);
    CERT_INFO info{};
    info.NotBefore = file_time(now_value - 30 * day);
    info.NotAfter = file_time(now_value + 7 * day);
    CHECK(ValidityGroupOf(now, &info) == GroupValid);  // exactly seven days left: not yet a warning
    info.NotAfter = file_time(now_value + 7 * day - 1);
    CHECK(ValidityGroupOf(now, &info) == GroupSoonExpire);
    info.NotAfter = file_time(now_value);
    CHECK(ValidityGroupOf(now, &info) == GroupSoonExpire);  // the last moment still counts as valid
    info.NotAfter = file_time(now_value - 1);
    CHECK(ValidityGroupOf(now, &info) == GroupExpiredOrNotYetValid);
    info.NotBefore = file_time(now_value + 1);
    info.NotAfter = file_time(now_value + 365 * day);
    CHECK(ValidityGroupOf(now, &info) == GroupExpiredOrNotYetValid);
}

TEST_CASE("classification finds the product's keys by their issuer, installed or not, and groups them") {
    CIssuingCertificate issuer;
    certtest::product_key soon(issuer.get(), L"Expires in six days", -30, 6);
    certtest::product_key later(issuer.get(), L"Expires in eight days", -30, 8);
    certtest::product_key tomorrow(issuer.get(), L"Valid from tomorrow", 1, 365);
    certtest::product_key year(issuer.get(), L"Valid for a year", -1, 365);
    // Keys of another product: a certificate of its own, and one issued by it with the product's routine.
    keytest::self_signed_key foreign_issuer;
    certtest::product_key foreign(foreign_issuer.cert(), L"Issued by another", -1, 365);

    tools::auto_cert_store store = memory_store();
    for (PCCERT_CONTEXT cert : {soon.cert(), foreign_issuer.cert(), later.cert(), tomorrow.cert(), foreign.cert(),
                                year.cert()})
        add(store.get(), cert);
    tools::auto_cert_context issuing = issuing_alone();
    REQUIRE(issuing);
    CValidityMap groups;
    groups[7].emplace_back(tools::hold_cert_context(soon.cert()));  // whatever the map held goes
    ClassifyStoreCertificates(issuing.get(), groups, store.get());

    REQUIRE(groups.size() == 3);
    REQUIRE(groups[GroupValid].size() == 2);
    // In the store's own enumeration order.
    PCCERT_CONTEXT first = nullptr;
    for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(store.get(), c));)
        if (!first && (same(c, later.cert()) || same(c, year.cert()))) first = CertDuplicateCertificateContext(c);
    REQUIRE(first);
    bool later_first = same(first, later.cert());
    CertFreeCertificateContext(first);
    CHECK(same(groups[GroupValid][0].get(), later_first ? later.cert() : year.cert()));
    CHECK(same(groups[GroupValid][1].get(), later_first ? year.cert() : later.cert()));
    REQUIRE(groups[GroupSoonExpire].size() == 1);
    CHECK(same(groups[GroupSoonExpire][0].get(), soon.cert()));
    REQUIRE(groups[GroupExpiredOrNotYetValid].size() == 1);
    CHECK(same(groups[GroupExpiredOrNotYetValid][0].get(), tomorrow.cert()));

    SUBCASE("a store without any of the product's keys gives no group") {
        tools::auto_cert_store others = memory_store();
        add(others.get(), foreign.cert());
        add(others.get(), foreign_issuer.cert());
        ClassifyStoreCertificates(issuing.get(), groups, others.get());
        CHECK(groups.empty());
    }
}

TEST_CASE("export is offered exactly for a key that may leave its container") {
    CIssuingCertificate issuer;
    certtest::product_key key(issuer.get(), L"Exportable key", -1, 365);
    CHECK(IsPrivateKeyExportable(key.cert()));

    SUBCASE("whatever else the key information's flags hold") {
        // The flag the key creation records, which Windows' providers refuse as a flag of their own (Wine's let
        // it pass, so here this guards the rule rather than shows the refusal).
        key.set_key_flags(CERT_SET_KEY_CONTEXT_PROP_ID);
        CHECK(IsPrivateKeyExportable(key.cert()));
    }
    SUBCASE("not for a key made unexportable") {
        key.lock_key();
        CHECK_FALSE(IsPrivateKeyExportable(key.cert()));
    }
    SUBCASE("not for a certificate without key, nor one whose container is gone") {
        keytest::self_signed_key locked(false);
        CHECK_FALSE(IsPrivateKeyExportable(locked.cert()));
        tools::auto_cert_context bare = issuing_alone();
        CHECK_FALSE(IsPrivateKeyExportable(bare.get()));
        HCRYPTPROV gone = 0;
        CryptAcquireContextW(&gone, key.container().c_str(), MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
        CHECK_FALSE(IsPrivateKeyExportable(key.cert()));
    }
}

TEST_CASE("deleting a key takes its container too, unless another certificate still names it") {
    CIssuingCertificate issuer;
    certtest::product_key first(issuer.get(), L"Deleted key", -1, 365);
    certtest::product_key second(issuer.get(), L"Kept key", -1, 365);
    tools::auto_cert_store store = memory_store();
    add(store.get(), first.cert());
    add(store.get(), second.cert());

    PCCERT_CONTEXT in_store =
        CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, first.cert(), nullptr);
    REQUIRE(in_store);
    DeleteCertificateWithKey(in_store);
    CertFreeCertificateContext(in_store);
    CHECK_FALSE(CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, first.cert(),
                                           nullptr));
    CHECK_FALSE(certtest::container_exists(first.container()));
    CHECK(certtest::container_exists(second.container()));

    SUBCASE("a container two certificates name stays while one of them remains") {
        tools::byte_buffer info_data;
        DWORD size = 0;
        REQUIRE(CertGetCertificateContextProperty(second.cert(), CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
        info_data.resize(size);
        REQUIRE(CertGetCertificateContextProperty(second.cert(), CERT_KEY_PROV_INFO_PROP_ID, info_data.data(), &size));
        certtest::product_key sharing(issuer.get(), L"Sharing key", -1, 365);
        REQUIRE(CertSetCertificateContextProperty(sharing.cert(), CERT_KEY_PROV_INFO_PROP_ID, 0, info_data.data()));
        add(store.get(), sharing.cert());
        PCCERT_CONTEXT shared =
            CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, sharing.cert(), nullptr);
        REQUIRE(shared);
        DeleteCertificateWithKey(shared);
        CertFreeCertificateContext(shared);
        CHECK(certtest::container_exists(second.container()));
    }
}
