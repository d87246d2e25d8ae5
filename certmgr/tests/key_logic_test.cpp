// The manager's logic apart from its window, where the window cannot show it: which keys are ours and in which
// group, and a key container that two certificates share.
#include "manager_test_support.h"

#include <certmgr/cert_classification.h>
#include <tools/certificate_deletion.h>
#include <wizard/keys/issuing_certificate.h>
#include <wizard/keys/tests/key_test_support.h>

#include <doctest.h>

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
    // Keys of another product: a certificate of its own, and one issued by it with the product's routine.
    keytest::self_signed_key foreign_issuer;
    certtest::product_key foreign(foreign_issuer.cert(), L"Issued by another", -1, 365);

    tools::auto_cert_store store = memory_store();
    for (PCCERT_CONTEXT cert : {soon.cert(), foreign_issuer.cert(), later.cert(), tomorrow.cert(), foreign.cert()})
        add(store.get(), cert);
    tools::auto_cert_context issuing = issuing_alone();
    REQUIRE(issuing);
    CValidityMap groups;
    groups[7].emplace_back(tools::hold_cert_context(soon.cert()));  // whatever the map held goes
    ClassifyStoreCertificates(issuing.get(), groups, store.get());

    REQUIRE(groups.size() == 3);
    REQUIRE(groups[GroupValid].size() == 1);
    CHECK(same(groups[GroupValid][0].get(), later.cert()));
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

TEST_CASE("a deleted key's container stays while another certificate still names it") {
    CIssuingCertificate issuer;
    certtest::product_key kept(issuer.get(), L"Kept key", -1, 365);
    certtest::product_key sharing(issuer.get(), L"Sharing key", -1, 365);
    tools::auto_cert_store store = memory_store();
    add(store.get(), kept.cert());
    DWORD size = 0;
    REQUIRE(CertGetCertificateContextProperty(kept.cert(), CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
    tools::byte_buffer info(size);
    REQUIRE(CertGetCertificateContextProperty(kept.cert(), CERT_KEY_PROV_INFO_PROP_ID, info.data(), &size));
    REQUIRE(CertSetCertificateContextProperty(sharing.cert(), CERT_KEY_PROV_INFO_PROP_ID, 0, info.data()));
    add(store.get(), sharing.cert());

    tools::auto_cert_context shared(
        CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, sharing.cert(), nullptr));
    REQUIRE(shared);
    tools::delete_certificate_with_key(shared.get());
    CHECK_FALSE(CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, sharing.cert(),
                                           nullptr));
    CHECK(keytest::container_exists(kept.container()));
}
