// Definitions of the well-known key symbols declared in korvo_keys.h.
#include "properties/korvo_keys.h"

#define KORVO_DEFINE_KEY(symbol, text) const char *const symbol = text;
KORVO_KEY_LIST(KORVO_DEFINE_KEY)
#undef KORVO_DEFINE_KEY
