#pragma once
  #  include <codec/private.h>
#include "module/fine.h"
