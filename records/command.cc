// Names of the stream command codes.
#include "records/korvo_command.h"

extern "C" {

const char *decode_command(int32_t code) {
    static const char *const kNames[] = {"NULL", "DATA", "CANCEL", "PAUSE", "EXPIRE", "ROAM"};
    constexpr int32_t kCount = sizeof kNames / sizeof kNames[0];
    return code >= 0 && code < kCount ? kNames[code] : nullptr;
}
}
