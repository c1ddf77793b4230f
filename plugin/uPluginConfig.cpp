#include "uPluginConfig.h"
