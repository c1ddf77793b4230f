#include "uIpcClient.h"
