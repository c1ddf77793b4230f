#include "uIcons.h"
