#include "panelcontent.h"
