#include "skin_resources.h"

#include <QtGlobal>
#include <mutex>

// Q_INIT_RESOURCE declares the registration function in the namespace it is used in, so this
// stays in the global one.
static void RegisterSkinResources() {
    Q_INIT_RESOURCE(skin);
}

void InitSkinResources() {
    static std::once_flag once;
    std::call_once(once, RegisterSkinResources);
}
