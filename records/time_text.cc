// The local time text of progress output.
#include <ctime>

#include "kes/host_time.hpp"
#include "records/korvo_time.h"

extern "C" {

size_t time_to_string(char *buffer, size_t size, const time_t *seconds) {
    if (buffer == nullptr || seconds == nullptr || size == 0)
        return 0;
    // The zone the environment names now, as localtime follows it.
    std::tm local{};
    if (!korvo::host::LocalTime(static_cast<int64_t>(*seconds), &local))
        return 0;
    return std::strftime(buffer, size, "%Y/%m/%d %H:%M:%S ", &local);
}
}
