// The parameter check shared by the depot operations.
#include "depot/depot_prelude.hpp"

namespace korvo::depot {

void LogInvalidParameter(const char *op) {
    Logger(kFailureLevel, "%s exit.  Invalid parameter\n", op);
}

}  // namespace korvo::depot
