#include "planusagefetcher.h"
