#include "server_calls.h"

#include <tools/com_error.h>

namespace {

// The COM error of a failed call, with the object's error information for the declaring interface.
[[noreturn]] void raise(HRESULT hr, IUnknown* object, REFIID iid) {
    _com_issue_errorex(hr, object, iid);
    throw _com_error(hr);  // only reached when someone installed an error handler that does not throw
}

// Calls a slot of object, which must be there, and raises a failure; the result is handed back. Slots of
// IStorageElement reached through a folder or a file pointer are called as IStorageElement's, so the
// error names the interface that declares them.
template <class I, class Call>
HRESULT call(I* object, Call&& slot) {
    if (!object) raise(E_POINTER, nullptr, __uuidof(I));
    HRESULT hr = slot(object);
    if (FAILED(hr)) raise(hr, object, __uuidof(I));
    return hr;
}

template <class Out, class I, class Call>
server_ptr<Out> call_for(I* object, Call&& slot) {
    server_ptr<Out> out;
    call(object, [&](I* o) { return slot(o, out.put()); });
    return out;
}

template <class I>
long type_of(I* object) {
    long type = 0;
    call(object, [&](I* o) { return o->GetType(&type); });
    return type;
}

template <class I>
tools::bstr name_of(I* object) {
    tools::bstr name;
    call(object, [&](I* o) { return o->GetName(name.put()); });
    return name;
}

template <class I>
ElementTimes times_of(I* object) {
    ElementTimes times{};
    call(object, [&](I* o) { return o->GetTimes(&times); });
    return times;
}

template <class I>
UINT64 size_of(I* object) {
    UINT64 size = 0;
    call(object, [&](I* o) { return o->GetSize(&size); });
    return size;
}

}  // namespace

server_ptr<IStorageFolder> OpenStorageOrThrow(IStorageServer* server, const tools::bstr& path) {
    return call_for<IStorageFolder>(server, [&](IStorageServer* s, IStorageFolder** out) { return s->OpenStorage(path, out); });
}

HRESULT CloseStorageOrThrow(IStorageServer* server, const tools::bstr& path) {
    return call(server, [&](IStorageServer* s) { return s->CloseStorage(path); });
}

bool IsStorageOpenOrThrow(IStorageServer* server, const tools::bstr& path) {
    VARIANT_BOOL open = VARIANT_FALSE;
    call(server, [&](IStorageServer* s) { return s->IsStorageOpen(path, &open); });
    return open != VARIANT_FALSE;
}

HRESULT DefragmentOrThrow(IStorageServer* server, const tools::bstr& path) {
    return call(server, [&](IStorageServer* s) { return s->Defragment(path); });
}

HRESULT WatchFileOrThrow(IStorageServer* server, const tools::bstr& path, bool watch) {
    return call(server, [&](IStorageServer* s) { return s->WatchFile(path, watch ? VARIANT_TRUE : VARIANT_FALSE); });
}

long GetWatchStateOrThrow(IStorageServer* server, const tools::bstr& path) {
    long state = 0;
    call(server, [&](IStorageServer* s) { return s->GetWatchState(path, &state); });
    return state;
}

long GetTypeOrThrow(IStorageElement* element) { return type_of(element); }
tools::bstr GetNameOrThrow(IStorageElement* element) { return name_of(element); }
ElementTimes GetTimesOrThrow(IStorageElement* element) { return times_of(element); }
UINT64 GetSizeOrThrow(IStorageElement* element) { return size_of(element); }

server_ptr<IStorageFolder> DetachParentOrThrow(IStorageElement* element) {
    return call_for<IStorageFolder>(element, [](IStorageElement* e, IStorageFolder** out) { return e->DetachParent(out); });
}

tools::auto_variant GetStorageProperty(IStorageElement* element, const GUID& key) {
    tools::auto_variant value;
    call(element, [&](IStorageElement* e) { return e->GetProperty(key, value.put()); });
    return value;
}

HRESULT SetPropertyOrThrow(IStorageElement* element, const GUID& key, const VARIANT& value) {
    return call(element, [&](IStorageElement* e) { return e->SetProperty(key, value); });
}

HRESULT DeletePropertyOrThrow(IStorageElement* element, const GUID& key) {
    return call(element, [&](IStorageElement* e) { return e->DeleteProperty(key); });
}

bool IsRootOrThrow(IStorageFolder* folder) {
    VARIANT_BOOL root = VARIANT_FALSE;
    call(folder, [&](IStorageFolder* f) { return f->IsRoot(&root); });
    return root != VARIANT_FALSE;
}

server_ptr<IElementEnum> EnumElementsOrThrow(IStorageFolder* folder) {
    return call_for<IElementEnum>(folder, [](IStorageFolder* f, IElementEnum** out) { return f->EnumElements(out); });
}

server_ptr<IStorageFolder> OpenFolderOrThrow(IStorageFolder* folder, const tools::bstr& name, VARIANT_BOOL create) {
    return call_for<IStorageFolder>(folder, [&](IStorageFolder* f, IStorageFolder** out) { return f->OpenFolder(name, create, out); });
}

server_ptr<IStorageFile> OpenFileOrThrow(IStorageFolder* folder, const tools::bstr& name, VARIANT_BOOL create) {
    return call_for<IStorageFile>(folder, [&](IStorageFolder* f, IStorageFile** out) { return f->OpenFile(name, create, out); });
}

server_ptr<IStorageFile> OpenExistingFileOrThrow(IStorageFolder* folder, const tools::bstr& name) {
    server_ptr<IStorageFile> file;
    call(folder, [&](IStorageFolder* f) {
        const HRESULT hr = f->OpenFile(name, VARIANT_FALSE, file.put());
        return hr == STG_E_FILENOTFOUND ? S_FALSE : hr;
    });
    return file;
}

HRESULT RenameElementOrThrow(IStorageFolder* folder, const tools::bstr& old_name, const tools::bstr& new_name) {
    return call(folder, [&](IStorageFolder* f) { return f->RenameElement(old_name, new_name); });
}

HRESULT DeleteElementOrThrow(IStorageFolder* folder, const tools::bstr& name) {
    return call(folder, [&](IStorageFolder* f) { return f->DeleteElement(name); });
}

server_ptr<IStorageElement> FindElementOrThrow(IStorageFolder* folder, const tools::bstr& path) {
    return call_for<IStorageElement>(folder, [&](IStorageFolder* f, IStorageElement** out) { return f->FindElement(path, out); });
}

server_ptr<IElementInfo> FindElementInfoOrThrow(IStorageFolder* folder, const tools::bstr& path) {
    return call_for<IElementInfo>(folder, [&](IStorageFolder* f, IElementInfo** out) { return f->FindElementInfo(path, out); });
}

HRESULT SetTimesOrThrow(IStorageFile* file, const ElementTimes& times) {
    return call(file, [&](IStorageFile* f) { return f->SetTimes(times); });
}

server_ptr<IStream> GetStreamOrThrow(IStorageFile* file) {
    return call_for<IStream>(file, [](IStorageFile* f, IStream** out) { return f->GetStream(out); });
}

StreamDigest GetDigestOrThrow(IStorageFile* file) {
    StreamDigest digest{};
    call(file, [&](IStorageFile* f) { return f->GetDigest(&digest); });
    return digest;
}

server_ptr<IElementInfo> NextOrThrow(IElementEnum* elements) {
    return call_for<IElementInfo>(elements, [](IElementEnum* e, IElementInfo** out) { return e->Next(out); });
}

HRESULT ResetOrThrow(IElementEnum* elements) {
    return call(elements, [](IElementEnum* e) { return e->Reset(); });
}

long GetTypeOrThrow(IElementInfo* info) { return type_of(info); }
tools::bstr GetNameOrThrow(IElementInfo* info) { return name_of(info); }
ElementTimes GetTimesOrThrow(IElementInfo* info) { return times_of(info); }
UINT64 GetSizeOrThrow(IElementInfo* info) { return size_of(info); }
