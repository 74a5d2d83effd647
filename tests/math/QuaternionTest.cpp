#include "math/Quaternion.h"

#include <gtest/gtest.h>
