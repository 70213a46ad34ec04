#include "harness/ServerLaunch.h"  // every launched server lives there
