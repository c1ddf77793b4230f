#include "uRefreshTimer.h"
