// Reaches a header through '..': refused.
#include "../sub/plain.hpp"
