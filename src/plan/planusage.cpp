#include "planusage.h"
