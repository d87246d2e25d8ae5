// Texts that several parts of the certificate manager show.
#pragma once

inline constexpr wchar_t kManagerCaption[] = L"Orrisafe Certificates Manager";
inline constexpr wchar_t kErrorPrefix[] = L"An error has occured:\n\n";
