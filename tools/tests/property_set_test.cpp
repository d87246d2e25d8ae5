#include <doctest.h>
#include "compound_file.h"
#include "test_support.h"

#include <platform/property_set_format.h>
#include <platform/property_set_name.h>
#include <platform/property_set_storage.h>
#include <platform/property_storage.h>
#include <tools/text.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace {

constexpr DWORD set_mode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

tools::interface_holder<IPropertySetStorage> our_sets(IStorage* storage) {
    tools::interface_holder<IPropertySetStorage> sets;
    REQUIRE(platform::property_set_storage(storage, sets.put()) == S_OK);
    return sets;
}

PROPSPEC named(const std::wstring& name) {
    PROPSPEC spec{};
    spec.ulKind = PRSPEC_LPWSTR;
    spec.lpwstr = const_cast<LPOLESTR>(name.c_str());
    return spec;
}

// One value of every type the layer must carry, each under a 38-character GUID-text name.
struct sample_values {
    std::vector<std::wstring> names;
    std::vector<PROPVARIANT> values;
    BYTE blob[5] = {1, 2, 0, 254, 255};
    explicit sample_values(bool with_bool) {
        auto add = [&](PROPVARIANT v) {
            names.push_back(tools::guid_to_string(tools::new_guid()));
            values.push_back(v);
        };
        PROPVARIANT v;
        PropVariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(L"Report.txt!");  // odd length
        add(v);
        PropVariantInit(&v);
        v.vt = VT_LPWSTR;
        v.pwszVal = static_cast<LPWSTR>(CoTaskMemAlloc(8 * sizeof(wchar_t)));
        std::memcpy(v.pwszVal, L"\u00e9t\u00e9 ok", 7 * sizeof(wchar_t));
        v.pwszVal[7] = 0;
        v.pwszVal[6] = L'!';
        add(v);
        if (with_bool) {
            PropVariantInit(&v);
            v.vt = VT_BOOL;
            v.boolVal = VARIANT_TRUE;
            add(v);
            PropVariantInit(&v);
            v.vt = VT_BOOL;
            v.boolVal = VARIANT_FALSE;
            add(v);
        }
        PropVariantInit(&v);
        v.vt = VT_I2;
        v.iVal = -1234;
        add(v);
        PropVariantInit(&v);
        v.vt = VT_I4;
        v.lVal = -123456789;
        add(v);
        PropVariantInit(&v);
        v.vt = VT_UI4;
        v.ulVal = 0xF0E0D0C0;
        add(v);
        PropVariantInit(&v);
        v.vt = VT_UI8;
        v.uhVal.QuadPart = 0x0123456789ABCDEFull;
        add(v);
        PropVariantInit(&v);
        v.vt = VT_FILETIME;
        v.filetime.dwLowDateTime = 0x89ABCDEF;
        v.filetime.dwHighDateTime = 0x01D9F00D;
        add(v);
        PropVariantInit(&v);
        v.vt = VT_BLOB;
        v.blob.cbSize = sizeof blob;
        v.blob.pBlobData = static_cast<BYTE*>(CoTaskMemAlloc(sizeof blob));
        std::memcpy(v.blob.pBlobData, blob, sizeof blob);
        add(v);
    }
    ~sample_values() {
        for (auto& v : values) PropVariantClear(&v);
    }
    std::vector<PROPSPEC> specs() const {
        std::vector<PROPSPEC> s;
        for (const auto& n : names) s.push_back(named(n));
        return s;
    }
};

// Wine's reader counts a string's stored terminator into the BSTR it returns (its own sets read the
// same way); Windows does not. Where Wine reads, one trailing NUL is not part of the value.
bool same_value(const PROPVARIANT& a, const PROPVARIANT& b, bool read_by_wine = false) {
    if (a.vt != b.vt) return false;
    switch (a.vt) {
        case VT_BSTR: {
            std::wstring text = testing::bstr_text(a);
            if (read_by_wine && !text.empty() && text.back() == L'\0') text.pop_back();
            return text == testing::bstr_text(b);
        }
        case VT_LPWSTR: return std::wstring(a.pwszVal) == b.pwszVal;
        case VT_BOOL: return a.boolVal == b.boolVal;
        case VT_I2: return a.iVal == b.iVal;
        case VT_I4: case VT_UI4: return a.ulVal == b.ulVal;
        case VT_UI8: return a.uhVal.QuadPart == b.uhVal.QuadPart;
        case VT_FILETIME: return std::memcmp(&a.filetime, &b.filetime, sizeof(FILETIME)) == 0;
        case VT_BLOB: return a.blob.cbSize == b.blob.cbSize && std::memcmp(a.blob.pBlobData, b.blob.pBlobData, a.blob.cbSize) == 0;
        default: return false;
    }
}

void check_reads(IPropertyStorage* set, const sample_values& sample, bool read_by_wine = false) {
    auto specs = sample.specs();
    std::vector<PROPVARIANT> read(specs.size());
    REQUIRE(set->ReadMultiple(static_cast<ULONG>(specs.size()), specs.data(), read.data()) == S_OK);
    for (size_t i = 0; i < specs.size(); ++i) {
        INFO("value of type " << sample.values[i].vt << " read as " << read[i].vt);
        CHECK(same_value(read[i], sample.values[i], read_by_wine));
        PropVariantClear(&read[i]);
    }
}

const GUID some_fmtid = {0x2F808BAE, 0xBF2C, 0x4192, {0xBC, 0xE2, 0x48, 0xC6, 0xA4, 0x0E, 0x54, 0x6F}};

}  // namespace

TEST_CASE("property-set stream names are the platform's, and turn back into their FMTID") {
    std::vector<GUID> ids = {GUID_NULL, some_fmtid, FMTID_SummaryInformation, FMTID_DocSummaryInformation};
    GUID all_ones;
    std::memset(&all_ones, 0xFF, sizeof all_ones);
    ids.push_back(all_ones);
    for (int i = 0; i < 20; ++i) ids.push_back(tools::new_guid());
    for (const GUID& id : ids) {
        INFO(tools::to_narrow(tools::guid_to_string(id)));
        wchar_t wine[64] = {};
        REQUIRE(FmtIdToPropStgName(&id, wine) == S_OK);
        std::wstring ours = platform::property_set_stream_name(id);
        INFO(tools::to_narrow(ours.substr(1)) << " / " << tools::to_narrow(wine));
        CHECK(ours == wine);
        GUID back{};
        REQUIRE(platform::property_set_fmtid(ours.c_str(), &back));
        CHECK(IsEqualGUID(back, id));
    }
    CHECK(platform::property_set_stream_name(GUID_NULL) == L"\005AaaaaaaaAaaaaaaaAaaaaaaaAa");
    GUID out;
    CHECK_FALSE(platform::property_set_fmtid(L"\005Aaaa", &out));
    CHECK_FALSE(platform::property_set_fmtid(L"AaaaaaaaaAaaaaaaaAaaaaaaaAa", &out));
    CHECK_FALSE(platform::property_set_fmtid(L"\005AaaaaaaaAaaaaaaaAaaaaaaaAz", &out));  // more than 128 bits
    CHECK_FALSE(platform::property_set_fmtid(L"\005Aaaaaaaa!aaaaaaaAaaaaaaaAa", &out));
}

TEST_CASE("Wine's reader reads every type our sets write, VT_BOOL included, after the file is closed") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"ours.stg");
    sample_values sample(true);
    {
        auto storage = testing::create_docfile(path);
        auto sets = our_sets(storage.get());
        tools::interface_holder<IPropertyStorage> set;
        REQUIRE(sets->Create(some_fmtid, &CLSID_NULL, PROPSETFLAG_DEFAULT, set_mode, set.put()) == S_OK);
        auto specs = sample.specs();
        REQUIRE(set->WriteMultiple(static_cast<ULONG>(specs.size()), specs.data(), sample.values.data(), 2) == S_OK);
        // Creating a set that exists is refused without STGM_CREATE, as on the platform.
        tools::interface_holder<IPropertyStorage> again;
        CHECK(sets->Create(some_fmtid, &CLSID_NULL, PROPSETFLAG_DEFAULT, set_mode, again.put()) == STG_E_FILEALREADYEXISTS);
    }
    auto storage = testing::open_docfile(path);
    auto wine = testing::wine_sets(storage.get());
    tools::interface_holder<IPropertyStorage> set;
    REQUIRE(wine->Open(some_fmtid, set_mode, set.put()) == S_OK);
    check_reads(set.get(), sample, true);
    STATPROPSETSTG stat{};
    REQUIRE(set->Stat(&stat) == S_OK);
    CHECK(IsEqualGUID(stat.fmtid, some_fmtid));
    // The code page is the Unicode one.
    PROPSPEC cp{};
    cp.ulKind = PRSPEC_PROPID;
    cp.propid = 1;
    PROPVARIANT value;
    PropVariantInit(&value);
    REQUIRE(set->ReadMultiple(1, &cp, &value) == S_OK);
    CHECK(value.vt == VT_I2);
    CHECK(value.iVal == 1200);
}

TEST_CASE("our sets read what Wine's writes, and keep it when they add to it") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"wine.stg");
    sample_values sample(false);  // Wine cannot write VT_BOOL
    {
        auto storage = testing::create_docfile(path);
        auto wine = testing::wine_sets(storage.get());
        tools::interface_holder<IPropertyStorage> set;
        REQUIRE(wine->Create(some_fmtid, &CLSID_NULL, PROPSETFLAG_DEFAULT, STGM_CREATE | set_mode, set.put()) == S_OK);
        auto specs = sample.specs();
        REQUIRE(set->WriteMultiple(static_cast<ULONG>(specs.size()), specs.data(), sample.values.data(), 2) == S_OK);
        REQUIRE(set->Commit(STGC_DEFAULT) == S_OK);
    }
    std::wstring added = tools::guid_to_string(tools::new_guid());
    {
        auto storage = testing::open_docfile(path);
        auto sets = our_sets(storage.get());
        tools::interface_holder<IPropertyStorage> set;
        REQUIRE(sets->Open(some_fmtid, set_mode, set.put()) == S_OK);
        check_reads(set.get(), sample);

        // Enumeration lists each property under its name.
        IEnumSTATPROPSTG* e = nullptr;
        REQUIRE(set->Enum(&e) == S_OK);
        std::vector<std::wstring> listed;
        STATPROPSTG stat{};
        while (e->Next(1, &stat, nullptr) == S_OK) {
            listed.push_back(stat.lpwstrName ? stat.lpwstrName : L"");
            CoTaskMemFree(stat.lpwstrName);
        }
        e->Release();
        std::sort(listed.begin(), listed.end());
        auto expected = sample.names;
        std::sort(expected.begin(), expected.end());
        CHECK(listed == expected);

        PROPSPEC spec = named(added);
        PROPVARIANT flag;
        PropVariantInit(&flag);
        flag.vt = VT_BOOL;
        flag.boolVal = VARIANT_TRUE;
        REQUIRE(set->WriteMultiple(1, &spec, &flag, 2) == S_OK);
    }
    auto storage = testing::open_docfile(path);
    auto wine = testing::wine_sets(storage.get());
    tools::interface_holder<IPropertyStorage> set;
    REQUIRE(wine->Open(some_fmtid, set_mode, set.put()) == S_OK);
    check_reads(set.get(), sample, true);
    PROPSPEC spec = named(added);
    PROPVARIANT flag;
    PropVariantInit(&flag);
    REQUIRE(set->ReadMultiple(1, &spec, &flag) == S_OK);
    CHECK(flag.vt == VT_BOOL);
    CHECK(flag.boolVal == VARIANT_TRUE);
}

TEST_CASE("reading, replacing and deleting properties") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    auto storage = testing::create_docfile(dir.file(L"edit.stg"));
    auto sets = our_sets(storage.get());
    tools::interface_holder<IPropertyStorage> set;
    REQUIRE(sets->Create(GUID_NULL, nullptr, PROPSETFLAG_DEFAULT, set_mode, set.put()) == S_OK);
    std::wstring name = tools::guid_to_string(some_fmtid);
    PROPSPEC spec = named(name);
    PROPVARIANT value;
    PropVariantInit(&value);
    CHECK(set->ReadMultiple(1, &spec, &value) == S_FALSE);
    CHECK(value.vt == VT_EMPTY);

    value.vt = VT_I4;
    value.lVal = 1;
    REQUIRE(set->WriteMultiple(1, &spec, &value, 2) == S_OK);
    value.lVal = 2;
    REQUIRE(set->WriteMultiple(1, &spec, &value, 2) == S_OK);
    std::wstring lower_name = name;
    for (auto& c : lower_name) c = towlower(c);
    PROPSPEC lower = named(lower_name);  // names match without regard to case
    PROPVARIANT read;
    PropVariantInit(&read);
    REQUIRE(set->ReadMultiple(1, &lower, &read) == S_OK);
    CHECK(read.vt == VT_I4);
    CHECK(read.lVal == 2);

    // A type the format cannot carry is refused and changes nothing.
    PROPVARIANT bad;
    PropVariantInit(&bad);
    bad.vt = VT_UNKNOWN;
    CHECK(FAILED(set->WriteMultiple(1, &spec, &bad, 2)));
    REQUIRE(set->ReadMultiple(1, &spec, &read) == S_OK);
    CHECK(read.lVal == 2);
    PROPSPEC dictionary{};
    dictionary.ulKind = PRSPEC_PROPID;
    dictionary.propid = 0;
    CHECK(set->WriteMultiple(1, &dictionary, &value, 2) == STG_E_INVALIDPARAMETER);

    REQUIRE(set->DeleteMultiple(1, &spec) == S_OK);
    CHECK(set->ReadMultiple(1, &spec, &read) == S_FALSE);
    CHECK(read.vt == VT_EMPTY);
    set.reset();
    CHECK(sets->Delete(GUID_NULL) == S_OK);
    CHECK(sets->Open(GUID_NULL, set_mode, set.put()) == STG_E_FILENOTFOUND);
}

namespace {

// A memory stream whose writes start failing on demand.
class failing_stream final : public IStream {
public:
    failing_stream() { CreateStreamOnHGlobal(nullptr, TRUE, &inner_); }
    ~failing_stream() { inner_->Release(); }
    bool fail = false;
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IStream) || IsEqualIID(iid, IID_ISequentialStream)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override { return --refs_; }
    STDMETHODIMP Read(void* p, ULONG n, ULONG* r) override { return inner_->Read(p, n, r); }
    STDMETHODIMP Write(const void* p, ULONG n, ULONG* w) override {
        if (fail) return STG_E_MEDIUMFULL;
        return inner_->Write(p, n, w);
    }
    STDMETHODIMP Seek(LARGE_INTEGER d, DWORD o, ULARGE_INTEGER* p) override { return inner_->Seek(d, o, p); }
    STDMETHODIMP SetSize(ULARGE_INTEGER s) override { return inner_->SetSize(s); }
    STDMETHODIMP CopyTo(IStream* s, ULARGE_INTEGER n, ULARGE_INTEGER* r, ULARGE_INTEGER* w) override { return inner_->CopyTo(s, n, r, w); }
    STDMETHODIMP Commit(DWORD f) override { return inner_->Commit(f); }
    STDMETHODIMP Revert() override { return inner_->Revert(); }
    STDMETHODIMP LockRegion(ULARGE_INTEGER a, ULARGE_INTEGER b, DWORD c) override { return inner_->LockRegion(a, b, c); }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER a, ULARGE_INTEGER b, DWORD c) override { return inner_->UnlockRegion(a, b, c); }
    STDMETHODIMP Stat(STATSTG* s, DWORD f) override { return inner_->Stat(s, f); }
    STDMETHODIMP Clone(IStream** s) override { return inner_->Clone(s); }

private:
    IStream* inner_ = nullptr;
    LONG refs_ = 1;
};

}  // namespace

TEST_CASE("a write that fails is reported at once and leaves the set as it was") {
    failing_stream stream;
    tools::interface_holder<IPropertyStorage> set;
    REQUIRE(platform::make_property_storage(&stream, set_mode, platform::new_property_set(GUID_NULL, CLSID_NULL), set.put()) == S_OK);
    std::wstring name = tools::guid_to_string(some_fmtid);
    PROPSPEC spec = named(name);
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_BOOL;
    value.boolVal = VARIANT_TRUE;
    REQUIRE(set->WriteMultiple(1, &spec, &value, 2) == S_OK);
    stream.fail = true;
    value.boolVal = VARIANT_FALSE;
    CHECK(set->WriteMultiple(1, &spec, &value, 2) == STG_E_MEDIUMFULL);
    CHECK(set->DeleteMultiple(1, &spec) == STG_E_MEDIUMFULL);
    PROPVARIANT read;
    PropVariantInit(&read);
    REQUIRE(set->ReadMultiple(1, &spec, &read) == S_OK);
    CHECK(read.boolVal == VARIANT_TRUE);
}

// A stream on a full disk: it takes writes within the bytes it already has, and of a write that would grow
// it, only the part that fits, before it fails.
class full_disk_stream final : public IStream {
public:
    full_disk_stream() { CreateStreamOnHGlobal(nullptr, TRUE, &inner_); }
    ~full_disk_stream() { inner_->Release(); }
    void fill() {
        STATSTG stat{};
        inner_->Stat(&stat, STATFLAG_NONAME);
        limit_ = stat.cbSize.QuadPart;
    }
    std::vector<BYTE> bytes() {
        STATSTG stat{};
        inner_->Stat(&stat, STATFLAG_NONAME);
        std::vector<BYTE> all(static_cast<size_t>(stat.cbSize.QuadPart));
        LARGE_INTEGER zero{};
        ULARGE_INTEGER was{};
        inner_->Seek(zero, STREAM_SEEK_CUR, &was);
        inner_->Seek(zero, STREAM_SEEK_SET, nullptr);
        ULONG read = 0;
        if (!all.empty()) inner_->Read(all.data(), static_cast<ULONG>(all.size()), &read);
        LARGE_INTEGER back;
        back.QuadPart = static_cast<LONGLONG>(was.QuadPart);
        inner_->Seek(back, STREAM_SEEK_SET, nullptr);
        return all;
    }
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IStream) || IsEqualIID(iid, IID_ISequentialStream)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override { return --refs_; }
    STDMETHODIMP Read(void* p, ULONG n, ULONG* r) override { return inner_->Read(p, n, r); }
    STDMETHODIMP Write(const void* p, ULONG n, ULONG* w) override {
        LARGE_INTEGER zero{};
        ULARGE_INTEGER at{};
        inner_->Seek(zero, STREAM_SEEK_CUR, &at);
        if (at.QuadPart + n <= limit_) return inner_->Write(p, n, w);
        ULONG fits = at.QuadPart < limit_ ? static_cast<ULONG>(limit_ - at.QuadPart) : 0;
        ULONG written = 0;
        if (fits) inner_->Write(p, fits, &written);
        if (w) *w = written;
        return STG_E_MEDIUMFULL;
    }
    STDMETHODIMP Seek(LARGE_INTEGER d, DWORD o, ULARGE_INTEGER* p) override { return inner_->Seek(d, o, p); }
    STDMETHODIMP SetSize(ULARGE_INTEGER s) override { return s.QuadPart <= limit_ ? inner_->SetSize(s) : STG_E_MEDIUMFULL; }
    STDMETHODIMP CopyTo(IStream* s, ULARGE_INTEGER n, ULARGE_INTEGER* r, ULARGE_INTEGER* w) override { return inner_->CopyTo(s, n, r, w); }
    STDMETHODIMP Commit(DWORD f) override { return inner_->Commit(f); }
    STDMETHODIMP Revert() override { return inner_->Revert(); }
    STDMETHODIMP LockRegion(ULARGE_INTEGER a, ULARGE_INTEGER b, DWORD c) override { return inner_->LockRegion(a, b, c); }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER a, ULARGE_INTEGER b, DWORD c) override { return inner_->UnlockRegion(a, b, c); }
    STDMETHODIMP Stat(STATSTG* s, DWORD f) override { return inner_->Stat(s, f); }
    STDMETHODIMP Clone(IStream** s) override { return inner_->Clone(s); }

private:
    IStream* inner_ = nullptr;
    ULONGLONG limit_ = ~0ull;
    LONG refs_ = 1;
};

TEST_CASE("a write cut short by a full disk leaves the stream holding the set as it was") {
    full_disk_stream stream;
    tools::interface_holder<IPropertyStorage> set;
    REQUIRE(platform::make_property_storage(&stream, set_mode, platform::new_property_set(some_fmtid, CLSID_NULL), set.put()) == S_OK);
    std::wstring name = tools::guid_to_string(some_fmtid), other = tools::guid_to_string(GUID_NULL);
    PROPSPEC spec = named(name), other_spec = named(other);
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(L"Report.txt");
    REQUIRE(set->WriteMultiple(1, &spec, &value, 2) == S_OK);
    PropVariantClear(&value);
    stream.fill();

    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(std::wstring(300, L'x').c_str());
    CHECK(set->WriteMultiple(1, &other_spec, &value, 2) == STG_E_MEDIUMFULL);
    PropVariantClear(&value);

    // What a later open reads from the stream: the set before the failed write.
    std::vector<BYTE> bytes = stream.bytes();
    platform::property_set_image image;
    REQUIRE(platform::parse_property_set(bytes.data(), bytes.size(), image) == S_OK);
    REQUIRE(image.values.size() == 1);
    PROPVARIANT read;
    REQUIRE(platform::decode_property_value(image.values.begin()->second, image.code_page, &read) == S_OK);
    CHECK(testing::bstr_text(read) == L"Report.txt");
    PropVariantClear(&read);
}

TEST_CASE("a write that would make a set too big to be read again is refused and the set stays readable") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    auto storage = testing::create_docfile(dir.file(L"big.stg"));
    auto sets = our_sets(storage.get());
    std::wstring name = tools::guid_to_string(some_fmtid), other = tools::guid_to_string(GUID_NULL);
    PROPSPEC spec = named(name), other_spec = named(other);
    {
        tools::interface_holder<IPropertyStorage> set;
        REQUIRE(sets->Create(some_fmtid, nullptr, PROPSETFLAG_DEFAULT, set_mode, set.put()) == S_OK);
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = VT_BSTR;
        value.bstrVal = SysAllocString(L"Report.txt");
        REQUIRE(set->WriteMultiple(1, &spec, &value, 2) == S_OK);
        PropVariantClear(&value);
        // A value of 80 MB: more than a set that is read back may hold.
        value.vt = VT_BSTR;
        value.bstrVal = SysAllocStringLen(nullptr, 40u << 20);
        REQUIRE(value.bstrVal);
        std::fill(value.bstrVal, value.bstrVal + (40u << 20), L'x');
        CHECK(FAILED(set->WriteMultiple(1, &other_spec, &value, 2)));
        PropVariantClear(&value);
    }
    tools::interface_holder<IPropertyStorage> set;
    REQUIRE(sets->Open(some_fmtid, set_mode, set.put()) == S_OK);
    PROPVARIANT read;
    PropVariantInit(&read);
    REQUIRE(set->ReadMultiple(1, &spec, &read) == S_OK);
    CHECK(testing::bstr_text(read) == L"Report.txt");
    PropVariantClear(&read);
}

TEST_CASE("malformed set streams are refused, and no damaged stream is read outside its bytes") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    auto storage = testing::create_docfile(dir.file(L"bad.stg"));
    auto sets = our_sets(storage.get());
    sample_values sample(true);
    std::vector<BYTE> good;
    {
        tools::interface_holder<IPropertyStorage> set;
        REQUIRE(sets->Create(some_fmtid, nullptr, PROPSETFLAG_DEFAULT, set_mode, set.put()) == S_OK);
        auto specs = sample.specs();
        REQUIRE(set->WriteMultiple(static_cast<ULONG>(specs.size()), specs.data(), sample.values.data(), 2) == S_OK);
    }
    std::wstring name = platform::property_set_stream_name(some_fmtid);
    auto replace = [&](const std::vector<BYTE>& bytes) {
        tools::interface_holder<IStream> stream;
        REQUIRE(storage->CreateStream(name.c_str(), STGM_CREATE | set_mode, 0, 0, stream.put()) == S_OK);
        ULONG written = 0;
        if (!bytes.empty()) REQUIRE(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written) == S_OK);
    };
    {
        tools::interface_holder<IStream> stream;
        REQUIRE(storage->OpenStream(name.c_str(), nullptr, set_mode, 0, stream.put()) == S_OK);
        STATSTG stat{};
        stream->Stat(&stat, STATFLAG_NONAME);
        good.resize(static_cast<size_t>(stat.cbSize.QuadPart));
        ULONG read = 0;
        stream->Read(good.data(), static_cast<ULONG>(good.size()), &read);
    }
    auto open = [&]() {
        tools::interface_holder<IPropertyStorage> set;
        return sets->Open(some_fmtid, set_mode, set.put());
    };
    REQUIRE(open() == S_OK);

    auto patched = [&](size_t at, DWORD value) {
        auto bytes = good;
        std::memcpy(bytes.data() + at, &value, 4);
        return bytes;
    };
    DWORD section = 48;
    replace({});
    CHECK(open() == STG_E_INVALIDHEADER);
    replace(std::vector<BYTE>(good.begin(), good.begin() + 40));
    CHECK(open() == STG_E_INVALIDHEADER);
    replace(patched(0, 0x0000FEFF));  // byte order
    CHECK(open() == STG_E_INVALIDHEADER);
    replace(patched(24, 0));  // no section
    CHECK(open() == STG_E_INVALIDHEADER);
    replace(patched(44, 0x7FFFFFF0));  // section offset past the end
    CHECK(open() == STG_E_INVALIDHEADER);
    replace(patched(section, 0xFFFFFFF0));  // section size past the end
    CHECK(open() == STG_E_INVALIDHEADER);
    replace(patched(section + 4, 0x10000000));  // more properties than the section holds
    CHECK(open() == STG_E_INVALIDHEADER);
    replace(patched(section + 12, 0x00FFFFFF));  // first property's offset outside the section
    CHECK(open() == STG_E_INVALIDHEADER);
    std::vector<BYTE> other_fmtid = good;
    other_fmtid[28] ^= 1;
    replace(other_fmtid);
    CHECK(open() == STG_E_INVALIDHEADER);

    // Every truncation into the values (only the last value's padding may go missing), and many random
    // damages: refused or read, never a fault.
    for (size_t n = 0; n + 3 < good.size(); n += 3) {
        replace(std::vector<BYTE>(good.begin(), good.begin() + n));
        CHECK(FAILED(open()));
    }
    std::mt19937 random(12345);
    auto specs = sample.specs();
    int opened = 0;
    for (int round = 0; round < 300; ++round) {
        auto bytes = good;
        for (int k = 0; k < 4; ++k) bytes[random() % bytes.size()] = static_cast<BYTE>(random());
        replace(bytes);
        tools::interface_holder<IPropertyStorage> set;
        if (FAILED(sets->Open(some_fmtid, set_mode, set.put()))) continue;
        ++opened;
        std::vector<PROPVARIANT> read(specs.size());
        if (SUCCEEDED(set->ReadMultiple(static_cast<ULONG>(specs.size()), specs.data(), read.data())))
            for (auto& v : read) PropVariantClear(&v);
    }
    CHECK(opened > 0);
}

TEST_CASE("strings keep embedded NULs in our sets, and sets in an ANSI code page are read too") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"strings.stg");
    std::wstring key = tools::guid_to_string(some_fmtid);
    PROPSPEC spec = named(key);
    const GUID ansi_fmtid = {0x51189750, 0x0624, 0x4CC5, {0x8B, 0x61, 0x57, 0x2E, 0x58, 0x56, 0xC3, 0xEF}};
    {
        auto storage = testing::create_docfile(path);
        auto sets = our_sets(storage.get());
        tools::interface_holder<IPropertyStorage> set;
        REQUIRE(sets->Create(some_fmtid, nullptr, PROPSETFLAG_DEFAULT, set_mode, set.put()) == S_OK);
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = VT_BSTR;
        value.bstrVal = SysAllocStringLen(L"a\0b", 3);
        REQUIRE(set->WriteMultiple(1, &spec, &value, 2) == S_OK);
        PropVariantClear(&value);

        auto wine = testing::wine_sets(storage.get());
        tools::interface_holder<IPropertyStorage> ansi;
        REQUIRE(wine->Create(ansi_fmtid, nullptr, PROPSETFLAG_ANSI, STGM_CREATE | set_mode, ansi.put()) == S_OK);
        value.vt = VT_BSTR;
        value.bstrVal = SysAllocString(L"R\u00e9sum\u00e9");
        REQUIRE(ansi->WriteMultiple(1, &spec, &value, 2) == S_OK);
        PropVariantClear(&value);
        REQUIRE(ansi->Commit(STGC_DEFAULT) == S_OK);
    }
    auto storage = testing::open_docfile(path);
    auto sets = our_sets(storage.get());
    tools::interface_holder<IPropertyStorage> set;
    REQUIRE(sets->Open(some_fmtid, set_mode, set.put()) == S_OK);
    PROPVARIANT read;
    PropVariantInit(&read);
    REQUIRE(set->ReadMultiple(1, &spec, &read) == S_OK);
    CHECK(testing::bstr_text(read) == std::wstring(L"a\0b", 3));
    PropVariantClear(&read);

    tools::interface_holder<IPropertyStorage> ansi;
    REQUIRE(sets->Open(ansi_fmtid, set_mode, ansi.put()) == S_OK);
    STATPROPSETSTG stat{};
    REQUIRE(ansi->Stat(&stat) == S_OK);
    CHECK(stat.grfFlags == PROPSETFLAG_ANSI);
    REQUIRE(ansi->ReadMultiple(1, &spec, &read) == S_OK);
    CHECK(testing::bstr_text(read) == L"R\u00e9sum\u00e9");
    PropVariantClear(&read);
    // A value added to it is written in its code page, and Wine still reads the set.
    std::wstring other = tools::guid_to_string(ansi_fmtid);
    PROPSPEC other_spec = named(other);
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(L"caf\u00e9");
    REQUIRE(ansi->WriteMultiple(1, &other_spec, &value, 2) == S_OK);
    PropVariantClear(&value);
    ansi.reset();
    auto wine = testing::wine_sets(storage.get());
    REQUIRE(wine->Open(ansi_fmtid, set_mode, ansi.put()) == S_OK);
    REQUIRE(ansi->ReadMultiple(1, &other_spec, &read) == S_OK);
    std::wstring text = testing::bstr_text(read);
    if (!text.empty() && text.back() == L'\0') text.pop_back();
    CHECK(text == L"caf\u00e9");
    PropVariantClear(&read);
    REQUIRE(ansi->ReadMultiple(1, &spec, &read) == S_OK);
    text = testing::bstr_text(read);
    if (!text.empty() && text.back() == L'\0') text.pop_back();
    CHECK(text == L"R\u00e9sum\u00e9");
    PropVariantClear(&read);
}

TEST_CASE("a code-page set as 32-bit Wine writes it reads without the stray byte in its terminator's place") {
    // Code page 1252; one VT_BSTR "R\u00e9sum\u00e9" of size 7 whose last byte, the terminator's, is 0x14.
    const auto bytes = testing::from_hex(
        L"feff0000060102000000000000000000000000000000000001000000509718512406c54c8b61572e5856c3ef300000006c000000"
        L"0300000000000000200000000100000054000000020000005c0000000100000002000000270000007b32463830384241452d4246"
        L"32432d343139322d424345322d3438433641343045353436467d000002000000e4040000080000000700000052e973756de914");
    REQUIRE(bytes.size() == 155);
    const GUID fmtid = {0x51189750, 0x0624, 0x4CC5, {0x8B, 0x61, 0x57, 0x2E, 0x58, 0x56, 0xC3, 0xEF}};
    const std::wstring stream_name = platform::property_set_stream_name(fmtid);
    REQUIRE(stream_name == L"\005Q0frrireGirzufgmXslqflnyPh");

    testing::com_apartment com;
    testing::scratch_dir dir;
    auto storage = testing::create_docfile(dir.file(L"wine32.stg"));
    {
        tools::interface_holder<IStream> stream;
        REQUIRE(storage->CreateStream(stream_name.c_str(), set_mode, 0, 0, stream.put()) == S_OK);
        ULONG written = 0;
        REQUIRE(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written) == S_OK);
        REQUIRE(written == bytes.size());
    }
    auto sets = our_sets(storage.get());
    tools::interface_holder<IPropertyStorage> set;
    REQUIRE(sets->Open(fmtid, set_mode, set.put()) == S_OK);
    const std::wstring key = L"{2F808BAE-BF2C-4192-BCE2-48C6A40E546F}";
    PROPSPEC spec = named(key);
    PROPVARIANT read;
    PropVariantInit(&read);
    REQUIRE(set->ReadMultiple(1, &spec, &read) == S_OK);
    CHECK(read.vt == VT_BSTR);
    CHECK(testing::bstr_text(read) == L"R\u00e9sum\u00e9");
    PropVariantClear(&read);
    PROPID id = 2;
    LPOLESTR name = nullptr;
    REQUIRE(set->ReadPropertyNames(1, &id, &name) == S_OK);
    CHECK(std::wstring(name) == key);
    CoTaskMemFree(name);
}
