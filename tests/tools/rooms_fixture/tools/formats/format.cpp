// Fixture for check_rooms.cmake: an include up a floor, relative to itself,
// and one down, which is allowed.
#include "../cli/roof.h"
#include "../common/floor.h"
