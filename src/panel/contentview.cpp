#include "contentview.h"
