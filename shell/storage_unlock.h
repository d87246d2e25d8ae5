// Unlocking a storage's content key for a folder that opened it: the key certificate is the one installed in the
// user's "MY" store under the storage's key identifier, or else the storage's attached key, opened with the
// password the user gives; the content key is deciphered with it and entered in the process's key map.
#pragma once
#include <windows.h>
#include <orrisafe.h>

#include <tools/auto_handle.h>
#include <tools/certificates.h>

// The storage's installed key: the certificate in the user's "MY" store whose key identifier is the storage's
// KeyIdentifierProperty; empty when there is none.
tools::auto_cert_context FindInstalledKey(IStorageElement* root);

// Whether the certificate's private key deciphers the storage's content key, as the unlock does: false for a
// certificate without its private key, or with a key that is not its own.
bool UnlocksContentKey(const tools::cert_record& cert, IStorageElement* root);

// Makes the storage's content key available in CStorageKeyMap: counted up when it already is, else unlocked
// and registered. On return the caller holds one reference to the entry, which it gives back with
// CStorageKeyMap::Release. The password prompt and its warnings are owned by owner when that window belongs to
// the calling thread, else by no window. A key container imported from the attached key is deleted on every
// path. When no key unlocks the storage (none installed, no key attached, a wrong key, the prompt cancelled)
// the map is left unchanged and the COM error E_ACCESSDENIED is raised; server failures raise their own.
void UnlockStorage(HWND owner, IStorageFolder* root, const GUID& storage_id);
