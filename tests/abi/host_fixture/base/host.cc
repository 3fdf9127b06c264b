// A host layer may include the host's headers.
#include <sys/stat.h>
#include <unistd.h>
