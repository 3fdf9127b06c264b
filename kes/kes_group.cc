// File groups: not supported on any host. Nothing is read or written.
#include "kes/kes_acl.h"
#include "kes/kes_status.hpp"

using korvo::kes::FillStatus;

extern "C" {

KesStatus *KesFileSetGroup(KesStatus *status, const char *, const char *) {
    return FillStatus(status, KES_UNSUPPORTED, 0, 0);
}

KesStatus *KesFileGetGroup(KesStatus *status, char *, const char *, size_t) {
    return FillStatus(status, KES_UNSUPPORTED, 0, 0);
}
}
