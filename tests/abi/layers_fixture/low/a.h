#pragma once
#include "runtime/korvo_export.h"
