// Placeholder until the TDS server lands.
#include "engine.h"
