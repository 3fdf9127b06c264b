// The local time text of progress output.
#include <ctime>

#include "records/korvo_time.h"

extern "C" {

size_t time_to_string(char *buffer, size_t size, const time_t *seconds) {
    if (buffer == nullptr || seconds == nullptr || size == 0)
        return 0;
    // Follow the zone the environment names now, as localtime does.
    tzset();
    std::tm local{};
    if (localtime_r(seconds, &local) == nullptr)
        return 0;
    return std::strftime(buffer, size, "%Y/%m/%d %H:%M:%S ", &local);
}
}
