#include "credentialstore.h"
