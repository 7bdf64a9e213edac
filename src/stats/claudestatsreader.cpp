#include "claudestatsreader.h"
