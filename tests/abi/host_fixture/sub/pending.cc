// A file named as pending may include the host's headers for now.
#include <unistd.h>
