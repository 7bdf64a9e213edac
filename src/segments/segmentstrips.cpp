#include "segmentstrips.h"
