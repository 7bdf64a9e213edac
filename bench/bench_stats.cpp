#include "benchcommands.h"
