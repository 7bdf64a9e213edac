#include "sevensegmentdigit.h"
