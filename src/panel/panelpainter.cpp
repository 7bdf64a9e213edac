#include "panelpainter.h"
