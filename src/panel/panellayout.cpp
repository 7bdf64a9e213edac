#include "panellayout.h"
