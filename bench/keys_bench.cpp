// Making a key certificate, run after run: its median and range, set against generating the 2048-bit
// key alone in a throwaway container.
// keys_bench [--runs N]
#include "bench_support.h"

#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <stdexcept>

#include <wizard/keys/issuing_certificate.h>
#include <wizard/keys/key_certificate.h>

namespace {

double bare_key(int run) {
    std::wstring container = L"orribench-key-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(run);
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, container.c_str(), MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET))
        throw std::runtime_error("CryptAcquireContext failed");
    HCRYPTKEY key = 0;
    bool made = false;
    double took = bench::seconds([&] { made = CryptGenKey(provider, AT_KEYEXCHANGE, (2048u << 16) | CRYPT_EXPORTABLE, &key); });
    if (key) CryptDestroyKey(key);
    CryptReleaseContext(provider, 0);
    HCRYPTPROV gone = 0;
    CryptAcquireContextW(&gone, container.c_str(), MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
    if (!made) throw std::runtime_error("CryptGenKey failed");
    return took;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bench::options args(argc, argv);
    int runs = static_cast<int>(std::max<long long>(args.number(L"runs", 5), 1));
    try {
        CIssuingCertificate issuer;
        KeyCertificateRequest request;
        request.password = L"bench password";
        request.common_name = L"Bench User";
        GetSystemTime(&request.not_before);
        request.not_after = request.not_before;
        request.not_after.wYear = static_cast<WORD>(request.not_after.wYear + 1);
        if (request.not_after.wMonth == 2 && request.not_after.wDay == 29) request.not_after.wDay = 28;
        std::vector<double> made, bare;
        for (int i = 0; i < runs; ++i) {
            tools::byte_buffer pfx;
            made.push_back(bench::seconds([&] { CreateKeyCertificate(issuer.get(), request, pfx); }));
            if (pfx.empty()) throw std::runtime_error("CreateKeyCertificate gave no PKCS#12 file");
            bare.push_back(bare_key(i));
        }
        auto [low, high] = std::minmax_element(made.begin(), made.end());
        char range[96];
        std::snprintf(range, sizeof range, "range %.3f-%.3f s over %d runs (key generation alone: %.3f-%.3f s)", *low, *high,
                      runs, *std::min_element(bare.begin(), bare.end()), *std::max_element(bare.begin(), bare.end()));
        bench::print({
            .bench = "6 key certificate",
            .what = "median of " + std::to_string(runs) + " runs",
            .unit = "s",
            .subject = "CreateKeyCertificate",
            .subject_value = bench::median(made),
            .baseline = "CryptGenKey 2048-bit",
            .baseline_value = bench::median(bare),
            .note = range,
        });
        return 0;
    } catch (const std::exception& e) {
        bench::print_failure("6 key certificate", "", e.what());
    } catch (...) {
        bench::print_failure("6 key certificate", "", "CreateKeyCertificate failed");
    }
    return 1;
}
