// KesFilePrintf: formatted text into a bounded buffer, then one KesFileWrite.
#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "kes/kes_block.hpp"
#include "kes/kes_file.h"
#include "kes/kes_format.hpp"
#include "kes/kes_status.hpp"

using korvo::kes::FillStatus;

extern "C" {

KesStatus *KesFilePrintf(KesStatus *status, KesFile file, size_t *written, const char *format,
                         ...) {
    if (written != nullptr)
        *written = 0;
    if (file == nullptr || format == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    const korvo::kes::KesText host = korvo::kes::HostFormat(format);
    const korvo::kes::KesText text(static_cast<char *>(KesMemoryMalloc(KES_FILE_PRINTF_SIZE)));
    if (!host || !text)
        return FillStatus(status, KES_NO_MEMORY, 0, 2);
    va_list args;
    va_start(args, format);
    errno = 0;
    const int length = std::vsnprintf(text.get(), KES_FILE_PRINTF_SIZE, host.get(), args);
    va_end(args);
    if (length < 0)
        return korvo::kes::SystemError(status, 1);
    if (length >= KES_FILE_PRINTF_SIZE)
        return FillStatus(status, KES_TOO_LONG_OUTPUT, 0, 1);
    return KesFileWrite(status, file, text.get(), static_cast<size_t>(length), written);
}
}
