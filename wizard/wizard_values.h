// The value map in which the wizard's pages leave what the user entered.
#pragma once
#include <windows.h>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

// Keys of the value map.
enum WizardValueKey : int32_t {
    StoragePathValue = 0,
    KeyFilePathValue = 1,
    KeySavingOptionValue = 2,
    CommonNameValue = 3,
    PasswordValue = 4,
    EndDateValue = 5,
    EmailValue = 6,
    CountryValue = 7,
    StateValue = 8,
    LocalityValue = 9,
    StreetValue = 10,
    OrganizationValue = 11,
    OrganizationalUnitValue = 12,
};

class CWizardValue {
public:
    virtual ~CWizardValue() = default;
    virtual void* Get() = 0;
    virtual CWizardValue* Clone() const = 0;
};

template <class T>
class CTypedValue : public CWizardValue {
public:
    explicit CTypedValue(T value) : value_(std::move(value)) {}
    void* Get() override { return &value_; }
    CWizardValue* Clone() const override { return new CTypedValue(value_); }
    const T& value() const { return value_; }

private:
    T value_;
};

using CTextValue = CTypedValue<std::wstring>;
using CIntValue = CTypedValue<int32_t>;
using CDateValue = CTypedValue<SYSTEMTIME>;

// An ordered map from key to one owned value; looking a key up creates an empty holder.
class CWizardValues {
public:
    std::unique_ptr<CWizardValue>& operator[](int32_t key) { return values_[key]; }

    void SetText(int32_t key, std::wstring text) { values_[key].reset(new CTextValue(std::move(text))); }
    void SetInt(int32_t key, int32_t value) { values_[key].reset(new CIntValue(value)); }
    void SetDate(int32_t key, const SYSTEMTIME& date) { values_[key].reset(new CDateValue(date)); }

    // Typed reads; null when the key holds no value.
    const std::wstring* Text(int32_t key) { return static_cast<const std::wstring*>(Raw(key)); }
    const int32_t* Int(int32_t key) { return static_cast<const int32_t*>(Raw(key)); }
    const SYSTEMTIME* Date(int32_t key) { return static_cast<const SYSTEMTIME*>(Raw(key)); }
    // The text of a key, empty when absent.
    std::wstring TextOr(int32_t key) {
        const std::wstring* text = Text(key);
        return text ? *text : std::wstring();
    }

private:
    void* Raw(int32_t key) {
        auto& holder = values_[key];
        return holder ? holder->Get() : nullptr;
    }
    std::map<int32_t, std::unique_ptr<CWizardValue>> values_;
};
