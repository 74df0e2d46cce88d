// Fixture for check_rooms.cmake: the floor reaching up to the roof.
#pragma once
#include "tools/cli/roof.h"
