// The data directory of the store tests.
#pragma once
#include "board.h"
