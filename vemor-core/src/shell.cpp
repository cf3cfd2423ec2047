#include "vemor/shell.hpp"
