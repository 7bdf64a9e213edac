#include "roundedshape.h"
