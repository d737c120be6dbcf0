#include "platform/classlib/CmdTarget.h"

const MESSAGE_MAP* CCmdTarget::GetThisMessageMap() {
    static const MSGMAP_ENTRY entries[] = {{0, 0, nullptr}};
    static const MESSAGE_MAP map = {nullptr, entries};
    return &map;
}

const MESSAGE_MAP* CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

const MSGMAP_ENTRY* CCmdTarget::FindMessageEntry(UINT message, UINT id) const {
    for (const MESSAGE_MAP* map = GetMessageMap(); map; map = map->base ? map->base() : nullptr) {
        for (const MSGMAP_ENTRY* entry = map->entries; entry->handler; ++entry) {
            if (entry->message == message && entry->id == id) return entry;
        }
    }
    return nullptr;
}
