// The parameter check and the walk opening shared by the depot operations.
#include "depot/depot_prelude.hpp"

namespace korvo::depot {

void LogInvalidParameter(const char *op) {
    Logger(LOG_LEVEL_FAILURE, "%s exit.  Invalid parameter\n", op);
}

DepotEntryEnum *OpenWalk(KesStatus *status, Depot *depot, LockHold &depotHold, const char *op) {
    DepotEntryEnum *walk = nullptr;
    if (DepotEnumNew(status, depot, &walk)->code != KES_OK) {
        depotHold.release();
        Logger(LOG_LEVEL_FAILURE, "%s exit.  Error %d creating enumerator\n", op, status->code);
        return nullptr;
    }
    return walk;
}

void CloseWalk(DepotEntryEnum *walk) {
    KesStatus ended;
    DepotEntryEnumDelete(&ended, walk);
}

}  // namespace korvo::depot
