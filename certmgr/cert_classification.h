// Which certificates of a store are the product's storage keys, grouped by validity.
#pragma once
#include <tools/auto_handle.h>
#include <tools/text.h>

#include <windows.h>
#include <wincrypt.h>
#include <map>
#include <vector>

enum ValidityGroup : DWORD {
    GroupValid = 0,
    GroupSoonExpire = 1,
    GroupExpiredOrNotYetValid = 2,
};

// Group -> the certificates of that group, each list in the store's enumeration order.
using CValidityMap = std::map<DWORD, std::vector<tools::auto_cert_context>>;

// The group of a certificate at the time now: outside its validity period, 2; ending within seven days, 1; else 0.
DWORD ValidityGroupOf(const FILETIME& now, const CERT_INFO* info);

// Fills map with the certificates of store that the issuing certificate issued: those whose chain holds an element
// with the issuing certificate's MD5. The issuing certificate also serves the chain as a place to find the issuer
// in, so its keys are found whether or not it is installed anywhere. A certificate that cannot be judged is left
// out. Throws tools::win_except when the time or the issuing certificate's digest cannot be had.
void ClassifyStoreCertificates(PCCERT_CONTEXT issuing, CValidityMap& map, HCERTSTORE store);
