#include "sessionstats.h"
