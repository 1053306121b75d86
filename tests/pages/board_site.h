// The board site builder, shared by the page tests.
#pragma once
#include "board.h"
