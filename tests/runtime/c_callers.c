/* Code written in C against the runtime's C headers, for the raising tests:
 * a raise unwinds through these C frames, and C code catches through the
 * adapter. */
#include <string.h>

#include "runtime/marshal.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.h"

int c_released;

static void count_release(void *block) {
    ++c_released;
    mg_free(block);
}

/* Takes a block, hands it to the frame, then fails with message 11. */
static void open_file(void *context) {
    char *copy = mg_strdup((const char *)context);
    ex_delegate(copy, count_release);
    vaThrow("Korvo2Catalog", 11, "Cannot open the file %1$s.\n", copy);
}

/* Raises through this C frame to a C++ caller. */
void c_raise_through(const char *path) {
    open_file((void *)path);
}

/* Catches in C; returns the message number and copies the text. */
int c_catch_number(const char *path, char *text, size_t size) {
    EhException *caught = eh_catch_call(open_file, (void *)path);
    int number;
    if (caught == NULL)
        return -1;
    number = eh_exception_number(caught);
    strncpy(text, eh_exception_text(caught), size - 1);
    text[size - 1] = '\0';
    if (!eh_exception_is_a(caught, EH_ERROR_CHAIN))
        number = -2;
    eh_exception_free(caught);
    return number;
}
