// Reaches up into the layer above: the layer check must refuse this file.
#include "high/b.h"
#include "low/a.h"
#include <vector>
