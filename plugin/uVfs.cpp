#include "uVfs.h"
