// What every benchmark program shares: its arguments, a clock, a scratch folder and the JSON line
// each measured row is printed as (run.sh gathers the lines into one table).
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

namespace bench {

// Command-line options of the form --name value; the program's own defaults fill the rest.
class options {
public:
    options(int argc, wchar_t** argv);
    std::wstring text(const wchar_t* name, const std::wstring& fallback) const;
    long long number(const wchar_t* name, long long fallback) const;
    std::vector<long long> numbers(const wchar_t* name, const std::vector<long long>& fallback) const;

private:
    std::vector<std::pair<std::wstring, std::wstring>> values_;
};

// Seconds taken by work, by the performance counter.
double seconds(const std::function<void()>& work);
// The median of at least one sample.
double median(std::vector<double> samples);
// Runs work reps times and gives the median of its seconds.
double median_seconds(int reps, const std::function<void()>& work);

// A fresh folder under the temporary folder, removed with what it holds on destruction.
class scratch {
public:
    explicit scratch(const std::wstring& tag);
    ~scratch();
    scratch(const scratch&) = delete;
    scratch& operator=(const scratch&) = delete;
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// "16 MiB", "256 KiB".
std::string size_text(long long kib);

// Bytes that do not compress to nothing: the same for every run.
std::vector<unsigned char> filler(size_t size);

// One row of the table. subject and baseline are in unit; ratio is subject / baseline.
struct row {
    std::string bench;     // which benchmark, e.g. "2 store write"
    std::string what;      // the case measured, e.g. "64 MiB"
    std::string unit;      // "s", "us/item", "x", "MiB/s"
    std::string subject;   // what is measured
    double subject_value = 0;
    std::string baseline;  // what it is set against (empty: no baseline)
    double baseline_value = 0;
    std::string note;      // anything else worth printing
};
void print(const row& r);
// The growth row of a listing benchmark: how the last size's time grew over the one before it, for
// subject and baseline; times[i] belongs to sizes[i]. Nothing is printed for fewer than two sizes.
void print_growth(const std::string& bench, const std::vector<long long>& sizes, const std::string& subject,
                  const std::vector<double>& subject_times, const std::vector<double>& baseline_times);
// A row that could not be measured, with why.
void print_failure(const std::string& bench, const std::string& what, const std::string& why);

// Runs one benchmark's work; a failure (a std::exception or a failed server call) is printed as its row's failure.
// Returns 1 on failure, else 0.
int attempt(const char* bench, const std::function<void()>& work);

// Throws a std::runtime_error naming step and hr when hr failed.
void check(HRESULT hr, const char* step);

std::string narrow(const std::wstring& text);

}  // namespace bench
