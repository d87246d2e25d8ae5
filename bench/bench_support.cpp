#include "bench_support.h"

#include <comdef.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace bench {

options::options(int argc, wchar_t** argv) {
    for (int i = 1; i + 1 < argc; i += 2) {
        std::wstring name = argv[i];
        if (name.rfind(L"--", 0) == 0) name.erase(0, 2);
        values_.emplace_back(name, argv[i + 1]);
    }
}

std::wstring options::text(const wchar_t* name, const std::wstring& fallback) const {
    for (auto& [n, v] : values_)
        if (n == name) return v;
    return fallback;
}

long long options::number(const wchar_t* name, long long fallback) const {
    std::wstring value = text(name, L"");
    return value.empty() ? fallback : _wtoi64(value.c_str());
}

std::vector<long long> options::numbers(const wchar_t* name, const std::vector<long long>& fallback) const {
    std::wstring value = text(name, L"");
    if (value.empty()) return fallback;
    std::vector<long long> result;
    size_t start = 0;
    while (start <= value.size()) {
        size_t comma = value.find(L',', start);
        if (comma == std::wstring::npos) comma = value.size();
        if (comma > start) result.push_back(_wtoi64(value.substr(start, comma - start).c_str()));
        start = comma + 1;
    }
    return result;
}

double seconds(const std::function<void()>& work) {
    LARGE_INTEGER frequency{}, start{}, stop{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    work();
    QueryPerformanceCounter(&stop);
    return static_cast<double>(stop.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    size_t n = samples.size();
    return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

double median_seconds(int reps, const std::function<void()>& work) {
    std::vector<double> samples;
    for (int i = 0; i < std::max(reps, 1); ++i) samples.push_back(seconds(work));
    return median(samples);
}

scratch::scratch(const std::wstring& tag) {
    wchar_t temp[MAX_PATH + 1]{};
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"orribench-" + tag + L"-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(path_.c_str(), nullptr);
}

scratch::~scratch() {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((path_ + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW(file(found.cFileName).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path_.c_str());
}

std::string size_text(long long kib) {
    return kib % 1024 == 0 ? std::to_string(kib / 1024) + " MiB" : std::to_string(kib) + " KiB";
}

std::vector<unsigned char> filler(size_t size) {
    std::vector<unsigned char> bytes(size);
    unsigned int state = 0x2545F491u;
    for (auto& b : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = static_cast<unsigned char>(state);
    }
    return bytes;
}

namespace {
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string number(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.6g", value);
    return buffer;
}
}  // namespace

void print(const row& r) {
    std::string line = "{\"bench\":" + quoted(r.bench) + ",\"case\":" + quoted(r.what) + ",\"unit\":" + quoted(r.unit) +
                       ",\"subject\":" + quoted(r.subject) + ",\"subject_value\":" + number(r.subject_value);
    if (!r.baseline.empty()) {
        line += ",\"baseline\":" + quoted(r.baseline) + ",\"baseline_value\":" + number(r.baseline_value);
        if (r.baseline_value > 0) line += ",\"ratio\":" + number(r.subject_value / r.baseline_value);
    }
    if (!r.note.empty()) line += ",\"note\":" + quoted(r.note);
    std::printf("%s}\n", line.c_str());
    std::fflush(stdout);
}

void print_failure(const std::string& bench, const std::string& what, const std::string& why) {
    std::printf("{\"bench\":%s,\"case\":%s,\"error\":%s}\n", quoted(bench).c_str(), quoted(what).c_str(), quoted(why).c_str());
    std::fflush(stdout);
}

int attempt(const char* bench, const std::function<void()>& work) {
    try {
        work();
        return 0;
    } catch (const std::exception& e) {
        print_failure(bench, "", e.what());
        return 1;
    } catch (const _com_error& e) {
        char text[64];
        std::snprintf(text, sizeof text, "a server call failed: 0x%08lX", static_cast<unsigned long>(e.Error()));
        print_failure(bench, "", text);
        return 1;
    }
}

void check(HRESULT hr, const char* step) {
    if (FAILED(hr)) {
        char buffer[128];
        std::snprintf(buffer, sizeof buffer, "%s failed: 0x%08lX", step, static_cast<unsigned long>(hr));
        throw std::runtime_error(buffer);
    }
}

std::string narrow(const std::wstring& text) {
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

void print_growth(const std::string& bench, const std::vector<long long>& sizes, const std::string& subject,
                  const std::vector<double>& subject_times, const std::vector<double>& baseline_times) {
    if (sizes.size() < 2) return;
    size_t last = sizes.size() - 1;
    char linear[32];
    std::snprintf(linear, sizeof linear, " (linear: %gx)", static_cast<double>(sizes[last]) / static_cast<double>(sizes[last - 1]));
    print({
        .bench = bench,
        .what = "growth " + std::to_string(sizes[last - 1]) + " -> " + std::to_string(sizes[last]) + " files" + linear,
        .unit = "x",
        .subject = subject,
        .subject_value = subject_times[last] / subject_times[last - 1],
        .baseline = "IStorage::EnumElements",
        .baseline_value = baseline_times[last] / baseline_times[last - 1],
    });
}

}  // namespace bench
