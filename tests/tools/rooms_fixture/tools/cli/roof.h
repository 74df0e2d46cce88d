// Fixture for check_rooms.cmake: the roof may include every room.
#pragma once
#include "tools/common/floor.h"
