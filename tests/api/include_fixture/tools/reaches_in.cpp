// The include checker must find both includes below.
#include "g729a.h"
#include "../codec/private.h"
