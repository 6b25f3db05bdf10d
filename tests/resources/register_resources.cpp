// Registers the compiled-in resources once, before any test of the program runs.
#include "skin_resources.h"

namespace {

const bool kResourcesRegistered = [] {
    InitSkinResources();
    return true;
}();

}  // namespace
