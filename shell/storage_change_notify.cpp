#include "storage_change_notify.h"

#include <atomic>

#include <server/idl/storage_identities.h>
#include "id_list.h"
#include "storage_item_path.h"

namespace {

std::atomic<change_notify_sink> current_sink{nullptr};

struct change_events {
    LONG folder;
    LONG file;
};

constexpr change_events events[] = {
    {SHCNE_MKDIR, SHCNE_CREATE},
    {SHCNE_RMDIR, SHCNE_DELETE},
    {SHCNE_RENAMEFOLDER, SHCNE_RENAMEITEM},
    {SHCNE_UPDATEDIR, SHCNE_UPDATEITEM},
};

}  // namespace

void NotifyStorageChange(StorageChange kind, const ITEMIDLIST* root, const ITEMIDLIST* first,
                         const ITEMIDLIST* second) {
    const int index = static_cast<int>(kind);
    if (index < 0 || index > 3) return;
    const bool folder = IdListsEqual(first, root) || LastStorageItem(first)->type == FolderElementType;
    const LONG event = folder ? events[index].folder : events[index].file;
    change_notify_sink sink = current_sink.load();
    if (!sink) sink = &SHChangeNotify;
    sink(event, SHCNF_IDLIST | SHCNF_FLUSH, first, kind == StorageChange::rename ? second : nullptr);
}

change_notify_sink SetChangeNotifySink(change_notify_sink sink) noexcept { return current_sink.exchange(sink); }
